#include "circuits/a_circuit.h"

#include <stdexcept>
#include <utility>

#include <fmt/format.h>

namespace Circuit {

ACircuit::ACircuit(std::uint32_t m) : m(m), variables_(std::make_shared<Symb::VariableManager>()) {}

void ACircuit::addParameter(std::shared_ptr<Symb::Parameter> p) {
    if (!p) return;
    variables_->addParameter(p);
    parameters_.push_back(std::move(p));
}

void ACircuit::setVariableValue(const std::string& name, double value) {
    if (!variables_->setValue(name, value))
        throw std::runtime_error(
            fmt::format("ACircuit::setVariableValue: symbol '{}' not found", name));
}

void ACircuit::setAllVariableValues(const std::vector<double>& values) {
    const auto& groups = variables_->variables();
    if (values.size() != groups.size())
        throw std::runtime_error("ACircuit::setAllVariableValues: invalid values size");
    for (std::size_t i = 0; i < groups.size(); ++i)
        for (auto& p : groups[i]) p->setValue(values[i]);
}

void ACircuit::mergeVariables(const std::shared_ptr<ACircuit>& other) {
    variables_->merge(*other->variables_);
}

std::ostream& operator<<(std::ostream& os, const ACircuit& circuit) {
    return os << circuit.describe();
}

}  // namespace Circuit
