#pragma once

#include <cmath>
#include <complex>
#include <random>

#include <Eigen/QR>

#include "runtime/matrix.h"

namespace test_support {

// Haar-random: the Q factor of a complex Gaussian matrix, with the phases of R's diagonal moved
// into Q (without them Q is not uniformly distributed).
inline Matrix haar_unitary(int m, std::mt19937& engine) {
    std::normal_distribution<double> normal;
    Matrix z(m, m);
    for (auto& x : z.reshaped()) x = std::complex<double>(normal(engine), normal(engine));
    Eigen::HouseholderQR<Matrix> qr(z);
    Matrix q = qr.householderQ();
    for (int j = 0; j < m; ++j) q.col(j) *= qr.matrixQR()(j, j) / std::abs(qr.matrixQR()(j, j));
    return q;
}

inline Matrix haar_unitary(int m, unsigned seed) {
    std::mt19937 engine(seed);
    return haar_unitary(m, engine);
}

}  // namespace test_support
