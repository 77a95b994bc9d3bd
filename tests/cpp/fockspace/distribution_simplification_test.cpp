#include "fockspace/distribution_simplification.h"

#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using Entries = std::vector<std::pair<std::vector<int>, double>>;

FockSpaceDistribution distribution(Entries const& entries) {
    std::unordered_map<FockState, double> map;
    for (auto const& [counts, value] : entries) map[FockState(counts)] = value;
    return FockSpaceDistribution(std::move(map), true, 0.0);
}

struct GroupCase {
    int group_size;
    Entries input;
    Entries expected;
};

class GroupModesTest : public ::testing::TestWithParam<GroupCase> {};

TEST_P(GroupModesTest, SumsConsecutiveModes) {
    const auto& c = GetParam();
    EXPECT_EQ(group_modes_simplification(distribution(c.input), c.group_size),
              distribution(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GroupModesTest,
    ::testing::Values(GroupCase{2, {{{1, 1, 3, 4}, 1.0}}, {{{2, 7}, 1.0}}},
                      GroupCase{2, {{{1, 0, 1}, 0.5}, {{0, 1, 1}, 0.5}}, {{{1, 1}, 1.0}}},
                      GroupCase{3,
                                {{{1, 0, 0, 1}, 0.25}, {{0, 2, 0, 0}, 0.75}},
                                {{{1, 1}, 0.25}, {{2, 0}, 0.75}}},
                      GroupCase{1, {{{1, 0}, 0.5}, {{0, 1}, 0.5}}, {{{1, 0}, 0.5}, {{0, 1}, 0.5}}},
                      GroupCase{5, {{{1, 0}, 0.5}, {{0, 1}, 0.5}}, {{{1}, 1.0}}}));

TEST(DistributionSimplificationTest, GroupModesErrors) {
    const auto d = distribution({{{1, 0}, 1.0}});
    for (int size : {0, -1})
        expect_throw_message<std::invalid_argument>(
            [&] { (void)group_modes_simplification(d, size); }, "group_size must be positive");
    EXPECT_THROW((void)group_modes_simplification(FockSpaceDistribution(), 2),
                 std::bad_optional_access);
    // An unchecked distribution mixing mode counts must not write past the grouped counts.
    const auto mixed = distribution({{{1, 0}, 0.5}, {{0, 0, 0, 1}, 0.5}});
    expect_throw_message<std::invalid_argument>([&] { (void)group_modes_simplification(mixed, 2); },
                                                "Number of modes is not consistent");
}

TEST(DistributionSimplificationTest, PhotonThresholdMergesCappedStates) {
    const auto d = distribution({{{2, 0}, 0.25}, {{1, 0}, 0.25}, {{0, 3}, 0.5}});
    EXPECT_EQ(photon_threshold_simplification(d, 1), distribution({{{1, 0}, 0.5}, {{0, 1}, 0.5}}));
    EXPECT_EQ(photon_threshold_simplification(d, 2),
              distribution({{{2, 0}, 0.25}, {{1, 0}, 0.25}, {{0, 2}, 0.5}}));
    expect_throw_message<std::invalid_argument>(
        [&] { (void)photon_threshold_simplification(d, 0); }, "detections must be positive");
    expect_throw_message<std::runtime_error>(
        [] { (void)photon_threshold_simplification(FockSpaceDistribution(), 1); },
        "Unable to normalize an empty distribution");
}

}  // namespace
