#include "runtime/progress_poller.h"

#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/interrupt_signal_handler.h"

namespace {

using Calls = std::vector<std::pair<double, std::string>>;

ProgressPoller::Callback recording(Calls& calls, std::size_t cancel_at) {
    return [&calls, cancel_at](double p, std::string const& text) {
        calls.emplace_back(p, text);
        return calls.size() == cancel_at;
    };
}

}  // namespace

TEST(ProgressPollerTest, ReportsUntilTheRunEnds) {
    Calls calls;
    int polls = 0;
    ProgressPoller::poll(
        recording(calls, 0), 1, [&] { return polls < 3; }, [&] { return ++polls / 4.0; });
    EXPECT_EQ(calls, (Calls{{0.0, "Sampling..."},
                            {0.25, "Sampling..."},
                            {0.5, "Sampling..."},
                            {0.75, "Sampling..."}}));
    EXPECT_FALSE(InterruptSignalHandler::is_interrupted());
}

TEST(ProgressPollerTest, ACancelSetsTheFlagAndEndsThePolls) {
    Calls calls;
    ProgressPoller::poll(
        recording(calls, 2), 1, [] { return true; }, [] { return 0.5; });
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(InterruptSignalHandler::is_interrupted());
    InterruptSignalHandler::interrupted = false;
}

TEST(ProgressPollerTest, APendingInterruptEndsThePollsWithoutACall) {
    Calls calls;
    InterruptSignalHandler::interrupted = true;
    ProgressPoller::poll(
        recording(calls, 0), 1, [] { return true; }, [] { return 0.5; });
    InterruptSignalHandler::interrupted = false;
    EXPECT_EQ(calls, (Calls{{0.0, "Sampling..."}}));
}

// A finished run is noticed within a slice, not at the end of a long interval.
TEST(ProgressPollerTest, ARunEndingEarlyIsNotHeldForTheInterval) {
    Calls calls;
    std::atomic<bool> running = true;
    const auto start = std::chrono::steady_clock::now();
    ProgressPoller::poll(
        recording(calls, 0), 60'000,
        [&] {
            if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(50))
                running = false;
            return running.load();
        },
        [] { return 1.0; });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(calls.size(), 2u);
}
