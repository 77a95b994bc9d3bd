#include "runtime/memory_limit.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

namespace MemoryLimit {

std::uint64_t usable_bytes() {
    std::uint64_t bytes = std::numeric_limits<std::uint64_t>::max();
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && page_size > 0)
        bytes = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        bytes = std::min(bytes, static_cast<std::uint64_t>(limit.rlim_cur));
    return bytes;
}

void check_fits(double bytes, std::string_view what) {
    const std::uint64_t usable = usable_bytes();
    // Written so that a NaN estimate is refused too.
    if (bytes <= static_cast<double>(usable)) return;
    throw std::length_error(
        fmt::format("{} need about {:.3g} GB, more than the {:.3g} GB of memory available", what,
                    bytes / 1e9, static_cast<double>(usable) / 1e9));
}

}  // namespace MemoryLimit
