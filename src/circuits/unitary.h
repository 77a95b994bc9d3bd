#pragma once

#include <memory>
#include <string>

#include "circuits/a_circuit.h"

namespace Circuit {

// A fixed matrix. With polarisation, every mode carries two polarisation components, so the
// matrix has twice as many rows as the component has modes; such a component describes and
// copies, but a composite cannot place it in its product.
class Unitary : public ACircuit {
  public:
    // Throws std::invalid_argument "Matrix must be unitary and not null" for an empty matrix or
    // one that fails is_unitary at config.unitary_check_precision, then "Polarization matrix
    // should have an even number of rows/col" for an odd row count with polarisation.
    Unitary(const Matrix& u, const std::string& name, bool use_polarization);
    // Validated again, against the tolerance in force now.
    Unitary(const Unitary& other);

    // A copy of the stored matrix.
    Matrix unitary() const override;
    std::string getName() const { return name_; }
    bool supportsPolarization() const { return use_polarization_; }

    std::shared_ptr<ACircuit> clone() const override;
    // "Unitary(ComplexMatrix(<matrix>), \"<name>\", <true|false>)".
    std::string describe() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }

  private:
    Matrix u_;
    std::string name_;
    bool use_polarization_;
};

}  // namespace Circuit
