#include "backends/slos_map.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Backend::SlosMap;
using Backend::SlosMap_t;
using test_support::all_counts;
using test_support::Counts;

using Predicate = std::function<bool(FockState const&)>;
// (layer, source state, destination state, mode)
using Transition = std::tuple<int, Counts, Counts, int>;
using Link = std::tuple<unsigned long, unsigned long, int>;

// The links of every layer as (src, dst, mode), in the map's order.
template <typename T>
std::vector<std::vector<Link>> links_of(SlosMap_t<T> const& map) {
    std::vector<std::vector<Link>> result(static_cast<std::size_t>(map.n));
    for (int k = 0; k < map.n; ++k) {
        if (map.pruned) {
            auto const& layer = map.layers[static_cast<std::size_t>(k)];
            EXPECT_EQ(layer.ends.size(), layer.modes.size());
        }
        map.for_each_link(k, [&](unsigned long src, unsigned long dst, int mode) {
            result[static_cast<std::size_t>(k)].emplace_back(src, dst, mode);
        });
    }
    return result;
}

std::vector<std::vector<Link>> links_of(SlosMap const& map) {
    return std::visit(
        [](auto const& held) {
            if constexpr (std::is_same_v<std::decay_t<decltype(held)>, SlosMap_t<void>>)
                return std::vector<std::vector<Link>>{};
            else
                return links_of(held);
        },
        map.get());
}

std::vector<std::uint64_t> kept_counts(SlosMap const& map) {
    return std::visit(
        [](auto const& held) {
            if constexpr (std::is_same_v<std::decay_t<decltype(held)>, SlosMap_t<void>>)
                return std::vector<std::uint64_t>{};
            else
                return held.kept_counts;
        },
        map.get());
}

SlosMap built(int m, int n, Predicate predicate, bool backward) {
    SlosMap map;
    map.build(m, n, std::move(predicate), backward);
    return map;
}

TEST(SlosMapTest, TheIndexWidthIsTheNarrowestThatHoldsTheSpace) {
    struct Case {
        int m, n;
        std::size_t alternative;
    };
    for (auto [m, n, alternative] :
         {Case{3, 0, 0}, Case{4, 6, 1}, Case{4, 7, 2}, Case{1, 255, 1}, Case{1, 256, 2},
          Case{2, 21, 1}, Case{2, 22, 2}, Case{255, 1, 1}, Case{256, 1, 2}, Case{32, 4, 2},
          Case{33, 4, 3}}) {
        SCOPED_TRACE(testing::Message() << m << " modes, " << n << " photons");
        const SlosMap map = built(m, n, {}, false);
        EXPECT_EQ(map.index(), alternative);
        EXPECT_EQ(map.final_states().size(), FockSpace(m, n).get_full_count(n));
    }
}

TEST(SlosMapTest, TwoModesTwoPhotons) {
    const SlosMap forward = built(2, 2, {}, false);
    EXPECT_EQ(links_of(forward),
              (std::vector<std::vector<Link>>{{{0, 0, 0}, {0, 1, 1}},
                                              {{0, 0, 0}, {0, 1, 1}, {1, 1, 0}, {1, 2, 1}}}));
    const SlosMap backward = built(2, 2, {}, true);
    EXPECT_EQ(links_of(backward)[1],
              (std::vector<Link>{{0, 0, 0}, {1, 1, 0}, {0, 1, 1}, {1, 2, 1}}));
    EXPECT_EQ(kept_counts(forward), (std::vector<std::uint64_t>{1, 2, 3}));

    const FockState pair(std::vector<int>{1, 1});
    const Predicate only_pair = [&](FockState const& fs) { return fs == pair; };
    const SlosMap pruned = built(2, 2, only_pair, false);
    EXPECT_EQ(links_of(pruned),
              (std::vector<std::vector<Link>>{{{0, 0, 0}, {0, 1, 1}}, {{0, 0, 1}, {1, 0, 0}}}));
    EXPECT_EQ(links_of(built(2, 2, only_pair, true))[1], (std::vector<Link>{{1, 0, 0}, {0, 0, 1}}));
    EXPECT_EQ(kept_counts(pruned), (std::vector<std::uint64_t>{1, 2, 1}));
    EXPECT_EQ(pruned.final_states(), std::vector<FockState>{pair});
}

TEST(SlosMapTest, OneModeHasOneLinkPerLayer) {
    const SlosMap map = built(1, 5, {}, false);
    EXPECT_EQ(links_of(map), std::vector<std::vector<Link>>(5, std::vector<Link>{{0, 0, 0}}));
    EXPECT_EQ(kept_counts(map), std::vector<std::uint64_t>(6, 1));
}

TEST(SlosMapTest, ZeroPhotonsGiveTheVacuumWithoutAskingThePredicate) {
    int calls = 0;
    const SlosMap map = built(
        5, 0, [&](FockState const&) { return ++calls < 0; }, false);
    EXPECT_EQ(map.index(), 0u);
    EXPECT_EQ(map.final_states(), std::vector<FockState>{FockState(5)});
    EXPECT_EQ(map.m(), 5);
    EXPECT_EQ(map.n(), 0);
    EXPECT_EQ(calls, 0);

    const SlosMap empty;
    EXPECT_EQ(empty.final_states(), std::vector<FockState>{FockState()});
    EXPECT_EQ(empty.m(), 0);
}

TEST(SlosMapTest, RejectingEveryStateLeavesNoLinks) {
    const SlosMap map = built(
        3, 3, [](FockState const&) { return false; }, false);
    EXPECT_TRUE(map.final_states().empty());
    EXPECT_EQ(links_of(map), std::vector<std::vector<Link>>(3));
    EXPECT_EQ(kept_counts(map), std::vector<std::uint64_t>(4, 0));
}

TEST(SlosMapTest, AFailedBuildKeepsTheHeldMap) {
    SlosMap map = built(2, 2, {}, false);
    EXPECT_THROW(map.build(
                     3, 2,
                     [](FockState const& fs) -> bool {
                         if (fs[2] == 1) throw std::domain_error("refused");
                         return true;
                     },
                     false),
                 std::domain_error);
    EXPECT_THROW(map.build(0, 1, {}, false), std::invalid_argument);
    EXPECT_THROW(map.build(300, 1, {}, false), std::runtime_error);
    EXPECT_EQ(map.m(), 2);
    EXPECT_EQ(map.n(), 2);
    EXPECT_EQ(kept_counts(map), (std::vector<std::uint64_t>{1, 2, 3}));

    // A move leaves the source as the map of 0 modes.
    const SlosMap moved(std::move(map));
    EXPECT_EQ(moved.final_states().size(), 3u);
    EXPECT_EQ(map.final_states(), std::vector<FockState>{FockState()});
}

// Both orders against the transitions found by brute force: every pair of kept states one
// photon apart, exactly once, in the documented grouping.
class SlosMapAgainstEnumerationTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SlosMapAgainstEnumerationTest, LinksJoinExactlyTheKeptNeighbours) {
    const auto [m, n] = GetParam();
    std::mt19937 engine(static_cast<unsigned>(10 * m + n));
    std::set<Counts> accepted;
    for (auto const& s : all_counts(m, n))
        if (std::bernoulli_distribution(0.3)(engine)) accepted.insert(s);
    const Predicate predicate = [&](FockState const& fs) {
        return accepted.contains(fs.to_vect());
    };

    std::vector<std::vector<Counts>> kept(static_cast<std::size_t>(n) + 1);
    for (auto const& s : all_counts(m, n))
        if (accepted.contains(s)) kept[static_cast<std::size_t>(n)].push_back(s);
    std::vector<std::vector<Transition>> expected(static_cast<std::size_t>(n));
    for (int k = n - 1; k >= 0; --k) {
        auto const& above = kept[static_cast<std::size_t>(k) + 1];
        for (auto const& s : all_counts(m, k)) {
            bool keep = false;
            for (int j = 0; j < m; ++j) {
                Counts up = s;
                ++up[static_cast<std::size_t>(j)];
                if (std::find(above.begin(), above.end(), up) == above.end()) continue;
                keep = true;
                expected[static_cast<std::size_t>(k)].emplace_back(k, s, up, j);
            }
            if (keep) kept[static_cast<std::size_t>(k)].push_back(s);
        }
    }

    for (bool backward : {false, true}) {
        SCOPED_TRACE(backward);
        const SlosMap map = built(m, n, predicate, backward);
        std::vector<FockState> finals;
        for (auto const& s : kept[static_cast<std::size_t>(n)]) finals.emplace_back(s);
        EXPECT_EQ(map.final_states(), finals);
        const auto counts = kept_counts(map);
        const auto links = links_of(map);
        for (int k = 0; k < n; ++k) {
            auto const& lower = kept[static_cast<std::size_t>(k)];
            auto const& upper = kept[static_cast<std::size_t>(k) + 1];
            EXPECT_EQ(counts[static_cast<std::size_t>(k)], lower.size());
            std::vector<Transition> found;
            for (auto const& [src, dst, mode] : links[static_cast<std::size_t>(k)]) {
                ASSERT_LT(src, lower.size());
                ASSERT_LT(dst, upper.size());
                found.emplace_back(k, lower[src], upper[dst], mode);
            }
            auto expected_order = expected[static_cast<std::size_t>(k)];
            // Backward lists go by destination, natural order, then by ascending mode.
            if (backward)
                std::stable_sort(expected_order.begin(), expected_order.end(),
                                 [](Transition const& a, Transition const& b) {
                                     if (std::get<2>(a) != std::get<2>(b))
                                         return std::get<2>(a) > std::get<2>(b);
                                     return std::get<3>(a) < std::get<3>(b);
                                 });
            EXPECT_EQ(found, expected_order);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SlosMapAgainstEnumerationTest,
                         ::testing::Combine(::testing::Range(1, 6), ::testing::Range(1, 5)));

}  // namespace
