#include "fockspace/fock_state_ranks.h"

#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fockspace/fock_space.h"
#include "runtime/combinatorics.h"

namespace {

std::vector<std::size_t> photons_per_mode(FockState const& state) {
    std::vector<std::size_t> photons(static_cast<std::size_t>(state.m()));
    for (int j = 0; j < state.m(); ++j) photons[static_cast<std::size_t>(j)] = state[j];
    return photons;
}

// Every form of the rank and the unrank (and the colexicographic rank through its mirror) against
// the position in the walk of FockState::increment, which is the natural order.
class FockStateRanksTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FockStateRanksTest, RanksAreThePositionsOfTheNaturalWalk) {
    const auto [m, k] = GetParam();
    const FockStateRanks ranks(m, k);
    const FSILookups_t<unsigned long> lookups(m, k);
    const auto from_lookups = [&](int v, int c) { return lookups.t(v + 1, c); };
    FockState state(m, k);
    std::uint64_t position = 0;
    do {
        const std::vector<std::size_t> photons = photons_per_mode(state);
        ASSERT_EQ(ranks.rank(state), position) << state.to_str();
        EXPECT_EQ(ranks.rank(photons.data(), k), position) << state.to_str();
        EXPECT_EQ(natural_rank(state, from_lookups), position) << state.to_str();
        const auto [colex, count] =
            ranks.colex_rank_and_count([&](std::size_t j) { return photons[j]; });
        const std::vector<int> reversed(photons.rbegin(), photons.rend());
        EXPECT_EQ(colex, ranks.count(0, k) - 1 - ranks.rank(FockState(reversed))) << state.to_str();
        EXPECT_EQ(count, static_cast<std::size_t>(k));
        EXPECT_EQ(ranks.unrank(position, k), state) << position;
        EXPECT_EQ(natural_unrank(m, k, position, from_lookups), state) << position;
        ++position;
    } while (state.increment());
    EXPECT_EQ(position, static_cast<std::uint64_t>(MathUtils::comb(static_cast<unsigned>(m + k - 1),
                                                                   static_cast<unsigned>(k))));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FockStateRanksTest,
                         ::testing::Values(std::tuple{1, 0}, std::tuple{1, 6}, std::tuple{2, 0},
                                           std::tuple{2, 5}, std::tuple{3, 2}, std::tuple{4, 4},
                                           std::tuple{6, 3}, std::tuple{9, 2}, std::tuple{3, 12}));

TEST(FockStateRanksTest, CountsAreBinomialsWithNothingBelowZeroPhotons) {
    const FockStateRanks ranks(4, 5);
    EXPECT_EQ(ranks.m(), 4);
    EXPECT_EQ(ranks.max_n(), 5);
    for (int v = 0; v < 4; ++v) {
        EXPECT_EQ(ranks.count(v, -1), 0u);
        for (int c = 0; c <= 5; ++c)
            EXPECT_EQ(ranks.count(v, c),
                      static_cast<std::uint64_t>(MathUtils::comb(static_cast<unsigned>(3 - v + c),
                                                                 static_cast<unsigned>(c))))
                << v << " " << c;
    }
    // The examples of the order: |2,0,0> first, |1,0,1> third, |0,0,2> last.
    const FockStateRanks three(3, 2);
    EXPECT_EQ(three.rank(FockState(std::vector<int>{2, 0, 0})), 0u);
    EXPECT_EQ(three.rank(FockState(std::vector<int>{1, 0, 1})), 2u);
    EXPECT_EQ(three.rank(FockState(std::vector<int>{0, 1, 1})), 4u);
    EXPECT_EQ(three.unrank(5, 2), FockState(std::vector<int>{0, 0, 2}));

    // The colexicographic order: |2,0,0>, |1,1,0>, |0,2,0>, |1,0,1>, |0,1,1>, |0,0,2>.
    const std::vector<std::vector<std::size_t>> colex{{2, 0, 0}, {1, 1, 0}, {0, 2, 0},
                                                      {1, 0, 1}, {0, 1, 1}, {0, 0, 2}};
    for (std::size_t r = 0; r < colex.size(); ++r)
        EXPECT_EQ(three.colex_rank_and_count([&](std::size_t j) { return colex[r][j]; }),
                  (std::pair<std::uint64_t, std::size_t>{r, 2}))
            << r;
}

TEST(FockStateRanksTest, TheVacuumOfNoModesHasRankZero) {
    const FockStateRanks ranks(0, 0);
    EXPECT_EQ(ranks.rank(FockState(0, 0)), 0u);
    EXPECT_EQ(ranks.unrank(0, 0), FockState(0, 0));
}

}  // namespace
