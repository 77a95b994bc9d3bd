#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "backends/slap_walker.h"
#include "fockspace/fs_mask.h"

namespace Backend {

// Visits every output state once as a leaf, like the naive walk, but through the internal nodes
// of a Steiner group only: a node of a given shape raises modes to the occupations its row lists.
// Among the modes of a leaf holding b photons the largest is raised last, which makes each leaf's
// parent unique. Leaves are not met in order; their indices are computed. For 2 <= n <= 14.
class SLAPSteinerWalker {
  public:
    struct Operation {
        int mode;
        int occupation;  // before the step
        int descend;     // 1: a photon is added; 0: it is removed again
    };

    // The mask is not used.
    SLAPSteinerWalker(int m, int n, std::optional<FsMask> = std::nullopt);

    bool complete() const { return stack_.empty(); }
    int getMode() const { return current_.mode; }
    int getDegree() const { return degree_; }
    std::vector<int> const& getState() const { return state_; }
    bool isOnLeaf() const { return degree_ == n_; }
    std::size_t getResultIndex() const;
    std::size_t getFinalSize() const;
    void computeNextNode();

  private:
    void generateSteinerMap();
    void unlink(int mode, int k);
    void relink(int mode, int k);
    void insertHead(int mode, int k);
    void addNextOperation();
    int shapeIndex() const;
    std::size_t at(int k, int mode) const {
        return static_cast<std::size_t>(k) * static_cast<std::size_t>(m_) +
               static_cast<std::size_t>(mode);
    }

    int m_;
    int n_;
    std::vector<int> state_;
    std::vector<std::vector<int>> steiner_map_;
    std::deque<Operation> stack_;
    std::vector<int> partitions_;
    std::vector<int> offsets_;
    std::vector<int> counts_;
    std::vector<int> previous_;
    std::vector<int> next_;
    std::vector<int> heads_;
    int degree_ = 0;
    std::vector<long long> combinations_;
    Operation current_{0, 0, 0};
};

static_assert(SLAPWalker<SLAPSteinerWalker>);

}  // namespace Backend
