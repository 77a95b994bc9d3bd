#include "runtime/background_release.h"

#include <pthread.h>

namespace InterruptSignalHandler {

ReleaseWorker::~ReleaseWorker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_->notify_one();
    if (thread_) thread_->join();
}

ReleaseWorker& ReleaseWorker::shared() {
    static ReleaseWorker worker;
    static const bool fork_handlers =
        pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) == 0;
    (void)fork_handlers;
    return worker;
}

void ReleaseWorker::hand_over(std::unique_ptr<Garbage> garbage) noexcept {
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    try {
        if (!thread_) thread_ = std::make_unique<std::thread>([this] { run(); });
        queue_.push_back(std::move(garbage));
    } catch (...) {
        lock.unlock();
        return;  // `garbage` is freed here
    }
    lock.unlock();
    wake_->notify_one();
}

void ReleaseWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_->wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        std::unique_ptr<Garbage> garbage = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        garbage.reset();
        lock.lock();
    }
}

// Held across the fork, so that the child's copy of the queue is whole and its lock free.
void ReleaseWorker::before_fork() {
    shared().mutex_.lock();
}

void ReleaseWorker::after_fork_in_parent() {
    shared().mutex_.unlock();
}

void ReleaseWorker::after_fork_in_child() {
    ReleaseWorker& worker = shared();
    // The parent's thread does not exist here: its handle is dropped unjoined, and the condition
    // variable it may wait on replaced. The next hand-over starts the child's own thread, which
    // also frees the inherited queue.
    (void)worker.thread_.release();
    (void)worker.wake_.release();
    worker.wake_ = std::make_unique<std::condition_variable>();
    worker.mutex_.unlock();
}

}  // namespace InterruptSignalHandler
