#pragma once

#include <optional>
#include <stdexcept>
#include <utility>

#include "backends/slap_walker.h"
#include "fockspace/fs_mask.h"

namespace Backend {

// The naive walk without the subtrees a mask can no longer accept: a node the mask refuses is
// left at once. The accepted leaves keep their natural order and are numbered 0, 1, 2...
class SLAPWalkerFiltered : public SLAPWalkerNaive {
  public:
    // The mask is required; one whose mode count is not m throws on the first node.
    SLAPWalkerFiltered(int m, int n, std::optional<FsMask> mask)
        : SLAPWalkerNaive(m, n), mask_(take(std::move(mask))) {
        if (degree_ > 0) {
            degree_ = 0;
            state_[0] = 0;
        }
        computeNextNode();
    }

    void computeNextNode() {
        for (;;) {
            if (mode_ < m_ && degree_ < n_) {
                goDown();
                if (mask_.inner_match_incomplete_state(state_, degree_)) return;
            } else if (complete()) {
                return;
            }
            goUp();
        }
    }

  private:
    static FsMask take(std::optional<FsMask>&& mask) {
        if (!mask) throw std::invalid_argument("The filtered SLAP walk needs a mask");
        return std::move(*mask);
    }

    FsMask mask_;
};

static_assert(SLAPWalker<SLAPWalkerFiltered>);

}  // namespace Backend
