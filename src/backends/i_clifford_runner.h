#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fockspace/sample_containers.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// What one sampling task hands back: its states in draw order, and how many it has finished, a
// count the polling thread reads while the task appends. A cache line of its own, so that tasks
// counting their samples do not slow each other down.
struct alignas(64) RunnerOutput {
    BSSamples states;
    std::atomic<std::size_t> finished{0};
};

// One thread's boson-sampling engine: a copy of the prepared matrix U_S (one row per input
// photon, one column per mode) in its own precision, and all the scratch space of a sample. A
// runner belongs to one thread at a time.
class ICliffordRunner {
  public:
    virtual ~ICliffordRunner() = default;

    // One output state; needs a preparation with at least one photon.
    virtual FockState sample() = 0;
    // Claims one sample at a time from `counter` until it is 0 or the interrupt flag is set.
    virtual void generateSamplesLoop(std::atomic<std::uint32_t>& counter, RunnerOutput& out) = 0;
    // U_S made from a unitary and the input whose photons it carries.
    virtual void setUnitaryMatrix(Matrix const& unitary, FockState const& input) = 0;
    virtual void setPreparedMatrix(Matrix const& us) = 0;
};

}  // namespace Backend
