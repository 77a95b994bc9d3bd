#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/clifford2017.h"
#include "detectors/a_detector.h"
#include "fockspace/sample_containers.h"
#include "fockspace/state_vector_distribution.h"
#include "runtime/config.h"
#include "simulators/noisy_sampler.h"
#include "simulators/post_select.h"
#include "simulators/source.h"
#include "states/fock_state.h"

namespace simulators {

// A sampling experiment with imperfect parts around a Clifford & Clifford sampler: noisy inputs
// (a distribution of state vectors or a source model), detectors, heralds, post-selection and a
// minimum number of detected photons. A perfect experiment goes to the sampler whole; a noisy one
// draws shot by shot on several threads. The sampler is shared with whoever built the simulator,
// so a unitary set there is what the next run samples.
class SamplingSimulator {
  public:
    using ProgressCallback = std::function<bool(double, std::string const&)>;
    using Detectors = std::vector<std::shared_ptr<Detector::ADetector>>;

    std::int32_t min_photons_filter = 0;
    bool differentiate_perf = false;
    bool keep_heralds = true;
    details::Heralds heralds;
    PostSelect postselect;
    ProgressCallback progress_callback;
    std::int64_t callback_interval = 1000;

    explicit SamplingSimulator(std::shared_ptr<Backend::Clifford2017> sampler);

    int get_min_photons_with_heralds() const;
    double get_physical_perf() const { return physical_perf_; }
    double get_logical_perf() const { return logical_perf_; }
    int detector_behaviour() const { return detector_behaviour_; }
    Detectors const& detectors() const { return detectors_; }
    std::shared_ptr<Backend::Clifford2017> const& sampler() const { return sampler_; }

    bool is_perfect() const;
    bool need_vector_translation() const { return !is_perfect(); }
    // Snapshot of the global config; returns the task count of the next run (at least 1).
    unsigned getConfig();
    void set_detectors(Detectors detectors);

    // std::invalid_argument for a detector count other than the mode count, a superposed or an
    // annotated input.
    void check_input_svd(StateVectorDistribution const& svd) const;
    BSSamples perfect_sampling(FockState const& input, int count);
    // A deep copy: its own sampler and detector clones.
    SamplingSimulator clone() const;

    // At most max_samples accepted states, using at most max_shots shots (outputs with photons)
    // when given. Non-positive limits give an empty list.
    BSSamples samples(StateVectorDistribution const& svd, int max_samples,
                      std::optional<int> max_shots);
    BSSamples samples(Source const& source, FockState const& expected, int max_samples,
                      std::optional<int> max_shots);

  private:
    // What a run reads, copied when it starts: the progress callable, another thread or the
    // owner of the shared sampler may change the members while the tasks work.
    struct Settings;

    Settings settings() const;
    BSSamples perfect_sampling(Settings const& run, FockState const& input, int count);
    // The end of a run that has nothing to draw: no input reaches the minimum, or no shot is left.
    BSSamples nothing_drawn(double physical_perf);
    template <typename Generator>
    BSSamples noisy_sampling(Settings const& run, Generator&& generator, int m,
                             std::uint32_t max_samples, std::optional<std::uint32_t> max_shots);

    std::shared_ptr<Backend::Clifford2017> sampler_;
    Detectors detectors_;
    std::int32_t detector_behaviour_ = 0;
    double physical_perf_ = 1.0;
    double logical_perf_ = 1.0;
    Config config_;
};

}  // namespace simulators
