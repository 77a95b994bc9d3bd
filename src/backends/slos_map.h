#pragma once

#include <cstdint>
#include <functional>
#include <variant>
#include <vector>

#include "fockspace/fock_space.h"
#include "states/fock_state.h"

namespace Backend {

// The one-photon transitions between consecutive layers of m modes and up to n photons that lie
// on a path from the vacuum to an accepted state of n photons, each state renumbered by its rank
// among the kept states of its layer, with indices of type T.
template <typename T>
class SlosMap_t {
  public:
    struct Link {
        T src;
        T dst;
    };

    // The space must have no filling: the map prunes by the predicate itself.
    SlosMap_t(FockSpace const& space, std::function<bool(FockState const&)> predicate,
              bool backward);

    // Appends the links of layer k to layer k+1 (by full index) and sets the keep flags of
    // layer k from those of layer k+1: links grouped by source state.
    void fill_links_forward(FockSpace const& space, int k, std::vector<bool>& keep,
                            std::vector<bool> const& keep_next);
    // The same links, grouped by destination state.
    void fill_links_backward(FockSpace const& space, int k, std::vector<bool>& keep,
                             std::vector<bool> const& keep_next);
    // ranks[p] = the number of set flags before p, written where the flag at p is set.
    static void compute_reduced_indices(std::vector<bool> const& keep, std::vector<T>& ranks);

    int m;
    int n;
    std::vector<std::vector<Link>> link_lists;
    // link_modes[k][i]: the mode that receives the photon of link_lists[k][i].
    std::vector<std::vector<std::uint8_t>> link_modes;
    std::vector<FockState> final_states;
    std::vector<std::uint64_t> kept_counts;
};

// The map of zero photons: the vacuum alone.
template <>
class SlosMap_t<void> {
  public:
    struct Link {
        std::uint8_t src;
        std::uint8_t dst;
    };

    explicit SlosMap_t(int m = 0) : m(m), n(0), final_states{FockState(m, 0)} {}

    int m;
    int n;
    std::vector<std::vector<Link>> link_lists;
    std::vector<std::vector<std::uint8_t>> link_modes;
    std::vector<FockState> final_states;
};

extern template class SlosMap_t<unsigned char>;
extern template class SlosMap_t<unsigned short>;
extern template class SlosMap_t<unsigned int>;
extern template class SlosMap_t<unsigned long>;

// A link map of the narrowest index width that holds every index of its Fock space.
class SlosMap {
  public:
    using variant_type = std::variant<SlosMap_t<void>, SlosMap_t<unsigned char>,
                                      SlosMap_t<unsigned short>, SlosMap_t<unsigned int>,
                                      SlosMap_t<unsigned long>>;

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
    std::vector<FockState> const& final_states() const {
        return std::visit([](auto const& map) -> std::vector<FockState> const& {
            return map.final_states;
        }, held_);
    }
    variant_type const& get() const { return held_; }

  private:
    variant_type held_;
};

}  // namespace Backend
