#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "backends/a_slos_backend.h"
#include "fockspace/fock_space.h"
#include "fockspace/fock_space_function.h"
#include "states/fock_state.h"

namespace Backend {

// All output amplitudes of a unitary on one input state, photon by photon over a FockSpace whose
// neighbour indices are computed arithmetically: forward, each state of layer k-1 pushes its value
// to its successors; backward, each state of layer k pulls from its predecessors. The direction
// is read at each computation. A predicate on the output states prunes every state that cannot
// reach an accepted one.
class SLOS_V2 : public ASlosBackend {
  public:
    SLOS_V2();
    SLOS_V2(SLOS_V2 const&) = default;
    SLOS_V2(SLOS_V2&&) = default;
    ~SLOS_V2() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    // The output space of the current configuration, in the order of the results.
    std::vector<FockState> getFockSpace() override;
    FockSpaceFunction computeProbabilityDistribution() override;
    void compute() override;
    std::optional<unsigned long> get_index(FockState const& state) const override;

  private:
    void discard_compiled() override;
    void compile_for(int k) override;
    template <bool Backward>
    void compute();

    FockSpace fock_space_;
};

}  // namespace Backend
