#include "runtime/parallel.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <latch>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

namespace {

using namespace std::chrono_literals;
using test_support::expect_throw_message;

std::vector<std::uint32_t> draws(std::mt19937& engine, int count) {
    std::vector<std::uint32_t> out(static_cast<std::size_t>(count));
    for (auto& x : out) x = engine();
    return out;
}

// Leaves the interrupt flag cleared whatever the test did with it.
struct ClearedFlag {
    ClearedFlag() { InterruptSignalHandler::interrupted = false; }
    ~ClearedFlag() { InterruptSignalHandler::interrupted = false; }
};

}  // namespace

TEST(Parallel, HardwareThreadsIsAtLeastOne) {
    const unsigned hardware = std::thread::hardware_concurrency();
    EXPECT_EQ(Parallel::hardware_threads(), hardware == 0 ? 1u : hardware);
}

TEST(Parallel, ResultsComeInTaskOrder) {
    // Later tasks finish first.
    const auto squares = Parallel::run(5, [](std::size_t i) {
        std::this_thread::sleep_for((5 - i) * 2ms);
        return i * i;
    });
    EXPECT_EQ(squares, (std::vector<std::size_t>{0, 1, 4, 9, 16}));
}

TEST(Parallel, NoTaskRunsNothingAndDrawsNoSeed) {
    RNG::rng.seed(11);
    int calls = 0;
    EXPECT_TRUE(Parallel::run(0, [&](std::size_t) { return ++calls; }).empty());
    EXPECT_TRUE(Parallel::run_seeded(0, [&](std::size_t) { return ++calls; }).empty());
    EXPECT_EQ(calls, 0);
    std::mt19937 reference(11);
    EXPECT_EQ(RNG::rng(), reference());
}

TEST(Parallel, OneTaskRunsOffTheCallingThread) {
    const auto caller = std::this_thread::get_id();
    const auto ids = Parallel::run(1, [](std::size_t) { return std::this_thread::get_id(); });
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_NE(ids[0], caller);
}

TEST(Parallel, TasksRunConcurrently) {
    // Each task waits for all the others to have started: a run that serialised its tasks would
    // report false instead of hanging.
    constexpr std::size_t count = 4;
    std::latch started(count);
    const auto met = Parallel::run(count, [&](std::size_t) {
        started.count_down();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!started.try_wait())
            if (std::chrono::steady_clock::now() > deadline) return false;
        return true;
    });
    EXPECT_EQ(met, std::vector<bool>(count, true));
}

TEST(Parallel, VoidTasksAllRun) {
    std::atomic<int> calls{0};
    Parallel::run(3, [&](std::size_t) { calls.fetch_add(1); });
    EXPECT_EQ(calls.load(), 3);
}

TEST(Parallel, SeedsAreDrawnInTaskOrderFromTheCaller) {
    // Tasks of different lengths: the seeds must not depend on when each task starts or ends.
    auto task = [](std::size_t i) {
        std::this_thread::sleep_for((4 - i) * 2ms);
        return draws(RNG::rng, 3);
    };
    RNG::rng.seed(2024);
    const auto first = Parallel::run_seeded(4, task);
    const auto after_first = RNG::rng();

    std::mt19937 caller(2024);
    ASSERT_EQ(first.size(), 4u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        std::mt19937 engine(caller());
        EXPECT_EQ(first[i], draws(engine, 3)) << "task " << i;
    }
    // Exactly one draw per task from the caller's engine, none by the tasks' own draws.
    EXPECT_EQ(after_first, caller());

    RNG::rng.seed(2024);
    EXPECT_EQ(Parallel::run_seeded(4, task), first);
}

TEST(Parallel, UnseededRunLeavesTheCallersEngineAlone) {
    RNG::rng.seed(5);
    Parallel::run(3, [](std::size_t) { return RNG::rng(); });
    std::mt19937 reference(5);
    EXPECT_EQ(RNG::rng(), reference());
}

TEST(Parallel, EveryTaskEndsBeforeAnExceptionLeaves) {
    std::atomic<int> finished{0};
    expect_throw_message<std::runtime_error>(
        [&] {
            Parallel::run(4, [&](std::size_t i) {
                if (i == 0) throw std::runtime_error("task 0");
                std::this_thread::sleep_for(20ms);
                finished.fetch_add(1);
            });
        },
        "task 0");
    EXPECT_EQ(finished.load(), 3);
}

TEST(Parallel, TheLowestFailingTaskIsReported) {
    // Task 3 throws at once, task 1 only later: task 1's exception is the one rethrown.
    std::atomic<bool> third_thrown{false};
    expect_throw_message<std::runtime_error>(
        [&] {
            Parallel::run_seeded(4, [&](std::size_t i) -> int {
                if (i == 3) {
                    third_thrown = true;
                    throw std::runtime_error("task 3");
                }
                if (i == 1) {
                    while (!third_thrown) std::this_thread::yield();
                    throw std::runtime_error("task 1");
                }
                return 0;
            });
        },
        "task 1");
}

TEST(Parallel, TasksStopOnInterrupt) {
    ClearedFlag cleared;
    // Task 0 plays Ctrl-C once the others are polling; they stop with the interrupt message.
    std::atomic<int> polling{0};
    std::atomic<int> stopped{0};
    expect_throw_message<KeyboardInterruptException>(
        [&] {
            Parallel::run(4, [&](std::size_t i) {
                if (i == 0) {
                    while (polling.load() < 3) std::this_thread::yield();
                    InterruptSignalHandler::interrupted = true;
                    return;
                }
                polling.fetch_add(1);
                try {
                    for (;;) {
                        Parallel::throw_if_interrupted();
                        std::this_thread::yield();
                    }
                } catch (KeyboardInterruptException const&) {
                    stopped.fetch_add(1);
                    throw;
                }
            });
        },
        "Process interrupted by user.");
    EXPECT_EQ(stopped.load(), 3);
    EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
}

TEST(Parallel, MeanwhileRunsOnTheCallerWhileTasksRun) {
    // The tasks wait for the caller's work, which waits for every task to have started.
    constexpr std::size_t count = 3;
    std::latch started(count);
    std::atomic<bool> released{false};
    std::thread::id meanwhile_thread;
    const auto seen = Parallel::run_seeded(
        count,
        [&](std::size_t) {
            started.count_down();
            while (!released.load()) std::this_thread::yield();
            return true;
        },
        [&] {
            meanwhile_thread = std::this_thread::get_id();
            started.wait();
            released = true;
        });
    EXPECT_EQ(seen, std::vector<bool>(count, true));
    EXPECT_EQ(meanwhile_thread, std::this_thread::get_id());
}

TEST(Parallel, AThrowingMeanwhileLeavesAfterEveryTask) {
    std::atomic<int> finished{0};
    expect_throw_message<std::runtime_error>(
        [&] {
            Parallel::run(
                3,
                [&](std::size_t) {
                    std::this_thread::sleep_for(20ms);
                    finished.fetch_add(1);
                },
                [] { throw std::runtime_error("poll"); });
        },
        "poll");
    EXPECT_EQ(finished.load(), 3);
}
