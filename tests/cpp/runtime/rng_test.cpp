#include "runtime/rng.h"

#include <future>

#include <gtest/gtest.h>

namespace {

std::vector<std::uint32_t> draws(std::mt19937& engine, int count) {
    std::vector<std::uint32_t> out(count);
    for (auto& x : out) x = engine();
    return out;
}

}  // namespace

TEST(Rng, NewThreadStartsFromDefaultSeed) {
    std::mt19937 reference;
    const auto expected = draws(reference, 5);
    const auto got = std::async(std::launch::async, [] { return draws(RNG::rng, 5); }).get();
    EXPECT_EQ(got, expected);
}

TEST(Rng, SeedingIsPerThread) {
    RNG::rng.seed(42);
    const auto other = std::async(std::launch::async, [] {
                           RNG::rng.seed(7);
                           return draws(RNG::rng, 3);
                       }).get();
    std::mt19937 seeded42(42), seeded7(7);
    EXPECT_EQ(draws(RNG::rng, 3), draws(seeded42, 3));
    EXPECT_EQ(other, draws(seeded7, 3));
}

TEST(Rng, TaskSeedsAreDrawnInOrderFromCaller) {
    RNG::rng.seed(123);
    const auto seeds = RNG::draw_task_seeds(4);
    std::mt19937 reference(123);
    EXPECT_EQ(seeds, draws(reference, 4));
    EXPECT_EQ(RNG::rng(), reference());
}
