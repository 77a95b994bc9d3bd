#include "fockspace/fock_space_distribution.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fockspace/fock_space_function.h"
#include "fockspace/fs_array.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using Entries = std::vector<std::pair<std::vector<int>, double>>;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

std::unordered_map<FockState, double> map_of(Entries const& entries) {
    std::unordered_map<FockState, double> map;
    for (auto const& [counts, value] : entries) map[fs(counts)] = value;
    return map;
}

FockSpaceDistribution trusted(Entries const& entries) {
    return FockSpaceDistribution(map_of(entries), true, 0.0);
}

void expect_empty_distribution(std::function<void()> const& f) {
    expect_throw_message<std::runtime_error>(f, "Unable to normalize an empty distribution");
}

TEST(FockSpaceDistributionTest, CheckedMapConstructorDropsNonPositiveEntriesAndRenormalises) {
    const FockSpaceDistribution d(map_of({{{1, 0}, 3.0}, {{0, 1}, 0.0}, {{2, 0}, -1.0}}), false,
                                  0.0);
    EXPECT_EQ(d.size(), 1u);
    EXPECT_EQ(d.get(fs({1, 0})), 1.0);

    const FockSpaceDistribution thirds(map_of({{{1, 0}, 2.0}, {{0, 1}, 1.0}, {{2, 0}, 0.5}}), false,
                                       0.5);
    EXPECT_EQ(thirds.size(), 2u);
    EXPECT_DOUBLE_EQ(thirds.get(fs({1, 0})), 2.0 / 3);
    EXPECT_DOUBLE_EQ(thirds[fs({0, 1})], 1.0 / 3);
    EXPECT_EQ(thirds[fs({2, 0})], 0.0);
    EXPECT_FALSE(thirds.contains(fs({2, 0})));

    for (Entries const& entries : {Entries{{{1, 0}, 0.0}}, Entries{}})
        expect_empty_distribution([&] { FockSpaceDistribution(map_of(entries), false, 0.0); });
    expect_throw_message<std::invalid_argument>(
        [] {
            FockSpaceDistribution(map_of({{{1, 0}, 2.0}, {{0, 1}, 2.0}, {{1, 1, 0}, 1.0}}), false,
                                  0.0);
        },
        "Number of modes is not consistent");

    // Trusted input is taken as it is.
    const auto raw = trusted({{{1, 0}, 3.0}, {{0, 1}, -1.0}, {{1}, 0.0}});
    EXPECT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw.get(fs({1, 0})), 3.0);
}

TEST(FockSpaceDistributionTest, SingleStateAndEmptyDistributions) {
    const FockSpaceDistribution one(fs({1, 0, 2}));
    EXPECT_EQ(one.get_m(), 3);
    EXPECT_EQ(one.get(fs({1, 0, 2})), 1.0);
    EXPECT_EQ(fmt::format("{}", one), "{\n\t|1,0,2>: 1\n}");
    expect_throw_message<std::invalid_argument>([&] { one.check_m(fs({1})); },
                                                "Number of modes is not consistent");

    const FockSpaceDistribution empty;
    EXPECT_FALSE(empty.get_m());
    EXPECT_NO_THROW(empty.check_m(fs({1})));
    EXPECT_EQ(fmt::format("{}", empty), "{\n}");
}

TEST(FockSpaceDistributionTest, ArrayConstructorKeepsProbabilitiesAboveTheThreshold) {
    const FsArray pair(2, 1);  // |1,0>, |0,1>
    const FockSpaceDistribution halves(pair, {0.2, 0.2}, 0.0);
    EXPECT_EQ(halves, trusted({{{1, 0}, 0.5}, {{0, 1}, 0.5}}));

    const FsArray triple(3, 1);
    const FockSpaceDistribution signed_threshold(triple, {-0.5, 0.25, 0.75}, 0.0);
    EXPECT_EQ(signed_threshold, trusted({{{0, 1, 0}, 0.25}, {{0, 0, 1}, 0.75}}));

    EXPECT_EQ(FockSpaceDistribution(pair, {0.0, 0.3}, 0.0), FockSpaceDistribution(fs({0, 1})));
    for (auto const& [probabilities, threshold] : {std::pair{std::vector<double>{0.0, 0.0}, 0.0},
                                                   std::pair{std::vector<double>{0.0, 0.3}, 0.3}})
        expect_throw_message<std::runtime_error>(
            [&] { FockSpaceDistribution(pair, probabilities, threshold); },
            "Unable to normalize an object with only null components");
    expect_throw_message<std::invalid_argument>(
        [&] { FockSpaceDistribution(pair, {1.0}, 0.0); },
        "Number of states is not consistent with number of probabilities");
}

class NonFiniteProbabilityTest : public ::testing::TestWithParam<double> {};

// Every path that takes outside values into a distribution refuses one that is not finite, even
// where the threshold would have dropped it, and a refusing conversion leaves its source whole.
TEST_P(NonFiniteProbabilityTest, IsRefusedWhereverValuesComeIn) {
    const double bad = GetParam();
    const std::string message = fmt::format("Probabilities must be finite, got {} for |0,1>", bad);
    expect_throw_message<std::invalid_argument>(
        [&] {
            FockSpaceDistribution(map_of({{{1, 0}, 1.0}, {{0, 1}, bad}}), false, 0.0);
        },
        message);
    const FsArray pair(2, 1);  // |1,0>, |0,1>
    expect_throw_message<std::invalid_argument>(
        [&] {
            FockSpaceDistribution(pair, {1.0, bad}, 0.0);
        },
        message);
    expect_throw_message<std::invalid_argument>(
        [&] { FockSpaceDistribution(pair, {1.0}, 0.0); },
        "Number of states is not consistent with number of probabilities");

    FockSpaceFunction f(map_of({{{1, 0}, 1.0}, {{0, 1}, bad}}), false);
    expect_throw_message<std::invalid_argument>([&] { (void)std::as_const(f).toFSD(0.0); },
                                                message);
    expect_throw_message<std::invalid_argument>([&] { (void)std::move(f).toFSD(0.0); }, message);
    EXPECT_EQ(f.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Values, NonFiniteProbabilityTest,
                         ::testing::Values(HUGE_VAL, -HUGE_VAL, std::nan("")));

// Values whose sum overflows are still normalised, by their ratios.
TEST(FockSpaceDistributionTest, NormalisesValuesWhoseSumOverflows) {
    const auto expected = trusted({{{1, 0}, 0.25}, {{0, 1}, 0.75}});
    EXPECT_EQ(FockSpaceDistribution(map_of({{{1, 0}, 0.5e308}, {{0, 1}, 1.5e308}}), false, 0.0),
              expected);
    EXPECT_EQ(FockSpaceDistribution(FsArray(2, 1), {0.5e308, 1.5e308}, 0.0), expected);
    EXPECT_EQ(FockSpaceDistribution(map_of({{{1, 0}, 1e308}, {{0, 1}, 1e308}}), false, 0.0),
              trusted({{{1, 0}, 0.5}, {{0, 1}, 0.5}}));
    auto d = trusted({{{1, 0}, 1e308}, {{0, 1}, 1e308}, {{1, 1}, 1.0}});
    d.trim_relative(0.5);
    EXPECT_EQ(d, trusted({{{1, 0}, 0.5}, {{0, 1}, 0.5}}));
}

TEST(FockSpaceDistributionTest, FailedMoveToAFunctionLeavesTheDistributionWhole) {
    auto mixed = trusted({{{1, 0}, 0.5}, {{1}, 0.5}});
    expect_throw_message<std::invalid_argument>(
        [&] { (void)std::move(mixed).toFockSpaceFunction(); }, "Number of modes is not consistent");
    EXPECT_EQ(mixed.size(), 2u);
}

struct TrimCase {
    std::string name;
    double threshold;
    bool relative;
    Entries expected;  // empty: throws and changes nothing
};

class FockSpaceDistributionTrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(FockSpaceDistributionTrimTest, ErasesAtOrBelowTheCutAndRenormalises) {
    const auto original = trusted({{{2, 0}, 0.6}, {{1, 1}, 0.3}, {{0, 2}, 0.1}});
    auto d = original;
    const auto& c = GetParam();
    auto trim = [&] { c.relative ? d.trim_relative(c.threshold) : d.trim(c.threshold); };
    if (c.expected.empty()) {
        expect_empty_distribution(trim);
        EXPECT_EQ(d, original);
        return;
    }
    trim();
    ASSERT_EQ(d.size(), c.expected.size());
    for (auto const& [counts, p] : c.expected) EXPECT_DOUBLE_EQ(d.get(fs(counts)), p);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FockSpaceDistributionTrimTest,
    ::testing::Values(
        TrimCase{"AtTheMiddleValue", 0.3, false, {{{2, 0}, 1.0}}},
        TrimCase{"AtTheLargestValue", 0.6, false, {}},
        TrimCase{"BelowEveryValue", 0.05, false, {{{2, 0}, 0.6}, {{1, 1}, 0.3}, {{0, 2}, 0.1}}},
        TrimCase{"RelativeHalf", 0.5, true, {{{2, 0}, 1.0}}},
        TrimCase{"RelativeQuarter", 0.25, true, {{{2, 0}, 2.0 / 3}, {{1, 1}, 1.0 / 3}}},
        TrimCase{"RelativeZeroKeepsAll", 0.0, true, {{{2, 0}, 0.6}, {{1, 1}, 0.3}, {{0, 2}, 0.1}}},
        TrimCase{"RelativeOne", 1.0, true, {}}),
    [](auto const& info) { return info.param.name; });

TEST(FockSpaceDistributionTest, TrimDividesOnlyWhenTheSumIsNotOne) {
    // 0.1 + 0.2 + 0.7 is not exactly 1 in floating point, 0.25 + 0.75 is.
    auto exact = trusted({{{1, 0}, 0.25}, {{0, 1}, 0.75}});
    exact.trim(0.0);
    EXPECT_EQ(exact.get(fs({1, 0})), 0.25);

    auto unnormalised = trusted({{{1, 0}, 1.0}, {{0, 1}, 3.0}});
    unnormalised.trim(0.0);
    EXPECT_EQ(unnormalised, trusted({{{1, 0}, 0.25}, {{0, 1}, 0.75}}));

    FockSpaceDistribution empty;
    expect_empty_distribution([&] { empty.trim(0.0); });
    expect_empty_distribution([&] { empty.trim_relative(0.5); });
    auto negative = trusted({{{1, 0}, -1.0}});
    expect_empty_distribution([&] { negative.trim_relative(0.0); });
}

TEST(FockSpaceDistributionTest, ConversionToAFunctionAndComparisonWithFunctions) {
    const auto d = trusted({{{1, 0}, 0.75}, {{0, 1}, 0.25}});
    FockSpaceFunction f = d.toFockSpaceFunction();
    EXPECT_TRUE(d == f && f == d);
    f[fs({2, 0})] = 0.0;
    EXPECT_TRUE(d == f && f == d);
    f[fs({0, 2})] = 0.125;
    EXPECT_TRUE(d != f && f != d);
    EXPECT_FALSE(d == f || f == d);

    auto moved = d;
    const FockSpaceFunction g = std::move(moved).toFockSpaceFunction();
    EXPECT_EQ(g, d);
    EXPECT_EQ(moved.size(), 0u);
    EXPECT_FALSE(moved.get_m());

    auto mixed = trusted({{{1, 0}, 0.5}, {{1}, 0.5}});
    expect_throw_message<std::invalid_argument>([&] { (void)mixed.toFockSpaceFunction(); },
                                                "Number of modes is not consistent");
}

TEST(FockSpaceDistributionTest, SampleErrorsAndTheVacuum) {
    const auto half_vacuum = trusted({{{0, 0}, 0.5}, {{1, 0}, 0.5}});
    const auto draws = half_vacuum.sample(5, false);
    EXPECT_EQ(draws, std::vector<FockState>(5, fs({1, 0})));
    EXPECT_TRUE(half_vacuum.sample(0, true).empty());

    for (auto const& [d, allow_void] :
         {std::pair{trusted({{{0, 0}, 1.0}}), false}, std::pair{FockSpaceDistribution(), true}})
        for (std::size_t count : {0u, 3u})
            expect_throw_message<std::runtime_error>([&] { (void)d.sample(count, allow_void); },
                                                     "Unable to sample from empty distribution");
}

TEST(FockSpaceDistributionTest, SampleFrequenciesFollowTheProbabilities) {
    const auto d = trusted({{{0, 0}, 0.1}, {{1, 0}, 0.2}, {{0, 1}, 0.3}, {{1, 1}, 0.4}});
    constexpr std::size_t count = 200000;
    for (bool allow_void : {true, false}) {
        RNG::rng.seed(1234);
        const auto draws = d.sample(count, allow_void);
        ASSERT_EQ(draws.size(), count);
        std::map<std::vector<int>, std::size_t> seen;
        for (auto const& s : draws) ++seen[s.to_vect()];
        const double total = allow_void ? 1.0 : 0.9;
        for (auto const& [state, p] : d) {
            const double expected = (!allow_void && state.n() == 0) ? 0.0 : p / total;
            const double sigma = std::sqrt(expected * (1 - expected) / count);
            EXPECT_NEAR(static_cast<double>(seen[state.to_vect()]) / count, expected,
                        5 * sigma + 1e-12)
                << fmt::format("{}", state);
        }
    }

    // Reseeding reproduces the sequence.
    RNG::rng.seed(7);
    const auto first = d.sample(50, true);
    RNG::rng.seed(7);
    EXPECT_EQ(d.sample(50, true), first);
}

TEST(FockSpaceDistributionTest, MoveLeavesTheSourceEmpty) {
    auto d = trusted({{{1, 0}, 1.0}});
    FockSpaceDistribution e(std::move(d));
    EXPECT_EQ(d.size(), 0u);
    d = std::move(e);
    EXPECT_EQ(e.size(), 0u);
    EXPECT_EQ(d.size(), 1u);
}

}  // namespace
