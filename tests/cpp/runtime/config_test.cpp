#include "runtime/config.h"

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
    EXPECT_EQ(max_thread_count(cfg), 3u);
    // -1 stored from Python must not become zero or four billion threads.
    cfg.compute_max_thread_count = 4294967295u;
    EXPECT_EQ(max_thread_count(cfg), hardware);
}
