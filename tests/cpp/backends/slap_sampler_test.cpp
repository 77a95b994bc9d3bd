#include "backends/slap_sampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/fock_state_indexing.h"
#include "backends/slap.h"
#include "backends/slap_computer.h"
#include "backends/slap_computer_unrolled.h"
#include "runtime/combinatorics.h"
#include "runtime/keyboard_interrupt_exception.h"
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

// The sampler as the steps of its algorithm read, draw for draw, with the same coefficient
// computers: the reference for seeded histograms. Only the clamp of probabilities that rounding
// puts a hair outside [0, 1] is added, which the distribution's precondition asks for and which
// changes neither an outcome nor what is taken from the engine.
template <typename Computer>
class ReferenceSampler {
  public:
    ReferenceSampler(Matrix const& u, FockState const& input, int count)
        : m_(static_cast<int>(u.cols())),
          n_(input.n()),
          full_(1u << n_),
          r_(Backend::repeatColumns(u, input)),
          table_(Backend::prepareCombinations(m_, n_)),
          computer_(n_),
          counts_(static_cast<std::size_t>(MathUtils::comb(static_cast<unsigned>(n_ + m_ - 1),
                                                           static_cast<unsigned>(n_))),
                  0),
          branch_(static_cast<std::size_t>(m_) * full_, 0),
          level_(static_cast<std::size_t>(n_) * static_cast<std::size_t>(m_), 0),
          state_(static_cast<std::size_t>(m_), 0) {
        branch_[full_ - 1] = count;
        computer_.start(input.prodnfact());
        dispatch(n_, 0);
        if (n_ == 1)
            collect();
        else
            children(0);
    }

    std::vector<int> const& counts() const { return counts_; }

  private:
    static int binomial(int trials, double p) {
        return std::binomial_distribution<int>(trials, std::clamp(p, 0.0, 1.0))(RNG::rng);
    }

    // The children of a node of degree t that received samples, in increasing mode.
    void children(int t) {
        for (int i = 0; i < m_; ++i) {
            if (level_[static_cast<std::size_t>(t * m_ + i)] == 0) continue;
            ++state_[static_cast<std::size_t>(i)];
            const int d = t + 1;
            computer_.update(r_.row(i).data(), state_[static_cast<std::size_t>(i)], d);
            dispatch(n_ - d, i);
            if (d == n_ - 1)
                collect();
            else
                children(d);
            --state_[static_cast<std::size_t>(i)];
        }
    }

    void collect() {
        for (int i = 0; i < m_; ++i) {
            int& b = branch_[static_cast<std::size_t>(i) * full_];
            ++state_[static_cast<std::size_t>(i)];
            counts_[static_cast<std::size_t>(Backend::getIndexFromFockState(state_, n_, table_))] +=
                b;
            --state_[static_cast<std::size_t>(i)];
            b = 0;
        }
    }

    void dispatch(int k, int mu) {
        const int t = n_ - k;
        std::fill_n(level_.begin() + t * m_, m_, 0);
        auto const& c = computer_.table();
        for (unsigned s = (1u << k) - 1; s < full_;) {
            int count = branch_[static_cast<std::size_t>(mu) * full_ + s];
            branch_[static_cast<std::size_t>(mu) * full_ + s] = 0;
            std::vector<int> photons;
            for (int j = 0; j < n_; ++j)
                if (s & (1u << j)) photons.push_back(j);
            double q = 1.0;
            for (std::size_t x = 0; x < photons.size() && count > 0; ++x) {
                int v = count;
                if (x + 1 < photons.size()) {
                    v = binomial(count, (1.0 / k) / q);
                    q = q - 1.0 / k;
                }
                count -= v;
                if (v == 0) continue;
                const unsigned w = s & ~(1u << photons[x]);
                std::vector<double> weights(static_cast<std::size_t>(m_));
                for (int i = 0; i < m_; ++i) {
                    cx a = 0;
                    for (int p = 0; p < n_; ++p)
                        if (!(w & (1u << p))) a += r_(i, p) * c[w | (1u << p)];
                    weights[static_cast<std::size_t>(i)] =
                        a.real() * a.real() + a.imag() * a.imag();
                }
                auto add = [&](int i, int g) {
                    branch_[static_cast<std::size_t>(i) * full_ + w] += g;
                    level_[static_cast<std::size_t>(t * m_ + i)] += g;
                };
                if (m_ < v) {
                    double total = 0;
                    for (double weight : weights) total += weight;
                    for (int i = 0; i + 1 < m_; ++i) {
                        const int g = binomial(v, weights[static_cast<std::size_t>(i)] / total);
                        add(i, g);
                        v -= g;
                        total -= weights[static_cast<std::size_t>(i)];
                    }
                    add(m_ - 1, v);
                } else {
                    std::discrete_distribution<int> modes(weights.begin(), weights.end());
                    for (; v > 0; --v) add(modes(RNG::rng), 1);
                }
            }
            const unsigned u = s | (s - 1);
            s = (u + 1) | (((~u & (u + 1)) - 1) >> (std::countr_zero(s) + 1));
        }
    }

    int m_;
    int n_;
    unsigned full_;
    Matrix r_;
    std::vector<long long> table_;
    Computer computer_;
    std::vector<int> counts_;
    std::vector<int> branch_;
    std::vector<int> level_;
    Counts state_;
};

struct SeedCase {
    int m;
    Counts input;
    int samples;
    unsigned seed;
    bool blocks;  // the unitary leaves some modes alone: weights of exactly 0
};

class SLAPSamplerSeedTest : public ::testing::TestWithParam<SeedCase> {};

// The histogram of a seed is the one the algorithm's own draws give: the photon of a group is
// drawn with the running share (1/k) / q, and every mode of a split takes its draw.
TEST_P(SLAPSamplerSeedTest, HistogramsFollowTheAlgorithmDrawForDraw) {
    const SeedCase c = GetParam();
    std::mt19937 engine(c.seed);
    Matrix u = haar_unitary(c.m, engine);
    if (c.blocks) {
        const Matrix half = haar_unitary(c.m / 2, engine);
        u.setIdentity();
        u.topLeftCorner(c.m / 2, c.m / 2) = half;
    }
    const FockState input(c.input);
    SLAPSampler sampler = make_sampler(u);
    RNG::rng.seed(c.seed);
    const std::vector<int> counts = sampler.generateSamples(input, c.samples);
    RNG::rng.seed(c.seed);
    const std::vector<int> expected =
        input.n() <= Backend::SLAP::unrolled_photons
            ? ReferenceSampler<Backend::SLAPComputer_unrolled>(u, input, c.samples).counts()
            : ReferenceSampler<Backend::SLAPComputer>(u, input, c.samples).counts();
    EXPECT_EQ(counts, expected);
    EXPECT_EQ(total(counts), c.samples);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SLAPSamplerSeedTest,
                         ::testing::Values(SeedCase{3, {1, 1, 0}, 100000, 1, false},
                                           SeedCase{3, {1, 1, 1}, 7, 2, false},
                                           SeedCase{3, {2, 1, 0}, 1000, 3, false},
                                           SeedCase{4, {1, 0, 1, 1}, 200000, 4, false},
                                           SeedCase{4, {1, 1, 1, 1}, 50, 5, false},
                                           SeedCase{6, {1, 1, 1, 1, 1, 0}, 100000, 6, false},
                                           SeedCase{6, {0, 2, 1, 0, 1, 1}, 3000, 7, false},
                                           SeedCase{5, {1, 0, 0, 0, 0}, 100000, 8, false},
                                           SeedCase{6, {1, 1, 1, 0, 0, 0}, 100000, 9, true},
                                           SeedCase{8, {1, 1, 0, 1, 0, 0, 0, 0}, 20000, 10, true}),
                         [](auto const& info) {
                             return "m" + std::to_string(info.param.m) + "_seed" +
                                    std::to_string(info.param.seed);
                         });

TEST(SLAPSamplerTest, CtrlCEndsTheWalkAndTheNextCallRuns) {
    SLAPSampler sampler;
    sampler.setUnitary(Matrix::Identity(12, 12));
    const FockState input(std::vector<int>{1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0});
    {
        test_support::CtrlC ctrl_c;
        test_support::expect_throw_message<KeyboardInterruptException>(
            [&] { sampler.generateSamples(input, 1000); }, "Process interrupted by user.");
    }
    const std::vector<int>& counts = sampler.generateSamples(input, 1000);
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 1000);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), 1000), 1);
}

}  // namespace
