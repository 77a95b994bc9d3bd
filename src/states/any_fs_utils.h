#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "states/basic_state.h"

// Operations over basic states of any kind. Mixed kinds are promoted to the richer one before
// the operation, operands kept in their order.
namespace AnyFSUtils {

// Parses the notation once and builds the kind it calls for: noisy when it holds a noise tag,
// else annotated when it holds an annotation, else perfect.
BasicState parse(const std::string& text);

namespace detail {

template <typename State>
constexpr int richness = std::is_same_v<State, FockState>        ? 0
                         : std::is_same_v<State, NoisyFockState> ? 1
                                                                 : 2;

}  // namespace detail

// The kind an operation between kinds A and B gives: the richer one.
template <typename A, typename B>
using richer_t = std::conditional_t<(detail::richness<A> >= detail::richness<B>), A, B>;

// The state itself when it is already of kind `Target`, else a converted temporary.
template <typename Target, typename State>
decltype(auto) as(const State& state) {
    if constexpr (std::is_same_v<Target, State>)
        return (state);
    else
        return Target(state);
}

// The operations between two given kinds, for callers that know them; the visitors below serve
// the BasicState variant.
template <typename A, typename B>
richer_t<A, B> merge(const A& a, const B& b) {
    using Result = richer_t<A, B>;
    return as<Result>(a).merge(as<Result>(b));
}

template <typename A, typename B>
richer_t<A, B> tensor_product(const A& a, const B& b) {
    using Result = richer_t<A, B>;
    Result product(as<Result>(a));
    product *= as<Result>(b);
    return product;
}

// `other` in place of the modes from `start` to `end` (excluded) of `self`.
template <typename A, typename B>
richer_t<A, B> set_slice(const A& self, const B& other, int start, int end) {
    using Result = richer_t<A, B>;
    return as<Result>(self).set_slice(as<Result>(other), start, end);
}

struct MergeVisitor {
    template <typename A, typename B>
    BasicState operator()(const A& a, const B& b) const {
        return AnyFSUtils::merge(a, b);
    }
};

struct TensorProductVisitor {
    template <typename A, typename B>
    BasicState operator()(const A& a, const B& b) const {
        return AnyFSUtils::tensor_product(a, b);
    }
};

}  // namespace AnyFSUtils

// Mode-wise sum of two states of the same mode count.
BasicState merge(const BasicState& a, const BasicState& b);
// Tensor product: the modes of `a`, then those of `b`.
BasicState operator*(const BasicState& a, const BasicState& b);

namespace MathUtils::details {

// Merge of two keys. `apply` is the policy of the state-vector merge product; the call and
// `store` serve the product kernels of the map-like containers, where different pairs may merge
// into the same key, so their values add up.
struct Merge {
    template <typename State>
    static State apply(const State& a, const State& b) {
        return merge(a, b);
    }
    template <typename Key>
    Key operator()(Key const& a, Key const& b) const {
        return a.merge(b);
    }
    template <typename Out, typename Key>
    static void store(Out& out, Key&& key, double value) {
        out[std::forward<Key>(key)] += value;
    }
};

}  // namespace MathUtils::details
