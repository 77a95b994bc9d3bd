#include "backends/a_slos_backend.h"

#include <utility>

namespace Backend {

void ASlosBackend::setUnitary(Matrix unitary) {
    unitary_ = std::move(unitary);
    m_ = static_cast<int>(unitary_.rows());
    amplitudes_.clear();
}

void ASlosBackend::setInputState(FockState const& input_state) {
    if (input_state == input_state_) return;
    input_state_ = input_state;
    n_ = input_state_.n();
    amplitudes_.clear();
}

void ASlosBackend::set_predicate(std::function<bool(FockState const&)> predicate) {
    predicate_ = std::move(predicate);
    discard_compiled();
    amplitudes_.clear();
}

void ASlosBackend::setMask(std::optional<FsMask> mask) {
    if (!mask) {
        set_predicate({});
        return;
    }
    set_predicate([mask = std::move(*mask)](FockState const& s) { return mask.match(s, true); });
}

void ASlosBackend::compile(int k) {
    n_ = k;
    compile_for(k);
}

std::vector<std::complex<double>> const& ASlosBackend::getAmplitudes() {
    if (amplitudes_.empty()) compute();
    return amplitudes_;
}

std::vector<double> ASlosBackend::computeProbabilities() {
    if (amplitudes_.empty()) compute();
    std::vector<double> probabilities;
    probabilities.reserve(amplitudes_.size());
    for (auto const& a : amplitudes_) probabilities.push_back(probability(a));
    return probabilities;
}

}  // namespace Backend
