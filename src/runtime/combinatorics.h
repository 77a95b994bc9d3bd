#pragma once

#include <cstdint>
#include <ranges>
#include <span>
#include <vector>

namespace MathUtils {

// The binomial coefficient C(n, k); std::overflow_error when it does not fit in 64 signed bits.
std::int64_t comb(unsigned int n, unsigned int k);

// The number of partitions of n into parts of size at most k (0 for a negative n or k).
int partitions(int n, int k);

}  // namespace MathUtils

namespace Utils {

using Group = std::vector<int>;
using Way = std::vector<Group>;

// Every way to pick disjoint groups of the given sizes, in order, from sorted distinct elements;
// each way starts with the groups of `prefix`, which is used as a stack and left as it was.
// A negative size throws std::length_error; a size of 0 or one larger than what is left gives no
// way. Polls the interrupt flag (InterruptSignalHandler::Poll).
std::vector<Way> get_combinations(std::vector<int> const& elements, std::span<const int> sizes,
                                  Way& prefix);
std::vector<Way> get_combinations(std::ranges::iota_view<int, int> elements,
                                  std::span<const int> sizes, Way& prefix);

}  // namespace Utils
