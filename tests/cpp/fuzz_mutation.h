#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

// The seeded mutation the native fuzz tests share; the inputs and the sequence come from the
// environment, as for the Python fuzz tests, so that scripts/fuzz.sh can run them long.
namespace fuzz {

// Inputs per fuzzed reader: ORBANDILE_FUZZ_COUNT, else 3000.
inline int count() {
    const char* count = std::getenv("ORBANDILE_FUZZ_COUNT");
    return count != nullptr ? std::atoi(count) : 3000;
}

// The generator's seed: ORBANDILE_FUZZ_SEED, else `fallback`.
inline std::uint32_t seed(std::uint32_t fallback) {
    const char* seed = std::getenv("ORBANDILE_FUZZ_SEED");
    return seed != nullptr ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10)) : fallback;
}

// One to four edits of `text`: one of `tokens` inserted, a few bytes erased, a byte replaced or
// one of its bits flipped, a piece of the text repeated, or the tail of one of `seeds` spliced in.
inline std::string mutate(std::mt19937& rng, std::string text,
                          const std::vector<std::string>& tokens,
                          const std::vector<std::string>& seeds) {
    const int edits = std::uniform_int_distribution<int>(1, 4)(rng);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
        switch (rng() % 6) {
            case 0:
                text.insert(at, tokens[rng() % tokens.size()]);
                break;
            case 1:
                if (at < text.size()) text.erase(at, 1 + rng() % 4);
                break;
            case 2:
                if (at < text.size()) text[at] = static_cast<char>(rng());
                break;
            case 3:
                if (at < text.size()) text[at] = static_cast<char>(text[at] ^ (1 << (rng() % 8)));
                break;
            case 4:
                text.insert(at, text.substr(rng() % (text.size() + 1), 1 + rng() % 16));
                break;
            default: {
                const std::string& other = seeds[rng() % seeds.size()];
                text.insert(at, other.substr(rng() % (other.size() + 1)));
            }
        }
    }
    return text;
}

}  // namespace fuzz
