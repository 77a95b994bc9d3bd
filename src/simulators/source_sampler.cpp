#include "simulators/source_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "runtime/background_release.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/memory_limit.h"
#include "runtime/rng.h"

namespace {

using Code = FockState::code_t;

constexpr int max_distinguishable_photons = 255;

}  // namespace

void throw_too_many_noise_tags() {
    throw std::runtime_error(
        fmt::format("More than {} distinguishable photons: noise tags cannot tell them apart",
                    max_distinguishable_photons));
}

struct SourceSampler::Scratch {
    std::vector<PhotonType> types;
    std::bernoulli_distribution indistinguishable;
    // counters[2k]: common-group photons of mode k, counters[2k + 1]: distinguishable ones.
    std::vector<int> counters;
    std::vector<unsigned char> common;  // photon modes of the common group, ascending
};

SourceSampler::SourceSampler(SamplerProbTable table, FockState expected_input,
                             double indistinguishability, bool distinguishable_noise, bool perfect)
    : events_(std::move(table.events)),
      event_distribution_(std::move(table.event_distribution)),
      zpp_(table.zpp),
      physical_perf_(table.physical_perf),
      min_photons_filter_(table.min_photons_filter),
      expected_input_(std::move(expected_input)),
      indistinguishability_(indistinguishability),
      distinguishable_noise_(distinguishable_noise),
      perfect_(perfect) {}

SourceSampler::HOMType SourceSampler::hom_type() const {
    if (indistinguishability_ == 0.0) return HOMType::Distinguishable;
    if (indistinguishability_ == 1.0) return HOMType::Indistinguishable;
    return HOMType::Partial;
}

void SourceSampler::check_count(int count) const {
    if (count < 0)
        throw std::length_error(
            fmt::format("Cannot generate a negative number of samples ({})", count));
    if (count > 0 && events_.empty())
        throw std::out_of_range(fmt::format(
            "No source event yields at least {} photons: nothing to sample", min_photons_filter_));
}

SourceSampler::Event const& SourceSampler::draw_event(
    std::discrete_distribution<int>& events) const {
    return events_.at(static_cast<std::size_t>(events(RNG::rng)));
}

std::vector<NoisyFockState> SourceSampler::generate_samples(int count) const {
    check_count(count);
    // A sample of the expected photons keeps its code and, unless every photon is in the common
    // group, its tags apart.
    const auto photons = static_cast<std::size_t>(expected_input_.n());
    const double heap = static_cast<double>(FockState::code_t::heap_bytes(photons)) +
                        (photons > 0 && !perfect_ ? 32.0 : 0.0);
    MemoryLimit::check_fits(count * (sizeof(NoisyFockState) + heap),
                            fmt::format("{} samples", count));
    if (perfect_)
        return std::vector<NoisyFockState>(static_cast<std::size_t>(count),
                                           NoisyFockState(expected_input_));
    const HOMType h = hom_type();
    if (distinguishable_noise_) {
        if (h == HOMType::Distinguishable)
            return generate_samples_impl<true, HOMType::Distinguishable>(count);
        if (h == HOMType::Indistinguishable)
            return generate_samples_impl<true, HOMType::Indistinguishable>(count);
        return generate_samples_impl<true, HOMType::Partial>(count);
    }
    if (h == HOMType::Distinguishable)
        return generate_samples_impl<false, HOMType::Distinguishable>(count);
    if (h == HOMType::Indistinguishable)
        return generate_samples_impl<false, HOMType::Indistinguishable>(count);
    return generate_samples_impl<false, HOMType::Partial>(count);
}

std::vector<std::vector<FockState>> SourceSampler::generate_separated_samples(int count) const {
    check_count(count);
    // Each sample is a list of at least one state, held in a block of its own.
    MemoryLimit::check_fits(count * (sizeof(std::vector<FockState>) + 32.0),
                            fmt::format("{} samples", count));
    if (perfect_)
        return std::vector<std::vector<FockState>>(static_cast<std::size_t>(count),
                                                   std::vector<FockState>{expected_input_});
    const HOMType h = hom_type();
    if (distinguishable_noise_) {
        if (h == HOMType::Distinguishable)
            return generate_separated_samples_impl<true, HOMType::Distinguishable>(count);
        if (h == HOMType::Indistinguishable)
            return generate_separated_samples_impl<true, HOMType::Indistinguishable>(count);
        return generate_separated_samples_impl<true, HOMType::Partial>(count);
    }
    if (h == HOMType::Distinguishable)
        return generate_separated_samples_impl<false, HOMType::Distinguishable>(count);
    if (h == HOMType::Indistinguishable)
        return generate_separated_samples_impl<false, HOMType::Indistinguishable>(count);
    return generate_separated_samples_impl<false, HOMType::Partial>(count);
}

template <bool DistinguishableNoise, SourceSampler::HOMType H>
std::vector<NoisyFockState> SourceSampler::generate_samples_impl(int count) const {
    const auto m = static_cast<std::size_t>(expected_input_.m());
    Scratch s{std::vector<PhotonType>(static_cast<std::size_t>(expected_input_.n())),
              std::bernoulli_distribution(std::sqrt(indistinguishability_)),
              std::vector<int>(2 * m, 0),
              {}};
    std::vector<NoisyFockState> out;
    out.reserve(static_cast<std::size_t>(count));
    auto events = event_distribution_;
    const InterruptSignalHandler::ReleaseOnInterrupt release(out);
    InterruptSignalHandler::Poll poll;
    for (int i = 0; i < count; ++i) {
        poll();
        convert_event<DistinguishableNoise, H>(out, draw_event(events), s);
    }
    return out;
}

template <bool DistinguishableNoise, SourceSampler::HOMType H>
std::vector<std::vector<FockState>> SourceSampler::generate_separated_samples_impl(
    int count) const {
    Scratch s{std::vector<PhotonType>(static_cast<std::size_t>(expected_input_.n())),
              std::bernoulli_distribution(std::sqrt(indistinguishability_)),
              {},
              {}};
    s.common.reserve(2 * s.types.size());
    std::vector<std::vector<FockState>> out;
    out.reserve(static_cast<std::size_t>(count));
    auto events = event_distribution_;
    const InterruptSignalHandler::ReleaseOnInterrupt release(out);
    InterruptSignalHandler::Poll poll;
    for (int i = 0; i < count; ++i) {
        poll();
        convert_separated_event<DistinguishableNoise, H>(out, draw_event(events), s);
    }
    return out;
}

namespace {

// Positions in table order, then shuffled: which expected photons yield what.
void scatter(std::vector<SourceSampler::PhotonType>& types, SourceSampler::Event const& event) {
    using T = SourceSampler::PhotonType;
    auto it = std::fill_n(types.begin(), event.signal_count, T::Signal);
    it = std::fill_n(it, event.noise_count, T::Noise);
    it = std::fill_n(it, event.pair_count, T::Pair);
    std::fill(it, types.end(), T::NoPhoton);
    std::shuffle(types.begin(), types.end(), RNG::rng);
}

template <SourceSampler::HOMType H>
bool signal_in_common_group(std::bernoulli_distribution& indistinguishable) {
    if constexpr (H == SourceSampler::HOMType::Distinguishable) return false;
    if constexpr (H == SourceSampler::HOMType::Indistinguishable) return true;
    return indistinguishable(RNG::rng);
}

}  // namespace

template <bool DistinguishableNoise, SourceSampler::HOMType H>
void SourceSampler::convert_event(std::vector<NoisyFockState>& out, Event const& event,
                                  Scratch& s) const {
    const int m = expected_input_.m();
    const int photons = event.signal_count + event.noise_count + 2 * event.pair_count;
    if (photons == 0) {
        out.emplace_back(FockState(m));
        return;
    }
    scatter(s.types, event);
    Code::check_size(static_cast<std::size_t>(photons));

    Code code(static_cast<std::size_t>(photons));
    unsigned char* modes = code.mutable_data();
    const unsigned char* expected = expected_input_.data();
    constexpr bool all_common = !DistinguishableNoise && H == HOMType::Indistinguishable;
    for (std::size_t i = 0; i < s.types.size(); ++i) {
        const PhotonType type = s.types[i];
        if (type == PhotonType::NoPhoton) continue;
        const unsigned char mode = expected[i];
        *modes++ = mode;
        if (type == PhotonType::Pair) *modes++ = mode;
        if constexpr (all_common) continue;
        int* counters = s.counters.data() + 2 * mode;
        if (type != PhotonType::Noise)  // the signal photon
            ++counters[signal_in_common_group<H>(s.indistinguishable) ? 0 : 1];
        if (type != PhotonType::Signal)  // the additional photon
            ++counters[DistinguishableNoise ? 1 : 0];
    }
    FockState state(m, std::move(code));
    if constexpr (all_common) {
        out.emplace_back(std::move(state));
        return;
    }

    // Within each mode the common group first, then the distinguishable photons with the next
    // tags of the sample.
    auto tags = std::make_unique<unsigned char[]>(static_cast<std::size_t>(photons));
    const unsigned char* photon_modes = state.data();
    int next_tag = 1;
    for (int i = 0; i < photons; ++i) {
        int* counters = s.counters.data() + 2 * photon_modes[i];
        if (counters[0] > 0) {
            --counters[0];
            tags[static_cast<std::size_t>(i)] = 0;
        } else {
            --counters[1];
            if (next_tag > max_distinguishable_photons) throw_too_many_noise_tags();
            tags[static_cast<std::size_t>(i)] = static_cast<unsigned char>(next_tag++);
        }
    }
    out.emplace_back(std::move(state), std::move(tags));
}

template <bool DistinguishableNoise, SourceSampler::HOMType H>
void SourceSampler::convert_separated_event(std::vector<std::vector<FockState>>& out,
                                            Event const& event, Scratch& s) const {
    const int m = expected_input_.m();
    scatter(s.types, event);
    std::vector<FockState> groups;
    const unsigned char* expected = expected_input_.data();
    s.common.clear();
    constexpr bool all_common = !DistinguishableNoise && H == HOMType::Indistinguishable;
    const auto own_group = [&](unsigned char mode) { groups.emplace_back(m, Code(&mode, 1)); };
    for (std::size_t i = 0; i < s.types.size(); ++i) {
        const PhotonType type = s.types[i];
        if (type == PhotonType::NoPhoton) continue;
        const unsigned char mode = expected[i];
        if constexpr (all_common) {
            s.common.push_back(mode);
            if (type == PhotonType::Pair) s.common.push_back(mode);
            continue;
        }
        if (type != PhotonType::Signal) {  // the additional photon, before the signal photon
            if (DistinguishableNoise)
                own_group(mode);
            else
                s.common.push_back(mode);
        }
        if (type != PhotonType::Noise) {
            if (signal_in_common_group<H>(s.indistinguishable))
                s.common.push_back(mode);
            else
                own_group(mode);
        }
    }
    if (!s.common.empty() || groups.empty())
        groups.emplace_back(m, Code(s.common.data(), s.common.size()));
    out.push_back(std::move(groups));
}
