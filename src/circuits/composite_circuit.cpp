#include "circuits/composite_circuit.h"

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

#include <fmt/format.h>

namespace Circuit {

namespace {

// Ports are summed in 64 bits: nested offsets must not wrap into a fitting position.
struct Placement {
    std::uint64_t port;
    std::shared_ptr<ACircuit> component;
};

void check_fits(std::uint32_t m, std::uint64_t port, const ACircuit& component) {
    if (port + component.m > m)
        throw std::out_of_range(
            fmt::format("Cannot add a {}-mode component on mode {}", component.m, port));
}

void check_component(const std::shared_ptr<ACircuit>& component) {
    if (!component) throw std::invalid_argument("CompositeCircuit::add: empty component");
}

const std::shared_ptr<CompositeCircuit>& checked(const std::shared_ptr<CompositeCircuit>& circuit) {
    check_component(circuit);
    return circuit;
}

void collect_leaves(std::uint64_t port, const CompositeCircuit& circuit,
                    std::vector<Placement>& leaves) {
    for (auto const& [p, c] : circuit.components()) {
        if (auto composite = std::dynamic_pointer_cast<CompositeCircuit>(c))
            collect_leaves(port + p, *composite, leaves);
        else
            leaves.push_back({port + p, c->clone()});
    }
}

}  // namespace

CompositeCircuit::CompositeCircuit(std::uint32_t m, const std::string& name)
    : ACircuit(m), name_(name) {}

CompositeCircuit::CompositeCircuit(const CompositeCircuit& other)
    : ACircuit(other.m), name_(other.name_) {
    for (auto const& [p, c] : other.components_) add(p, c->clone());
}

CompositeCircuit::CompositeCircuit(const std::shared_ptr<CompositeCircuit>& other, bool flatten)
    : ACircuit(checked(other)->m) {
    if (flatten) {
        addFlattenComponents(0, other);
        return;
    }
    for (auto const& [p, c] : other->components_) add(p, c->clone());
}

CompositeCircuit& CompositeCircuit::add(std::uint32_t port, std::shared_ptr<ACircuit> component) {
    check_component(component);
    check_fits(m, port, *component);
    mergeVariables(component);
    components_.push_back({port, std::move(component)});
    return *this;
}

CompositeCircuit& CompositeCircuit::add(const PositionedComponent& pc) {
    return add(pc.port, pc.component);
}

CompositeCircuit& CompositeCircuit::add(std::uint32_t port,
                                        const std::shared_ptr<CompositeCircuit>& circuit,
                                        bool merge) {
    if (!merge) return add(port, std::shared_ptr<ACircuit>(circuit));
    check_component(circuit);
    // A copy of the list first: the circuit may be this composite, which grows below.
    const std::vector<PositionedComponent> children(circuit->components_.begin(),
                                                    circuit->components_.end());
    for (auto const& [p, c] : children) check_fits(m, std::uint64_t{port} + p, *c);
    for (auto const& [p, c] : children) add(port + p, c);
    return *this;
}

void CompositeCircuit::addFlattenComponents(std::uint32_t port,
                                            const std::shared_ptr<CompositeCircuit>& circuit) {
    check_component(circuit);
    // Cloned and checked before anything is added, so a failure leaves this composite as it was.
    std::vector<Placement> leaves;
    collect_leaves(port, *circuit, leaves);
    for (auto const& [p, c] : leaves) check_fits(m, p, *c);
    for (auto& [p, c] : leaves) add(static_cast<std::uint32_t>(p), std::move(c));
}

std::shared_ptr<ACircuit> CompositeCircuit::clone() const {
    return std::make_shared<CompositeCircuit>(*this);
}

Matrix CompositeCircuit::unitary() const {
    Matrix r = Matrix::Identity(m, m);
    for (auto const& [port, c] : components_) {
        const Matrix u = c->unitary();
        const Eigen::Index k = c->m;
        if (u.rows() != k || u.cols() != k)
            throw std::runtime_error(
                fmt::format("CompositeCircuit::unitary: a {}x{} matrix cannot act on {} modes",
                            u.rows(), u.cols(), k));
        auto rows = r.middleRows(port, k);
        rows = (u * rows).eval();
    }
    return r;
}

std::string CompositeCircuit::describe() const {
    std::ostringstream os;
    os << "[ modes: " << m;
    if (!name_.empty()) os << ", name: " << name_;
    os << "\n";
    for (auto const& [port, c] : components_) os << c->describe() << ", h pos: " << port << "\n";
    os << "]";
    return os.str();
}

}  // namespace Circuit
