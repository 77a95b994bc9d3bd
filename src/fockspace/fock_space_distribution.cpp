#include "fockspace/fock_space_distribution.h"

#include <algorithm>
#include <stdexcept>

#include "fockspace/weighted_samples.h"

FockSpaceDistribution::FockSpaceDistribution(FockState const& fs) : FockSpaceDistribution() {
    _map.emplace(fs, 1.0);
}

FockSpaceDistribution::FockSpaceDistribution(map_type map, bool trusted, double threshold)
    : _map(std::move(map)) {
    _map.max_load_factor(1.0);
    if (trusted) return;
    for (auto const& entry : _map) check_m(entry.first);
    trim(threshold);
}

FockSpaceDistribution::FockSpaceDistribution(FsArray const& fsa,
                                             std::vector<double> const& probabilities,
                                             double threshold)
    : FockSpaceDistribution() {
    if (probabilities.size() != fsa.count())
        throw std::invalid_argument(
            "Number of states is not consistent with number of probabilities");
    _map.reserve(probabilities.size());
    double sum = 0.0;
    auto probability = probabilities.begin();
    for (auto it = fsa.begin(); it != fsa.end(); ++it, ++probability)
        if (*probability > threshold) {
            _map.emplace(*it, *probability);
            sum += *probability;
        }
    if (sum == 0.0)
        throw std::runtime_error("Unable to normalize an object with only null components");
    if (sum != 1.0)
        for (auto& entry : _map) entry.second /= sum;
}

double FockSpaceDistribution::get(FockState const& fs) const {
    const auto found = _map.find(fs);
    return found == _map.end() ? 0.0 : found->second;
}

std::optional<int> FockSpaceDistribution::get_m() const {
    if (_map.empty()) return std::nullopt;
    return _map.begin()->first.m();
}

void FockSpaceDistribution::check_m(FockState const& fs) const {
    const auto m = get_m();
    if (m && *m != fs.m()) throw std::invalid_argument("Number of modes is not consistent");
}

void FockSpaceDistribution::trim(double threshold) {
    bool kept = false;
    for (auto const& entry : _map)
        if (entry.second > threshold) {
            kept = true;
            break;
        }
    if (!kept) throw std::runtime_error("Unable to normalize an empty distribution");

    double sum = 0.0;
    for (auto it = _map.begin(); it != _map.end();) {
        if (it->second <= threshold) {
            it = _map.erase(it);
        } else {
            sum += it->second;
            ++it;
        }
    }
    if (sum != 1.0)
        for (auto& entry : _map) entry.second /= sum;
}

void FockSpaceDistribution::trim_relative(double relative_threshold) {
    double max = 0.0;
    for (auto const& entry : _map) max = std::max(max, entry.second);
    const double cut = relative_threshold * max;
    if (cut >= max) throw std::runtime_error("Unable to normalize an empty distribution");

    double sum = 0.0;
    for (auto it = _map.begin(); it != _map.end();) {
        if (it->second <= cut) {
            it = _map.erase(it);
        } else {
            sum += it->second;
            ++it;
        }
    }
    for (auto& entry : _map) entry.second /= sum;
}

FockSpaceFunction FockSpaceDistribution::toFockSpaceFunction() && {
    map_type map(std::move(_map));
    _map.clear();
    return FockSpaceFunction(std::move(map), false);
}

FockSpaceFunction FockSpaceDistribution::toFockSpaceFunction() const& {
    return FockSpaceFunction(_map, false);
}

std::vector<FockState> FockSpaceDistribution::sample(std::size_t count, bool allow_void) const {
    std::vector<FockState> candidates;
    std::vector<double> weights;
    candidates.reserve(_map.size());
    weights.reserve(_map.size());
    for (auto const& [state, probability] : _map) {
        if (!allow_void && state.n() == 0) continue;
        candidates.push_back(state);
        weights.push_back(probability);
    }
    if (candidates.empty()) throw std::runtime_error("Unable to sample from empty distribution");
    return MathUtils::samples(count, candidates, weights);
}
