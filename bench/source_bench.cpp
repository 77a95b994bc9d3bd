#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "runtime/rng.h"
#include "simulators/source.h"

namespace {

// An imperfect source that uses every outcome: losses, additional photons told apart, partial
// indistinguishability.
const Source source(0.9, 0.03, 0.8, 0.1, true);

// n expected photons, one per mode.
FockState expected_input(int n) {
    return FockState(std::vector<int>(static_cast<std::size_t>(n), 1));
}

constexpr int draws = 10000;

}  // namespace

// The exact mixture, unpruned: up to 5^n noisy inputs.
static void BM_SourceGenerateDistribution(benchmark::State& state) {
    const FockState input = expected_input(static_cast<int>(state.range(0)));
    std::size_t size = 0;
    for (auto _ : state) {
        const auto d = source.generate_distribution(input, 0.0);
        size = d.size();
        benchmark::DoNotOptimize(size);
    }
    state.counters["inputs"] = static_cast<double>(size);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_SourceGenerateDistribution)
    ->ArgName("n")
    ->DenseRange(1, 8)
    ->Unit(benchmark::kMillisecond);

// Noisy inputs drawn per second, as tagged states.
static void BM_SourceSamplerNoisy(benchmark::State& state) {
    const auto sampler = source.create_sampler(expected_input(static_cast<int>(state.range(0))), 0);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(sampler.generate_samples(draws));
    state.SetItemsProcessed(state.iterations() * draws);
}
BENCHMARK(BM_SourceSamplerNoisy)->ArgName("n")->DenseRange(1, 8)->Unit(benchmark::kMillisecond);

// Noisy inputs drawn per second, as their separated groups.
static void BM_SourceSamplerSeparated(benchmark::State& state) {
    const auto sampler = source.create_sampler(expected_input(static_cast<int>(state.range(0))), 0);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(sampler.generate_separated_samples(draws));
    state.SetItemsProcessed(state.iterations() * draws);
}
BENCHMARK(BM_SourceSamplerSeparated)->ArgName("n")->DenseRange(1, 8)->Unit(benchmark::kMillisecond);
