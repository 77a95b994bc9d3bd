#include <cmath>
#include <complex>
#include <random>
#include <thread>

#include <benchmark/benchmark.h>

#include "runtime/config.h"
#include "runtime/matrix.h"
#include "runtime/permanent.h"
#include "runtime/permanent_gurvits.h"
#include "runtime/sub_permanents.h"

namespace {

using cd = std::complex<double>;

template <typename T>
RowMatrix<T> gaussian(int rows, int cols) {
    std::mt19937 engine(rows * 100 + cols);
    std::normal_distribution<double> entry;
    RowMatrix<T> a(rows, cols);
    for (auto& x : a.reshaped()) {
        if constexpr (std::is_same_v<T, cd>) {
            const double re = entry(engine);
            x = cd(re, entry(engine));
        } else {
            x = entry(engine);
        }
    }
    return a;
}

// Row updates are the unit of the Gray-code kernels: n of them per visited sign vector or subset.
void count_row_updates(benchmark::State& state, double per_call) {
    state.counters["row_updates"] = benchmark::Counter(
        per_call * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

template <typename T>
void BM_Glynn(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto a = gaussian<T>(n, n);
    for (auto _ : state) benchmark::DoNotOptimize(permanentGlynn<T>(a));
    count_row_updates(state, n * std::ldexp(1.0, n - 1));
}

// Ryser through the driver; the second argument is the thread count.
template <typename T>
void BM_Ryser(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto a = gaussian<T>(n, n);
    const auto saved = config.compute_max_thread_count;
    config.compute_max_thread_count = static_cast<std::uint32_t>(state.range(1));
    for (auto _ : state) {
        if constexpr (std::is_same_v<T, cd>)
            benchmark::DoNotOptimize(permanent_cx(a, "ryser"));
        else
            benchmark::DoNotOptimize(permanent_fl(a, "ryser"));
    }
    config.compute_max_thread_count = saved;
    count_row_updates(state, n * std::ldexp(1.0, n));
}

void BM_SubPermanents(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto a = gaussian<cd>(n + 1, n);
    for (auto _ : state) benchmark::DoNotOptimize(sub_permanents_cx(a));
    count_row_updates(state, (n + 1) * std::ldexp(1.0, n));
}

void BM_Gurvits(benchmark::State& state) {
    const auto a = gaussian<cd>(50, 50);
    for (auto _ : state)
        benchmark::DoNotOptimize(estimate_permanent_cx(a, static_cast<unsigned>(state.range(0))));
}

// Every order up to 28 on 1 and 8 threads: the thread start-up dominates small orders.
void ryser_arguments(benchmark::internal::Benchmark* b) {
    for (int n = 1; n <= 28; ++n)
        for (int threads : {1, 8}) b->Args({n, threads});
}

void glynn_arguments(benchmark::internal::Benchmark* b) {
    b->DenseRange(10, 22, 2)->DenseRange(24, 28, 1);
}

}  // namespace

BENCHMARK(BM_Glynn<double>)->Apply(glynn_arguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Glynn<cd>)->Apply(glynn_arguments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ryser<double>)->Apply(ryser_arguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ryser<cd>)->Apply(ryser_arguments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SubPermanents)->DenseRange(16, 24, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gurvits)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
