#pragma once

#include <functional>
#include <vector>

#include "fockspace/fock_space.h"
#include "fockspace/ranked_bits.h"
#include "states/fock_state.h"

// The kept states of one layer: one bit per state, by full index, ranked.
class N_Filling {
  public:
    N_Filling() = default;
    // The predicate's verdict on every state of m modes and n photons, in natural order.
    N_Filling(int m, int n, std::function<bool(FockState const&)> predicate, unsigned long reserve);
    N_Filling(int m, int n, std::function<bool(FockState const&)> predicate);

    void reserve(unsigned long states) { bits.reserve(states); }
    void push_back(bool kept) {
        bits.push_back(kept);
        count += kept;
        ++size;
    }
    bool test(unsigned long i) const { return bits.test(i); }
    // The number of kept states before position i.
    unsigned long rank(unsigned long i) const { return bits.rank(i); }

    RankedBits bits;
    unsigned long size = 0;
    unsigned long count = 0;
};

// Restricts a FockSpace by a predicate on its states of n photons: the top layer keeps what the
// predicate accepts, every lower layer the states with at least one kept one-photon-more
// neighbour, so that a walk over kept states never visits a state that leads nowhere.
class FockSpaceFilling {
  public:
    // The lookups must describe m modes and at least n photons.
    FockSpaceFilling(int m, int n, std::function<bool(FockState const&)> predicate,
                     FSILookups_t<unsigned long> const& lookups);
    FockSpaceFilling(int m, int n, std::function<bool(FockState const&)> predicate);

    N_Filling const& layer(int k) const { return layers[static_cast<std::size_t>(k)]; }

    int m;
    int n;
    std::vector<N_Filling> layers;
};
