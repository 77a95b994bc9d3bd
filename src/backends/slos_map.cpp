#include "backends/slos_map.h"

#include <algorithm>
#include <utility>

namespace Backend {

template <typename T>
SlosMap_t<T>::SlosMap_t(FockSpace const& space, std::function<bool(FockState const&)> predicate,
                        bool backward)
    : m(space.m),
      n(space.max_n),
      link_lists(static_cast<std::size_t>(n)),
      link_modes(static_cast<std::size_t>(n)),
      kept_counts(static_cast<std::size_t>(n) + 1, 0) {
    std::vector<bool> keep;
    std::vector<bool> keep_next;
    std::vector<T> ranks;
    std::vector<T> ranks_next;

    keep_next.reserve(space.get_full_count(n));
    for (auto const& s : space.FockStates(n)) {
        FockState const& state = s.getFS();
        const bool accepted = !predicate || predicate(state);
        keep_next.push_back(accepted);
        if (accepted) final_states.push_back(state);
    }
    kept_counts[static_cast<std::size_t>(n)] = final_states.size();
    compute_reduced_indices(keep_next, ranks_next);

    for (int k = n - 1; k >= 0; --k) {
        if (backward)
            fill_links_backward(space, k, keep, keep_next);
        else
            fill_links_forward(space, k, keep, keep_next);
        kept_counts[static_cast<std::size_t>(k)] =
            static_cast<std::uint64_t>(std::count(keep.begin(), keep.end(), true));
        compute_reduced_indices(keep, ranks);
        for (Link& link : link_lists[static_cast<std::size_t>(k)]) {
            link.dst = ranks_next[link.dst];
            link.src = ranks[link.src];
        }
        keep.swap(keep_next);
        ranks.swap(ranks_next);
    }
}

template <typename T>
void SlosMap_t<T>::fill_links_forward(FockSpace const& space, int k, std::vector<bool>& keep,
                                      std::vector<bool> const& keep_next) {
    keep.assign(space.get_full_count(k), false);
    auto& links = link_lists[static_cast<std::size_t>(k)];
    auto& modes = link_modes[static_cast<std::size_t>(k)];
    for (auto const& s : space.FockStates(k)) {
        for (auto const& successor : space.AddOnePhoton(s)) {
            if (!keep_next[successor.index]) continue;
            keep[s.index] = true;
            links.push_back({static_cast<T>(s.index), static_cast<T>(successor.index)});
            modes.push_back(static_cast<std::uint8_t>(successor.mode));
        }
    }
}

template <typename T>
void SlosMap_t<T>::fill_links_backward(FockSpace const& space, int k, std::vector<bool>& keep,
                                       std::vector<bool> const& keep_next) {
    keep.assign(space.get_full_count(k), false);
    auto& links = link_lists[static_cast<std::size_t>(k)];
    auto& modes = link_modes[static_cast<std::size_t>(k)];
    for (auto const& t : space.FockStates(k + 1)) {
        if (!keep_next[t.index]) continue;
        for (auto const& previous : space.RemoveOnePhoton(t)) {
            keep[previous.index] = true;
            links.push_back({static_cast<T>(previous.index), static_cast<T>(t.index)});
            modes.push_back(static_cast<std::uint8_t>(previous.mode));
        }
    }
}

template <typename T>
void SlosMap_t<T>::compute_reduced_indices(std::vector<bool> const& keep, std::vector<T>& ranks) {
    ranks.resize(keep.size());
    T c = 0;
    for (std::size_t p = 0; p < keep.size(); ++p)
        if (keep[p]) ranks[p] = c++;
}

template class SlosMap_t<unsigned char>;
template class SlosMap_t<unsigned short>;
template class SlosMap_t<unsigned int>;
template class SlosMap_t<unsigned long>;

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
