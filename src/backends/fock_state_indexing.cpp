#include "backends/fock_state_indexing.h"

#include <cstddef>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

#include "fockspace/fock_state_ranks.h"
#include "runtime/combinatorics.h"

namespace Backend {

std::vector<long long> prepareCombinations(int m, int n) {
    const auto width = static_cast<std::size_t>(m + n);
    std::vector<long long> table(static_cast<std::size_t>(m) * width);
    for (int i = 0; i < m; ++i) {
        long long* row = table.data() + static_cast<std::size_t>(i) * width;
        // Along the row C(j, i) = C(j - 1, i) j / (j - i), exact in 128 bits. The index reads
        // j < i + n, no more than the size of the space; beyond, the row stops where 64 bits do,
        // which for many modes is long before its end.
        unsigned __int128 value = 1;
        for (int j = i; j < m + n; ++j) {
            if (j > i) value = value * static_cast<unsigned>(j) / static_cast<unsigned>(j - i);
            if (value > static_cast<unsigned __int128>(std::numeric_limits<long long>::max())) {
                if (j < i + n)
                    throw std::overflow_error(
                        fmt::format("binomial coefficient C({}, {}) exceeds 64 bits", j, i));
                break;
            }
            row[j] = static_cast<long long>(value);
        }
    }
    return table;
}

long long getIndexFromFockState(std::vector<int> const& counts, int n,
                                std::vector<long long> const& table) {
    const int c = static_cast<int>(counts.size());
    const auto width = static_cast<std::size_t>(c + n);
    // The states of a photons over modes i ... c-1: C(a + c - 1 - i, c - 1 - i).
    const auto count = [&](int i, int a) {
        return table[static_cast<std::size_t>(c - 1 - i) * width +
                     static_cast<std::size_t>(a + c - 1 - i)];
    };
    return static_cast<long long>(natural_rank(
        c, n, [&](int i) { return counts[static_cast<std::size_t>(i)]; }, count));
}

std::vector<int> computePartialCardinals() {
    constexpr int size = 31;
    std::vector<int> table(size * size);
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j)
            table[static_cast<std::size_t>(i * size + j)] = MathUtils::partitions(i, j);
    return table;
}

}  // namespace Backend
