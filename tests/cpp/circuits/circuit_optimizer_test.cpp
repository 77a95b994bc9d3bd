#include "circuits/circuit_optimizer.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "circuits/beam_splitter.h"
#include "circuits/circuit_optimization_fidelity.h"
#include "circuits/circuit_optimizer_incompatibility.h"
#include "circuits/parameter.h"
#include "circuits/phase_shifter.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

namespace {

using namespace Circuit;
using circuit_test::cx;
using circuit_test::haar_unitary;
using circuit_test::pi;
using Symb::Parameter;
using test_support::expect_throw_message;
using test_support::ThreadCount;

using Composite = std::shared_ptr<CompositeCircuit>;

const std::string no_trial = "Circuit optimizer: No trial converged.";

std::shared_ptr<ACircuit> variable_rx() {
    auto zero = [] { return std::make_shared<Parameter>(0.0); };
    return std::make_shared<BeamSplitter_Rx>(std::make_shared<Parameter>(), zero(), zero(), zero(),
                                             zero());
}

std::shared_ptr<ACircuit> variable_ps() {
    return std::make_shared<PhaseShifter>(std::make_shared<Parameter>());
}

Composite one_rx() {
    auto c = std::make_shared<CompositeCircuit>(2, "");
    c->add(0, variable_rx());
    return c;
}

// A universal rectangular mesh of m modes: every interferometer a phase shifter and an Rx.
Composite mesh(std::uint32_t m) {
    auto c = std::make_shared<CompositeCircuit>(m, "");
    for (std::uint32_t layer = 0; layer < m; ++layer)
        for (std::uint32_t mode = layer % 2; mode + 1 < m; mode += 2) {
            c->add(mode, variable_ps());
            c->add(mode, variable_rx());
        }
    for (std::uint32_t mode = 0; mode < m; ++mode) c->add(mode, variable_ps());
    return c;
}

CircuitOptimizer optimizer(const Matrix& target, const Composite& circuit, unsigned long seed,
                           const std::vector<int>& empty = {}) {
    return CircuitOptimizer(std::make_unique<CircuitOptimizationFidelity>(target, circuit, empty),
                            seed);
}

double fitness_of(const CompositeCircuit& c, const Matrix& target) {
    return CircuitOptimizationFidelity(target, std::make_shared<CompositeCircuit>(c), {})
        .computeFitness(c.unitary());
}

double theta_of(const CompositeCircuit& c) {
    auto bs = std::dynamic_pointer_cast<ABeamSplitter>(c.components().front().component);
    return bs->theta()->value();
}

// Runs every test without a leftover interruption.
class CircuitOptimizerTest : public ::testing::Test {
  protected:
    void SetUp() override { InterruptSignalHandler::interrupted = false; }
    void TearDown() override { InterruptSignalHandler::interrupted = false; }
};

// The fitted circuit has no free variable left, and its own unitary gives the reported fitness.
TEST_F(CircuitOptimizerTest, FitsRx) {
    const Matrix target = BeamSplitter_Rx(1.0).unitary();
    auto opt = optimizer(target, one_rx(), 7);
    EXPECT_TRUE(opt.optimize(4u));
    EXPECT_LT(opt.result().getFitness(), 1e-6);
    const auto best = opt.generateBestCircuit();
    EXPECT_EQ(best->variableCount(), 0u);
    EXPECT_NEAR(std::remainder(theta_of(*best) - 1.0, 2 * pi), 0.0, 2e-3);
    EXPECT_NEAR(fitness_of(*best, target), opt.result().getFitness(), 1e-12);
}

TEST_F(CircuitOptimizerTest, GlobalPhaseIsFreeFromEveryStart) {
    auto c = std::make_shared<CompositeCircuit>(1, "");
    c->add(0, variable_ps());
    Matrix target(1, 1);
    target(0, 0) = std::polar(1.0, 2.0);
    auto opt = optimizer(target, c, 1);
    for (double start : {0.0, 1.0, 4.0}) {
        EXPECT_TRUE(opt.optimize(std::vector<double>{start}));
        EXPECT_NEAR(opt.result().getFitness(), 0.0, 1e-12);
    }
}

// The problem's template stays free, so a second call after generateBestCircuit works.
TEST_F(CircuitOptimizerTest, OptimizesAgainAfterBuildingTheBestCircuit) {
    std::mt19937 rng(2);
    const Matrix target = haar_unitary(3, rng);
    auto opt = optimizer(target, mesh(3), 3);
    for (int call = 0; call < 3; ++call) {
        EXPECT_TRUE(opt.optimize(2u)) << "call " << call;
        EXPECT_LT(fitness_of(*opt.generateBestCircuit(), target), 1e-6);
    }
}

// With one worker, the trials and their order depend only on the seed.
TEST_F(CircuitOptimizerTest, SeededSingleThreadRunsRepeat) {
    ThreadCount one(1);
    std::mt19937 rng(4);
    const Matrix target = haar_unitary(4, rng);
    auto first = optimizer(target, mesh(4), 12345, {2, 3});
    auto second = optimizer(target, mesh(4), 12345 + (1ul << 32), {2, 3});
    first.setThreshold(-1);
    second.setThreshold(-1);
    for (int call = 0; call < 2; ++call) {
        first.optimize(3u);
        second.optimize(3u);
        EXPECT_EQ(first.result().getFitness(), second.result().getFitness());
        EXPECT_EQ(first.result().getParameters(), second.result().getParameters());
    }
    EXPECT_EQ(first.generateRandomGuess(9), second.generateRandomGuess(9));
}

TEST_F(CircuitOptimizerTest, RandomGuessIsUniformOverOneTurn) {
    auto opt = optimizer(Matrix::Identity(4, 4), mesh(4), 0);
    const auto guess = opt.generateRandomGuess(42);
    std::mt19937 engine(42);
    ASSERT_EQ(guess.size(), 16u);
    for (double v : guess) {
        const double x1 = engine(), x2 = engine();
        EXPECT_DOUBLE_EQ(v, 6.283185307179586 * (x1 + x2 * 4294967296.0) / 18446744073709551616.0);
    }
}

TEST_F(CircuitOptimizerTest, ReportsWhenNoTrialConverged) {
    auto opt = optimizer(BeamSplitter_Rx(1.0).unitary(), one_rx(), 0);
    EXPECT_TRUE(opt.optimize(1u));
    expect_throw_message<CircuitOptimizerIncompatibility>([&] { opt.optimize(0u); }, no_trial);
    EXPECT_EQ(opt.result().getFitness(), 1.0);
    EXPECT_TRUE(opt.result().getParameters().empty());
    // Without variables, an empty first guess has nothing to descend either.

    auto fixed = std::make_shared<CompositeCircuit>(2, "");
    fixed->add(0, std::make_shared<BeamSplitter_Rx>(0.5));
    auto without_variables = optimizer(Matrix::Identity(2, 2), fixed, 0);
    expect_throw_message<CircuitOptimizerIncompatibility>([&] { without_variables.optimize(3u); },
                                                          no_trial);
    expect_throw_message<CircuitOptimizerIncompatibility>(
        [&] { without_variables.optimize(std::vector<double>{}); }, no_trial);
}

// An empty first guess is one descent from the start the next multi-start trial would take.
TEST_F(CircuitOptimizerTest, AnEmptyFirstGuessStartsAtRandom) {
    std::mt19937 rng(5);
    const Matrix target = haar_unitary(3, rng);
    auto guessed = optimizer(target, mesh(3), 17);
    auto drawn = optimizer(target, mesh(3), 17);
    guessed.optimize(std::vector<double>{});
    drawn.optimize(1u);
    EXPECT_EQ(guessed.result().getParameters().size(), 9u);
    EXPECT_EQ(guessed.result().getParameters(), drawn.result().getParameters());
    // The generator moved on: the next random start is another one.
    guessed.optimize(std::vector<double>{});
    EXPECT_NE(guessed.result().getParameters(), drawn.result().getParameters());
}

TEST_F(CircuitOptimizerTest, RefusesAFirstGuessOfTheWrongSize) {
    auto opt = optimizer(BeamSplitter_Rx(1.0).unitary(), one_rx(), 0);
    EXPECT_TRUE(opt.optimize(std::vector<double>{0.3}));
    const double fitness = opt.result().getFitness();
    expect_throw_message<std::runtime_error>(
        [&] {
            opt.optimize(std::vector<double>{0.3, 0.4});
        },
        "First guess size does not match the number of parameters");
    EXPECT_EQ(opt.result().getFitness(), fitness);
}

// Rx(θ) stays orthogonal to Z: nothing beats the reset fitness 1.0, yet the converged trial is
// kept.
TEST_F(CircuitOptimizerTest, KeepsTheFirstConvergedTrialEvenAtFitnessOne) {
    const Matrix z = Eigen::Vector2cd(1, -1).asDiagonal();
    auto opt = optimizer(z, one_rx(), 0);
    EXPECT_FALSE(opt.optimize(2u));
    EXPECT_EQ(opt.result().getFitness(), 1.0);
    EXPECT_EQ(opt.generateBestCircuit()->variableCount(), 0u);
}

TEST_F(CircuitOptimizerTest, BestCircuitNeedsAResult) {
    auto opt = optimizer(BeamSplitter_Rx(1.0).unitary(), one_rx(), 0);
    expect_throw_message<std::runtime_error>([&] { opt.generateBestCircuit(); },
                                             "ACircuit::setAllVariableValues: invalid values size");
}

// A one-mode, one-variable problem whose fitness floor + |u - 1|² is scripted by the test:
// it counts its trials (one clone each) and can throw from its evaluation.
class ScriptedProblem : public ACircuitOptimizationProblem {
  public:
    ScriptedProblem(double floor, bool throws, std::shared_ptr<std::atomic<int>> trials)
        : ACircuitOptimizationProblem(Matrix::Identity(1, 1), template_()),
          floor_(floor),
          throws_(throws),
          trials_(std::move(trials)) {}

    std::unique_ptr<ACircuitOptimizationProblem> clone() const override {
        ++*trials_;
        return std::make_unique<ScriptedProblem>(*this);
    }
    double computeFitness(const Matrix& u) const override {
        if (throws_) throw std::domain_error("scripted failure");
        return floor_ + std::norm(u(0, 0) - 1.0);
    }
    const std::vector<double>& computeGradient(const Matrix& u) override {
        gradient_ = {2 * u(0, 0).imag()};
        return gradient_;
    }

    ScriptedProblem(const ScriptedProblem&) = default;

  private:
    static Composite template_() {
        auto c = std::make_shared<CompositeCircuit>(1, "");
        c->add(0, variable_ps());
        return c;
    }

    double floor_;
    bool throws_;
    std::shared_ptr<std::atomic<int>> trials_;
    std::vector<double> gradient_;
};

struct Scripted {
    std::shared_ptr<std::atomic<int>> trials = std::make_shared<std::atomic<int>>(0);
    CircuitOptimizer optimizer;
    Scripted(double floor, bool throws)
        : optimizer(std::make_unique<ScriptedProblem>(floor, throws, trials), 0) {}
};

// Below the threshold nothing stops early: exactly maxTrials trials start, however many workers.
TEST_F(CircuitOptimizerTest, StartsEveryTrialWhenTheThresholdIsNotReached) {
    for (std::uint32_t threads : {1u, 4u}) {
        ThreadCount count(threads);
        Scripted s(0.5, false);
        EXPECT_FALSE(s.optimizer.optimize(10u));
        EXPECT_EQ(s.trials->load(), 10);
        EXPECT_NEAR(s.optimizer.result().getFitness(), 0.5, 1e-9);
    }
}

TEST_F(CircuitOptimizerTest, StopsStartingTrialsOnceTheThresholdIsReached) {
    ThreadCount one(1);
    Scripted s(0.5, false);
    s.optimizer.setThreshold(1.0);
    EXPECT_TRUE(s.optimizer.optimize(50u));
    EXPECT_EQ(s.trials->load(), 1);
}

// An evaluation's exception comes back as it was thrown, not through NLopt's codes.
TEST_F(CircuitOptimizerTest, RethrowsWhatAnEvaluationThrew) {
    for (std::uint32_t threads : {1u, 3u}) {
        ThreadCount count(threads);
        Scripted s(0.0, true);
        expect_throw_message<std::domain_error>([&] { s.optimizer.optimize(20u); },
                                                "scripted failure");
        EXPECT_LE(s.trials->load(), static_cast<int>(threads));
        expect_throw_message<std::domain_error>(
            [&] { s.optimizer.optimize(std::vector<double>{0.5}); }, "scripted failure");
    }
}

TEST_F(CircuitOptimizerTest, EvaluationLimitDiscardsTrials) {
    std::mt19937 rng(8);
    auto opt = optimizer(haar_unitary(4, rng), mesh(4), 1);
    opt.setMaxEvalPerTrial(2);
    expect_throw_message<CircuitOptimizerIncompatibility>([&] { opt.optimize(3u); }, no_trial);
}

TEST_F(CircuitOptimizerTest, StopsOnInterruption) {
    std::mt19937 rng(6);
    auto opt = optimizer(haar_unitary(8, rng), mesh(8), 1);
    opt.setThreshold(-1);
    InterruptSignalHandler::interrupted = true;
    expect_throw_message<KeyboardInterruptException>([&] { opt.optimize(100u); },
                                                     "Process interrupted by user.");

    InterruptSignalHandler::interrupted = false;
    const auto start = std::chrono::steady_clock::now();
    std::thread ctrl_c([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        InterruptSignalHandler::interrupted = true;
    });
    expect_throw_message<KeyboardInterruptException>([&] { opt.optimize(100u); },
                                                     "Process interrupted by user.");
    ctrl_c.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
