#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "backends/slap.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

// One SLAP walk driven by the test itself, with any walker and coefficient computer, and no
// feed-forward: the leaves' amplitudes at the indices the walker gives.
namespace slap_walk {

template <typename Walker, typename Computer>
std::vector<std::complex<double>> amplitudes(Matrix const& u, FockState const& input) {
    const Matrix r = Backend::repeatColumns(u, input);
    const int m = static_cast<int>(u.cols());
    Computer computer(input.n());
    computer.start(input.prodnfact());
    Walker walker(m, input.n(), std::nullopt);
    std::vector<std::complex<double>> result;
    while (!walker.complete()) {
        const int mode = walker.getMode();
        computer.update(r.row(mode).data(), walker.getState()[static_cast<std::size_t>(mode)],
                        walker.getDegree());
        if (walker.isOnLeaf()) {
            const std::size_t index = walker.getResultIndex();
            if (index >= result.size()) result.resize(index + 1);
            result[index] = computer.amplitude();
        }
        walker.computeNextNode();
    }
    result.resize(walker.getFinalSize());
    return result;
}

}  // namespace slap_walk
