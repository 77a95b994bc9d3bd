#include "runtime/interrupt_signal_handler.h"

#include <csignal>
#include <memory>

#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

namespace {

std::atomic<int> previous_handler_calls{0};
extern "C" void count_signal(int) {
    previous_handler_calls.fetch_add(1);
}

}  // namespace

TEST(InterruptSignalHandler, OnlySigintSetsTheFlag) {
    InterruptSignalHandler::interrupted = false;
    handleInterruptSignal(SIGTERM);
    EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
    handleInterruptSignal(SIGINT);
    EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
    InterruptSignalHandler::interrupted = false;
}

TEST(InterruptSignalHandler, ScopeClearsFlagCatchesSigintAndRestoresPreviousHandler) {
    std::signal(SIGINT, count_signal);
    InterruptSignalHandler::interrupted = true;  // a stale Ctrl-C from before the call
    {
        InterruptSignalHandler::ScopedHandler scope;
        EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
        EXPECT_NO_THROW(InterruptSignalHandler::throw_if_interrupted());
        std::raise(SIGINT);
        EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
        EXPECT_EQ(previous_handler_calls.load(), 0);
        try {
            InterruptSignalHandler::throw_if_interrupted();
            ADD_FAILURE() << "no exception";
        } catch (const KeyboardInterruptException& e) {
            EXPECT_STREQ(e.what(), "Process interrupted by user.");
        }
    }
    // The flag stays set after the call; the previous owner gets SIGINT back.
    EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
    std::raise(SIGINT);
    EXPECT_EQ(previous_handler_calls.load(), 1);
    std::signal(SIGINT, SIG_DFL);
    InterruptSignalHandler::interrupted = false;
}

// A Ctrl-C after the call's last poll is not lost: the owner's handler gets it when the scope
// closes. One that a poll or a check saw ended the call already and is not sent again.
TEST(InterruptSignalHandler, UnseenCtrlCGoesToThePreviousOwnerWhenTheScopeCloses) {
    std::signal(SIGINT, count_signal);
    const auto calls_after_scope = [](auto const& body) {
        previous_handler_calls = 0;
        {
            InterruptSignalHandler::ScopedHandler scope;
            body();
        }
        return previous_handler_calls.load();
    };
    EXPECT_EQ(calls_after_scope([] { std::raise(SIGINT); }), 1);
    EXPECT_EQ(calls_after_scope([] {}), 0);
    EXPECT_EQ(calls_after_scope([] {
                  std::raise(SIGINT);
                  EXPECT_TRUE(InterruptSignalHandler::is_interrupted());
              }),
              0);
    EXPECT_EQ(calls_after_scope([] {
                  std::raise(SIGINT);
                  EXPECT_THROW(InterruptSignalHandler::throw_if_interrupted(),
                               KeyboardInterruptException);
              }),
              0);
    EXPECT_EQ(calls_after_scope([] {
                  std::raise(SIGINT);
                  InterruptSignalHandler::Poll poll(1);
                  EXPECT_THROW(poll(), KeyboardInterruptException);
              }),
              0);
    std::signal(SIGINT, SIG_DFL);
    InterruptSignalHandler::interrupted = false;
}

TEST(InterruptSignalHandler, ScopeRestoresHandlerWhenUnwinding) {
    std::signal(SIGINT, count_signal);
    previous_handler_calls = 0;
    EXPECT_THROW(
        {
            InterruptSignalHandler::ScopedHandler scope;
            throw std::runtime_error("failure inside a long call");
        },
        std::runtime_error);
    std::raise(SIGINT);
    EXPECT_EQ(previous_handler_calls.load(), 1);
    std::signal(SIGINT, SIG_DFL);
}

namespace {

bool ours_handles_sigint() {
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler == handleInterruptSignal;
}

}  // namespace

// Two calls from two threads overlap and the first one ends first: the interpreter's handler must
// come back when the last one ends, and a Ctrl-C during the first must still reach the second.
TEST(InterruptSignalHandler, OverlappingScopesInstallOnceAndRestoreAtTheLast) {
    std::signal(SIGINT, count_signal);
    previous_handler_calls = 0;
    InterruptSignalHandler::interrupted = true;  // stale
    auto first = std::make_unique<InterruptSignalHandler::ScopedHandler>();
    EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
    std::raise(SIGINT);
    auto second = std::make_unique<InterruptSignalHandler::ScopedHandler>();
    EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
    EXPECT_TRUE(ours_handles_sigint());
    first.reset();
    EXPECT_TRUE(ours_handles_sigint());
    second.reset();
    EXPECT_FALSE(ours_handles_sigint());
    // No code under either scope looked at the flag: the Ctrl-C went back to the owner.
    EXPECT_EQ(previous_handler_calls.load(), 1);
    std::raise(SIGINT);
    EXPECT_EQ(previous_handler_calls.load(), 2);

    // Once every scope has closed, the next first scope installs again and clears the stale flag.
    {
        InterruptSignalHandler::ScopedHandler again;
        EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
        EXPECT_TRUE(ours_handles_sigint());
    }
    std::raise(SIGINT);
    EXPECT_EQ(previous_handler_calls.load(), 3);
    std::signal(SIGINT, SIG_DFL);
    InterruptSignalHandler::interrupted = false;
}

// Enumerations also run outside any scope, for other native code: there a flag left over from an
// earlier call must not stop them.
TEST(InterruptSignalHandler, PollChecksOncePerPeriodAndOnlyWhileAScopeCatches) {
    InterruptSignalHandler::interrupted = true;
    InterruptSignalHandler::Poll idle(2);
    for (int i = 0; i < 10; ++i) EXPECT_NO_THROW(idle());
    {
        test_support::CtrlC ctrl_c;
        InterruptSignalHandler::Poll poll(3);
        for (int round = 0; round < 2; ++round) {
            EXPECT_NO_THROW(poll());
            EXPECT_NO_THROW(poll());
            test_support::expect_throw_message<KeyboardInterruptException>(
                [&] { poll(); }, "Process interrupted by user.");
        }
        InterruptSignalHandler::Poll every_step(0);
        EXPECT_THROW(every_step(), KeyboardInterruptException);
        // Steps counted at once: a pass of two steps, then one more, ends the period.
        InterruptSignalHandler::Poll weighted(3);
        EXPECT_NO_THROW(weighted(std::size_t{2}));
        EXPECT_THROW(weighted(std::size_t{1}), KeyboardInterruptException);
        EXPECT_THROW(weighted(std::size_t{1} << 40), KeyboardInterruptException);
    }
    InterruptSignalHandler::interrupted = true;
    EXPECT_NO_THROW(idle());
    EXPECT_NO_THROW(idle());
    InterruptSignalHandler::interrupted = false;
}
