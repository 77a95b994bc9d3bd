#include <benchmark/benchmark.h>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"

// The interrupt poll sits at the head of inner loops: it must cost about a load.
static void BM_InterruptPoll(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(InterruptSignalHandler::is_interrupted());
}
BENCHMARK(BM_InterruptPoll);

static void BM_ThreadLocalRng(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(RNG::rng());
}
BENCHMARK(BM_ThreadLocalRng);
