#include "simulators/simulator_input.h"

#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

namespace simulators {

namespace {

// A zero vector prints as "|>", so the message lists the states it holds.
std::string components_text(StateVector const& sv) {
    std::string text;
    for (auto it = sv.begin_unnormalized(); it != sv.end(); ++it)
        text += fmt::format("{}{}", text.empty() ? "" : ", ", it->first);
    return text;
}

}  // namespace

StateVectorDistribution normalized_input(StateVectorDistribution const& svd) {
    double sum = 0.0;
    for (auto const& [sv, p] : svd) {
        if (sv.empty()) throw std::invalid_argument("Received empty state vector");
        double norm = 0.0;
        for (auto it = sv.begin_unnormalized(); it != sv.end(); ++it) norm += std::norm(it->second);
        if (!(norm > 0.0) || !std::isfinite(norm))
            throw std::invalid_argument(fmt::format(
                "Received a state vector of squared norm {} on {}; it must be finite and positive",
                norm, components_text(sv)));
        if (!(p >= 0.0 && p <= 1.0))
            throw std::invalid_argument(
                fmt::format("Input probability {} of {} is not in [0, 1]", p, sv));
        sum += p;
    }
    StateVectorDistribution out = svd;
    if (out.empty()) return out;
    if (!(sum > 0.0)) throw std::invalid_argument("The input probabilities sum to 0");
    for (auto& entry : out) entry.second /= sum;
    return out;
}

}  // namespace simulators
