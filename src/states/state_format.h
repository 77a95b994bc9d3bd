#pragma once

#include <string>

#include <fmt/format.h>

namespace StateFormat {

// Reads the format string of a basic state: empty, or "h" for the plain form |c0,c1,...>
// (any run of "h" where `repeated_h`). Sets `plain` and returns the end of the format string;
// anything else throws fmt::format_error.
constexpr auto parse(fmt::format_parse_context& ctx, bool& plain, bool repeated_h = false)
    -> decltype(ctx.begin()) {
    auto it = ctx.begin();
    if (it != ctx.end() && *it == 'h') {
        ++it;
        while (repeated_h && it != ctx.end() && *it == 'h') ++it;
    }
    plain = it != ctx.begin();
    if (it != ctx.end() && *it != '}')
        throw fmt::format_error(std::string("invalid format for FockState ") +
                                std::string(ctx.begin(), ctx.end()));
    return it;
}

}  // namespace StateFormat
