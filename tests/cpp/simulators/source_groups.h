#pragma once

#include <algorithm>
#include <map>
#include <variant>
#include <vector>

#include "fockspace/sample_containers.h"
#include "fockspace/state_vector_distribution.h"
#include "simulators/simple_source_iterator.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"

// The three outputs of the source model compared on common ground: a noisy input as the sorted
// list of its non-empty groups of indistinguishable photons, whatever the tags were numbered.
namespace source_groups {

using Groups = std::vector<FockState>;
using GroupDistribution = std::map<Groups, double>;

inline Groups canonical(Groups groups) {
    std::erase_if(groups, [](FockState const& g) { return g.n() == 0; });
    std::sort(groups.begin(), groups.end());
    return groups;
}

inline Groups groups_of(BasicState const& state) {
    if (auto const* noisy = std::get_if<NoisyFockState>(&state))
        return canonical(noisy->separate_state());
    return canonical({std::get<FockState>(state)});
}

// Every key of the distribution has one component.
inline GroupDistribution from_distribution(StateVectorDistribution const& d) {
    GroupDistribution out;
    for (auto const& [sv, p] : d) out[groups_of(sv.begin_unnormalized()->first)] += p;
    return out;
}

inline GroupDistribution from_iterator(SimpleSourceIterator const& range) {
    GroupDistribution out;
    for (auto it = range.begin(); it != range.end(); ++it) out[canonical(it->first)] += it->second;
    return out;
}

inline int photons(Groups const& groups) {
    int n = 0;
    for (auto const& g : groups) n += g.n();
    return n;
}

}  // namespace source_groups
