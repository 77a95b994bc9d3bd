#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>

namespace InterruptSignalHandler {

// Set by the SIGINT handler, cleared when a long operation starts.
extern std::atomic<bool> interrupted;

// True while a ScopedHandler has the SIGINT handler installed. At other times SIGINT goes to its
// previous owner, so a set flag is a leftover of an earlier call.
extern std::atomic<bool> catching;

// Set once code under a scope has seen the flag set, and so ends or cuts short its work. A
// Ctrl-C that no code saw is handed to the previous owner when the last scope closes, so that it
// is not lost when it came after the call's last poll.
extern std::atomic<bool> observed;

inline bool is_interrupted() {
    if (!interrupted.load()) return false;
    observed.store(true, std::memory_order_relaxed);
    return true;
}

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

// For long loops whose steps are cheap and that may also run outside any scope (enumerations
// used by other native code): counts steps and, once every `period`, throws
// KeyboardInterruptException("Process interrupted by user.") when the flag is set while a scope
// catches SIGINT. A leftover flag never stops a loop that no scope covers.
class Poll {
  public:
    explicit Poll(std::uint32_t period = 4096)
        : period_(period == 0 ? 1 : period), left_(period_) {}

    void operator()() {
        if (--left_ != 0) return;
        check();
    }
    // Counts `steps` steps at once, for loops whose passes differ widely in cost.
    void operator()(std::size_t steps) {
        if (left_ > steps) {
            left_ -= static_cast<std::uint32_t>(steps);
            return;
        }
        check();
    }

  private:
    void check() {
        left_ = period_;
        if (catching.load(std::memory_order_relaxed) && interrupted.load(std::memory_order_relaxed))
            interrupt();
    }

    [[noreturn]] static void interrupt();

    std::uint32_t period_;
    std::uint32_t left_;
};

}  // namespace InterruptSignalHandler

// The SIGINT handler: async-signal-safe, it only sets the flag.
extern "C" void handleInterruptSignal(int signal_number);
