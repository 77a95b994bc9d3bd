#include "simulators/source_sampler.h"

#include <cmath>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "runtime/rng.h"
#include "simulators/source.h"
#include "simulators/source_groups.h"
#include "test_support.h"

namespace {

using source_groups::GroupDistribution;
using test_support::expect_throw_message;
using Event = SourceSampler::Event;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

struct SamplerCase {
    std::string name;
    Source source;
    std::vector<int> expected;
    int min_photons;
};

void PrintTo(SamplerCase const& c, std::ostream* os) {
    *os << c.name;
}

class SourceSamplerFrequencyTest : public testing::TestWithParam<SamplerCase> {};

// Frequencies of the groups drawn, against the exact mixture restricted to the kept photon
// counts; the bound is 6 standard deviations plus the rounding of the mixture.
void expect_frequencies(GroupDistribution const& exact, GroupDistribution const& drawn, int count,
                        double physical_perf) {
    for (const auto& [groups, p] : exact) {
        const double q = p / physical_perf;
        const auto it = drawn.find(groups);
        const double f = it == drawn.end() ? 0.0 : it->second / count;
        EXPECT_NEAR(f, q, 6 * std::sqrt(q * (1 - q) / count) + 1e-12) << fmt::format("{}", groups);
    }
    for (const auto& [groups, c] : drawn)
        EXPECT_TRUE(exact.contains(groups)) << fmt::format("{} never expected", groups);
}

TEST_P(SourceSamplerFrequencyTest, MatchesTheExactMixture) {
    const auto& c = GetParam();
    const FockState expected = fs(c.expected);
    GroupDistribution exact;
    for (const auto& [groups, p] :
         source_groups::from_distribution(c.source.generate_distribution(expected, 0)))
        if (source_groups::photons(groups) >= c.min_photons) exact[groups] += p;
    double kept = 0;
    for (const auto& entry : exact) kept += entry.second;

    const SourceSampler sampler = c.source.create_sampler(expected, c.min_photons);
    EXPECT_NEAR(sampler.physical_perf(), kept, 1e-12);
    constexpr int count = 20000;
    RNG::rng.seed(20240613);
    GroupDistribution separated, noisy;
    for (const auto& sample : sampler.generate_separated_samples(count)) {
        ASSERT_FALSE(sample.empty());
        EXPECT_EQ(sample.back().n() == 0,
                  sample.size() == 1 && source_groups::photons(sample) == 0);
        separated[source_groups::canonical(sample)] += 1;
    }
    for (const auto& sample : sampler.generate_samples(count))
        noisy[source_groups::groups_of(BasicState(sample))] += 1;
    expect_frequencies(exact, separated, count, kept);
    expect_frequencies(exact, noisy, count, kept);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SourceSamplerFrequencyTest,
    testing::Values(
        SamplerCase{"Partial", Source(0.9, 0.05, 0.7, 0.1, false), {1, 2, 0}, 0},
        SamplerCase{"PartialNoiseDistinguishable", Source(0.9, 0.2, 0.7, 0.1, true), {1, 1, 1}, 1},
        SamplerCase{"Distinguishable", Source(0.8, 0.1, 0, 0, false), {2, 1}, 0},
        SamplerCase{"DistinguishableNoise", Source(0.8, 0.1, 0, 0.2, true), {1, 1}, 2},
        SamplerCase{"Indistinguishable", Source(0.7, 0.1, 1, 0.3, false), {1, 1, 1}, 0},
        SamplerCase{
            "IndistinguishableNoiseDistinguishable", Source(0.7, 0.3, 1, 0, true), {2, 1}, 0}),
    [](const auto& info) { return info.param.name; });

TEST(SourceSamplerTest, PerfectSourceDrawsNothing) {
    const auto sampler = Source().create_sampler(fs({1, 0, 1}), 0);
    const auto before = RNG::rng;
    const auto samples = sampler.generate_samples(3);
    const auto separated = sampler.generate_separated_samples(3);
    EXPECT_EQ(RNG::rng, before);
    ASSERT_EQ(samples.size(), 3u);
    for (const auto& s : samples) EXPECT_EQ(s, NoisyFockState(fs({1, 0, 1})));
    ASSERT_EQ(separated.size(), 3u);
    for (const auto& s : separated) EXPECT_EQ(s, std::vector<FockState>{fs({1, 0, 1})});
    EXPECT_EQ(sampler.zpp(), 0.0);
}

TEST(SourceSamplerTest, NoExpectedPhoton) {
    const Source source(0.9, 0.1, 0.5, 0.1, true);
    const auto sampler = source.create_sampler(fs({0, 0}), 0);
    EXPECT_EQ(sampler.events(), std::vector<Event>{Event{}});
    EXPECT_EQ(sampler.zpp(), 1.0);
    EXPECT_EQ(sampler.physical_perf(), 1.0);
    EXPECT_EQ(sampler.generate_samples(2),
              std::vector<NoisyFockState>(2, NoisyFockState(fs({0, 0}))));
    EXPECT_EQ(sampler.generate_separated_samples(1)[0], std::vector<FockState>{fs({0, 0})});

    const auto none = source.create_sampler(fs({0, 0}), 1);
    EXPECT_TRUE(none.events().empty());
    EXPECT_EQ(none.physical_perf(), 0.0);
    EXPECT_TRUE(none.generate_samples(0).empty());
    EXPECT_THROW(none.generate_samples(1), std::out_of_range);
    EXPECT_THROW(none.generate_separated_samples(1), std::out_of_range);
    EXPECT_THROW(none.generate_samples(-1), std::length_error);
}

TEST(SourceSamplerTest, TableKeepsTheFilteredEvents) {
    const Source source(0.9, 0.1, 0.5, 0.2, true);
    const auto all = source._compute_sampler_prob_table(3, 0);
    EXPECT_EQ(all.events.size(), 20u);  // (n + 1)(n + 2)(n + 3) / 6
    EXPECT_NEAR(all.physical_perf, 1.0, 1e-14);
    EXPECT_DOUBLE_EQ(all.zpp, std::pow(source.prob_no_photon(), 3));
    const auto some = source._compute_sampler_prob_table(3, 4);
    for (const auto& e : some.events)
        EXPECT_GE(e.signal_count + e.noise_count + 2 * e.pair_count, 4);
    EXPECT_EQ(some.zpp, all.zpp);
    EXPECT_LT(some.physical_perf, 1.0);

    // Nothing lost and no additional photon: every position yields its signal photon.
    const auto certain = Source(1, 0, 0.5, 0, true)._compute_sampler_prob_table(4, 0);
    EXPECT_EQ(certain.events, (std::vector<Event>{Event{4, 0, 0}}));
    EXPECT_EQ(certain.zpp, 0.0);
}

TEST(SourceSamplerTest, TagsRunOverTheSampleModeByMode) {
    RNG::rng.seed(1);
    const auto sampler = Source(1, 0, 0, 0, false).create_sampler(fs({1, 2, 1}), 0);
    EXPECT_FALSE(sampler.distinguishable_noise());
    for (const auto& s : sampler.generate_samples(5))
        EXPECT_EQ(s, NoisyFockState("|{1},{2}{3},{4}>"));
    EXPECT_EQ(sampler.generate_separated_samples(1)[0],
              (std::vector<FockState>{fs({1, 0, 0}), fs({0, 1, 0}), fs({0, 1, 0}), fs({0, 0, 1})}));

    const auto common = Source(1, 0, 1, 0, true).create_sampler(fs({1, 2}), 0);
    EXPECT_FALSE(common.distinguishable_noise());  // no additional photon to tell apart
    EXPECT_EQ(common.generate_samples(1)[0], NoisyFockState(fs({1, 2})));
    EXPECT_EQ(common.generate_separated_samples(1)[0], std::vector<FockState>{fs({1, 2})});
}

// Pairs of an indistinguishable signal photon and a distinguishable additional photon.
TEST(SourceSamplerTest, PairsPutTheAdditionalPhotonApart) {
    RNG::rng.seed(3);
    const auto sampler = Source(1, 0.5, 1, 0, true).create_sampler(fs({1, 1}), 0);
    EXPECT_TRUE(sampler.distinguishable_noise());
    EXPECT_EQ(sampler.generate_samples(1)[0], NoisyFockState("|{0}{1},{0}{2}>"));
    EXPECT_EQ(sampler.generate_separated_samples(1)[0],
              (std::vector<FockState>{fs({1, 0}), fs({0, 1}), fs({1, 1})}));
}

TEST(SourceSamplerTest, MoreThan255DistinguishablePhotonsAreRefused) {
    const FockState ones(std::vector<int>(256, 1));
    const auto sampler = Source(1, 0, 0, 0, false).create_sampler(ones, 0);
    expect_throw_message<std::runtime_error>(
        [&] { sampler.generate_samples(1); },
        "More than 255 distinguishable photons: noise tags cannot tell them apart");
    EXPECT_EQ(sampler.generate_separated_samples(1)[0].size(), 256u);
    const auto fewer =
        Source(1, 0, 0, 0, false).create_sampler(FockState(std::vector<int>(255, 1)), 0);
    EXPECT_EQ(fewer.generate_samples(1)[0].tags()[254], 255);
}

TEST(SourceSamplerTest, MoreThanTheCodeLimitIsRefused) {
    // 4096 positions that all yield a pair: 8192 photons.
    const auto sampler = Source(1, 0.5, 1, 0, false).create_sampler(fs({256}).pow(16), 0);
    EXPECT_EQ(sampler.events(), (std::vector<Event>{Event{0, 0, 4096}}));
    EXPECT_THROW(sampler.generate_samples(1), std::runtime_error);
    EXPECT_THROW(sampler.generate_separated_samples(1), std::runtime_error);
}

// n! overflows a double from n = 171: the weights stay finite in logarithms.
TEST(SourceSamplerTest, WeightsStayFiniteBeyond170Photons) {
    const Source source(0.9, 0, 0.5, 0.1, false);
    const double p = source.prob_signal_photon();
    constexpr int n = 200;
    // Binomial tail by its ratio recurrence, free of factorials.
    double pmf = std::pow(1 - p, n), tail = 0;
    for (int k = 0; k <= n; ++k) {
        if (k >= 150) tail += pmf;
        pmf *= (n - k) / (k + 1.0) * p / (1 - p);
    }
    const auto all = source.create_sampler(fs({n}), 0);
    EXPECT_NEAR(all.physical_perf(), 1.0, 1e-12);
    const auto filtered = source.create_sampler(fs({n}), 150);
    EXPECT_NEAR(filtered.physical_perf() / tail, 1.0, 1e-9);
    RNG::rng.seed(5);
    for (const auto& s : filtered.generate_separated_samples(50))
        EXPECT_GE(source_groups::photons(s), 150);

    const auto noisy = Source(0.9, 0.1, 0.5, 0.1, true).create_sampler(fs({n}), 0);
    EXPECT_NEAR(noisy.physical_perf(), 1.0, 1e-9);
}

}  // namespace
