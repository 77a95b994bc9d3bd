#include "fockspace/fock_space_function.h"

#include <cmath>
#include <stdexcept>

#include "fockspace/fock_space_distribution.h"

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

FockSpaceFunction::FockSpaceFunction(FockState const& fs, double value) : FockSpaceFunction() {
    _map.emplace(fs, value);
}

FockSpaceFunction::FockSpaceFunction(map_type map, bool trusted) : _map(std::move(map)) {
    _map.max_load_factor(1.0);
    if (trusted) return;
    for (auto const& entry : _map) check_m(entry.first);
}

FockSpaceFunction::FockSpaceFunction(FsArray const& fsa, std::vector<double> const& values,
                                     double threshold)
    : FockSpaceFunction() {
    if (values.size() != fsa.count())
        throw std::invalid_argument(
            "Number of states is not consistent with number of probabilities");
    _map.reserve(values.size());
    auto value = values.begin();
    for (auto it = fsa.begin(); it != fsa.end(); ++it, ++value)
        if (std::abs(*value) > threshold) _map.emplace(*it, *value);
}

double FockSpaceFunction::get(FockState const& fs) const {
    const auto found = _map.find(fs);
    return found == _map.end() ? 0.0 : found->second;
}

void FockSpaceFunction::set(FockState const& fs, double value) {
    if (value == 0.0) return;
    _map.insert_or_assign(fs, value);
}

std::optional<int> FockSpaceFunction::get_m() const {
    if (_map.empty()) return std::nullopt;
    return _map.begin()->first.m();
}

void FockSpaceFunction::check_m(FockState const& fs) const {
    const auto m = get_m();
    if (m && *m != fs.m()) throw std::invalid_argument("Number of modes is not consistent");
}

double FockSpaceFunction::weight() const {
    double sum = 0.0;
    for (auto const& entry : _map) sum += entry.second;
    return sum;
}

void FockSpaceFunction::normalize() {
    const double w = weight();
    if (w > 1e-16) *this /= w;
}

void FockSpaceFunction::trim(double threshold) {
    std::erase_if(_map,
                  [threshold](auto const& entry) { return std::abs(entry.second) <= threshold; });
}

FockSpaceFunction& FockSpaceFunction::operator*=(double factor) {
    for (auto& entry : _map) entry.second *= factor;
    return *this;
}

FockSpaceFunction& FockSpaceFunction::operator/=(double divisor) {
    for (auto& entry : _map) entry.second /= divisor;
    return *this;
}

FockSpaceFunction FockSpaceFunction::operator-() const& {
    FockSpaceFunction copy(*this);
    return -std::move(copy);
}

FockSpaceFunction FockSpaceFunction::operator-() && {
    for (auto& entry : _map) entry.second = -entry.second;
    return std::move(*this);
}

FockSpaceFunction& FockSpaceFunction::operator+=(FockSpaceFunction const& other) {
    for (auto const& [state, value] : other._map) _map[state] += value;
    return *this;
}

FockSpaceFunction& FockSpaceFunction::operator-=(FockSpaceFunction const& other) {
    for (auto const& [state, value] : other._map) _map[state] -= value;
    return *this;
}

FockSpaceDistribution FockSpaceFunction::toFSD(double threshold) && {
    map_type map(std::move(_map));
    _map.clear();
    return FockSpaceDistribution(std::move(map), false, threshold);
}

FockSpaceDistribution FockSpaceFunction::toFSD(double threshold) const& {
    return FockSpaceDistribution(_map, false, threshold);
}
