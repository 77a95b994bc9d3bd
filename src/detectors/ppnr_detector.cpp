#include "detectors/ppnr_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "detectors/binomial.h"

namespace Detector {

namespace {

// The behaviour code of the settings, the first rule that applies; refuses negative settings
// and an efficiency outside [0, 1].
int checked_behaviour(int n_wires, int max_detections, double wire_efficiency) {
    if (n_wires < 0 || max_detections < 0)
        throw std::invalid_argument(
            fmt::format("PPNRDetector needs non-negative wires and cap, got {} and {}", n_wires,
                        max_detections));
    // Anything else would give readings whose probabilities are not probabilities.
    if (!(wire_efficiency >= 0.0 && wire_efficiency <= 1.0))
        throw std::invalid_argument(
            fmt::format("PPNRDetector needs a wire efficiency in [0, 1], got {}", wire_efficiency));
    if (wire_efficiency != 1.0) return 3;
    if (n_wires == 0 && max_detections == 0) return 0;
    if (max_detections == 1) return 1;
    if (n_wires != 0) return 3;
    return 2;
}

}  // namespace

PPNRDetector::PPNRDetector(int n_wires, int max_detections, double wire_efficiency,
                           std::string name)
    : ADetector(checked_behaviour(n_wires, max_detections, wire_efficiency), std::move(name)),
      n_wires_(n_wires),
      max_detections_(max_detections),
      wire_efficiency_(wire_efficiency) {}

std::shared_ptr<ADetector> PPNRDetector::clone() const {
    return std::make_shared<PPNRDetector>(*this);
}

int PPNRDetector::cap(int n) const {
    return max_detections_ != 0 && max_detections_ <= n ? max_detections_ : n;
}

bool PPNRDetector::is_deterministic(int n) const {
    return is_always_deterministic() || n == 0 || (n == 1 && wire_efficiency_ == 1.0);
}

int PPNRDetector::sample(int n) const {
    check_photon_count(n);
    if (is_deterministic(n)) return cap(n);
    return ADetector::sample(n);
}

std::vector<double> PPNRDetector::conditional_row(int k_max, int n) const {
    const double eta = wire_efficiency_;
    std::vector<double> row(static_cast<std::size_t>(k_max) + 1, 0.0);
    if (n_wires_ == 0) {
        for (int k = 0; k <= std::min(k_max, n); ++k)
            row[static_cast<std::size_t>(k)] =
                k == 0 ? std::pow(1.0 - eta, n) : binomial_term(n, k, eta);
        return row;
    }
    // row holds P(·|m) for m = 0, 1, ..., n in turn, each entry as the recurrence
    // P(k|m) = (k·η/W + 1 − η)·P(k|m−1) + (W − k + 1)·P(k−1|m−1)·η/W gives it.
    const double w = n_wires_;
    row[0] = 1.0;
    for (int m = 1; m <= n; ++m) {
        for (int k = std::min(k_max, m); k >= 1; --k) {
            const double a = row[static_cast<std::size_t>(k - 1)];
            const double b = k <= m - 1 ? row[static_cast<std::size_t>(k)] : 0.0;
            row[static_cast<std::size_t>(k)] =
                (k * eta / w + (1 - eta)) * b + (w - k + 1) * a * eta / w;
        }
        row[0] = std::pow(1.0 - eta, m);
    }
    return row;
}

double PPNRDetector::conditional_probability(int k, int n) const {
    if (k == 0) return std::pow(1.0 - wire_efficiency_, n);
    if (k > n || k < 0 || n < 0) return 0.0;
    return conditional_row(k, n)[static_cast<std::size_t>(k)];
}

std::vector<double> PPNRDetector::_inner_detect(int n) const {
    check_photon_count(n);
    std::vector<double> p(static_cast<std::size_t>(n) + 1, 0.0);
    const int c = cap(n);
    if (is_deterministic(n)) {
        p[static_cast<std::size_t>(c)] = 1.0;
        return p;
    }
    double rest = 1.0;
    if (c >= 1) {
        const std::vector<double> row = conditional_row(c - 1, n);
        for (int k = 0; k < c; ++k) {
            const double pk = row[static_cast<std::size_t>(k)];
            // Tiny values are dropped but still taken from the rest.
            if (pk > 1e-16) p[static_cast<std::size_t>(k)] = pk;
            rest -= pk;
        }
    }
    if (!(c >= 1 && rest <= 1e-16)) p[static_cast<std::size_t>(c)] = rest;
    return p;
}

}  // namespace Detector
