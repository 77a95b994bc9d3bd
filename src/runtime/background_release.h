#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include "runtime/interrupt_signal_handler.h"

namespace InterruptSignalHandler {

// One thread that destroys what it is handed, in order, so that a call gives control back before
// a container of tens of millions of entries is freed, which takes seconds. Started on first use
// and joined by the destructor once everything handed over is freed. What cannot be handed over
// (no thread to start, no memory for the queue) is freed by the caller as usual.
class ReleaseWorker {
  public:
    ReleaseWorker() = default;
    ~ReleaseWorker();
    ReleaseWorker(ReleaseWorker const&) = delete;
    ReleaseWorker& operator=(ReleaseWorker const&) = delete;

    // The process's worker, joined at exit. A child forked while its thread runs starts a thread
    // of its own when it needs one; the child inherits no lock held at the fork.
    static ReleaseWorker& shared();

    // Takes `value` (moved from) for the thread to free.
    template <typename T>
    void release(T&& value) noexcept {
        static_assert(!std::is_lvalue_reference_v<T>, "release takes ownership: pass an rvalue");
        std::unique_ptr<Garbage> owned;
        try {
            owned = std::make_unique<Owned<T>>(std::move(value));
        } catch (...) {
            return;  // left with the caller, who frees it
        }
        hand_over(std::move(owned));
    }

  private:
    struct Garbage {
        virtual ~Garbage() = default;
    };
    template <typename T>
    struct Owned final : Garbage {
        explicit Owned(T&& v) : value(std::move(v)) {}
        T value;
    };

    void hand_over(std::unique_ptr<Garbage> garbage) noexcept;
    void run();
    static void before_fork();
    static void after_fork_in_parent();
    static void after_fork_in_child();

    std::mutex mutex_;
    // Behind pointers so that a forked child, where the thread does not exist, can drop them
    // without joining or waking a thread of its parent.
    std::unique_ptr<std::condition_variable> wake_ = std::make_unique<std::condition_variable>();
    std::unique_ptr<std::thread> thread_;
    std::deque<std::unique_ptr<Garbage>> queue_;
    bool stopping_ = false;
};

// Holds a container a long call fills. When Ctrl-C ends the call, what it built goes to the
// release worker instead of being freed by the unwinding. Smaller containers, and exceptions
// other than an interruption, are freed as usual.
template <typename Container>
class ReleaseOnInterrupt {
  public:
    explicit ReleaseOnInterrupt(Container& held)
        : held_(held), exceptions_(std::uncaught_exceptions()) {}
    ReleaseOnInterrupt(ReleaseOnInterrupt const&) = delete;
    ReleaseOnInterrupt& operator=(ReleaseOnInterrupt const&) = delete;

    ~ReleaseOnInterrupt() {
        if (std::uncaught_exceptions() <= exceptions_ || !is_interrupted() || held_.size() < large)
            return;
        ReleaseWorker::shared().release(std::move(held_));
    }

  private:
    static constexpr std::size_t large = std::size_t{1} << 16;

    Container& held_;
    int exceptions_;
};

}  // namespace InterruptSignalHandler
