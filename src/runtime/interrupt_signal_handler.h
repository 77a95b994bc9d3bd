#pragma once

#include <atomic>
#include <csignal>

namespace InterruptSignalHandler {

// Set by the SIGINT handler, cleared when a long operation starts.
extern std::atomic<bool> interrupted;

inline bool is_interrupted() { return interrupted.load(); }

// Throws KeyboardInterruptException("Process interrupted by user.") when the flag is set.
void throw_if_interrupted();

// Installs handleInterruptSignal for SIGINT while at least one scope lives, then gives SIGINT
// back to whoever had it (the interpreter), so Ctrl-C keeps working in pure Python code after the
// long native calls return or throw. Overlapping scopes (calls from several threads) share one
// installation: the first to open installs and clears the flag, the last to close restores.
// Later scopes leave the flag alone, so that a Ctrl-C meant for a running call is not lost.
class ScopedHandler {
public:
    ScopedHandler();
    ~ScopedHandler();
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;
};

}  // namespace InterruptSignalHandler

// The SIGINT handler: async-signal-safe, it only sets the flag.
extern "C" void handleInterruptSignal(int signal_number);
