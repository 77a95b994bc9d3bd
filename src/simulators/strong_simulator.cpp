#include "simulators/strong_simulator.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "detectors/a_detector.h"
#include "runtime/background_release.h"
#include "simulators/result_caches.h"
#include "simulators/simple_source_iterator.h"
#include "simulators/simulator_input.h"
#include "simulators/source.h"

namespace {

constexpr double negligible = 1e-16;

int photon_count(StateVector const& sv) {
    int n = 0;
    for (int k : sv.n()) n = std::max(n, k);
    return n;
}

// Whether the final conversion keeps anything.
bool has_output(FockSpaceFunction const& f) {
    return std::any_of(f.begin(), f.end(),
                       [](auto const& entry) { return entry.second > negligible; });
}

int mode_count(StateVectorDistribution const& svd) {
    return svd.empty() ? -1 : svd.begin()->first.modeCount();
}

}  // namespace

StrongSimulator::StrongSimulator(std::shared_ptr<Backend::IProbBackend> backend)
    : progress(ProgressCallback::Function{}), backend_(std::move(backend)) {
    if (!backend_) throw std::invalid_argument("A StrongSimulator needs a back-end");
}

StrongSimulator::StrongSimulator(StrongSimulator const& other) = default;
StrongSimulator::StrongSimulator(StrongSimulator&& other) noexcept = default;
StrongSimulator::~StrongSimulator() = default;

StrongSimulator StrongSimulator::clone() const {
    StrongSimulator copy(*this);
    copy.backend_ = backend_->clone();
    for (auto& detector : copy.detectors_) detector = detector->clone();
    return copy;
}

void StrongSimulator::set_heralds(std::map<unsigned char, unsigned char> const& heralds) {
    int total = 0;
    for (auto const& [mode, count] : heralds) total += count;
    heralds_ = heralds;
    herald_photons_ = total;
}

void StrongSimulator::set_detectors(std::vector<std::shared_ptr<Detector::ADetector>> detectors) {
    for (auto const& detector : detectors)
        if (!detector) throw std::invalid_argument("A detector cannot be null");
    const int summary = Detector::behaviour_summary(detectors);
    detectors_ = std::move(detectors);
    detectors_behaviour_ = summary;
}

void StrongSimulator::check_modes(int m) const {
    if (!detectors_.empty() && static_cast<std::size_t>(m) != detectors_.size())
        throw std::invalid_argument(fmt::format(
            "State length ({}) and detector count ({}) do not match", m, detectors_.size()));
    // An empty input (m = -1) reaches no mode.
    if (m >= 0 && !heralds_.empty() && heralds_.rbegin()->first >= m)
        throw std::invalid_argument(fmt::format("Herald on mode {} is out of the input's {} modes",
                                                heralds_.rbegin()->first, m));
}

void StrongSimulator::check_output_modes(int output_modes, int input_modes) {
    if (output_modes != input_modes)
        throw std::invalid_argument(
            fmt::format("The back-end gives outputs of {} modes for an input of {} modes; the "
                        "simulator needs a square unitary",
                        output_modes, input_modes));
}

StateVectorDistribution StrongSimulator::preprocessSvd(StateVectorDistribution const& svd) {
    for (auto const& [sv, p] : svd)
        if (sv.empty()) throw std::invalid_argument("Received empty state vector");
    const int min_photons = min_photons_filter + herald_photons_;
    physical_perf_ = 1.0;

    std::vector<std::pair<StateVector const*, double>> kept;
    double pmax = 0.0;
    for (auto const& [sv, p] : svd) {
        if (photon_count(sv) < min_photons) {
            physical_perf_ -= p;
            continue;
        }
        kept.emplace_back(&sv, p);
        pmax = std::max(pmax, p);
    }
    abs_precision_ = std::max(rel_precision * pmax, negligible);
    std::erase_if(kept, [&](auto const& entry) { return entry.second <= abs_precision_; });

    StateVectorDistribution w;
    if (kept.empty()) {
        abs_precision_ = negligible;
        return w;
    }
    double qmax = 0.0;
    for (auto const& [sv, p] : kept) {
        if (sv->size() == 1) {
            w.map()[*sv] += p;
            continue;
        }
        StateVector normalised = *sv;
        normalised.normalize();
        for (auto const& [part, weight] : normalised.split_by_photon_and_tag_count()) {
            const double q = p * weight;
            if (photon_count(part) < min_photons) {
                physical_perf_ -= q;
                continue;
            }
            w.map()[part] += q;
            qmax = std::max(qmax, q);
        }
    }
    abs_precision_ = std::max(rel_precision * qmax, negligible);
    std::erase_if(w.map(), [&](auto const& entry) { return entry.second <= abs_precision_; });
    for (auto const& [sv, p] : w) w.n_max() = std::max(w.n_max(), photon_count(sv));
    return w;
}

FockSpaceDistribution StrongSimulator::compute(StateVectorDistribution const& svd) {
    StateVectorDistribution w = preprocessSvd(simulators::normalized_input(svd));
    check_modes(mode_count(svd));
    init_use_mask(detectors_behaviour_ == 0);

    FockSpaceFunction f;
    {
        auto guard = progress.sub_task(0, detectors_behaviour_ != 0 ? 0.9 : 1.0);
        const bool superposed = std::any_of(
            w.begin(), w.end(), [](auto const& entry) { return entry.first.size() > 1; });
        f = superposed ? computeGeneric(w) : computeNoSuperposition(w);
    }
    return finish(std::move(f), !w.empty());
}

FockSpaceDistribution StrongSimulator::compute(Source const& source, FockState const& expected) {
    check_modes(expected.m());
    init_use_mask(detectors_behaviour_ == 0);

    FockSpaceFunction f;
    bool any_input = false;
    {
        auto guard = progress.sub_task(0, detectors_behaviour_ != 0 ? 0.9 : 1.0);
        SimpleSourceIterator iterator =
            source.create_simple_iterator(expected, min_photons_filter + herald_photons_);
        abs_precision_ = std::max(rel_precision * iterator.max_p(), negligible);
        iterator.set_prob_threshold(abs_precision_);
        physical_perf_ = iterator.physical_perf();

        std::vector<DecomposedNoisyFockState> inputs;
        for (auto const& [parts, p] : iterator) {
            int n = 0;
            for (auto const& part : parts) n += part.n();
            inputs.push_back({p, parts, n});
        }
        any_input = !inputs.empty();
        f = use_vector_cache ? computeNoSuperposition<simulators::details::VectorCache>(inputs)
                             : computeNoSuperposition<simulators::details::MapCache>(inputs);
    }
    return finish(std::move(f), any_input);
}

FockSpaceDistribution StrongSimulator::finish(FockSpaceFunction f, bool any_input) {
    const InterruptSignalHandler::ReleaseOnInterrupt release(f);
    if (physical_perf_ > 0) logical_perf_ /= physical_perf_;
    // Noted per stage, so that an empty result names the stage that emptied it.
    const bool computed = has_output(f);
    if (detectors_behaviour_ != 0) {
        auto guard = progress.sub_task(0.9, 1.0);
        f = simulate_detectors(f);
    }
    const bool detected = has_output(f);
    if (postselect.hasCondition() || !heralds_.empty()) f = postselect_distribution(f);
    if (!has_output(f)) {
        // With inputs left, only the herald mask empties the back-end's outputs.
        if (detected || (!computed && any_input && !heralds_.empty()))
            throw std::runtime_error("No output passes the heralds and post-selection");
        if (computed)
            throw std::runtime_error(heralds_.empty() || differentiate_perf
                                         ? "No detected output holds enough photons"
                                         : "No detected output holds enough photons and matches "
                                           "the heralds");
    }
    return std::move(f).toFSD(negligible);
}
