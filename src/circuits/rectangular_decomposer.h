#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "circuits/composite_circuit.h"
#include "runtime/matrix.h"

namespace Circuit {

// Decomposes an N x N unitary into a rectangular mesh of N(N-1)/2 two-mode interferometers on
// neighbouring modes (phase shifter θ, balanced Rx, phase shifter φ, balanced Rx), followed by N
// output phase shifters. Each interferometer's two phases are found by PRAXIS, nulling one
// element of a working copy of the target at a time. Single-threaded, one caller at a time.
class RectangularDecomposer {
  public:
    explicit RectangularDecomposer(double precision);

    // Every nulled element must end with a squared modulus below it; read by the next decompose.
    double getPrecision() const { return precision_; }
    void setPrecision(double precision) { precision_ = precision; }

    // Throws std::runtime_error "Rectangular decomposition only works for unitary matrices" for a
    // matrix that is not square or fails is_unitary at config.unitary_check_precision. Any
    // failure of the decomposition itself is logged on the general channel and thrown as
    // std::runtime_error "RectangularDecomposer: decomposition failed". A failed call leaves the
    // previous result as it was. Takes one draw from the thread's RNG::rng to seed PRAXIS.
    void decompose(const Matrix& target);

    // false: the stored mesh itself, the same object each time. true: a new composite, the mesh's
    // components then the phase correction's, which realises the target. Throws
    // std::runtime_error "RectangularDecomposer must be computed before giving the resulting
    // interferometer" before any successful decompose.
    std::shared_ptr<CompositeCircuit> getInterferometer(bool withPhaseCorrection) const;

  private:
    // A left step: T applied to rows row - 1 and row of the working matrix.
    struct LeftRecord {
        Eigen::Matrix2cd matrix;
        std::int64_t row;
    };
    // A step of the mesh: T(θ, φ) on modes mode and mode + 1.
    struct MeshRecord {
        std::array<double, 2> angles;
        std::int64_t mode;
    };
    using Objective = std::function<double(const double*)>;

    void _diagonalizeMatrix();
    void _reverseLeftMatrices();
    void _buildInterferometers();
    // Nulls element (row, col) of the working matrix: from the right on columns col and col + 1,
    // or from the left on rows row - 1 and row.
    void _nullifyMatrixElement(std::int64_t row, std::int64_t col, bool right);
    std::array<double, 2> _solve(const Objective& objective) const;

    double precision_;
    Matrix target_;
    std::int64_t size_ = 0;
    Matrix work_;
    std::vector<LeftRecord> leftMatrices_;
    std::vector<MeshRecord> meshRecords_;
    bool computed_ = false;
    std::shared_ptr<CompositeCircuit> interferometer_;
    std::shared_ptr<CompositeCircuit> phaseCorrection_;
    // Built by the current decompose; they replace the stored ones only when it succeeds.
    std::shared_ptr<CompositeCircuit> newInterferometer_;
    std::shared_ptr<CompositeCircuit> newPhaseCorrection_;
};

}  // namespace Circuit
