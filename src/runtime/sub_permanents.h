#pragma once

#include <complex>

#include <Eigen/Core>

#include "runtime/matrix.h"

// All n+1 permanents of the n x n matrices left when one row of an (n+1) x n matrix is deleted,
// in one pass over Glynn's sign vectors. `a` holds the n+1 rows packed row after row; out[k]
// receives the permanent without row k. Polls the interrupt flag at every step and then throws
// KeyboardInterruptException. n must lie in [0, 63] (std::invalid_argument otherwise).
// T is double, std::complex<double> or std::complex<float> (computed in single precision).
template <typename T>
void sub_permanents(const T* a, int n, T* out);

// Clear the interrupt flag and catch SIGINT for the duration of the call, then check that the
// matrix is (n+1) x n.
Eigen::VectorXd sub_permanents_fl(const MatrixView<double>& matrix);
Eigen::VectorXcd sub_permanents_cx(const MatrixView<std::complex<double>>& matrix);
