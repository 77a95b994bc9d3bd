#include <cmath>
#include <complex>
#include <map>
#include <random>
#include <thread>
#include <tuple>

#include <benchmark/benchmark.h>

#include "runtime/config.h"
#include "runtime/matrix.h"
#include "runtime/permanent.h"
#include "runtime/permanent_gurvits.h"
#include "runtime/permanent_reference.h"
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

// Relative error of one permanent (counter rel_error) against an exact or long double reference:
// all-ones matrices (n!), the Sylvester-Hadamard matrix of order 16 (integer Ryser) and Haar
// matrices (long double Glynn). Arguments: family (0, 1, 2), order, kind (0 Glynn, 1 Ryser on 8
// threads, 2 the plain Gray-code Ryser with one running sum).
template <typename T>
void BM_RelativeError(benchmark::State& state) {
    using namespace PermanentReference;
    const int family = static_cast<int>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    const int kind = static_cast<int>(state.range(2));
    std::mt19937 engine(static_cast<unsigned>(n));
    const RowMatrix<T> a = family == 0   ? RowMatrix<T>(RowMatrix<T>::Ones(n, n))
                           : family == 1 ? sylvester_hadamard<T>(n)
                                         : haar_matrix<T>(n, engine);
    static std::map<std::tuple<int, int, bool>, std::complex<long double>> references;
    const auto key = std::make_tuple(family, n, std::is_same_v<T, cd>);
    if (!references.count(key))
        references[key] = family == 0   ? std::complex<long double>(factorial(n))
                          : family == 1 ? std::complex<long double>(static_cast<long double>(
                                              exact_permanent(sylvester_hadamard<long long>(n))))
                                        : precise_permanent(a);
    const std::complex<long double> expected = references[key];
    const auto saved = config.compute_max_thread_count;
    config.compute_max_thread_count = 8;
    T value{};
    for (auto _ : state) {
        if (kind == 2)
            value = one_sum_ryser(a);
        else if constexpr (std::is_same_v<T, cd>)
            value = permanent_cx(a, kind == 0 ? "glynn" : "ryser");
        else
            value = permanent_fl(a, kind == 0 ? "glynn" : "ryser");
    }
    config.compute_max_thread_count = saved;
    state.counters["rel_error"] = static_cast<double>(
        std::abs(std::complex<long double>(value) - expected) / std::abs(expected));
}

void relative_error_arguments(benchmark::internal::Benchmark* b) {
    for (int kind : {0, 1, 2}) {
        for (int n : {16, 18, 19, 20, 22, 24}) b->Args({0, n, kind});
        b->Args({1, 16, kind});
        for (int n : {12, 16, 20}) b->Args({2, n, kind});
    }
    b->ArgNames({"family", "n", "kind"})->Iterations(1)->Unit(benchmark::kMillisecond);
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
BENCHMARK(BM_RelativeError<double>)->Apply(relative_error_arguments);
BENCHMARK(BM_RelativeError<cd>)->Apply(relative_error_arguments);
BENCHMARK(BM_Gurvits)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
