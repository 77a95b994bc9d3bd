#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "backends/clifford2017.h"
#include "backends/slap_sampler.h"
#include "backends/slos_v3.h"
#include "haar_unitary.h"
#include "runtime/config.h"
#include "runtime/matrix.h"
#include "runtime/rng.h"
#include "states/fock_state.h"

// Samples per second of three perfect samplers on one thread, one photon in each of n = m modes
// of a Haar-random unitary, batches of `batch` samples: the SLAP sampler, Clifford & Clifford,
// and draws from SLOS_V3's exact distribution (computed anew for each batch).
namespace {

using test_support::haar_unitary;

FockState ones(int n) {
    return FockState(std::vector<int>(static_cast<std::size_t>(n), 1));
}

void finish(benchmark::State& state, int batch) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}

void BM_SLAPSamplerBatch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), batch = static_cast<int>(state.range(1));
    Backend::SLAPSampler sampler;
    sampler.setUnitary(haar_unitary(n, 1));
    const FockState input = ones(n);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(sampler.generateSamples(input, batch).data());
    finish(state, batch);
}

void BM_Clifford2017Batch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), batch = static_cast<int>(state.range(1));
    const Config saved = config;
    config.compute_max_thread_count = 1;
    Backend::Clifford2017 sampler;
    sampler.setUnitary(haar_unitary(n, 1));
    sampler.setInputState(ones(n));
    RNG::rng.seed(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(sampler.samples(static_cast<std::uint32_t>(batch)));
    finish(state, batch);
    config = saved;
}

void BM_SLOSV3ExactDrawsBatch(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), batch = static_cast<int>(state.range(1));
    const Matrix u = haar_unitary(n, 1);
    const FockState input = ones(n);
    RNG::rng.seed(1);
    std::vector<int> counts;
    for (auto _ : state) {
        Backend::SLOS_V3 slos;
        slos.setUnitary(u);
        slos.setInputState(input);
        const std::vector<double> p = slos.computeProbabilities();
        std::discrete_distribution<int> draw(p.begin(), p.end());
        counts.assign(p.size(), 0);
        for (int s = 0; s < batch; ++s) ++counts[static_cast<std::size_t>(draw(RNG::rng))];
        benchmark::DoNotOptimize(counts.data());
    }
    finish(state, batch);
}

void Sizes(benchmark::internal::Benchmark* b) {
    // Wall time: Clifford2017 samples on a task of its own even with one thread.
    b->ArgNames({"n", "batch"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (int batch : {1000, 100000})
        for (int n = 4; n <= 12; n += 2) b->Args({n, batch});
}

BENCHMARK(BM_SLAPSamplerBatch)->Apply(Sizes);
BENCHMARK(BM_Clifford2017Batch)->Apply(Sizes);
BENCHMARK(BM_SLOSV3ExactDrawsBatch)->Apply(Sizes);

}  // namespace
