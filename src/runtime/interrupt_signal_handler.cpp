#include "runtime/interrupt_signal_handler.h"

#include <cstddef>
#include <mutex>

#include "runtime/keyboard_interrupt_exception.h"

namespace InterruptSignalHandler {

std::atomic<bool> interrupted{false};

std::atomic<bool> catching{false};

std::atomic<bool> observed{false};

void throw_if_interrupted() {
    if (is_interrupted()) throw KeyboardInterruptException("Process interrupted by user.");
}

void Poll::interrupt() {
    observed.store(true, std::memory_order_relaxed);
    throw KeyboardInterruptException("Process interrupted by user.");
}

namespace {

// Guarded by scopes_mutex; a scope opens and closes once per long call, never in a hot loop.
std::mutex scopes_mutex;
std::size_t open_scopes = 0;
bool installed = false;
struct sigaction previous {};

// Calls the previous owner's handler as if SIGINT came now: the interpreter's then raises
// KeyboardInterrupt as soon as the call returns. A default or ignoring owner is left alone
// rather than ending the process for a signal that arrived while it was not in charge.
void hand_over_sigint(struct sigaction const& owner) {
    if ((owner.sa_flags & SA_SIGINFO) != 0) {
        if (owner.sa_sigaction == nullptr) return;
        siginfo_t info{};
        info.si_signo = SIGINT;
        owner.sa_sigaction(SIGINT, &info, nullptr);
    } else if (owner.sa_handler != SIG_DFL && owner.sa_handler != SIG_IGN) {
        owner.sa_handler(SIGINT);
    }
}

}  // namespace

ScopedHandler::ScopedHandler() {
    const std::lock_guard lock(scopes_mutex);
    if (open_scopes++ > 0) return;
    interrupted.exchange(false);
    observed.store(false);
    struct sigaction action {};
    action.sa_handler = handleInterruptSignal;
    sigemptyset(&action.sa_mask);
    installed = sigaction(SIGINT, &action, &previous) == 0;
    catching.store(installed);
}

ScopedHandler::~ScopedHandler() {
    const std::lock_guard lock(scopes_mutex);
    if (--open_scopes > 0) return;
    catching.store(false);
    if (!installed) return;
    sigaction(SIGINT, &previous, nullptr);
    if (interrupted.load() && !observed.load()) hand_over_sigint(previous);
}

}  // namespace InterruptSignalHandler

extern "C" void handleInterruptSignal(int signal_number) {
    if (signal_number == SIGINT) InterruptSignalHandler::interrupted.exchange(true);
}
