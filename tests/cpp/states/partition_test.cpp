#include "states/partition.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "states/fock_state.h"
#include "test_support.h"

namespace {

using Counts = std::vector<int>;

// Every count vector bounded by `bound` holding `photons` photons.
std::vector<Counts> sub_states(Counts const& bound, int photons) {
    std::vector<Counts> found;
    Counts counts(bound.size(), 0);
    std::function<void(std::size_t, int)> fill = [&](std::size_t mode, int left) {
        if (mode == bound.size()) {
            if (left == 0) found.push_back(counts);
            return;
        }
        for (int c = 0; c <= std::min(left, bound[mode]); ++c) {
            counts[mode] = c;
            fill(mode + 1, left - c);
        }
    };
    fill(0, photons);
    return found;
}

// The distinct splittings, as lists of count vectors: every tuple of sub-states of the given sizes
// that fits in the state together.
// A group of size 0 makes no way at all.
std::set<std::vector<Counts>> reference_partition(Counts const& state,
                                                  std::vector<int> const& sizes) {
    std::set<std::vector<Counts>> result;
    if (std::count(sizes.begin(), sizes.end(), 0)) return result;
    std::vector<Counts> chosen;
    std::function<void(std::size_t, Counts const&)> pick = [&](std::size_t g, Counts const& left) {
        if (g == sizes.size()) {
            result.insert(chosen);
            return;
        }
        for (const Counts& part : sub_states(left, sizes[g])) {
            Counts rest = left;
            for (std::size_t k = 0; k < rest.size(); ++k) rest[k] -= part[k];
            chosen.push_back(part);
            pick(g + 1, rest);
            chosen.pop_back();
        }
    };
    pick(0, state);
    return result;
}

std::set<std::vector<Counts>> as_counts(std::vector<std::vector<FockState>> const& lists) {
    std::set<std::vector<Counts>> result;
    for (const auto& list : lists) {
        std::vector<Counts> counts;
        for (const FockState& s : list) counts.push_back(s.to_vect());
        EXPECT_TRUE(result.insert(counts).second) << "duplicate list";
    }
    return result;
}

struct PartitionCase {
    Counts state;
    std::vector<int> sizes;
    std::set<std::vector<Counts>> expected;
};

}  // namespace

class Partition : public testing::TestWithParam<PartitionCase> {};

TEST_P(Partition, GivesEachDistinctSplittingOnce) {
    const auto& [state, sizes, expected] = GetParam();
    const std::set<std::vector<Counts>> found =
        as_counts(Utils::partition(FockState(state), sizes));
    EXPECT_EQ(found, expected);
    EXPECT_EQ(found, reference_partition(state, sizes));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Partition,
    testing::Values(
        PartitionCase{{1, 1, 0}, {1, 1}, {{{1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {1, 0, 0}}}},
        PartitionCase{{2, 0}, {1, 1}, {{{1, 0}, {1, 0}}}},
        PartitionCase{{1, 1, 1},
                      {2, 1},
                      {{{1, 1, 0}, {0, 0, 1}}, {{1, 0, 1}, {0, 1, 0}}, {{0, 1, 1}, {1, 0, 0}}}},
        PartitionCase{{1, 1}, {1}, {{{1, 0}}, {{0, 1}}}}, PartitionCase{{2, 1}, {}, {{}}},
        PartitionCase{{2, 1}, {1, 0}, {}}, PartitionCase{{2, 1}, {4}, {}}));

// Against the brute-force splitting, on states with heap codes too.
TEST(Partition, MatchesBruteForceOnLargerStates) {
    const std::vector<std::pair<Counts, std::vector<int>>> cases{
        {{3, 2, 1}, {2, 2}}, {{3, 2, 1}, {1, 2, 3}}, {{4, 0, 5}, {3, 3}}, {{2, 2, 2, 3}, {4, 1}}};
    for (const auto& [state, sizes] : cases) {
        EXPECT_EQ(as_counts(Utils::partition(FockState(state), sizes)),
                  reference_partition(state, sizes));
        for (const auto& list : Utils::partition(FockState(state), sizes))
            for (const FockState& s : list) EXPECT_EQ(s.m(), static_cast<int>(state.size()));
    }
}

TEST(Partition, NegativeSizeThrowsLengthError) {
    EXPECT_THROW(Utils::partition(FockState(std::vector<int>{1, 1}), {-1}), std::length_error);
}

// 369600 ways to split twelve photons into four groups of three, all giving the same states.
TEST(Partition, CtrlCStopsTheEnumeration) {
    const FockState state(std::vector<int>{12});
    {
        test_support::CtrlC ctrl_c;
        test_support::expect_throw_message<KeyboardInterruptException>(
            [&] {
                Utils::partition(state, {3, 3, 3, 3});
            },
            "Process interrupted by user.");
    }
    InterruptSignalHandler::interrupted = true;  // left over: no scope catches SIGINT now
    EXPECT_EQ(Utils::partition(state, {3, 3, 3, 3}).size(), 1u);
    InterruptSignalHandler::interrupted = false;
}
