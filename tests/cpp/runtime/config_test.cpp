#include "runtime/config.h"

#include <algorithm>
#include <cstdint>
#include <thread>

#include <gtest/gtest.h>

TEST(Config, DefaultsAtLoad) {
    EXPECT_FALSE(config.use_single_precision);
    EXPECT_EQ(config.compute_max_thread_count, 0u);
    EXPECT_DOUBLE_EQ(config.unitary_check_precision, 1e-6);
}

TEST(Config, MaxThreadCount) {
    const std::size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    Config cfg;
    EXPECT_EQ(max_thread_count(cfg), hardware);
    cfg.compute_max_thread_count = 3;
    EXPECT_EQ(max_thread_count(cfg), std::min<std::size_t>(3, hardware));
    // -1 stored from Python must not become zero or four billion threads.
    cfg.compute_max_thread_count = 4294967295u;
    EXPECT_EQ(max_thread_count(cfg), hardware);
}

// The setting is a maximum: asking for more threads than the hardware runs gives the hardware's
// count, never thousands of threads.
TEST(Config, MaxThreadCountNeverExceedsTheHardware) {
    const std::uint32_t hardware = std::max(1u, std::thread::hardware_concurrency());
    Config cfg;
    for (std::uint32_t configured : {1u, hardware, hardware + 1, 100000u, 2147483647u}) {
        cfg.compute_max_thread_count = configured;
        EXPECT_EQ(max_thread_count(cfg), std::min(configured, hardware)) << configured;
    }
}
