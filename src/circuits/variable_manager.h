#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "circuits/parameter.h"

namespace Symb {

// The symbols of one circuit object: its value-less parameters grouped by name, one group per
// symbol in order of creation. Setting a symbol sets every parameter of its group.
class VariableManager {
  public:
    using Group = std::vector<std::shared_ptr<Parameter>>;

    // Registers `p` under its name when it has no value; fixed parameters are not symbols.
    // Throws std::invalid_argument for an empty pointer.
    void addParameter(std::shared_ptr<Parameter> p);
    // False when no symbol has this name.
    bool setValue(const std::string& name, double value);
    // Symbols with at least one parameter still without a value.
    std::uint32_t variableCount() const;
    std::uint32_t symbolCount() const { return static_cast<std::uint32_t>(groups_.size()); }
    const std::vector<Group>& variables() const { return groups_; }
    // Appends the other manager's symbols in ascending name order, sharing its parameters; a
    // name already known here extends its group. A snapshot: later symbols of `other` are not
    // seen.
    void merge(const VariableManager& other);

  private:
    std::map<std::string, std::uint64_t> index_;
    std::vector<Group> groups_;
};

}  // namespace Symb
