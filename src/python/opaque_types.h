#pragma once

#include <vector>

#include <pybind11/pybind11.h>

#include "states/fock_state.h"

// Bound as BSSamples: every binding file must see this before it converts a vector of states,
// or that file would convert it to a Python list instead.
PYBIND11_MAKE_OPAQUE(std::vector<FockState>)
