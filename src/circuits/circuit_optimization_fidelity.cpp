#include "circuits/circuit_optimization_fidelity.h"

#include <complex>
#include <set>
#include <stdexcept>

#include <fmt/format.h>

#include "circuits/circuit_optimizer_incompatibility.h"
#include "runtime/config.h"

namespace Circuit {

namespace {

using cx = std::complex<double>;
using Kind = ComponentWrapper::Kind;

// The target with the columns of the empty modes zeroed. When the shapes fit (the base refuses
// the others, in its own order), the target must be unitary, so that the fitness stays within
// [0, 1], and every empty mode a mode of it.
Matrix masked(const Matrix& target, const std::shared_ptr<CompositeCircuit>& circuit,
              const std::vector<int>& emptyModes) {
    if (!circuit || circuit->m != target.rows() || target.cols() != target.rows()) return target;
    if (!is_unitary(target, config.unitary_check_precision))
        throw CircuitOptimizerIncompatibility("Reference must be a unitary matrix");
    Matrix m = target;
    for (int mode : emptyModes) {
        if (mode < 0 || mode >= target.cols())
            throw std::invalid_argument(fmt::format(
                "Empty mode {} is outside the {} modes of the circuit", mode, target.cols()));
        m.col(mode).setZero();
    }
    return m;
}

std::uint64_t distinct(const std::vector<int>& modes) {
    return std::set<int>(modes.begin(), modes.end()).size();
}

std::shared_ptr<CompositeCircuit> flattened(const std::shared_ptr<CompositeCircuit>& circuit) {
    return circuit ? std::make_shared<CompositeCircuit>(circuit, true) : nullptr;
}

}  // namespace

CircuitOptimizationFidelity::CircuitOptimizationFidelity(
    const Matrix& target, const std::shared_ptr<CompositeCircuit>& circuit,
    const std::vector<int>& emptyModes)
    : ACircuitOptimizationProblem(masked(target, circuit, emptyModes), flattened(circuit)),
      keptModeCount_(static_cast<std::uint64_t>(target.cols()) - distinct(emptyModes)) {
    if (keptModeCount_ == 0)
        throw CircuitOptimizerIncompatibility("Cannot fit a template with every mode empty");
    const Eigen::Index m = getModeCount();
    gradient_.reserve(getVariableCount());
    work_.resize(m, m);
    scratch_.resize(m, m);
}

std::unique_ptr<ACircuitOptimizationProblem> CircuitOptimizationFidelity::clone() const {
    return std::unique_ptr<ACircuitOptimizationProblem>(new CircuitOptimizationFidelity(*this));
}

double CircuitOptimizationFidelity::computeFitness(const Matrix& u) const {
    const cx overlap = getTarget().conjugate().cwiseProduct(u).sum();
    const auto d2 = static_cast<double>(keptModeCount_ * keptModeCount_);
    return 1 - std::norm(overlap) / d2;
}

// With U = C_N ... C_1 and S = Tr(M† U), the walk keeps W = C_(i-1) ... C_1 M† C_N ... C_i on
// reaching component i: then W C_i† closes the trace around dC_i, so dS/dθ_i = Tr(W C_i† dC_i),
// and C_i W C_i† is W for component i + 1. Each step touches only the component's own rows and
// columns.
const std::vector<double>& CircuitOptimizationFidelity::computeGradient(const Matrix& u) {
    gradient_.clear();
    work_.noalias() = targetAdjoint() * u;
    const cx overlapConjugate = std::conj(getTarget().conjugate().cwiseProduct(u).sum());
    const double d2 = static_cast<double>(keptModeCount_ * keptModeCount_);
    const Eigen::Index m = getModeCount();
    const auto entry = [&](cx delta) {
        gradient_.push_back(-2 * std::real(overlapConjugate * delta) / d2);
    };
    for (auto const& record : getComponents()) {
        const Eigen::Index p = record.port;
        switch (record.kind) {
            case Kind::fixed: {
                const Eigen::Index k = record.modeCount;
                auto cols = scratch_.leftCols(k);
                cols.noalias() = work_.middleCols(p, k) * record.unitaryAdjoint;
                work_.middleCols(p, k) = cols;
                auto rows = scratch_.topRows(k);
                rows.noalias() = record.unitary * work_.middleRows(p, k);
                work_.middleRows(p, k) = rows;
                break;
            }
            case Kind::phaseShifter: {
                const cx phase = std::polar(1.0, record.value);
                work_.col(p) *= std::conj(phase);
                entry(work_(p, p) * cx(0, 1) * phase);
                work_.row(p) *= phase;
                break;
            }
            default: {
                const Eigen::Matrix2cd b = record.beamSplitterMatrix();
                const Eigen::Matrix2cd db = record.beamSplitterMatrixDerivative();
                for (Eigen::Index r = 0; r < m; ++r) {
                    const cx left = work_(r, p);
                    const cx right = work_(r, p + 1);
                    work_(r, p) = left * std::conj(b(0, 0)) + right * std::conj(b(0, 1));
                    work_(r, p + 1) = left * std::conj(b(1, 0)) + right * std::conj(b(1, 1));
                }
                cx delta = 0;
                for (int a = 0; a < 2; ++a)
                    for (int c = 0; c < 2; ++c) delta += db(a, c) * work_(p + c, p + a);
                entry(delta);
                rotateRows(work_, p, b);
                break;
            }
        }
    }
    return gradient_;
}

}  // namespace Circuit
