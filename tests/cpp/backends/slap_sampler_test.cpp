#include "backends/slap_sampler.h"

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slap.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using namespace backend_reference;
using Backend::SLAPSampler;
using test_support::expect_throw_message;

SLAPSampler make_sampler(Matrix const& u) {
    SLAPSampler sampler;
    sampler.setUnitary(u);
    return sampler;
}

long long total(std::vector<int> const& counts) {
    return std::accumulate(counts.begin(), counts.end(), 0LL);
}

// Total variation distance between a histogram and SLAP's probabilities.
double distance(std::vector<int> const& counts, Matrix const& u, Counts const& input) {
    Backend::SLAP slap;
    slap.setUnitary(u);
    slap.setInputState(FockState(input));
    const std::vector<double> p = slap.computeProbabilities();
    EXPECT_EQ(p.size(), counts.size());
    const double n = static_cast<double>(total(counts));
    double d = 0;
    for (std::size_t i = 0; i < p.size(); ++i) d += std::abs(counts[i] / n - p[i]);
    return d / 2;
}

struct Case {
    int m;
    Counts input;
    int samples;
    double bound;
};

class SLAPSamplerDistributionTest : public ::testing::TestWithParam<Case> {};

// Seeded, with bounds well above the expected distance of each size (about sqrt(states / samples)
// at most): both computers, groups split by binomial draws (many samples per node) and by discrete
// draws (few), photons sharing modes.
TEST_P(SLAPSamplerDistributionTest, HistogramsMatchTheProbabilities) {
    const Case c = GetParam();
    std::mt19937 engine(static_cast<unsigned>(c.m * 31 + c.samples));
    const Matrix u = haar_unitary(c.m, engine);
    SLAPSampler sampler = make_sampler(u);
    RNG::rng.seed(2024);
    std::vector<int> const& counts = sampler.generateSamples(FockState(c.input), c.samples);
    EXPECT_EQ(total(counts), c.samples);
    EXPECT_LT(distance(counts, u, c.input), c.bound);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SLAPSamplerDistributionTest,
    ::testing::Values(Case{4, {1, 1, 1, 0}, 1000000, 0.01}, Case{4, {0, 2, 0, 1}, 200000, 0.02},
                      Case{3, {0, 1, 0}, 100000, 0.01}, Case{5, {1, 0, 2, 1, 1}, 400000, 0.03},
                      Case{6, {1, 1, 1, 1, 1, 1}, 200000, 0.12}, Case{3, {1, 1, 1}, 2000, 0.12}));

// Hong-Ou-Mandel: |1,1> never comes out of a balanced splitter, whatever the split of the rest.
TEST(SLAPSamplerTest, BalancedSplitterNeverGivesOneOne) {
    SLAPSampler sampler = make_sampler(beam_splitter());
    for (int count : {1, 2, 3, 10, 100000}) {
        std::vector<int> const& counts = sampler.generateSamples(FockState(Counts{1, 1}), count);
        ASSERT_EQ(counts.size(), 3u);
        EXPECT_EQ(counts[1], 0);
        EXPECT_EQ(total(counts), count);
    }
    std::vector<int> const& counts = sampler.generateSamples(FockState(Counts{1, 1}), 100000);
    EXPECT_NEAR(counts[0], 50000, 1000);
}

// Modes the unitary never reaches have weight exactly 0; rounding in the binomial split must not
// send samples there, where every weight would be 0.
TEST(SLAPSamplerTest, ModesOfZeroWeightGetNothing) {
    Matrix u = Matrix::Identity(4, 4);
    u.topLeftCorner(2, 2) = beam_splitter();
    SLAPSampler sampler = make_sampler(u);
    RNG::rng.seed(1);
    std::vector<int> const& counts =
        sampler.generateSamples(FockState(Counts{1, 1, 0, 0}), 1000000);
    const std::vector<int> reached = {0, 1, 4};  // |2,0,0,0>, |1,1,0,0>, |0,2,0,0>
    EXPECT_EQ(counts[reached[0]] + counts[reached[2]], 1000000);
    EXPECT_EQ(counts[reached[1]], 0);
}

TEST(SLAPSamplerTest, IdentityAndVacuumAndZeroCount) {
    SLAPSampler sampler = make_sampler(Matrix::Identity(3, 3));
    std::vector<int> counts = sampler.generateSamples(FockState(Counts{0, 2, 1}), 500);
    std::vector<int> expected(10, 0);
    expected[7] = 500;  // |0,2,1>
    EXPECT_EQ(counts, expected);
    // The vacuum takes no draw.
    RNG::rng.seed(5);
    const auto before = RNG::rng;
    EXPECT_EQ(sampler.generateSamples(FockState(3), 7), std::vector<int>{7});
    EXPECT_EQ(RNG::rng, before);
    EXPECT_EQ(sampler.generateSamples(FockState(Counts{1, 1, 0}), 0), std::vector<int>(6, 0));
}

TEST(SLAPSamplerTest, SeedsReproduceAndCopiesAreIndependent) {
    std::mt19937 engine(8);
    SLAPSampler sampler = make_sampler(haar_unitary(5, engine));
    const FockState input(Counts{1, 0, 2, 0, 1});
    RNG::rng.seed(77);
    const std::vector<int> first = sampler.generateSamples(input, 5000);
    SLAPSampler copy(sampler);
    RNG::rng.seed(77);
    EXPECT_EQ(sampler.generateSamples(input, 5000), first);
    RNG::rng.seed(77);
    EXPECT_EQ(copy.generateSamples(input, 5000), first);
    // A second call holds its own samples only.
    EXPECT_EQ(total(sampler.generateSamples(input, 321)), 321);
}

TEST(SLAPSamplerTest, OnePhotonFollowsItsColumn) {
    std::mt19937 engine(4);
    const Matrix u = haar_unitary(4, engine);
    SLAPSampler sampler = make_sampler(u);
    RNG::rng.seed(9);
    std::vector<int> const& counts = sampler.generateSamples(FockState(Counts{0, 0, 1, 0}), 400000);
    for (int mu = 0; mu < 4; ++mu) {
        const double p = std::norm(u(mu, 2));
        // Five standard deviations.
        EXPECT_NEAR(counts[static_cast<std::size_t>(mu)] / 400000.0, p,
                    5 * std::sqrt(p * (1 - p) / 400000) + 1e-9);
    }
}

TEST(SLAPSamplerTest, RefusalsLeaveTheSamplerAsItWas) {
    SLAPSampler sampler;
    expect_throw_message<std::runtime_error>(
        [&] { sampler.generateSamples(FockState(Counts{1}), 1); },
        "The unitary must be set before sampling");
    sampler.setUnitary(beam_splitter());
    const std::vector<int> first = sampler.generateSamples(FockState(Counts{2, 0}), 10);
    Matrix bad = Matrix::Identity(2, 2);
    bad(0, 1) = 0.5;
    expect_throw_message<std::runtime_error>([&] { sampler.setUnitary(bad); },
                                             "Matrix is not unitary");
    expect_throw_message<std::runtime_error>([&] { sampler.setUnitary(Matrix::Identity(3, 2)); },
                                             "Matrix is not unitary");
    bad(0, 1) = std::numeric_limits<double>::infinity();
    expect_throw_message<std::invalid_argument>(
        [&] { sampler.setUnitary(bad); },
        "Matrix holds a value that is not finite: (inf+0j) at row 0, column 1");
    expect_throw_message<std::invalid_argument>(
        [&] {
            sampler.generateSamples(FockState(Counts{1, 1}), -1);
        },
        "The number of samples must be at least 0, not -1");
    expect_throw_message<std::runtime_error>(
        [&] { sampler.generateSamples(FockState(Counts{1}), 1); },
        "Matrix/input state sizes mismatch: 1 input modes for a unitary of 2 modes");
    EXPECT_THROW(sampler.generateSamples(FockState(Counts{1, 0, 0}), 1), std::runtime_error);
    EXPECT_THROW(sampler.generateSamples(FockState(Counts{SLAPSampler::max_photons + 1, 0}), 1),
                 std::runtime_error);
    // Still the splitter of 2 modes, and the last histogram.
    SLAPSampler copy(sampler);
    EXPECT_EQ(total(copy.generateSamples(FockState(Counts{1, 1}), 9)), 9);
    EXPECT_EQ(copy.generateSamples(FockState(Counts{1, 1}), 9)[1], 0);
}

}  // namespace
