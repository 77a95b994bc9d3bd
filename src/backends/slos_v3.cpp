#include "backends/slos_v3.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "runtime/permanent_lanes.h"

namespace Backend {

namespace {

using cd = std::complex<double>;

// One layer of the pass in plain real arithmetic: without the checks of std::complex's
// multiplication, which only change a product whose naive parts are both NaN. Such a product
// leaves a NaN in the layer, and the caller then redoes the layer with the full semantics.
// Force-inlined into one copy per instruction set.
template <typename T>
[[gnu::always_inline]] inline void pull_kernel(typename SlosMap_t<T>::Layer const& layer,
                                               const double* __restrict column,
                                               const double* __restrict current,
                                               double* __restrict next) {
    const T* ends = layer.ends.data();
    const std::uint8_t* modes = layer.modes.data();
    const std::uint8_t* sizes = layer.group_sizes.data();
    const std::size_t groups = layer.group_sizes.size();
    std::size_t l = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t end = l + sizes[g] + 1;
        double re = 0.0, im = 0.0;
        for (; l < end; ++l) {
            const double* c = column + 2 * modes[l];
            const double* x = current + 2 * static_cast<std::size_t>(ends[l]);
            re += c[0] * x[0] - c[1] * x[1];
            im += c[0] * x[1] + c[1] * x[0];
        }
        next[2 * g] = re;
        next[2 * g + 1] = im;
    }
}

template <typename T>
[[gnu::always_inline]] inline void push_kernel(typename SlosMap_t<T>::Layer const& layer,
                                               const double* __restrict column,
                                               const double* __restrict current,
                                               double* __restrict next) {
    const T* ends = layer.ends.data();
    const std::uint8_t* modes = layer.modes.data();
    const std::uint8_t* sizes = layer.group_sizes.data();
    const std::size_t groups = layer.group_sizes.size();
    std::size_t l = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t end = l + sizes[g] + 1;
        const double xr = current[2 * g], xi = current[2 * g + 1];
        for (; l < end; ++l) {
            const double* c = column + 2 * modes[l];
            double* y = next + 2 * static_cast<std::size_t>(ends[l]);
            y[0] += c[0] * xr - c[1] * xi;
            y[1] += c[0] * xi + c[1] * xr;
        }
    }
}

template <typename T>
[[gnu::always_inline]] inline bool layer_kernel(typename SlosMap_t<T>::Layer const& layer,
                                                bool backward, const double* column,
                                                const double* current, double* next,
                                                std::size_t count) {
    if (backward)
        pull_kernel<T>(layer, column, current, next);
    else
        push_kernel<T>(layer, column, current, next);
    bool nan = false;
    for (std::size_t i = 0; i < 2 * count; ++i) nan |= std::isnan(next[i]);
    return nan;
}

template <typename T>
bool layer_baseline(typename SlosMap_t<T>::Layer const& layer, bool backward, const double* column,
                    const double* current, double* next, std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

template <typename T>
ORBANDILE_TARGET_AVX2 bool layer_avx2(typename SlosMap_t<T>::Layer const& layer, bool backward,
                                      const double* column, const double* current, double* next,
                                      std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

template <typename T>
ORBANDILE_TARGET_AVX512 bool layer_avx512(typename SlosMap_t<T>::Layer const& layer, bool backward,
                                          const double* column, const double* current, double* next,
                                          std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

// The same layer with std::complex arithmetic throughout, in the same order.
template <typename T>
void layer_complex(typename SlosMap_t<T>::Layer const& layer, bool backward, const cd* column,
                   const cd* current, cd* next) {
    std::size_t l = 0;
    for (std::size_t g = 0; g < layer.group_sizes.size(); ++g) {
        const std::size_t end = l + layer.group_sizes[g] + 1;
        if (backward) {
            cd sum(0.0);
            for (; l < end; ++l) sum += column[layer.modes[l]] * current[layer.ends[l]];
            next[g] = sum;
        } else {
            for (; l < end; ++l) next[layer.ends[l]] += column[layer.modes[l]] * current[g];
        }
    }
}

}  // namespace

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
                amplitudes_.assign(1, 1.0 / std::sqrt(input_factor));
            } else {
                run(map, input_factor);
            }
        },
        slos_map_.get());
}

template <typename T>
void SLOS_V3::sweep_layer(typename SlosMap_t<T>::Layer const& layer, bool backward) {
    const auto* column = reinterpret_cast<const double*>(column_.data());
    const auto* current = reinterpret_cast<const double*>(current_.data());
    auto* next = reinterpret_cast<double*>(next_.data());
    bool nan;
    switch (Permanents::selected_isa()) {
        case Permanents::Isa::avx512:
            nan = layer_avx512<T>(layer, backward, column, current, next, next_.size());
            break;
        case Permanents::Isa::avx2:
            nan = layer_avx2<T>(layer, backward, column, current, next, next_.size());
            break;
        default:
            nan = layer_baseline<T>(layer, backward, column, current, next, next_.size());
    }
    if (!nan) return;
    if (!backward) std::fill(next_.begin(), next_.end(), cd(0.0));
    layer_complex<T>(layer, backward, column_.data(), current_.data(), next_.data());
}

template <typename T>
void SLOS_V3::run(SlosMap_t<T> const& map, double input_factor) {
    const int photons = map.n;
    const auto final_count = static_cast<std::size_t>(map.kept_counts.back());
    current_.reserve(final_count);
    next_.reserve(final_count);
    current_.assign(1, cd(1.0 / std::sqrt(input_factor), 0.0));

    // Column p of the unitary, contiguous, so that the pass reads it by output mode.
    column_.resize(static_cast<std::size_t>(map.m));
    const unsigned char* modes = input_state_.data();
    for (int k = 1; k <= photons; ++k) {
        const int p = modes[k - 1];
        for (int o = 0; o < map.m; ++o) column_[static_cast<std::size_t>(o)] = unitary_(o, p);
        const auto count = static_cast<std::size_t>(map.kept_counts[static_cast<std::size_t>(k)]);
        // The pull direction writes every entry.
        if (map.backward)
            next_.resize(count);
        else
            next_.assign(count, cd(0.0));
        sweep_layer<T>(map.layers[static_cast<std::size_t>(k) - 1], map.backward);
        current_.swap(next_);
    }

    // Scaled before the swap, so an overflow leaves no partly scaled amplitudes.
    for (std::size_t j = 0; j < current_.size(); ++j) {
        const double scale = map.final_scales[j];
        if (!std::isfinite(scale))
            throw std::overflow_error("overflow error in FockState::prodnfact()");
        current_[j] *= scale;
    }
    amplitudes_.swap(current_);
}

FockSpaceFunction SLOS_V3::computeProbabilityDistribution() {
    if (amplitudes_.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes_.size());
    std::size_t j = 0;
    slos_map_.for_each_final_state(
        [&](FockState const& state) { distribution[state] = std::norm(amplitudes_[j++]); });
    return distribution;
}

std::vector<FockState> SLOS_V3::getFockSpace() {
    compile(input_state_.n());
    return slos_map_.final_states();
}

std::optional<unsigned long> SLOS_V3::get_index(FockState const& state) const {
    if (state.m() != m_ || state.n() != n_) return std::nullopt;
    return slos_map_.final_index(state);
}

}  // namespace Backend
