#include "runtime/matrix.h"

#include <cmath>
#include <complex>
#include <string>

#include <gtest/gtest.h>

namespace {

using cx = std::complex<double>;

struct UnitarityCase {
    std::string name;
    Matrix u;
    double precision;
    bool unitary;
};

Matrix beam_splitter() {
    Matrix u(2, 2);
    u << 1, cx(0, 1), cx(0, 1), 1;
    return u / std::sqrt(2.0);
}

// Column 0 scaled so that its squared norm is 1 + excess.
Matrix stretched(double excess) {
    Matrix u = Matrix::Identity(3, 3);
    u(0, 0) = std::sqrt(1.0 + excess);
    return u;
}

// Unit columns whose scalar product is `overlap`.
Matrix skewed(double overlap) {
    Matrix u = Matrix::Identity(3, 3);
    u(0, 1) = cx(0, overlap);
    u(1, 1) = std::sqrt(1.0 - overlap * overlap);
    return u;
}

class IsUnitaryTest : public ::testing::TestWithParam<UnitarityCase> {};

TEST_P(IsUnitaryTest, TestsTheColumnsAgainstThePrecision) {
    const UnitarityCase& c = GetParam();
    EXPECT_EQ(is_unitary(c.u, c.precision), c.unitary);
    // A strided view gives the same answer as the matrix it shows.
    Matrix padded = Matrix::Zero(c.u.rows(), c.u.cols() + 2);
    padded.leftCols(c.u.cols()) = c.u;
    const MatrixView<cx> view = padded.leftCols(c.u.cols());
    EXPECT_EQ(is_unitary(view, c.precision), c.unitary);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsUnitaryTest,
    ::testing::Values(UnitarityCase{"identity", Matrix::Identity(4, 4), 1e-12, true},
                      UnitarityCase{"beam_splitter", beam_splitter(), 1e-12, true},
                      UnitarityCase{"permutation", Matrix{{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, 1e-12,
                                    true},
                      UnitarityCase{"ones", Matrix::Ones(2, 2), 1e-6, false},
                      UnitarityCase{"zero", Matrix::Zero(2, 2), 1e-6, false},
                      UnitarityCase{"scaled", Matrix::Identity(2, 2) * 2.0, 1e-6, false},
                      // Columns are what is tested: a tall matrix with orthonormal columns passes,
                      // a wide one cannot have orthonormal columns.
                      UnitarityCase{"tall_orthonormal", Matrix::Identity(3, 2), 1e-12, true},
                      UnitarityCase{"wide", Matrix::Identity(2, 3), 1e-6, false},
                      UnitarityCase{"tall_not_orthonormal", Matrix::Ones(3, 2), 1e-6, false},
                      UnitarityCase{"empty", Matrix(0, 0), 1e-6, true},
                      UnitarityCase{"norm_inside", stretched(0.5e-6), 1e-6, true},
                      UnitarityCase{"norm_outside", stretched(2e-6), 1e-6, false},
                      UnitarityCase{"norm_below_inside", stretched(-0.5e-6), 1e-6, true},
                      UnitarityCase{"norm_below_outside", stretched(-2e-6), 1e-6, false},
                      UnitarityCase{"norm_coarse_precision", stretched(2e-6), 1e-4, true},
                      UnitarityCase{"overlap_inside", skewed(0.5e-6), 1e-6, true},
                      UnitarityCase{"overlap_outside", skewed(2e-6), 1e-6, false},
                      UnitarityCase{"overlap_coarse_precision", skewed(2e-6), 1e-4, true}),
    [](auto const& info) { return info.param.name; });

TEST(MatrixTest, IsUnitaryTakesEveryScalarAndExpression) {
    EXPECT_TRUE(is_unitary(RowMatrix<double>::Identity(3, 3), 1e-12));
    EXPECT_FALSE(is_unitary(RowMatrix<double>::Ones(3, 3), 1e-6));
    EXPECT_TRUE(is_unitary(RowMatrix<std::complex<float>>::Identity(2, 2), 1e-6));
    // Adjoints and products of unitaries stay unitary.
    const Matrix u = beam_splitter() * Matrix{{1, 0}, {0, cx(0.6, 0.8)}};
    EXPECT_TRUE(is_unitary(u.adjoint(), 1e-12));
    EXPECT_TRUE(is_unitary(u * u, 1e-12));
}

}  // namespace
