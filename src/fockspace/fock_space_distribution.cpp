#include "fockspace/fock_space_distribution.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>

#include <fmt/format.h>

#include "fockspace/weighted_samples.h"

FockSpaceDistribution::FockSpaceDistribution(FockState const& fs) : FockSpaceDistribution() {
    map_.emplace(fs, 1.0);
}

namespace {

[[noreturn]] void throw_not_finite(FockState const& fs, double probability) {
    throw std::invalid_argument(
        fmt::format("Probabilities must be finite, got {} for {}", probability, fs));
}

}  // namespace

FockSpaceDistribution::FockSpaceDistribution(map_type map, bool trusted, double threshold)
    : FockStateMap(std::move(map), true) {
    if (trusted) return;
    check(map_, threshold);
    erase_and_renormalise(threshold);
}

FockSpaceDistribution::FockSpaceDistribution(FsArray const& fsa,
                                             std::vector<double> const& probabilities,
                                             double threshold) {
    const auto not_finite = std::find_if(probabilities.begin(), probabilities.end(),
                                         [](double p) { return !std::isfinite(p); });
    // A length mismatch is reported first, by insert_kept.
    if (not_finite != probabilities.end() && probabilities.size() == fsa.count()) {
        auto state = fsa.begin();
        for (auto p = probabilities.begin(); p != not_finite; ++p) ++state;
        throw_not_finite(*state, *not_finite);
    }
    const double sum = insert_kept(
        fsa, probabilities, [threshold](double probability) { return probability > threshold; });
    if (sum == 0.0)
        throw std::runtime_error("Unable to normalize an object with only null components");
    divide_by_sum(sum);
}

void FockSpaceDistribution::check(map_type const& map, double threshold) {
    check_modes(map);
    bool kept = false;
    for (auto const& [state, probability] : map) {
        if (!std::isfinite(probability)) throw_not_finite(state, probability);
        kept = kept || probability > threshold;
    }
    if (!kept) throw std::runtime_error("Unable to normalize an empty distribution");
}

void FockSpaceDistribution::trim(double threshold) {
    bool kept = false;
    for (auto const& entry : map_)
        if (entry.second > threshold) {
            kept = true;
            break;
        }
    if (!kept) throw std::runtime_error("Unable to normalize an empty distribution");
    erase_and_renormalise(threshold);
}

void FockSpaceDistribution::trim_relative(double relative_threshold) {
    double max = 0.0;
    for (auto const& entry : map_) max = std::max(max, entry.second);
    const double cut = relative_threshold * max;
    if (cut >= max) throw std::runtime_error("Unable to normalize an empty distribution");
    erase_and_renormalise(cut);
}

void FockSpaceDistribution::erase_and_renormalise(double cut) {
    double sum = 0.0;
    for (auto it = map_.begin(); it != map_.end();) {
        if (it->second <= cut) {
            it = map_.erase(it);
        } else {
            sum += it->second;
            ++it;
        }
    }
    divide_by_sum(sum);
}

void FockSpaceDistribution::divide_by_sum(double sum) {
    if (std::isinf(sum)) {
        // Finite values whose sum overflows: bring them to at most 1 first, so the sum is finite.
        double max = 0.0;
        for (auto const& entry : map_) max = std::max(max, std::abs(entry.second));
        sum = 0.0;
        for (auto& entry : map_) {
            entry.second /= max;
            sum += entry.second;
        }
    }
    // Dividing by 1 would change nothing.
    if (sum != 1.0)
        for (auto& entry : map_) entry.second /= sum;
}

FockSpaceFunction FockSpaceDistribution::toFockSpaceFunction() && {
    check_modes(map_);
    map_type map(std::move(map_));
    map_.clear();
    return FockSpaceFunction(std::move(map), true);
}

FockSpaceFunction FockSpaceDistribution::toFockSpaceFunction() const& {
    return FockSpaceFunction(map_, false);
}

std::vector<FockState> FockSpaceDistribution::sample(std::size_t count, bool allow_void) const {
    std::vector<FockState> candidates;
    std::vector<double> weights;
    candidates.reserve(map_.size());
    weights.reserve(map_.size());
    for (auto const& [state, probability] : map_) {
        if (!allow_void && state.n() == 0) continue;
        candidates.push_back(state);
        weights.push_back(probability);
    }
    if (candidates.empty()) throw std::runtime_error("Unable to sample from empty distribution");
    return MathUtils::samples(count, candidates, weights);
}
