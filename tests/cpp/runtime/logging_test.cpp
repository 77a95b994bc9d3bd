#include "runtime/logging.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::filesystem::path temp_log(const char* name) {
    auto dir =
        std::filesystem::temp_directory_path() / ("orbandile_log_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir / name;
}

// Logging is process-wide state: each test starts from the state of a fresh process (nothing
// initialised, no SPDLOG_LEVEL) and leaves it so, in whatever order the tests run.
class LoggingTest : public testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

  private:
    static void reset() {
        ::unsetenv("SPDLOG_LEVEL");
        for (const char* name : {"General", "Resources", "User"}) spdlog::drop(name);
        Logging::sink_console.reset();
        Logging::sink_file.reset();
        spdlog::set_level(spdlog::level::info);
    }
};

}  // namespace

TEST_F(LoggingTest, SilentBeforeInitialize) {
    testing::internal::CaptureStdout();
    Logging::log(Logging::general, spdlog::level::err, "dropped {}", 1);
    Logging::enableConsole();
    Logging::setLevel(Logging::user, spdlog::level::debug);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(LoggingTest, ConsoleIsOffUntilEnabledAndUsesShortPattern) {
    Logging::initialize("");
    testing::internal::CaptureStdout();
    Logging::log(Logging::general, spdlog::level::info, "hidden");
    Logging::enableConsole();
    Logging::log(Logging::user, spdlog::level::warn, "{}", "shown {braces}");
    Logging::log(Logging::general, spdlog::level::debug, "below the level");
    Logging::initialize("ignored.log");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[warning] shown {braces}\n"
              "[error] initialize was already called before, ignoring this call\n");
    EXPECT_FALSE(std::filesystem::exists("ignored.log"));
}

TEST_F(LoggingTest, InitializeHonoursGivenLevelThenEnvironment) {
    ::setenv("SPDLOG_LEVEL", "Resources=err", 1);
    Logging::initialize("", spdlog::level::debug);
    EXPECT_EQ(spdlog::get("General")->level(), spdlog::level::debug);
    EXPECT_EQ(spdlog::get("User")->level(), spdlog::level::debug);
    EXPECT_EQ(spdlog::get("Resources")->level(), spdlog::level::err);
    Logging::setLevel(Logging::general, spdlog::level::critical);
    EXPECT_EQ(spdlog::get("General")->level(), spdlog::level::critical);
    EXPECT_EQ(spdlog::get("User")->level(), spdlog::level::debug);
}

TEST_F(LoggingTest, FileLinesCarryChannelLetter) {
    const auto path = temp_log("file.log");
    Logging::initialize(path.string());
    Logging::log(Logging::general, spdlog::level::info, "before enabling");
    Logging::enableFile();
    Logging::log(Logging::general, spdlog::level::info, "general");
    Logging::log(Logging::resources, spdlog::level::err, "resources");
    Logging::log(Logging::user, spdlog::level::warn, "user {}", 3u);
    std::istringstream text(read_file(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    // "[YYYY-MM-DD HH:MM:SS.mmm]" is 25 characters; the channel letter follows it.
    const std::vector<std::string> tails{" [I] general", "R[E] resources", "U[W] user 3"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_GE(lines[i].size(), 25u);
        EXPECT_EQ(lines[i].front(), '[');
        EXPECT_EQ(lines[i][11], ' ');
        EXPECT_EQ(lines[i][20], '.');
        EXPECT_EQ(lines[i][24], ']');
        EXPECT_EQ(lines[i].substr(25), tails[i]);
    }
    std::filesystem::remove_all(path.parent_path());
}

TEST_F(LoggingTest, FailedFileOpenLeavesLoggingUsable) {
    // A regular file standing where a directory should be: the file cannot be opened.
    const auto blocker = temp_log("not-a-dir");
    std::ofstream(blocker) << "x";
    EXPECT_THROW(Logging::initialize((blocker / "x.log").string()), std::exception);
    EXPECT_EQ(spdlog::get("General"), nullptr);
    Logging::initialize("");
    EXPECT_NE(spdlog::get("General"), nullptr);
    testing::internal::CaptureStdout();
    Logging::enableConsole();
    Logging::log(Logging::general, spdlog::level::info, "recovered");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[info] recovered\n");
    std::filesystem::remove_all(blocker.parent_path());
}

TEST_F(LoggingTest, ChannelsOutsideTheEnumerationAreHeldThenRefused) {
    // The binding layer stores a channel built from any 32-bit unsigned value and loads it back;
    // under the undefined-behaviour sanitizer that load fails unless the type holds them all.
    for (const unsigned int bad : {4u, 256u, 4294967295u}) {
        const auto stored = std::make_unique<Logging::Channel>(static_cast<Logging::Channel>(bad));
        EXPECT_THROW(Logging::channel_name(*stored), std::invalid_argument) << bad;
    }
}

TEST_F(LoggingTest, RefusesValuesOutsideTheEnumerations) {
    const auto channel = [](int value) { return static_cast<Logging::Channel>(value); };
    const auto level = [](int value) { return static_cast<spdlog::level::level_enum>(value); };
    const auto expect_refused = [&] {
        for (const int bad : {-1, 3, 1000000}) {
            EXPECT_THROW(Logging::log(channel(bad), spdlog::level::info, "x"),
                         std::invalid_argument)
                << bad;
            EXPECT_THROW(Logging::setLevel(channel(bad), spdlog::level::info),
                         std::invalid_argument)
                << bad;
        }
        for (const int bad : {-1, 7, 1000000}) {
            EXPECT_THROW(Logging::log(Logging::user, level(bad), "x"), std::invalid_argument)
                << bad;
            EXPECT_THROW(Logging::setLevel(Logging::user, level(bad)), std::invalid_argument)
                << bad;
        }
    };
    expect_refused();
    EXPECT_THROW(Logging::initialize("", level(7)), std::invalid_argument);
    EXPECT_EQ(spdlog::get("General"), nullptr);

    Logging::initialize("");
    expect_refused();
    EXPECT_EQ(spdlog::get("User")->level(), spdlog::level::info);
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { Logging::setLevel(channel(3), spdlog::level::info); },
        "invalid logging channel 3: the channels are 0 (general), 1 (resources) and 2 (user)");
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { Logging::log(Logging::general, level(7), "x"); },
        "invalid logging level 7: the levels run from 0 (trace) to 6 (off)");
}
