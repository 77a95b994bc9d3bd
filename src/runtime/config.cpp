#include "runtime/config.h"

#include <limits>

#include "runtime/parallel.h"

Config config;

std::size_t max_thread_count(Config const& cfg) {
    const std::uint32_t configured = cfg.compute_max_thread_count;
    if (configured != 0 && configured <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return configured;
    return Parallel::hardware_threads();
}
