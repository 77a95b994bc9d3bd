#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

// A file path of the test's own under the test temporary directory, removed at the end.
class TempPath {
  public:
    explicit TempPath(const std::string& name)
        : path_(std::filesystem::path(testing::TempDir()) /
                (std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                 name)) {}
    ~TempPath() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& operator*() const { return path_; }

  private:
    std::filesystem::path path_;
};
