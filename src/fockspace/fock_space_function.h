#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "fockspace/fock_state_map.h"
#include "fockspace/fs_array.h"
#include "states/fock_state.h"

class FockSpaceDistribution;

// A real-valued function over perfect Fock states of one mode count, kept as a sparse hash map
// iterated in its own order. Values may be negative, zero or unnormalised.
class FockSpaceFunction : public FockStateMap {
  public:
    FockSpaceFunction() = default;
    FockSpaceFunction(FockState const& fs, double value);
    // Unless trusted, every key must have the mode count of the first one.
    FockSpaceFunction(map_type map, bool trusted) : FockStateMap(std::move(map), trusted) {}
    // One value per state of the array, in its order; keeps those whose magnitude exceeds the
    // threshold.
    FockSpaceFunction(FsArray const& fsa, std::vector<double> const& values, double threshold);

    double& operator[](FockState const& fs) { return map_[fs]; }
    double& operator[](FockState&& fs) { return map_[std::move(fs)]; }
    // A zero value is not stored: an absent state stays absent, a present one keeps its value.
    void set(FockState const& fs, double value);
    bool erase(FockState const& fs) { return map_.erase(fs) > 0; }
    void clear() { map_.clear(); }

    double weight() const;

    // Leaves the values alone when the weight is not above 1e-16.
    void normalize();
    // Erases every entry whose magnitude is at most the threshold.
    void trim(double threshold);

    FockSpaceFunction& operator*=(double factor);
    FockSpaceFunction& operator/=(double divisor);
    FockSpaceFunction operator-() const&;
    FockSpaceFunction operator-() &&;
    FockSpaceFunction& operator+=(FockSpaceFunction const& other);
    FockSpaceFunction& operator-=(FockSpaceFunction const& other);

    // Checks the mode counts and trims at the threshold; the && form leaves this function empty
    // once the conversion has succeeded, and as it was when it throws.
    FockSpaceDistribution toFSD(double threshold) &&;
    FockSpaceDistribution toFSD(double threshold) const&;

    FockSpaceFunction pow(std::size_t k) const;

    bool operator==(FockSpaceFunction const& other) const {
        return details::fock_space_maps_equal(map_, other.map_);
    }
    bool operator!=(FockSpaceFunction const& other) const { return !(*this == other); }
};

inline FockSpaceFunction operator*(FockSpaceFunction f, double factor) {
    f *= factor;
    return f;
}

inline FockSpaceFunction operator*(double factor, FockSpaceFunction f) {
    f *= factor;
    return f;
}

inline FockSpaceFunction operator/(FockSpaceFunction f, double divisor) {
    f /= divisor;
    return f;
}

inline FockSpaceFunction operator+(FockSpaceFunction a, FockSpaceFunction const& b) {
    a += b;
    return a;
}

inline FockSpaceFunction operator-(FockSpaceFunction a, FockSpaceFunction const& b) {
    a -= b;
    return a;
}

template <>
struct fmt::formatter<FockSpaceFunction> {
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it != '}')
            throw format_error("invalid format for FockSpaceFunction");
        return it;
    }

    template <typename FormatContext>
    auto format(FockSpaceFunction const& f, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = fmt::format_to(ctx.out(), "{{");
        for (auto const& [state, value] : f) out = fmt::format_to(out, "\n\t{}: {}", state, value);
        return fmt::format_to(out, "\n}}");
    }
};
