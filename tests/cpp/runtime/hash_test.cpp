#include "runtime/hash.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

// The perfect-state hash: mode count, photon count, then the photons' modes as bytes.
std::uint64_t state_hash(std::int32_t modes, const std::vector<unsigned char>& code) {
    std::uint64_t seed =
        Utils::hash_combine(0, static_cast<std::uint64_t>(static_cast<std::int64_t>(modes)));
    seed = Utils::hash_combine(seed, code.size());
    return Utils::hash_combine(seed, Utils::hash_bytes(code.data(), code.size()));
}

}  // namespace

TEST(Hash, ReproducesKnownStateHashes) {
    EXPECT_EQ(state_hash(3, {0, 2, 2}), 0xcd5d99c015f881e1ULL);
    EXPECT_EQ(state_hash(0, {}), 0xd53e17e9696627e0ULL);
    EXPECT_EQ(state_hash(2, std::vector<unsigned char>(9, 0)), 0xa3b8abfa9e1bdc0dULL);
}

TEST(Hash, SeededByteRangeFoldsNoiseTags) {
    // |{0},0,{0}{1}>: the perfect part's hash seeds the hash of the tag bytes.
    const std::vector<unsigned char> tags{0, 0, 1};
    EXPECT_EQ(Utils::hash_bytes(tags.data(), tags.size(), state_hash(3, {0, 2, 2})),
              0x6b9ea42d22021903ULL);
}

TEST(Hash, EveryTailLengthReadsOnlyItsBytes) {
    // Lengths 0..17 cover every tail branch; bytes past the range must not matter.
    std::vector<unsigned char> a(32, 0xAB), b(32, 0xCD);
    for (std::size_t n = 0; n <= 17; ++n) {
        for (std::size_t i = 0; i < n; ++i) a[i] = b[i] = static_cast<unsigned char>(i * 7 + 1);
        EXPECT_EQ(Utils::hash_bytes(a.data(), n), Utils::hash_bytes(b.data(), n)) << n;
        if (n > 0) {
            b[n - 1] ^= 1;
            EXPECT_NE(Utils::hash_bytes(a.data(), n), Utils::hash_bytes(b.data(), n)) << n;
        }
    }
}
