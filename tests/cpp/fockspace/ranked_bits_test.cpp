#include "fockspace/ranked_bits.h"

#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(RankedBitsTest, RanksAreTheCountsOfTheSetBitsBefore) {
    RankedBits bits(5);
    for (unsigned long i : {0ul, 3ul, 4ul}) bits.set(i);
    EXPECT_EQ(bits.finish(), 3u);
    EXPECT_EQ(bits.rank(0), 0u);
    EXPECT_EQ(bits.rank(3), 1u);
    EXPECT_EQ(bits.rank(4), 2u);
    EXPECT_FALSE(bits.test(1));

    // Across word boundaries, against a running count.
    std::mt19937 engine(3);
    const unsigned long size = 64 * 5 + 17;
    RankedBits sparse(size);
    std::vector<bool> flags(size);
    for (unsigned long i = 0; i < size; ++i)
        if (std::bernoulli_distribution(0.4)(engine)) {
            flags[i] = true;
            sparse.set(i);
        }
    unsigned long before = 0;
    const unsigned long count = sparse.finish();
    for (unsigned long i = 0; i < size; ++i) {
        ASSERT_EQ(sparse.test(i), flags[i]) << i;
        if (flags[i]) {
            EXPECT_EQ(sparse.rank(i), before++) << i;
        }
    }
    EXPECT_EQ(count, before);
}

// Appended bits keep their ranks valid as they go, up to and including the size, also when it
// ends a word.
TEST(RankedBitsTest, AppendedBitsAreRankedWithoutFinishing) {
    for (const unsigned long size : {0ul, 1ul, 63ul, 64ul, 128ul, 200ul}) {
        std::mt19937 engine(static_cast<unsigned>(size));
        RankedBits bits;
        bits.reserve(size);
        std::vector<unsigned long> before{0};
        for (unsigned long i = 0; i < size; ++i) {
            const bool bit = std::bernoulli_distribution(0.3)(engine);
            bits.push_back(bit);
            before.push_back(before.back() + bit);
            ASSERT_EQ(bits.rank(i + 1), before.back()) << size << " " << i;
        }
        ASSERT_EQ(bits.size(), size);
        for (unsigned long i = 0; i <= size; ++i) EXPECT_EQ(bits.rank(i), before[i]) << i;
        for (unsigned long i = 0; i < size; ++i)
            EXPECT_EQ(bits.test(i), before[i + 1] > before[i]) << i;
    }
}

}  // namespace
