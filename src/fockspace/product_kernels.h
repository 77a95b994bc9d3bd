#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "states/any_fs_utils.h"

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

// Pairwise product of every entry of `a` with every entry of `b`, `a` outermost.
template <typename Op, typename In, typename Out>
void inner_tensor_product(In const& a, In const& b, Out& out) {
    const Op op;
    for (auto const& [s1, p1] : a)
        for (auto const& [s2, p2] : b) Op::store(out, op(s1, s2), p1 * p2);
}

// The same, keeping the products whose magnitude is at least the threshold.
template <typename Op, typename In, typename Out>
void inner_tensor_product(In const& a, In const& b, Out& out, double t) {
    const Op op;
    for (auto const& [s1, p1] : a)
        for (auto const& [s2, p2] : b) {
            const double p = p1 * p2;
            if (std::abs(p) >= t) Op::store(out, op(s1, s2), p);
        }
}

// One threshold per factor: element k is t divided by the largest values of the last k factors,
// so reading the vector from its end gives each factor the bound its partial product must reach
// for the remaining factors to lift it to t.
template <typename List>
std::vector<double> get_thresholds(List const& list, double t) {
    std::vector<double> thresholds{t};
    thresholds.reserve(list.empty() ? 1 : list.size());
    for (auto it = list.rbegin(); thresholds.size() < list.size(); ++it) {
        auto const& factor = factor_of(*it);
        double largest = thresholds.back();
        if (factor.begin() != factor.end()) {
            // An empty factor empties the product anyway; its bound does not matter.
            auto entry = factor.begin();
            double max = entry->second;
            for (++entry; entry != factor.end(); ++entry) max = std::max(max, entry->second);
            largest = thresholds.back() / max;
        }
        thresholds.push_back(largest);
    }
    return thresholds;
}

// Depth-first product of the factors [it, end) onto key and value, abandoning a branch as soon
// as its partial product falls below the factor's threshold. The branches being walked live on
// the heap, one frame and one key per factor, so the number of factors is not bounded by the
// call stack; leaves are stored in the order a recursive walk would store them.
template <typename Op, typename FactorIt, typename Out, typename Key, typename ThresholdIt>
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
    while (!frames.empty()) {
        const std::size_t d = frames.size() - 1;
        Frame& frame = frames.back();
        if (frame.entry == frame.last) {
            frames.pop_back();
            continue;
        }
        auto const& [s, p] = *frame.entry;
        ++frame.entry;
        const double x = frame.value * p;
        if (!(*std::next(threshold, static_cast<std::ptrdiff_t>(d)) <= x)) continue;
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
// Every factor after the first must be non-empty.
template <typename List, typename Out, typename Key>
void inner_tensor_product(List const& list, Out& out, Key const& key, double value, double t) {
    const std::vector<double> thresholds = details::get_thresholds(list, t);
    details::inner_tensor_product<details::TensorProd>(list.begin(), list.end(), out, key, value,
                                                       thresholds.rbegin());
}

// The same with the merge product: merged entries add to what `out` holds.
template <typename List, typename Out, typename Key>
void inner_merge(List const& list, Out& out, Key const& key, double value, double t) {
    const std::vector<double> thresholds = details::get_thresholds(list, t);
    details::inner_tensor_product<details::Merge>(list.begin(), list.end(), out, key, value,
                                                  thresholds.rbegin());
}

}  // namespace MathUtils
