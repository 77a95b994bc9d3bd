#include "circuits/beam_splitter.h"

#include <complex>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "circuits/parameter.h"
#include "test_support.h"

namespace {

using namespace Circuit;
using circuit_test::cx;
using circuit_test::expect_near;
using circuit_test::expi;
using circuit_test::pi;
using Symb::Parameter;
using test_support::expect_throw_message;

using Maker = std::function<std::shared_ptr<ABeamSplitter>(double)>;

template <typename T>
Maker maker() {
    return [](double theta) { return std::make_shared<T>(theta); };
}

template <typename T>
std::shared_ptr<ABeamSplitter> with_params(std::shared_ptr<Parameter> theta,
                                           std::shared_ptr<Parameter> tl,
                                           std::shared_ptr<Parameter> bl,
                                           std::shared_ptr<Parameter> tr,
                                           std::shared_ptr<Parameter> br) {
    return std::make_shared<T>(theta, tl, bl, tr, br);
}

std::shared_ptr<Parameter> value(double v) {
    return std::make_shared<Parameter>(v);
}

Matrix mat2(cx a, cx b, cx c, cx d) {
    Matrix u(2, 2);
    u << a, b, c, d;
    return u;
}

struct CoreCase {
    std::string name;
    Maker make;
    double theta;
    Matrix expected;
};

class BeamSplitterCoreTest : public ::testing::TestWithParam<CoreCase> {};

TEST_P(BeamSplitterCoreTest, UnitaryWithoutPhasesIsTheCore) {
    const CoreCase& c = GetParam();
    auto bs = c.make(c.theta);
    expect_near(bs->getCoreUnitary(), c.expected);
    expect_near(bs->unitary(), c.expected);
    EXPECT_EQ(bs->m, 2u);
}

const double s45 = std::sqrt(0.5);

INSTANTIATE_TEST_SUITE_P(
    Cases, BeamSplitterCoreTest,
    ::testing::Values(
        CoreCase{"Rx_zero_is_identity", maker<BeamSplitter_Rx>(), 0.0, Matrix::Identity(2, 2)},
        CoreCase{"Rx_pi_swaps_with_i", maker<BeamSplitter_Rx>(), pi,
                 mat2(0, cx(0, 1), cx(0, 1), 0)},
        CoreCase{"Rx_half_pi", maker<BeamSplitter_Rx>(), pi / 2,
                 mat2(s45, cx(0, s45), cx(0, s45), s45)},
        CoreCase{"Ry_zero_is_identity", maker<BeamSplitter_Ry>(), 0.0, Matrix::Identity(2, 2)},
        CoreCase{"Ry_half_pi_rotates_by_quarter_pi", maker<BeamSplitter_Ry>(), pi / 2,
                 mat2(s45, -s45, s45, s45)},
        CoreCase{"Ry_pi", maker<BeamSplitter_Ry>(), pi, mat2(0, -1, 1, 0)},
        CoreCase{"H_zero_is_a_reflection", maker<BeamSplitter_H>(), 0.0, mat2(1, 0, 0, -1)},
        CoreCase{"H_half_pi", maker<BeamSplitter_H>(), pi / 2, mat2(s45, s45, s45, -s45)},
        CoreCase{"H_pi", maker<BeamSplitter_H>(), pi, mat2(0, 1, 1, 0)}),
    [](auto const& info) { return info.param.name; });

struct ConventionCase {
    std::string name;
    Maker make;
    std::string convention;
    // Determinant of the core at any angle.
    cx det;
};

class BeamSplitterConventionTest : public ::testing::TestWithParam<ConventionCase> {};

TEST_P(BeamSplitterConventionTest, CoreHasTheConventionsDeterminantAtEveryAngle) {
    const ConventionCase& c = GetParam();
    for (double theta : {-2.0, 0.0, 0.3, 1.0, pi, 5.0}) {
        const Matrix u = c.make(theta)->unitary();
        EXPECT_NEAR(std::abs(u.determinant() - c.det), 0.0, 1e-12) << "theta " << theta;
        EXPECT_TRUE(is_unitary(u, 1e-12));
    }
    EXPECT_EQ(c.make(0.0)->convention(), c.convention);
}

TEST_P(BeamSplitterConventionTest, PhasesFrameTheCore) {
    // diag(e^(i tr), e^(i br)) C diag(e^(i tl), e^(i bl)), as an independent product.
    const ConventionCase& c = GetParam();
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> angle(-2 * pi, 2 * pi);
    for (int trial = 0; trial < 20; ++trial) {
        const double theta = angle(rng), tl = angle(rng), bl = angle(rng), tr = angle(rng),
                     br = angle(rng);
        auto bs = c.make(theta);
        Matrix core = bs->getCoreUnitary();
        Matrix left = Matrix::Zero(2, 2), right = Matrix::Zero(2, 2);
        left(0, 0) = expi(tl);
        left(1, 1) = expi(bl);
        right(0, 0) = expi(tr);
        right(1, 1) = expi(br);
        std::shared_ptr<ABeamSplitter> framed;
        if (c.convention == "Rx")
            framed = with_params<BeamSplitter_Rx>(value(theta), value(tl), value(bl), value(tr),
                                                  value(br));
        else if (c.convention == "Ry")
            framed = with_params<BeamSplitter_Ry>(value(theta), value(tl), value(bl), value(tr),
                                                  value(br));
        else
            framed = with_params<BeamSplitter_H>(value(theta), value(tl), value(bl), value(tr),
                                                 value(br));
        expect_near(framed->unitary(), right * core * left);
    }
}

INSTANTIATE_TEST_SUITE_P(Conventions, BeamSplitterConventionTest,
                         ::testing::Values(ConventionCase{"Rx", maker<BeamSplitter_Rx>(), "Rx", 1},
                                           ConventionCase{"Ry", maker<BeamSplitter_Ry>(), "Ry", 1},
                                           ConventionCase{"H", maker<BeamSplitter_H>(), "H", -1}),
                         [](auto const& info) { return info.param.name; });

TEST(BeamSplitter, SinglePhasesActOnTheirRowOrColumn) {
    const double phi = 0.7;
    const Matrix core = BeamSplitter_Rx(1.1).unitary();
    // Only phi_tr: the first output row turns by phi.
    Matrix expected = core;
    expected.row(0) *= expi(phi);
    expect_near(BeamSplitter_Rx(value(1.1), value(0), value(0), value(phi), value(0)).unitary(),
                expected);
    // Only phi_tl: the first input column turns by phi.
    expected = core;
    expected.col(0) *= expi(phi);
    expect_near(BeamSplitter_Rx(value(1.1), value(phi), value(0), value(0), value(0)).unitary(),
                expected);
}

TEST(BeamSplitter, ParametersSitAtTheirLocations) {
    auto theta = value(1), tl = value(2), bl = value(3), tr = value(4), br = value(5);
    const BeamSplitter_Ry bs(theta, tl, bl, tr, br);
    EXPECT_EQ(bs.theta(), theta);
    EXPECT_EQ(bs.phi(ABeamSplitter::TopLeft), tl);
    EXPECT_EQ(bs.phi(ABeamSplitter::BottomLeft), bl);
    EXPECT_EQ(bs.phi(ABeamSplitter::TopRight), tr);
    EXPECT_EQ(bs.phi(ABeamSplitter::BottomRight), br);
    EXPECT_EQ(bs.parameters().size(), 5u);
    EXPECT_EQ(bs.describe(), "BeamSplitter_Ry(1,2,3,4,5)");
}

struct TextCase {
    std::string name;
    std::function<std::shared_ptr<ABeamSplitter>()> make;
    std::string text;
};

class BeamSplitterTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(BeamSplitterTextTest, Describes) {
    EXPECT_EQ(GetParam().make()->describe(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BeamSplitterTextTest,
    ::testing::Values(TextCase{"Rx_angle_only",
                               [] { return std::make_shared<BeamSplitter_Rx>(1.5707963); },
                               "BeamSplitter_Rx(1.5708,0,0,0,0)"},
                      TextCase{"Ry_zero", [] { return std::make_shared<BeamSplitter_Ry>(0.0); },
                               "BeamSplitter_Ry(0,0,0,0,0)"},
                      TextCase{"H_variables",
                               [] {
                                   return with_params<BeamSplitter_H>(
                                       std::make_shared<Parameter>("theta"),
                                       std::make_shared<Parameter>(), value(0.5),
                                       std::make_shared<Parameter>("phi"), value(-1));
                               },
                               "BeamSplitter_H(\"theta\",,0.5,\"phi\",-1)"}),
    [](auto const& info) { return info.param.name; });

TEST(BeamSplitter, UnitaryNeedsEveryValue) {
    auto theta = std::make_shared<Parameter>("theta");
    auto phi = std::make_shared<Parameter>();
    BeamSplitter_Rx bs(theta, value(0), value(0), phi, value(0));
    EXPECT_EQ(bs.variableCount(), 2u);
    expect_throw_message<std::runtime_error>([&] { (void)bs.unitary(); }, "Parameter has no value");
    bs.setVariableValue("theta", pi);
    expect_throw_message<std::runtime_error>([&] { (void)bs.unitary(); }, "Parameter has no value");
    bs.setVariableValue(phi->name(), pi / 2);
    expect_near(bs.unitary(), mat2(0, -1, cx(0, 1), 0));
    EXPECT_EQ(bs.variableCount(), 0u);
}

TEST(BeamSplitter, CopyHasFreshParameters) {
    auto theta = std::make_shared<Parameter>("theta");
    auto tl = std::make_shared<Parameter>();
    auto bl = std::make_shared<Parameter>();
    auto tr = value(0.25);
    auto br = std::make_shared<Parameter>("theta");
    const BeamSplitter_H source(theta, tl, bl, tr, br);
    EXPECT_EQ(source.variableManager().symbolCount(), 3u);

    auto copy = std::dynamic_pointer_cast<BeamSplitter_H>(source.clone());
    ASSERT_NE(copy, nullptr);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_NE(copy->parameters()[i], source.parameters()[i]);
    EXPECT_EQ(copy->theta()->name(), "theta");
    EXPECT_EQ(copy->phi(ABeamSplitter::BottomRight)->name(), "theta");
    EXPECT_NE(copy->phi(ABeamSplitter::TopLeft)->name(), tl->name());
    EXPECT_TRUE(copy->phi(ABeamSplitter::TopLeft)->isAnonymous());
    EXPECT_EQ(copy->phi(ABeamSplitter::TopRight)->value(), 0.25);
    EXPECT_EQ(copy->variableManager().symbolCount(), 3u);

    copy->setAllVariableValues({1.0, 2.0, 3.0});
    EXPECT_FALSE(theta->hasValue());
    EXPECT_FALSE(tl->hasValue());
    EXPECT_FALSE(br->hasValue());
    EXPECT_EQ(copy->phi(ABeamSplitter::BottomRight)->value(), 1.0);
}

TEST(BeamSplitter, RefusesEmptyParameterPointers) {
    EXPECT_THROW(BeamSplitter_Rx(value(0), value(0), nullptr, value(0), value(0)),
                 std::invalid_argument);
    EXPECT_THROW(BeamSplitter_H(nullptr, value(0), value(0), value(0), value(0)),
                 std::invalid_argument);
}

}  // namespace
