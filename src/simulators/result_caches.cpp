#include "simulators/result_caches.h"

namespace simulators::details {

namespace {

void inner_merge(std::vector<ListPair> const& pairs, std::size_t next, FockState const& state,
                 double b, double threshold, FockSpaceFunction& result) {
    if (next == pairs.size()) {
        result[state] += b;
        return;
    }
    auto const& [outputs, probabilities] = pairs[next];
    for (std::size_t i = 0; i < probabilities->size(); ++i) {
        const double g = (*probabilities)[i] * b;
        if (g >= threshold)
            inner_merge(pairs, next + 1, state.merge((*outputs)[i]), g, threshold, result);
    }
}

void inner_merge_map(std::vector<MapPair> const& pairs, std::size_t next, FockState const& state,
                     double b, double threshold, FockSpaceFunction& result) {
    if (next == pairs.size()) {
        result[state] += b;
        return;
    }
    auto const& [index, probabilities] = pairs[next];
    for (auto const& [s2, position] : *index) {
        if (position >= probabilities->size()) continue;
        const double g = (*probabilities)[position] * b;
        if (g >= threshold) inner_merge_map(pairs, next + 1, state.merge(s2), g, threshold, result);
    }
}

template <typename Pair>
bool any_empty(std::vector<Pair> const& pairs) {
    if (pairs.empty()) return true;
    for (auto const& pair : pairs)
        if (pair.second == nullptr || pair.second->empty()) return true;
    return false;
}

}  // namespace

FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold) {
    FockSpaceFunction result;
    if (any_empty(pairs)) return result;
    auto const& [outputs, probabilities] = pairs.front();
    for (std::size_t i = 0; i < probabilities->size(); ++i) {
        const double f = (*probabilities)[i];
        if (f >= threshold) inner_merge(pairs, 1, (*outputs)[i], f, threshold, result);
    }
    return result;
}

FockSpaceFunction mapMerge(std::vector<MapPair> const& pairs, double threshold) {
    FockSpaceFunction result;
    if (any_empty(pairs)) return result;
    auto const& [index, probabilities] = pairs.front();
    for (auto const& [state, position] : *index) {
        if (position >= probabilities->size()) continue;
        const double f = (*probabilities)[position];
        if (f >= threshold) inner_merge_map(pairs, 1, state, f, threshold, result);
    }
    return result;
}

void VectorCache::set_output_states(int sigma, int n, std::function<OutputList()> const& getter) {
    auto& list = outputs_[sigma][n];
    if (list.empty()) list = getter();
}

void VectorCache::add_result(int sigma, FockState const& part, double /*max_probability*/,
                             std::vector<double> probabilities) {
    results_[sigma][part] = std::move(probabilities);
}

VectorCache::pair_type VectorCache::pair(int sigma, FockState const& part) const {
    return {&outputs_.at(sigma).at(part.n()), &results_.at(sigma).at(part)};
}

FockSpaceFunction VectorCache::merge(std::vector<pair_type> const& pairs, double x) const {
    if (x == 0) return {};
    return listMerge(pairs, threshold_ / x);
}

void MapCache::set_output_states(int sigma, int n, std::function<OutputList()> const& getter) {
    if (sigma == current_sigma_ && n == current_n_ && !current_.empty()) return;
    current_sigma_ = sigma;
    current_n_ = n;
    current_ = getter();
}

void MapCache::add_result(int sigma, FockState const& part, double max_probability,
                          std::vector<double> const& probabilities) {
    auto& index = index_[sigma][part.n()];
    std::vector<double> compact(index.size(), 0.0);
    index.reserve(current_.size());
    if (max_probability == 0) return;
    const double cut = threshold_ / max_probability;
    const std::size_t size = std::min(current_.size(), probabilities.size());
    for (std::size_t i = 0; i < size; ++i) {
        if (probabilities[i] < cut) continue;
        auto [it, inserted] = index.try_emplace(current_[i], compact.size());
        // compact starts at the index's size and grows with it, so positions stay aligned.
        if (inserted)
            compact.push_back(probabilities[i]);
        else
            compact[it->second] = probabilities[i];
    }
    results_[sigma][part] = std::move(compact);
}

MapCache::pair_type MapCache::pair(int sigma, FockState const& part) const {
    // A part whose likeliest input has probability 0 stored nothing: it yields no output.
    static const std::vector<double> none;
    auto const* result = &none;
    if (auto by_sigma = results_.find(sigma); by_sigma != results_.end())
        if (auto it = by_sigma->second.find(part); it != by_sigma->second.end())
            result = &it->second;
    return {&index_.at(sigma).at(part.n()), result};
}

FockSpaceFunction MapCache::merge(std::vector<pair_type> const& pairs, double x) const {
    if (x == 0) return {};
    return mapMerge(pairs, threshold_ / x);
}

}  // namespace simulators::details
