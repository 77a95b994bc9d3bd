#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "circuits/i_circuit_visitor.h"
#include "circuits/parameter.h"
#include "circuits/variable_manager.h"
#include "runtime/matrix.h"

namespace Circuit {

// A node of the optical component tree, acting on `m` modes. Each node owns its variable
// manager; the parameters are shared with every composite that holds the node.
class ACircuit {
  public:
    explicit ACircuit(std::uint32_t m);
    // Copies are made by the concrete classes, with fresh parameters and a fresh manager.
    ACircuit(const ACircuit&) = delete;
    ACircuit& operator=(const ACircuit&) = delete;
    virtual ~ACircuit() = default;

    // Deep copy of the node and its subtree, with fresh parameter objects.
    virtual std::shared_ptr<ACircuit> clone() const = 0;
    // The m x m unitary; element (j, k) carries light from input mode k to output mode j.
    virtual Matrix unitary() const = 0;
    virtual std::string describe() const = 0;
    // Calls the visitor's overload for the node's concrete class, once.
    virtual void accept(ICircuitVisitor& visitor) const = 0;

    // Appends `p` and registers it as a symbol when it has no value; an empty `p` is ignored.
    void addParameter(std::shared_ptr<Symb::Parameter> p);
    const std::vector<std::shared_ptr<Symb::Parameter>>& parameters() const { return parameters_; }
    const Symb::VariableManager& variableManager() const { return *variables_; }
    std::uint32_t variableCount() const { return variables_->variableCount(); }
    // Throws std::runtime_error when no symbol has this name.
    void setVariableValue(const std::string& name, double value);
    // One value per symbol, in the manager's order (values already set included); throws
    // std::runtime_error, setting nothing, when the count differs.
    void setAllVariableValues(const std::vector<double>& values);
    void mergeVariables(const std::shared_ptr<ACircuit>& other);

    const std::uint32_t m;

  protected:
    std::vector<std::shared_ptr<Symb::Parameter>> parameters_;

  private:
    std::shared_ptr<Symb::VariableManager> variables_;
};

std::ostream& operator<<(std::ostream& os, const ACircuit& circuit);

}  // namespace Circuit
