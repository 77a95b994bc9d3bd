#pragma once

#include <complex>
#include <memory>
#include <optional>
#include <vector>

#include "fockspace/fock_space_function.h"
#include "fockspace/fs_mask.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// What getAmplitudes() holds for output state s of input t, with A(s) = Perm(U[s,t]) / sqrt(s! t!)
// the physical amplitude (|A(s)|^2 is the probability of s).
enum class AmplitudeConvention {
    physical,              // A(s)
    scaled_by_factorials,  // A(s) · sqrt(t! / s!), the raw value of a layer-by-layer walk
};

// Strong simulation of a unitary acting on a perfect input state, over the n-photon output
// states in natural order (restricted to those a mask accepts).
//
// Setters only store and invalidate; the first query computes and keeps its results until a
// setter invalidates them. Entry i of every result belongs to getFockSpace()[i], and the output
// space depends only on the unitary's size, the mask and the photon count, so results for inputs
// of equal photon count line up. Not thread-safe: queries fill caches.
class IProbBackend {
  public:
    virtual ~IProbBackend() = default;

    virtual std::shared_ptr<IProbBackend> clone() const = 0;
    virtual void setUnitary(Matrix unitary) = 0;
    virtual void setInputState(FockState const& input_state) = 0;
    virtual void setMask(std::optional<FsMask> mask) = 0;
    virtual std::vector<FockState> getFockSpace() = 0;
    // Valid until the next setter call or the back-end's destruction; in the convention below.
    virtual std::vector<std::complex<double>> const& getAmplitudes() = 0;
    // A caller that needs physical amplitudes converts by this, whatever the concrete class.
    virtual AmplitudeConvention amplitudeConvention() const = 0;
    virtual std::vector<double> computeProbabilities() = 0;
    // One entry per output state, zero probabilities included; not renormalised.
    virtual FockSpaceFunction computeProbabilityDistribution() = 0;
};

}  // namespace Backend
