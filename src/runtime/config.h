#pragma once

#include <cstddef>
#include <cstdint>

// Library-wide settings; one instance, `config`, written only through the Python class Config.
struct Config {
    bool use_single_precision = false;
    // 0 means every hardware thread.
    std::uint32_t compute_max_thread_count = 0;
    double unitary_check_precision = 1e-6;
};

extern Config config;

// Number of tasks a parallel algorithm may start now: the configured count, never more than the
// hardware concurrency (Parallel::hardware_threads), which is also the count when the configured
// one is 0 or reads as negative (-1 stored from Python). The drivers start no more tasks than
// they have work for.
std::size_t max_thread_count(Config const& cfg = config);
