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

void SLOS_V3::discard_compiled() {
    slos_map_ = SlosMap();
}

void SLOS_V3::compile_for(int k) {
    if (slos_map_.m() != m_ || slos_map_.n() != k) slos_map_.build(m_, k, predicate_, backward_);
}

void SLOS_V3::compute() {
    // The kernel reads column p of the unitary for every input photon in mode p.
    const int photons = input_state_.n();
    if (photons > 0 && input_state_.data()[photons - 1] >= unitary_.cols())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    compile(photons);
    const double input_factor = input_state_.prodnfact();
    std::visit(
        [&](auto const& map) {
            using Map = std::decay_t<decltype(map)>;
            if constexpr (std::is_same_v<Map, SlosMap_t<void>>) {
                amplitudes_.assign(1, 1.0 / std::sqrt(input_factor) *
                                          std::sqrt(map.final_states.front().prodnfact()));
            } else {
                run(map, input_factor);
            }
        },
        slos_map_.get());
}

template <typename T>
void SLOS_V3::run(SlosMap_t<T> const& map, double input_factor) {
    const int photons = map.n;
    const auto final_count = static_cast<std::size_t>(map.kept_counts.back());
    current_.reserve(final_count);
    next_.reserve(final_count);
    current_.assign(1, std::complex<double>(1.0 / std::sqrt(input_factor), 0.0));

    // Column p of the unitary, contiguous, so that the pass reads it by output mode.
    std::vector<std::complex<double>> column(static_cast<std::size_t>(map.m));
    const unsigned char* modes = input_state_.data();
    for (int k = 1; k <= photons; ++k) {
        const int p = modes[k - 1];
        for (int o = 0; o < map.m; ++o) column[static_cast<std::size_t>(o)] = unitary_(o, p);
        next_.assign(static_cast<std::size_t>(map.kept_counts[static_cast<std::size_t>(k)]),
                     std::complex<double>(0.0));
        auto const& links = map.link_lists[static_cast<std::size_t>(k) - 1];
        auto const& link_modes = map.link_modes[static_cast<std::size_t>(k) - 1];
        for (std::size_t i = 0; i < links.size(); ++i)
            next_[links[i].dst] += column[link_modes[i]] * current_[links[i].src];
        current_.swap(next_);
    }

    // Scaled before the swap, so an overflow leaves no partly scaled amplitudes.
    for (std::size_t j = 0; j < current_.size(); ++j)
        current_[j] *= std::sqrt(map.final_states[j].prodnfact());
    amplitudes_.swap(current_);
}

FockSpaceFunction SLOS_V3::computeProbabilityDistribution() {
    if (amplitudes_.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes_.size());
    std::vector<FockState> const& states = slos_map_.final_states();
    for (std::size_t j = 0; j < amplitudes_.size(); ++j)
        distribution[states[j]] = std::norm(amplitudes_[j]);
    return distribution;
}

std::vector<FockState> SLOS_V3::getFockSpace() {
    compile(input_state_.n());
    return slos_map_.final_states();
}

std::optional<unsigned long> SLOS_V3::get_index(FockState const& state) const {
    if (state.m() != m_ || state.n() != n_) return std::nullopt;
    std::vector<FockState> const& states = slos_map_.final_states();
    const auto found = std::lower_bound(states.begin(), states.end(), state);
    if (found == states.end() || *found != state) return std::nullopt;
    return static_cast<unsigned long>(found - states.begin());
}

}  // namespace Backend
