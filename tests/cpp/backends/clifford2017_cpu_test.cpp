#include "backends/clifford2017_cpu.h"

#include <atomic>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "clifford_reference.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using namespace Backend;
using backend_reference::beam_splitter;
using backend_reference::haar_unitary;
using test_support::expect_throw_message;

FockState state(std::vector<int> const& counts) {
    return FockState(counts);
}

template <typename P>
class RunnerTest : public ::testing::Test {
  protected:
    BSSamples draw(Matrix const& u, FockState const& input, int count, std::uint32_t seed) {
        runner.setUnitaryMatrix(u, input);
        RNG::rng.seed(seed);
        BSSamples out;
        for (int i = 0; i < count; ++i) out.push_back(runner.sample());
        return out;
    }

    Clifford2017CPU<P> runner;
};

using Precisions = ::testing::Types<SinglePrecision, DoublePrecision>;
TYPED_TEST_SUITE(RunnerTest, Precisions);

TYPED_TEST(RunnerTest, BalancedSplitterNeverKeepsTwoPhotonsApart) {
    for (auto const& s : this->draw(beam_splitter(), state({1, 1}), 2000, 1))
        EXPECT_NE(s, state({1, 1}));
}

TYPED_TEST(RunnerTest, BunchedPairSplitsAsOneQuarterOneHalfOneQuarter) {
    const auto samples = this->draw(beam_splitter(), state({2, 0}), 16000, 2);
    const std::map<FockState, double> p{
        {state({2, 0}), 0.25}, {state({1, 1}), 0.5}, {state({0, 2}), 0.25}};
    const auto chi = clifford_reference::chi_square(p, samples);
    EXPECT_EQ(chi.degrees, 2);
    EXPECT_LT(chi.statistic, chi.bound());
}

TYPED_TEST(RunnerTest, RandomUnitariesFollowThePermanents) {
    std::mt19937 engine(77);
    for (auto const& counts : std::vector<std::vector<int>>{
             {1, 1, 0}, {2, 0, 1, 0}, {1, 1, 1, 0, 0}, {0, 3, 0, 1, 0, 0}, {1, 0, 1, 0, 1, 1}}) {
        const FockState input(counts);
        const Matrix u = haar_unitary(input.m(), engine);
        const auto samples = this->draw(u, input, 20000, engine());
        const auto chi = clifford_reference::chi_square(
            clifford_reference::exact_distribution(u, input), samples);
        EXPECT_LT(chi.statistic, chi.bound()) << input << ", " << chi.degrees << " degrees";
    }
}

TYPED_TEST(RunnerTest, IdentityAndSingleModeGiveTheInput) {
    std::mt19937 engine(3);
    const FockState input = state({2, 0, 1, 3});
    for (auto const& s : this->draw(Matrix::Identity(4, 4), input, 50, 4)) EXPECT_EQ(s, input);
    Matrix phase(1, 1);
    phase << std::polar(1.0, 0.3);
    for (auto const& s : this->draw(phase, state({5}), 5, 4)) EXPECT_EQ(s, state({5}));
}

TYPED_TEST(RunnerTest, SamplesRepeatFromTheSameSeed) {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(5, engine);
    const FockState input = state({1, 2, 0, 1, 1});
    const auto first = this->draw(u, input, 20, 9);
    // No preparation in between: the row order of the last sample must not carry over.
    RNG::rng.seed(9);
    BSSamples again;
    for (int i = 0; i < 20; ++i) again.push_back(this->runner.sample());
    EXPECT_EQ(again, first);
    const std::vector<int> photon_modes{0, 1, 1, 3, 4};
    this->runner.setPreparedMatrix(Matrix(u(Eigen::all, photon_modes).transpose()));
    RNG::rng.seed(9);
    again.clear();
    for (int i = 0; i < 20; ++i) again.push_back(this->runner.sample());
    EXPECT_EQ(again, first);
}

TYPED_TEST(RunnerTest, ASetFlagStopsTheLoopBeforeAnyClaim) {
    this->runner.setUnitaryMatrix(beam_splitter(), state({1, 1}));
    std::atomic<std::uint32_t> counter(5);
    RunnerOutput out;
    {
        test_support::CtrlC ctrl_c;
        this->runner.generateSamplesLoop(counter, out);
    }
    EXPECT_EQ(counter.load(), 5u);
    EXPECT_TRUE(out.states.empty());
    this->runner.generateSamplesLoop(counter, out);
    EXPECT_EQ(counter.load(), 0u);
    EXPECT_EQ(out.states.size(), 5u);
    EXPECT_EQ(out.finished.load(), 5u);
}

TYPED_TEST(RunnerTest, AnInterruptInsideASampleEndsIt) {
    // Sub-permanents poll the flag from three photons on; two photons always finish.
    this->runner.setUnitaryMatrix(Matrix::Identity(3, 3), state({1, 1, 1}));
    test_support::CtrlC ctrl_c;
    expect_throw_message<KeyboardInterruptException>([&] { this->runner.sample(); },
                                                     "Process interrupted by user.");
    this->runner.setUnitaryMatrix(beam_splitter(), state({1, 1}));
    EXPECT_EQ(this->runner.sample().n(), 2);
}

TYPED_TEST(RunnerTest, SizesAreCheckedBeforeAnythingChanges) {
    this->runner.setUnitaryMatrix(Matrix::Identity(2, 2), state({0, 1}));
    expect_throw_message<std::runtime_error>(
        [&] {
            this->runner.setUnitaryMatrix(Matrix::Identity(3, 3), state({1, 1}));
        },
        "Matrix/input state sizes mismatch");
    expect_throw_message<std::runtime_error>(
        [&] { this->runner.setUnitaryMatrix(Matrix::Identity(1, 1), state({65})); },
        "Cannot sample 65 photons: at most 64 are supported");
    expect_throw_message<std::runtime_error>(
        [&] { this->runner.setPreparedMatrix(Matrix::Zero(1, 257)); },
        "Fock state size is capped from 0 to 256 modes");
    EXPECT_EQ(this->runner.sample(), state({0, 1}));
}

TEST(Clifford2017CPUTest, ModeDrawsAreThoseOfTheStandardDiscreteDistribution) {
    // One photon: no shuffle draw, one mode draw on |U[k][i]|², identical to the standard
    // library's, including its rounding.
    std::mt19937 engine(11);
    const Matrix u = haar_unitary(6, engine);
    Clifford2017CPU<DoublePrecision> runner;
    for (int mode = 0; mode < 6; ++mode) {
        std::vector<int> counts(6, 0);
        counts[mode] = 1;
        runner.setUnitaryMatrix(u, FockState(counts));
        std::vector<double> weights;
        for (int k = 0; k < 6; ++k) weights.push_back(std::norm(u(k, mode)));
        std::discrete_distribution<int> reference(weights.begin(), weights.end());
        std::mt19937 mirror(100 + mode);
        RNG::rng.seed(100 + mode);
        for (int i = 0; i < 200; ++i) {
            std::vector<int> expected(6, 0);
            expected[reference(mirror)] = 1;
            ASSERT_EQ(runner.sample(), FockState(expected)) << "mode " << mode << ", draw " << i;
        }
    }
}

TEST(Clifford2017CPUTest, TinyWeightsDoNotUnderflowInSinglePrecision) {
    // Only the ratios of the weights matter; squared in float, these would all be 0.
    std::mt19937 engine(13);
    const Matrix u = haar_unitary(4, engine);
    const Matrix us = prepared_matrix(u, FockState(std::vector<int>{1, 1, 1, 0})) * 1e-10;
    Clifford2017CPU<SinglePrecision> runner;
    runner.setPreparedMatrix(us);
    RNG::rng.seed(1);
    EXPECT_EQ(runner.sample().n(), 3);
}

TEST(Clifford2017CPUTest, PreparedMatrixTakesOneColumnPerPhoton) {
    std::mt19937 engine(17);
    const Matrix u = haar_unitary(3, engine);
    const Matrix us = prepared_matrix(u, FockState(std::vector<int>{2, 0, 1}));
    ASSERT_EQ(us.rows(), 3);
    EXPECT_EQ(us.row(0), u.col(0).transpose());
    EXPECT_EQ(us.row(1), u.col(0).transpose());
    EXPECT_EQ(us.row(2), u.col(2).transpose());
    EXPECT_EQ(prepared_matrix(u, FockState(3)).rows(), 0);
    // A tall matrix with orthonormal columns is unitary enough for the test, not for sampling.
    expect_throw_message<std::runtime_error>(
        [&] {
            prepared_matrix(u.leftCols(2), FockState(std::vector<int>{0, 1, 0}));
        },
        "Matrix/input state sizes mismatch");
}

TEST(Clifford2017CPUTest, ReconstructedStatesSortTheirPhotons) {
    const std::vector<int> modes{3, 0, 3, 1};
    EXPECT_EQ(reconstructState(modes.begin(), modes.end(), 5),
              FockState(std::vector<int>{1, 1, 0, 2, 0}));
    EXPECT_EQ(reconstructState(modes.begin(), modes.begin(), 2), FockState(2));
}

}  // namespace
