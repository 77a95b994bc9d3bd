#include <benchmark/benchmark.h>

#include "fockspace/fs_array.h"
#include "fockspace/fs_map.h"

// Spaces of m modes in {8, 12, ..., 24} and n photons in {3, ..., 8}: from 120 states up to
// about 7.9 million (24 modes, 8 photons).
static void FockSpaceArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n"})
        ->ArgsProduct({{8, 12, 16, 20, 24}, {3, 4, 5, 6, 7, 8}})
        ->Unit(benchmark::kMillisecond);
}

// Counting and filling the flat code buffer.
static void BM_FsArrayGenerate(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    unsigned long long count = 0;
    for (auto _ : state) {
        const FsArray array(m, n);
        array.generate();
        count = array.count();
        benchmark::DoNotOptimize(array.get_buffer(count - 1));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
}
BENCHMARK(BM_FsArrayGenerate)->Apply(FockSpaceArgs);

// Walking the space with the lazy iterator, without a buffer.
static void BM_FsArrayLazyIteration(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const FsArray array(m, n);
    for (auto _ : state) {
        unsigned photons = 0;
        for (auto it = array.begin(); it != array.end(); ++it) photons += (*it).data()[0];
        benchmark::DoNotOptimize(photons);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * array.count()));
}
BENCHMARK(BM_FsArrayLazyIteration)->Apply(FockSpaceArgs);

// Building the link table from the (n-1)- to the n-photon layer, both buffers already built.
static void BM_FsMapGenerate(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const FsArray larger(m, n), smaller(m, n - 1);
    larger.generate();
    smaller.generate();
    for (auto _ : state) {
        const FsMap map(larger, smaller, true);
        benchmark::DoNotOptimize(map.get(0, 0));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * larger.count()));
}
BENCHMARK(BM_FsMapGenerate)->Apply(FockSpaceArgs);
