#include "runtime/config.h"

#include <algorithm>
#include <limits>

#include "runtime/parallel.h"

Config config;

std::size_t max_thread_count(Config const& cfg) {
    const std::uint32_t configured = cfg.compute_max_thread_count;
    const std::size_t hardware = Parallel::hardware_threads();
    // A maximum: threads beyond what the hardware runs only cost their creation, and by the
    // thousand the system refuses them.
    if (configured != 0 &&
        configured <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        return std::min<std::size_t>(configured, hardware);
    return hardware;
}
