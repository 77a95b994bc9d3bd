#include "circuits/circuit_optimization_problem.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/circuit_optimizer_incompatibility.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"

namespace Circuit {

namespace {

using cx = std::complex<double>;

std::size_t free_parameter_count(const ACircuit& component) {
    const auto& parameters = component.parameters();
    return static_cast<std::size_t>(std::count_if(parameters.begin(), parameters.end(),
                                                  [](auto& p) { return !p->hasValue(); }));
}

const Symb::Parameter* free_parameter(const ACircuit& component) {
    for (auto const& p : component.parameters())
        if (!p->hasValue()) return p.get();
    return nullptr;
}

using Kind = ComponentWrapper::Kind;

// The cores of the three conventions, with c = cos(theta/2) and s = sin(theta/2).
Eigen::Matrix2cd core(Kind kind, double theta) {
    const double c = std::cos(theta / 2);
    const double s = std::sin(theta / 2);
    Eigen::Matrix2cd m;
    switch (kind) {
        case Kind::beamSplitterRx:
            m << c, cx(0, s), cx(0, s), c;
            break;
        case Kind::beamSplitterRy:
            m << c, -s, s, c;
            break;
        default:
            m << c, s, s, -c;
            break;
    }
    return m;
}

// d/dtheta of core: c' = -s/2, s' = c/2.
Eigen::Matrix2cd core_derivative(Kind kind, double theta) {
    const double c = std::cos(theta / 2) / 2;
    const double s = std::sin(theta / 2) / 2;
    Eigen::Matrix2cd m;
    switch (kind) {
        case Kind::beamSplitterRx:
            m << -s, cx(0, c), cx(0, c), -s;
            break;
        case Kind::beamSplitterRy:
            m << -s, -c, c, -s;
            break;
        default:
            m << -s, c, c, s;
            break;
    }
    return m;
}

Eigen::Matrix2cd framed(const Eigen::Matrix2cd& m, const ComponentWrapper& record) {
    Eigen::Matrix2cd r;
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            r(a, b) = record.outputPhases[a] * m(a, b) * record.inputPhases[b];
    return r;
}

}  // namespace

ComponentWrapper::ComponentWrapper(const PositionedComponent& pc)
    : port(pc.port), modeCount(pc.component->m) {
    // The gradient has one entry per component: a second variable would have no entry of its own.
    if (free_parameter_count(*pc.component) > 1)
        throw CircuitOptimizerIncompatibility(fmt::format(
            "Cannot process a component with several variables: {}", pc.component->describe()));
    pc.component->accept(*this);
}

Eigen::Matrix2cd ComponentWrapper::beamSplitterMatrix() const {
    return framed(core(kind, value), *this);
}

Eigen::Matrix2cd ComponentWrapper::beamSplitterMatrixDerivative() const {
    return framed(core_derivative(kind, value), *this);
}

void ComponentWrapper::process(const BeamSplitter_Rx& component) {
    processBeamSplitter(component, Kind::beamSplitterRx);
}

void ComponentWrapper::process(const BeamSplitter_Ry& component) {
    processBeamSplitter(component, Kind::beamSplitterRy);
}

void ComponentWrapper::process(const BeamSplitter_H& component) {
    processBeamSplitter(component, Kind::beamSplitterH);
}

void ComponentWrapper::process(const PhaseShifter& component) {
    if (component.parameters().at(0)->hasValue())
        processFixedUnitary(component);
    else
        kind = Kind::phaseShifter;
}

void ComponentWrapper::process(const CompositeCircuit&) {
    throw CircuitOptimizerIncompatibility("Cannot process composite circuit");
}

void ComponentWrapper::process(const Unitary& component) {
    processFixedUnitary(component);
}

void ComponentWrapper::process(const Permutation& component) {
    processFixedUnitary(component);
}

void ComponentWrapper::process(const Barrier& component) {
    processFixedUnitary(component);
}

void ComponentWrapper::processFixedUnitary(const ACircuit& component) {
    Matrix u = component.unitary();
    // A polarised or tall matrix would be multiplied into rows it does not belong to.
    if (u.rows() != modeCount || u.cols() != modeCount)
        throw CircuitOptimizerIncompatibility(fmt::format(
            "Cannot process a {}x{} matrix on {} modes", u.rows(), u.cols(), modeCount));
    unitaryAdjoint = u.adjoint();
    unitary = std::move(u);
    kind = Kind::fixed;
}

void ComponentWrapper::processBeamSplitter(const ABeamSplitter& component, Kind variableKind) {
    if (component.theta()->hasValue()) {
        processFixedUnitary(component);
        return;
    }
    // The constructor allows one free parameter: the phases all have values.
    using Location = ABeamSplitter::PhaseLocation;
    const auto factor = [&](Location l) { return std::polar(1.0, component.phi(l)->value()); };
    inputPhases = {factor(Location::TopLeft), factor(Location::BottomLeft)};
    outputPhases = {factor(Location::TopRight), factor(Location::BottomRight)};
    kind = variableKind;
}

void rotateRows(Matrix& w, Eigen::Index p, const Eigen::Matrix2cd& b) {
    for (Eigen::Index col = 0; col < w.cols(); ++col) {
        const cx top = w(p, col);
        const cx bottom = w(p + 1, col);
        w(p, col) = b(0, 0) * top + b(0, 1) * bottom;
        w(p + 1, col) = b(1, 0) * top + b(1, 1) * bottom;
    }
}

Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_Rx&, double theta) {
    return core_derivative(Kind::beamSplitterRx, theta);
}

Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_Ry&, double theta) {
    return core_derivative(Kind::beamSplitterRy, theta);
}

Eigen::Matrix2cd beamSplitterDerivative(const BeamSplitter_H&, double theta) {
    return core_derivative(Kind::beamSplitterH, theta);
}

ACircuitOptimizationProblem::ACircuitOptimizationProblem(const Matrix& target,
                                                         std::shared_ptr<CompositeCircuit> circuit)
    : modeCount_(static_cast<std::int32_t>(target.rows())),
      variableCount_(circuit ? circuit->variableCount() : 0),
      target_(target),
      targetAdjoint_(target.adjoint()) {
    if (!circuit) throw std::invalid_argument("Circuit optimization problem needs a template");
    if (circuit->m != target.rows())
        throw CircuitOptimizerIncompatibility(
            "Template interferometer and reference unitary size mismatch!");
    if (target.cols() != target.rows())
        throw CircuitOptimizerIncompatibility("Reference must be a unitary matrix");
    components_.reserve(circuit->componentCount());
    std::vector<const Symb::Parameter*> variables;
    for (auto const& pc : circuit->components()) {
        components_.emplace_back(pc);
        if (!components_.back().fixed()) variables.push_back(free_parameter(*pc.component));
    }
    // Variable i of the template must be the variable of the i-th variable record, alone: the
    // values NLopt moves are the records', and generateCircuit sets the template's in its order.
    const auto& groups = circuit->variableManager().variables();
    for (auto const& group : groups)
        if (group.size() > 1)
            throw CircuitOptimizerIncompatibility(
                fmt::format("Cannot process variable '{}' shared by several components",
                            group.front()->name()));
    bool matching = groups.size() == variables.size() && variableCount_ == variables.size();
    for (std::size_t i = 0; matching && i < groups.size(); ++i)
        matching = groups[i].front().get() == variables[i];
    if (!matching)
        throw CircuitOptimizerIncompatibility(
            "Cannot process template variables that are not those of its components");
    circuit_ = std::move(circuit);
    unitary_ = Matrix::Identity(modeCount_, modeCount_);
    scratch_.resize(modeCount_, modeCount_);
}

void ACircuitOptimizationProblem::setVariableParameterValues(const std::vector<double>& values) {
    std::size_t i = 0;
    for (auto& record : components_)
        if (!record.fixed()) record.value = values.at(i++);
}

const Matrix& ACircuitOptimizationProblem::computeUnitary() {
    unitary_.setIdentity();
    for (auto const& record : components_) {
        const Eigen::Index p = record.port;
        switch (record.kind) {
            case ComponentWrapper::Kind::fixed: {
                const Eigen::Index k = record.modeCount;
                auto rows = scratch_.topRows(k);
                rows.noalias() = record.unitary * unitary_.middleRows(p, k);
                unitary_.middleRows(p, k) = rows;
                break;
            }
            case ComponentWrapper::Kind::phaseShifter:
                unitary_.row(p) *= std::polar(1.0, record.value);
                break;
            default:
                rotateRows(unitary_, p, record.beamSplitterMatrix());
                break;
        }
    }
    return unitary_;
}

std::shared_ptr<CompositeCircuit> ACircuitOptimizationProblem::generateCircuit(
    const std::vector<double>& values) const {
    auto circuit = std::make_shared<CompositeCircuit>(*circuit_);
    circuit->setAllVariableValues(values);
    return circuit;
}

}  // namespace Circuit
