#include "fockspace/fock_space.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fockspace/fock_space_filling.h"
#include "test_support.h"

namespace {

using test_support::all_counts;
using test_support::Counts;
using test_support::expect_throw_message;

using Predicate = std::function<bool(FockState const&)>;
using Neighbour = std::pair<int, unsigned long>;

// Position of every state in its unrestricted layer, from the reference enumeration.
std::map<Counts, unsigned long> full_indices(int m, int n) {
    std::map<Counts, unsigned long> index;
    const auto layer = all_counts(m, n);
    for (std::size_t i = 0; i < layer.size(); ++i) index[layer[i]] = i;
    return index;
}

// The states of every layer that can grow into an accepted top state, found by brute force.
std::vector<std::set<Counts>> reachable(int m, int max_n, Predicate const& accept) {
    std::vector<std::set<Counts>> kept(static_cast<std::size_t>(max_n) + 1);
    for (auto const& s : all_counts(m, max_n))
        if (accept(FockState(s))) kept[static_cast<std::size_t>(max_n)].insert(s);
    for (int k = max_n - 1; k >= 0; --k)
        for (auto const& s : all_counts(m, k))
            for (int j = 0; j < m; ++j) {
                Counts more = s;
                ++more[static_cast<std::size_t>(j)];
                if (kept[static_cast<std::size_t>(k) + 1].contains(more))
                    kept[static_cast<std::size_t>(k)].insert(s);
            }
    return kept;
}

std::vector<Neighbour> more(FockSpace const& space, NPhotonStates::State const& s) {
    std::vector<Neighbour> result;
    for (auto const& it : space.AddOnePhoton(s)) result.emplace_back(it.mode, it.index);
    return result;
}

std::vector<Neighbour> fewer(FockSpace const& space, NPhotonStates::State const& s) {
    std::vector<Neighbour> result;
    for (auto const& it : space.RemoveOnePhoton(s)) result.emplace_back(it.mode, it.index);
    return result;
}

// Every layer, cursor, neighbour range and index of a space, with or without a predicate,
// against the reference enumeration and a brute-force pruning.
class FockSpaceAgainstEnumerationTest
    : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(FockSpaceAgainstEnumerationTest, LayersNeighboursAndIndicesMatch) {
    const auto [m, max_n, filtered] = GetParam();
    std::mt19937 engine(static_cast<unsigned>(100 * m + 10 * max_n + filtered));
    std::set<Counts> accepted_top;
    for (auto const& s : all_counts(m, max_n))
        if (std::bernoulli_distribution(0.3)(engine)) accepted_top.insert(s);
    const Predicate accept = [&](FockState const& fs) {
        return accepted_top.contains(fs.to_vect());
    };
    const FockSpace space(m, max_n, filtered ? accept : Predicate{});
    const auto kept = filtered ? reachable(m, max_n, accept)
                               : reachable(m, max_n, [](FockState const&) { return true; });

    unsigned long total = 0;
    for (int k = 0; k <= max_n; ++k) {
        SCOPED_TRACE(k);
        const auto layer = all_counts(m, k);
        const auto index = full_indices(m, k);
        auto const& kept_here = kept[static_cast<std::size_t>(k)];
        EXPECT_EQ(space.get_full_count(k), layer.size());
        EXPECT_EQ(space.get_count(k), kept_here.size());
        total += layer.size();

        unsigned long rank = 0;
        std::vector<Counts> visited;
        for (auto const& s : space.FockStates(k)) {
            const Counts counts = s.getFS().to_vect();
            visited.push_back(counts);
            EXPECT_EQ(s.index, index.at(counts));
            EXPECT_EQ(s.prodnfact(), FockState(counts).prodnfact());
            EXPECT_EQ(space.get_index(FockState(counts)), rank++);

            std::vector<Neighbour> expected_more;
            if (k < max_n)
                for (int j = 0; j < m; ++j) {
                    Counts up = counts;
                    ++up[static_cast<std::size_t>(j)];
                    if (kept[static_cast<std::size_t>(k) + 1].contains(up))
                        expected_more.emplace_back(j, full_indices(m, k + 1).at(up));
                }
            EXPECT_EQ(more(space, s), expected_more);

            std::vector<Neighbour> expected_fewer;
            for (int j = 0; j < m; ++j) {
                if (counts[static_cast<std::size_t>(j)] == 0) continue;
                Counts down = counts;
                --down[static_cast<std::size_t>(j)];
                if (kept[static_cast<std::size_t>(k) - 1].contains(down))
                    expected_fewer.emplace_back(j, full_indices(m, k - 1).at(down));
            }
            EXPECT_EQ(fewer(space, s), expected_fewer);
        }
        EXPECT_EQ(visited, std::vector<Counts>(kept_here.rbegin(), kept_here.rend()));
        for (auto const& s : layer) {
            if (!kept_here.contains(s)) {
                EXPECT_EQ(space.get_index(FockState(s)), std::nullopt);
            }
        }
    }
    EXPECT_EQ(space.highest_index, total - 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FockSpaceAgainstEnumerationTest,
                         ::testing::Combine(::testing::Range(1, 7), ::testing::Range(0, 5),
                                            ::testing::Bool()));

TEST(FockSpaceTest, ThreeModesTwoPhotons) {
    const FockSpace space(3, 2);
    EXPECT_EQ(space.table, (std::vector<unsigned long>{1, 4, 1, 3, 1, 2}));
    EXPECT_EQ(space.highest_index, 9u);
    EXPECT_EQ(space.get_full_count(0), 1u);
    EXPECT_EQ(space.get_full_count(1), 3u);
    EXPECT_EQ(space.get_full_count(2), 6u);
    EXPECT_EQ(space.get_count(2), 6u);
    EXPECT_EQ(space.get_index(FockState(std::vector<int>{0, 1, 1})), 4u);

    std::vector<DecreasingValues> walk;
    for (auto const& s : space.FockStates(2)) walk.push_back(s.d);
    EXPECT_EQ(
        walk,
        (std::vector<DecreasingValues>{
            {2, 0, 0, 0}, {2, 1, 0, 0}, {2, 1, 1, 0}, {2, 2, 0, 0}, {2, 2, 1, 0}, {2, 2, 2, 0}}));

    auto layer = space.FockStates(1).begin();
    EXPECT_EQ(layer->getFS(), FockState(std::vector<int>{1, 0, 0}));
    EXPECT_EQ(more(space, *layer), (std::vector<Neighbour>{{0, 0}, {1, 1}, {2, 2}}));
    auto top = space.FockStates(2).begin();
    for (int i = 0; i < 4; ++i) ++top;
    EXPECT_EQ(top->getFS(), FockState(std::vector<int>{0, 1, 1}));
    EXPECT_EQ(fewer(space, *top), (std::vector<Neighbour>{{1, 2}, {2, 1}}));
    // The top layer has no layer above it.
    EXPECT_TRUE(more(space, *top).empty());

    auto vacuum = space.FockStates(0).begin();
    EXPECT_TRUE(fewer(space, *vacuum).empty());
    EXPECT_EQ(more(space, *vacuum), (std::vector<Neighbour>{{0, 0}, {1, 1}, {2, 2}}));
}

TEST(FockSpaceTest, DegenerateSizes) {
    const FockSpace none(0, 0);
    EXPECT_EQ(none.highest_index, 0u);
    EXPECT_EQ(none.get_full_count(0), 1u);
    std::vector<FockState> only;
    for (auto const& s : none.FockStates(0)) {
        only.push_back(s.getFS());
        EXPECT_TRUE(more(none, s).empty());
        EXPECT_TRUE(fewer(none, s).empty());
    }
    EXPECT_EQ(only, std::vector<FockState>{FockState()});
    EXPECT_EQ(none.get_index(FockState()), 0u);

    const FockSpace one_mode(1, 5);
    for (int k = 0; k <= 5; ++k) EXPECT_EQ(one_mode.get_full_count(k), 1u);
    EXPECT_EQ(one_mode.highest_index, 5u);
}

TEST(FockSpaceTest, InvalidParametersAreRefusedWithTheirValues) {
    for (auto [m, max_n] : {std::pair{0, 1}, {-1, 2}, {2, -1}})
        expect_throw_message<std::invalid_argument>(
            [&] { FockSpace(m, max_n); }, "Invalid FockSpace parameters (m=" + std::to_string(m) +
                                              " max_n=" + std::to_string(max_n) + ")");
}

TEST(FockSpaceTest, CountsBeyondSixtyFourBitsOverflow) {
    try {
        FockSpace(64, 64);
        FAIL() << "no overflow";
    } catch (std::overflow_error const& e) {
        const std::string prefix = "Type m (m=64 max_n=64): cannot compute ";
        const std::string what = e.what();
        ASSERT_EQ(what.substr(0, prefix.size()), prefix);
        std::size_t plus = what.find(" + ", prefix.size());
        ASSERT_NE(plus, std::string::npos);
        const unsigned __int128 a = std::stoull(what.substr(prefix.size(), plus - prefix.size()));
        const unsigned __int128 b = std::stoull(what.substr(plus + 3));
        EXPECT_GT(a + b, static_cast<unsigned __int128>(UINT64_MAX));
    }
    // C(67, 33) - 1 is the largest layer count below 2^64 for 34 modes.
    EXPECT_NO_THROW(FockSpace(34, 33));
}

TEST(FockSpaceTest, IndexQueriesCheckTheStateSize) {
    const FockSpace space(3, 1);
    expect_throw_message<std::invalid_argument>(
        [&] {
            space.get_index(FockState(std::vector<int>{1, 1}));
        },
        "Invalid FockSpace mode count (m=3 2)");
    expect_throw_message<std::invalid_argument>(
        [&] {
            space.get_index(FockState(std::vector<int>{0, 1, 1}));
        },
        "Invalid FockSpace photon count (max_n=1 2)");
    EXPECT_THROW(space.FockStates(2), std::out_of_range);
}

TEST(FockSpaceTest, APredicateRejectingOneTopStateShiftsTheRanks) {
    const FockState rejected(std::vector<int>{0, 0, 2});
    const FockSpace space(3, 2, [&](FockState const& fs) { return fs != rejected; });
    EXPECT_EQ(space.get_index(rejected), std::nullopt);
    EXPECT_EQ(space.get_index(FockState(std::vector<int>{0, 1, 1})), 4u);
    EXPECT_EQ(space.get_count(2), 5u);
    EXPECT_EQ(space.get_count(1), 3u);
}

TEST(FockSpaceTest, FactorialProductsOverflowPast170) {
    const FockSpace space(2, 171);
    auto s = space.FockStates(171).begin();
    EXPECT_EQ(s->getFS(), FockState(std::vector<int>{171, 0}));
    EXPECT_THROW(s->prodnfact(), std::overflow_error);
    ++s;
    EXPECT_TRUE(std::isfinite(s->prodnfact()));
    EXPECT_EQ(s->prodnfact(), FockState(std::vector<int>{170, 1}).prodnfact());
}

TEST(FockSpaceTest, CopiesOwnTheirFillingAndMovesEmptyTheSource) {
    FockSpace original(3, 2, [](FockState const& fs) { return fs[0] == 1; });
    const FockSpace copy(original);
    ASSERT_NE(copy.get_filling(), nullptr);
    EXPECT_NE(copy.get_filling(), original.get_filling());
    EXPECT_EQ(copy.get_count(2), original.get_count(2));

    FockSpace assigned(1, 1);
    assigned = original;
    EXPECT_EQ(assigned.get_count(2), 2u);

    const FockSpace moved(std::move(original));
    EXPECT_EQ(moved.get_count(2), 2u);
    EXPECT_EQ(original.m, 0);
    EXPECT_EQ(original.max_n, 0);
    EXPECT_EQ(original.get_filling(), nullptr);
    EXPECT_EQ(original.get_count(0), 1u);

    FockSpace plain(2, 1);
    plain = copy;
    EXPECT_NE(plain.get_filling(), nullptr);
    plain = FockSpace(2, 1);
    EXPECT_EQ(plain.get_filling(), nullptr);
}

}  // namespace
