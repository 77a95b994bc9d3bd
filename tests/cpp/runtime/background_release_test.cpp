#include "runtime/background_release.h"

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

namespace {

using InterruptSignalHandler::ReleaseWorker;

// Notes the thread that destroys it; `size` as large as a long call's container.
struct Tracked {
    std::atomic<int>* freed;
    std::thread::id* freed_on;
    bool owner = true;

    Tracked(std::atomic<int>* f, std::thread::id* on) : freed(f), freed_on(on) {}
    Tracked(Tracked&& other) noexcept
        : freed(other.freed), freed_on(other.freed_on), owner(std::exchange(other.owner, false)) {}
    ~Tracked() {
        if (!owner) return;
        *freed_on = std::this_thread::get_id();
        freed->fetch_add(1);
    }
    std::size_t size() const { return owner ? std::size_t{1} << 20 : 0; }
};

bool freed_within_a_minute(std::atomic<int> const& freed, int count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (freed.load() < count && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return freed.load() == count;
}

}  // namespace

TEST(ReleaseWorker, TakesOwnershipFreesOnItsThreadAndJoinsAfterFreeingEverything) {
    std::atomic<int> freed{0};
    std::thread::id freed_on;
    std::vector<int> buffer(1000, 7);
    {
        ReleaseWorker worker;
        Tracked tracked(&freed, &freed_on);
        worker.release(std::move(tracked));
        EXPECT_FALSE(tracked.owner);
        worker.release(std::move(buffer));
        EXPECT_TRUE(buffer.empty());
        ASSERT_TRUE(freed_within_a_minute(freed, 1));
        EXPECT_NE(freed_on, std::this_thread::get_id());
        // Handed over just before the end: the destructor waits until they are freed.
        for (int i = 0; i < 100; ++i) worker.release(Tracked(&freed, &freed_on));
    }
    EXPECT_EQ(freed.load(), 101);
}

// A thread that cannot start (no memory for its stack) leaves the value to the caller.
TEST(ReleaseWorker, FreesOnTheCallerWhenNoThreadStarts) {
    pthread_attr_t defaults;
    ASSERT_EQ(pthread_getattr_default_np(&defaults), 0);
    pthread_attr_t huge_stack;
    pthread_attr_init(&huge_stack);
    pthread_attr_setstacksize(&huge_stack, std::size_t{1} << 46);
    ASSERT_EQ(pthread_setattr_default_np(&huge_stack), 0);
    std::atomic<int> freed{0};
    std::thread::id freed_on;
    {
        ReleaseWorker worker;
        worker.release(Tracked(&freed, &freed_on));
        EXPECT_EQ(freed.load(), 1);
        EXPECT_EQ(freed_on, std::this_thread::get_id());
    }
    ASSERT_EQ(pthread_setattr_default_np(&defaults), 0);
    pthread_attr_destroy(&huge_stack);
    pthread_attr_destroy(&defaults);
}

// What an interrupted call built goes to the worker; otherwise the caller frees it.
TEST(ReleaseWorker, OnlyAnInterruptionHandsALargeContainerOver) {
    std::atomic<int> freed{0};
    std::thread::id freed_on;
    const auto unwind = [&](auto make_exception, bool ctrl_c) {
        try {
            Tracked tracked(&freed, &freed_on);
            const InterruptSignalHandler::ReleaseOnInterrupt release(tracked);
            if (ctrl_c) InterruptSignalHandler::interrupted = true;
            throw make_exception();
        } catch (...) {
        }
        InterruptSignalHandler::interrupted = false;
    };
    const auto interruption = [] { return KeyboardInterruptException("interrupted"); };
    const auto failure = [] { return std::runtime_error("failed"); };
    unwind(failure, false);
    EXPECT_EQ(freed.load(), 1);
    EXPECT_EQ(freed_on, std::this_thread::get_id());
    unwind(interruption, true);
    ASSERT_TRUE(freed_within_a_minute(freed, 2));
    EXPECT_NE(freed_on, std::this_thread::get_id());
}

// The hostile tests fork and exec interpreters: a child forked while the shared worker's thread
// runs must neither deadlock nor wait for its parent's thread, and frees with a thread of its own.
TEST(ReleaseWorker, AForkedChildStartsItsOwnThread) {
    std::atomic<int> freed{0};
    std::thread::id freed_on;
    ReleaseWorker::shared().release(Tracked(&freed, &freed_on));
    ASSERT_TRUE(freed_within_a_minute(freed, 1));
    for (int round = 0; round < 20; ++round) {
        // Keep the thread busy across some forks.
        for (int i = 0; i < 50; ++i) ReleaseWorker::shared().release(std::vector<int>(1 << 12));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::atomic<int> child_freed{0};
            ReleaseWorker::shared().release(Tracked(&child_freed, &freed_on));
            _exit(freed_within_a_minute(child_freed, 1) && freed_on != std::this_thread::get_id()
                      ? 0
                      : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "round " << round;
    }
}
