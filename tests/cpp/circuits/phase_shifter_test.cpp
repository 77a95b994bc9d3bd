#include "circuits/phase_shifter.h"

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "circuits/parameter.h"
#include "test_support.h"

namespace {

using Circuit::PhaseShifter;
using circuit_test::expi;
using circuit_test::pi;
using Symb::Parameter;
using test_support::expect_throw_message;

class PhaseShifterTest : public ::testing::TestWithParam<double> {};

TEST_P(PhaseShifterTest, UnitaryIsTheOneByOnePhase) {
    const PhaseShifter ps(GetParam());
    const Matrix u = ps.unitary();
    ASSERT_EQ(u.rows(), 1);
    ASSERT_EQ(u.cols(), 1);
    EXPECT_NEAR(std::abs(u(0, 0) - expi(GetParam())), 0.0, 1e-15);
    EXPECT_EQ(ps.m, 1u);
}

INSTANTIATE_TEST_SUITE_P(Phases, PhaseShifterTest,
                         ::testing::Values(0.0, pi / 2, pi, -pi / 3, 7.5));

TEST(PhaseShifter, ZeroIsTheIdentityAndPrintsZero) {
    const PhaseShifter ps(0.0);
    EXPECT_EQ(ps.unitary(), Matrix::Identity(1, 1));
    EXPECT_EQ(ps.describe(), "PhaseShifter(0)");
}

TEST(PhaseShifter, VariablePhase) {
    auto phi = std::make_shared<Parameter>("phi");
    PhaseShifter ps(phi);
    EXPECT_EQ(ps.phi(), phi);
    EXPECT_EQ(ps.describe(), "PhaseShifter(\"phi\")");
    EXPECT_EQ(ps.variableCount(), 1u);
    expect_throw_message<std::runtime_error>([&] { (void)ps.unitary(); }, "Parameter has no value");
    ps.setVariableValue("phi", pi);
    EXPECT_NEAR(ps.unitary()(0, 0).real(), -1.0, 1e-15);
    EXPECT_EQ(ps.describe(), "PhaseShifter(3.14159)");
    EXPECT_EQ(PhaseShifter(std::make_shared<Parameter>()).describe(), "PhaseShifter()");
}

TEST(PhaseShifter, CopyHasAFreshParameter) {
    auto phi = std::make_shared<Parameter>();
    const PhaseShifter source(phi);
    auto copy = std::dynamic_pointer_cast<PhaseShifter>(source.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->phi(), phi);
    EXPECT_NE(copy->phi()->name(), phi->name());
    copy->setAllVariableValues({1.0});
    EXPECT_FALSE(phi->hasValue());
}

TEST(PhaseShifter, RefusesAnEmptyParameterPointer) {
    EXPECT_THROW(PhaseShifter(std::shared_ptr<Parameter>()), std::invalid_argument);
}

}  // namespace
