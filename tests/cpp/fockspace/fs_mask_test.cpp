#include "fockspace/fs_mask.h"

#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "states/fock_state.h"
#include "test_support.h"

using test_support::all_counts;
using test_support::Counts;
using test_support::expect_throw_message;

namespace {

FsMask make_mask(int m, int n, std::list<std::string> conditions,
                 std::optional<std::vector<int>> unbounded) {
    if (unbounded) return FsMask(m, n, std::move(conditions), *unbounded);
    return FsMask(m, n, std::move(conditions));
}

}  // namespace

namespace {

struct MatchCase {
    const char* name;
    int m;
    int n;
    std::list<std::string> conditions;
    std::optional<std::vector<int>> unbounded;
    Counts state;
    bool allow_missing;
    bool expected;
};

}  // namespace

class FsMaskMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(FsMaskMatch, MatchesAsDocumented) {
    const auto& c = GetParam();
    const FsMask mask = make_mask(c.m, c.n, c.conditions, c.unbounded);
    const FockState fs(c.state);
    EXPECT_EQ(mask.match(fs, c.allow_missing), c.expected);
    const int photons = std::accumulate(c.state.begin(), c.state.end(), 0);
    EXPECT_EQ(c.allow_missing ? mask.inner_match_incomplete_state(c.state, photons)
                              : mask.inner_match_exact(c.state),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FsMaskMatch,
    testing::Values(
        MatchCase{"AnyModeIgnoresCount", 3, 6, {"10*"}, {}, {1, 0, 5}, false, true},
        MatchCase{"CountMustBeExact", 3, 2, {"10*"}, {}, {1, 1, 0}, false, false},
        MatchCase{"ColonIsTen", 1, 10, {":"}, {}, {10}, false, true},
        MatchCase{"ColonIsNotNine", 1, 10, {":"}, {}, {9}, false, false},
        MatchCase{"LetterOIs31", 1, 31, {"O"}, {}, {31}, false, true},
        MatchCase{"LetterPAcceptsAny", 1, 3, {"P"}, {}, {3}, false, true},
        MatchCase{"BlankAcceptsAny", 2, 3, {" 1"}, {}, {2, 1}, false, true},
        MatchCase{"OrFirst", 2, 1, {"1*", "*1"}, {}, {1, 0}, false, true},
        MatchCase{"OrSecond", 2, 1, {"1*", "*1"}, {}, {0, 1}, false, true},
        MatchCase{"OrNone", 2, 1, {"1*", "*1"}, {}, {0, 0}, false, false},
        MatchCase{"UnboundedExceeds", 2, 3, {"1*"}, {{0}}, {3, 0}, false, true},
        MatchCase{"UnboundedStillNeedsMinimum", 2, 3, {"1*"}, {{0}}, {0, 3}, false, false},
        MatchCase{"DocExampleExact", 3, 2, {"101"}, {}, {1, 0, 1}, false, true},
        MatchCase{"DocExampleMissingStrict", 3, 2, {"101"}, {}, {1, 0, 0}, false, false},
        MatchCase{"DocExampleMissingAllowed", 3, 2, {"101"}, {}, {1, 0, 0}, true, true},
        MatchCase{"MissingAboveBound", 3, 2, {"101"}, {}, {2, 0, 0}, true, false},
        MatchCase{"MissingUnboundedOverBudget", 3, 2, {"101"}, {{0}}, {2, 0, 0}, true, false},
        MatchCase{"MissingUnboundedWithinBudget", 3, 3, {"101"}, {{0}}, {2, 0, 0}, true, true},
        MatchCase{"MoreThanNPhotons", 2, 1, {"**"}, {}, {1, 1}, true, false},
        MatchCase{"OutOfRangeUnboundedIgnored", 3, 2, {"101"}, {{5, -1}}, {2, 0, 0}, true, false},
        MatchCase{"NoModes", 0, 0, {""}, {}, {}, false, true}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

// The allow-missing test in closed form: every bounded constrained mode within its count, and
// the photons still missing from the constrained modes within the budget n - photons.
bool reference_incomplete(std::string const& condition, int n, std::vector<bool> const& unbounded,
                          Counts const& counts) {
    const int photons = std::accumulate(counts.begin(), counts.end(), 0);
    int missing = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const auto c = static_cast<unsigned char>(condition[i]);
        if (c < '0' || c > 'O') continue;
        const int e = c - '0';
        if (counts[i] > e) {
            if (!unbounded[i]) return false;
        } else {
            missing += e - counts[i];
        }
    }
    return photons + missing <= n;
}

bool reference_exact(std::string const& condition, std::vector<bool> const& unbounded,
                     Counts const& counts) {
    for (std::size_t i = 0; i < counts.size(); ++i) {
        const auto c = static_cast<unsigned char>(condition[i]);
        if (c < '0' || c > 'O') continue;
        const int e = c - '0';
        if (unbounded[i] ? counts[i] < e : counts[i] != e) return false;
    }
    return true;
}

TEST(FsMask, RandomMasksAgreeWithClosedFormOverWholeSpaces) {
    std::mt19937 rng(7);
    const std::string alphabet = "0123*";
    for (int trial = 0; trial < 60; ++trial) {
        const int m = 1 + static_cast<int>(rng() % 4);
        const int n = static_cast<int>(rng() % 5);
        std::list<std::string> conditions;
        const int k = 1 + static_cast<int>(rng() % 3);
        for (int c = 0; c < k; ++c) {
            std::string condition;
            for (int i = 0; i < m; ++i) condition += alphabet[rng() % alphabet.size()];
            conditions.push_back(condition);
        }
        std::vector<bool> unbounded(static_cast<std::size_t>(m), false);
        std::vector<int> unbounded_list;
        const bool with_limits = trial % 2 == 1;
        if (with_limits)
            for (int i = 0; i < m; ++i)
                if (rng() % 2) {
                    unbounded[static_cast<std::size_t>(i)] = true;
                    unbounded_list.push_back(i);
                }
        const FsMask mask =
            with_limits ? FsMask(m, n, conditions, unbounded_list) : FsMask(m, n, conditions);
        for (int photons = 0; photons <= n + 1; ++photons) {
            for (auto const& counts : all_counts(m, photons)) {
                bool incomplete = false, exact = false;
                for (auto const& condition : conditions) {
                    incomplete =
                        incomplete || reference_incomplete(condition, n, unbounded, counts);
                    exact = exact || reference_exact(condition, unbounded, counts);
                }
                const FockState fs(counts);
                ASSERT_EQ(mask.match(fs, true), incomplete) << fs << " trial " << trial;
                ASSERT_EQ(mask.match(fs, false), exact) << fs << " trial " << trial;
                if (!with_limits && photons == n) {
                    ASSERT_EQ(incomplete, exact) << fs;
                }
            }
        }
    }
}

TEST(FsMask, AllowMissingSurvivesRemovingAPhoton) {
    const FsMask mask(4, 4, std::list<std::string>{"1*2*", "02**", "***3"}, std::vector<int>{1});
    for (int photons = 1; photons <= 5; ++photons)
        for (auto counts : all_counts(4, photons)) {
            if (!mask.inner_match_incomplete_state(counts, photons)) continue;
            for (auto& c : counts) {
                if (c == 0) continue;
                --c;
                EXPECT_TRUE(mask.inner_match_incomplete_state(counts, photons - 1));
                ++c;
            }
        }
}

TEST(FsMask, UnboundedModesOutOfRangeChangeNothing) {
    const FsMask plain(3, 2, std::string("1*0"));
    const FsMask ignored(3, 2, std::string("1*0"), std::vector<int>{5, -3, 300});
    for (int photons = 0; photons <= 3; ++photons)
        for (auto const& counts : all_counts(3, photons)) {
            const FockState fs(counts);
            EXPECT_EQ(plain.match(fs, true), ignored.match(fs, true)) << fs;
            EXPECT_EQ(plain.match(fs, false), ignored.match(fs, false)) << fs;
        }
}

TEST(FsMask, ConstructionErrors) {
    expect_throw_message<std::invalid_argument>([] { FsMask(3, 2, std::list<std::string>{}); },
                                                "FsMask: empty condition list");
    expect_throw_message<std::invalid_argument>(
        [] {
            FsMask(3, 2, std::list<std::string>{"101", "10"});
        },
        "Inconsistent condition length");
    expect_throw_message<std::invalid_argument>(
        [] { FsMask(3, 2, std::list<std::string>{}, std::vector<int>{0}); },
        "FsMask: empty condition list");
    expect_throw_message<std::invalid_argument>([] { FsMask(3, 2, std::string("1010")); },
                                                "Inconsistent condition length");
    expect_throw_message<std::invalid_argument>([] { FsMask(-1, 2, std::string("")); },
                                                "Inconsistent condition length");
}

TEST(FsMask, SizeMismatchErrors) {
    // No count character: the size check alone must fail.
    const FsMask mask(3, 2, std::string("***"));
    expect_throw_message<std::runtime_error>(
        [&] {
            mask.match(FockState(Counts{1, 1}), true);
        },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 2");
    expect_throw_message<std::runtime_error>(
        [&] { mask.match(FockState(4), false); },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 4");
    expect_throw_message<std::runtime_error>(
        [&] {
            mask.inner_match_exact({0, 1});
        },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 2");
    expect_throw_message<std::runtime_error>(
        [&] {
            mask.inner_match_incomplete_state({0, 1, 0, 0}, 1);
        },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 4");
}

TEST(FsMask, WideMaskWithoutPhotonsMatches) {
    // Beyond 256 modes only photon-less states exist; the counters must not overrun.
    const FsMask mask(300, 0, std::string(300, '0'));
    const FockState wide(300, FockState::code_t());
    EXPECT_TRUE(mask.match(wide, false));
    EXPECT_TRUE(mask.match(wide, true));
}

TEST(FsMask, EqualityComparesEveryField) {
    const FsMask a(2, 1, std::list<std::string>{"1*", "*1"});
    EXPECT_EQ(a, FsMask(2, 1, std::list<std::string>{"1*", "*1"}));
    EXPECT_NE(a, FsMask(2, 2, std::list<std::string>{"1*", "*1"}));
    EXPECT_NE(a, FsMask(2, 1, std::list<std::string>{"*1", "1*"}));
    EXPECT_NE(a, FsMask(2, 1, std::list<std::string>{"1*", "*1"}, std::vector<int>{0}));
}
