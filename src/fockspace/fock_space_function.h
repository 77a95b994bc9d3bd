#pragma once

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "fockspace/fs_array.h"
#include "states/fock_state.h"

namespace details {

// Non-zero entries of each map must appear in the other with exactly the same value; zero
// entries are ignored and a NaN never matches.
bool fock_space_maps_equal(std::unordered_map<FockState, double> const& a,
                           std::unordered_map<FockState, double> const& b);

}  // namespace details

class FockSpaceDistribution;

// A real-valued function over perfect Fock states of one mode count, kept as a sparse hash map
// iterated in its own order. Values may be negative, zero or unnormalised.
class FockSpaceFunction {
  public:
    using map_type = std::unordered_map<FockState, double>;
    using const_iterator = map_type::const_iterator;

    FockSpaceFunction() { _map.max_load_factor(1.0); }
    FockSpaceFunction(FockState const& fs, double value);
    // Unless trusted, every key must have the mode count of the first one.
    FockSpaceFunction(map_type map, bool trusted);
    // One value per state of the array, in its order; keeps those whose magnitude exceeds the
    // threshold.
    FockSpaceFunction(FsArray const& fsa, std::vector<double> const& values, double threshold);

    FockSpaceFunction(FockSpaceFunction const&) = default;
    FockSpaceFunction& operator=(FockSpaceFunction const&) = default;
    // The source is left empty, which the standard map alone does not promise.
    FockSpaceFunction(FockSpaceFunction&& other) noexcept : _map(std::move(other._map)) {
        other._map.clear();
    }
    FockSpaceFunction& operator=(FockSpaceFunction&& other) noexcept {
        if (this != &other) {
            _map = std::move(other._map);
            other._map.clear();
        }
        return *this;
    }

    const_iterator begin() const { return _map.begin(); }
    const_iterator end() const { return _map.end(); }
    std::size_t size() const { return _map.size(); }

    double get(FockState const& fs) const;
    bool contains(FockState const& fs) const { return _map.contains(fs); }
    double& operator[](FockState const& fs) { return _map[fs]; }
    double& operator[](FockState&& fs) { return _map[std::move(fs)]; }
    // A zero value is not stored: an absent state stays absent, a present one keeps its value.
    void set(FockState const& fs, double value);
    bool erase(FockState const& fs) { return _map.erase(fs) > 0; }
    void clear() { _map.clear(); }
    void reserve(std::size_t n) { _map.reserve(n); }

    std::optional<int> get_m() const;
    void check_m(FockState const& fs) const;
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

    // Checks the mode counts and trims at the threshold; the && form leaves this function empty,
    // even when the conversion throws.
    FockSpaceDistribution toFSD(double threshold) &&;
    FockSpaceDistribution toFSD(double threshold) const&;

    FockSpaceFunction pow(std::size_t k) const;

    bool operator==(FockSpaceFunction const& other) const {
        return details::fock_space_maps_equal(_map, other._map);
    }
    bool operator!=(FockSpaceFunction const& other) const { return !(*this == other); }

  private:
    friend class FockSpaceDistribution;

    map_type _map;
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
