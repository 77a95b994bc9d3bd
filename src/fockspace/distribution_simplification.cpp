#include "fockspace/distribution_simplification.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

FockSpaceDistribution photon_threshold_simplification(FockSpaceDistribution const& d,
                                                      int photon_threshold) {
    std::unordered_map<FockState, double> map;
    map.max_load_factor(1.0);
    for (auto const& [state, probability] : d)
        map[state.threshold_detection(photon_threshold)] += probability;
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

FockSpaceDistribution group_modes_simplification(FockSpaceDistribution const& d, int group_size) {
    if (group_size <= 0) throw std::invalid_argument("group_size must be positive");
    const int m = d.get_m().value();
    const auto groups = static_cast<std::size_t>(
        std::ceil(static_cast<double>(m) / static_cast<double>(group_size)));

    std::unordered_map<FockState, double> map;
    map.max_load_factor(1.0);
    std::vector<int> counts;
    std::vector<int> grouped(groups);
    for (auto const& [state, probability] : d) {
        // A distribution built unchecked may mix mode counts; a longer state would overrun.
        d.check_m(state);
        state.to_vect(counts);
        std::fill(grouped.begin(), grouped.end(), 0);
        for (std::size_t i = 0; i < counts.size(); ++i)
            grouped[i / static_cast<std::size_t>(group_size)] += counts[i];
        map[FockState(grouped)] += probability;
    }
    return FockSpaceDistribution(std::move(map), false, 0.0);
}
