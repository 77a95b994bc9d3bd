#include "backends/clifford2017.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "backends/clifford2017_cpu.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/logging.h"
#include "runtime/parallel.h"
#include "runtime/progress_poller.h"

namespace Backend {

Clifford2017::Clifford2017(Clifford2017 const& other)
    : unitary_(other.unitary_),
      input_(other.input_),
      callback_interval_(other.callback_interval_),
      advance_callback_(other.advance_callback_) {}

Clifford2017& Clifford2017::operator=(Clifford2017 other) noexcept {
    std::swap(prepared_, other.prepared_);
    unitary_.swap(other.unitary_);
    std::swap(input_, other.input_);
    std::swap(runners_, other.runners_);
    std::swap(config_, other.config_);
    std::swap(callback_interval_, other.callback_interval_);
    std::swap(advance_callback_, other.advance_callback_);
    return *this;
}

Clifford2017::~Clifford2017() = default;

void Clifford2017::setUnitary(Matrix unitary) {
    check_finite(unitary);
    // Columns are read by input mode and rows by output mode: both must be the modes.
    if (unitary.rows() != unitary.cols() || !is_unitary(unitary, config.unitary_check_precision))
        throw std::runtime_error("Matrix is not unitary");
    unitary_ = std::move(unitary);
    prepared_ = false;
}

void Clifford2017::setInputState(FockState input) {
    if (input == input_) return;
    input_ = std::move(input);
    prepared_ = false;
}

void Clifford2017::setAdvanceCallback(AdvanceCallback callback, std::int64_t interval_ms) {
    advance_callback_ = std::move(callback);
    callback_interval_ = interval_ms > 0 ? interval_ms : 1000;
}

bool Clifford2017::configChanged() {
    const bool changed = config_.use_single_precision != config.use_single_precision ||
                         config_.compute_max_thread_count != config.compute_max_thread_count;
    if (changed) prepared_ = false;
    config_ = config;
    return changed;
}

Matrix Clifford2017::_prepareUS() const {
    return prepared_matrix(unitary_, input_);
}

Clifford2017::Runners Clifford2017::createRunners(Config const& cfg) {
    const std::size_t count = max_thread_count(cfg);
    Runners runners;
    runners.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (cfg.use_single_precision)
            runners.push_back(std::make_unique<Clifford2017CPU<SinglePrecision>>());
        else
            runners.push_back(std::make_unique<Clifford2017CPU<DoublePrecision>>());
    }
    Logging::log(Logging::general, spdlog::level::debug,
                 "Clifford2017: Using {} threads to compute samples", runners.size());
    return runners;
}

void Clifford2017::prepare() {
    const bool changed = configChanged();
    if (prepared_) return;
    const Matrix us = _prepareUS();
    if (changed || runners_.empty()) runners_ = createRunners(config_);
    for (auto& runner : runners_) runner->setPreparedMatrix(us);
    prepared_ = true;
}

FockState Clifford2017::sample() {
    if (input_.n() == 0) return input_;
    prepare();
    return runners_.front()->sample();
}

BSSamples Clifford2017::samples(std::uint32_t count, OnInterrupt on_interrupt) {
    if (input_.n() == 0) return BSSamples(count, input_);
    prepare();
    std::atomic<std::uint32_t> counter(count);
    std::vector<RunnerOutput> outputs(runners_.size());
    // Tasks still running: should all of them fail, nobody else brings the counter to 0.
    std::atomic<std::size_t> running(runners_.size());
    struct Ended {
        std::atomic<std::size_t>& running;
        ~Ended() { running.fetch_sub(1); }
    };
    Parallel::run_seeded(
        runners_.size(),
        [&](std::size_t k) {
            const Ended ended{running};
            try {
                runners_[k]->generateSamplesLoop(counter, outputs[k]);
            } catch (KeyboardInterruptException const&) {
                // The sample under way is lost; those pushed before it are whole.
                if (on_interrupt == OnInterrupt::rethrow ||
                    !InterruptSignalHandler::is_interrupted())
                    throw;
            }
        },
        [&] {
            if (!advance_callback_) return;
            ProgressPoller::poll(
                advance_callback_, callback_interval_,
                [&] { return counter.load() != 0 && running.load() != 0; },
                [&] {
                    std::size_t finished = 0;
                    for (auto const& out : outputs) finished += out.finished.load();
                    return static_cast<double>(finished) / count;
                });
        });
    if (advance_callback_) advance_callback_(1.0, "Sampling...");
    std::size_t total = 0;
    for (auto const& out : outputs) total += out.states.size();
    BSSamples result;
    result.reserve(total);
    for (auto& out : outputs)
        std::move(out.states.begin(), out.states.end(), std::back_inserter(result));
    return result;
}

}  // namespace Backend
