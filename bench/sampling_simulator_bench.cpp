#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "backends/clifford2017.h"
#include "haar_unitary.h"
#include "runtime/config.h"
#include "runtime/matrix.h"
#include "runtime/parallel.h"
#include "runtime/rng.h"
#include "simulators/sampling_simulator.h"
#include "simulators/source.h"

namespace {

using test_support::haar_unitary;

// Over m modes (the source fills the first n), two heralds expecting no photon on the last modes
// and a post-selection on the first two: the setup of a heralded experiment.
simulators::SamplingSimulator heralded_experiment(int m) {
    auto sampler = std::make_shared<Backend::Clifford2017>();
    sampler->setUnitary(haar_unitary(m, 1));
    simulators::SamplingSimulator sim(sampler);
    sim.heralds = {{static_cast<unsigned char>(m - 2), 0}, {static_cast<unsigned char>(m - 1), 0}};
    sim.postselect = PostSelect("[0,1] < 2");
    sim.min_photons_filter = 1;
    return sim;
}

FockState first_modes(int n, int m) {
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    std::fill_n(counts.begin(), n, 1);
    return FockState(counts);
}

// Threads: 1, 2, and every hardware thread (reported as 0).
void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "m", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
    for (auto [n, m] : {std::pair{4, 8}, std::pair{8, 16}, std::pair{12, 24}})
        for (int threads : {1, 2, 0}) b->Args({n, m, threads});
}

constexpr int batch = 2000;

// Accepted samples per second: a sample budget, no shot limit.
void BM_NoisySamples(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), m = static_cast<int>(state.range(1));
    config.compute_max_thread_count = static_cast<std::uint32_t>(state.range(2));
    auto sim = heralded_experiment(m);
    const Source source(0.9, 0.03, 0.8);
    const FockState input = first_modes(n, m);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(sim.samples(source, input, batch, {}));
    state.counters["samples/s"] =
        benchmark::Counter(double(batch) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["logical"] = sim.get_logical_perf();
    state.counters["threads"] = double(max_thread_count());
    config.compute_max_thread_count = 0;
}
BENCHMARK(BM_NoisySamples)->Apply(Args);

// Shots per second: a shot budget that ends every run first.
void BM_NoisyShots(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), m = static_cast<int>(state.range(1));
    config.compute_max_thread_count = static_cast<std::uint32_t>(state.range(2));
    auto sim = heralded_experiment(m);
    const Source source(0.9, 0.03, 0.8);
    const FockState input = first_modes(n, m);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(sim.samples(source, input, 1 << 30, batch));
    state.counters["shots/s"] =
        benchmark::Counter(double(batch) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["threads"] = double(max_thread_count());
    config.compute_max_thread_count = 0;
}
BENCHMARK(BM_NoisyShots)->Apply(Args);

}  // namespace
