#include "simulators/simple_source_iterator.h"

#include <algorithm>

SimpleSourceIterator::SimpleSourceIterator(IteratorProbTable table, FockState expected_input,
                                           bool distinguishable_noise, bool has_distinguishable)
    : events_(std::move(table.events)),
      probabilities_(std::move(table.probabilities)),
      max_p_(table.max_p),
      physical_perf_(table.physical_perf),
      min_photons_filter_(table.min_photons_filter),
      expected_input_(std::move(expected_input)),
      distinguishable_noise_(distinguishable_noise),
      has_distinguishable_(has_distinguishable) {}

SimpleSourceIterator::Iterator::Iterator(SimpleSourceIterator const* parent)
    : parent_(parent),
      qualities_(static_cast<std::size_t>(parent->expected_input_.n()), PhotonQuality::Empty),
      value_({}, 0.0) {
    // The longest list: the common group, one group per signal and per additional photon.
    const auto n = static_cast<std::size_t>(parent->expected_input_.n());
    value_.first.reserve(1 + (parent->has_distinguishable_ ? n : 0) +
                         (parent->distinguishable_noise_ ? n : 0));
    next_event();
    if (!is_end()) translate();
}

void SimpleSourceIterator::Iterator::next_event() {
    auto const& events = parent_->events_;
    while (++index_ < events.size() &&
           !(parent_->probabilities_[index_] >= parent_->prob_threshold_))
        ;
    if (is_end()) return;
    value_.second = parent_->probabilities_[index_];
    IteratorEvent const& e = events[index_];
    auto it =
        std::fill_n(qualities_.begin(), e.single_indist, PhotonQuality::SingleIndistinguishable);
    it = std::fill_n(it, e.single_dist, PhotonQuality::SingleDistinguishable);
    it = std::fill_n(it, e.pair_indist, PhotonQuality::PairIndistinguishable);
    it = std::fill_n(it, e.pair_dist, PhotonQuality::PairDistinguishable);
    std::fill(it, qualities_.end(), PhotonQuality::Empty);
    indistinguishable_count_ = static_cast<std::uint32_t>(
        parent_->distinguishable_noise_ ? e.single_indist + e.pair_indist
                                        : e.single_indist + 2 * e.pair_indist + e.pair_dist);
}

void SimpleSourceIterator::Iterator::increment() {
    if (is_end()) return;
    if (!std::next_permutation(qualities_.begin(), qualities_.end())) next_event();
}

void SimpleSourceIterator::Iterator::translate() {
    if (parent_->distinguishable_noise_)
        translate_impl<true>();
    else
        translate_impl<false>();
}

template <bool DistinguishableNoise>
void SimpleSourceIterator::Iterator::translate_impl() {
    using Code = FockState::code_t;
    Code::check_size(indistinguishable_count_);
    const int m = parent_->expected_input_.m();
    auto& groups = value_.first;
    groups.clear();
    Code common(indistinguishable_count_);
    unsigned char* next = common.mutable_data();
    const auto own_group = [&](unsigned char mode) { groups.emplace_back(m, Code(&mode, 1)); };
    const unsigned char* modes = parent_->expected_input_.data();
    for (std::size_t i = 0; i < qualities_.size(); ++i) {
        const unsigned char mode = modes[i];
        switch (qualities_[i]) {
            case PhotonQuality::SingleIndistinguishable:
                *next++ = mode;
                break;
            case PhotonQuality::SingleDistinguishable:
                own_group(mode);
                break;
            case PhotonQuality::PairIndistinguishable:
                *next++ = mode;
                if (DistinguishableNoise)
                    own_group(mode);
                else
                    *next++ = mode;
                break;
            case PhotonQuality::PairDistinguishable:
                own_group(mode);
                if (DistinguishableNoise)
                    own_group(mode);
                else
                    *next++ = mode;
                break;
            case PhotonQuality::Empty:
                break;
        }
    }
    groups.emplace_back(m, std::move(common));
}

SimpleSourceIterator::Iterator& SimpleSourceIterator::Iterator::operator++() {
    increment();
    if (!is_end()) translate();
    return *this;
}

SimpleSourceIterator::Iterator& SimpleSourceIterator::Iterator::operator+=(std::size_t count) {
    for (std::size_t i = 0; i < count && !is_end(); ++i) increment();
    if (!is_end()) translate();
    return *this;
}

SimpleSourceIterator::Iterator SimpleSourceIterator::Iterator::operator++(int) {
    Iterator before = *this;
    ++*this;
    return before;
}
