#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "states/basic_state.h"
#include "states/state_vector.h"

class FockSpaceDistribution;

// A mixed state: state vectors with their probabilities. Probabilities are neither required to
// be normalised nor positive, but must be finite: the constructors, `set`, `add` and the
// products refuse any other value; `n_max` is whatever the writers set, never recomputed. The
// constructors and the editing members below keep every key at one mode count and treat `n_max`
// as a high-water mark of the keys' photon counts; nothing lowers it.
class StateVectorDistribution {
  public:
    using map_t = std::unordered_map<StateVector, double>;

    StateVectorDistribution();
    // The vector alone, with probability 1.
    explicit StateVectorDistribution(StateVector sv);
    // Takes the map whole, once its keys are known to share one mode count.
    explicit StateVectorDistribution(map_t map);
    // Each state stands for its one-component vector, stored as `set` does, in the map's order.
    explicit StateVectorDistribution(const std::unordered_map<BasicState, double>& states);
    // The perfect states with their probabilities, as they are: no mode check, no normalisation.
    explicit StateVectorDistribution(const FockSpaceDistribution& d);

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

    // The probability of sv, 0 when absent; nothing is inserted.
    double get(const StateVector& sv) const;
    // The probability of sv, none when absent.
    std::optional<double> find(const StateVector& sv) const;
    bool contains(const StateVector& sv) const { return map_.contains(sv); }

    // Both run the mode check and the value check, then raise n_max to sv's largest photon
    // count, then change the map, so a failed check changes nothing. `set` stores any finite
    // value; `add` adds only values above 1e-16, an absent entry starting at 0, and fails when
    // the sum is not finite.
    void set(const StateVector& sv, double p);
    void add(const StateVector& sv, double p);
    // Whether there was an entry to erase; n_max is kept.
    bool erase(const StateVector& sv) { return map_.erase(sv) != 0; }

    // The same entries with exactly the same probabilities (a NaN never matches); n_max is not
    // compared.
    bool operator==(const StateVectorDistribution& other) const;

    StateVectorDistribution& operator*=(const StateVector& sv);
    StateVectorDistribution& operator*=(const StateVectorDistribution& other);

    // `count` draws by weight. `non_null` leaves the entry equal to the perfect empty state out
    // of the draw; keys without photons of the other kinds, and superpositions holding the empty
    // state, are drawn like any other. Throws when nothing is left to draw from.
    std::vector<StateVector> sample(std::size_t count, bool non_null = false) const;
    // Logs a warning and changes nothing when the absolute values sum to 0. A sum that
    // overflows is taken after scaling by the largest magnitude.
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
