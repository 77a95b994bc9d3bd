#include "runtime/progress_poller.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "runtime/interrupt_signal_handler.h"

namespace ProgressPoller {

void poll(Callback const& callback, std::int64_t interval_ms, std::function<bool()> const& active,
          std::function<double()> const& progress) {
    using namespace std::chrono;
    // Slept in short slices, so that a run ending early is not held for a whole interval.
    constexpr milliseconds slice(10);
    // A day at most, so that the wake-up time cannot overflow the clock.
    const milliseconds interval(std::min<std::int64_t>(interval_ms, 86'400'000));
    callback(0.0, "Sampling...");
    while (active()) {
        const auto wake = steady_clock::now() + interval;
        for (auto now = steady_clock::now(); now < wake && active(); now = steady_clock::now())
            std::this_thread::sleep_for(std::min<steady_clock::duration>(slice, wake - now));
        if (InterruptSignalHandler::is_interrupted()) return;
        if (callback(progress(), "Sampling...")) {
            InterruptSignalHandler::interrupted.exchange(true);
            return;
        }
    }
}

}  // namespace ProgressPoller
