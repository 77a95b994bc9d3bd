#pragma once

#include <iosfwd>
#include <string>
#include <variant>

#include <fmt/format.h>

#include "states/annotated_fock_state.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"
#include "states/state_format.h"

// Any basic state. The alternatives are in order of richness: a state converts to a later kind,
// never back. Equality and hash are the standard variant's (index, then the kind's own).
using BasicState = std::variant<FockState, NoisyFockState, AnnotatedFockState>;

std::ostream& operator<<(std::ostream& os, const BasicState& state);

template <>
struct fmt::formatter<BasicState> {
    bool plain = false;

    // Empty, or exactly "h" for the plain form without tags or annotations.
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        return StateFormat::parse(ctx, plain);
    }

    template <typename FormatContext>
    auto format(const BasicState& state, FormatContext& ctx) const -> decltype(ctx.out()) {
        return std::visit(
            [&](const auto& s) {
                return plain ? fmt::format_to(ctx.out(), "{:h}", s)
                             : fmt::format_to(ctx.out(), "{}", s);
            },
            state);
    }
};
