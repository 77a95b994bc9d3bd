#include "backends/slos_v2.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "fockspace/fock_space_filling.h"
#include "runtime/interrupt_signal_handler.h"

namespace Backend {

SLOS_V2::SLOS_V2() : fock_space_(0, 0) {}

std::shared_ptr<IProbBackend> SLOS_V2::clone() const {
    return std::make_shared<SLOS_V2>(*this);
}

void SLOS_V2::discard_compiled() {
    fock_space_ = FockSpace(0, 0);
}

void SLOS_V2::compile_for(int k) {
    if (fock_space_.m != m_ || fock_space_.max_n != k) fock_space_ = FockSpace(m_, k, predicate_);
}

void SLOS_V2::compute() {
    if (input_state_.m() != unitary_.cols())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    if (backward_)
        compute<true>();
    else
        compute<false>();
}

template <bool Backward>
void SLOS_V2::compute() {
    const double input_factor = input_state_.prodnfact();
    compile(input_state_.n());
    const int photons = input_state_.n();
    FockSpace const& space = fock_space_;
    const unsigned char* modes = input_state_.data();

    std::vector<std::complex<double>> current;
    std::vector<std::complex<double>> next;
    current.reserve(space.get_full_count(photons));
    next.reserve(space.get_full_count(photons));
    current.assign(1, std::complex<double>(1.0 / std::sqrt(input_factor), 0.0));

    InterruptSignalHandler::Poll poll;
    for (int k = 1; k <= photons; ++k) {
        const int p = modes[k - 1];
        next.assign(space.get_full_count(k), std::complex<double>(0.0));
        if constexpr (Backward) {
            for (auto const& t : space.FockStates(k)) {
                poll();
                std::complex<double> sum = next[t.index];
                for (auto const& previous : space.RemoveOnePhoton(t))
                    sum += current[previous.index] * unitary_(previous.mode, p);
                next[t.index] = sum;
            }
        } else {
            for (auto const& s : space.FockStates(k - 1)) {
                poll();
                const std::complex<double> value = current[s.index];
                for (auto const& successor : space.AddOnePhoton(s))
                    next[successor.index] += value * unitary_(successor.mode, p);
            }
        }
        current.swap(next);
    }

    // Scaled before it becomes the result, so an overflow leaves no partly scaled amplitudes.
    if (space.get_count(photons) == space.get_full_count(photons)) {
        std::size_t i = 0;
        for (auto const& s : space.FockStates(photons)) current[i++] *= std::sqrt(s.prodnfact());
        amplitudes_ = std::move(current);
        return;
    }
    std::vector<std::complex<double>> kept;
    kept.reserve(space.get_count(photons));
    for (auto const& s : space.FockStates(photons))
        kept.push_back(current[s.index] * std::sqrt(s.prodnfact()));
    amplitudes_ = std::move(kept);
}

FockSpaceFunction SLOS_V2::computeProbabilityDistribution() {
    if (amplitudes_.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes_.size());
    std::size_t i = 0;
    InterruptSignalHandler::Poll poll;
    for (auto const& s : fock_space_.FockStates(input_state_.n())) {
        poll();
        distribution[s.getFS()] = probability(amplitudes_[i++]);
    }
    return distribution;
}

std::vector<FockState> SLOS_V2::getFockSpace() {
    // Listing a space compiled for another configuration would disagree with the results.
    compile(input_state_.n());
    std::vector<FockState> states;
    states.reserve(fock_space_.get_count(n_));
    InterruptSignalHandler::Poll poll;
    for (auto const& s : fock_space_.FockStates(n_)) {
        poll();
        states.push_back(s.getFS());
    }
    return states;
}

std::optional<unsigned long> SLOS_V2::get_index(FockState const& state) const {
    if (state.m() != fock_space_.m || state.n() != fock_space_.max_n) return std::nullopt;
    return fock_space_.get_index(state);
}

}  // namespace Backend
