#pragma once

#include <unordered_map>
#include <vector>

#include <pybind11/pybind11.h>

#include "states/fock_state.h"

// Bound as BSSamples and BSCount: every binding file must see this before it converts a vector
// of states or a count map, or that file would convert them to a Python list or dict instead.
PYBIND11_MAKE_OPAQUE(std::vector<FockState>)
PYBIND11_MAKE_OPAQUE(std::unordered_map<FockState, unsigned long>)
