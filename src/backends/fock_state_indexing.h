#pragma once

#include <vector>

// Natural-order indices of output states computed directly, for the SLAP walks and samplers that
// do not meet the leaves in order.
namespace Backend {

// C(j, i) at position i * (m + n) + j, for 0 <= i < m and 0 <= j < m + n (0 when j < i). Entries
// beyond 64 bits are 0: the index reads only j - i < n, which fits whenever the number of states
// does (std::overflow_error otherwise).
std::vector<long long> prepareCombinations(int m, int n);

// The index of a complete occupation vector of c modes holding n photons among all states of c
// modes and n photons in natural order; table is prepareCombinations(c, n).
long long getIndexFromFockState(std::vector<int> const& counts, int n,
                                std::vector<long long> const& table);

// partitions(i, j), the partitions of i into at most j parts, at position i * 31 + j, for i and j
// from 0 to 30.
std::vector<int> computePartialCardinals();

}  // namespace Backend
