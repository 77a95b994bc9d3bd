#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace RNG {

// One engine per thread: seed 5489 on first use, except the loading thread, which is seeded
// from a random device when the library loads.
extern thread_local std::mt19937 rng;

// Seeds for `count` parallel tasks, drawn in task order from the calling thread's engine before
// any task starts, so that seeded runs do not depend on scheduling. Each task reseeds its own
// thread's engine with its seed first thing.
std::vector<std::uint32_t> draw_task_seeds(std::size_t count);

}  // namespace RNG
