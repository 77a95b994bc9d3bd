#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <spdlog/logger.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

// What Logging::initialize_ builds; Logging::initialize fills it with the library's defaults.
struct Config__Logging {
    bool console_enabled = false;
    std::string console_pattern = "[%l] %v";
    bool file_enabled = false;
    std::string file_path;
    std::string file_pattern = "[%Y-%m-%d %H:%M:%S.%e]%N[%L] %v";
    bool rotate_on_open = false;
    std::uint64_t max_file_size = 1048576;
    std::uint64_t max_files = 5;
    spdlog::level::level_enum level = spdlog::level::info;
    std::string env_variable = "SPDLOG_LEVEL";
    std::string levels = "=info";
};

// Three named channels over spdlog, sharing one console sink and an optional rotating file.
// Until initialize has run, every call is a silent no-op.
class Logging {
  public:
    // A fixed underlying type: Python builds a channel from any 32-bit unsigned value, and a value
    // outside the range of an enumeration without one is undefined to hold before any check.
    enum Channel : unsigned int { general = 0, resources = 1, user = 2 };

    Logging() = delete;

    // Both throw std::invalid_argument for a value outside the enumeration (Python can build any).
    static const char* channel_name(Channel channel);
    static void check_level(spdlog::level::level_enum level);

    static void initialize(const std::string& file_path,
                           spdlog::level::level_enum level = spdlog::level::info);
    static void initialize_(Config__Logging cfg);

    // Levels written in spdlog's text form, e.g. "debug" or "General=err,User=off".
    static void configure(const std::string& spec);
    static void configureFromEnvironmentVariable(const std::string& name);

    static void enableConsole();
    static void disableConsole();
    static void enableFile();
    static void disableFile();
    static void setLevel(Channel channel, spdlog::level::level_enum level);

    template <typename... Args>
    static void log(Channel channel, spdlog::level::level_enum level,
                    spdlog::format_string_t<Args...> format, Args&&... args) {
        const char* name = channel_name(channel);
        check_level(level);
        if (auto logger = spdlog::get(name))
            logger->log(level, format, std::forward<Args>(args)...);
    }

    static std::shared_ptr<spdlog::sinks::ansicolor_stdout_sink_mt> sink_console;
    static std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> sink_file;
};
