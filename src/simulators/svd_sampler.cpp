#include "simulators/svd_sampler.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "runtime/logging.h"

namespace simulators {

namespace {

BasicState const& single_term(StateVector const& sv) {
    return sv.componentAt(0);
}

int photon_count(StateVector const& sv) {
    return std::visit([](auto const& state) { return state.n(); }, single_term(sv));
}

}  // namespace

SVDSampler::SVDSampler(StateVectorDistribution const& input, int min_photons_filter, int herald_sum,
                       int max_samples, std::optional<int>& max_shots) {
    if (!input.empty()) mode_count_ = input.begin()->first.modeCount();
    // 64-bit: a filter and a herald sum near the int limits must not wrap into a small minimum.
    const std::int64_t minimum = std::int64_t{min_photons_filter} + herald_sum;
    // Only entries that can reach the output set the scale of what is too rare to draw.
    double maxp = 0.0;
    for (auto const& [sv, p] : input)
        if (photon_count(sv) >= minimum) maxp = std::max(maxp, p);
    const double threshold = maxp / max_samples;

    for (auto const& [sv, p] : input) {
        if (photon_count(sv) < minimum)
            physical_perf_ -= p;
        else if (p >= threshold)
            distribution_.set(sv, p);
    }

    if (minimum > 1 && max_shots) {
        double p0 = 0.0;
        if (mode_count_ >= 0) p0 = input.get(StateVector(FockState(mode_count_)));
        // Shots count outputs with photons; a draw is vacuum with probability p0. A source of
        // vacuum only yields no shot at all.
        const double scale = p0 < 1.0 ? physical_perf_ / (1.0 - p0) : 0.0;
        const double shots = std::clamp(*max_shots * scale, 0.0, double(*max_shots));
        max_shots = static_cast<int>(shots);
    }

    double sum = 0.0;
    for (auto const& entry : distribution_) sum += std::abs(entry.second);
    if (sum != 0.0)
        for (auto& entry : distribution_) entry.second /= sum;
    else
        Logging::log(Logging::user, spdlog::level::warn,
                     "Unable to normalize an object with only null components");

    auto logger = spdlog::get("General");
    if (logger && logger->should_log(spdlog::level::debug))
        logger->debug("Reduced input SVD from {} to {} elements using {} threshold", input.size(),
                      distribution_.size(), threshold);
}

std::vector<std::vector<FockState>> SVDSampler::generate_separated_samples(std::uint64_t n) const {
    const auto draws = distribution_.sample(n);
    std::vector<std::vector<FockState>> out;
    out.reserve(draws.size());
    for (auto const& sv : draws) {
        auto const& term = single_term(sv);
        if (auto const* noisy = std::get_if<NoisyFockState>(&term))
            out.push_back(noisy->separate_state());
        else
            out.push_back({std::get<FockState>(term)});
    }
    return out;
}

}  // namespace simulators
