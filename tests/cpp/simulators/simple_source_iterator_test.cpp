#include "simulators/simple_source_iterator.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "simulators/source.h"
#include "simulators/source_groups.h"

namespace {

using Groups = std::vector<FockState>;
using Value = std::pair<Groups, double>;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

std::vector<Value> walk(SimpleSourceIterator const& range) {
    std::vector<Value> values;
    for (auto it = range.begin(); it != range.end(); ++it) values.push_back(*it);
    return values;
}

double total(std::vector<Value> const& values) {
    double sum = 0;
    for (const auto& v : values) sum += v.second;
    return sum;
}

struct IteratorCase {
    std::string name;
    Source source;
    std::vector<int> expected;
    int min_photons;
};

void PrintTo(IteratorCase const& c, std::ostream* os) {
    *os << c.name;
}

class SimpleSourceIteratorTest : public testing::TestWithParam<IteratorCase> {};

// The group lists enumerated, with their probabilities, are those of the exact mixture; over
// them the probabilities add up to the physical performance.
TEST_P(SimpleSourceIteratorTest, EnumeratesTheExactMixture) {
    const auto& c = GetParam();
    const FockState expected = fs(c.expected);
    source_groups::GroupDistribution exact;
    for (const auto& [groups, p] :
         source_groups::from_distribution(c.source.generate_distribution(expected, 0)))
        if (source_groups::photons(groups) >= c.min_photons) exact[groups] += p;

    const auto range = c.source.create_simple_iterator(expected, c.min_photons);
    const auto enumerated = source_groups::from_iterator(range);
    EXPECT_EQ(enumerated.size(), exact.size());
    for (const auto& [groups, p] : exact) {
        const auto it = enumerated.find(groups);
        ASSERT_NE(it, enumerated.end()) << fmt::format("{} missing", groups);
        EXPECT_NEAR(it->second, p, 1e-14) << fmt::format("{}", groups);
    }
    EXPECT_NEAR(total(walk(range)), range.physical_perf(), 1e-14);
    for (const auto& e : range.events())
        EXPECT_FALSE(e.single_indist == 1 && e.single_dist == 1 && e.pair_indist == 0 &&
                     e.pair_dist == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SimpleSourceIteratorTest,
    testing::Values(
        IteratorCase{"Partial", Source(0.9, 0.05, 0.7, 0.1, false), {1, 2, 0}, 0},
        IteratorCase{"PartialNoiseDistinguishable", Source(0.9, 0.2, 0.7, 0.1, true), {1, 1, 1}, 1},
        IteratorCase{"Distinguishable", Source(0.8, 0.1, 0, 0, false), {2, 1}, 0},
        IteratorCase{"DistinguishableNoise", Source(0.8, 0.1, 0, 0.2, true), {1, 1}, 2},
        IteratorCase{"Indistinguishable", Source(0.7, 0.1, 1, 0.3, false), {1, 1, 1}, 0},
        IteratorCase{"NoLosses", Source(1, 0.3, 0.6, 0, true), {1, 0, 2}, 0},
        IteratorCase{"FilteredAboveEverything", Source(0.7, 0.1, 0.5, 0.3, false), {1, 1}, 5}),
    [](const auto& info) { return info.param.name; });

TEST(SimpleSourceIteratorTest, NoExpectedPhoton) {
    const auto range = Source(0.5, 0.1, 0.5).create_simple_iterator(fs({0, 0}), 0);
    EXPECT_EQ(range.events(), std::vector<IteratorEvent>{IteratorEvent{}});
    EXPECT_EQ(walk(range), (std::vector<Value>{{{fs({0, 0})}, 1.0}}));
}

TEST(SimpleSourceIteratorTest, PerfectSource) {
    EXPECT_EQ(walk(Source().create_simple_iterator(fs({1, 1}), 0)),
              (std::vector<Value>{{{fs({1, 1})}, 1.0}}));
    // A lone photon is a group of its own, then comes the empty common group.
    EXPECT_EQ(walk(Source().create_simple_iterator(fs({1, 0}), 0)),
              (std::vector<Value>{{{fs({1, 0}), fs({0, 0})}, 1.0}}));
}

TEST(SimpleSourceIteratorTest, MergesEventsWithAtMostOneCommonPhoton) {
    const double m = 0.7, x = 1 - std::sqrt(m);
    const auto range = Source(1, 0, m, 0, false).create_simple_iterator(fs({1, 1}), 0);
    EXPECT_EQ(range.events(), (std::vector<IteratorEvent>{{2, 0, 0, 0}, {0, 2, 0, 0}}));
    ASSERT_EQ(range.probabilities().size(), 2u);
    EXPECT_NEAR(range.probabilities()[0], m, 1e-15);
    EXPECT_NEAR(range.probabilities()[1], x * x + 2 * x * (1 - x), 1e-15);
    EXPECT_NEAR(range.max_p(), m, 1e-15);
    const auto values = walk(range);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].first, Groups{fs({1, 1})});
    EXPECT_EQ(values[1].first, (Groups{fs({1, 0}), fs({0, 1}), fs({0, 0})}));
    EXPECT_NEAR(values[1].second, 1 - m, 1e-15);
}

TEST(SimpleSourceIteratorTest, EveryArrangementOnceWithTheEventProbability) {
    IteratorProbTable table{{{1, 1, 1, 0}, {0, 0, 0, 2}}, {0.25, 0.5}, 0.5, 1.0, 0};
    const SimpleSourceIterator range(table, fs({1, 1, 1}), false, true);
    const auto values = walk(range);
    ASSERT_EQ(values.size(), 9u);  // 3! arrangements, then 3
    std::vector<Groups> seen;
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(values[i].second, 0.25);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), values[i].first), 0);
        seen.push_back(values[i].first);
    }
    // First arrangement: a common photon, a distinguishable one, a pair with its signal photon
    // in the common group.
    EXPECT_EQ(values[0].first, (Groups{fs({0, 1, 0}), fs({1, 0, 2})}));
    // Two pairs with distinguishable signal photons, their additional photons in the common group.
    EXPECT_EQ(values[6].first, (Groups{fs({1, 0, 0}), fs({0, 1, 0}), fs({1, 1, 0})}));
    EXPECT_EQ(values[8].second, 0.5);
}

TEST(SimpleSourceIteratorTest, ThresholdSkipsWholeEventsWhereverTheyAre) {
    IteratorProbTable table{{{0, 0, 0, 0}, {2, 0, 0, 0}, {0, 0, 2, 0}, {1, 0, 1, 0}},
                            {0.1, 0.4, 0.05, 0.3},
                            0.4,
                            1.0,
                            0};
    SimpleSourceIterator range(table, fs({1, 1}), false, false);
    EXPECT_EQ(walk(range).size(), 1u + 1 + 1 + 2);
    range.set_prob_threshold(0.2);
    const auto kept = walk(range);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].second, 0.4);
    EXPECT_EQ(kept[1].second, 0.3);
    EXPECT_EQ(range.physical_perf(), 1.0);
    range.set_prob_threshold(0.5);
    EXPECT_TRUE(range.begin() == range.end());
}

TEST(SimpleSourceIteratorTest, StepsAndComparisons) {
    const auto range = Source(0.9, 0.1, 0.5, 0.1, true).create_simple_iterator(fs({1, 2}), 0);
    auto a = range.begin();
    auto b = range.begin();
    EXPECT_TRUE(a == b);
    b += 0;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(*a, *b);
    const auto before = a++;
    EXPECT_TRUE(before == b);
    EXPECT_FALSE(a == b);
    b += 1;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(*a, *b);
    b += 1000000;
    EXPECT_TRUE(b == range.end());
    ++b;
    EXPECT_TRUE(b == range.end());
}

TEST(SimpleSourceIteratorTest, MoreThanTheCodeLimitInTheCommonGroupIsRefused) {
    // 4096 positions that all yield a pair of common-group photons.
    const auto range = Source(1, 0.5, 1, 0, false).create_simple_iterator(fs({256}).pow(16), 0);
    EXPECT_EQ(range.events(), (std::vector<IteratorEvent>{IteratorEvent{0, 0, 4096, 0}}));
    EXPECT_THROW(range.begin(), std::runtime_error);
}

// n! overflows a double from n = 171: the physical performance stays finite in logarithms.
TEST(SimpleSourceIteratorTest, PhysicalPerformanceStaysFiniteBeyond170Photons) {
    const Source source(0.9, 0, 0.5, 0.1, false);
    const double p = source.prob_signal_photon();
    constexpr int n = 200;
    double pmf = std::pow(1 - p, n), tail = 0;
    for (int k = 0; k <= n; ++k) {
        if (k >= 150) tail += pmf;
        pmf *= (n - k) / (k + 1.0) * p / (1 - p);
    }
    EXPECT_NEAR(source.create_simple_iterator(fs({n}), 0).physical_perf(), 1.0, 1e-12);
    const auto filtered = source.create_simple_iterator(fs({n}), 150);
    EXPECT_NEAR(filtered.physical_perf() / tail, 1.0, 1e-9);
    EXPECT_GT(filtered.max_p(), 0.0);
}

}  // namespace
