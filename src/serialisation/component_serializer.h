#pragma once

#include "circuits/i_circuit_visitor.h"

namespace galvorne::schema {
class Component;
}

namespace Serial {

// Fills the member of one Component message that matches the kind of the component visited.
class ComponentSerializer : public Circuit::ICircuitVisitor {
  public:
    explicit ComponentSerializer(galvorne::schema::Component& message) : message_(message) {}

    void process(Circuit::BeamSplitter_Rx const& component) override;
    void process(Circuit::BeamSplitter_Ry const& component) override;
    void process(Circuit::BeamSplitter_H const& component) override;
    void process(Circuit::PhaseShifter const& component) override;
    void process(Circuit::CompositeCircuit const& component) override;
    void process(Circuit::Unitary const& component) override;
    void process(Circuit::Permutation const& component) override;
    void process(Circuit::Barrier const& component) override;

  private:
    galvorne::schema::Component& message_;
};

}  // namespace Serial
