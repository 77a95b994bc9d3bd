#include "backends/slos_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace Backend {

unsigned long RankedBits::finish() {
    std::uint64_t before = 0;
    for (Word& w : words_) {
        w.before = before;
        before += static_cast<std::uint64_t>(__builtin_popcountll(w.bits));
    }
    return static_cast<unsigned long>(before);
}

namespace {

// √(s!) of the cursor's state, the factors multiplied in the order FockState::prodnfact uses;
// +inf where the product overflows, left for the query to report.
double sqrt_prodnfact(DecreasingValues const& d) {
    double product = 1.0;
    for (std::size_t j = 0; j + 1 < d.size(); ++j)
        for (unsigned int f = 2; f <= d[j] - d[j + 1]; ++f) product *= static_cast<double>(f);
    return std::isfinite(product) ? std::sqrt(product) : std::numeric_limits<double>::infinity();
}

}  // namespace

template <typename T>
SlosMap_t<T>::SlosMap_t(FockSpace const& space, std::function<bool(FockState const&)> predicate,
                        bool backward)
    : m(space.m),
      n(space.max_n),
      backward(backward),
      layers(static_cast<std::size_t>(n)),
      kept_counts(static_cast<std::size_t>(n) + 1, 0),
      pruned(static_cast<bool>(predicate)),
      lookups(space) {
    const unsigned long top_count = space.get_full_count(n);
    RankedBits next(top_count);
    if (pruned) {
        for (auto const& s : space.FockStates(n)) {
            if (!predicate(s.getFS())) continue;
            next.set(s.index);
            final_indices.push_back(static_cast<T>(s.index));
            final_scales.push_back(sqrt_prodnfact(s.d));
        }
    } else {
        final_scales.reserve(top_count);
        for (auto const& s : space.FockStates(n)) {
            next.set(s.index);
            final_scales.push_back(sqrt_prodnfact(s.d));
        }
    }
    kept_counts[static_cast<std::size_t>(n)] = next.finish();

    for (int k = n - 1; k >= 0; --k) {
        RankedBits keep(space.get_full_count(k));
        if (backward)
            fill_backward(space, k, keep, next);
        else
            fill_forward(space, k, keep, next);
        next = std::move(keep);
    }
}

template <typename T>
void SlosMap_t<T>::fill_forward(FockSpace const& space, int k, RankedBits& keep,
                                RankedBits const& next) {
    Layer& layer = layers[static_cast<std::size_t>(k)];
    // Every state of k photons has m successors: exact without a predicate, a bound with one.
    const unsigned long states = space.get_full_count(k);
    const unsigned long bound = states * static_cast<unsigned long>(m);
    const unsigned long links =
        pruned ? std::min(bound,
                          static_cast<unsigned long>(kept_counts[static_cast<std::size_t>(k) + 1]) *
                              static_cast<unsigned long>(std::min(m, k + 1)))
               : bound;
    layer.ends.reserve(links);
    layer.modes.reserve(links);
    layer.group_sizes.reserve(pruned ? std::min(states, links) : states);
    for (auto const& s : space.FockStates(k)) {
        unsigned count = 0;
        for (auto const& successor : space.AddOnePhoton(s)) {
            if (!next.test(successor.index)) continue;
            layer.ends.push_back(static_cast<T>(next.rank(successor.index)));
            layer.modes.push_back(static_cast<std::uint8_t>(successor.mode));
            ++count;
        }
        if (count == 0) continue;
        keep.set(s.index);
        layer.group_sizes.push_back(static_cast<std::uint8_t>(count - 1));
    }
    kept_counts[static_cast<std::size_t>(k)] = keep.finish();
}

template <typename T>
void SlosMap_t<T>::fill_backward(FockSpace const& space, int k, RankedBits& keep,
                                 RankedBits const& next) {
    Layer& layer = layers[static_cast<std::size_t>(k)];
    // A state of k+1 photons has one predecessor per occupied mode, at most min(m, k+1); over
    // the whole layer they make m links per state of k photons.
    const unsigned long groups = kept_counts[static_cast<std::size_t>(k) + 1];
    const unsigned long bound = space.get_full_count(k) * static_cast<unsigned long>(m);
    const unsigned long links =
        pruned ? std::min(bound, groups * static_cast<unsigned long>(std::min(m, k + 1))) : bound;
    layer.ends.reserve(links);
    layer.modes.reserve(links);
    layer.group_sizes.reserve(groups);
    for (auto const& t : space.FockStates(k + 1)) {
        if (!next.test(t.index)) continue;
        unsigned count = 0;
        for (auto const& previous : space.RemoveOnePhoton(t)) {
            keep.set(previous.index);
            layer.ends.push_back(static_cast<T>(previous.index));
            layer.modes.push_back(static_cast<std::uint8_t>(previous.mode));
            ++count;
        }
        layer.group_sizes.push_back(static_cast<std::uint8_t>(count - 1));
    }
    kept_counts[static_cast<std::size_t>(k)] = keep.finish();
    for (T& end : layer.ends) end = static_cast<T>(keep.rank(end));
}

template <typename T>
FockState SlosMap_t<T>::unrank(unsigned long index) const {
    // Inverse of the ranking below: d[j] is the largest count whose block starts at or before
    // what remains of the index.
    FockState state(m, n);
    unsigned char* code = state.mutable_data();
    int above = n;
    int photon = 0;
    for (int j = 1; j < m && above > 0; ++j) {
        int c = above;
        while (c > 0 && lookups.t(j, c - 1) > index) --c;
        if (c > 0) index -= lookups.t(j, c - 1);
        for (int p = 0; p < above - c; ++p) code[photon++] = static_cast<unsigned char>(j - 1);
        above = c;
    }
    while (photon < n) code[photon++] = static_cast<unsigned char>(m - 1);
    return state;
}

template <typename T>
FockState SlosMap_t<T>::final_state(std::size_t j) const {
    return unrank(pruned ? static_cast<unsigned long>(final_indices[j]) : j);
}

template <typename T>
std::optional<unsigned long> SlosMap_t<T>::final_index(FockState const& state) const {
    if (state.m() != m || state.n() != n) return std::nullopt;
    // The photons of modes j and above are those whose code byte is at least j.
    unsigned long index = 0;
    const unsigned char* code = state.data();
    int photon = 0;
    for (int j = 1; j < m; ++j) {
        while (photon < n && code[photon] < j) ++photon;
        if (n - photon >= 1) index += lookups.t(j, n - photon - 1);
    }
    if (!pruned) return index;
    const auto found = std::lower_bound(final_indices.begin(), final_indices.end(), index);
    if (found == final_indices.end() || *found != index) return std::nullopt;
    return static_cast<unsigned long>(found - final_indices.begin());
}

template class SlosMap_t<unsigned char>;
template class SlosMap_t<unsigned short>;
template class SlosMap_t<unsigned int>;
template class SlosMap_t<unsigned long>;

std::vector<FockState> SlosMap::final_states() const {
    std::vector<FockState> states;
    for_each_final_state([&](FockState const& s) { states.push_back(s); });
    return states;
}

void SlosMap::build(int m, int n, std::function<bool(FockState const&)> predicate, bool backward) {
    variant_type built;
    {
        const FockSpace space(m, n);
        const unsigned long highest = space.highest_index;
        if (highest == 0)
            built.emplace<SlosMap_t<void>>(space.m);
        else if (highest <= 0xFFul)
            built.emplace<SlosMap_t<unsigned char>>(space, std::move(predicate), backward);
        else if (highest <= 0xFFFFul)
            built.emplace<SlosMap_t<unsigned short>>(space, std::move(predicate), backward);
        else if ((highest >> 32) == 0)
            built.emplace<SlosMap_t<unsigned int>>(space, std::move(predicate), backward);
        else
            built.emplace<SlosMap_t<unsigned long>>(space, std::move(predicate), backward);
    }
    held_ = std::move(built);
}

}  // namespace Backend
