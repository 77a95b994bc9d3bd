#include <complex>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <Eigen/QR>

#include "allocation_counter.h"
#include "backends/slap.h"
#include "backends/slos_v3.h"
#include "haar_unitary.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

// SLAP next to SLOS_V3: all amplitudes of a Haar-random unitary for one photon in each of the
// first n modes of m = 2n modes.
namespace {

using test_support::haar_unitary;

double binomial(int n, int k) {
    double b = 1;
    for (int i = 1; i <= k; ++i) b = b * (n - k + i) / i;
    return b;
}

// The walk's work: a node of degree d costs d C(n, d) complex multiply-adds, and there are
// C(m + d - 1, d) of them.
double multiply_adds(int m, int n) {
    double total = 0;
    for (int d = 1; d <= n; ++d) total += d * binomial(n, d) * binomial(m + d - 1, d);
    return total;
}

FockState first_modes_input(int m, int n) {
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    for (int k = 0; k < n; ++k) counts[static_cast<std::size_t>(k)] = 1;
    return FockState(counts);
}

template <typename B>
void first_query(int m, int n, Matrix const& u) {
    B backend;
    backend.setUnitary(u);
    backend.setInputState(first_modes_input(m, n));
    benchmark::DoNotOptimize(backend.getAmplitudes().data());
}

// A new back-end computing every amplitude. peak_MB: its heap high-water mark; output_MB: the
// amplitudes themselves.
template <typename B>
void BM_AllAmplitudesFirst(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    const Matrix u = haar_unitary(m, 1);
    for (auto _ : state) first_query<B>(m, n, u);
    const double outputs = binomial(m + n - 1, n);
    state.counters["outputs"] = outputs;
    state.counters["output_MB"] = outputs * sizeof(std::complex<double>) / (1 << 20);
    state.counters["peak_MB"] = peak_mb([&] { first_query<B>(m, n, u); });
    if constexpr (std::is_same_v<B, Backend::SLAP>) {
        const double work = multiply_adds(m, n);
        state.counters["madds"] = work;
        state.counters["ns_per_madd"] =
            benchmark::Counter(work * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
    }
}

// The probabilities of amplitudes already computed; peak_MB: the new vector of probabilities.
template <typename B>
void BM_AllProbabilitiesRepeated(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    B backend;
    backend.setUnitary(haar_unitary(m, 1));
    backend.setInputState(first_modes_input(m, n));
    backend.getAmplitudes();
    for (auto _ : state) benchmark::DoNotOptimize(backend.computeProbabilities().data());
    state.counters["peak_MB"] =
        peak_mb([&] { benchmark::DoNotOptimize(backend.computeProbabilities().data()); });
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"m", "n"})->Unit(benchmark::kMillisecond);
    for (auto [m, n] : {std::pair{8, 4}, std::pair{12, 6}, std::pair{16, 8}, std::pair{20, 10}})
        b->Args({m, n});
}

// The Steiner walk on one photon per mode, m = n: its internal work is the group's W(n).
void BM_SteinerAllAmplitudes(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Matrix u = haar_unitary(n, 1);
    for (auto _ : state) {
        Backend::SLAP backend;
        backend.setSteiner(true);
        backend.setUnitary(u);
        backend.setInputState(first_modes_input(n, n));
        benchmark::DoNotOptimize(backend.getAmplitudes().data());
    }
    state.counters["outputs"] = binomial(2 * n - 1, n);
}

BENCHMARK(BM_AllAmplitudesFirst<Backend::SLAP>)->Apply(Sizes);
BENCHMARK(BM_AllAmplitudesFirst<Backend::SLOS_V3>)->Apply(Sizes);
BENCHMARK(BM_AllProbabilitiesRepeated<Backend::SLAP>)->Apply(Sizes);
BENCHMARK(BM_AllProbabilitiesRepeated<Backend::SLOS_V3>)->Apply(Sizes);
BENCHMARK(BM_SteinerAllAmplitudes)
    ->ArgName("n")
    ->Arg(12)
    ->Arg(14)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
