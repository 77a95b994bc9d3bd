#pragma once

#include <memory>
#include <string>

#include "circuits/a_circuit.h"

namespace Circuit {

// A two-mode coupler: a core matrix of angle theta in one of three conventions, framed by four
// phases, left (input) and right (output), top (first mode) and bottom (second mode). The
// parameters are, in order: theta, phi_tl, phi_bl, phi_tr, phi_br.
class ABeamSplitter : public ACircuit {
  public:
    // Positions in the parameter list; theta is position 0.
    enum PhaseLocation { TopLeft = 1, BottomLeft = 2, TopRight = 3, BottomRight = 4 };

    // The parameters are shared, so variables among them become symbols of this component.
    // Throws std::invalid_argument when a pointer is empty.
    ABeamSplitter(std::shared_ptr<Symb::Parameter> theta, std::shared_ptr<Symb::Parameter> phi_tl,
                  std::shared_ptr<Symb::Parameter> phi_bl, std::shared_ptr<Symb::Parameter> phi_tr,
                  std::shared_ptr<Symb::Parameter> phi_br);
    // Fixed angle, zero phases.
    explicit ABeamSplitter(double theta);

    std::shared_ptr<Symb::Parameter> theta() const { return parameters_.at(0); }
    std::shared_ptr<Symb::Parameter> phi(PhaseLocation location) const {
        return parameters_.at(location);
    }

    // diag(e^(i phi_tr), e^(i phi_br)) · core · diag(e^(i phi_tl), e^(i phi_bl)).
    Matrix unitary() const override;
    // "BeamSplitter_<convention>(theta,phi_tl,phi_bl,phi_tr,phi_br)".
    std::string describe() const override;

    virtual std::string convention() const = 0;
    // The 2 x 2 matrix of the convention at theta, before the phases.
    virtual Matrix getCoreUnitary() const = 0;

  protected:
    // Fresh copies of the other's parameters (anonymous variables get new names).
    ABeamSplitter(const ABeamSplitter& other);
};

// Core [[c, i s], [i s, c]] with c = cos(theta/2), s = sin(theta/2).
class BeamSplitter_Rx : public ABeamSplitter {
  public:
    using ABeamSplitter::ABeamSplitter;
    BeamSplitter_Rx(const BeamSplitter_Rx& other) = default;

    std::shared_ptr<ACircuit> clone() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }
    std::string convention() const override { return "Rx"; }
    Matrix getCoreUnitary() const override;
};

// Core [[c, -s], [s, c]]: a real rotation by theta/2.
class BeamSplitter_Ry : public ABeamSplitter {
  public:
    using ABeamSplitter::ABeamSplitter;
    BeamSplitter_Ry(const BeamSplitter_Ry& other) = default;

    std::shared_ptr<ACircuit> clone() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }
    std::string convention() const override { return "Ry"; }
    Matrix getCoreUnitary() const override;
};

// Core [[c, s], [s, -c]]: a reflection, determinant -1.
class BeamSplitter_H : public ABeamSplitter {
  public:
    using ABeamSplitter::ABeamSplitter;
    BeamSplitter_H(const BeamSplitter_H& other) = default;

    std::shared_ptr<ACircuit> clone() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }
    std::string convention() const override { return "H"; }
    Matrix getCoreUnitary() const override;
};

}  // namespace Circuit
