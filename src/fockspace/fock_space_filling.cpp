#include "fockspace/fock_space_filling.h"

#include <utility>

#include "runtime/interrupt_signal_handler.h"

N_Filling::N_Filling(int m, int n, std::function<bool(FockState const&)> predicate,
                     unsigned long reserve) {
    this->reserve(reserve);
    // No mode to hold the photons: the layer is empty.
    if (m == 0 && n > 0) return;
    FockState fs(m, n);
    InterruptSignalHandler::Poll poll;
    do {
        poll();
        push_back(predicate(fs));
    } while (fs.increment());
}

N_Filling::N_Filling(int m, int n, std::function<bool(FockState const&)> predicate)
    : N_Filling(m, n, std::move(predicate),
                m == 0 && n > 0 ? 0 : FSILookups_t<unsigned long>(m, n).get_full_count(n)) {}

FockSpaceFilling::FockSpaceFilling(int m, int n, std::function<bool(FockState const&)> predicate,
                                   FSILookups_t<unsigned long> const& lookups)
    : m(m), n(n), layers(static_cast<std::size_t>(n) + 1) {
    for (int k = 0; k < n; ++k)
        layers[static_cast<std::size_t>(k)].reserve(lookups.get_full_count(k));
    layers[static_cast<std::size_t>(n)] =
        N_Filling(m, n, std::move(predicate), lookups.get_full_count(n));
    for (int k = n - 1; k >= 0; --k) {
        N_Filling& layer = layers[static_cast<std::size_t>(k)];
        N_Filling const& above = layers[static_cast<std::size_t>(k) + 1];
        InterruptSignalHandler::Poll poll;
        for (auto const& s : NPhotonStates(nullptr, m, k)) {
            poll();
            bool kept = false;
            for (auto const& next : details::NPhotonAndOneStates(lookups, nullptr, s.d, s.index))
                if (above.test(next.index)) {
                    kept = true;
                    break;
                }
            layer.push_back(kept);
        }
    }
}

FockSpaceFilling::FockSpaceFilling(int m, int n, std::function<bool(FockState const&)> predicate)
    : FockSpaceFilling(m, n, std::move(predicate),
                       FSILookups_t<unsigned long>(m, details::checked_max_n(m, n))) {}
