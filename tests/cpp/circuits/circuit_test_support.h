#pragma once

#include <cmath>
#include <complex>
#include <random>

#include <gtest/gtest.h>

#include <Eigen/LU>
#include <Eigen/QR>

#include "haar_unitary.h"
#include "runtime/config.h"
#include "runtime/matrix.h"

// Helpers shared by the circuit tests.
namespace circuit_test {

using cx = std::complex<double>;

inline constexpr double pi = 3.14159265358979323846;

inline cx expi(double phi) {
    return std::polar(1.0, phi);
}

using test_support::haar_unitary;

inline void expect_near(const Matrix& actual, const Matrix& expected, double tolerance = 1e-12) {
    ASSERT_EQ(actual.rows(), expected.rows());
    ASSERT_EQ(actual.cols(), expected.cols());
    EXPECT_LE((actual - expected).cwiseAbs().maxCoeff(), tolerance) << "actual:\n"
                                                                    << actual << "\nexpected:\n"
                                                                    << expected;
}

// Sets config.unitary_check_precision for the scope of a test.
class UnitaryPrecision {
  public:
    explicit UnitaryPrecision(double precision) : saved_(config.unitary_check_precision) {
        config.unitary_check_precision = precision;
    }
    ~UnitaryPrecision() { config.unitary_check_precision = saved_; }

  private:
    double saved_;
};

}  // namespace circuit_test
