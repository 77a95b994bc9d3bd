#include "backends/a_slos_backend.h"

#include <cstdint>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace Backend {

namespace {

// A fresh vector is mapped page by page as it is first written: at millions of outputs those
// faults cost more than filling it. Huge pages, where the kernel grants them on request, cut the
// faults 512-fold. Only the 2 MB pages wholly inside the block are advised.
void advise_huge_pages([[maybe_unused]] void* data, [[maybe_unused]] std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge = std::uintptr_t{1} << 21;
    const auto first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (first + huge - 1) & ~(huge - 1);
    const std::uintptr_t end = (first + bytes) & ~(huge - 1);
    // Advice only: a refusal leaves ordinary pages.
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

}  // namespace

void ASlosBackend::setUnitary(Matrix unitary) {
    check_finite(unitary);
    unitary_ = std::move(unitary);
    m_ = static_cast<int>(unitary_.rows());
    amplitudes_.clear();
    ++generation_;
}

void ASlosBackend::setInputState(FockState const& input_state) {
    if (input_state == input_state_) return;
    input_state_ = input_state;
    n_ = input_state_.n();
    amplitudes_.clear();
    ++generation_;
}

void ASlosBackend::set_predicate(std::function<bool(FockState const&)> predicate) {
    predicate_ = std::move(predicate);
    discard_compiled();
    amplitudes_.clear();
    ++generation_;
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

void ASlosBackend::reserve_probabilities(std::vector<double>& probabilities, std::size_t count) {
    probabilities.reserve(count);
    advise_huge_pages(probabilities.data(), count * sizeof(double));
}

std::vector<double> ASlosBackend::computeProbabilities() {
    if (amplitudes_.empty()) compute();
    std::vector<double> probabilities;
    reserve_probabilities(probabilities, amplitudes_.size());
    for (auto const& a : amplitudes_) probabilities.push_back(probability(a));
    return probabilities;
}

}  // namespace Backend
