#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "states/fock_state.h"

// Natural-order ranks: a state's position among the states of its mode and photon counts,
// |k,0,…,0> first and |0,…,0,k> last, the order of FockState::increment, FsArray and FockSpace.
// The functions read count(v, c), the number of states of c >= 0 photons over modes v … m-1, from
// whichever table the caller already keeps.

// The rank of a state of k photons over m modes, photons(j) of them in mode j, called for j = 0,
// 1, … in order. For each mode v, the states that agree with it on the modes before v and hold
// more photons in v are those with fewer photons on the modes after v: count(v, a - 1) of them,
// a being its photons after v.
template <typename Photons, typename Count>
std::uint64_t natural_rank(int m, int k, Photons&& photons, Count const& count) {
    std::uint64_t rank = 0;
    int above = k;
    for (int v = 0; v < m; ++v) {
        above -= static_cast<int>(photons(v));
        if (above <= 0) break;
        rank += static_cast<std::uint64_t>(count(v, above - 1));
    }
    return rank;
}

// The same rank read off the state's code, its photons' modes in ascending order.
template <typename Count>
std::uint64_t natural_rank(FockState const& state, Count const& count) {
    const unsigned char* code = state.data();
    const int k = state.n();
    int photon = 0;
    return natural_rank(
        state.m(), k,
        [&](int v) {
            const int first = photon;
            while (photon < k && code[photon] == v) ++photon;
            return photon - first;
        },
        count);
}

// The state of k photons over m modes with the given rank: mode by mode, the most photons whose
// block of states starts at or before what remains of the rank.
template <typename Count>
FockState natural_unrank(int m, int k, std::uint64_t rank, Count const& count) {
    FockState state(m, k);
    unsigned char* code = state.mutable_data();
    int above = k;
    int photon = 0;
    for (int v = 0; v + 1 < m && above > 0; ++v) {
        int c = above;
        while (c > 0 && static_cast<std::uint64_t>(count(v, c - 1)) > rank) --c;
        if (c > 0) rank -= static_cast<std::uint64_t>(count(v, c - 1));
        for (int p = 0; p < above - c; ++p) code[photon++] = static_cast<unsigned char>(v);
        above = c;
    }
    while (photon < k) code[photon++] = static_cast<unsigned char>(m - 1);
    return state;
}

// count(v, c) for the modes of a space and up to max_n photons, with count(v, -1) = 0, so that
// hot loops read a rank's terms without a branch. Sums are not checked: the callers' counts fit
// in 64 bits.
class FockStateRanks {
  public:
    FockStateRanks(int m, int max_n);

    int m() const { return static_cast<int>(m_); }
    int max_n() const { return static_cast<int>(columns_) - 2; }
    // 0 <= v < m, -1 <= c <= max_n.
    std::uint64_t count(int v, int c) const {
        return values_[static_cast<std::size_t>(v) * columns_ + static_cast<std::size_t>(c + 1)];
    }
    // count(v, c) at data()[v * columns() + c + 1].
    std::uint64_t const* data() const { return values_.data(); }
    std::size_t columns() const { return columns_; }

    // photons[j] in mode j, k in all.
    template <typename P>
    std::uint64_t rank(P const* photons, int k) const {
        return natural_rank(
            m(), k, [photons](int v) { return photons[v]; },
            [this](int v, int c) { return count(v, c); });
    }
    std::uint64_t rank(FockState const& state) const {
        return natural_rank(state, [this](int v, int c) { return count(v, c); });
    }
    FockState unrank(std::uint64_t rank, int k) const {
        return natural_unrank(m(), k, rank, [this](int v, int c) { return count(v, c); });
    }

    // Another order, colexicographic: by the photons of the last mode, then of the mode before
    // it, and so on, fewer first; the rank of s is count(0, k) - 1 less the natural rank of s
    // with its modes reversed. With the photon count, in one pass for a state whose count is
    // known only once it is read, given mode by mode: photons(j) for j = 0, 1, … in order. Mode
    // j adds the states of the photons up to it over the last m - j modes, less those of the
    // photons before it.
    template <typename Photons>
    std::pair<std::uint64_t, std::size_t> colex_rank_and_count(Photons&& photons) const {
        std::uint64_t rank = 0;
        std::size_t s = 0;
        for (std::size_t j = 0; j < m_; ++j) {
            const std::uint64_t* row = values_.data() + (m_ - 1 - j) * columns_ + 1;
            rank -= row[s];
            s += static_cast<std::size_t>(photons(j));
            rank += row[s];
        }
        return {rank, s};
    }

  private:
    std::size_t m_;
    std::size_t columns_;
    std::vector<std::uint64_t> values_;
};
