#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "states/fock_state.h"

// Counts of expected positions per outcome; the other positions yield nothing.
struct IteratorEvent {
    std::int32_t single_indist = 0;
    std::int32_t single_dist = 0;
    std::int32_t pair_indist = 0;
    std::int32_t pair_dist = 0;

    auto operator<=>(IteratorEvent const&) const = default;
};

// The event table of an iterator, built by `Source::_compute_iterator_prob_table`:
// `probabilities` holds the probability of one arrangement of each event.
struct IteratorProbTable {
    std::vector<IteratorEvent> events;
    std::vector<double> probabilities;
    double max_p = 0.0;
    double physical_perf = 0.0;
    std::int32_t min_photons_filter = 0;
};

// Enumerates the noisy inputs a source delivers for one expected input, each as its groups of
// mutually indistinguishable photons with the probability of that one arrangement. Made by
// `Source::create_simple_iterator`; only the threshold changes afterwards.
class SimpleSourceIterator {
  public:
    struct Sentinel {};

    class Iterator {
      public:
        enum class PhotonQuality : std::uint8_t {
            SingleIndistinguishable = 0,
            SingleDistinguishable = 1,
            PairIndistinguishable = 2,
            PairDistinguishable = 3,
            Empty = 4,
        };
        using value_type = std::pair<std::vector<FockState>, double>;

        // On the first arrangement of the first event at or above the parent's threshold.
        explicit Iterator(SimpleSourceIterator const* parent);

        bool is_end() const { return index_ >= parent_->events_.size(); }
        value_type const& operator*() const { return value_; }
        value_type const* operator->() const { return &value_; }
        Iterator& operator++();
        Iterator& operator+=(std::size_t count);
        Iterator operator++(int);
        bool operator==(Sentinel const&) const { return is_end(); }
        bool operator==(Iterator const& other) const {
            return index_ == other.index_ && qualities_ == other.qualities_;
        }

        std::vector<PhotonQuality> const& qualities() const { return qualities_; }

      private:
        void next_event();
        void increment();
        void translate();
        template <bool DistinguishableNoise>
        void translate_impl();

        SimpleSourceIterator const* parent_;  // not owned; must outlive the iterator
        std::size_t index_ = std::numeric_limits<std::size_t>::max();
        std::uint32_t indistinguishable_count_ = 0;
        std::vector<PhotonQuality> qualities_;
        value_type value_;
    };

    SimpleSourceIterator(IteratorProbTable table, FockState expected_input,
                         bool distinguishable_noise, bool has_distinguishable);

    Iterator begin() const { return Iterator(this); }
    Sentinel end() const { return {}; }

    std::vector<IteratorEvent> const& events() const { return events_; }
    std::vector<double> const& probabilities() const { return probabilities_; }
    double max_p() const { return max_p_; }
    double physical_perf() const { return physical_perf_; }
    int min_photons_filter() const { return min_photons_filter_; }
    FockState const& expected_input() const { return expected_input_; }
    bool distinguishable_noise() const { return distinguishable_noise_; }
    bool has_distinguishable() const { return has_distinguishable_; }
    // Events whose arrangement probability is below it are skipped whole; read by iterators at
    // every change of event.
    double prob_threshold() const { return prob_threshold_; }
    void set_prob_threshold(double t) { prob_threshold_ = t; }

  private:
    std::vector<IteratorEvent> events_;
    std::vector<double> probabilities_;
    double max_p_ = 0.0;
    double physical_perf_ = 0.0;
    std::int32_t min_photons_filter_ = 0;
    FockState expected_input_;
    bool distinguishable_noise_ = false;
    bool has_distinguishable_ = false;
    double prob_threshold_ = 0.0;
};
