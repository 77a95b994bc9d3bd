#include "backends/fock_state_indexing.h"

#include <cstddef>

#include "runtime/combinatorics.h"

namespace Backend {

std::vector<long long> prepareCombinations(int m, int n) {
    const auto width = static_cast<std::size_t>(m + n);
    std::vector<long long> table(static_cast<std::size_t>(m) * width);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < m + n; ++j)
            table[static_cast<std::size_t>(i) * width + static_cast<std::size_t>(j)] =
                MathUtils::comb(static_cast<unsigned>(j), static_cast<unsigned>(i));
    return table;
}

long long getIndexFromFockState(std::vector<int> const& counts, int n,
                                std::vector<long long> const& table) {
    const int c = static_cast<int>(counts.size());
    const auto width = static_cast<std::size_t>(c + n);
    long long index = 0;
    int remaining = n;
    // Each term counts the states that agree up to mode i and hold more photons in mode i.
    for (int i = 0; i < c; ++i) {
        remaining -= counts[static_cast<std::size_t>(i)];
        if (remaining <= 0) break;
        index += table[static_cast<std::size_t>(c - 1 - i) * width +
                       static_cast<std::size_t>(remaining + c - 2 - i)];
    }
    return index;
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
