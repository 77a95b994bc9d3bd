#pragma once

#include <memory>
#include <string>

#include "circuits/a_circuit.h"

namespace Circuit {

// One mode multiplied by e^(i phi).
class PhaseShifter : public ACircuit {
  public:
    // Shared, so a variable becomes a symbol of this component. Throws std::invalid_argument
    // for an empty pointer.
    explicit PhaseShifter(std::shared_ptr<Symb::Parameter> phi);
    explicit PhaseShifter(double phi);
    // A fresh copy of the other's parameter (an anonymous variable gets a new name).
    PhaseShifter(const PhaseShifter& other);

    std::shared_ptr<Symb::Parameter> phi() const { return parameters_.at(0); }

    std::shared_ptr<ACircuit> clone() const override;
    Matrix unitary() const override;
    // "PhaseShifter(phi)".
    std::string describe() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }
};

}  // namespace Circuit
