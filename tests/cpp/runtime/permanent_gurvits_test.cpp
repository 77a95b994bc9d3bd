#include "runtime/permanent_gurvits.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include <Eigen/QR>
#include "test_support.h"

#include "permanent_reference.h"
#include "runtime/config.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/parallel.h"
#include "runtime/permanent.h"
#include "runtime/rng.h"

namespace {

using cd = std::complex<double>;

using test_support::ThreadCount;

struct SharesCase {
    unsigned n_iter, threads;
    std::vector<unsigned> shares;
};

class Shares : public ::testing::TestWithParam<SharesCase> {};

TEST_P(Shares, SplitSamplesOverTasks) {
    const auto& c = GetParam();
    EXPECT_EQ(computeIterationPerThread(c.n_iter, c.threads), c.shares);
}

INSTANTIATE_TEST_SUITE_P(Table, Shares,
                         ::testing::Values(SharesCase{10, 4, {3, 3, 3, 1}},
                                           SharesCase{6, 4, {2, 2, 2, 0}},
                                           SharesCase{9, 6, {2, 2, 2, 2, 1, 0}},
                                           SharesCase{8, 4, {2, 2, 2, 2}}, SharesCase{3, 8, {3}},
                                           SharesCase{1, 1, {1}}, SharesCase{5, 0, {5}},
                                           SharesCase{0, 0, {0}}));

// Matrices whose every sample is the same number: the estimate is exact and the half-width 0 up
// to rounding, never NaN, even where rounding makes the variance slightly negative (0.1 with 3
// samples on one thread).
struct ConstantCase {
    RowMatrix<double> matrix;
    unsigned n_iter;
    double expected;
};

class ConstantSamples : public ::testing::TestWithParam<ConstantCase> {};

TEST_P(ConstantSamples, ExactEstimateAndZeroWidth) {
    const auto& c = GetParam();
    for (std::uint32_t threads : {0u, 1u, 3u, 4294967295u}) {
        ThreadCount scope(threads);
        const auto [estimate, width] = estimate_permanent_fl(c.matrix, c.n_iter);
        EXPECT_NEAR(estimate, c.expected, 1e-15);
        EXPECT_TRUE(width >= 0.0 && width < 1e-7) << width;
        const auto [z, zwidth] = estimate_permanent_cx(c.matrix.cast<cd>(), c.n_iter);
        EXPECT_NEAR(z.real(), c.expected, 1e-15);
        EXPECT_EQ(z.imag(), 0.0);
        EXPECT_TRUE(zwidth >= 0.0 && zwidth < 1e-7) << zwidth;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ConstantSamples,
                         ::testing::Values(ConstantCase{RowMatrix<double>{{2.0}}, 50, 2.0},
                                           ConstantCase{RowMatrix<double>::Identity(3, 3), 40, 1.0},
                                           ConstantCase{RowMatrix<double>(0, 0), 7, 1.0},
                                           ConstantCase{RowMatrix<double>{{0.1}}, 3, 0.1},
                                           ConstantCase{RowMatrix<double>{{0.3}}, 6, 0.3},
                                           ConstantCase{RowMatrix<double>{{0.7}}, 6, 0.7}));

TEST(Gurvits, RefusesNonSquareMatricesAndZeroIterationsWithoutDrawing) {
    RNG::rng.seed(5);
    std::mt19937 reference(5);
    try {
        estimate_permanent_fl(RowMatrix<double>(2, 3), 10);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Input should have size [N,N]");
    }
    EXPECT_THROW(estimate_permanent_cx(RowMatrix<cd>(3, 2), 10), std::runtime_error);
    EXPECT_THROW(estimate_permanent_fl(RowMatrix<double>::Ones(2, 2), 0), std::invalid_argument);
    EXPECT_THROW(estimate_permanent_cx(RowMatrix<cd>::Ones(2, 2), 0), std::invalid_argument);
    EXPECT_EQ(RNG::rng(), reference());
}

TEST(Gurvits, DrawsOneSeedPerTaskFromTheCaller) {
    const RowMatrix<double> a = RowMatrix<double>::Ones(3, 3);
    for (auto [n_iter, threads, tasks] :
         {std::tuple{1u, 8u, 1}, std::tuple{9u, 6u, 6}, std::tuple{100u, 3u, 3}}) {
        ThreadCount scope(threads);
        RNG::rng.seed(11);
        estimate_permanent_fl(a, n_iter);
        std::mt19937 reference(11);
        // The configured count is a maximum: a machine with fewer cores runs fewer tasks.
        reference.discard(std::min<unsigned long long>(tasks, Parallel::hardware_threads()));
        EXPECT_EQ(RNG::rng(), reference()) << n_iter << " samples on " << threads << " threads";
    }
}

TEST(Gurvits, SeededCallsAreReproducibleForAThreadCount) {
    std::mt19937 engine(21);
    const auto a = PermanentReference::random_matrix<cd>(6, 6, engine);
    for (std::uint32_t threads : {1u, 3u, 8u}) {
        ThreadCount scope(threads);
        RNG::rng.seed(99);
        const auto first = estimate_permanent_cx(a, 1001);
        RNG::rng.seed(99);
        const auto second = estimate_permanent_cx(a, 1001);
        EXPECT_EQ(first, second) << threads << " threads";
    }
}

TEST(Gurvits, ComplexOfRealMatrixMatchesReal) {
    std::mt19937 engine(22);
    const auto a = PermanentReference::random_matrix<double>(5, 5, engine);
    ThreadCount scope(4);
    RNG::rng.seed(3);
    const auto [x, xwidth] = estimate_permanent_fl(a, 500);
    RNG::rng.seed(3);
    const auto [z, zwidth] = estimate_permanent_cx(a.cast<cd>(), 500);
    EXPECT_EQ(z.imag(), 0.0);
    EXPECT_DOUBLE_EQ(z.real(), x);
    EXPECT_DOUBLE_EQ(zwidth, xwidth);
}

TEST(Gurvits, CtrlCStopsTheTasks) {
    ThreadCount scope(3);
    {
        test_support::CtrlC ctrl_c;
        test_support::expect_throw_message<KeyboardInterruptException>(
            [] { estimate_permanent_fl(RowMatrix<double>::Ones(16, 16), 5'000'000); },
            "Process interrupted by user.");
        test_support::expect_throw_message<KeyboardInterruptException>(
            [] { estimate_permanent_cx(RowMatrix<cd>::Ones(16, 16), 5'000'000); },
            "Process interrupted by user.");
    }
    // A Ctrl-C left over from an earlier call stops neither the entry points, which clear it, nor
    // the kernel run outside any scope.
    const RowMatrix<double> identity = RowMatrix<double>::Identity(4, 4);
    InterruptSignalHandler::interrupted = true;
    EXPECT_EQ(permanentGurvits<double>(identity, 100000, 2).first, 1.0);
    EXPECT_EQ(estimate_permanent_fl(identity, 100000).first, 1.0);
    EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
}

// A 99 % interval must contain the exact value in nearly all seeded runs, and the estimator is
// unbiased: the spread of the estimates matches the reported width.
TEST(Gurvits, IntervalCoversTheExactPermanent) {
    std::mt19937 engine(23);
    // A corner of a random unitary matrix, as in a boson-sampling experiment.
    const Eigen::HouseholderQR<Eigen::MatrixXcd> qr(
        PermanentReference::random_matrix<cd>(8, 8, engine));
    const Eigen::MatrixXcd q = qr.householderQ();
    const RowMatrix<cd> a = q.topLeftCorner(5, 5);
    const cd exact = permanent_cx(a, "glynn");
    const RowMatrix<double> ones = RowMatrix<double>::Ones(3, 3);
    ThreadCount scope(4);
    int covered = 0, ones_covered = 0;
    const int runs = 100;
    for (int seed = 0; seed < runs; ++seed) {
        RNG::rng.seed(seed);
        const auto [estimate, width] = estimate_permanent_cx(a, 4000);
        covered += std::abs(estimate - exact) <= width;
        const auto [ones_estimate, ones_width] = estimate_permanent_fl(ones, 4000);
        ones_covered += std::abs(ones_estimate - 6.0) <= ones_width;
    }
    // 99 % nominal; the binomial spread over 100 runs makes 93 a safe floor.
    EXPECT_GE(covered, 93);
    EXPECT_GE(ones_covered, 93);
}

}  // namespace
