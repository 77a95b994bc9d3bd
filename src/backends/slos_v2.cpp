#include "backends/slos_v2.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "fockspace/fock_space_filling.h"

namespace Backend {

SLOS_V2::SLOS_V2() : fock_space(0, 0) {}

std::shared_ptr<IProbBackend> SLOS_V2::clone() const {
    return std::make_shared<SLOS_V2>(*this);
}

void SLOS_V2::setUnitary(Matrix u) {
    unitary = std::move(u);
    m = static_cast<int>(unitary.rows());
    amplitudes.clear();
}

void SLOS_V2::setInputState(FockState const& state) {
    if (state == input_state) return;
    input_state = state;
    n = input_state.n();
    amplitudes.clear();
}

void SLOS_V2::set_predicate(std::function<bool(FockState const&)> fn) {
    predicate = std::move(fn);
    fock_space = FockSpace(0, 0);
    amplitudes.clear();
}

void SLOS_V2::setMask(std::optional<FsMask> mask) {
    if (!mask) {
        set_predicate({});
        return;
    }
    set_predicate([mask = std::move(*mask)](FockState const& s) { return mask.match(s, true); });
}

void SLOS_V2::compile(int k) {
    n = k;
    if (fock_space.m != m || fock_space.max_n != k) fock_space = FockSpace(m, k, predicate);
}

void SLOS_V2::compute() {
    if (input_state.m() != unitary.cols())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    if (backward)
        compute<true>();
    else
        compute<false>();
}

template <bool Backward>
void SLOS_V2::compute() {
    const double input_factor = input_state.prodnfact();
    compile(input_state.n());
    const int photons = input_state.n();
    FockSpace const& space = fock_space;
    const unsigned char* modes = input_state.data();

    std::vector<std::complex<double>> current;
    std::vector<std::complex<double>> next;
    current.reserve(space.get_full_count(photons));
    next.reserve(space.get_full_count(photons));
    current.assign(1, std::complex<double>(1.0 / std::sqrt(input_factor), 0.0));

    for (int k = 1; k <= photons; ++k) {
        const int p = modes[k - 1];
        next.assign(space.get_full_count(k), std::complex<double>(0.0));
        if constexpr (Backward) {
            for (auto const& t : space.FockStates(k)) {
                std::complex<double> sum = next[t.index];
                for (auto const& previous : space.RemoveOnePhoton(t))
                    sum += current[previous.index] * unitary(previous.mode, p);
                next[t.index] = sum;
            }
        } else {
            for (auto const& s : space.FockStates(k - 1)) {
                const std::complex<double> value = current[s.index];
                for (auto const& successor : space.AddOnePhoton(s))
                    next[successor.index] += value * unitary(successor.mode, p);
            }
        }
        current.swap(next);
    }

    // Scaled before it becomes the result, so an overflow leaves no partly scaled amplitudes.
    if (space.get_count(photons) == space.get_full_count(photons)) {
        std::size_t i = 0;
        for (auto const& s : space.FockStates(photons)) current[i++] *= std::sqrt(s.prodnfact());
        amplitudes = std::move(current);
        return;
    }
    std::vector<std::complex<double>> kept;
    kept.reserve(space.get_count(photons));
    for (auto const& s : space.FockStates(photons))
        kept.push_back(current[s.index] * std::sqrt(s.prodnfact()));
    amplitudes = std::move(kept);
}

std::vector<std::complex<double>> const& SLOS_V2::getAmplitudes() {
    if (amplitudes.empty()) compute();
    return amplitudes;
}

std::vector<double> SLOS_V2::computeProbabilities() {
    if (amplitudes.empty()) compute();
    std::vector<double> probabilities;
    probabilities.reserve(amplitudes.size());
    for (auto const& a : amplitudes) probabilities.push_back(std::norm(a));
    return probabilities;
}

FockSpaceFunction SLOS_V2::computeProbabilityDistribution() {
    if (amplitudes.empty()) compute();
    FockSpaceFunction distribution;
    distribution.reserve(amplitudes.size());
    std::size_t i = 0;
    for (auto const& s : fock_space.FockStates(input_state.n()))
        distribution[s.getFS()] = std::norm(amplitudes[i++]);
    return distribution;
}

std::vector<FockState> SLOS_V2::getFockSpace() {
    // Listing a space compiled for another configuration would disagree with the results.
    compile(input_state.n());
    std::vector<FockState> states;
    states.reserve(fock_space.get_count(n));
    for (auto const& s : fock_space.FockStates(n)) states.push_back(s.getFS());
    return states;
}

std::optional<unsigned long> SLOS_V2::get_index(FockState const& state) const {
    if (state.m() != fock_space.m || state.n() != fock_space.max_n) return std::nullopt;
    return fock_space.get_index(state);
}

}  // namespace Backend
