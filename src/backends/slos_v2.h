#pragma once

#include <complex>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "backends/i_prob_backend.h"
#include "fockspace/fock_space.h"

namespace Backend {

// All output amplitudes of a unitary on one input state, photon by photon over a FockSpace whose
// neighbour indices are computed arithmetically: forward, each state of layer k-1 pushes its value
// to its successors; backward, each state of layer k pulls from its predecessors. A predicate on
// the output states prunes every state that cannot reach an accepted one. The unitary may be
// rectangular: its rows are the output modes, its columns the input modes.
class SLOS_V2 : public IProbBackend {
  public:
    SLOS_V2();
    SLOS_V2(SLOS_V2 const&) = default;
    SLOS_V2(SLOS_V2&&) = default;
    SLOS_V2& operator=(SLOS_V2 const&) = delete;
    SLOS_V2& operator=(SLOS_V2&&) = delete;
    ~SLOS_V2() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    void setUnitary(Matrix unitary) override;
    // An equal state keeps the results.
    void setInputState(FockState const& input_state) override;
    void setMask(std::optional<FsMask> mask) override;
    // The output space of the current configuration, in the order of the results.
    std::vector<FockState> getFockSpace() override;
    std::vector<std::complex<double>> const& getAmplitudes() override;
    std::vector<double> computeProbabilities() override;
    FockSpaceFunction computeProbabilityDistribution() override;

    // An empty predicate accepts every output state.
    void set_predicate(std::function<bool(FockState const&)> predicate);
    // Takes effect at the next computation; results already computed stay.
    void set_backward(bool flag) { backward = flag; }
    // Rebuilds the space only when the mode or photon count changed.
    void compile(int k);
    // Always recomputes.
    void compute();
    // The position of the state's amplitude, from the space as last compiled.
    std::optional<unsigned long> get_index(FockState const& state) const;

  private:
    template <bool Backward>
    void compute();

    Matrix unitary;
    FockState input_state;
    std::function<bool(FockState const&)> predicate;
    int m = 0;
    int n = 0;
    FockSpace fock_space;
    std::vector<std::complex<double>> amplitudes;
    bool backward = false;
};

}  // namespace Backend
