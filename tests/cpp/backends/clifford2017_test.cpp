#include "backends/clifford2017.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "backend_reference.h"
#include "clifford_reference.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/parallel.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using Backend::Clifford2017;
using backend_reference::beam_splitter;
using backend_reference::haar_unitary;
using test_support::expect_throw_message;
using test_support::ThreadCount;

FockState state(std::vector<int> const& counts) {
    return FockState(counts);
}

// The "General" channel at level debug.
class GeneralLog : public test_support::ChannelLog {
  public:
    GeneralLog() : ChannelLog("General", "%v", spdlog::level::debug) {}
};

class SinglePrecision {
  public:
    explicit SinglePrecision(bool on) : saved_(config.use_single_precision) {
        config.use_single_precision = on;
    }
    ~SinglePrecision() { config.use_single_precision = saved_; }

  private:
    bool saved_;
};

std::string using_threads(std::size_t count) {
    return "Clifford2017: Using " + std::to_string(count) + " threads to compute samples\n";
}

TEST(Clifford2017Test, PhotonlessInputsComeBackWithoutAnyUnitary) {
    Clifford2017 sampler;
    EXPECT_EQ(sampler.sample(), FockState());
    EXPECT_EQ(sampler.samples(3), BSSamples(3, FockState()));
    sampler.setUnitary(Matrix::Identity(2, 2));
    sampler.setInputState(FockState(5));
    EXPECT_EQ(sampler.sample(), FockState(5));
    EXPECT_EQ(sampler.samples(2), BSSamples(2, FockState(5)));
}

TEST(Clifford2017Test, SizesMustAgreeAndTheUnitaryBeSquare) {
    std::mt19937 engine(1);
    Clifford2017 sampler;
    sampler.setInputState(state({1, 0}));
    expect_throw_message<std::runtime_error>([&] { sampler.sample(); },
                                             "Matrix/input state sizes mismatch");
    sampler.setUnitary(Matrix::Identity(3, 3));
    expect_throw_message<std::runtime_error>([&] { sampler.samples(2); },
                                             "Matrix/input state sizes mismatch");
    // Orthonormal columns pass the unitarity test, but a matrix that is not square is refused at
    // once: a missing column must never be read.
    const Matrix tall = haar_unitary(3, engine).leftCols(2);
    expect_throw_message<std::runtime_error>([&] { sampler.setUnitary(tall); },
                                             "Matrix is not unitary");
    sampler.setInputState(state({0, 0, 1}));
    EXPECT_EQ(sampler.sample(), state({0, 0, 1}));
    sampler.setUnitary(Matrix::Identity(3, 3));
    EXPECT_EQ(sampler.sample(), state({0, 0, 1}));
}

TEST(Clifford2017Test, AUnitaryThatIsNotFiniteChangesNothing) {
    Clifford2017 sampler;
    sampler.setUnitary(Matrix::Identity(2, 2));
    sampler.setInputState(state({1, 0}));
    Matrix wrong = Matrix::Identity(2, 2);
    wrong(1, 1) = std::numeric_limits<double>::quiet_NaN();
    expect_throw_message<std::invalid_argument>(
        [&] { sampler.setUnitary(wrong); },
        "Matrix holds a value that is not finite: (nan+0j) at row 1, column 1");
    EXPECT_EQ(sampler.get_unitary(), Matrix(Matrix::Identity(2, 2)));
    EXPECT_EQ(sampler.sample(), state({1, 0}));
}

TEST(Clifford2017Test, ANonUnitaryMatrixChangesNothing) {
    Clifford2017 sampler;
    sampler.setUnitary(Matrix::Identity(2, 2));
    sampler.setInputState(state({1, 0}));
    Matrix wrong = Matrix::Identity(2, 2);
    wrong(0, 1) = 0.5;
    expect_throw_message<std::runtime_error>([&] { sampler.setUnitary(wrong); },
                                             "Matrix is not unitary");
    EXPECT_EQ(sampler.get_unitary(), Matrix(Matrix::Identity(2, 2)));
    EXPECT_EQ(sampler.sample(), state({1, 0}));
}

class Clifford2017DistributionTest
    : public ::testing::TestWithParam<std::tuple<std::vector<int>, bool>> {};

TEST_P(Clifford2017DistributionTest, SamplesFollowThePermanents) {
    const auto& [counts, single] = GetParam();
    const FockState input(counts);
    std::mt19937 engine(static_cast<std::uint32_t>(input.hash()));
    const Matrix u = haar_unitary(input.m(), engine);
    const ThreadCount threads(4);
    const SinglePrecision precision(single);
    Clifford2017 sampler;
    sampler.setUnitary(u);
    sampler.setInputState(input);
    RNG::rng.seed(engine());
    const auto samples = sampler.samples(20000);
    ASSERT_EQ(samples.size(), 20000u);
    const auto chi =
        clifford_reference::chi_square(clifford_reference::exact_distribution(u, input), samples);
    EXPECT_LT(chi.statistic, chi.bound()) << chi.degrees << " degrees";
}

INSTANTIATE_TEST_SUITE_P(Inputs, Clifford2017DistributionTest,
                         ::testing::Combine(::testing::Values(std::vector<int>{1, 1, 0},
                                                              std::vector<int>{0, 2, 0, 1},
                                                              std::vector<int>{1, 0, 1, 0, 1},
                                                              std::vector<int>{2, 1, 0, 0, 1, 0},
                                                              std::vector<int>{1, 1, 1, 1, 0, 0}),
                                            ::testing::Bool()));

TEST(Clifford2017Test, OneThreadRunsReproduceFromTheSeed) {
    std::mt19937 engine(3);
    const ThreadCount one(1);
    Clifford2017 sampler;
    sampler.setUnitary(haar_unitary(5, engine));
    sampler.setInputState(state({1, 1, 0, 1, 0}));
    RNG::rng.seed(42);
    const auto first = sampler.samples(200);
    const auto single = sampler.sample();
    RNG::rng.seed(42);
    EXPECT_EQ(sampler.samples(200), first);
    EXPECT_EQ(sampler.sample(), single);
}

TEST(Clifford2017Test, RunnersFollowTheConfiguration) {
    GeneralLog log;
    const ThreadCount three(3);
    const SinglePrecision precision(false);
    const std::size_t expected = std::min<std::size_t>(3, Parallel::hardware_threads());
    Clifford2017 sampler;
    sampler.setUnitary(beam_splitter());
    sampler.setInputState(state({1, 1}));
    EXPECT_EQ(sampler.samples(4).size(), 4u);
    EXPECT_EQ(log.take(), using_threads(expected));
    // Same input, same tolerance: the runners and their matrix stay.
    sampler.setInputState(state({1, 1}));
    config.unitary_check_precision = 1e-5;
    sampler.samples(4);
    config.unitary_check_precision = 1e-6;
    EXPECT_EQ(log.take(), "");
    config.use_single_precision = true;
    sampler.sample();
    EXPECT_EQ(log.take(), using_threads(expected));
    // Another input reuses the runners.
    sampler.setInputState(state({2, 0}));
    sampler.sample();
    EXPECT_EQ(log.take(), "");
}

TEST(Clifford2017Test, RunnerCountIsNeverZero) {
    EXPECT_EQ(Clifford2017::createRunners(Config{false, 0, 1e-6}).size(),
              Parallel::hardware_threads());
    EXPECT_EQ(Clifford2017::createRunners(Config{true, 1, 1e-6}).size(), 1u);
}

TEST(Clifford2017Test, ZeroSamplesStillReportStartAndEnd) {
    Clifford2017 sampler;
    sampler.setUnitary(beam_splitter());
    sampler.setInputState(state({1, 1}));
    std::vector<double> progress;
    sampler.setAdvanceCallback(
        [&](double p, std::string const& text) {
            EXPECT_EQ(text, "Sampling...");
            progress.push_back(p);
            return false;
        },
        0);
    EXPECT_TRUE(sampler.samples(0).empty());
    EXPECT_EQ(progress, (std::vector<double>{0.0, 1.0}));
}

TEST(Clifford2017Test, ACancellingCallbackStopsTheBatch) {
    std::mt19937 engine(5);
    const ThreadCount two(2);
    Clifford2017 sampler;
    sampler.setUnitary(haar_unitary(8, engine));
    sampler.setInputState(state({1, 1, 1, 1, 1, 1, 0, 0}));
    std::vector<double> progress;
    sampler.setAdvanceCallback(
        [&](double p, std::string const&) {
            progress.push_back(p);
            return progress.size() == 2;
        },
        1);
    constexpr std::uint32_t count = 4000000;
    try {
        EXPECT_LT(sampler.samples(count).size(), count);
        EXPECT_EQ(progress.size(), 3u);
        EXPECT_EQ(progress.back(), 1.0);
    } catch (KeyboardInterruptException const& e) {
        EXPECT_STREQ(e.what(), "Process interrupted by user.");
        EXPECT_EQ(progress.size(), 2u);
    }
    // The flag stays set for the caller to see, until the next long call clears it.
    EXPECT_TRUE(InterruptSignalHandler::is_interrupted());
    InterruptSignalHandler::interrupted = false;
}

TEST(Clifford2017Test, CtrlCBeforeAClaimReturnsWhatIsDone) {
    Clifford2017 sampler;
    sampler.setUnitary(beam_splitter());
    sampler.setInputState(state({1, 1}));
    test_support::CtrlC ctrl_c;
    EXPECT_TRUE(sampler.samples(100).empty());
    // Two photons take no sub-permanent loop, so a single sample still ends.
    EXPECT_EQ(sampler.sample().n(), 2);
}

TEST(Clifford2017Test, CopiesAreIndependentAndPrepareAgain) {
    Matrix swap(2, 2);
    swap << 0, 1, 1, 0;
    Clifford2017 sampler;
    sampler.setUnitary(Matrix::Identity(2, 2));
    sampler.setInputState(state({1, 0}));
    EXPECT_EQ(sampler.sample(), state({1, 0}));
    Clifford2017 copy(sampler);
    copy.setUnitary(swap);
    EXPECT_EQ(copy.sample(), state({0, 1}));
    EXPECT_EQ(sampler.sample(), state({1, 0}));
    sampler = copy;
    EXPECT_EQ(sampler.samples(2), BSSamples(2, state({0, 1})));
}

}  // namespace
