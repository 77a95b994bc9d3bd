#include "runtime/combinatorics.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Utils::Way;

std::vector<Way> combinations(int count, std::vector<int> const& sizes) {
    Way prefix;
    return Utils::get_combinations(std::views::iota(0, count), sizes, prefix);
}

// Partitions of n into parts of size at most k, by listing the non-increasing part sequences.
int count_partitions(int n, int k) {
    if (n < 0 || k <= 0) return 0;
    std::function<int(int, int)> count = [&](int left, int largest) {
        if (left == 0) return 1;
        int total = 0;
        for (int part = std::min(left, largest); part >= 1; --part)
            total += count(left - part, part);
        return total;
    };
    return count(n, k);
}

}  // namespace

TEST(Comb, MatchesPascalsTriangleAndDetectsOverflow) {
    constexpr int rows = 130;
    std::vector<std::vector<unsigned __int128>> pascal(rows + 1);
    const auto limit = static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max());
    for (int n = 0; n <= rows; ++n) {
        pascal[n].assign(static_cast<std::size_t>(n) + 1, 1);
        for (int k = 1; k < n; ++k)
            pascal[n][k] = std::min(pascal[n - 1][k - 1] + pascal[n - 1][k], limit + 1);
    }
    for (unsigned n = 0; n <= rows; ++n) {
        for (unsigned k = 0; k <= n + 2; ++k) {
            const unsigned __int128 expected = k <= n ? pascal[n][k] : 0;
            if (expected > limit) {
                EXPECT_THROW(MathUtils::comb(n, k), std::overflow_error) << n << " " << k;
            } else {
                EXPECT_EQ(MathUtils::comb(n, k), static_cast<std::int64_t>(expected))
                    << n << " " << k;
            }
        }
    }
}

TEST(Comb, EdgeCases) {
    EXPECT_EQ(MathUtils::comb(5, 2), 10);
    EXPECT_EQ(MathUtils::comb(3, 5), 0);
    EXPECT_EQ(MathUtils::comb(0, 0), 1);
    EXPECT_EQ(MathUtils::comb(7, 0), 1);
    EXPECT_EQ(MathUtils::comb(7, 7), 1);
    EXPECT_EQ(MathUtils::comb(60, 30), 118264581564861424LL);
    EXPECT_EQ(MathUtils::comb(62, 30),
              450883717216034179LL);  // 64-bit intermediates would overflow
    EXPECT_THROW(MathUtils::comb(68, 34), std::overflow_error);
    constexpr unsigned top = std::numeric_limits<unsigned>::max();
    EXPECT_EQ(MathUtils::comb(top, 1), top);
    EXPECT_EQ(MathUtils::comb(top, top - 2), 9223372030412324865LL);
    EXPECT_EQ(MathUtils::comb(top, top), 1);
    EXPECT_THROW(MathUtils::comb(top, 3), std::overflow_error);
}

TEST(Partitions, MatchesEnumeration) {
    for (int n = -2; n <= 18; ++n)
        for (int k = -2; k <= 12; ++k)
            EXPECT_EQ(MathUtils::partitions(n, k), count_partitions(n, k)) << n << " " << k;
}

TEST(Partitions, EdgeCases) {
    for (int n = 0; n <= 5; ++n) EXPECT_EQ(MathUtils::partitions(n, 2), n / 2 + 1) << n;
    EXPECT_EQ(MathUtils::partitions(4, 2), 3);
    EXPECT_EQ(MathUtils::partitions(5, 3), 5);
    EXPECT_EQ(MathUtils::partitions(7, 3), 8);
    EXPECT_EQ(MathUtils::partitions(10, 10), 42);
    EXPECT_EQ(MathUtils::partitions(0, 3), 1);
    EXPECT_EQ(MathUtils::partitions(0, 0), 0);
    EXPECT_EQ(MathUtils::partitions(-1, 3), 0);
    EXPECT_EQ(MathUtils::partitions(5, -1), 0);  // would recurse forever without the guard
}

TEST(GetCombinations, ListsWaysInLexicographicOrder) {
    const std::vector<Way> expected{{{0, 1}, {2}}, {{0, 1}, {3}}, {{0, 2}, {1}}, {{0, 2}, {3}},
                                    {{0, 3}, {1}}, {{0, 3}, {2}}, {{1, 2}, {0}}, {{1, 2}, {3}},
                                    {{1, 3}, {0}}, {{1, 3}, {2}}, {{2, 3}, {0}}, {{2, 3}, {1}}};
    EXPECT_EQ(combinations(4, {2, 1}), expected);
}

TEST(GetCombinations, EdgeCases) {
    EXPECT_EQ(combinations(3, {}), std::vector<Way>{Way{}});
    EXPECT_EQ(combinations(3, {1}), (std::vector<Way>{{{0}}, {{1}}, {{2}}}));
    EXPECT_TRUE(combinations(3, {0, 1}).empty());
    EXPECT_TRUE(combinations(3, {1, 0}).empty());
    EXPECT_TRUE(combinations(3, {2, 2}).empty());
    EXPECT_TRUE(combinations(0, {1}).empty());
    EXPECT_THROW(combinations(3, {-1}), std::length_error);
    EXPECT_THROW(combinations(3, {1, -1}), std::length_error);
}

TEST(GetCombinations, CountsMultinomialWaysOverVectorElements) {
    // Elements need not start at 0 or be consecutive; the prefix leads every way and is restored.
    const std::vector<int> elements{2, 3, 5, 7, 11, 13};
    const std::vector<int> sizes{2, 1, 2};
    Way prefix{{-1}};
    const std::vector<Way> ways = Utils::get_combinations(elements, sizes, prefix);
    EXPECT_EQ(prefix, Way{{-1}});
    EXPECT_EQ(ways.size(), 180u);  // 6! / (2! 1! 2! 1!)
    EXPECT_TRUE(std::is_sorted(ways.begin(), ways.end()));
    EXPECT_EQ(std::adjacent_find(ways.begin(), ways.end()), ways.end());
    for (const Way& way : ways) {
        ASSERT_EQ(way.size(), 4u);
        EXPECT_EQ(way[0], Utils::Group{-1});
        std::set<int> used;
        for (std::size_t g = 1; g < way.size(); ++g) {
            EXPECT_EQ(way[g].size(), static_cast<std::size_t>(sizes[g - 1]));
            EXPECT_TRUE(std::is_sorted(way[g].begin(), way[g].end()));
            for (int e : way[g]) {
                EXPECT_TRUE(std::count(elements.begin(), elements.end(), e));
                EXPECT_TRUE(used.insert(e).second);
            }
        }
    }
}
