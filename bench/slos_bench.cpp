#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <Eigen/QR>

#include "allocation_counter.h"
#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "fockspace/fs_array.h"
#include "haar_unitary.h"
#include "runtime/matrix.h"
#include "runtime/permanent.h"

namespace {

using test_support::haar_unitary;

std::uint64_t space_size(int m, int n) {
    std::uint64_t b = 1;
    for (int i = 1; i <= n; ++i) b = b * static_cast<std::uint64_t>(m + i - 1) / i;
    return b;
}

// m in {8, 12, ..., 24}, n in {3, ..., 8}, up to about 5 million output states.
void SlosArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n"})->Unit(benchmark::kMillisecond);
    for (int m : {8, 12, 16, 20, 24})
        for (int n = 3; n <= 8; ++n)
            if (space_size(m, n) <= 5'000'000) b->Args({m, n});
}

// The permanent side computes one permanent per output state: kept to small spaces.
void PermanentArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n"})->Unit(benchmark::kMillisecond);
    for (int m : {8, 12, 16, 20, 24})
        for (int n = 3; n <= 8; ++n)
            if (space_size(m, n) <= 100'000) b->Args({m, n});
}

// One photon in each of the first n modes.
FockState boson_sampling_input(int m, int n) {
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    for (int k = 0; k < n; ++k) counts[static_cast<std::size_t>(k)] = 1;
    return FockState(counts);
}

void run_first_query(int m, int n, Matrix const& u) {
    Backend::SLOS slos;
    slos.setUnitary(u);
    slos.setInputState(boson_sampling_input(m, n));
    benchmark::DoNotOptimize(slos.computeProbabilities().data());
}

// A new back-end: layers, link tables and amplitudes all built by the query.
void BM_SlosFirstQuery(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const Matrix u = haar_unitary(m, 1);
    for (auto _ : state) run_first_query(m, n, u);
    state.counters["outputs"] = static_cast<double>(space_size(m, n));
    state.counters["peak_MB"] = peak_mb([&] { run_first_query(m, n, u); });
}
BENCHMARK(BM_SlosFirstQuery)->Apply(SlosArgs);

// setUnitary resets the compiled layers too, so a new unitary costs a whole first query.
void BM_SlosNewUnitary(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const Matrix unitaries[2] = {haar_unitary(m, 1), haar_unitary(m, 2)};
    Backend::SLOS slos;
    slos.setInputState(boson_sampling_input(m, n));
    std::size_t i = 0;
    for (auto _ : state) {
        slos.setUnitary(unitaries[i++ % 2]);
        benchmark::DoNotOptimize(slos.computeProbabilities().data());
    }
}
BENCHMARK(BM_SlosNewUnitary)->Apply(SlosArgs);

// Amplitudes cached: only the normalisation into probabilities.
void BM_SlosRepeatedQuery(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    Backend::SLOS slos;
    slos.setUnitary(haar_unitary(m, 1));
    slos.setInputState(boson_sampling_input(m, n));
    slos.compile();
    for (auto _ : state) benchmark::DoNotOptimize(slos.computeProbabilities().data());
}
BENCHMARK(BM_SlosRepeatedQuery)->Apply(SlosArgs);

template <typename B>
void run_first_query_of(int m, int n, Matrix const& u, bool backward) {
    B backend;
    backend.set_backward(backward);
    backend.setUnitary(u);
    backend.setInputState(boson_sampling_input(m, n));
    benchmark::DoNotOptimize(backend.computeProbabilities().data());
}

// A new back-end (space or link map built, then amplitudes); the third argument picks the
// backward direction.
template <typename B>
void BM_FirstQuery(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const bool backward = state.range(2) != 0;
    const Matrix u = haar_unitary(m, 1);
    for (auto _ : state) run_first_query_of<B>(m, n, u, backward);
    state.counters["outputs"] = static_cast<double>(space_size(m, n));
    state.counters["peak_MB"] = peak_mb([&] { run_first_query_of<B>(m, n, u, backward); });
}

// A new unitary on a back-end that keeps its compiled space or map: the case V3 is built for.
template <typename B>
void BM_NewUnitary(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const Matrix unitaries[2] = {haar_unitary(m, 1), haar_unitary(m, 2)};
    B backend;
    backend.set_backward(state.range(2) != 0);
    backend.setInputState(boson_sampling_input(m, n));
    // Compiled before timing, so that a single iteration measures no build.
    backend.setUnitary(unitaries[1]);
    backend.computeProbabilities();
    std::size_t i = 0;
    for (auto _ : state) {
        backend.setUnitary(unitaries[i++ % 2]);
        benchmark::DoNotOptimize(backend.computeProbabilities().data());
    }
    // One-photon transitions of the whole pass, m C(m+n-1, n-1): `per_link` is the time of a
    // query over them.
    const double links = static_cast<double>(m) * static_cast<double>(space_size(m + 1, n - 1));
    state.counters["links"] = links;
    state.counters["per_link"] = benchmark::Counter(
        links, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void DirectionArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n", "backward"})->Unit(benchmark::kMillisecond);
    for (int m : {8, 12, 16, 20, 24})
        for (int n = 3; n <= 8; ++n)
            if (space_size(m, n) <= 5'000'000)
                for (int backward : {0, 1}) b->Args({m, n, backward});
}

// The larger spaces the back-ends are compared at: 8 photons in 16 modes, 10 in 20.
void LargeArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n", "backward"})->Unit(benchmark::kMillisecond);
    for (auto [m, n] : {std::pair{16, 8}, std::pair{20, 10}})
        for (int backward : {0, 1}) b->Args({m, n, backward});
}

BENCHMARK(BM_FirstQuery<Backend::SLOS_V2>)->Apply(DirectionArgs);
BENCHMARK(BM_FirstQuery<Backend::SLOS_V3>)->Apply(DirectionArgs);
BENCHMARK(BM_NewUnitary<Backend::SLOS_V2>)->Apply(DirectionArgs);
BENCHMARK(BM_NewUnitary<Backend::SLOS_V3>)->Apply(DirectionArgs);
BENCHMARK(BM_FirstQuery<Backend::SLOS_V2>)
    ->Name("BM_FirstQueryLarge<Backend::SLOS_V2>")
    ->Apply(LargeArgs)
    ->Iterations(1);
BENCHMARK(BM_FirstQuery<Backend::SLOS_V3>)
    ->Name("BM_FirstQueryLarge<Backend::SLOS_V3>")
    ->Apply(LargeArgs)
    ->Iterations(1);
BENCHMARK(BM_NewUnitary<Backend::SLOS_V2>)
    ->Name("BM_NewUnitaryLarge<Backend::SLOS_V2>")
    ->Apply(LargeArgs);
BENCHMARK(BM_NewUnitary<Backend::SLOS_V3>)
    ->Name("BM_NewUnitaryLarge<Backend::SLOS_V3>")
    ->Apply(LargeArgs);

// Every output probability from its own permanent, |Perm(U[s,t])|^2 / s!, with Glynn's formula
// on this thread; `slos_ratio` is this time over a first SLOS query.
void BM_PermanentsAllOutputs(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const Matrix u = haar_unitary(m, 1);
    const FsArray outputs(m, n);
    Matrix sub(n, n);

    // Best of a few first queries, so that one cold run does not set the ratio.
    std::chrono::duration<double> slos_time = std::chrono::hours(1);
    for (int run = 0; run < 5; ++run) {
        const auto start = clock::now();
        run_first_query(m, n, u);
        slos_time = std::min<std::chrono::duration<double>>(slos_time, clock::now() - start);
    }

    std::chrono::duration<double> total{0};
    std::vector<double> probabilities(outputs.count());
    for (auto _ : state) {
        const auto start = clock::now();
        std::size_t i = 0;
        for (auto it = outputs.begin(); it != outputs.end(); ++it, ++i) {
            const FockState s = *it;
            for (int a = 0; a < n; ++a) sub.row(a) = u.row(s.photon2mode(a)).head(n);
            probabilities[i] = std::norm(permanent_cx(sub, "glynn")) / s.prodnfact();
        }
        benchmark::DoNotOptimize(probabilities.data());
        total += clock::now() - start;
    }
    state.counters["outputs"] = static_cast<double>(outputs.count());
    state.counters["slos_ratio"] =
        total.count() / static_cast<double>(state.iterations()) / slos_time.count();
}
BENCHMARK(BM_PermanentsAllOutputs)->Apply(PermanentArgs);

}  // namespace
