#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "circuits/circuit_optimization_problem.h"
#include "circuits/composite_circuit.h"
#include "runtime/matrix.h"

namespace Circuit {

// Infidelity of a template against a target on the modes that receive photons:
// fitness = 1 - |Tr(M† U)|² / d², where M is the target with the columns of the empty modes
// zeroed and d the number of kept modes. The gradient is exact and costs one walk over the
// components.
class CircuitOptimizationFidelity : public ACircuitOptimizationProblem {
  public:
    // Works on a flattened copy of `circuit`; the caller's template is never changed. Repeated
    // empty modes count once. Throws the shape errors of ACircuitOptimizationProblem, then
    // CircuitOptimizerIncompatibility "Reference must be a unitary matrix" for a target that is
    // not unitary within config.unitary_check_precision (non-finite entries included), then
    // std::invalid_argument for an empty mode outside the circuit, then the other errors of
    // ACircuitOptimizationProblem, then CircuitOptimizerIncompatibility "Cannot fit a template
    // with every mode empty" when no mode is kept (the fitness would be 0/0).
    CircuitOptimizationFidelity(const Matrix& target,
                                const std::shared_ptr<CompositeCircuit>& circuit,
                                const std::vector<int>& emptyModes);

    std::unique_ptr<ACircuitOptimizationProblem> clone() const override;
    double computeFitness(const Matrix& u) const override;
    const std::vector<double>& computeGradient(const Matrix& u) override;

    std::uint64_t getKeptModeCount() const { return keptModeCount_; }

  private:
    CircuitOptimizationFidelity(const CircuitOptimizationFidelity& other) = default;

    std::uint64_t keptModeCount_;
    std::vector<double> gradient_;
    // The running product of the walk, and room for a fixed component's rows or columns.
    Matrix work_;
    Matrix scratch_;
};

}  // namespace Circuit
