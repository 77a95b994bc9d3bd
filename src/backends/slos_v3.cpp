#include "backends/slos_v3.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace Backend {

std::shared_ptr<IProbBackend> SLOS_V3::clone() const {
    return std::make_shared<SLOS_V3>(*this);
}

void SLOS_V3::setUnitary(Matrix u) {
    unitary = std::move(u);
    m = static_cast<int>(unitary.rows());
    amplitudes.clear();
}

void SLOS_V3::setInputState(FockState const& state) {
    if (state == input_state) return;
    input_state = state;
    n = input_state.n();
    amplitudes.clear();
}

void SLOS_V3::set_predicate(std::function<bool(FockState const&)> fn) {
    predicate = std::move(fn);
    slos_map = SlosMap();
    amplitudes.clear();
}

void SLOS_V3::setMask(std::optional<FsMask> mask) {
    if (!mask) {
        set_predicate({});
        return;
    }
    set_predicate([mask = std::move(*mask)](FockState const& s) { return mask.match(s, true); });
}

void SLOS_V3::compile(int k) {
    n = k;
    if (slos_map.m() != m || slos_map.n() != k) slos_map.build(m, k, predicate, backward);
}

void SLOS_V3::compute() {
    // The kernel reads column p of the unitary for every input photon in mode p.
    const int photons = input_state.n();
    if (photons > 0 && input_state.data()[photons - 1] >= unitary.cols())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    compile(photons);
    const double input_factor = input_state.prodnfact();
    std::visit(
        [&](auto const& map) {
            using Map = std::decay_t<decltype(map)>;
            if constexpr (std::is_same_v<Map, SlosMap_t<void>>) {
                amplitudes.assign(1, 1.0 / std::sqrt(input_factor) *
                                         std::sqrt(map.final_states.front().prodnfact()));
            } else {
                run(map, input_factor);
            }
        },
        slos_map.get());
}

template <typename T>
void SLOS_V3::run(SlosMap_t<T> const& map, double input_factor) {
    const int photons = map.n;
    const auto final_count = static_cast<std::size_t>(map.kept_counts.back());
    current.reserve(final_count);
    next.reserve(final_count);
    current.assign(1, std::complex<double>(1.0 / std::sqrt(input_factor), 0.0));

    // Column p of the unitary, contiguous, so that the pass reads it by output mode.
    std::vector<std::complex<double>> column(static_cast<std::size_t>(map.m));
    const unsigned char* modes = input_state.data();
    for (int k = 1; k <= photons; ++k) {
        const int p = modes[k - 1];
        for (int o = 0; o < map.m; ++o) column[static_cast<std::size_t>(o)] = unitary(o, p);
        next.assign(static_cast<std::size_t>(map.kept_counts[static_cast<std::size_t>(k)]),
                    std::complex<double>(0.0));
        auto const& links = map.link_lists[static_cast<std::size_t>(k) - 1];
        auto const& link_modes = map.link_modes[static_cast<std::size_t>(k) - 1];
        for (std::size_t i = 0; i < links.size(); ++i)
            next[links[i].dst] += column[link_modes[i]] * current[links[i].src];
        current.swap(next);
    }

    // Scaled before the swap, so an overflow leaves no partly scaled amplitudes.
    for (std::size_t j = 0; j < current.size(); ++j)
        current[j] *= std::sqrt(map.final_states[j].prodnfact());
    amplitudes.swap(current);
}

std::vector<std::complex<double>> const& SLOS_V3::getAmplitudes() {
    if (amplitudes.empty()) compute();
    return amplitudes;
}

std::vector<double> SLOS_V3::computeProbabilities() {
    if (amplitudes.empty()) compute();
    std::vector<double> probabilities;
    probabilities.reserve(amplitudes.size());
    for (auto const& a : amplitudes) probabilities.push_back(std::norm(a));
    return probabilities;
}

FockSpaceFunction SLOS_V3::computeProbabilityDistribution() {
    if (amplitudes.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes.size());
    std::vector<FockState> const& states = slos_map.final_states();
    for (std::size_t j = 0; j < amplitudes.size(); ++j)
        distribution[states[j]] = std::norm(amplitudes[j]);
    return distribution;
}

std::vector<FockState> SLOS_V3::getFockSpace() {
    compile(input_state.n());
    return slos_map.final_states();
}

std::optional<unsigned long> SLOS_V3::get_index(FockState const& state) const {
    if (state.m() != m || state.n() != n) return std::nullopt;
    std::vector<FockState> const& states = slos_map.final_states();
    const auto found = std::lower_bound(states.begin(), states.end(), state);
    if (found == states.end() || *found != state) return std::nullopt;
    return static_cast<unsigned long>(found - states.begin());
}

}  // namespace Backend
