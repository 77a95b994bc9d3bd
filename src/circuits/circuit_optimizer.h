#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "circuits/circuit_optimization_problem.h"
#include "circuits/composite_circuit.h"
#include "runtime/config.h"

namespace Circuit {

// Fits a problem's variables by L-BFGS descents (trials) from random or given starting points,
// several at once on worker threads, and keeps the best result. One caller at a time: settings,
// optimize and generateBestCircuit are never called concurrently.
class CircuitOptimizer {
  public:
    // The best descent of the current optimize call, shared by the trials.
    class Result {
      public:
        // Fitness 1.0, no parameters.
        void reset();
        // Keeps the new pair when none is kept yet or its fitness is strictly lower.
        void setIfBetter(double fitness, const std::vector<double>& parameters);
        double getFitness() const;
        std::vector<double> getParameters() const;

      private:
        mutable std::mutex mutex_;
        double fitness_ = 1.0;
        std::vector<double> parameters_;
    };

    // The trials' starting points come from an engine seeded with the seed modulo 2^32.
    CircuitOptimizer(std::unique_ptr<ACircuitOptimizationProblem> problem, unsigned long seed);

    // Fitness below which a descent stops and no further trial is started.
    void setThreshold(double threshold) { threshold_ = threshold; }
    void setMaxTimePerTrial(double seconds) { maxTimePerTrial_ = seconds; }
    // 0 means no limit, as for NLopt.
    void setMaxEvalPerTrial(std::uint32_t count) { maxEvalPerTrial_ = count; }

    // Up to maxTrials descents from random points, at most max_thread_count() at once, until one
    // reaches the threshold. True when the best fitness is below the threshold. Throws
    // CircuitOptimizerIncompatibility "Circuit optimizer: No trial converged." when no descent
    // converged (maxTrials 0 and templates without variables included), and the exception of the
    // lowest worker that failed otherwise: KeyboardInterruptException "Process interrupted by
    // user." once the interrupt flag is set.
    bool optimize(std::uint32_t maxTrials);
    // One descent on the calling thread from firstGuess, or, when it is empty, from a random
    // start seeded by the next output of the optimiser's generator. Throws std::runtime_error
    // "First guess size does not match the number of parameters", leaving the result as it was,
    // for a non-empty guess of the wrong size.
    bool optimize(std::vector<double> firstGuess);

    // A copy of the template with the best parameters; the problem's template stays free, so
    // optimize may run again. Throws std::runtime_error "ACircuit::setAllVariableValues: invalid
    // values size" when nothing was recorded for a template with variables.
    std::shared_ptr<CompositeCircuit> generateBestCircuit() const;
    // One uniform value in [0, 2π) per variable from a std::mt19937 seeded with `seed`.
    std::vector<double> generateRandomGuess(unsigned long seed) const;

    const Result& result() const { return result_; }
    double getThreshold() const { return threshold_; }

  private:
    struct Descent;

    // One trial: counts itself in `converged` when NLopt ends on a success code, ignores a start
    // of the wrong size, throws what the objective threw.
    void gradient_descent(std::atomic<std::uint32_t>& converged, std::vector<double> start);
    // Called by NLopt on the trial's thread; never throws through NLopt: errors are stored in the
    // descent, which is stopped.
    static double objectiveFunction(unsigned n, const double* x, double* grad, void* data);

    double threshold_ = 1e-6;
    double maxTimePerTrial_ = 600.0;
    std::uint32_t maxEvalPerTrial_ = 200000;
    std::unique_ptr<ACircuitOptimizationProblem> problem_;
    Config configSnapshot_;
    std::mt19937 rng_;
    Result result_;
};

}  // namespace Circuit
