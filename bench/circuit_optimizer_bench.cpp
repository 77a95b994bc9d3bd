#include <cstdint>
#include <memory>
#include <random>

#include <benchmark/benchmark.h>

#include <Eigen/QR>

#include "circuits/beam_splitter.h"
#include "circuits/circuit_optimization_fidelity.h"
#include "circuits/circuit_optimizer.h"
#include "circuits/circuit_optimizer_incompatibility.h"
#include "circuits/parameter.h"
#include "circuits/phase_shifter.h"
#include "circuits/rectangular_decomposer.h"
#include "haar_unitary.h"
#include "runtime/config.h"

namespace {

using test_support::haar_unitary;

// A universal rectangular mesh: per interferometer a variable phase shifter and a variable Rx.
std::shared_ptr<Circuit::CompositeCircuit> mesh(std::uint32_t m) {
    auto c = std::make_shared<Circuit::CompositeCircuit>(m, "");
    const auto free = [] { return std::make_shared<Symb::Parameter>(); };
    const auto zero = [] { return std::make_shared<Symb::Parameter>(0.0); };
    for (std::uint32_t layer = 0; layer < m; ++layer)
        for (std::uint32_t mode = layer % 2; mode + 1 < m; mode += 2) {
            c->add(mode, std::make_shared<Circuit::PhaseShifter>(free()));
            c->add(mode, std::make_shared<Circuit::BeamSplitter_Rx>(free(), zero(), zero(), zero(),
                                                                    zero()));
        }
    return c;
}

}  // namespace

// Trials of an 8-mode mesh (56 variables) fitted to a Haar unitary, each stopped after 1000
// evaluations so that every trial costs the same; threads 0 means every hardware thread.
static void BM_CircuitOptimizerTrials(benchmark::State& state) {
    const auto saved = config.compute_max_thread_count;
    config.compute_max_thread_count = static_cast<std::uint32_t>(state.range(0));
    constexpr std::uint32_t trials = 64;
    std::mt19937 rng(1);
    Circuit::CircuitOptimizer optimizer(std::make_unique<Circuit::CircuitOptimizationFidelity>(
                                            haar_unitary(8, rng), mesh(8), std::vector<int>{}),
                                        1);
    optimizer.setThreshold(-1);
    optimizer.setMaxEvalPerTrial(1000);
    for (auto _ : state) {
        try {
            optimizer.optimize(trials);
        } catch (const Circuit::CircuitOptimizerIncompatibility&) {
            // Trials cut by the evaluation limit do not count as converged.
        }
    }
    config.compute_max_thread_count = saved;
    state.counters["trials_per_s"] = benchmark::Counter(
        static_cast<double>(trials), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CircuitOptimizerTrials)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Decomposition of a Haar unitary; err_F is the Frobenius norm of the rebuilt unitary minus the
// target, at the default precision 1e-6.
static void BM_RectangularDecompose(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::mt19937 rng(static_cast<unsigned>(n));
    const Matrix target = haar_unitary(n, rng);
    Circuit::RectangularDecomposer decomposer(1e-6);
    for (auto _ : state) decomposer.decompose(target);
    state.counters["err_F"] = (decomposer.getInterferometer(true)->unitary() - target).norm();
}
BENCHMARK(BM_RectangularDecompose)
    ->ArgName("N")
    ->DenseRange(4, 16, 2)
    ->Unit(benchmark::kMillisecond);
