#include "runtime/interrupt_signal_handler.h"

#include "runtime/keyboard_interrupt_exception.h"

namespace InterruptSignalHandler {

std::atomic<bool> interrupted{false};

void throw_if_interrupted() {
    if (interrupted.load()) throw KeyboardInterruptException("Process interrupted by user.");
}

ScopedHandler::ScopedHandler() {
    interrupted.exchange(false);
    struct sigaction action{};
    action.sa_handler = handleInterruptSignal;
    sigemptyset(&action.sa_mask);
    installed_ = sigaction(SIGINT, &action, &previous_) == 0;
}

ScopedHandler::~ScopedHandler() {
    if (installed_) sigaction(SIGINT, &previous_, nullptr);
}

}  // namespace InterruptSignalHandler

extern "C" void handleInterruptSignal(int signal_number) {
    if (signal_number == SIGINT) InterruptSignalHandler::interrupted.exchange(true);
}
