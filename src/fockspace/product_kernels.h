#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/interrupt_signal_handler.h"
#include "states/any_fs_utils.h"
#include "states/fock_state.h"

class FockSpaceFunction;

// Kernels of the tensor and merge products of map-like containers (key -> double): the pairwise
// product, and the depth-first product of a list of factors pruned by per-factor thresholds.
// Generic over the key (anything with operator* and merge) and over the containers.
namespace MathUtils {

namespace details {

// Merge, the other key combination, is shared with the state vectors (states/any_fs_utils.h).

// Keys of a tensor product are distinct when each factor has one mode count: plain assignment.
struct TensorProd {
    template <typename Key>
    Key operator()(Key const& a, Key const& b) const {
        return a * b;
    }
    template <typename Out, typename Key>
    static void store(Out& out, Key&& key, double value) {
        out[std::forward<Key>(key)] = value;
    }
};

template <typename T>
T const& factor_of(T const& factor) {
    return factor;
}

template <typename T>
T const& factor_of(std::reference_wrapper<T> factor) {
    return factor.get();
}

// A pruned product may keep far fewer entries than the product of the sizes, which can exceed
// any memory (or overflow); past this bound a result map grows as it fills.
constexpr std::size_t max_reserved = std::size_t{1} << 20;

inline std::size_t capped_product(std::size_t total, std::size_t size) {
    if (size != 0 && total > max_reserved / size) return max_reserved;
    return total * size;
}

// Entries to reserve for the product of a list of factors.
template <typename List>
std::size_t reserved_size(List const& list) {
    std::size_t total = 1;
    for (auto const& factor : list) total = capped_product(total, factor_of(factor).size());
    return total;
}

// Entries of the product of a list of factors that nothing prunes: the product of the sizes, up to
// a bound past which no memory holds the entries anyway (so that a reservation fails at once).
template <typename List>
std::size_t unpruned_size(List const& list) {
    constexpr double bound = 1e12;
    double total = 1.0;
    for (auto const& factor : list) total *= static_cast<double>(factor_of(factor).size());
    return static_cast<std::size_t>(std::min(total, bound));
}

// Pairwise product of every entry of `a` with every entry of `b`, `a` outermost.
template <typename Op, typename In, typename Out>
void inner_tensor_product(In const& a, In const& b, Out& out) {
    const Op op;
    // Each row of `a` costs a pass over `b`: polled every row.
    InterruptSignalHandler::Poll poll(1);
    for (auto const& [s1, p1] : a) {
        poll();
        for (auto const& [s2, p2] : b) Op::store(out, op(s1, s2), p1 * p2);
    }
}

// The same, keeping the products whose magnitude is at least the threshold.
template <typename Op, typename In, typename Out>
void inner_tensor_product(In const& a, In const& b, Out& out, double t) {
    const Op op;
    InterruptSignalHandler::Poll poll(1);
    for (auto const& [s1, p1] : a) {
        poll();
        for (auto const& [s2, p2] : b) {
            const double p = p1 * p2;
            if (std::abs(p) >= t) Op::store(out, op(s1, s2), p);
        }
    }
}

// How a list product prunes. Distributions hold probabilities: a branch is kept while its signed
// partial product reaches the bound, and a bound is divided by a factor's largest value (from
// the first entry's, so it is the true maximum even when every value is negative).
struct SignedBound {
    static bool keeps(double x, double bound) { return bound <= x; }
    template <typename Factor>
    static double largest(Factor const& factor) {
        double max = factor.begin()->second;
        for (auto const& entry : factor) max = std::max(max, entry.second);
        return max;
    }
    static std::optional<double> before(double bound, double largest) { return bound / largest; }
};

// Functions hold signed values: a branch is kept while its magnitude reaches the bound, as in the
// pairwise products, and a bound is divided by a factor's largest magnitude. A factor whose
// values are all 0 leaves a bound of at most 0 as it is, and no branch can reach a positive one.
struct MagnitudeBound {
    static bool keeps(double x, double bound) { return std::abs(x) >= bound; }
    template <typename Factor>
    static double largest(Factor const& factor) {
        double max = 0.0;
        for (auto const& entry : factor) max = std::max(max, std::abs(entry.second));
        return max;
    }
    static std::optional<double> before(double bound, double largest) {
        if (largest > 0.0) return bound / largest;
        if (bound <= 0.0) return bound;
        return std::nullopt;
    }
};

// The rule of a list product follows its factors' container.
template <typename Container>
struct list_bound {
    using type = SignedBound;
};

template <>
struct list_bound<FockSpaceFunction> {
    using type = MagnitudeBound;
};

template <typename List>
using list_bound_t = typename list_bound<
    std::remove_cvref_t<decltype(factor_of(*std::declval<List const&>().begin()))>>::type;

// One threshold per factor: element k is t divided by the largest values of the last k factors,
// so reading the vector from its end gives each factor the bound its partial product must reach
// for the remaining factors to lift it to t. Empty when no branch can reach t.
template <typename Bound = SignedBound, typename List>
std::vector<double> get_thresholds(List const& list, double t) {
    std::vector<double> thresholds{t};
    thresholds.reserve(list.empty() ? 1 : list.size());
    for (auto it = list.rbegin(); thresholds.size() < list.size(); ++it) {
        auto const& factor = factor_of(*it);
        // An empty factor empties the product anyway; its bound does not matter.
        if (factor.begin() == factor.end()) {
            thresholds.push_back(thresholds.back());
            continue;
        }
        const std::optional<double> bound =
            Bound::before(thresholds.back(), Bound::largest(factor));
        if (!bound) return {};
        thresholds.push_back(*bound);
    }
    return thresholds;
}

// Depth-first product of the factors [it, end) onto key and value, abandoning a branch as soon
// as its partial product falls below the factor's threshold. The branches being walked live on
// the heap, one frame and one key per factor, so the number of factors is not bounded by the
// call stack; leaves are stored in the order a recursive walk would store them.
template <typename Op, typename Bound = SignedBound, typename FactorIt, typename Out, typename Key,
          typename ThresholdIt>
void inner_tensor_product(FactorIt it, FactorIt end, Out& out, Key key, double value,
                          ThresholdIt threshold) {
    if (it == end) {
        Op::store(out, std::move(key), value);
        return;
    }
    using Entry = decltype(factor_of(*it).begin());
    struct Frame {
        Entry entry;
        Entry last;
        double value;  // the product before this factor
    };
    const Op op;
    const auto depth = static_cast<std::size_t>(std::distance(it, end));
    std::vector<Frame> frames;
    frames.reserve(depth);
    // keys[d] is the key before factor d; a slot is reassigned, not rebuilt, on each descent.
    std::vector<Key> keys(depth);
    keys[0] = std::move(key);
    frames.push_back(Frame{factor_of(*it).begin(), factor_of(*it).end(), value});
    InterruptSignalHandler::Poll poll;
    while (!frames.empty()) {
        poll();
        const std::size_t d = frames.size() - 1;
        Frame& frame = frames.back();
        if (frame.entry == frame.last) {
            frames.pop_back();
            continue;
        }
        auto const& [s, p] = *frame.entry;
        ++frame.entry;
        const double x = frame.value * p;
        if (!Bound::keeps(x, *std::next(threshold, static_cast<std::ptrdiff_t>(d)))) continue;
        if (d + 1 == depth) {
            Op::store(out, op(keys[d], s), x);
        } else {
            keys[d + 1] = op(keys[d], s);
            auto const& factor = factor_of(*std::next(it, static_cast<std::ptrdiff_t>(d + 1)));
            frames.push_back(Frame{factor.begin(), factor.end(), x});
        }
    }
}

}  // namespace details

// Adds the tensor product of the list's factors, scaled by `value`, to `out` without clearing it.
// Every factor after the first must be non-empty. Lists of functions prune by magnitude, other
// lists by signed value.
template <typename List, typename Out, typename Key>
void inner_tensor_product(List const& list, Out& out, Key const& key, double value, double t) {
    using Bound = details::list_bound_t<List>;
    const std::vector<double> thresholds = details::get_thresholds<Bound>(list, t);
    if (thresholds.empty()) return;
    details::inner_tensor_product<details::TensorProd, Bound>(list.begin(), list.end(), out, key,
                                                              value, thresholds.rbegin());
}

// The same with the merge product: merged entries add to what `out` holds.
template <typename List, typename Out, typename Key>
void inner_merge(List const& list, Out& out, Key const& key, double value, double t) {
    using Bound = details::list_bound_t<List>;
    const std::vector<double> thresholds = details::get_thresholds<Bound>(list, t);
    if (thresholds.empty()) return;
    details::inner_tensor_product<details::Merge, Bound>(list.begin(), list.end(), out, key, value,
                                                         thresholds.rbegin());
}

// The k-th tensor power as the list product of k copies, for every k a state can reach. Beyond
// 256 factors a state of m > 0 modes would exceed its cap, so that fails first, before a list of
// k references is built; a power of 0-mode states splits in halves, so its cost grows with
// log(k) rather than k.
template <typename T, typename ListProduct>
T tensor_power(T const& x, std::size_t k, std::optional<int> m, ListProduct const& list_product) {
    constexpr std::size_t max_factors = FockState::max_modes;
    if (k <= max_factors)
        return list_product(std::vector<std::reference_wrapper<T const>>(k, std::cref(x)));
    if (m && *m > 0) throw std::runtime_error("Fock state size is capped from 0 to 256 modes");
    const T half = tensor_power(x, k / 2, m, list_product);
    const T rest = k % 2 ? tensor_power(x, k - k / 2, m, list_product) : half;
    return list_product(
        std::vector<std::reference_wrapper<T const>>{std::cref(half), std::cref(rest)});
}

}  // namespace MathUtils
