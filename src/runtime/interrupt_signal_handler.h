#pragma once

#include <atomic>
#include <csignal>

namespace InterruptSignalHandler {

// Set by the SIGINT handler, cleared when a long operation starts.
extern std::atomic<bool> interrupted;

inline bool is_interrupted() { return interrupted.load(); }

// Throws KeyboardInterruptException("Process interrupted by user.") when the flag is set.
void throw_if_interrupted();

// Clears the flag and installs handleInterruptSignal for SIGINT for the lifetime of the scope,
// then gives SIGINT back to whoever had it (the interpreter), so Ctrl-C keeps working in pure
// Python code after a long native call returns or throws.
class ScopedHandler {
public:
    ScopedHandler();
    ~ScopedHandler();
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;

private:
    struct sigaction previous_{};
    bool installed_ = false;
};

}  // namespace InterruptSignalHandler

// The SIGINT handler: async-signal-safe, it only sets the flag.
extern "C" void handleInterruptSignal(int signal_number);
