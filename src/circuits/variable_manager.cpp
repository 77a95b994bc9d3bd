#include "circuits/variable_manager.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace Symb {

void VariableManager::addParameter(std::shared_ptr<Parameter> p) {
    if (!p) throw std::invalid_argument("VariableManager::addParameter: empty parameter");
    if (p->hasValue()) return;
    auto [it, inserted] = index_.try_emplace(p->name(), groups_.size());
    if (inserted)
        groups_.emplace_back(1, std::move(p));
    else
        groups_.at(it->second).push_back(std::move(p));
}

bool VariableManager::setValue(const std::string& name, double value) {
    auto it = index_.find(name);
    if (it == index_.end()) return false;
    for (auto& p : groups_.at(it->second)) p->setValue(value);
    return true;
}

std::uint32_t VariableManager::variableCount() const {
    return static_cast<std::uint32_t>(std::count_if(groups_.begin(), groups_.end(), [](auto& g) {
        return std::any_of(g.begin(), g.end(), [](auto& p) { return !p->hasValue(); });
    }));
}

void VariableManager::merge(const VariableManager& other) {
    if (&other == this) {
        // Appending a group to itself would read it while it grows.
        const VariableManager snapshot = other;
        merge(snapshot);
        return;
    }
    for (auto const& [name, position] : other.index_) {
        const Group& source = other.groups_.at(position);
        auto [it, inserted] = index_.try_emplace(name, groups_.size());
        if (inserted) {
            groups_.push_back(source);
        } else {
            Group& target = groups_.at(it->second);
            target.insert(target.end(), source.begin(), source.end());
        }
    }
}

}  // namespace Symb
