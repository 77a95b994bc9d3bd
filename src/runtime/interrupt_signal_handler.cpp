#include "runtime/interrupt_signal_handler.h"

#include <cstddef>
#include <mutex>

#include "runtime/keyboard_interrupt_exception.h"

namespace InterruptSignalHandler {

std::atomic<bool> interrupted{false};

std::atomic<bool> catching{false};

void throw_if_interrupted() {
    if (interrupted.load()) throw KeyboardInterruptException("Process interrupted by user.");
}

void Poll::interrupt() {
    throw KeyboardInterruptException("Process interrupted by user.");
}

namespace {

// Guarded by scopes_mutex; a scope opens and closes once per long call, never in a hot loop.
std::mutex scopes_mutex;
std::size_t open_scopes = 0;
bool installed = false;
struct sigaction previous {};

}  // namespace

ScopedHandler::ScopedHandler() {
    const std::lock_guard lock(scopes_mutex);
    if (open_scopes++ > 0) return;
    interrupted.exchange(false);
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
    if (installed) sigaction(SIGINT, &previous, nullptr);
}

}  // namespace InterruptSignalHandler

extern "C" void handleInterruptSignal(int signal_number) {
    if (signal_number == SIGINT) InterruptSignalHandler::interrupted.exchange(true);
}
