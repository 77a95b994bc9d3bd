#include "circuits/rectangular_decomposer.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>
#include <utility>

#include <nlopt.hpp>

#include "circuits/beam_splitter.h"
#include "circuits/phase_shifter.h"
#include "runtime/config.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/logging.h"
#include "runtime/rng.h"

namespace Circuit {

namespace {

using cx = std::complex<double>;

constexpr double pi = std::numbers::pi;

// The interferometer PS(θ), Rx(π/2), PS(φ), Rx(π/2), phase shifters on the upper mode.
Eigen::Matrix2cd interferometer(double theta, double phi) {
    const cx a = std::polar(1.0, theta);
    const cx b = std::polar(1.0, phi);
    const cx i(0, 1);
    Eigen::Matrix2cd t;
    t << a * (b - 1.0), i * (1.0 + b), i * a * (1.0 + b), 1.0 - b;
    return t / 2.0;
}

double call_objective(unsigned, const double* x, double*, void* data) {
    return (*static_cast<const std::function<double(const double*)>*>(data))(x);
}

}  // namespace

RectangularDecomposer::RectangularDecomposer(double precision) : precision_(precision) {}

void RectangularDecomposer::decompose(const Matrix& target) {
    if (target.rows() != target.cols() || !is_unitary(target, config.unitary_check_precision))
        throw std::runtime_error("Rectangular decomposition only works for unitary matrices");
    // PRAXIS takes random steps from NLopt's generator: seeded from the thread's, the circuit
    // depends on the target and set_seed alone.
    nlopt::srand(RNG::rng());
    try {
        leftMatrices_.clear();
        meshRecords_.clear();
        work_ = target;
        _diagonalizeMatrix();
        _reverseLeftMatrices();
        _buildInterferometers();
        target_ = target;
    } catch (const KeyboardInterruptException&) {
        // Ctrl-C is the user's doing, not a failed decomposition.
        newInterferometer_.reset();
        newPhaseCorrection_.reset();
        throw;
    } catch (const std::exception& e) {
        newInterferometer_.reset();
        newPhaseCorrection_.reset();
        Logging::log(Logging::general, spdlog::level::err, "RectangularDecomposer::decompose(): {}",
                     e.what());
        throw std::runtime_error("RectangularDecomposer: decomposition failed");
    }
    size_ = target.rows();
    interferometer_ = std::move(newInterferometer_);
    phaseCorrection_ = std::move(newPhaseCorrection_);
    computed_ = true;
}

std::shared_ptr<CompositeCircuit> RectangularDecomposer::getInterferometer(
    bool withPhaseCorrection) const {
    if (!computed_)
        throw std::runtime_error(
            "RectangularDecomposer must be computed before giving the resulting interferometer");
    if (!withPhaseCorrection) return interferometer_;
    auto circuit = std::make_shared<CompositeCircuit>(
        static_cast<std::uint32_t>(size_), "Rectangular interferometer with phase correction");
    circuit->add(0, interferometer_, true);
    circuit->add(0, phaseCorrection_, true);
    return circuit;
}

// Alternates between nulling diagonals from the right, bottom-up, and from the left, top-down,
// so that no step undoes an earlier zero.
void RectangularDecomposer::_diagonalizeMatrix() {
    const std::int64_t n = work_.rows();
    // Each element costs a solve and a pass over a row or column of the matrix.
    InterruptSignalHandler::Poll poll(16);
    for (std::int64_t i = 0; i + 1 < n; ++i)
        for (std::int64_t j = 0; j <= i; ++j) {
            poll();
            if (i % 2 == 1)
                _nullifyMatrixElement(n - 1 - i + j, j, false);
            else
                _nullifyMatrixElement(n - 1 - j, i - j, true);
        }
}

// On a diagonal matrix a left step T can be traded for a right one: undoing T leaves a 2 x 2
// block, which a right step nulls again.
void RectangularDecomposer::_reverseLeftMatrices() {
    InterruptSignalHandler::Poll poll(16);
    for (auto it = leftMatrices_.rbegin(); it != leftMatrices_.rend(); ++it) {
        poll();
        const std::int64_t row = it->row;
        const Eigen::Matrix2cd undo = it->matrix.adjoint();
        for (Eigen::Index c = 0; c < work_.cols(); ++c) {
            const cx top = work_(row - 1, c);
            const cx bottom = work_(row, c);
            work_(row - 1, c) = undo(0, 0) * top + undo(0, 1) * bottom;
            work_(row, c) = undo(1, 0) * top + undo(1, 1) * bottom;
        }
        _nullifyMatrixElement(row, row - 1, true);
    }
}

void RectangularDecomposer::_buildInterferometers() {
    const auto n = static_cast<std::uint32_t>(work_.rows());
    auto mesh = std::make_shared<CompositeCircuit>(n, "Rectangular interferometer");
    auto phases = std::make_shared<CompositeCircuit>(n, "PhaseCorrection");
    InterruptSignalHandler::Poll poll(256);
    for (auto const& [angles, mode] : meshRecords_) {
        poll();
        auto mzi = std::make_shared<CompositeCircuit>(2, "MZI");
        mzi->add(0, std::make_shared<PhaseShifter>(angles[0]));
        mzi->add(0, std::make_shared<BeamSplitter_Rx>(pi / 2));
        mzi->add(0, std::make_shared<PhaseShifter>(angles[1]));
        mzi->add(0, std::make_shared<BeamSplitter_Rx>(pi / 2));
        mesh->add(static_cast<std::uint32_t>(mode), mzi, true);
    }
    for (std::uint32_t i = 0; i < n; ++i)
        phases->add(i, std::make_shared<PhaseShifter>(std::arg(work_(i, i))));
    newInterferometer_ = std::move(mesh);
    newPhaseCorrection_ = std::move(phases);
}

void RectangularDecomposer::_nullifyMatrixElement(std::int64_t row, std::int64_t col, bool right) {
    if (right) {
        const cx a = work_(row, col);
        const cx b = work_(row, col + 1);
        const auto angles = _solve([&](const double* x) {
            const Eigen::Matrix2cd t = interferometer(x[0], x[1]);
            return std::norm(a * std::conj(t(0, 0)) + b * std::conj(t(0, 1)));
        });
        const Eigen::Matrix2cd t = interferometer(angles[0], angles[1]);
        for (Eigen::Index r = 0; r < work_.rows(); ++r) {
            const cx first = work_(r, col);
            const cx second = work_(r, col + 1);
            work_(r, col) = first * std::conj(t(0, 0)) + second * std::conj(t(0, 1));
            work_(r, col + 1) = first * std::conj(t(1, 0)) + second * std::conj(t(1, 1));
        }
        meshRecords_.push_back({angles, col});
        return;
    }
    const cx a = work_(row - 1, col);
    const cx b = work_(row, col);
    const auto angles = _solve([&](const double* x) {
        const Eigen::Matrix2cd t = interferometer(x[0], x[1]);
        return std::norm(t(1, 0) * a + t(1, 1) * b);
    });
    const Eigen::Matrix2cd t = interferometer(angles[0], angles[1]);
    for (Eigen::Index c = 0; c < work_.cols(); ++c) {
        const cx top = work_(row - 1, c);
        const cx bottom = work_(row, c);
        work_(row - 1, c) = t(0, 0) * top + t(0, 1) * bottom;
        work_(row, c) = t(1, 0) * top + t(1, 1) * bottom;
    }
    leftMatrices_.push_back({t, row});
}

std::array<double, 2> RectangularDecomposer::_solve(const Objective& objective) const {
    nlopt::opt opt(nlopt::LN_PRAXIS, 2);
    opt.set_min_objective(call_objective, const_cast<Objective*>(&objective));
    opt.set_ftol_abs(1e-16);
    std::vector<double> x{pi / 2, pi / 2};
    double minimum = 0;
    opt.optimize(x, minimum);
    // Written so that a NaN minimum fails too.
    if (!(minimum < precision_)) throw std::runtime_error("max iteration reach for optimisation.");
    return {x[0], x[1]};
}

}  // namespace Circuit
