#include "detectors/a_detector.h"

#include <cstddef>
#include <stdexcept>

#include <fmt/format.h>

#include "fockspace/weighted_samples.h"
#include "runtime/rng.h"

namespace Detector {

void ADetector::check_photon_count(int n) {
    if (n < 0) throw std::invalid_argument(fmt::format("invalid photon count {}", n));
}

const std::vector<double>& ADetector::detect(int n) const {
    check_photon_count(n);
    const auto index = static_cast<std::size_t>(n);
    // The entry is computed before the cache grows, so a failure leaves the cache as it was.
    if (index < cache_.size() && !cache_[index].empty()) return cache_[index];
    std::vector<double> distribution = _inner_detect(n);
    while (cache_.size() <= index) cache_.emplace_back();
    cache_[index] = std::move(distribution);
    return cache_[index];
}

int ADetector::sample(int n) const {
    const std::vector<double>& p = detect(n);
    if (p.size() < 2) return 0;
    double total = 0.0;
    for (const double v : p) total += v;
    // The rules of std::discrete_distribution (normalised partial sums, the last one 1), without
    // copying the table.
    const double u = MathUtils::unit_draw(RNG::rng);
    double cumulative = 0.0;
    const int last = static_cast<int>(p.size()) - 1;
    for (int k = 0; k < last; ++k) {
        cumulative += p[static_cast<std::size_t>(k)] / total;
        if (cumulative >= u) return k;
    }
    return last;
}

int behaviour_summary(std::vector<std::shared_ptr<ADetector>> const& detectors) {
    if (detectors.empty()) return 0;
    int summary = detectors.front()->behaviour();
    for (auto const& detector : detectors) {
        const int code = detector->behaviour();
        if (code > 2 || summary > 2) return 3;
        if (code != summary) summary = 2;
    }
    return summary;
}

}  // namespace Detector
