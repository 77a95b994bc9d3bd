#include "backends/slos_v3.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "backends/slos_v3_kernels.h"
#include "runtime/instruction_set.h"
#include "runtime/interrupt_signal_handler.h"

namespace Backend {

namespace {

using cd = std::complex<double>;

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
    compute_into(nullptr);
}

bool SLOS_V3::compute_into(std::vector<double>* probabilities) {
    // The kernel reads column p of the unitary for every input photon in mode p; the input's
    // modes are the unitary's columns, the vacuum's too, as for every back-end.
    const int photons = input_state_.n();
    if (input_state_.m() != unitary_.cols())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    compile(photons);
    const double input_factor = input_state_.prodnfact();
    return std::visit(
        [&](auto const& map) {
            using Map = std::decay_t<decltype(map)>;
            if constexpr (std::is_same_v<Map, SlosMap_t<void>>) {
                amplitudes_.assign(1, 1.0 / std::sqrt(input_factor));
                return false;
            } else {
                if (!map.pruned)
                    return run_dense(map.dense, map.m, map.n, input_factor, probabilities);
                run(map, input_factor);
                return false;
            }
        },
        slos_map_.get());
}

std::vector<double> SLOS_V3::computeProbabilities() {
    if (amplitudes_.empty()) {
        // The last layer writes them as it goes: no second pass over the amplitudes.
        std::vector<double> probabilities;
        if (compute_into(&probabilities)) return probabilities;
    }
    return ASlosBackend::computeProbabilities();
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
    InterruptSignalHandler::Poll poll(1);
    for (int k = 1; k <= photons; ++k) {
        poll();
        const int p = modes[k - 1];
        for (int o = 0; o < map.m; ++o) column_[static_cast<std::size_t>(o)] = unitary_(o, p);
        const auto count = static_cast<std::size_t>(map.kept_counts[static_cast<std::size_t>(k)]);
        // The pull direction writes every entry.
        if (map.backward)
            next_.resize(count);
        else
            next_.assign(count, cd(0.0));
        SlosV3Kernels::sweep_layer<T>(map.layers[static_cast<std::size_t>(k) - 1], map.backward,
                                      column_, current_, next_);
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
    // Only the dense pass writes into the buffer a new unitary keeps.
    std::vector<cd>().swap(spare_);
}

bool SLOS_V3::run_dense(DenseLinks const& links, int m, int photons, double input_factor,
                        std::vector<double>* probabilities) {
    // n! is the largest s! of the layer, and every state is kept.
    if (!std::isfinite(links.factorial_roots[static_cast<std::size_t>(photons)]))
        throw std::overflow_error("overflow error in FockState::prodnfact()");
    const SlosV3Kernels::RunKernel run = SlosV3Kernels::selected_dense_run();

    // With probabilities asked for, the 512-bit pass writes only them in the last layer and
    // keeps the layer before it, from which a later request for the amplitudes computes them:
    // the pass then writes a third of the bytes. A pass that left the last layer pending
    // resumes there.
    const bool only_probabilities =
        probabilities != nullptr && InstructionSet::selected_isa() == InstructionSet::Isa::avx512;
    const int first = pending_ == generation_ ? photons : 1;
    pending_.reset();

    // The layers alternate between two buffers so that the last one lands in the buffer that
    // becomes the amplitudes: the previous layer and the last are all the pass holds. The pass
    // writes every entry, so a buffer of the right size from an earlier query is not cleared.
    const std::size_t below = links.count(m, photons - 1);
    const std::size_t count = links.count(m, photons);
    const std::size_t spare_size = !only_probabilities ? count
                                   : photons >= 2      ? links.count(m, photons - 2)
                                                       : 0;
    if (current_.size() < below) current_.resize(below);
    auto size_spare = [&](std::size_t size) {
        if (spare_.size() == size) return;
        std::vector<cd>().swap(spare_);
        spare_.resize(size);
    };
    size_spare(spare_size);
    auto layer_data = [&](int k) {
        return reinterpret_cast<double*>((photons - k) % 2 == 0 ? spare_.data() : current_.data());
    };
    if (first == 1) {
        layer_data(0)[0] = 1.0 / std::sqrt(input_factor);
        layer_data(0)[1] = 0.0;
    }

    column_.resize(static_cast<std::size_t>(m));
    column_pairs_.resize(4 * static_cast<std::size_t>(m));
    const unsigned char* modes = input_state_.data();
    bool written = probabilities != nullptr;
    // Between layers only: a pass that stops leaves nothing pending, and the next one starts
    // again from the first layer.
    InterruptSignalHandler::Poll poll(1);
    for (int k = first; k <= photons; ++k) {
        poll();
        const int p = modes[k - 1];
        for (int o = 0; o < m; ++o) {
            const cd u = unitary_(o, p);
            const auto i = static_cast<std::size_t>(o);
            column_[i] = u;
            column_pairs_[4 * i] = column_pairs_[4 * i + 1] = u.real();
            column_pairs_[4 * i + 2] = -u.imag();
            column_pairs_[4 * i + 3] = u.imag();
        }
        const bool last = k == photons;
        if (last && probabilities) {
            reserve_probabilities(*probabilities, count);
            probabilities->resize(count);
        }
        SlosV3Kernels::DensePass pass{links,
                                      m,
                                      reinterpret_cast<const double*>(column_.data()),
                                      column_pairs_.data(),
                                      layer_data(k - 1),
                                      last && only_probabilities ? nullptr : layer_data(k),
                                      last,
                                      last && probabilities ? probabilities->data() : nullptr};
        for (int j = 0; j < links.tail; ++j) {
            const cd u = column_[static_cast<std::size_t>(links.head + j)];
            pass.tail_re[static_cast<std::size_t>(j)] = u.real();
            pass.tail_im[static_cast<std::size_t>(j)] = u.imag();
        }
        if (SlosV3Kernels::descend(pass, run, 0, k, 0, 0, 0, 1.0)) {
            // The full semantics write amplitudes only.
            if (last) {
                written = false;
                pass.probabilities = nullptr;
                if (only_probabilities) {
                    size_spare(count);
                    pass.next = layer_data(k);
                }
            }
            SlosV3Kernels::descend(pass, SlosV3Kernels::dense_run_complex, 0, k, 0, 0, 0, 1.0);
        }
    }
    if (only_probabilities && written) {
        pending_ = generation_;
        return true;
    }
    amplitudes_.swap(spare_);
    std::vector<cd>().swap(spare_);
    return written;
}

void SLOS_V3::setUnitary(Matrix unitary) {
    check_finite(unitary);
    // Kept for the next pass, which overwrites it: a new unitary then costs no clearing.
    if (!amplitudes_.empty()) spare_.swap(amplitudes_);
    ASlosBackend::setUnitary(std::move(unitary));
}

FockSpaceFunction SLOS_V3::computeProbabilityDistribution() {
    if (amplitudes_.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes_.size());
    std::size_t j = 0;
    InterruptSignalHandler::Poll poll;
    slos_map_.for_each_final_state([&](FockState const& state) {
        poll();
        distribution[state] = probability(amplitudes_[j++]);
    });
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
