#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "backends/i_clifford_runner.h"
#include "detectors/a_detector.h"
#include "fockspace/sample_containers.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/matrix.h"
#include "simulators/post_select.h"
#include "states/fock_state.h"

// The per-shot machinery of a noisy sampling run; everything here lives for one run only.
namespace simulators::details {

using Heralds = std::map<unsigned char, unsigned char>;
using SeparatedInput = std::vector<FockState>;

// Budgets shared by the tasks of a run. Each claim is one fetch_sub; a value at or below 0 means
// spent. `stop` ends every task before its next shot when the run fails.
struct RunCounters {
    std::atomic<std::int64_t> samples_left{0};
    std::atomic<std::int64_t> shots_left{0};
    std::atomic<bool> stop{false};
};

// Hands pre-drawn separated inputs to every task of a run. A refill draws about the work still
// to do in one call under the lock, so the generator runs once per batch, not once per shot.
template <typename Generator>
class InputProvider {
  public:
    // Bounds the memory of one batch: a run of a billion samples refills in slices.
    static constexpr std::int64_t max_batch = 1 << 16;

    InputProvider(Generator generator, RunCounters& counters)
        : generator_(std::move(generator)), counters_(&counters) {}

    Generator const& generator() const { return generator_; }
    void set_batch_floor(std::int32_t floor) { batch_floor_ = std::max(floor, 1); }

    SeparatedInput take() {
        std::lock_guard lock(mutex_);
        if (next_ >= batch_.size()) {
            const std::int64_t left =
                std::min(counters_->samples_left.load(), counters_->shots_left.load());
            const std::int64_t size =
                left > batch_floor_ ? std::min(left, max_batch) + batch_floor_ : batch_floor_;
            // Fits an int: the source generator takes one.
            batch_ = generator_.generate_separated_samples(static_cast<int>(size));
            next_ = 0;
        }
        return std::move(batch_[next_++]);
    }

  private:
    Generator generator_;
    std::int32_t batch_floor_ = 1;
    std::size_t next_ = 0;
    std::mutex mutex_;
    RunCounters* counters_;
    std::vector<SeparatedInput> batch_;
};

// Read-only settings of a run, shared by every task.
struct NoisySamplerParameters {
    std::int32_t min_detected_photons = 0;
    bool translate = false;
    bool differentiate_perf = false;
    bool keep_heralds = true;
    Heralds const& heralds;
    PostSelect const& postselect;
    std::int32_t detector_behaviour = 0;
    Matrix const& unitary;
};

// One task's sampler: its runner, its own detector clones (a detector caches its responses) and
// scratch reused from shot to shot.
template <typename Provider>
class NoisySampler {
  public:
    using Detectors = std::vector<std::shared_ptr<Detector::ADetector>>;

    NoisySampler(std::unique_ptr<Backend::ICliffordRunner> runner, Provider& provider,
                 Detectors detectors, NoisySamplerParameters const& parameters, int mode_count)
        : runner_(std::move(runner)),
          provider_(&provider),
          detectors_(std::move(detectors)),
          parameters_(&parameters),
          m_(mode_count) {
        if (!parameters.keep_heralds && !parameters.heralds.empty())
            kept_counts_.resize(
                static_cast<std::size_t>(std::max<int>(0, m_ - int(parameters.heralds.size()))));
    }

    std::int64_t shots() const { return shots_; }
    std::int64_t logical_rejections() const { return logical_rejections_; }

    // One shot: the output when it passes every selection, nothing when it is rejected.
    std::optional<FockState> sample() {
        ++shots_;
        const SeparatedInput input = provider_->take();
        auto const& p = *parameters_;
        FockState out(m_);
        for (auto const& group : input) {
            if (group.n() == 0) continue;
            runner_->setUnitaryMatrix(p.unitary, group);
            out = out.merge(runner_->sample());
        }
        if (!p.translate) return out;

        out.to_vect(counts_);
        int total = 0;
        if (p.detector_behaviour == 1) {
            if (!p.differentiate_perf)
                for (auto const& [mode, expected] : p.heralds)
                    if ((counts_[mode] > 0) != (expected > 0)) return std::nullopt;
            for (int& c : counts_) {
                c = c > 0 ? 1 : 0;
                total += c;
            }
        } else if (p.detector_behaviour >= 2) {
            auto herald = p.heralds.begin();
            for (int i = 0; i < m_; ++i) {
                const int c = detectors_[static_cast<std::size_t>(i)]->sample(counts_[i]);
                if (herald != p.heralds.end() && herald->first == i) {
                    if (!p.differentiate_perf && c != herald->second) return std::nullopt;
                    ++herald;
                }
                counts_[i] = c;
                total += c;
            }
        }
        // Detection lost photons: not enough left is a physical rejection.
        if (p.detector_behaviour != 0 && total < p.min_detected_photons) return std::nullopt;

        for (auto const& [mode, expected] : p.heralds)
            if (counts_[mode] != expected) {
                ++logical_rejections_;
                return std::nullopt;
            }
        if (p.postselect.hasCondition() && !p.postselect(counts_)) {
            ++logical_rejections_;
            return std::nullopt;
        }
        if (p.keep_heralds || p.heralds.empty()) return FockState(counts_);
        std::size_t k = 0;
        for (int i = 0; i < m_; ++i)
            if (!p.heralds.contains(static_cast<unsigned char>(i))) kept_counts_[k++] = counts_[i];
        return FockState(kept_counts_);
    }

  private:
    std::unique_ptr<Backend::ICliffordRunner> runner_;
    Provider* provider_;
    Detectors detectors_;
    std::int64_t shots_ = 0;
    std::int64_t logical_rejections_ = 0;
    std::vector<int> counts_;
    std::vector<int> kept_counts_;
    NoisySamplerParameters const* parameters_;
    int m_;
};

// The body of one task: claim a sample slot, then shots until one is accepted; stop when a
// budget is spent, on Ctrl-C or a cancelling callback, or when the run stops. Spent shots end the
// task at once: draining a billion unclaimed sample slots one by one would take a minute.
template <typename Sampler>
void run_noisy_sampling_task(Sampler& sampler, BSSamples& out, RunCounters& counters) {
    const auto halted = [&] {
        return InterruptSignalHandler::is_interrupted() || counters.stop.load();
    };
    while (counters.samples_left.fetch_sub(1) > 0) {
        while (true) {
            if (counters.shots_left.fetch_sub(1) <= 0) return;
            if (halted()) return;
            if (auto state = sampler.sample()) {
                out.push_back(std::move(*state));
                break;
            }
        }
    }
}

}  // namespace simulators::details
