#include "runtime/rng.h"

namespace RNG {

thread_local std::mt19937 rng;

std::vector<std::uint32_t> draw_task_seeds(std::size_t count) {
    std::vector<std::uint32_t> seeds(count);
    for (auto& seed : seeds) seed = static_cast<std::uint32_t>(rng());
    return seeds;
}

namespace {

struct SeedLoadingThread {
    SeedLoadingThread() {
        std::random_device device("default");
        rng.seed(device());
    }
};

const SeedLoadingThread seed_loading_thread;

}  // namespace

}  // namespace RNG
