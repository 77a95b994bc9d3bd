#pragma once

#include <cstdint>
#include <vector>

#include "fockspace/state_vector_distribution.h"
#include "simulators/simple_source_iterator.h"
#include "simulators/source_sampler.h"
#include "states/fock_state.h"

// An imperfect single-photon source: each expected photon of a perfect input is an emission slot
// that yields nothing, its signal photon, an additional photon, or both, after losses. Noise tags
// carry distinguishability: tag 0 is the common group, every distinguishable photon has a tag of
// its own. Immutable; the five per-position probabilities are derived once.
class Source {
  public:
    // Refuses values outside the model's domain (NaN included) with std::invalid_argument.
    explicit Source(double emission_probability = 1.0, double multiphoton_component = 0.0,
                    double indistinguishability = 1.0, double losses = 0.0,
                    bool g2_distinguishable = true);

    double emission_probability() const { return emission_probability_; }
    double multiphoton_component() const { return multiphoton_component_; }
    double indistinguishability() const { return indistinguishability_; }
    double losses() const { return losses_; }
    bool g2_distinguishable() const { return g2_distinguishable_; }
    double prob_two_photons() const { return prob_two_photons_; }
    double prob_noise_photon() const { return prob_noise_photon_; }
    double prob_signal_photon() const { return prob_signal_photon_; }
    double prob_no_photon() const { return prob_no_photon_; }
    double prob_distinguishable() const { return prob_distinguishable_; }

    // The five parameters compare as doubles; the derived probabilities follow from them.
    bool operator==(Source const& other) const;

    bool is_partially_distinguishable() const;
    bool is_perfect() const;

    // The exact mixture of noisy inputs, normalised; entries at or below the threshold are left
    // out. Tags are unique over the whole input: more than 255 of them throw std::runtime_error.
    StateVectorDistribution generate_distribution(FockState const& expected_input,
                                                  double prob_threshold) const;
    // What n expected photons of one mode become; advances the tag counter past the tags used.
    StateVectorDistribution probability_distribution(int n, double prob_threshold,
                                                     std::uint8_t& tag_counter) const;
    StateVectorDistribution _generate_one_photon_distribution(double prob_threshold,
                                                              std::uint8_t& tag_counter) const;

    // Set the one-mode state with these tags (or this many perfect photons) to p when
    // p > threshold.
    static void insert_state(StateVectorDistribution& d, std::vector<unsigned char> tags, double p,
                             double threshold);
    static void insert_state(StateVectorDistribution& d, int photons, double p, double threshold);

    SourceSampler create_sampler(FockState const& expected_input, int min_photons_filter) const;
    SimpleSourceIterator create_simple_iterator(FockState const& expected_input,
                                                int min_photons_filter) const;
    SamplerProbTable _compute_sampler_prob_table(int n, int min_photons_filter) const;
    IteratorProbTable _compute_iterator_prob_table(int n, int min_photons_filter) const;

  private:
    // std::length_error when the mixture for this input, uncut by a threshold, cannot fit in
    // memory.
    void check_distribution_fits(FockState const& expected_input, double threshold) const;

    double emission_probability_;
    double multiphoton_component_;
    double indistinguishability_;
    double losses_;
    bool g2_distinguishable_;
    double prob_two_photons_ = 0.0;
    double prob_noise_photon_ = 0.0;
    double prob_signal_photon_ = 0.0;
    double prob_no_photon_ = 0.0;
    double prob_distinguishable_ = 0.0;
};
