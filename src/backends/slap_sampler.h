#pragma once

#include <complex>
#include <vector>

#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// Perfect samples of a unitary on a perfect input state, drawn on the SLAP tree and returned as a
// histogram over the output states in natural order. Samples that share the same ordered output
// prefix and the same input photons still to place travel as one count, split among the next
// choices by binomial draws, so a node's coefficients are computed once for all its samples.
// Draws come from the calling thread's RNG::rng: a seed reproduces a histogram.
class SLAPSampler {
  public:
    // Beyond this the working counts, m * 2^n, stop fitting in memory.
    static constexpr int max_photons = 24;

    SLAPSampler() = default;

    // Refuses a NaN or an infinity (std::invalid_argument) and ("Matrix is not unitary") a matrix
    // that is not square and unitary within config.unitary_check_precision, keeping the previous
    // one.
    void setUnitary(Matrix unitary);
    void setInputState(FockState input_state);

    // count samples of the input, which must have as many modes as the unitary. Refuses a
    // negative count and a call before any unitary, without changing anything.
    std::vector<int> const& generateSamples(FockState const& input_state, int count);

  private:
    template <typename Computer>
    void walkTree();
    // Splits the samples of a node of degree n - k, reached by a photon in `mode`, among the input
    // photon drawn next and the output mode it goes to.
    void dispatchSamples(int k, int mode, std::vector<std::complex<double>> const& c,
                         Matrix const& r);
    // v samples whose drawn photons leave `rest` to place, at degree t, over the output modes.
    void sendToModes(int v, unsigned rest, int t, std::vector<std::complex<double>> const& c,
                     Matrix const& r);
    // Adds the samples that took their last photon at the node of `state` to the histogram.
    void collect(std::vector<int>& state, std::vector<long long> const& combinations);

    int m_ = 0;
    int n_ = 0;
    Matrix unitary_;
    FockState input_state_;
    int sample_count_ = 0;
    std::vector<int> counts_;
    // Entry mode * 2^n + S: the samples at the child by `mode` of the current path's node with
    // the photons S still to place.
    std::vector<int> branch_counts_;
    // Entry t * m + i: the samples the latest dispatch at degree t sent to child i.
    std::vector<int> level_counts_;
    std::vector<double> mode_weights_;
};

}  // namespace Backend
