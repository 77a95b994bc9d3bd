#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <Eigen/QR>

#include "allocation_counter.h"
#include "backends/clifford2017.h"
#include "backends/clifford2017_cpu.h"
#include "haar_unitary.h"
#include "runtime/config.h"
#include "runtime/matrix.h"
#include "runtime/rng.h"

namespace {

using test_support::haar_unitary;

// One photon in each of the first n modes.
FockState boson_sampling_input(int m, int n) {
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    std::fill_n(counts.begin(), n, 1);
    return FockState(counts);
}

// CPU seconds of the whole process so far, every thread included.
double process_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// n photons on m = n and m = n² modes (256 at most, the largest mode count of a state).
void SizeArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "m"})->Unit(benchmark::kMillisecond);
    for (int n : {4, 8, 12, 16, 20})
        for (int m : {n, std::min(n * n, FockState::max_modes)}) b->Args({n, m});
}

// One sample on the calling thread: the cost per sample and per core.
template <typename P>
void BM_CliffordRunnerSample(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), m = static_cast<int>(state.range(1));
    Backend::Clifford2017CPU<P> runner;
    runner.setUnitaryMatrix(haar_unitary(m, 1), boson_sampling_input(m, n));
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(runner.sample());
    state.counters["peak_MB"] = peak_mb([&] { runner.sample(); });
}
BENCHMARK(BM_CliffordRunnerSample<Backend::DoublePrecision>)->Apply(SizeArgs);
BENCHMARK(BM_CliffordRunnerSample<Backend::SinglePrecision>)->Apply(SizeArgs);

// A batch through the front end on 1, 2 and 8 threads (last argument 1: single precision);
// samples per second of wall time.
void BM_CliffordSamples(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0)), m = static_cast<int>(state.range(1));
    const auto threads = static_cast<std::uint32_t>(state.range(2));
    const Config saved = config;
    config.compute_max_thread_count = threads;
    config.use_single_precision = state.range(3) != 0;
    Backend::Clifford2017 sampler;
    sampler.setUnitary(haar_unitary(m, 1));
    sampler.setInputState(boson_sampling_input(m, n));
    // Enough samples per batch that the threads' start and the last straggler weigh little.
    const std::uint32_t batch = (n >= 20 ? 32 : n >= 16 ? 64 : 256) * threads;
    sampler.samples(1);
    const double cpu_start = process_cpu_seconds();
    for (auto _ : state) benchmark::DoNotOptimize(sampler.samples(batch));
    const double samples = static_cast<double>(state.iterations()) * batch;
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    // CPU time per sample over all threads: equal to one thread's when nothing serialises the
    // threads, whatever share of the cores a loaded machine gives them.
    state.counters["cpu_ms_per_sample"] = (process_cpu_seconds() - cpu_start) * 1e3 / samples;
    config = saved;
}
BENCHMARK(BM_CliffordSamples)
    ->ArgNames({"n", "m", "threads", "single"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (int single : {0, 1})
            for (int threads : {1, 2, 8})
                for (auto [n, m] : {std::pair{12, 144}, std::pair{16, 256}, std::pair{20, 256}})
                    b->Args({n, m, threads, single});
    });

}  // namespace
