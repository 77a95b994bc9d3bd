#pragma once

#include <complex>

#include "runtime/matrix_view.h"

namespace Backend {

// The unitary every back-end takes: element (j, k) carries a photon from input mode k to output
// mode j.
using Matrix = RowMatrix<std::complex<double>>;

}  // namespace Backend
