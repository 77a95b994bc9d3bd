#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "circuits/a_circuit.h"

namespace Circuit {

// A component placed on modes port to port + component->m - 1 of a composite.
struct PositionedComponent {
    std::uint32_t port;
    std::shared_ptr<ACircuit> component;
};

// Components placed on consecutive modes, acting in order of addition. Components are shared,
// not copied, by add; the symbols of everything added are merged into this composite's manager,
// in order of addition and by ascending name within one addition.
class CompositeCircuit : public ACircuit {
  public:
    CompositeCircuit(std::uint32_t m, const std::string& name);
    // Deep: clones every child, so the copy has fresh parameters and re-merges its symbols.
    CompositeCircuit(const CompositeCircuit& other);
    // Unnamed deep copy; with `flatten`, copies of the leaves only, at absolute ports,
    // depth-first.
    CompositeCircuit(const std::shared_ptr<CompositeCircuit>& other, bool flatten);

    const std::string& name() const { return name_; }
    std::size_t componentCount() const { return components_.size(); }
    // A list, so that elements keep their addresses while components are appended.
    const std::list<PositionedComponent>& components() const { return components_; }

    // Throws std::out_of_range "Cannot add a <k>-mode component on mode <port>" when the
    // component does not fit, changing nothing.
    CompositeCircuit& add(std::uint32_t port, std::shared_ptr<ACircuit> component);
    CompositeCircuit& add(const PositionedComponent& pc);
    // Without `merge`, the circuit becomes one child; with it, its children are added one level
    // unpacked at shifted ports, all or none.
    CompositeCircuit& add(std::uint32_t port, const std::shared_ptr<CompositeCircuit>& circuit,
                          bool merge);
    // Adds copies of every leaf of `circuit` at absolute ports, depth-first, all or none.
    void addFlattenComponents(std::uint32_t port, const std::shared_ptr<CompositeCircuit>& circuit);

    std::shared_ptr<ACircuit> clone() const override;
    // U_n ... U_2 U_1, each component's unitary placed on its modes: the first component added
    // acts first. Throws std::runtime_error for a component whose unitary is not k x k for its
    // k modes (a polarised Unitary, a tall matrix).
    Matrix unitary() const override;
    // "[ modes: <m>[, name: <name>]\n" then "<component>, h pos: <port>\n" per component, "]".
    std::string describe() const override;
    void accept(ICircuitVisitor& visitor) const override { visitor.process(*this); }

  private:
    std::string name_;
    std::list<PositionedComponent> components_;
};

}  // namespace Circuit
