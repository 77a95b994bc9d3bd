#include "fockspace/weighted_samples.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/rng.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;

std::vector<std::size_t> indices(std::size_t n) {
    std::vector<std::size_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = i;
    return v;
}

class WeightedSamplesTest : public ::testing::TestWithParam<std::vector<double>> {};

// The standard discrete distribution over the same engine state is the reference for the
// draw order; the weights need not be normalised.
TEST_P(WeightedSamplesTest, MatchesTheStandardDiscreteDistribution) {
    const auto& weights = GetParam();
    const auto states = indices(weights.size());
    for (unsigned seed : {1u, 42u, 5489u}) {
        RNG::rng.seed(seed);
        std::mt19937 reference(seed);
        std::discrete_distribution<std::size_t> distribution(weights.begin(), weights.end());
        const auto drawn = MathUtils::samples(1000, states, weights);
        ASSERT_EQ(drawn.size(), 1000u);
        for (std::size_t i = 0; i < drawn.size(); ++i)
            ASSERT_EQ(drawn[i], distribution(reference)) << "draw " << i;
        EXPECT_EQ(RNG::rng, reference) << "two engine outputs per draw";
    }
}

INSTANTIATE_TEST_SUITE_P(Weights, WeightedSamplesTest,
                         ::testing::Values(std::vector<double>{1.0, 3.0},
                                           std::vector<double>{0.1, 0.2, 0.3, 0.4},
                                           std::vector<double>{5.0, 0.0, 1e-9, 2.0, 7.5},
                                           std::vector<double>{1.0, 1.0, 1.0, 1.0, 1.0, 1.0}));

TEST(WeightedSamplesTest, SingleCandidateDrawsNothing) {
    RNG::rng.seed(3);
    const std::mt19937 before = RNG::rng;
    const auto drawn = MathUtils::samples(4, std::vector<int>{7}, std::vector<double>{0.2});
    EXPECT_EQ(drawn, std::vector<int>(4, 7));
    EXPECT_EQ(RNG::rng, before);
}

TEST(WeightedSamplesTest, RejectsInputsItCannotDrawFrom) {
    EXPECT_TRUE(MathUtils::samples(0, std::vector<int>{}, std::vector<double>{}).empty());
    expect_throw_message<std::runtime_error>(
        [] { (void)MathUtils::samples(2, std::vector<int>{}, std::vector<double>{}); },
        "Unable to sample from empty distribution");
    expect_throw_message<std::invalid_argument>(
        [] {
            (void)MathUtils::samples(2, std::vector<int>{1}, std::vector<double>{0.5, 0.5});
        },
        "Number of states is not consistent with number of probabilities");
}

class UndrawableWeightsTest : public ::testing::TestWithParam<std::vector<double>> {};

// Weights with no draw to give are refused before the engine is touched, for any count.
TEST_P(UndrawableWeightsTest, AreRefused) {
    const auto& weights = GetParam();
    RNG::rng.seed(9);
    const std::mt19937 before = RNG::rng;
    for (std::size_t count : {0u, 1u, 5u})
        EXPECT_THROW((void)MathUtils::samples(count, indices(weights.size()), weights),
                     std::runtime_error);
    EXPECT_EQ(RNG::rng, before);
}

INSTANTIATE_TEST_SUITE_P(
    Weights, UndrawableWeightsTest,
    ::testing::Values(std::vector<double>{0.5, -0.5}, std::vector<double>{-1.0},
                      std::vector<double>{1.0, std::numeric_limits<double>::quiet_NaN()},
                      std::vector<double>{std::numeric_limits<double>::quiet_NaN()},
                      std::vector<double>{HUGE_VAL, 1.0}, std::vector<double>{0.0, 0.0},
                      std::vector<double>{0.0}, std::vector<double>{2.0, -2.0}));

TEST(WeightedSamplesTest, MessagesNameTheFault) {
    expect_throw_message<std::runtime_error>(
        [] {
            (void)MathUtils::samples(1, indices(2), std::vector<double>{0.5, -0.5});
        },
        "Unable to sample from weights that are negative or not finite (got -0.5)");
    expect_throw_message<std::runtime_error>(
        [] {
            (void)MathUtils::samples(1, indices(2), std::vector<double>{0.0, 0.0});
        },
        "Unable to sample from weights that sum to 0");
}

// Weights whose sum overflows draw as their ratios do.
TEST(WeightedSamplesTest, WeightsWhoseSumOverflows) {
    const std::vector<double> huge{1e308, 0.5e308, 1e308};
    const std::vector<double> ratios{1.0, 0.5, 1.0};
    RNG::rng.seed(5);
    const auto drawn = MathUtils::samples(1000, indices(3), huge);
    RNG::rng.seed(5);
    EXPECT_EQ(drawn, MathUtils::samples(1000, indices(3), ratios));
}

}  // namespace
