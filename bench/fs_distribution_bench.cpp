#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "fockspace/distribution_products.h"
#include "fockspace/fock_space_distribution.h"
#include "fockspace/fs_array.h"
#include "runtime/rng.h"

namespace {

// All states of m modes and n photons with random weights.
FockSpaceDistribution random_distribution(int m, int n, unsigned seed) {
    std::mt19937 engine(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const FsArray array(m, n);
    std::vector<double> probabilities(array.count());
    for (double& p : probabilities) p = uniform(engine);
    return FockSpaceDistribution(array, probabilities, 0.0);
}

}  // namespace

// Pairwise tensor product of two whole distributions (|a|·|b| entries).
static void BM_TensorProduct(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0));
    const auto a = random_distribution(m, 2, 1), b = random_distribution(m, 2, 2);
    for (auto _ : state) benchmark::DoNotOptimize(tensor_product(a, b, 0.0));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * a.size() * b.size()));
}
BENCHMARK(BM_TensorProduct)->ArgName("m")->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// Merge product: many pairs meet in the same state.
static void BM_MergeProduct(benchmark::State& state) {
    const int m = static_cast<int>(state.range(0));
    const auto a = random_distribution(m, 2, 1), b = random_distribution(m, 2, 2);
    for (auto _ : state) benchmark::DoNotOptimize(merge_product(a, b, 0.0));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * a.size() * b.size()));
}
BENCHMARK(BM_MergeProduct)->ArgName("m")->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// k-fold list tensor product of a small source-like distribution, pruned at the threshold
// (second argument, as 10^-t; 0 for no pruning).
static void BM_ListTensorProduct(benchmark::State& state) {
    const auto k = static_cast<std::size_t>(state.range(0));
    const double t =
        state.range(1) == 0 ? 0.0 : std::pow(10.0, -static_cast<double>(state.range(1)));
    std::unordered_map<FockState, double> source{{FockState(std::vector<int>{1}), 0.9},
                                                 {FockState(std::vector<int>{0}), 0.08},
                                                 {FockState(std::vector<int>{2}), 0.02}};
    const FockSpaceDistribution d(std::move(source), false, 0.0);
    const std::vector<FockSpaceDistribution> list(k, d);
    std::size_t size = 0;
    for (auto _ : state) {
        const auto product = tensor_product(list, t);
        size = product.size();
        benchmark::DoNotOptimize(size);
    }
    state.counters["entries"] = static_cast<double>(size);
}
BENCHMARK(BM_ListTensorProduct)
    ->ArgNames({"k", "t"})
    ->ArgsProduct({{6, 10, 12}, {0, 4, 8}})
    ->Unit(benchmark::kMillisecond);

// Drawing samples from a distribution over a whole Fock space.
static void BM_Sample(benchmark::State& state) {
    const auto d = random_distribution(12, 3, 3);
    RNG::rng.seed(1);
    for (auto _ : state) benchmark::DoNotOptimize(d.sample(100000, false));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 100000));
}
BENCHMARK(BM_Sample)->Unit(benchmark::kMillisecond);
