#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "states/fock_state.h"

// The two sample containers, seen from Python as BSSamples and BSCount. They stay the plain
// standard containers: every list of perfect states the library returns is a BSSamples.

// Sampled states in draw order.
using BSSamples = std::vector<FockState>;
// How many times each state was measured.
using BSCount = std::unordered_map<FockState, unsigned long>;

// Text forms of the two containers.

// "[ |1,0>, |0,1> ]", at most 11 states, then ", ... (size=N)". The format string may hold only
// digits, which change nothing.
template <>
struct fmt::formatter<BSSamples> {
    static constexpr std::size_t max_shown = 11;

    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        for (; it != ctx.end() && *it != '}'; ++it)
            if (*it < '0' || *it > '9')
                throw format_error(std::string("invalid format for BSSamples ") +
                                   std::string(ctx.begin(), ctx.end()));
        return it;
    }

    template <typename FormatContext>
    auto format(BSSamples const& samples, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = fmt::format_to(ctx.out(), "[ ");
        std::size_t shown = 0;
        for (auto const& state : samples) {
            if (shown) out = fmt::format_to(out, ", ");
            out = fmt::format_to(out, "{}", state);
            if (++shown == max_shown) break;
        }
        if (shown < samples.size()) out = fmt::format_to(out, ", ... (size={})", samples.size());
        return fmt::format_to(out, " ]");
    }
};

// "{\n  |1,0>: 5\n}", in the map's own order.
template <>
struct fmt::formatter<BSCount> {
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it != '}') throw format_error("invalid format for BSCount");
        return it;
    }

    template <typename FormatContext>
    auto format(BSCount const& counts, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = fmt::format_to(ctx.out(), "{{\n");
        for (auto const& [state, count] : counts)
            out = fmt::format_to(out, "  {}: {}\n", state, count);
        return fmt::format_to(out, "}}");
    }
};
