#include "circuits/unitary.h"

#include <complex>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "test_support.h"

namespace {

using Circuit::Unitary;
using circuit_test::cx;
using circuit_test::haar_unitary;
using circuit_test::UnitaryPrecision;
using test_support::expect_throw_message;

const std::string not_unitary = "Matrix must be unitary and not null";
const std::string odd_polarisation = "Polarization matrix should have an even number of rows/col";

Matrix random(int n, unsigned seed) {
    std::mt19937 rng(seed);
    return haar_unitary(n, rng);
}

struct BuildCase {
    std::string name;
    Matrix u;
    bool polarised;
    // Empty when accepted.
    std::string error;
    unsigned modes;
};

class UnitaryBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(UnitaryBuildTest, ValidatesUnitarityThenPolarisation) {
    const BuildCase& c = GetParam();
    if (!c.error.empty()) {
        expect_throw_message<std::invalid_argument>([&] { Unitary(c.u, "u", c.polarised); },
                                                    c.error);
        return;
    }
    const Unitary u(c.u, "u", c.polarised);
    EXPECT_EQ(u.m, c.modes);
    EXPECT_EQ(u.unitary(), c.u);
    EXPECT_EQ(u.supportsPolarization(), c.polarised);
    EXPECT_TRUE(u.parameters().empty());
    EXPECT_EQ(u.variableCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnitaryBuildTest,
    ::testing::Values(BuildCase{"random_3", random(3, 1), false, "", 3},
                      BuildCase{"identity_1", Matrix::Identity(1, 1), false, "", 1},
                      BuildCase{"polarised_4_has_2_modes", random(4, 2), true, "", 2},
                      BuildCase{"polarised_odd", random(3, 3), true, odd_polarisation, 0},
                      // Unitarity is tested first, whatever the polarisation.
                      BuildCase{"not_unitary_polarised_odd", Matrix::Ones(3, 3), true, not_unitary,
                                0},
                      BuildCase{"not_unitary", Matrix::Ones(2, 2) / 2.0, false, not_unitary, 0},
                      BuildCase{"empty", Matrix(0, 0), false, not_unitary, 0},
                      BuildCase{"no_columns", Matrix(3, 0), false, not_unitary, 0},
                      BuildCase{"wide", Matrix::Identity(2, 3), false, not_unitary, 0}),
    [](auto const& info) { return info.param.name; });

TEST(Unitary, ToleranceIsReadAtConstructionAndAtCopy) {
    Matrix u = Matrix::Identity(2, 2);
    u(0, 0) = std::sqrt(1.0 + 1e-5);
    std::shared_ptr<Unitary> loose;
    {
        UnitaryPrecision precision(1e-4);
        loose = std::make_shared<Unitary>(u, "loose", false);
        EXPECT_NE(loose->clone(), nullptr);
    }
    expect_throw_message<std::invalid_argument>([&] { Unitary(u, "strict", false); }, not_unitary);
    expect_throw_message<std::invalid_argument>([&] { (void)loose->clone(); }, not_unitary);
}

TEST(Unitary, CopyKeepsMatrixNameAndFlag) {
    const Matrix m = random(4, 5);
    const Unitary source(m, "name with \"quotes\"", true);
    auto copy = std::dynamic_pointer_cast<Unitary>(source.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->unitary(), m);
    EXPECT_EQ(copy->getName(), "name with \"quotes\"");
    EXPECT_TRUE(copy->supportsPolarization());
    EXPECT_EQ(copy->m, 2u);
}

TEST(Unitary, DescribesWithTheMatrixInEigensFormat) {
    Matrix u(2, 2);
    u << 0, cx(0, 1), 1, 0;
    EXPECT_EQ(Unitary(u, "swap", false).describe(),
              "Unitary(ComplexMatrix((0,0) (0,1)\n(1,0) (0,0)), \"swap\", false)");
    EXPECT_EQ(Unitary(Matrix::Identity(2, 2), "", true).describe(),
              "Unitary(ComplexMatrix((1,0) (0,0)\n(0,0) (1,0)), \"\", true)");
    Matrix h(2, 2);
    h << 1, 1, 1, -1;
    h /= std::sqrt(2.0);
    EXPECT_EQ(Unitary(h, "h", false).describe(),
              "Unitary(ComplexMatrix( (0.707107,0)  (0.707107,0)\n (0.707107,0) (-0.707107,0)), "
              "\"h\", false)");
}

}  // namespace
