#pragma once

#include <cstdint>
#include <ranges>
#include <span>
#include <vector>

class FockState;

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
// way.
std::vector<Way> get_combinations(std::vector<int> const& elements, std::span<const int> sizes,
                                  Way& prefix);
std::vector<Way> get_combinations(std::ranges::iota_view<int, int> elements,
                                  std::span<const int> sizes, Way& prefix);

// Every distinct way to split the photons of `state` into states of the given photon counts, one
// state per size, each over the modes of `state`; in the iteration order of a hash set of ways.
std::vector<std::vector<FockState>> partition(FockState const& state,
                                              std::vector<int> const& sizes);

}  // namespace Utils
