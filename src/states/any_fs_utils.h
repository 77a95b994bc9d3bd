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

template <typename A, typename B>
using richer_t = std::conditional_t<(richness<A> >= richness<B>), A, B>;

// The state itself when it is already of kind `Target`, else a converted temporary.
template <typename Target, typename State>
decltype(auto) as(const State& state) {
    if constexpr (std::is_same_v<Target, State>)
        return (state);
    else
        return Target(state);
}

}  // namespace detail

struct MergeVisitor {
    template <typename A, typename B>
    BasicState operator()(const A& a, const B& b) const {
        using Result = detail::richer_t<A, B>;
        return detail::as<Result>(a).merge(detail::as<Result>(b));
    }
};

struct TensorProductVisitor {
    template <typename A, typename B>
    BasicState operator()(const A& a, const B& b) const {
        using Result = detail::richer_t<A, B>;
        Result product(detail::as<Result>(a));
        product *= detail::as<Result>(b);
        return product;
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
