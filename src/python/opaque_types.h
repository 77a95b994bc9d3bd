#pragma once

#include <pybind11/pybind11.h>

#include "fockspace/sample_containers.h"

// Bound as BSSamples and BSCount: every binding file must see this before it converts a vector
// of states or a count map, or that file would convert them to a Python list or dict instead.
PYBIND11_MAKE_OPAQUE(BSSamples)
PYBIND11_MAKE_OPAQUE(BSCount)
