#include "allocation_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

// These replacements apply to the whole benchmark binary: every benchmark allocates through them.
// Only the plain allocation forms are replaced: the aligned ones keep their own pairing.
namespace {

std::atomic<bool> tracking{false};
// Signed: a block allocated before tracking may be freed while tracking.
std::atomic<long long> live_bytes{0};
std::atomic<long long> peak_bytes{0};

void* tracked_alloc(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    if (tracking.load(std::memory_order_relaxed)) {
        const long long now = live_bytes += static_cast<long long>(malloc_usable_size(p));
        long long peak = peak_bytes.load(std::memory_order_relaxed);
        while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
        }
    }
    return p;
}

void tracked_free(void* p) noexcept {
    if (p && tracking.load(std::memory_order_relaxed))
        live_bytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

}  // namespace

void start_counting_allocations() {
    live_bytes = 0;
    peak_bytes = 0;
    tracking = true;
}

double stop_counting_allocations() {
    tracking = false;
    return static_cast<double>(peak_bytes.load()) / (1 << 20);
}

void* operator new(std::size_t size) {
    return tracked_alloc(size);
}
void* operator new[](std::size_t size) {
    return tracked_alloc(size);
}
void operator delete(void* p) noexcept {
    tracked_free(p);
}
void operator delete[](void* p) noexcept {
    tracked_free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    tracked_free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    tracked_free(p);
}
