#include "circuits/rectangular_decomposer.h"

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "circuit_test_support.h"
#include "circuits/beam_splitter.h"
#include "circuits/phase_shifter.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using namespace Circuit;
using circuit_test::expect_near;
using circuit_test::expi;
using circuit_test::haar_unitary;
using test_support::expect_throw_message;

const std::string not_unitary = "Rectangular decomposition only works for unitary matrices";
const std::string failed = "RectangularDecomposer: decomposition failed";

class GeneralLog : public test_support::ChannelLog {
  public:
    GeneralLog() : ChannelLog("General") {}
};

// The modes of the mesh's interferometers: each is four components placed on its upper mode.
std::vector<std::uint32_t> mesh_modes(const CompositeCircuit& mesh) {
    std::vector<std::uint32_t> modes;
    std::size_t i = 0;
    for (auto const& pc : mesh.components())
        if (i++ % 4 == 0) modes.push_back(pc.port);
    return modes;
}

struct MeshCase {
    int n;
    std::vector<std::uint32_t> modes;
};

class MeshOrderTest : public ::testing::TestWithParam<MeshCase> {};

TEST_P(MeshOrderTest, NullsInTheFixedOrder) {
    const MeshCase& c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.n));
    RectangularDecomposer decomposer(1e-6);
    decomposer.decompose(haar_unitary(c.n, rng));
    const auto mesh = decomposer.getInterferometer(false);
    EXPECT_EQ(mesh->name(), "Rectangular interferometer");
    EXPECT_EQ(mesh->componentCount(), 2u * c.n * (c.n - 1));
    EXPECT_EQ(mesh_modes(*mesh), c.modes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MeshOrderTest,
                         ::testing::Values(MeshCase{2, {0}}, MeshCase{3, {0, 1, 0}},
                                           MeshCase{4, {0, 2, 1, 0, 2, 1}},
                                           MeshCase{5, {0, 2, 1, 0, 3, 2, 1, 0, 3, 2}}),
                         [](const auto& info) { return fmt::format("N{}", info.param.n); });

class RebuildTest : public ::testing::TestWithParam<int> {};

// Each nulled element ends below the precision in squared modulus; the rebuilt unitary follows.
TEST_P(RebuildTest, RebuildsTheTargetWithThePhaseCorrection) {
    const int n = GetParam();
    std::mt19937 rng(static_cast<unsigned>(100 + n));
    const Matrix target = haar_unitary(n, rng);
    RectangularDecomposer decomposer(1e-10);
    decomposer.decompose(target);
    const auto circuit = decomposer.getInterferometer(true);
    EXPECT_EQ(circuit->name(), "Rectangular interferometer with phase correction");
    EXPECT_EQ(circuit->componentCount(), 2u * n * (n - 1) + n);
    EXPECT_LT((circuit->unitary() - target).norm(), 1e-4);
    // Without the correction, the mesh is the target up to output phases.
    const Matrix mesh = decomposer.getInterferometer(false)->unitary();
    EXPECT_LT((mesh.cwiseAbs() - target.cwiseAbs()).norm(), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RebuildTest, ::testing::Range(1, 13));

TEST(RectangularDecomposer, SeededDecompositionsRepeat) {
    std::mt19937 rng(9);
    const Matrix target = haar_unitary(6, rng);
    RectangularDecomposer decomposer(1e-8);
    std::vector<std::string> texts;
    for (int run = 0; run < 2; ++run) {
        RNG::rng.seed(77);
        decomposer.decompose(target);
        texts.push_back(decomposer.getInterferometer(true)->describe());
    }
    EXPECT_EQ(texts[0], texts[1]);
}

TEST(RectangularDecomposer, OneModeIsItsPhase) {
    Matrix target(1, 1);
    target(0, 0) = expi(0.7);
    RectangularDecomposer decomposer(1e-6);
    decomposer.decompose(target);
    EXPECT_EQ(decomposer.getInterferometer(false)->componentCount(), 0u);
    const auto circuit = decomposer.getInterferometer(true);
    ASSERT_EQ(circuit->componentCount(), 1u);
    auto ps = std::dynamic_pointer_cast<PhaseShifter>(circuit->components().front().component);
    ASSERT_TRUE(ps);
    EXPECT_NEAR(ps->phi()->value(), 0.7, 1e-15);
}

// No element is skipped for being zero already.
TEST(RectangularDecomposer, IdentityStillHasEveryInterferometer) {
    RectangularDecomposer decomposer(1e-6);
    decomposer.decompose(Matrix::Identity(4, 4));
    EXPECT_EQ(decomposer.getInterferometer(false)->componentCount(), 24u);
    expect_near(decomposer.getInterferometer(true)->unitary(), Matrix::Identity(4, 4), 1e-3);
}

TEST(RectangularDecomposer, RefusesWhatIsNotUnitaryWithoutLogging) {
    GeneralLog log;
    RectangularDecomposer decomposer(1e-6);
    Matrix scaled = Matrix::Identity(3, 3);
    scaled(1, 1) = 1.1;
    for (const Matrix& m : {Matrix(Matrix::Identity(2, 3)), scaled})
        expect_throw_message<std::runtime_error>([&] { decomposer.decompose(m); }, not_unitary);
    EXPECT_EQ(log.text(), "");
    expect_throw_message<std::runtime_error>(
        [&] { decomposer.getInterferometer(false); },
        "RectangularDecomposer must be computed before giving the resulting interferometer");
}

// A failed solve is logged and reported, and the last good result stays, with its size.
TEST(RectangularDecomposer, FailureKeepsThePreviousResult) {
    std::mt19937 rng(1);
    RectangularDecomposer decomposer(1e-8);
    const Matrix first = haar_unitary(3, rng);
    decomposer.decompose(first);
    const auto mesh = decomposer.getInterferometer(false);

    GeneralLog log;
    decomposer.setPrecision(0);
    EXPECT_EQ(decomposer.getPrecision(), 0.0);
    expect_throw_message<std::runtime_error>([&] { decomposer.decompose(haar_unitary(4, rng)); },
                                             failed);
    EXPECT_EQ(
        log.text(),
        "[error] RectangularDecomposer::decompose(): max iteration reach for optimisation.\n");
    EXPECT_EQ(decomposer.getInterferometer(false), mesh);
    const auto rebuilt = decomposer.getInterferometer(true);
    EXPECT_EQ(rebuilt->m, 3u);
    EXPECT_LT((rebuilt->unitary() - first).norm(), 1e-3);
}

TEST(RectangularDecomposer, CtrlCEndsTheCallWithoutLoggingAndKeepsThePreviousResult) {
    std::mt19937 rng(3);
    RectangularDecomposer decomposer(1e-8);
    decomposer.decompose(haar_unitary(3, rng));
    const auto mesh = decomposer.getInterferometer(false);
    GeneralLog log;
    {
        test_support::CtrlC ctrl_c;
        expect_throw_message<KeyboardInterruptException>(
            [&] { decomposer.decompose(haar_unitary(8, rng)); }, "Process interrupted by user.");
    }
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(decomposer.getInterferometer(false), mesh);
    decomposer.decompose(haar_unitary(8, rng));
    EXPECT_EQ(decomposer.getInterferometer(false)->m, 8u);
}

TEST(RectangularDecomposer, SharesTheMeshAndBuildsNewCorrectedCircuits) {
    std::mt19937 rng(2);
    RectangularDecomposer decomposer(1e-8);
    decomposer.decompose(haar_unitary(3, rng));
    EXPECT_EQ(decomposer.getInterferometer(false), decomposer.getInterferometer(false));
    const auto a = decomposer.getInterferometer(true);
    const auto b = decomposer.getInterferometer(true);
    EXPECT_NE(a, b);
    auto ia = a->components().begin();
    for (auto const& pc : b->components()) EXPECT_EQ((ia++)->component, pc.component);
}

TEST(RectangularDecomposer, SecondDecompositionDescribesTheSecondMatrix) {
    std::mt19937 rng(3);
    RectangularDecomposer decomposer(1e-10);
    decomposer.decompose(haar_unitary(4, rng));
    const auto old_mesh = decomposer.getInterferometer(false);
    const std::string old_text = old_mesh->describe();
    const Matrix second = haar_unitary(2, rng);
    decomposer.decompose(second);
    EXPECT_EQ(decomposer.getInterferometer(false)->componentCount(), 4u);
    EXPECT_LT((decomposer.getInterferometer(true)->unitary() - second).norm(), 1e-4);
    EXPECT_EQ(old_mesh->describe(), old_text);
}

}  // namespace
