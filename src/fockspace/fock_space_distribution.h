#pragma once

#include <cstddef>
#include <vector>

#include <fmt/format.h>

#include "fockspace/fock_space_function.h"
#include "fockspace/fock_state_map.h"
#include "fockspace/fs_array.h"
#include "states/fock_state.h"

// A probability distribution over perfect Fock states of one mode count, iterated in its hash
// map's own order. Constructors fed with outside data refuse values that are not finite, drop
// the non-positive (or below-threshold) entries and renormalise; trimming is the only edit, the
// rest goes through FockSpaceFunction.
class FockSpaceDistribution : public FockStateMap {
  public:
    FockSpaceDistribution() = default;
    explicit FockSpaceDistribution(FockState const& fs);
    // Unless trusted, the map must pass `check`, then it is trimmed at the threshold.
    FockSpaceDistribution(map_type map, bool trusted, double threshold);
    // One probability per state of the array, in its order, all finite; keeps those above the
    // threshold and renormalises them.
    FockSpaceDistribution(FsArray const& fsa, std::vector<double> const& probabilities,
                          double threshold);

    double operator[](FockState const& fs) const { return get(fs); }

    // Throws what the checking constructor throws for this map and threshold: mixed mode
    // counts, a value that is not finite, or no value above the threshold.
    static void check(map_type const& map, double threshold);

    // Erases the entries at or below the threshold and renormalises the rest; throws, changing
    // nothing, when none is above it.
    void trim(double threshold);
    // As trim, with the threshold relative to the largest probability.
    void trim_relative(double relative_threshold);

    // The && form leaves this distribution empty once the conversion has succeeded.
    FockSpaceFunction toFockSpaceFunction() &&;
    FockSpaceFunction toFockSpaceFunction() const&;

    // `count` states drawn from the calling thread's engine, the 0-photon state left out unless
    // allow_void.
    std::vector<FockState> sample(std::size_t count, bool allow_void) const;

    FockSpaceDistribution pow(std::size_t k) const;

    bool operator==(FockSpaceDistribution const& other) const {
        return details::fock_space_maps_equal(map_, other.map_);
    }
    bool operator!=(FockSpaceDistribution const& other) const { return !(*this == other); }
    friend bool operator==(FockSpaceDistribution const& d, FockSpaceFunction const& f) {
        return details::fock_space_maps_equal(d.map_, map_of(f));
    }
    friend bool operator!=(FockSpaceDistribution const& d, FockSpaceFunction const& f) {
        return !(d == f);
    }
    friend bool operator==(FockSpaceFunction const& f, FockSpaceDistribution const& d) {
        return details::fock_space_maps_equal(map_of(f), d.map_);
    }
    friend bool operator!=(FockSpaceFunction const& f, FockSpaceDistribution const& d) {
        return !(f == d);
    }

  private:
    // Erases the entries at or below `cut` and divides the rest by their sum.
    void erase_and_renormalise(double cut);
    // Divides every value by `sum`, the sum of the values, which may have overflowed.
    void divide_by_sum(double sum);
};

template <>
struct fmt::formatter<FockSpaceDistribution> {
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it != '}')
            throw format_error("invalid format for FockSpaceDistribution");
        return it;
    }

    template <typename FormatContext>
    auto format(FockSpaceDistribution const& d, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = fmt::format_to(ctx.out(), "{{");
        for (auto const& [state, value] : d) out = fmt::format_to(out, "\n\t{}: {}", state, value);
        return fmt::format_to(out, "\n}}");
    }
};
