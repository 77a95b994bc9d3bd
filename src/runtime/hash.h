#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The hash mixing every state type shares. It reproduces Boost's 64-bit hash_combine and byte
// hash_range of recent releases (Boost 1.81+), so hashes do not depend on the installed Boost.
namespace Utils {

inline std::uint64_t hash_mix(std::uint64_t x) {
    constexpr std::uint64_t k = 0x0e9846af9b1a615dULL;
    x ^= x >> 32;
    x *= k;
    x ^= x >> 32;
    x *= k;
    x ^= x >> 28;
    return x;
}

inline std::uint64_t hash_combine(std::uint64_t seed, std::uint64_t value) {
    return hash_mix(seed + 0x9e3779b9ULL + value);
}

namespace detail {

inline std::uint64_t mulx(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

inline std::uint64_t read64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // little-endian hosts only, as the library targets x86-64
}

inline std::uint64_t read32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace detail

// Hash of a byte range starting from `seed`.
inline std::uint64_t hash_bytes(const unsigned char* p, std::size_t n, std::uint64_t seed = 0) {
    using detail::mulx;
    constexpr std::uint64_t q = 0x9e3779b97f4a7c15ULL;
    constexpr std::uint64_t k = 0xdf442d22ce4859b9ULL;
    std::uint64_t w = mulx(seed + q, k);
    std::uint64_t h = w ^ n;
    for (; n >= 8; p += 8, n -= 8) {
        w += q;
        h ^= mulx(detail::read64(p) + w, k);
    }
    std::uint64_t v = 0;
    if (n >= 4) {
        v = detail::read32(p + n - 4) << ((n - 4) * 8) | detail::read32(p);
    } else if (n >= 1) {
        const std::size_t x1 = (n - 1) & 2;
        const std::size_t x2 = n >> 1;
        v = static_cast<std::uint64_t>(p[x1]) << (x1 * 8) |
            static_cast<std::uint64_t>(p[x2]) << (x2 * 8) | static_cast<std::uint64_t>(p[0]);
    }
    w += q;
    h ^= mulx(v + w, k);
    return mulx(h + w, k);
}

}  // namespace Utils
