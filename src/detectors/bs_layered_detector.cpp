#include "detectors/bs_layered_detector.h"

#include <cstddef>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "detectors/binomial.h"
#include "fockspace/distribution_products.h"
#include "runtime/background_release.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/memory_limit.h"
#include "states/fock_state.h"

namespace Detector {

BSLayeredDetector::BSLayeredDetector(int bs_layers, double reflectivity, std::string name)
    : ADetector(3, std::move(name)), bs_layers_(bs_layers), reflectivity_(reflectivity) {
    if (bs_layers < 0 || bs_layers > max_layers)
        throw std::invalid_argument(
            fmt::format("BSLayeredDetector needs 0 to {} layers, got {}", max_layers, bs_layers));
    if (!(reflectivity >= 0.0 && reflectivity <= 1.0))
        throw std::invalid_argument(
            fmt::format("BSLayeredDetector needs a reflectivity in [0, 1], got {}", reflectivity));
}

std::shared_ptr<ADetector> BSLayeredDetector::clone() const {
    return std::make_shared<BSLayeredDetector>(*this);
}

int BSLayeredDetector::sample(int n) const {
    check_photon_count(n);
    if (n < 2) return n;
    return ADetector::sample(n);
}

std::vector<double> BSLayeredDetector::_inner_detect(int n) const {
    check_photon_count(n);
    std::vector<double> p(static_cast<std::size_t>(n) + 1, 0.0);
    if (n < 2) {
        p[static_cast<std::size_t>(n)] = 1.0;
        return p;
    }
    // Built first: its photon cap is the limit a caller meets before the memory's.
    FockSpaceFunction f(FockState(1, n), 1.0);
    check_last_layer_fits(n);
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(f);
        for (int layer = 0; layer < bs_layers_; ++layer) f = _get_next_layer(f);
    }
    std::vector<int> counts;
    for (const auto& [state, value] : f) {
        state.to_vect(counts);
        int lit = 0;
        for (const int c : counts) lit += c > 0;
        p[static_cast<std::size_t>(lit)] += value;
    }
    return p;
}

void BSLayeredDetector::check_last_layer_fits(int n) const {
    // Only a splitter that sends photons both ways reaches every state of the last layer.
    if (bs_layers_ == 0 || !(reflectivity_ > 0.0 && reflectivity_ < 1.0)) return;
    // C(n + modes - 1, n) states of n photons over the last layer's modes, in doubles.
    const double modes = static_cast<double>(1 << bs_layers_);
    double states = 1.0;
    for (int k = 1; k <= n; ++k) states = states * (modes - 1 + k) / k;
    // A map node holds the state, its value, a link and the cached hash; the bucket array adds
    // a pointer.
    const double entry_bytes =
        sizeof(FockState) + sizeof(double) + 3 * sizeof(void*) +
        static_cast<double>(FockState::code_t::heap_bytes(static_cast<std::size_t>(n)));
    MemoryLimit::check_fits(
        states * entry_bytes,
        fmt::format("The {:.3g} states of {} photons behind {} beam-splitter layers", states, n,
                    bs_layers_));
}

FockSpaceFunction BSLayeredDetector::_get_next_layer(const FockSpaceFunction& f) const {
    FockSpaceFunction g;
    // A splitter that sends photons both ways reaches every state of the next layer: reserved at
    // once rather than rehashed, which Ctrl-C cannot stop, as it fills.
    if (reflectivity_ > 0.0 && reflectivity_ < 1.0 && f.size() > 0) {
        const int n = f.begin()->first.n();
        const double modes = 2.0 * f.begin()->first.m();
        double states = 1.0;
        for (int k = 1; k <= n; ++k) states = states * (modes - 1 + k) / k;
        g.reserve(static_cast<std::size_t>(states));
    }
    const InterruptSignalHandler::ReleaseOnInterrupt release(g);
    std::vector<int> counts;
    std::vector<FockSpaceFunction> splits;
    InterruptSignalHandler::Poll poll(256);
    for (const auto& [state, value] : f) {
        poll();
        state.to_vect(counts);
        splits.assign(counts.size(), FockSpaceFunction());
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const int n = counts[i];
            for (int a = 0; a <= n; ++a)
                splits[i].set(FockState(std::vector<int>{a, n - a}),
                              binomial_term(n, a, reflectivity_));
        }
        // Distinct inputs never give the same output state, so nothing is overwritten.
        for (const auto& [split, p] : tensor_product(splits, 0.0)) g[split] = value * p;
    }
    return g;
}

}  // namespace Detector
