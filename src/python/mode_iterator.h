#pragma once

#include "states/fock_state.h"

namespace Python {

// The iterator behind ModeIterator: yields the per-mode photon counts of a state. It reads its
// own copy of the state, so an in-place product on the source object cannot pull the bytes away
// mid-iteration.
struct mode_iterator {
    explicit mode_iterator(FockState const& source) : state(source) {}

    FockState state;
    int current = 0;  // next photon not yet consumed
    int mode = 0;     // next mode to report
};

}  // namespace Python
