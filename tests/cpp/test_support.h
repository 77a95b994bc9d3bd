#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "runtime/config.h"
#include "runtime/interrupt_signal_handler.h"
#include "states/fock_state.h"

// Helpers shared by the C++ tests.
namespace test_support {

using Counts = std::vector<int>;

// Every count vector of m modes holding n photons, in descending lexicographic order: the
// reference for the natural order, built without FockState::increment.
inline std::vector<Counts> all_counts(int m, int n) {
    std::vector<Counts> states;
    if (m == 0) {
        if (n == 0) states.emplace_back();
        return states;
    }
    Counts counts(static_cast<std::size_t>(m), 0);
    std::function<void(int, int)> fill = [&](int mode, int left) {
        if (mode == m - 1) {
            counts[static_cast<std::size_t>(mode)] = left;
            states.push_back(counts);
            return;
        }
        for (int c = left; c >= 0; --c) {
            counts[static_cast<std::size_t>(mode)] = c;
            fill(mode + 1, left - c);
        }
    };
    fill(0, n);
    return states;
}

template <typename Exception>
void expect_throw_message(const std::function<void()>& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const Exception& e) {
        EXPECT_EQ(e.what(), message);
    }
}

// Sets the configured thread count for the scope of a test.
class ThreadCount {
  public:
    explicit ThreadCount(std::uint32_t count) : saved_(config.compute_max_thread_count) {
        config.compute_max_thread_count = count;
    }
    ~ThreadCount() { config.compute_max_thread_count = saved_; }

  private:
    std::uint32_t saved_;
};

// A Ctrl-C caught during a long call: for the scope of a test, SIGINT is caught and has set the
// interrupt flag; the flag is cleared and SIGINT given back at the end.
class CtrlC {
  public:
    CtrlC() { std::raise(SIGINT); }
    ~CtrlC() { InterruptSignalHandler::interrupted = false; }

  private:
    InterruptSignalHandler::ScopedHandler scope_;
};

// Captures what is logged on one channel ("General", "Resources", "User"), then puts the
// previous logger back. A level, when given, replaces the logger's default one.
class ChannelLog {
  public:
    explicit ChannelLog(std::string channel, std::string pattern = "[%l] %v",
                        std::optional<spdlog::level::level_enum> level = std::nullopt)
        : channel_(std::move(channel)), previous_(spdlog::get(channel_)) {
        spdlog::drop(channel_);
        auto logger = std::make_shared<spdlog::logger>(
            channel_, std::make_shared<spdlog::sinks::ostream_sink_mt>(out_));
        logger->set_pattern(pattern);
        if (level) logger->set_level(*level);
        spdlog::register_logger(logger);
    }
    ~ChannelLog() {
        spdlog::drop(channel_);
        if (previous_) spdlog::register_logger(previous_);
    }
    std::string text() const { return out_.str(); }
    // What was logged since the last take.
    std::string take() {
        std::string text = out_.str();
        out_.str("");
        return text;
    }

  private:
    std::string channel_;
    std::shared_ptr<spdlog::logger> previous_;
    std::ostringstream out_;
};

class UserLog : public ChannelLog {
  public:
    UserLog() : ChannelLog("User") {}
};

}  // namespace test_support
