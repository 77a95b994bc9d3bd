#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "circuits/a_circuit.h"

namespace Circuit {

// A marker across m modes that leaves the light unchanged; visible or not when drawn.
class Barrier : public ACircuit {
  public:
    Barrier(std::uint32_t m, bool visible);
    Barrier(const Barrier& other);

    bool isVisible() const { return visible_; }

    std::shared_ptr<ACircuit> clone() const override;
    // The m x m identity.
    Matrix unitary() const override;
    // "Barrier(m, 0|1)".
    std::string describe() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }

  private:
    bool visible_;
};

}  // namespace Circuit
