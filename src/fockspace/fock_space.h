#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "states/fock_state.h"

class FockSpaceFilling;
class N_Filling;

// t[i][c] = C(m - i + c, c), the number of ways to place at most c photons in modes i to m-1,
// for i < m and c < max_n: enough to compute the position of any state of up to max_n photons
// in its layer, and the positions of its one-photon neighbours, arithmetically.
template <typename T>
class FSILookups_t {
  public:
    // Every sum is checked: a space whose counts do not fit in T throws std::overflow_error.
    FSILookups_t(int m, int max_n);

    // Rows i = m (the modes past the last one) read as 1.
    T t(int i, int c) const {
        return i >= m ? T(1)
                      : table[static_cast<std::size_t>(i) * static_cast<std::size_t>(max_n) +
                              static_cast<std::size_t>(c)];
    }
    // C(m+k-1, k) states of k photons, 0 for k < 0; k must not exceed max_n.
    T get_full_count(int k) const;

    int m;
    int max_n;
    std::vector<T> table;
    // C(m+max_n, max_n) - 1: the last position when layers 0 ... max_n are numbered in a row.
    T highest_index = 0;
};

extern template class FSILookups_t<unsigned long>;

namespace details {

// Returns max_n when m modes and up to max_n photons make a space whose layers can be indexed
// (neither negative, no photons without modes); throws std::invalid_argument otherwise.
int checked_max_n(int m, int max_n);

}  // namespace details

// d[j] = photons in modes j to m-1, for j = 0 ... m, the last entry being fixed at 0: the photon
// count of mode j is d[j] - d[j+1].
using DecreasingValues = std::vector<unsigned int>;

// One photon-number layer of a FockSpace, walked in natural order, optionally restricted to the
// states a filling keeps.
class NPhotonStates {
  public:
    // A cursor over the layer; `index` is the full index (position in the unrestricted layer).
    class State {
      public:
        State(int m, int n);
        ~State();

        // Valid until the cursor moves.
        FockState const& getFS() const;
        double prodnfact() const;

        DecreasingValues d;
        unsigned long index = 0;
        bool valid = true;

      private:
        friend class NPhotonStates;
        void advance();

        mutable FockState fs;
    };

    struct Sentinel {};

    class Iterator {
      public:
        explicit Iterator(NPhotonStates const* layer);

        State const& operator*() const { return state; }
        State const* operator->() const { return &state; }
        Iterator& operator++();
        friend bool operator!=(Iterator const& it, Sentinel) { return it.state.valid; }

      private:
        void skip_filtered();

        N_Filling const* filter;
        State state;
    };

    NPhotonStates(N_Filling const* filter, int m, int n) : filter(filter), m(m), n(n) {}

    Iterator begin() const { return Iterator(this); }
    Sentinel end() const { return {}; }

    N_Filling const* filter;
    int m;
    int n;
};

namespace details {

// The one-photon neighbours of a state of layer k in layer k + Step, skipping those a filling
// drops: for Step = 1 one photon more, in ascending order of the mode that gains it; for
// Step = -1 one photon less, in ascending order of the occupied mode that loses it.
template <int Step>
class NeighbourStates_t {
  public:
    struct Sentinel {};

    class Iterator {
      public:
        // `index` is the neighbour's full index in layer k + Step.
        unsigned long index;
        int mode;
        int m;

        Iterator& operator++();
        Iterator const& operator*() const { return *this; }
        friend bool operator!=(Iterator const& it, Sentinel) { return it.mode < it.m; }

      private:
        friend class NeighbourStates_t;
        explicit Iterator(NeighbourStates_t const* range);
        bool kept() const;
        NeighbourStates_t const* range;
    };

    // The lookups, the filling and d must outlive the range.
    NeighbourStates_t(FSILookups_t<unsigned long> const& lookups, FockSpaceFilling const* filling,
                      DecreasingValues const& d, unsigned long start)
        : lookups(lookups), filling(filling), d(d), start(start) {}

    Iterator begin() const { return Iterator(this); }
    Sentinel end() const { return {}; }

  private:
    FSILookups_t<unsigned long> const& lookups;
    FockSpaceFilling const* filling;
    DecreasingValues const& d;
    unsigned long start;
};

extern template class NeighbourStates_t<1>;
extern template class NeighbourStates_t<-1>;

using NPhotonAndOneStates = NeighbourStates_t<1>;
using NPhotonMinusOneStates = NeighbourStates_t<-1>;

}  // namespace details

// The Fock states of m modes with 0 to max_n photons, one layer per photon count, described by
// lookup tables rather than stored. With a predicate on the states of max_n photons, every layer
// keeps only the states that can still grow into an accepted one.
class FockSpace : public FSILookups_t<unsigned long> {
  public:
    FockSpace(int m, int max_n, std::function<bool(FockState const&)> predicate = {});
    FockSpace(FockSpace const& other);
    FockSpace& operator=(FockSpace const& other);
    // The source is left as the space of 0 modes and 0 photons.
    FockSpace(FockSpace&& other) noexcept;
    FockSpace& operator=(FockSpace&& other) noexcept;
    ~FockSpace();

    // k from 0 to max_n.
    NPhotonStates FockStates(int k) const;
    unsigned long get_count(int k) const;
    // The position of fs among the kept states of its layer.
    std::optional<unsigned long> get_index(FockState const& fs) const;

    details::NPhotonAndOneStates AddOnePhoton(NPhotonStates::State const& s) const {
        return {*this, filling.get(), s.d, s.index};
    }
    details::NPhotonMinusOneStates RemoveOnePhoton(NPhotonStates::State const& s) const {
        return {*this, filling.get(), s.d, s.index};
    }

    FockSpaceFilling const* get_filling() const { return filling.get(); }

  private:
    std::unique_ptr<FockSpaceFilling> filling;
};
