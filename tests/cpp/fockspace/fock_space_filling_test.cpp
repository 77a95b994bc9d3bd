#include "fockspace/fock_space_filling.h"

#include <functional>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "fockspace/fock_space.h"
#include "fockspace/fs_mask.h"
#include "test_support.h"

namespace {

using test_support::all_counts;
using test_support::expect_throw_message;

std::vector<bool> bits(N_Filling const& layer) {
    std::vector<bool> result;
    for (unsigned long i = 0; i < layer.size; ++i) result.push_back(layer.test(i));
    return result;
}

bool only(FockState const& fs, std::vector<int> counts) {
    return fs == FockState(counts);
}

TEST(FockSpaceFillingTest, KeepsTheStatesThatReachAnAcceptedOne) {
    const FockSpaceFilling pair(2, 2, [](FockState const& fs) { return only(fs, {1, 1}); });
    ASSERT_EQ(pair.layers.size(), 3u);
    EXPECT_EQ(bits(pair.layer(2)), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(pair.layer(2).count, 1u);
    EXPECT_EQ(bits(pair.layer(1)), (std::vector<bool>{true, true}));
    EXPECT_EQ(pair.layer(1).count, 2u);
    EXPECT_EQ(bits(pair.layer(0)), std::vector<bool>{true});

    const FockSpaceFilling bunched(3, 2, [](FockState const& fs) { return only(fs, {2, 0, 0}); });
    EXPECT_EQ(bits(bunched.layer(1)), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(bits(bunched.layer(0)), std::vector<bool>{true});
}

TEST(FockSpaceFillingTest, AcceptingNothingOrEverything) {
    const FockSpace nothing(3, 3, [](FockState const&) { return false; });
    const FockSpace everything(3, 3, [](FockState const&) { return true; });
    for (int k = 0; k <= 3; ++k) {
        EXPECT_EQ(nothing.get_count(k), 0u);
        EXPECT_EQ(everything.get_count(k), everything.get_full_count(k));
        EXPECT_EQ(nothing.FockStates(k).begin() != NPhotonStates::Sentinel{}, false);
    }
    for (auto const& s : all_counts(3, 2)) {
        EXPECT_EQ(nothing.get_index(FockState(s)), std::nullopt);
        EXPECT_NE(everything.get_index(FockState(s)), std::nullopt);
    }
}

TEST(FockSpaceFillingTest, ZeroPhotonsHoldTheVerdictOnTheVacuum) {
    for (bool verdict : {false, true}) {
        int calls = 0;
        const FockSpaceFilling filling(4, 0, [&](FockState const& fs) {
            ++calls;
            EXPECT_EQ(fs, FockState(4));
            return verdict;
        });
        EXPECT_EQ(calls, 1);
        ASSERT_EQ(filling.layers.size(), 1u);
        EXPECT_EQ(bits(filling.layer(0)), std::vector<bool>{verdict});
    }
}

TEST(FockSpaceFillingTest, ThePredicateSeesEachTopStateOnceInNaturalOrder) {
    std::vector<FockState> seen;
    const FockSpaceFilling filling(3, 3, [&](FockState const& fs) {
        seen.push_back(fs);
        return true;
    });
    std::vector<FockState> expected;
    for (auto const& s : all_counts(3, 3)) expected.emplace_back(s);
    EXPECT_EQ(seen, expected);
}

TEST(FockSpaceFillingTest, AMaskSelectsExactlyItsStatesOnTop) {
    const FsMask mask(3, 3, std::list<std::string>{"1  ", " 2 "});
    const FockSpace space(3, 3, [&](FockState const& fs) { return mask.match(fs, true); });
    unsigned long count = 0;
    for (auto const& s : all_counts(3, 3)) {
        const bool matches = s[0] == 1 || s[1] == 2;
        EXPECT_EQ(space.get_index(FockState(s)).has_value(), matches);
        count += matches;
    }
    EXPECT_EQ(space.get_count(3), count);
}

TEST(FockSpaceFillingTest, FailuresPropagateFromTheConstruction) {
    EXPECT_THROW(FockSpaceFilling(2, 2, {}), std::bad_function_call);
    EXPECT_THROW(FockSpace(3, 2,
                           [](FockState const& fs) -> bool {
                               if (fs[2] == 2) throw std::domain_error("refused");
                               return true;
                           }),
                 std::domain_error);
    expect_throw_message<std::runtime_error>(
        [] { FockSpace(300, 1, [](FockState const&) { return true; }); },
        "Fock state size is capped from 0 to 256 modes");
    EXPECT_THROW(FockSpaceFilling(64, 64, [](FockState const&) { return true; }),
                 std::overflow_error);
    EXPECT_THROW(N_Filling(64, 64, [](FockState const&) { return true; }), std::overflow_error);
    // Sizes without states are refused instead of indexing outside the layers.
    EXPECT_THROW(FockSpaceFilling(2, -1, [](FockState const&) { return true; }),
                 std::invalid_argument);
    EXPECT_THROW(FockSpaceFilling(0, 2, [](FockState const&) { return true; }),
                 std::invalid_argument);
}

TEST(FockSpaceFillingTest, ALayerOfPhotonsWithoutModesIsEmpty) {
    int calls = 0;
    const N_Filling layer(0, 3, [&](FockState const&) { return ++calls > 0; });
    EXPECT_EQ(layer.size, 0u);
    EXPECT_EQ(layer.count, 0u);
    EXPECT_EQ(calls, 0);

    const N_Filling counted(3, 2, [](FockState const& fs) { return fs[1] > 0; });
    EXPECT_EQ(counted.size, 6u);
    EXPECT_EQ(counted.count, 3u);
}

TEST(FockSpaceFillingTest, RanksCountTheKeptStatesBefore) {
    // More than one 64-bit word.
    const N_Filling layer(3, 12, [](FockState const& fs) { return fs[0] % 3 == 0; });
    unsigned long kept = 0;
    for (unsigned long i = 0; i <= layer.size; ++i) {
        EXPECT_EQ(layer.rank(i), kept);
        if (i < layer.size && layer.test(i)) ++kept;
    }
    EXPECT_EQ(kept, layer.count);
    EXPECT_GT(layer.size, 64u);
}

}  // namespace
