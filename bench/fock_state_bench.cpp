#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "states/fock_state.h"

namespace {

// Every state of m modes and n photons, in natural order.
std::vector<FockState> space(int m, int n) {
    std::vector<FockState> states;
    FockState s(m, n);
    do states.push_back(s);
    while (s.increment());
    return states;
}

}  // namespace

// Walking a Fock space: the enumeration cursor of the Fock-space arrays.
static void BM_FockStateIncrement(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0)), n = static_cast<int>(state.range(1));
    std::int64_t count = 0;
    for (auto _ : state) {
        FockState s(m, n);
        do ++count;
        while (s.increment());
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(count);
}
BENCHMARK(BM_FockStateIncrement)->Args({8, 4})->Args({6, 8})->Args({4, 12});

static void BM_FockStateFromCounts(benchmark::State& state) {
    const std::vector<int> counts(static_cast<std::size_t>(state.range(0)),
                                  static_cast<int>(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(FockState(counts));
}
BENCHMARK(BM_FockStateFromCounts)->Args({8, 1})->Args({12, 1});

static void BM_FockStateCopy(benchmark::State& state) {
    const FockState source(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)));
    for (auto _ : state) {
        FockState copy = source;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_FockStateCopy)->Arg(8)->Arg(9);

static void BM_FockStateHash(benchmark::State& state) {
    const std::vector<FockState> states =
        space(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        for (const FockState& s : states) benchmark::DoNotOptimize(s.hash());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * states.size()));
}
BENCHMARK(BM_FockStateHash)->Args({8, 4})->Args({6, 8})->Args({4, 12});

static void BM_FockStateCompare(benchmark::State& state) {
    const std::vector<FockState> states =
        space(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state)
        for (std::size_t i = 1; i < states.size(); ++i)
            benchmark::DoNotOptimize(states[i - 1] < states[i]);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (states.size() - 1)));
}
BENCHMARK(BM_FockStateCompare)->Args({8, 4})->Args({4, 12});

static void BM_FockStateTensorProduct(benchmark::State& state) {
    const FockState a(std::vector<int>{1, 0, 2, 1}), b(std::vector<int>{0, 1, 1, 2});
    for (auto _ : state) benchmark::DoNotOptimize(a * b);
}
BENCHMARK(BM_FockStateTensorProduct);
