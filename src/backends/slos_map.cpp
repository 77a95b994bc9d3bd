#include "backends/slos_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"

namespace Backend {

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

DenseLinks::DenseLinks(int m, int n) : n_(n) {
    const auto columns = static_cast<std::size_t>(n) + 1;
    counts_.assign((static_cast<std::size_t>(m) + 1) * columns, 0);
    counts_[0] = 1;
    for (int t = 1; t <= m; ++t)
        for (int c = 0; c <= n; ++c)
            counts_[static_cast<std::size_t>(t) * columns + static_cast<std::size_t>(c)] =
                count(t - 1, c) + (c > 0 ? count(t, c - 1) : 0);

    // The widest tail within the limit: tail links are gathered from a block that stays in the
    // caches, while each head link costs a streamed run per group of output states.
    const unsigned long limit = std::min(dense_tail_limit().load(), 65536ul);
    tail = 1;
    while (tail < m && tail < max_tail && count(tail + 1, n) <= limit) ++tail;
    head = m - tail;

    factorial_roots.assign(columns, 1.0);
    double factorial = 1.0;
    for (int a = 2; a <= n; ++a) {
        factorial *= static_cast<double>(a);
        factorial_roots[static_cast<std::size_t>(a)] =
            std::isfinite(factorial) ? std::sqrt(factorial)
                                     : std::numeric_limits<double>::infinity();
    }

    const FockSpace space(tail, n);
    tails.resize(columns);
    lanes.resize(columns);
    for (int c = 0; c <= n; ++c) {
        TailLayer& layer = tails[static_cast<std::size_t>(c)];
        TailLanes& lane = lanes[static_cast<std::size_t>(c)];
        const auto classes = static_cast<std::size_t>(std::min(tail, c)) + 1;
        std::vector<std::vector<std::uint16_t>> states(classes), sources(classes);
        std::vector<std::vector<std::uint8_t>> modes(classes);
        layer.scales.reserve(count(tail, c));
        lane.ends.reserve((count(tail, c) + 3) / 4);
        // The links of the states of the group being filled, by lane.
        std::array<std::vector<std::pair<std::uint32_t, std::uint8_t>>, 4> group;
        auto close_group = [&] {
            std::size_t records = 0;
            for (auto const& links : group) records = std::max(records, links.size());
            for (std::size_t l = 0; l < records; ++l)
                for (auto const& links : group) {
                    const bool present = l < links.size();
                    lane.offsets.push_back(
                        present ? links[l].first * static_cast<std::uint32_t>(2 * sizeof(double))
                                : 0);
                    lane.modes.insert(lane.modes.end(), 2, present ? links[l].second : no_mode);
                }
            lane.ends.push_back(static_cast<std::uint32_t>(lane.offsets.size() / 4));
            for (auto& links : group) links.clear();
        };
        std::size_t in_group = 0;
        for (auto const& s : space.FockStates(c)) {
            std::size_t size = 0;
            const auto previous_states = space.RemoveOnePhoton(s);
            for (auto it = previous_states.begin(); it != previous_states.end(); ++it) ++size;
            for (auto const& previous : space.RemoveOnePhoton(s)) {
                sources[size].push_back(static_cast<std::uint16_t>(previous.index));
                modes[size].push_back(static_cast<std::uint8_t>(previous.mode));
                group[in_group].emplace_back(static_cast<std::uint32_t>(previous.index),
                                             static_cast<std::uint8_t>(previous.mode));
            }
            states[size].push_back(static_cast<std::uint16_t>(s.index));
            layer.scales.push_back(sqrt_prodnfact(s.d));
            if (++in_group == 4) {
                close_group();
                in_group = 0;
            }
        }
        if (in_group > 0) close_group();
        for (std::size_t size = 0; size < classes; ++size) {
            layer.states.insert(layer.states.end(), states[size].begin(), states[size].end());
            layer.sources.insert(layer.sources.end(), sources[size].begin(), sources[size].end());
            layer.modes.insert(layer.modes.end(), modes[size].begin(), modes[size].end());
            layer.classes.push_back(static_cast<std::uint32_t>(layer.states.size()));
        }
    }
}

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
    if (!pruned) {
        dense = DenseLinks(m, n);
        for (int k = 0; k <= n; ++k)
            kept_counts[static_cast<std::size_t>(k)] = space.get_full_count(k);
        return;
    }
    RankedBits next(space.get_full_count(n));
    InterruptSignalHandler::Poll poll;
    for (auto const& s : space.FockStates(n)) {
        poll();
        if (!predicate(s.getFS())) continue;
        next.set(s.index);
        final_indices.push_back(static_cast<T>(s.index));
        final_scales.push_back(sqrt_prodnfact(s.d));
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
    // Every state of k photons has m successors, and every kept state of k+1 photons at most
    // min(m, k+1) predecessors: the smaller bound.
    const unsigned long states = space.get_full_count(k);
    const unsigned long links =
        std::min(states * static_cast<unsigned long>(m),
                 static_cast<unsigned long>(kept_counts[static_cast<std::size_t>(k) + 1]) *
                     static_cast<unsigned long>(std::min(m, k + 1)));
    layer.ends.reserve(links);
    layer.modes.reserve(links);
    layer.group_sizes.reserve(std::min(states, links));
    InterruptSignalHandler::Poll poll;
    for (auto const& s : space.FockStates(k)) {
        poll();
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
        std::min(bound, groups * static_cast<unsigned long>(std::min(m, k + 1)));
    layer.ends.reserve(links);
    layer.modes.reserve(links);
    layer.group_sizes.reserve(groups);
    InterruptSignalHandler::Poll poll;
    for (auto const& t : space.FockStates(k + 1)) {
        poll();
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
FockState SlosMap_t<T>::final_state(std::size_t j) const {
    return unrank(pruned ? static_cast<unsigned long>(final_indices[j]) : j);
}

template <typename T>
std::optional<unsigned long> SlosMap_t<T>::final_index(FockState const& state) const {
    if (state.m() != m || state.n() != n) return std::nullopt;
    const unsigned long index =
        natural_rank(state, [this](int v, int c) { return lookups.t(v + 1, c); });
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
    InterruptSignalHandler::Poll poll;
    for_each_final_state([&](FockState const& s) {
        poll();
        states.push_back(s);
    });
    return states;
}

void SlosMap::build(int m, int n, std::function<bool(FockState const&)> predicate, bool backward) {
    // The states are Fock states: nothing in a build of more modes need make one.
    if (m > FockState::max_modes)
        throw std::runtime_error(
            fmt::format("Fock state size is capped from 0 to {} modes", FockState::max_modes));
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
