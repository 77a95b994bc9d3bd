#include "simulators/result_caches.h"

#include <algorithm>
#include <bit>

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

struct SortedProduct {
    std::vector<SortedOutcomes const*> const& parts;
    double threshold;
    double factor;
    FockSpaceFunction& out;
    double added = 0;

    void expand(std::size_t next, FockState const& state, double b) {
        if (next == parts.size()) {
            const double v = b * factor;
            out[state] += v;
            added += v;
            return;
        }
        SortedOutcomes const& part = *parts[next];
        for (std::size_t i = 0; i < part.probabilities.size(); ++i) {
            const double g = part.probabilities[i] * b;
            if (g < threshold) break;
            expand(next + 1, state.merge(*part.states[i]), g);
        }
    }
};

struct PackedProduct {
    std::vector<SortedOutcomes const*> const& parts;
    double threshold;
    double factor;
    PackedAccumulator& out;
    double added = 0;

    void expand(std::size_t next, std::uint64_t key, double b) {
        if (next == parts.size()) {
            const double v = b * factor;
            out.add(key, v);
            added += v;
            return;
        }
        SortedOutcomes const& part = *parts[next];
        for (std::size_t i = 0; i < part.probabilities.size(); ++i) {
            const double g = part.probabilities[i] * b;
            if (g < threshold) break;
            expand(next + 1, key + part.packed[i], g);
        }
    }
};

const SortedOutcomes no_outcomes;

constexpr std::uint64_t mix = 0x9E3779B97F4A7C15ull;

}  // namespace

std::optional<PackedModes> PackedModes::fit(int m, int max_photons) {
    if (m <= 0 || m > 64 || max_photons < 0) return std::nullopt;
    const int bits = std::min(64 / m, 32);
    if (static_cast<std::uint64_t>(max_photons) >= (std::uint64_t{1} << bits)) return std::nullopt;
    return PackedModes(m, bits);
}

std::uint64_t PackedModes::pack(FockState const& state) const {
    std::uint64_t key = 0;
    for (int k = 0; k < m_; ++k) key += static_cast<std::uint64_t>(state[k]) << (k * bits_);
    return key;
}

FockState PackedModes::unpack(std::uint64_t key) const {
    const std::uint64_t mask = (std::uint64_t{1} << bits_) - 1;
    std::vector<int> counts(static_cast<std::size_t>(m_));
    for (int k = 0; k < m_; ++k) counts[k] = static_cast<int>((key >> (k * bits_)) & mask);
    return FockState(counts);
}

void PackedAccumulator::add(std::uint64_t key, double value) {
    if (2 * (size_ + 1) > keys_.size()) grow();
    const std::size_t last = keys_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>((key * mix) >> shift_);; i = (i + 1) & last) {
        if (keys_[i] == key + 1) {
            values_[i] += value;
            return;
        }
        if (keys_[i] == 0) {
            keys_[i] = key + 1;
            values_[i] = value;
            ++size_;
            return;
        }
    }
}

void PackedAccumulator::grow() {
    std::vector<std::uint64_t> keys = std::move(keys_);
    std::vector<double> values = std::move(values_);
    const std::size_t capacity = keys.empty() ? 1024 : 2 * keys.size();
    keys_.assign(capacity, 0);
    values_.assign(capacity, 0.0);
    shift_ = 64 - std::countr_zero(capacity);
    size_ = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i] != 0) add(keys[i] - 1, values[i]);
}

FockSpaceFunction PackedAccumulator::to_function(PackedModes const& packing) const {
    FockSpaceFunction f;
    for (std::size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i] != 0) f[packing.unpack(keys_[i] - 1)] += values_[i];
    return f;
}

void SortedOutcomes::assign(std::vector<std::pair<double, FockState const*>>& outcomes,
                            std::optional<PackedModes> const& packing) {
    std::sort(outcomes.begin(), outcomes.end(),
              [](auto const& a, auto const& b) { return a.first > b.first; });
    states.clear();
    probabilities.clear();
    packed.clear();
    for (auto const& [p, state] : outcomes) {
        if (!(p > 0)) break;
        states.push_back(state);
        probabilities.push_back(p);
        if (packing) packed.push_back(packing->pack(*state));
    }
}

FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold) {
    FockSpaceFunction result;
    if (pairs.empty()) return result;
    for (auto const& pair : pairs)
        if (pair.second->empty()) return result;
    auto const& [outputs, probabilities] = pairs.front();
    for (std::size_t i = 0; i < probabilities->size(); ++i) {
        const double f = (*probabilities)[i];
        if (f >= threshold) inner_merge(pairs, 1, (*outputs)[i], f, threshold, result);
    }
    return result;
}

double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   FockSpaceFunction& out) {
    if (parts.empty()) return 0;
    for (auto const* part : parts)
        if (part->probabilities.empty()) return 0;
    SortedProduct product{parts, threshold, factor, out};
    SortedOutcomes const& first = *parts.front();
    for (std::size_t i = 0; i < first.probabilities.size(); ++i) {
        if (first.probabilities[i] < threshold) break;
        product.expand(1, *first.states[i], first.probabilities[i]);
    }
    return product.added;
}

double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   PackedAccumulator& out) {
    if (parts.empty()) return 0;
    for (auto const* part : parts)
        if (part->probabilities.empty()) return 0;
    PackedProduct product{parts, threshold, factor, out};
    product.expand(0, 0, 1.0);
    return product.added;
}

double VectorCache::merge(std::vector<SortedOutcomes const*> const& parts, double x,
                          PackedAccumulator& out) const {
    if (x == 0) return 0;
    return sortedMerge(parts, threshold_ / x, x, out);
}

void VectorCache::set_output_states(int sigma, int n, std::function<OutputList()> const& getter) {
    auto& list = outputs_[sigma][n];
    if (list.empty()) list = getter();
}

void VectorCache::add_result(int sigma, FockState const& part, double max_probability,
                             std::vector<double> probabilities) {
    OutputList const& outputs = outputs_.at(sigma).at(part.n());
    // No input holding the part can keep an outcome below the cut: it is left out of the sorted
    // list, not of the vector.
    const double cut = max_probability > 0 ? threshold_ / max_probability : 0.0;
    std::vector<std::pair<double, FockState const*>> outcomes;
    const std::size_t size = std::min(outputs.size(), probabilities.size());
    for (std::size_t i = 0; i < size; ++i)
        if (probabilities[i] >= cut) outcomes.emplace_back(probabilities[i], &outputs[i]);
    Result& result = results_[sigma][part];
    result.sorted.assign(outcomes, packing_);
    result.probabilities = std::move(probabilities);
}

SortedOutcomes const* VectorCache::outcomes(int sigma, FockState const& part) const {
    return &results_.at(sigma).at(part).sorted;
}

double VectorCache::merge(std::vector<SortedOutcomes const*> const& parts, double x,
                          FockSpaceFunction& out) const {
    if (x == 0) return 0;
    return sortedMerge(parts, threshold_ / x, x, out);
}

double MapCache::merge(std::vector<SortedOutcomes const*> const& parts, double x,
                       PackedAccumulator& out) const {
    if (x == 0) return 0;
    return sortedMerge(parts, threshold_ / x, x, out);
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
    // Index nodes never move, so the sorted outcomes may point at their keys.
    std::vector<std::pair<double, FockState const*>> outcomes;
    for (std::size_t i = 0; i < size; ++i) {
        if (probabilities[i] < cut) continue;
        // compact starts at the index's size and grows with it, so positions stay aligned.
        auto [it, inserted] = index.try_emplace(current_[i], compact.size());
        if (inserted)
            compact.push_back(probabilities[i]);
        else
            compact[it->second] = probabilities[i];
        outcomes.emplace_back(probabilities[i], &it->first);
    }
    Result& result = results_[sigma][part];
    result.sorted.assign(outcomes, packing_);
    result.compact = std::move(compact);
}

SortedOutcomes const* MapCache::outcomes(int sigma, FockState const& part) const {
    // A part whose likeliest input has probability 0 stored nothing: it yields no output.
    if (auto by_sigma = results_.find(sigma); by_sigma != results_.end())
        if (auto it = by_sigma->second.find(part); it != by_sigma->second.end())
            return &it->second.sorted;
    return &no_outcomes;
}

double MapCache::merge(std::vector<SortedOutcomes const*> const& parts, double x,
                       FockSpaceFunction& out) const {
    if (x == 0) return 0;
    return sortedMerge(parts, threshold_ / x, x, out);
}

}  // namespace simulators::details
