#include "runtime/logging.h"

#include <array>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <spdlog/cfg/helpers.h>
#include <spdlog/details/os.h>
#include <spdlog/pattern_formatter.h>

std::shared_ptr<spdlog::sinks::ansicolor_stdout_sink_mt> Logging::sink_console;
std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> Logging::sink_file;

namespace {

constexpr std::array<const char*, 3> channel_names{"General", "Resources", "User"};

// %N: a blank for the General channel, otherwise the channel's initial.
class formatter_short_name : public spdlog::custom_flag_formatter {
  public:
    void format(const spdlog::details::log_msg& msg, const std::tm&,
                spdlog::memory_buf_t& dest) override {
        const std::string_view name(msg.logger_name.data(), msg.logger_name.size());
        const char c = name == "General" ? ' ' : (name.empty() ? ' ' : name.front());
        dest.push_back(c);
    }
    std::unique_ptr<custom_flag_formatter> clone() const override {
        return spdlog::details::make_unique<formatter_short_name>();
    }
};

}  // namespace

const char* Logging::channel_name(Channel channel) {
    // The enumeration's own underlying type, so that no value wraps into the table's range.
    const auto index = static_cast<std::underlying_type_t<Channel>>(channel);
    if (std::cmp_less(index, 0) || std::cmp_greater_equal(index, channel_names.size()))
        throw std::invalid_argument(fmt::format(
            "invalid logging channel {}: the channels are 0 (general), 1 (resources) and 2 (user)",
            index));
    return channel_names[index];
}

void Logging::check_level(spdlog::level::level_enum level) {
    const auto value = static_cast<std::underlying_type_t<spdlog::level::level_enum>>(level);
    if (std::cmp_less(value, 0) ||
        std::cmp_greater_equal(value, static_cast<int>(spdlog::level::n_levels)))
        throw std::invalid_argument(fmt::format(
            "invalid logging level {}: the levels run from 0 (trace) to 6 (off)", value));
}

void Logging::initialize(const std::string& file_path, spdlog::level::level_enum level) {
    Config__Logging cfg;
    cfg.file_path = file_path;
    cfg.level = level;
    initialize_(cfg);
}

void Logging::initialize_(Config__Logging cfg) {
    check_level(cfg.level);
    if (sink_console) {
        if (auto logger = spdlog::get(channel_names[general]))
            logger->error("initialize was already called before, ignoring this call");
        return;
    }

    // Everything is built in locals first: a file that cannot be opened must leave the library
    // uninitialised, so that a later call can still succeed.
    auto console =
        std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(spdlog::color_mode::automatic);
    console->set_pattern(cfg.console_pattern);

    std::shared_ptr<spdlog::sinks::rotating_file_sink_mt> file;
    if (!cfg.file_path.empty()) {
        file = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            cfg.file_path, cfg.max_file_size, cfg.max_files, cfg.rotate_on_open);
        auto formatter = std::make_unique<spdlog::pattern_formatter>(
            spdlog::pattern_time_type::local, std::string("\n"));
        formatter->add_flag<formatter_short_name>('N').set_pattern(cfg.file_pattern);
        file->set_formatter(std::move(formatter));
    }

    std::vector<std::shared_ptr<spdlog::logger>> loggers;
    for (const char* name : channel_names) {
        std::vector<spdlog::sink_ptr> sinks{console};
        if (file) sinks.push_back(file);
        auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
        logger->set_level(cfg.level);
        logger->flush_on(spdlog::level::trace);
        loggers.push_back(std::move(logger));
    }

    // The base level string only sets spdlog's global default; the channels keep the caller's
    // level, which the environment variable may then override.
    if (!cfg.levels.empty()) configure(cfg.levels);
    for (auto& logger : loggers) {
        spdlog::drop(logger->name());
        spdlog::register_logger(logger);
    }
    sink_console = console;
    sink_file = file;

    cfg.console_enabled ? enableConsole() : disableConsole();
    cfg.file_enabled ? enableFile() : disableFile();

    // The caller's level holds unless the environment asks for another.
    if (!cfg.env_variable.empty()) configureFromEnvironmentVariable(cfg.env_variable);
}

void Logging::configure(const std::string& spec) {
    spdlog::cfg::helpers::load_levels(spec);
}

void Logging::configureFromEnvironmentVariable(const std::string& name) {
    const std::string value = spdlog::details::os::getenv(name.c_str());
    if (!value.empty()) configure(value);
}

void Logging::enableConsole() {
    if (sink_console) sink_console->set_level(spdlog::level::trace);
}

void Logging::disableConsole() {
    if (sink_console) sink_console->set_level(spdlog::level::off);
}

void Logging::enableFile() {
    if (sink_file) sink_file->set_level(spdlog::level::trace);
}

void Logging::disableFile() {
    if (sink_file) sink_file->set_level(spdlog::level::off);
}

void Logging::setLevel(Channel channel, spdlog::level::level_enum level) {
    const char* name = channel_name(channel);
    check_level(level);
    if (auto logger = spdlog::get(name)) logger->set_level(level);
}
