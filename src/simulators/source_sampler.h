#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "states/fock_state.h"
#include "states/noisy_fock_state.h"

struct SamplerProbTable;

// Noise tags are one byte and tag 0 is the common group: a state holds at most 255
// distinguishable photons. Throws std::runtime_error saying so.
[[noreturn]] void throw_too_many_noise_tags();

// Draws the noisy inputs a source delivers for one expected input, from a table of events (how
// many expected positions yield their signal photon, their additional photon or both) instead of
// the whole mixture. Made by `Source::create_sampler`; never changes afterwards.
class SourceSampler {
  public:
    struct Event {
        std::int32_t signal_count = 0;
        std::int32_t noise_count = 0;
        std::int32_t pair_count = 0;

        bool operator==(Event const&) const = default;
    };

    enum class PhotonType : std::uint8_t { NoPhoton = 0, Signal = 1, Pair = 2, Noise = 3 };
    enum class HOMType : std::uint8_t { Distinguishable = 0, Indistinguishable = 1, Partial = 2 };

    SourceSampler(SamplerProbTable table, FockState expected_input, double indistinguishability,
                  bool distinguishable_noise, bool perfect);

    // One tag per photon: 0 for the common group, one tag of its own (from 1) for every
    // distinguishable photon. More than 255 distinguishable photons in one draw cannot be tagged
    // apart and throw std::runtime_error.
    std::vector<NoisyFockState> generate_samples(int count) const;
    // The same draws as their groups of mutually indistinguishable photons: the one-photon groups
    // of the distinguishable photons in walk order, then the common group.
    std::vector<std::vector<FockState>> generate_separated_samples(int count) const;

    std::vector<Event> const& events() const { return events_; }
    double zpp() const { return zpp_; }
    double physical_perf() const { return physical_perf_; }
    int min_photons_filter() const { return min_photons_filter_; }
    FockState const& expected_input() const { return expected_input_; }
    double indistinguishability() const { return indistinguishability_; }
    bool distinguishable_noise() const { return distinguishable_noise_; }
    bool perfect() const { return perfect_; }

  private:
    // Per-call scratch, allocated once and reused by every sample of the call.
    struct Scratch;

    template <bool DistinguishableNoise, HOMType H>
    std::vector<NoisyFockState> generate_samples_impl(int count) const;
    template <bool DistinguishableNoise, HOMType H>
    std::vector<std::vector<FockState>> generate_separated_samples_impl(int count) const;
    template <bool DistinguishableNoise, HOMType H>
    void convert_event(std::vector<NoisyFockState>& out, Event const& event, Scratch& s) const;
    template <bool DistinguishableNoise, HOMType H>
    void convert_separated_event(std::vector<std::vector<FockState>>& out, Event const& event,
                                 Scratch& s) const;

    HOMType hom_type() const;
    Event const& draw_event(std::discrete_distribution<int>& events) const;
    void check_count(int count) const;

    std::vector<Event> events_;
    std::discrete_distribution<int> event_distribution_;
    double zpp_ = 0.0;
    double physical_perf_ = 0.0;
    std::int32_t min_photons_filter_ = 0;
    FockState expected_input_;
    double indistinguishability_ = 1.0;
    bool distinguishable_noise_ = false;
    bool perfect_ = false;
};

// The event table of a sampler, built by `Source::_compute_sampler_prob_table`. The weights of
// `event_distribution` are the event probabilities scaled by a common factor, so that they do
// not all vanish when the kept probabilities are below the smallest double.
struct SamplerProbTable {
    std::vector<SourceSampler::Event> events;
    std::discrete_distribution<int> event_distribution;
    double zpp = 0.0;
    double physical_perf = 0.0;
    std::int32_t min_photons_filter = 0;
};
