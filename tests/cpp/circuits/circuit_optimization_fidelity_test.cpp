#include "circuits/circuit_optimization_fidelity.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/circuit_optimizer_incompatibility.h"
#include "circuits/parameter.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "test_support.h"

namespace {

using namespace Circuit;
using circuit_test::cx;
using circuit_test::expect_near;
using circuit_test::haar_unitary;
using circuit_test::pi;
using Symb::Parameter;
using test_support::expect_throw_message;

using Composite = std::shared_ptr<CompositeCircuit>;

std::shared_ptr<Parameter> var(const std::string& name = "") {
    return std::make_shared<Parameter>(name);
}

std::shared_ptr<Parameter> val(double v) {
    return std::make_shared<Parameter>(v);
}

// A beam splitter with a free angle and the given fixed phases (tl, bl, tr, br).
template <typename T>
std::shared_ptr<ACircuit> variable_bs(double tl, double bl, double tr, double br) {
    return std::make_shared<T>(var(), val(tl), val(bl), val(tr), val(br));
}

std::shared_ptr<ACircuit> variable_ps() {
    return std::make_shared<PhaseShifter>(var());
}

// The fitness of the definition, from a unitary built by the circuit itself.
double reference_fitness(const Matrix& target, const Matrix& u, const std::vector<int>& kept) {
    cx s = 0;
    for (int j : kept) s += target.col(j).dot(u.col(j));
    const double d = static_cast<double>(kept.size());
    return 1 - std::norm(s) / (d * d);
}

struct GradientCase {
    std::string name;
    std::function<Composite()> build;
    std::vector<int> emptyModes;
};

class FidelityGradientTest : public ::testing::TestWithParam<GradientCase> {};

// The record-built unitary and fitness agree with the circuit's own, and every gradient entry with
// a central difference, whose truncation error at h = 1e-5 is about 1e-11.
TEST_P(FidelityGradientTest, MatchesCentralDifferences) {
    const GradientCase& c = GetParam();
    std::mt19937 rng(11);
    const Composite circuit = c.build();
    const Matrix target = haar_unitary(static_cast<int>(circuit->m), rng);
    CircuitOptimizationFidelity problem(target, circuit, c.emptyModes);
    const std::uint32_t n = problem.getVariableCount();
    ASSERT_GT(n, 0u);

    std::uniform_real_distribution<double> angle(0, 2 * pi);
    std::vector<double> x(n);
    for (double& v : x) v = angle(rng);

    const auto fitness = [&](const std::vector<double>& values) {
        problem.setVariableParameterValues(values);
        return problem.computeFitness(problem.computeUnitary());
    };
    problem.setVariableParameterValues(x);
    const Matrix u = problem.computeUnitary();
    expect_near(u, problem.generateCircuit(x)->unitary(), 1e-12);
    std::vector<int> kept;
    for (int j = 0; j < static_cast<int>(circuit->m); ++j)
        if (std::find(c.emptyModes.begin(), c.emptyModes.end(), j) == c.emptyModes.end())
            kept.push_back(j);
    EXPECT_NEAR(problem.computeFitness(u), reference_fitness(target, u, kept), 1e-12);

    const std::vector<double> gradient = problem.computeGradient(u);
    ASSERT_EQ(gradient.size(), n);
    const double h = 1e-5;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::vector<double> up = x, down = x;
        up[i] += h;
        down[i] -= h;
        const double difference = (fitness(up) - fitness(down)) / (2 * h);
        EXPECT_NEAR(gradient[i], difference, 1e-8) << "variable " << i;
    }
}

Composite every_kind_with_fixed_phases() {
    auto c = std::make_shared<CompositeCircuit>(4, "");
    c->add(0, variable_bs<BeamSplitter_Rx>(0.3, -1.1, 0.7, 2.0));
    c->add(1, variable_ps());
    c->add(1, variable_bs<BeamSplitter_Ry>(-0.4, 0.9, 1.3, -2.2));
    c->add(2, variable_bs<BeamSplitter_H>(1.7, 0.2, -0.6, 0.5));
    c->add(3, variable_ps());
    c->add(0, variable_bs<BeamSplitter_Rx>(0, 0, 0, 0));
    return c;
}

Composite with_fixed_components() {
    std::mt19937 rng(5);
    auto inner = std::make_shared<CompositeCircuit>(3, "inner");
    inner->add(1, variable_bs<BeamSplitter_H>(0.1, 0.2, 0.3, 0.4));
    inner->add(0, std::make_shared<Unitary>(haar_unitary(2, rng), "u", false));
    auto c = std::make_shared<CompositeCircuit>(4, "");
    c->add(0, std::make_shared<Unitary>(haar_unitary(3, rng), "u3", false));
    c->add(2, variable_bs<BeamSplitter_Ry>(0, 0, 0, 0));
    c->add(0, std::make_shared<Permutation>(std::vector<int>{2, 0, 3, 1}));
    c->add(1, std::make_shared<BeamSplitter_Rx>(0.8));
    c->add(0, std::make_shared<Barrier>(4, true));
    c->add(1, inner, false);
    c->add(0, std::make_shared<PhaseShifter>(0.25));
    c->add(0, variable_ps());
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Templates, FidelityGradientTest,
    ::testing::Values(
        GradientCase{"every_variable_kind", every_kind_with_fixed_phases, {}},
        GradientCase{"every_variable_kind_two_modes_empty", every_kind_with_fixed_phases, {1, 3}},
        GradientCase{"fixed_and_nested_components", with_fixed_components, {}},
        GradientCase{"fixed_and_nested_components_one_mode_empty", with_fixed_components, {0}}),
    [](const auto& info) { return info.param.name; });

struct DerivativeCase {
    std::string name;
    std::function<std::shared_ptr<ABeamSplitter>(double)> make;
    std::function<Eigen::Matrix2cd(double)> derivative;
};

class BeamSplitterDerivativeTest : public ::testing::TestWithParam<DerivativeCase> {};

TEST_P(BeamSplitterDerivativeTest, IsTheDerivativeOfTheCore) {
    const DerivativeCase& c = GetParam();
    const double h = 1e-5;
    for (double theta : {-2.0, 0.0, 0.7, 3.0}) {
        const Matrix difference =
            (c.make(theta + h)->getCoreUnitary() - c.make(theta - h)->getCoreUnitary()) / (2 * h);
        expect_near(Matrix(c.derivative(theta)), difference, 1e-9);
    }
}

template <typename T>
DerivativeCase derivative_case(const std::string& name) {
    return {name, [](double t) { return std::make_shared<T>(t); },
            [](double t) { return beamSplitterDerivative(T(0.0), t); }};
}

INSTANTIATE_TEST_SUITE_P(Conventions, BeamSplitterDerivativeTest,
                         ::testing::Values(derivative_case<BeamSplitter_Rx>("Rx"),
                                           derivative_case<BeamSplitter_Ry>("Ry"),
                                           derivative_case<BeamSplitter_H>("H")),
                         [](const auto& info) { return info.param.name; });

TEST(CircuitOptimizationFidelity, GlobalPhaseCostsNothing) {
    auto c = std::make_shared<CompositeCircuit>(2, "");
    c->add(0, variable_bs<BeamSplitter_Rx>(0, 0, 0, 0));
    c->add(0, variable_ps());
    const std::vector<double> x{1.2, 0.4};
    const Matrix u0 =
        CircuitOptimizationFidelity(Matrix::Identity(2, 2), c, {}).generateCircuit(x)->unitary();
    CircuitOptimizationFidelity problem(u0 * std::polar(1.0, 2.5), c, {});
    problem.setVariableParameterValues(x);
    const Matrix& u = problem.computeUnitary();
    EXPECT_NEAR(problem.computeFitness(u), 0.0, 1e-14);
    for (double g : problem.computeGradient(u)) EXPECT_NEAR(g, 0.0, 1e-14);
}

// An empty mode's column plays no part; listing it twice changes nothing further.
TEST(CircuitOptimizationFidelity, EmptyModesLeaveTheirColumnsOut) {
    std::mt19937 rng(3);
    auto c = std::make_shared<CompositeCircuit>(3, "");
    c->add(0, std::make_shared<Unitary>(haar_unitary(3, rng), "u", false));
    const Matrix target = haar_unitary(3, rng);
    Matrix changed = target;
    changed.col(1) *= std::polar(1.0, 0.7);
    const Matrix u = c->unitary();
    const std::vector<int> once{1}, again{1, 1, 1};
    const double fitness = CircuitOptimizationFidelity(target, c, once).computeFitness(u);
    EXPECT_NEAR(fitness, reference_fitness(target, u, {0, 2}), 1e-14);
    EXPECT_EQ(CircuitOptimizationFidelity(changed, c, once).computeFitness(u), fitness);
    CircuitOptimizationFidelity repeated(target, c, again);
    EXPECT_EQ(repeated.computeFitness(u), fitness);
    EXPECT_EQ(repeated.getKeptModeCount(), 2u);
    EXPECT_TRUE(CircuitOptimizationFidelity(target, c, {}).computeGradient(u).empty());
}

// The problem works on a flattened copy: the caller's template keeps its variables free, and
// circuits with values are fresh copies.
TEST(CircuitOptimizationFidelity, NeverTouchesTheTemplate) {
    auto inner = std::make_shared<CompositeCircuit>(2, "inner");
    inner->add(0, variable_bs<BeamSplitter_Rx>(0, 0, 0, 0));
    auto c = std::make_shared<CompositeCircuit>(2, "");
    c->add(0, inner, false);
    c->add(1, std::make_shared<PhaseShifter>(var("phi")));
    const std::string before = c->describe();
    CircuitOptimizationFidelity problem(Matrix::Identity(2, 2), c, {});
    const auto first = problem.generateCircuit({0.5, 1.5});
    const auto second = problem.generateCircuit({0.5, 1.5});
    EXPECT_NE(first, second);
    EXPECT_EQ(first->variableCount(), 0u);
    EXPECT_EQ(first->componentCount(), 2u);
    EXPECT_EQ(first->describe(), second->describe());
    EXPECT_EQ(c->describe(), before);
    EXPECT_EQ(c->variableCount(), 2u);
    expect_throw_message<std::runtime_error>([&] { problem.generateCircuit({}); },
                                             "ACircuit::setAllVariableValues: invalid values size");
}

struct RefusalCase {
    std::string name;
    std::function<Composite()> build;
    Matrix target;
    std::vector<int> emptyModes;
    std::string message;
};

class FidelityRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(FidelityRefusalTest, RefusesAtConstruction) {
    const RefusalCase& c = GetParam();
    const Composite circuit = c.build();
    const std::string before = circuit->describe();
    expect_throw_message<CircuitOptimizerIncompatibility>(
        [&] { CircuitOptimizationFidelity(c.target, circuit, c.emptyModes); }, c.message);
    EXPECT_EQ(circuit->describe(), before);
}

Composite two_modes_with(const std::function<void(CompositeCircuit&)>& fill) {
    auto c = std::make_shared<CompositeCircuit>(2, "");
    fill(*c);
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FidelityRefusalTest,
    ::testing::Values(RefusalCase{"size_mismatch",
                                  [] { return std::make_shared<CompositeCircuit>(3, ""); },
                                  Matrix::Identity(4, 4),
                                  {},
                                  "Template interferometer and reference unitary size mismatch!"},
                      RefusalCase{"target_not_square",
                                  [] { return std::make_shared<CompositeCircuit>(4, ""); },
                                  Matrix::Identity(4, 3),
                                  {},
                                  "Reference must be a unitary matrix"},
                      RefusalCase{"two_variables_in_one_beam_splitter",
                                  [] {
                                      return two_modes_with([](CompositeCircuit& c) {
                                          c.add(0, std::make_shared<BeamSplitter_Rx>(
                                                       var("t"), var("p"), val(0), val(0), val(0)));
                                      });
                                  },
                                  Matrix::Identity(2, 2),
                                  {},
                                  "Cannot process a component with several variables: "
                                  "BeamSplitter_Rx(\"t\",\"p\",0,0,0)"},
                      RefusalCase{"name_shared_by_two_components",
                                  [] {
                                      return two_modes_with([](CompositeCircuit& c) {
                                          c.add(0, std::make_shared<PhaseShifter>(var("x")));
                                          c.add(1, std::make_shared<PhaseShifter>(var("y")));
                                          c.add(0, std::make_shared<PhaseShifter>(var("x")));
                                      });
                                  },
                                  Matrix::Identity(2, 2),
                                  {},
                                  "Cannot process variable 'x' shared by several components"},
                      RefusalCase{"every_mode_empty",
                                  [] {
                                      return two_modes_with([](CompositeCircuit& c) {
                                          c.add(0, std::make_shared<PhaseShifter>(var()));
                                      });
                                  },
                                  Matrix::Identity(2, 2),
                                  {1, 0},
                                  "Cannot fit a template with every mode empty"},
                      RefusalCase{"no_mode_at_all",
                                  [] { return std::make_shared<CompositeCircuit>(0, ""); },
                                  Matrix(0, 0),
                                  {},
                                  "Cannot fit a template with every mode empty"},
                      RefusalCase{"polarised_unitary",
                                  [] {
                                      return two_modes_with([](CompositeCircuit& c) {
                                          c.add(0, std::make_shared<Unitary>(Matrix::Identity(2, 2),
                                                                             "p", true));
                                      });
                                  },
                                  Matrix::Identity(2, 2),
                                  {},
                                  "Cannot process a 2x2 matrix on 1 modes"},
                      // Its fitness would leave [0, 1]: a fidelity of 19.6 for this one.
                      RefusalCase{"target_not_unitary",
                                  [] { return std::make_shared<CompositeCircuit>(2, ""); },
                                  Matrix::Constant(2, 2, 5.0),
                                  {},
                                  "Reference must be a unitary matrix"},
                      RefusalCase{"target_not_finite",
                                  [] { return std::make_shared<CompositeCircuit>(2, ""); },
                                  (Matrix(2, 2) << 1, 0, 0, HUGE_VAL).finished(),
                                  {},
                                  "Reference must be a unitary matrix"},
                      RefusalCase{"target_nan",
                                  [] { return std::make_shared<CompositeCircuit>(2, ""); },
                                  (Matrix(2, 2) << NAN, 0, 0, 1).finished(),
                                  {1},
                                  "Reference must be a unitary matrix"}),
    [](const auto& info) { return info.param.name; });

class EmptyModeOutsideTest : public ::testing::TestWithParam<int> {};

TEST_P(EmptyModeOutsideTest, IsRefused) {
    auto c = two_modes_with(
        [](CompositeCircuit& circuit) { circuit.add(0, std::make_shared<PhaseShifter>(var())); });
    const int mode = GetParam();
    expect_throw_message<std::invalid_argument>(
        [&] {
            CircuitOptimizationFidelity(Matrix::Identity(2, 2), c, {0, mode});
        },
        "Empty mode " + std::to_string(mode) + " is outside the 2 modes of the circuit");
}

INSTANTIATE_TEST_SUITE_P(Modes, EmptyModeOutsideTest, ::testing::Values(-1, 2, 5, 1000));

// A set angle with a free phase is a fixed component whose matrix cannot be computed.
TEST(CircuitOptimizationFidelity, FixedAngleWithFreePhaseHasNoValue) {
    auto c = std::make_shared<CompositeCircuit>(2, "");
    c->add(0, std::make_shared<BeamSplitter_Rx>(val(0.3), var(), val(0), val(0), val(0)));
    expect_throw_message<std::runtime_error>(
        [&] { CircuitOptimizationFidelity(Matrix::Identity(2, 2), c, {}); },
        "Parameter has no value");
}

}  // namespace
