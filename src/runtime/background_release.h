#pragma once

#include <cstddef>
#include <exception>
#include <thread>
#include <utility>

#include "runtime/interrupt_signal_handler.h"

namespace InterruptSignalHandler {

// Holds a container a long call fills. When Ctrl-C ends the call, what it built is freed on a
// thread of its own instead of by the unwinding, which takes seconds for tens of millions of
// entries: the call gives control back at once and the memory follows. The thread owns the
// container alone and reads nothing else, so it need not be joined. Smaller containers, and
// exceptions other than an interruption, are freed as usual.
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
        try {
            std::thread([gone = std::move(held_)] {}).detach();
        } catch (...) {
            // No thread to spare: the container, moved into the lost callable, is freed here.
        }
    }

  private:
    static constexpr std::size_t large = std::size_t{1} << 16;

    Container& held_;
    int exceptions_;
};

}  // namespace InterruptSignalHandler
