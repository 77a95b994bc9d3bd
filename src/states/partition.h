#pragma once

#include <vector>

#include "states/fock_state.h"

namespace Utils {

// Every distinct way to split the photons of `state` into states of the given photon counts, one
// state per size, each over the modes of `state`; in the iteration order of a hash set of ways.
// A negative size throws std::length_error; a size of 0 or more photons than are left gives none.
// Polls the interrupt flag (InterruptSignalHandler::Poll): the number of ways grows factorially.
std::vector<std::vector<FockState>> partition(FockState const& state,
                                              std::vector<int> const& sizes);

}  // namespace Utils
