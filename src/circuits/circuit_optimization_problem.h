#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "circuits/composite_circuit.h"
#include "circuits/i_circuit_visitor.h"
#include "runtime/matrix.h"

namespace Circuit {

class ABeamSplitter;

// What the optimiser knows of one placed leaf of a template: where it acts, whether its variable
// is free, and what the product and the gradient walk need of it. A record holds no pointer into
// the template, so a problem's clones stand on their own.
class ComponentWrapper : private ICircuitVisitor {
  public:
    enum class Kind { fixed, beamSplitterRx, beamSplitterRy, beamSplitterH, phaseShifter };

    // Throws CircuitOptimizerIncompatibility for a composite, a component with more than one
    // variable, or a fixed matrix that does not act on the component's own modes; a fixed
    // component whose matrix needs a variable (a set angle with a free phase) throws
    // "Parameter has no value".
    explicit ComponentWrapper(const PositionedComponent& pc);

    bool fixed() const { return kind == Kind::fixed; }
    // A variable beam splitter's 2 x 2 matrix at the current value, phases included, and its
    // derivative with respect to the angle.
    Eigen::Matrix2cd beamSplitterMatrix() const;
    Eigen::Matrix2cd beamSplitterMatrixDerivative() const;

    std::uint32_t port;
    std::uint32_t modeCount;
    Kind kind = Kind::fixed;
    // A fixed component's own k x k matrix and its conjugate transpose, computed once.
    Matrix unitary;
    Matrix unitaryAdjoint;
    // A variable beam splitter's fixed phases as factors on its inputs and outputs (top, bottom):
    // its matrix is diag(outputPhases) * core(theta) * diag(inputPhases).
    std::array<std::complex<double>, 2> inputPhases{1.0, 1.0};
    std::array<std::complex<double>, 2> outputPhases{1.0, 1.0};
    // The current value of a variable component's variable.
    double value = 0;

  private:
    void process(const BeamSplitter_Rx& component) override;
    void process(const BeamSplitter_Ry& component) override;
    void process(const BeamSplitter_H& component) override;
    void process(const PhaseShifter& component) override;
    void process(const CompositeCircuit& component) override;
    void process(const Unitary& component) override;
    void process(const Permutation& component) override;
    void process(const Barrier& component) override;

    void processFixedUnitary(const ACircuit& component);
    void processBeamSplitter(const ABeamSplitter& component, Kind variableKind);
};

// The derivative of a convention's core matrix (its matrix with all phases 0) with respect to the
// angle, at theta; the component only selects the convention.
Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_Rx&, double theta);
Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_Ry&, double theta);
Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_H&, double theta);

// Rows p and p + 1 of w replaced by b times them: how the unitary's product and the gradient walk
// apply a beam splitter.
void rotateRows(Matrix& w, Eigen::Index p, const Eigen::Matrix2cd& b);

// A template circuit fitted to a target matrix. The template's variables are free in the problem
// for its whole life: evaluations set the records' values, and circuits with values are copies.
class ACircuitOptimizationProblem {
  public:
    // Throws CircuitOptimizerIncompatibility "Template interferometer and reference unitary size
    // mismatch!" or "Reference must be a unitary matrix" (the shape only is tested), then the
    // errors of ComponentWrapper, then, when the template's variables do not map one to one onto
    // its variable components, "Cannot process variable '<name>' shared by several components".
    ACircuitOptimizationProblem(const Matrix& target, std::shared_ptr<CompositeCircuit> circuit);
    virtual ~ACircuitOptimizationProblem() = default;

    // Trials evaluate clones: the walk state is per clone, the template is shared and only read.
    virtual std::unique_ptr<ACircuitOptimizationProblem> clone() const = 0;
    virtual double computeFitness(const Matrix& u) const = 0;
    // One entry per variable, in variable order, for the unitary of the records' current values;
    // the reference is valid until the next call.
    virtual const std::vector<double>& computeGradient(const Matrix& u) = 0;

    std::uint32_t getVariableCount() const { return variableCount_; }
    std::int32_t getModeCount() const { return modeCount_; }
    const Matrix& getTarget() const { return target_; }
    const std::vector<ComponentWrapper>& getComponents() const { return components_; }

    // Gives the i-th variable record values.at(i); std::out_of_range when too few.
    void setVariableParameterValues(const std::vector<double>& values);
    // The template's unitary for the records' current values, built from the records without
    // touching the template; the reference is valid until the next call.
    const Matrix& computeUnitary();
    // A copy of the template with every variable set, in variable order; the template stays free.
    // Throws std::runtime_error "ACircuit::setAllVariableValues: invalid values size" when the
    // count differs from the template's variable count.
    std::shared_ptr<CompositeCircuit> generateCircuit(const std::vector<double>& values) const;

  protected:
    ACircuitOptimizationProblem(const ACircuitOptimizationProblem& other) = default;
    ACircuitOptimizationProblem& operator=(const ACircuitOptimizationProblem&) = delete;

    const Matrix& targetAdjoint() const { return targetAdjoint_; }

  private:
    std::int32_t modeCount_;
    std::uint32_t variableCount_;
    Matrix target_;
    Matrix targetAdjoint_;
    std::vector<ComponentWrapper> components_;
    std::shared_ptr<const CompositeCircuit> circuit_;
    Matrix unitary_;
    Matrix scratch_;
};

}  // namespace Circuit
