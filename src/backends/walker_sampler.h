#pragma once

#include <cstddef>
#include <vector>

namespace Backend {

// The walk of the SLAP sampler over ordered output sequences: every node has m children, one per
// output mode, entered in increasing mode; the walk never goes below degree n - 1, where samples
// take their last photon, and leaves at once a node that received no sample.
class WalkerSampler {
  public:
    // level_counts is the sampler's: entry t * m + i holds what the latest dispatch at degree t
    // sent to child i. Starts on the node whose first photon is in mode 0.
    WalkerSampler(int m, int n, std::vector<int> const& level_counts)
        : m_(m),
          n_(n),
          path_(static_cast<std::size_t>(n), 0),
          state_(static_cast<std::size_t>(m), 0),
          level_counts_(level_counts) {
        state_[0] = 1;
    }

    bool complete() const { return degree_ == 0; }
    int getMode() const { return path_[static_cast<std::size_t>(degree_ - 1)]; }
    int getDegree() const { return degree_; }
    std::vector<int> const& getState() const { return state_; }
    // The current node received no sample.
    bool flag() const {
        return degree_ >= 1 &&
               level_counts_[static_cast<std::size_t>((degree_ - 1) * m_ + getMode())] == 0;
    }
    bool isOnLeaf() const { return degree_ == n_ - 1 && !flag(); }
    // The sampler computes the indices of the states it collects.
    std::size_t getResultIndex() const { return 0; }

    void computeNextNode() {
        while (next_mode_ >= m_ || degree_ == n_ - 1 || flag()) {
            if (complete()) return;
            const int last = path_[static_cast<std::size_t>(degree_ - 1)];
            --degree_;
            next_mode_ = last + 1;
            --state_[static_cast<std::size_t>(last)];
        }
        path_[static_cast<std::size_t>(degree_)] = next_mode_;
        ++state_[static_cast<std::size_t>(next_mode_)];
        ++degree_;
        next_mode_ = 0;
    }

  private:
    int m_;
    int n_;
    std::vector<int> path_;
    int next_mode_ = 0;
    int degree_ = 1;
    std::vector<int> state_;
    std::vector<int> const& level_counts_;
};

}  // namespace Backend
