#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "states/basic_state.h"
#include "states/state_vector.h"

// A mixed state: state vectors with their probabilities. Probabilities are neither required to
// be normalised nor positive; `n_max` is whatever the writers set, never recomputed.
class StateVectorDistribution {
  public:
    using map_t = std::unordered_map<StateVector, double>;

    StateVectorDistribution();

    map_t& map() { return map_; }
    const map_t& map() const { return map_; }
    int n_max() const { return n_max_; }
    std::int32_t& n_max() { return n_max_; }

    std::size_t size() const { return map_.size(); }
    bool empty() const { return map_.empty(); }
    map_t::iterator begin() { return map_.begin(); }
    map_t::iterator end() { return map_.end(); }
    map_t::const_iterator begin() const { return map_.begin(); }
    map_t::const_iterator end() const { return map_.end(); }

    // Throws when the distribution holds entries of another mode count than m.
    void check_m(int m) const;

    StateVectorDistribution& operator*=(const StateVector& sv);
    StateVectorDistribution& operator*=(const StateVectorDistribution& other);

    std::vector<StateVector> sample(std::size_t count) const;
    // Logs a warning and changes nothing when the absolute values sum to 0.
    void normalize();
    StateVectorDistribution pow(std::size_t k) const;

  private:
    map_t map_;
    std::int32_t n_max_ = 0;
};

// The largest photon count of the vector's components; 0 for a vector without components.
int largest_photon_count(const StateVector& sv);

StateVectorDistribution operator*(const StateVectorDistribution& d, const StateVector& sv);
StateVectorDistribution operator*(const StateVector& sv, const StateVectorDistribution& d);
StateVectorDistribution operator*(const StateVectorDistribution& d, const BasicState& state);
StateVectorDistribution operator*(const BasicState& state, const StateVectorDistribution& d);

// Keeps the products whose magnitude is at least t; never renormalised.
StateVectorDistribution tensor_product(const StateVectorDistribution& a,
                                       const StateVectorDistribution& b, double t);
StateVectorDistribution operator*(const StateVectorDistribution& a,
                                  const StateVectorDistribution& b);
StateVectorDistribution tensor_product(const std::vector<StateVectorDistribution>& list, double t);
StateVectorDistribution tensor_product(
    const std::vector<std::reference_wrapper<const StateVectorDistribution>>& list, double t);

template <>
struct fmt::formatter<StateVectorDistribution> {
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it != '}')
            throw format_error("invalid format for StateVectorDistribution");
        return it;
    }

    template <typename FormatContext>
    auto format(const StateVectorDistribution& d, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = fmt::format_to(ctx.out(), "{{");
        for (const auto& [sv, p] : d) out = fmt::format_to(out, "\n\t{}: {}", sv, p);
        return fmt::format_to(out, "\n}}");
    }
};
