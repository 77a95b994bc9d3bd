#pragma once

#include <complex>
#include <memory>
#include <optional>
#include <vector>

#include "backends/configurator_map.h"
#include "backends/i_prob_backend.h"
#include "backends/unitary_provider.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/fs_mask.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// R with as many rows as U and one column per input photon: column j is the column of U of the
// mode of photon j, photons numbered in mode order. A state of fewer modes than U has columns
// throws std::out_of_range.
Matrix repeatColumns(Matrix const& u, FockState const& input_state);

// All output amplitudes of a square unitary on a perfect input state in one depth-first walk over
// the output occupations, one photon placed per level, holding 2^n partial amplitudes and one
// amplitude per output state. Optionally restricted by a mask (subtrees the mask refuses are not
// walked) and followed by feed-forward entries: fixed blocks, and configurators whose block
// depends on the counts of modes the walk has already placed. Zero photons give the vacuum,
// whatever the mask. Up to 30 photons.
class SLAP : public IProbBackend {
  public:
    static constexpr int max_photons = 30;
    // Photon counts up to this one use SLAPComputer_unrolled.
    static constexpr int unrolled_photons = 4;

    SLAP() = default;
    SLAP(SLAP const&) = default;
    SLAP(SLAP&&) = default;
    SLAP& operator=(SLAP const&) = default;
    SLAP& operator=(SLAP&&) = default;
    ~SLAP() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    // Refuses a NaN or an infinity (std::invalid_argument), a matrix that is not square and
    // unitary within config.unitary_check_precision ("Matrix is not unitary"), and one too small
    // for a feed-forward entry ("Matrix is too big for the given circuit"). Entries stay.
    void setUnitary(Matrix unitary) override;
    // An equal state keeps the results.
    void setInputState(FockState const& input_state) override;
    // An equal mask keeps the results.
    void setMask(std::optional<FsMask> mask) override;
    std::vector<FockState> getFockSpace() override;
    std::vector<std::complex<double>> const& getAmplitudes() override;
    AmplitudeConvention amplitudeConvention() const override {
        return AmplitudeConvention::physical;
    }
    std::vector<double> computeProbabilities() override;
    FockSpaceFunction computeProbabilityDistribution() override;

    void resetFfMap();
    // After the unitary only. Every block of the configurator must be square, unitary and lie
    // within the circuit after its measured modes, which must lie within the circuit too. No
    // entry's block may act on modes an earlier configurator measures.
    void addFfMap(ConfiguratorMap const& cfg_map);
    // A square unitary block and its first mode, within the circuit.
    void addFfUnitary(FixedComponent const& component);

    // With the option on, walks with SLAPSteinerWalker where it serves: 2 to 14 photons, no mask
    // and no feed-forward entry. The amplitudes are the same; the walk takes fewer nodes.
    void setSteiner(bool steiner);

    // Always recomputes; a failure leaves no result.
    void compute();

  private:
    // One walk with this walker and coefficient computer over amplitudes_, sized by compute() to
    // the full space or left empty to grow with the leaves.
    template <typename Walker, typename Computer>
    void walkTree();
    // walkTree with the computer that suits the photon count.
    template <typename Walker>
    void walk();

    // Empty when nothing is computed.
    std::vector<std::complex<double>> amplitudes_;
    int m_ = 0;
    int n_ = 0;
    Matrix unitary_;
    FockState input_state_;
    std::optional<FsMask> mask_;
    std::vector<FeedForwardEntry> ff_entries_;
    bool steiner_ = false;
};

}  // namespace Backend
