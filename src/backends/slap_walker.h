#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <vector>

#include "fockspace/fs_mask.h"

namespace Backend {

// What a SLAP walk needs of a walker: it visits the nodes of a tree whose leaves are the output
// states of m modes and n photons, one photon placed per level, and numbers the leaves. Each node
// must be visited right after a node that holds it minus the photon of its mode, with no node of
// the same degree in between, so that the coefficients of that parent are still in the table.
template <typename W>
concept SLAPWalker = std::constructible_from<W, int, int, std::optional<FsMask>> &&
    requires(W walker, W const& cwalker) {
    { cwalker.complete() } -> std::same_as<bool>;
    // The mode of the photon placed last, and the photons placed.
    { cwalker.getMode() } -> std::same_as<int>;
    { cwalker.getDegree() } -> std::same_as<int>;
    { cwalker.getState() } -> std::same_as<std::vector<int> const&>;
    { cwalker.isOnLeaf() } -> std::same_as<bool>;
    // Called once per leaf: where its amplitude goes.
    { walker.getResultIndex() } -> std::same_as<std::size_t>;
    { cwalker.getFinalSize() } -> std::same_as<std::size_t>;
    walker.computeNextNode();
};

// The plain pre-order walk: a node is a non-decreasing sequence of output modes, its children
// extend it by one mode not below its last, in increasing order. Leaves come in natural order
// and are numbered as they come.
class SLAPWalkerNaive {
  public:
    // The mask is not used. Starts on the first node, one photon in mode 0; with no mode or no
    // photon there is no node, and the walker starts complete.
    SLAPWalkerNaive(int m, int n, std::optional<FsMask> = std::nullopt)
        : m_(m),
          n_(n),
          path_(static_cast<std::size_t>(n), 0),
          state_(static_cast<std::size_t>(m), 0) {
        if (m > 0 && n > 0) goDown();
    }

    bool complete() const { return degree_ == 0; }
    int getMode() const { return mode_; }
    int getDegree() const { return degree_; }
    std::vector<int> const& getState() const { return state_; }
    bool isOnLeaf() const { return degree_ == n_; }
    std::size_t getResultIndex() { return leaves_++; }
    std::size_t getFinalSize() const { return leaves_; }

    void computeNextNode() {
        while (mode_ >= m_ || degree_ == n_) {
            if (complete()) return;
            goUp();
        }
        goDown();
    }

  protected:
    void goDown() {
        path_[static_cast<std::size_t>(degree_)] = mode_;
        ++degree_;
        ++state_[static_cast<std::size_t>(mode_)];
    }
    // Back to the parent, on the way to its next child.
    void goUp() {
        --degree_;
        const int last = path_[static_cast<std::size_t>(degree_)];
        --state_[static_cast<std::size_t>(last)];
        mode_ = last + 1;
    }

    int m_;
    int n_;
    std::vector<int> path_;
    int mode_ = 0;
    int degree_ = 0;
    std::vector<int> state_;
    std::size_t leaves_ = 0;
};

static_assert(SLAPWalker<SLAPWalkerNaive>);

}  // namespace Backend
