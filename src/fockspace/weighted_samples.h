#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "runtime/rng.h"

namespace MathUtils {

// A uniform double in [0, 1) from two consecutive 32-bit outputs, low word first, as
// std::generate_canonical<double, 53> makes it: the draw of the standard discrete distribution.
inline double unit_draw(std::mt19937& engine) {
    const double low = static_cast<double>(engine());
    const double high = static_cast<double>(engine());
    const double u = (low + high * 4294967296.0) / 18446744073709551616.0;
    return u >= 1.0 ? 0.9999999999999999 : u;
}

// `count` copies of states drawn with the given weights (which need not sum to 1) from the
// calling thread's engine, in draw order. Each draw takes two consecutive 32-bit outputs, the way
// the standard library's discrete distribution does, so a seed gives the same sequence as
// std::discrete_distribution<std::size_t> over the same weights; with a single candidate nothing
// is drawn. Weights that are negative or not finite, or that sum to 0, define no draw: they
// throw, even for a single candidate or a count of 0.
template <typename States, typename Weights>
std::vector<typename States::value_type> samples(std::size_t count, States const& states,
                                                 Weights const& weights) {
    if (weights.size() != states.size())
        throw std::invalid_argument(
            "Number of states is not consistent with number of probabilities");
    if (states.empty()) {
        if (count > 0) throw std::runtime_error("Unable to sample from empty distribution");
        return {};
    }
    double sum = 0.0;
    for (double w : weights) {
        if (!(w >= 0.0) || std::isinf(w))
            throw std::runtime_error(fmt::format(
                "Unable to sample from weights that are negative or not finite (got {})", w));
        sum += w;
    }
    if (sum == 0.0) throw std::runtime_error("Unable to sample from weights that sum to 0");

    std::vector<double> cumulative;
    if (weights.size() >= 2) {
        cumulative.assign(weights.begin(), weights.end());
        if (std::isinf(sum)) {
            // Finite weights whose sum overflows: bring them to at most 1 first.
            const double max = *std::max_element(cumulative.begin(), cumulative.end());
            sum = 0.0;
            for (double& c : cumulative) {
                c /= max;
                sum += c;
            }
        }
        double running = 0.0;
        for (double& c : cumulative) {
            running += c / sum;
            c = running;
        }
        cumulative.back() = 1.0;
    }

    std::mt19937& engine = RNG::rng;
    std::vector<typename States::value_type> drawn;
    drawn.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t index = 0;
        if (!cumulative.empty()) {
            const double u = unit_draw(engine);
            index = static_cast<std::size_t>(
                std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
        }
        drawn.push_back(states[index]);
    }
    return drawn;
}

}  // namespace MathUtils
