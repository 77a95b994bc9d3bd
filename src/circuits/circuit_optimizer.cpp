#include "circuits/circuit_optimizer.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>
#include <numbers>
#include <stdexcept>
#include <utility>

#include <nlopt.hpp>

#include "circuits/circuit_optimizer_incompatibility.h"
#include "runtime/parallel.h"

namespace Circuit {

// What a trial's NLopt callback works on: the trial's own problem and optimiser, and the first
// error of an evaluation, kept until NLopt has returned.
struct CircuitOptimizer::Descent {
    std::unique_ptr<ACircuitOptimizationProblem> problem;
    nlopt::opt opt;
    std::vector<double> values;
    std::exception_ptr error;
};

void CircuitOptimizer::Result::reset() {
    const std::lock_guard lock(mutex_);
    fitness_ = 1.0;
    parameters_.clear();
}

void CircuitOptimizer::Result::setIfBetter(double fitness, const std::vector<double>& parameters) {
    const std::lock_guard lock(mutex_);
    // The first converged trial always counts, so that a converged call has a best circuit even
    // when nothing beats the reset fitness (a zero or orthogonal target).
    if (parameters_.empty() || fitness_ > fitness) {
        fitness_ = fitness;
        parameters_ = parameters;
    }
}

double CircuitOptimizer::Result::getFitness() const {
    const std::lock_guard lock(mutex_);
    return fitness_;
}

std::vector<double> CircuitOptimizer::Result::getParameters() const {
    const std::lock_guard lock(mutex_);
    return parameters_;
}

CircuitOptimizer::CircuitOptimizer(std::unique_ptr<ACircuitOptimizationProblem> problem,
                                   unsigned long seed)
    : problem_(std::move(problem)), rng_(static_cast<std::uint32_t>(seed)) {
    if (!problem_) throw std::invalid_argument("Circuit optimizer needs a problem");
}

bool CircuitOptimizer::optimize(std::uint32_t maxTrials) {
    configSnapshot_ = config;
    result_.reset();
    std::atomic<std::uint32_t> converged{0};
    // Seeds are drawn from rng_ in the order trials start, under the lock, so a run on one
    // worker repeats itself and successive calls continue the sequence.
    std::mutex claims;
    std::uint32_t remaining = maxTrials;
    bool failed = false;
    const std::size_t workers = std::min<std::size_t>(max_thread_count(configSnapshot_), maxTrials);
    Parallel::run(workers, [&](std::size_t) {
        for (;;) {
            std::uint32_t seed = 0;
            {
                const std::lock_guard lock(claims);
                if (failed || remaining == 0 || result_.getFitness() < threshold_) return;
                seed = static_cast<std::uint32_t>(rng_());
                --remaining;
            }
            try {
                Parallel::throw_if_interrupted();
                gradient_descent(converged, generateRandomGuess(seed));
            } catch (...) {
                const std::lock_guard lock(claims);
                failed = true;
                throw;
            }
        }
    });
    if (converged.load() == 0)
        throw CircuitOptimizerIncompatibility("Circuit optimizer: No trial converged.");
    return result_.getFitness() < threshold_;
}

bool CircuitOptimizer::optimize(std::vector<double> firstGuess) {
    if (!firstGuess.empty() && firstGuess.size() != problem_->getVariableCount())
        throw std::runtime_error("First guess size does not match the number of parameters");
    result_.reset();
    // No guess: the start a multi-start call's next trial would take.
    if (firstGuess.empty()) firstGuess = generateRandomGuess(rng_());
    std::atomic<std::uint32_t> converged{0};
    gradient_descent(converged, std::move(firstGuess));
    if (converged.load() == 0)
        throw CircuitOptimizerIncompatibility("Circuit optimizer: No trial converged.");
    return result_.getFitness() < threshold_;
}

std::shared_ptr<CompositeCircuit> CircuitOptimizer::generateBestCircuit() const {
    return problem_->generateCircuit(result_.getParameters());
}

std::vector<double> CircuitOptimizer::generateRandomGuess(unsigned long seed) const {
    std::mt19937 engine(static_cast<std::uint32_t>(seed));
    std::uniform_real_distribution<double> angle(0.0, 2 * std::numbers::pi);
    std::vector<double> guess(problem_->getVariableCount());
    for (double& value : guess) value = angle(engine);
    return guess;
}

void CircuitOptimizer::gradient_descent(std::atomic<std::uint32_t>& converged,
                                        std::vector<double> start) {
    const std::uint32_t n = problem_->getVariableCount();
    // Nothing to descend: NLopt would refuse the start as an invalid argument.
    if (n == 0 || start.size() != n) return;
    Descent descent{problem_->clone(), nlopt::opt(nlopt::LD_LBFGS, n), std::vector<double>(n),
                    nullptr};
    nlopt::opt& opt = descent.opt;
    opt.set_min_objective(objectiveFunction, &descent);
    opt.set_lower_bounds(-HUGE_VAL);
    opt.set_upper_bounds(HUGE_VAL);
    opt.set_xtol_rel(1e-16);
    opt.set_ftol_rel(1e-16);
    opt.set_stopval(threshold_);
    // NLopt takes an int; beyond its range the limit is as good as none.
    opt.set_maxeval(static_cast<int>(
        std::min<std::uint32_t>(maxEvalPerTrial_, std::numeric_limits<int>::max())));
    opt.set_maxtime(maxTimePerTrial_);
    opt.set_param("tolg", 1e-16);
    double minimum = 1.0;
    nlopt::result code = nlopt::FAILURE;
    try {
        code = opt.optimize(start, minimum);
    } catch (const nlopt::forced_stop&) {
        if (descent.error) std::rethrow_exception(descent.error);
        return;
    } catch (const std::runtime_error&) {
        return;  // NLopt's failure or round-off limit: not converged
    } catch (const std::invalid_argument&) {
        return;
    } catch (const std::bad_alloc&) {
        return;
    }
    if (code >= nlopt::SUCCESS && code <= nlopt::XTOL_REACHED) {
        result_.setIfBetter(minimum, start);
        converged.fetch_add(1);
    }
}

double CircuitOptimizer::objectiveFunction(unsigned n, const double* x, double* grad, void* data) {
    if (!data) return std::numeric_limits<double>::quiet_NaN();
    Descent& descent = *static_cast<Descent*>(data);
    try {
        if (!x) throw CircuitOptimizerIncompatibility("Bad inputs");
        Parallel::throw_if_interrupted();
        descent.values.assign(x, x + n);
        descent.problem->setVariableParameterValues(descent.values);
        const Matrix& u = descent.problem->computeUnitary();
        if (grad) {
            const std::vector<double>& g = descent.problem->computeGradient(u);
            std::copy_n(g.begin(), std::min<std::size_t>(n, g.size()), grad);
        }
        return descent.problem->computeFitness(u);
    } catch (...) {
        // Unwinding through NLopt's C frames is undefined: stop it and rethrow once it returns.
        if (!descent.error) descent.error = std::current_exception();
        descent.opt.force_stop();
        return 0.0;
    }
}

}  // namespace Circuit
