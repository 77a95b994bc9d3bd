// Heralds, detectors and post-selection: the mask handed to the back-end, the detected output
// derived from the perfect one, and the final selection with the heralded modes removed.
#include <algorithm>
#include <list>
#include <stdexcept>
#include <string>

#include "detectors/a_detector.h"
#include "runtime/background_release.h"
#include "runtime/interrupt_signal_handler.h"
#include "simulators/result_caches.h"
#include "simulators/strong_simulator.h"

namespace {

constexpr double negligible = 1e-16;

}  // namespace

void StrongSimulator::init_use_mask(bool all_detectors_perfect) {
    free_herald_modes_.clear();
    lower_bound_herald_modes_.clear();
    for (std::size_t i = 0; i < detectors_.size(); ++i) {
        auto it = heralds_.find(static_cast<unsigned char>(i));
        if (i < 256 && it != heralds_.end() && it->second == 0 && detectors_[i]->efficiency() < 1.0)
            free_herald_modes_.push_back(static_cast<int>(i));
    }
    if (heralds_.size() == free_herald_modes_.size() ||
        (!all_detectors_perfect && differentiate_perf)) {
        use_mask_ = false;
        return;
    }
    use_mask_ = true;
    for (std::size_t i = 0; i < detectors_.size() && i < 256; ++i) {
        auto it = heralds_.find(static_cast<unsigned char>(i));
        if (it != heralds_.end() && it->second != 0 && detectors_[i]->behaviour() != 0)
            lower_bound_herald_modes_.push_back(static_cast<int>(i));
    }
}

int StrongSimulator::compute_selection_n(int input_photons, int part_photons) const {
    const int n = part_photons + herald_photons_;
    return use_mask_ && n > input_photons ? input_photons : n;
}

std::optional<FsMask> StrongSimulator::make_mask(int n, FockState const& state) const {
    if (!use_mask_) return std::nullopt;
    const int m = state.m();
    std::string text(static_cast<std::size_t>(m), ' ');
    for (auto const& [mode, count] : heralds_) {
        if (std::find(free_herald_modes_.begin(), free_herald_modes_.end(), mode) !=
            free_herald_modes_.end())
            continue;
        if (count > 32)
            throw std::invalid_argument(
                "Cannot simulate an herald expecting more than 32 detected photons");
        if (mode >= m)
            throw std::invalid_argument(
                fmt::format("Herald on mode {} is out of the input's {} modes", mode, m));
        text[mode] = static_cast<char>('0' + count);
    }
    return FsMask(m, n != 0 ? n : state.n(), std::list<std::string>{std::move(text)},
                  lower_bound_herald_modes_);
}

bool StrongSimulator::heralds_compatible_threshold(FockState const& state) const {
    for (auto const& [mode, count] : heralds_)
        if ((state[mode] > 0) != (count > 0)) return false;
    return true;
}

FockSpaceFunction StrongSimulator::simulate_detectors(FockSpaceFunction const& f) {
    if (f.size() == 0) return f;
    const int min_photons = herald_photons_ + min_photons_filter;
    const double size = static_cast<double>(f.size());
    FockSpaceFunction out;
    const InterruptSignalHandler::ReleaseOnInterrupt release(out);
    double kept = 0.0;
    if (detectors_behaviour_ == 1) {
        std::size_t handled = 0;
        for (auto const& [s, p] : f) {
            if (!differentiate_perf && !heralds_compatible_threshold(s)) continue;
            FockState t = s.threshold_detection();
            if (t.n() >= min_photons) {
                out[std::move(t)] += p;
                kept += p;
            }
            progress(static_cast<double>(++handled) / size, "Simulating detectors...");
        }
    } else {
        static const std::map<unsigned char, unsigned char> no_heralds;
        auto const& heralds = differentiate_perf ? no_heralds : heralds_;
        std::vector<simulators::details::ListPair> pairs;
        std::size_t i = 0;
        for (auto const& [s, p] : f) {
            progress(static_cast<double>(i++) / size, "Simulating detectors...");
            const auto lists = simulators::details::compute_detectors_heralds_distributions(
                s, detectors_, heralds);
            if (lists.empty()) continue;
            const double tau = p > 0 ? 0.1 * abs_precision_ / p : abs_precision_;
            pairs.clear();
            for (auto const& [states, probabilities] : lists)
                pairs.emplace_back(&states, &probabilities);
            for (auto const& [t, q] : simulators::details::listMerge(pairs, tau)) {
                if (t.n() < min_photons) continue;
                const double v = p * q;
                if (v > negligible) out[t] += v;
                kept += v;
            }
        }
    }
    out.normalize();
    physical_perf_ *= kept;
    return out;
}

bool StrongSimulator::accept_state(std::vector<int> const& counts) const {
    for (auto const& [mode, count] : heralds_)
        if (counts[mode] != count) return false;
    return !postselect.hasCondition() || postselect(counts);
}

void StrongSimulator::remove_heralds(std::vector<int> const& counts,
                                     std::vector<int>& reduced) const {
    std::size_t j = 0;
    for (std::size_t k = 0; k < counts.size(); ++k)
        if (!heralds_.contains(static_cast<unsigned char>(k))) reduced[j++] = counts[k];
}

FockSpaceFunction StrongSimulator::postselect_distribution(FockSpaceFunction const& f) {
    if (f.size() == 0) return f;
    const bool remove = !keep_heralds && !heralds_.empty();
    FockSpaceFunction out;
    const InterruptSignalHandler::ReleaseOnInterrupt release(out);
    double accepted = 1.0;
    std::vector<int> counts;
    std::vector<int> reduced;
    InterruptSignalHandler::Poll poll;
    for (auto const& [s, p] : f) {
        poll();
        s.to_vect(counts);
        if (!accept_state(counts)) {
            accepted -= p;
            continue;
        }
        if (!remove) {
            out[s] += p;
            continue;
        }
        reduced.assign(counts.size() - heralds_.size(), 0);
        remove_heralds(counts, reduced);
        out[FockState(reduced)] += p;
    }
    out.normalize();
    logical_perf_ *= accepted;
    return out;
}

namespace simulators::details {

std::vector<DetectionOutcomes> compute_detectors_heralds_distributions(
    FockState const& state, std::vector<std::shared_ptr<Detector::ADetector>> const& detectors,
    std::map<unsigned char, unsigned char> const& heralds) {
    const int m = state.m();
    if (m == 0) return {};
    if (detectors.size() != static_cast<std::size_t>(m))
        throw std::invalid_argument(fmt::format(
            "State length ({}) and detector count ({}) do not match", m, detectors.size()));
    const std::vector<int> counts = state.to_vect();
    std::vector<int> current(static_cast<std::size_t>(m), 0);
    std::vector<DetectionOutcomes> lists(static_cast<std::size_t>(m));
    for (int i = 0; i < m; ++i) {
        const int n = counts[i];
        Detector::ADetector const& detector = *detectors[i];
        auto herald = i < 256 ? heralds.find(static_cast<unsigned char>(i)) : heralds.end();
        auto& [states, probabilities] = lists[i];
        if (detector.is_deterministic(n)) {
            const int k = detector.sample(n);
            if (herald != heralds.end() && herald->second != k) return {};
            current[i] = k;
            states.emplace_back(current);
            probabilities.push_back(1.0);
        } else {
            std::vector<double> const& distribution = detector.detect(n);
            if (herald != heralds.end()) {
                const std::size_t e = herald->second;
                if (e >= distribution.size() || distribution[e] == 0) return {};
                current[i] = static_cast<int>(e);
                states.emplace_back(current);
                probabilities.push_back(distribution[e]);
            } else {
                for (std::size_t k = 0; k < distribution.size(); ++k) {
                    if (!(distribution[k] > 0)) continue;
                    current[i] = static_cast<int>(k);
                    states.emplace_back(current);
                    probabilities.push_back(distribution[k]);
                }
            }
        }
        current[i] = 0;
    }
    return lists;
}

}  // namespace simulators::details
