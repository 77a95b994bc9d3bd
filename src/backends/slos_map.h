#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "fockspace/fock_space.h"
#include "fockspace/fock_state_ranks.h"
#include "fockspace/ranked_bits.h"
#include "states/fock_state.h"

namespace Backend {

// The most states of one photon count a tail table of `DenseLinks` covers (ranks fit in 16
// bits); tests lower it so that small spaces run through the head runs too.
inline std::atomic<unsigned long>& dense_tail_limit() {
    static std::atomic<unsigned long> limit{65536};
    return limit;
}

// The links of a map that keeps every state, with nothing stored per link. The states of k
// photons over modes j..m-1, in natural order, are the blocks a e_j + (states of k-a photons over
// modes j+1..m-1) for a = k down to 0. So a link that moves a photon of one of the first `head`
// modes joins two aligned runs of consecutive states, one per layer; only the last `tail` modes
// need a table, one per photon count, shared by every run.
class DenseLinks {
  public:
    // Every state of c photons over the tail modes pulls from the states of c-1 photons, one
    // link (source rank, tail mode) per occupied mode, modes ascending. The states are listed by
    // their number of links, so that a pass over one class has a fixed trip count.
    struct TailLayer {
        // classes[s]: end in `states` of the states with s links; the class starts where the
        // previous one ends.
        std::vector<std::uint32_t> classes;
        // Rank of each listed state among the states of c photons, in natural order.
        std::vector<std::uint16_t> states;
        // s links per state of class s, in the order of `states`.
        std::vector<std::uint16_t> sources;
        std::vector<std::uint8_t> modes;
        // √ of the product of the factorials of the occupations of each state, by rank.
        std::vector<double> scales;

        std::size_t size() const { return scales.size(); }
    };

    // The same links for the 512-bit pass, four consecutive states (ranks 4g ... 4g+3) at a
    // time: record l of a group holds the l-th link of each of its states, as the byte offset
    // of its source in the source run and its tail mode (twice, one per part of the complex
    // number). A state with fewer links reads the run's first source through the mode
    // `no_mode`, whose entry of the column is zero.
    struct TailLanes {
        // ends[g]: end in the records of group g; a group starts where the previous one ends.
        std::vector<std::uint32_t> ends;
        // Four per record.
        std::vector<std::uint32_t> offsets;
        // Eight per record.
        std::vector<std::uint8_t> modes;
    };

    // The 512-bit pass picks the column's entries of a record's modes from two registers of
    // eight: the tail modes and `no_mode`.
    static constexpr int max_tail = 15;
    static constexpr std::uint8_t no_mode = max_tail;

    DenseLinks() = default;
    // The counts of m modes and n photons must fit in 64 bits (FockSpace checks it).
    DenseLinks(int m, int n);

    // States of c photons over t modes, for t ≤ m and c ≤ n.
    unsigned long count(int t, int c) const {
        return counts_[static_cast<std::size_t>(t) * static_cast<std::size_t>(n_ + 1) +
                       static_cast<std::size_t>(c)];
    }

    int head = 0;
    int tail = 0;
    // tails[c] and lanes[c] for c = 0 ... n.
    std::vector<TailLayer> tails;
    std::vector<TailLanes> lanes;
    // √(a!) for a = 0 ... n; +inf where a! overflows.
    std::vector<double> factorial_roots;

  private:
    int n_ = 0;
    std::vector<unsigned long> counts_;
};

// The one-photon transitions between consecutive layers of m modes and up to n photons that lie
// on a path from the vacuum to an accepted state of n photons, each state renumbered by its rank
// among the kept states of its layer, with indices of type T.
//
// With a predicate, the links of a layer are stored grouped by one end, the kept states of that
// end's layer in rank order (the source forward, the destination backward), so that end is
// implicit: a link stores its other end and the mode that gains the photon. Without one, every
// state is kept and the links are computed (`DenseLinks`).
template <typename T>
class SlosMap_t {
  public:
    struct Layer {
        // The other end of every link, by rank.
        std::vector<T> ends;
        std::vector<std::uint8_t> modes;
        // Group g holds group_sizes[g] + 1 links (a kept state has at least one).
        std::vector<std::uint8_t> group_sizes;
    };

    // The space must have no filling: the map prunes by the predicate itself.
    SlosMap_t(FockSpace const& space, std::function<bool(FockState const&)> predicate,
              bool backward);

    // The accepted state of rank j.
    FockState final_state(std::size_t j) const;
    // f(src, dst, mode) for every link from layer k to layer k+1, in the map's order.
    template <typename F>
    void for_each_link(int k, F&& f) const;
    // The rank of an accepted state of m modes and n photons.
    std::optional<unsigned long> final_index(FockState const& state) const;
    // f(state) for every accepted state, in rank order.
    template <typename F>
    void for_each_final_state(F&& f) const;

    int m;
    int n;
    bool backward;
    // layers[k]: the links from layer k to layer k+1; empty without a predicate.
    std::vector<Layer> layers;
    // Without a predicate only.
    DenseLinks dense;
    std::vector<std::uint64_t> kept_counts;
    // √(s!) of every accepted state, with a predicate only; +inf where s! overflows.
    std::vector<double> final_scales;
    // Full indices of the accepted states when a predicate chose them; empty when every state of
    // n photons is accepted (then rank and full index agree).
    std::vector<T> final_indices;
    bool pruned;
    FSILookups_t<unsigned long> lookups;

  private:
    void fill_forward(FockSpace const& space, int k, RankedBits& keep, RankedBits const& next);
    void fill_backward(FockSpace const& space, int k, RankedBits& keep, RankedBits const& next);
    FockState unrank(unsigned long index) const {
        return natural_unrank(m, n, index, [this](int v, int c) { return lookups.t(v + 1, c); });
    }
};

template <typename T>
template <typename F>
void SlosMap_t<T>::for_each_final_state(F&& f) const {
    const auto count = static_cast<std::size_t>(kept_counts.back());
    if (pruned) {
        for (std::size_t j = 0; j < count; ++j) f(unrank(final_indices[j]));
        return;
    }
    FockState state(m, n);
    for (std::size_t j = 0; j < count; ++j) {
        f(static_cast<FockState const&>(state));
        state.increment();
    }
}

template <typename T>
template <typename F>
void SlosMap_t<T>::for_each_link(int k, F&& f) const {
    if (pruned) {
        Layer const& layer = layers[static_cast<std::size_t>(k)];
        std::size_t l = 0;
        for (std::size_t g = 0; g < layer.group_sizes.size(); ++g)
            for (unsigned c = 0; c <= layer.group_sizes[g]; ++c, ++l) {
                const auto end = static_cast<unsigned long>(layer.ends[l]);
                if (backward)
                    f(end, static_cast<unsigned long>(g), static_cast<int>(layer.modes[l]));
                else
                    f(static_cast<unsigned long>(g), end, static_cast<int>(layer.modes[l]));
            }
        return;
    }
    // Every state is kept, so ranks are full indices.
    const FockSpace space(m, n);
    if (backward) {
        for (auto const& t : space.FockStates(k + 1))
            for (auto const& previous : space.RemoveOnePhoton(t))
                f(previous.index, t.index, previous.mode);
    } else {
        for (auto const& s : space.FockStates(k))
            for (auto const& successor : space.AddOnePhoton(s))
                f(s.index, successor.index, successor.mode);
    }
}

// The map of zero photons: the vacuum alone.
template <>
class SlosMap_t<void> {
  public:
    explicit SlosMap_t(int m = 0) : m(m), n(0) {}

    FockState final_state(std::size_t) const { return FockState(m, 0); }
    std::optional<unsigned long> final_index(FockState const& state) const {
        if (state.m() != m || state.n() != 0) return std::nullopt;
        return 0;
    }
    template <typename F>
    void for_each_final_state(F&& f) const {
        f(FockState(m, 0));
    }

    int m;
    int n;
};

extern template class SlosMap_t<unsigned char>;
extern template class SlosMap_t<unsigned short>;
extern template class SlosMap_t<unsigned int>;
extern template class SlosMap_t<unsigned long>;

// A link map of the narrowest index width that holds every index of its Fock space.
class SlosMap {
  public:
    using variant_type =
        std::variant<SlosMap_t<void>, SlosMap_t<unsigned char>, SlosMap_t<unsigned short>,
                     SlosMap_t<unsigned int>, SlosMap_t<unsigned long>>;

    // The vacuum of 0 modes.
    SlosMap() = default;
    SlosMap(SlosMap const&) = default;
    SlosMap& operator=(SlosMap const&) = default;
    // The source is left as the map of 0 modes.
    SlosMap(SlosMap&& other) noexcept : held_(std::move(other.held_)) { other.held_ = {}; }
    SlosMap& operator=(SlosMap&& other) noexcept {
        if (this != &other) {
            held_ = std::move(other.held_);
            other.held_ = {};
        }
        return *this;
    }

    // The new map is complete before it replaces the held one: a failure keeps the held map.
    void build(int m, int n, std::function<bool(FockState const&)> predicate, bool backward);

    std::size_t index() const { return held_.index(); }
    int m() const {
        return std::visit([](auto const& map) { return map.m; }, held_);
    }
    int n() const {
        return std::visit([](auto const& map) { return map.n; }, held_);
    }
    // Built on request: the map keeps the accepted states as full indices only.
    std::vector<FockState> final_states() const;
    std::optional<unsigned long> final_index(FockState const& state) const {
        return std::visit([&](auto const& map) { return map.final_index(state); }, held_);
    }
    template <typename F>
    void for_each_final_state(F&& f) const {
        std::visit([&](auto const& map) { map.for_each_final_state(f); }, held_);
    }
    variant_type const& get() const { return held_; }

  private:
    variant_type held_;
};

}  // namespace Backend
