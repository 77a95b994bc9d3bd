#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "fockspace/state_vector_distribution.h"
#include "states/fock_state.h"

namespace simulators {

// The inputs of a noisy sampling run drawn from a distribution of single-term state vectors. The
// distribution is reduced once: entries below the photon minimum go into the physical
// performance, entries too unlikely to show up in the run's budget are left out of the table.
class SVDSampler {
  public:
    // `max_samples` is the smaller of the run's sample and shot limits. When the minimum is above
    // 1 and a shot limit is given, that limit, counted in shots with photons, is rewritten into
    // a number of draws of this sampler. Entries must hold exactly one term.
    SVDSampler(StateVectorDistribution const& input, int min_photons_filter, int herald_sum,
               int max_samples, std::optional<int>& max_shots);

    // n draws, each split into its groups of mutually indistinguishable photons.
    std::vector<std::vector<FockState>> generate_separated_samples(std::uint64_t n) const;

    StateVectorDistribution const& distribution() const { return distribution_; }
    double physical_perf() const { return physical_perf_; }
    // The input's mode count; -1 when it is empty.
    int mode_count() const { return mode_count_; }

  private:
    StateVectorDistribution distribution_;
    double physical_perf_ = 1.0;
    int mode_count_ = -1;
};

}  // namespace simulators
