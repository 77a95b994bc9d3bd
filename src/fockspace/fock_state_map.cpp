#include "fockspace/fock_state_map.h"

namespace details {

namespace {

bool non_zero_entries_found(std::unordered_map<FockState, double> const& from,
                            std::unordered_map<FockState, double> const& in) {
    for (auto const& [state, value] : from) {
        if (value == 0.0) continue;
        const auto found = in.find(state);
        if (found == in.end() || !(found->second == value)) return false;
    }
    return true;
}

}  // namespace

bool fock_space_maps_equal(std::unordered_map<FockState, double> const& a,
                           std::unordered_map<FockState, double> const& b) {
    return non_zero_entries_found(a, b) && non_zero_entries_found(b, a);
}

}  // namespace details

FockStateMap::FockStateMap(map_type map, bool trusted) : map_(std::move(map)) {
    map_.max_load_factor(1.0);
    if (!trusted) check_modes(map_);
}

void FockStateMap::check_modes(map_type const& map) {
    if (map.empty()) return;
    const int m = map.begin()->first.m();
    for (auto const& entry : map)
        if (entry.first.m() != m) throw std::invalid_argument("Number of modes is not consistent");
}

double FockStateMap::get(FockState const& fs) const {
    const auto found = map_.find(fs);
    return found == map_.end() ? 0.0 : found->second;
}

std::optional<int> FockStateMap::get_m() const {
    if (map_.empty()) return std::nullopt;
    return map_.begin()->first.m();
}

void FockStateMap::check_m(FockState const& fs) const {
    const auto m = get_m();
    if (m && *m != fs.m()) throw std::invalid_argument("Number of modes is not consistent");
}
