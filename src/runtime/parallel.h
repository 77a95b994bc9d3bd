#pragma once

#include <cstddef>
#include <future>
#include <type_traits>
#include <vector>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"

// The library's one way of spreading a call over threads: one std::async task per index, each on
// a new thread (std::launch::async, no pool), every task waited for before the call returns or
// throws, so nothing the tasks read can go away under them.
namespace Parallel {

// std::thread::hardware_concurrency(), with a concurrency the system cannot tell (0) counted
// as 1.
std::size_t hardware_threads();

// For tasks, at a loop head where they may stop: throws
// KeyboardInterruptException("Process interrupted by user.") once Ctrl-C has set the interrupt
// flag. The flag stays set, so every task polling it stops.
using InterruptSignalHandler::throw_if_interrupted;

// Runs task(i) for i = 0 ... count-1, each on a thread of its own, and returns their results in
// task order (nothing when the task returns void). When tasks throw, the exception of the lowest
// task index is rethrown once all have ended, whatever order they were raised in, so a failing
// run reports the same error however the threads were scheduled. When a thread cannot be started,
// the thread library's std::system_error leaves after the tasks already started have ended.
//
// `meanwhile()` runs on the calling thread once every task has started, before the tasks are
// waited for (progress polls); should it throw, its exception leaves once all tasks have ended.
template <typename Task, typename Meanwhile = void (*)()>
auto run(
    std::size_t count, Task const& task, Meanwhile const& meanwhile = [] {}) {
    using Result = std::invoke_result_t<Task const&, std::size_t>;
    std::vector<std::future<Result>> futures;
    futures.reserve(count);
    // On an exception the futures' destructors wait for the tasks launched so far.
    for (std::size_t i = 0; i < count; ++i)
        futures.push_back(std::async(std::launch::async, [&task, i] { return task(i); }));
    meanwhile();
    for (auto& future : futures) future.wait();
    if constexpr (std::is_void_v<Result>) {
        for (auto& future : futures) future.get();
    } else {
        std::vector<Result> results;
        results.reserve(count);
        for (auto& future : futures) results.push_back(future.get());
        return results;
    }
}

// As run, for tasks that draw random numbers: before any task starts, one seed per task is drawn
// in task order from the calling thread's RNG::rng, and each task reseeds its own thread's engine
// with its seed first thing. Seeded runs are thus reproducible for a given task count.
template <typename Task, typename Meanwhile = void (*)()>
auto run_seeded(
    std::size_t count, Task const& task, Meanwhile const& meanwhile = [] {}) {
    const auto seeds = RNG::draw_task_seeds(count);
    return run(
        count,
        [&task, &seeds](std::size_t i) {
            RNG::rng.seed(seeds[i]);
            return task(i);
        },
        meanwhile);
}

}  // namespace Parallel
