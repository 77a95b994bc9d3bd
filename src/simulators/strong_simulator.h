#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "backends/i_prob_backend.h"
#include "fockspace/fock_space_distribution.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/fs_mask.h"
#include "fockspace/state_vector_distribution.h"
#include "runtime/progress_callback.h"
#include "simulators/post_select.h"
#include "states/fock_state.h"

namespace Detector {
class ADetector;
}
class Source;

// One input of the noisy computation: its probability, one perfect state per group of mutually
// indistinguishable photons (all of the input's mode count) and its photon count.
struct DecomposedNoisyFockState {
    double probability = 0.0;
    std::vector<FockState> parts;
    std::int32_t n = 0;
};

// Exact distribution of detected outputs of a linear-optical experiment fed with a mixture of
// (possibly noisy, possibly superposed) inputs or by an imperfect source, with heralds, detector
// models and post-selection on top of a strong-simulation back-end that holds the unitary.
// Runs on the calling thread; a computation rewrites the back-end's mask and input state.
class StrongSimulator {
  public:
    explicit StrongSimulator(std::shared_ptr<Backend::IProbBackend> backend);
    StrongSimulator(StrongSimulator const& other);
    StrongSimulator(StrongSimulator&& other) noexcept;
    StrongSimulator& operator=(StrongSimulator const&) = delete;
    StrongSimulator& operator=(StrongSimulator&&) = delete;
    ~StrongSimulator();

    // Same settings, with its own back-end and detectors.
    StrongSimulator clone() const;

    void set_heralds(std::map<unsigned char, unsigned char> const& heralds);
    std::map<unsigned char, unsigned char> const& get_heralds() const { return heralds_; }
    int get_herald_photons() const { return herald_photons_; }
    void set_detectors(std::vector<std::shared_ptr<Detector::ADetector>> detectors);
    std::vector<std::shared_ptr<Detector::ADetector>> const& get_detectors() const {
        return detectors_;
    }
    int get_detectors_behaviour() const { return detectors_behaviour_; }
    double get_physical_perf() const { return physical_perf_; }
    double get_logical_perf() const { return logical_perf_; }
    Backend::IProbBackend& get_backend() const { return *backend_; }

    FockSpaceDistribution compute(StateVectorDistribution const& svd);
    FockSpaceDistribution compute(Source const& source, FockState const& expected);

    // Settings read and written directly.
    std::int32_t min_photons_filter = 0;
    double rel_precision = 1e-6;
    bool differentiate_perf = false;
    bool keep_heralds = true;
    bool use_vector_cache = false;
    PostSelect postselect;
    ProgressCallback progress;

    // The steps of a computation, public so that each can be tested on its own.
    StateVectorDistribution preprocessSvd(StateVectorDistribution const& svd);
    FockSpaceFunction computeNoSuperposition(StateVectorDistribution const& w);
    template <typename Cache>
    FockSpaceFunction computeNoSuperposition(std::vector<DecomposedNoisyFockState> const& inputs);
    FockSpaceFunction computeSingleFockState(FockState const& state, int n, double p);
    FockSpaceFunction computeGeneric(StateVectorDistribution const& w);

    void init_use_mask(bool all_detectors_perfect);
    int compute_selection_n(int input_photons, int part_photons) const;
    std::optional<FsMask> make_mask(int n, FockState const& state) const;
    FockSpaceFunction simulate_detectors(FockSpaceFunction const& f);
    bool heralds_compatible_threshold(FockState const& state) const;
    FockSpaceFunction postselect_distribution(FockSpaceFunction const& f);
    bool accept_state(std::vector<int> const& counts) const;
    void remove_heralds(std::vector<int> const& counts, std::vector<int>& reduced) const;

    bool uses_mask() const { return use_mask_; }
    std::vector<int> const& free_herald_modes() const { return free_herald_modes_; }
    std::vector<int> const& lower_bound_herald_modes() const { return lower_bound_herald_modes_; }
    double abs_precision() const { return abs_precision_; }

  private:
    // Refuses what would make the computation read or write past the input's modes.
    void check_modes(int m) const;
    // Refuses a back-end whose outputs have another mode count than its input, as a rectangular
    // unitary gives: parts, heralds and detectors are all counted on the input's modes.
    static void check_output_modes(int output_modes, int input_modes);
    // Detection, heralds and post-selection of a computed output, then the final distribution;
    // an empty one is refused with the stage that emptied it.
    FockSpaceDistribution finish(FockSpaceFunction f, bool any_input);

    std::shared_ptr<Backend::IProbBackend> backend_;
    std::vector<std::shared_ptr<Detector::ADetector>> detectors_;
    std::int32_t detectors_behaviour_ = 0;
    double physical_perf_ = 1.0;
    double logical_perf_ = 1.0;
    double abs_precision_ = 0.0;
    std::vector<int> free_herald_modes_;
    std::vector<int> lower_bound_herald_modes_;
    std::map<unsigned char, unsigned char> heralds_;
    std::int32_t herald_photons_ = 0;
    bool use_mask_ = false;
};

namespace simulators::details {

// The detection outcomes of one mode: states with photons on that mode only, and their
// probabilities.
using DetectionOutcomes = std::pair<std::vector<FockState>, std::vector<double>>;

// One outcome list per mode of `state`; empty when a detection cannot match a herald.
std::vector<DetectionOutcomes> compute_detectors_heralds_distributions(
    FockState const& state, std::vector<std::shared_ptr<Detector::ADetector>> const& detectors,
    std::map<unsigned char, unsigned char> const& heralds);

}  // namespace simulators::details
