#include "simulators/sampling_simulator.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/logging.h"
#include "runtime/parallel.h"
#include "runtime/progress_poller.h"
#include "simulators/simulator_input.h"
#include "simulators/svd_sampler.h"

namespace simulators {

namespace {

constexpr std::int64_t no_shot_budget = 4294967295;

// The run's limit: the smaller of both, and at or below 0 nothing to do.
int effective_count(int max_samples, std::optional<int> const& max_shots) {
    return max_shots ? std::min(max_samples, *max_shots) : max_samples;
}

void check_detector_count(SamplingSimulator::Detectors const& detectors, int m) {
    if (!detectors.empty() && static_cast<std::int64_t>(detectors.size()) != m)
        throw std::invalid_argument(fmt::format(
            "State length ({}) and detector count ({}) do not match", m, detectors.size()));
}

int herald_sum(details::Heralds const& heralds) {
    int sum = 0;
    for (auto const& entry : heralds) sum += entry.second;
    return sum;
}

int min_photons_with_heralds(std::int32_t filter, details::Heralds const& heralds) {
    // Saturated: a filter near the int limit would otherwise wrap into a small minimum.
    return static_cast<int>(std::min<std::int64_t>(std::int64_t{filter} + herald_sum(heralds),
                                                   std::numeric_limits<int>::max()));
}

bool perfect_setup(details::Heralds const& heralds, PostSelect const& postselect,
                   std::int32_t detector_behaviour) {
    return heralds.empty() && !postselect.hasCondition() && detector_behaviour == 0;
}

}  // namespace

struct SamplingSimulator::Settings {
    std::int32_t min_photons_filter;
    bool differentiate_perf;
    bool keep_heralds;
    details::Heralds heralds;
    PostSelect postselect;
    ProgressCallback progress_callback;
    std::int64_t callback_interval;
    std::shared_ptr<Backend::Clifford2017> sampler;
    Detectors detectors;
    std::int32_t detector_behaviour;

    bool is_perfect() const { return perfect_setup(heralds, postselect, detector_behaviour); }
    int min_photons() const { return min_photons_with_heralds(min_photons_filter, heralds); }

    // What the noisy path needs and the runners would otherwise meet mid-run (or not at all):
    // a square unitary of the input's size, a detector per mode, heralds on existing modes.
    void check_noisy_setup(Matrix const& u, int m) const {
        if (u.rows() != m || u.cols() != m)
            throw std::runtime_error("Matrix/input state sizes mismatch");
        check_detector_count(detectors, m);
        if (!heralds.empty() && heralds.rbegin()->first >= m)
            throw std::invalid_argument(fmt::format(
                "Herald mode {} is outside the {} modes of the input", heralds.rbegin()->first, m));
    }
};

SamplingSimulator::SamplingSimulator(std::shared_ptr<Backend::Clifford2017> sampler)
    : sampler_(std::move(sampler)) {
    if (!sampler_) throw std::invalid_argument("SamplingSimulator needs a sampler");
}

int SamplingSimulator::get_min_photons_with_heralds() const {
    return min_photons_with_heralds(min_photons_filter, heralds);
}

bool SamplingSimulator::is_perfect() const {
    return perfect_setup(heralds, postselect, detector_behaviour_);
}

unsigned SamplingSimulator::getConfig() {
    config_ = config;
    config_.compute_max_thread_count = static_cast<std::uint32_t>(max_thread_count(config_));
    return config_.compute_max_thread_count;
}

void SamplingSimulator::set_detectors(Detectors detectors) {
    detectors_ = std::move(detectors);
    detector_behaviour_ = Detector::behaviour_summary(detectors_);
}

void SamplingSimulator::check_input_svd(StateVectorDistribution const& svd) const {
    if (!detectors_.empty())
        check_detector_count(detectors_, svd.empty() ? -1 : svd.begin()->first.modeCount());
    for (auto const& [sv, p] : svd) {
        if (sv.size() != 1)
            throw std::invalid_argument(
                fmt::format("Noisy sampling does not support superposed states, got {}", sv));
        if (std::holds_alternative<AnnotatedFockState>(sv.componentAt(0)))
            throw std::invalid_argument("AnnotatedFockStates can't be simulated");
    }
}

SamplingSimulator::Settings SamplingSimulator::settings() const {
    return Settings{.min_photons_filter = min_photons_filter,
                    .differentiate_perf = differentiate_perf,
                    .keep_heralds = keep_heralds,
                    .heralds = heralds,
                    .postselect = postselect,
                    .progress_callback = progress_callback,
                    .callback_interval = callback_interval,
                    .sampler = sampler_,
                    .detectors = detectors_,
                    .detector_behaviour = detector_behaviour_};
}

BSSamples SamplingSimulator::perfect_sampling(FockState const& input, int count) {
    return perfect_sampling(settings(), input, count);
}

BSSamples SamplingSimulator::perfect_sampling(Settings const& run, FockState const& input,
                                              int count) {
    physical_perf_ = 1.0;
    logical_perf_ = 1.0;
    run.sampler->setInputState(input);
    run.sampler->setAdvanceCallback(run.progress_callback, run.callback_interval);
    // Stopped runs return what is done on either path, wherever the interruption met the tasks.
    return run.sampler->samples(static_cast<std::uint32_t>(count),
                                Backend::Clifford2017::OnInterrupt::keep_finished);
}

BSSamples SamplingSimulator::nothing_drawn(double physical_perf) {
    // Still a run: its figures replace the last run's, as a run without a shot would set them.
    physical_perf_ = physical_perf;
    logical_perf_ = 1.0;
    return {};
}

SamplingSimulator SamplingSimulator::clone() const {
    SamplingSimulator copy(*this);
    copy.sampler_ = std::make_shared<Backend::Clifford2017>(*sampler_);
    for (auto& detector : copy.detectors_) detector = detector->clone();
    return copy;
}

BSSamples SamplingSimulator::samples(StateVectorDistribution const& input, int max_samples,
                                     std::optional<int> max_shots) {
    check_input_svd(input);
    const StateVectorDistribution svd = normalized_input(input);
    const Settings run = settings();
    const int d = effective_count(max_samples, max_shots);
    if (d <= 0) return {};
    if (run.is_perfect() && svd.size() == 1) {
        auto const& term = svd.begin()->first.componentAt(0);
        if (auto const* perfect = std::get_if<FockState>(&term)) {
            Logging::log(Logging::general, spdlog::level::debug, "Perfect sampling");
            return perfect_sampling(run, *perfect, d);
        }
    }
    SVDSampler generator(svd, run.min_photons_filter, herald_sum(run.heralds), d, max_shots);
    // Nothing can be drawn: every entry is below the minimum, too rare, or of zero weight.
    double weight = 0.0;
    for (auto const& entry : generator.distribution()) weight += entry.second;
    if (!(weight > 0.0) || (max_shots && *max_shots <= 0))
        return nothing_drawn(generator.physical_perf());
    const int m = generator.mode_count();
    run.check_noisy_setup(run.sampler->get_unitary(), m);
    physical_perf_ = generator.physical_perf();
    std::optional<std::uint32_t> shots;
    if (max_shots) shots = static_cast<std::uint32_t>(*max_shots);
    return noisy_sampling(run, std::move(generator), m, static_cast<std::uint32_t>(max_samples),
                          shots);
}

BSSamples SamplingSimulator::samples(Source const& source, FockState const& expected,
                                     int max_samples, std::optional<int> max_shots) {
    const Settings run = settings();
    check_detector_count(run.detectors, expected.m());
    const int d = effective_count(max_samples, max_shots);
    if (d <= 0) return {};
    if (run.is_perfect() && source.is_perfect()) {
        Logging::log(Logging::general, spdlog::level::debug, "Perfect sampling");
        return perfect_sampling(run, expected, d);
    }
    run.check_noisy_setup(run.sampler->get_unitary(), expected.m());
    SourceSampler generator = source.create_sampler(expected, run.min_photons());
    std::optional<std::uint32_t> shots;
    if (max_shots) {
        double budget = *max_shots;
        if (run.min_photons_filter > 1) {
            // A source that never emits gives no shot with photons.
            const double scale =
                generator.zpp() < 1.0 ? generator.physical_perf() / (1.0 - generator.zpp()) : 0.0;
            budget = std::clamp(budget * scale, 0.0, budget);
        }
        shots = static_cast<std::uint32_t>(budget);
    }
    if (generator.events().empty() || (shots && *shots == 0))
        return nothing_drawn(generator.physical_perf());
    physical_perf_ = generator.physical_perf();
    return noisy_sampling(run, std::move(generator), expected.m(),
                          static_cast<std::uint32_t>(max_samples), shots);
}

template <typename Generator>
BSSamples SamplingSimulator::noisy_sampling(Settings const& run, Generator&& generator, int m,
                                            std::uint32_t max_samples,
                                            std::optional<std::uint32_t> max_shots) {
    using Provider = details::InputProvider<std::decay_t<Generator>>;
    using Sampler = details::NoisySampler<Provider>;

    details::RunCounters counters;
    counters.samples_left = max_samples;
    const std::int64_t initial_shots = max_shots ? std::int64_t{*max_shots} : no_shot_budget;
    counters.shots_left = initial_shots;
    Provider provider(std::forward<Generator>(generator), counters);
    // The tasks multiply by this copy: a unitary set on the shared sampler meanwhile is the next
    // run's.
    const Matrix unitary = run.sampler->get_unitary();
    const details::NoisySamplerParameters parameters{
        run.min_photons(), !run.is_perfect(), run.differentiate_perf, run.keep_heralds,
        run.heralds,       run.postselect,    run.detector_behaviour, unitary};

    getConfig();
    auto runners = Backend::Clifford2017::createRunners(config_);
    provider.set_batch_floor(static_cast<std::int32_t>(runners.size()));
    std::vector<Sampler> samplers;
    samplers.reserve(runners.size());
    for (auto& runner : runners) {
        Detectors clones;
        clones.reserve(run.detectors.size());
        for (auto const& detector : run.detectors) clones.push_back(detector->clone());
        samplers.emplace_back(std::move(runner), provider, std::move(clones), parameters, m);
    }

    const std::size_t tasks = samplers.size();
    // Reserved up front, but never a whole billion-sample budget before a single draw.
    const std::size_t expected = static_cast<std::size_t>(
        std::min<std::int64_t>({std::int64_t{max_samples}, initial_shots, Provider::max_batch}));
    std::vector<BSSamples> outputs(tasks);
    outputs[0].reserve(expected);
    for (std::size_t k = 1; k < tasks; ++k) outputs[k].reserve(expected / tasks);

    // Tasks still running: should all of them fail, nobody else brings the budgets to 0.
    std::atomic<std::size_t> running(tasks);
    const auto poll = [&] {
        if (!run.progress_callback) return;
        ProgressPoller::poll(
            run.progress_callback, run.callback_interval,
            [&] {
                return counters.samples_left.load() > 0 && counters.shots_left.load() > 0 &&
                       running.load() > 0;
            },
            [&] {
                const double by_samples =
                    double(std::int64_t{max_samples} - counters.samples_left.load()) / max_samples;
                const double by_shots =
                    double(initial_shots - counters.shots_left.load()) / double(initial_shots);
                return std::max(by_samples, by_shots);
            });
    };
    Parallel::run_seeded(
        tasks,
        [&](std::size_t k) {
            try {
                details::run_noisy_sampling_task(samplers[k], outputs[k], counters);
            } catch (KeyboardInterruptException const&) {
                // Ctrl-C or a cancelling callable met inside a shot ends the task as it would
                // between two shots: the run returns what is done.
                if (!InterruptSignalHandler::is_interrupted()) {
                    counters.stop.store(true);
                    running.fetch_sub(1);
                    throw;
                }
            } catch (...) {
                // The run rethrows this; the other tasks' work would be thrown away with it.
                counters.stop.store(true);
                running.fetch_sub(1);
                throw;
            }
            running.fetch_sub(1);
        },
        [&] {
            try {
                poll();
            } catch (...) {
                // The callable failed: no task should go on drawing for a caller that is gone.
                counters.stop.store(true);
                throw;
            }
        });
    if (run.progress_callback) run.progress_callback(1.0, "Sampling...");

    std::int64_t shots = 0;
    std::int64_t rejections = 0;
    for (auto const& sampler : samplers) {
        shots += sampler.shots();
        rejections += sampler.logical_rejections();
    }
    BSSamples result = std::move(outputs[0]);
    for (std::size_t k = 1; k < tasks; ++k)
        std::move(outputs[k].begin(), outputs[k].end(), std::back_inserter(result));
    const auto accepted = static_cast<std::int64_t>(result.size());
    // No shot taken (an immediate interruption): the generator's figure is all there is.
    if (shots > 0) physical_perf_ *= double(accepted + rejections) / double(shots);
    logical_perf_ =
        accepted + rejections > 0 ? double(accepted) / double(accepted + rejections) : 1.0;
    return result;
}

}  // namespace simulators
