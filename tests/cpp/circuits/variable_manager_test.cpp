#include "circuits/variable_manager.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "circuits/parameter.h"

namespace {

using Symb::Parameter;
using Symb::VariableManager;

std::shared_ptr<Parameter> var(const std::string& name) {
    return std::make_shared<Parameter>(name);
}

std::vector<std::string> symbol_names(const VariableManager& vm) {
    std::vector<std::string> names;
    for (auto const& group : vm.variables()) names.push_back(group.at(0)->name());
    return names;
}

TEST(VariableManager, FixedParametersAreNotSymbols) {
    VariableManager vm;
    vm.addParameter(std::make_shared<Parameter>(0.5));
    EXPECT_EQ(vm.symbolCount(), 0u);
    EXPECT_EQ(vm.variableCount(), 0u);
    EXPECT_TRUE(vm.variables().empty());
}

TEST(VariableManager, SameNameGroupsIntoOneSymbol) {
    VariableManager vm;
    auto x1 = var("x");
    auto x2 = var("x");
    auto y = var("y");
    vm.addParameter(x1);
    vm.addParameter(y);
    vm.addParameter(x2);
    EXPECT_EQ(vm.symbolCount(), 2u);
    EXPECT_EQ(vm.variableCount(), 2u);
    ASSERT_EQ(vm.variables().size(), 2u);
    EXPECT_EQ(vm.variables()[0], (VariableManager::Group{x1, x2}));
    EXPECT_EQ(vm.variables()[1], (VariableManager::Group{y}));

    EXPECT_TRUE(vm.setValue("x", 0.75));
    EXPECT_EQ(x1->value(), 0.75);
    EXPECT_EQ(x2->value(), 0.75);
    EXPECT_FALSE(y->hasValue());

    EXPECT_FALSE(vm.setValue("z", 1.0));
    EXPECT_FALSE(y->hasValue());
    EXPECT_EQ(x1->value(), 0.75);
}

TEST(VariableManager, SymbolsWithValuesStayButNoLongerCountAsVariables) {
    VariableManager vm;
    auto x1 = var("x");
    auto x2 = var("x");
    vm.addParameter(x1);
    vm.addParameter(x2);
    x1->setValue(1.0);
    EXPECT_EQ(vm.variableCount(), 1u) << "one parameter of x still has no value";
    x2->setValue(1.0);
    EXPECT_EQ(vm.variableCount(), 0u);
    EXPECT_EQ(vm.symbolCount(), 1u);
    EXPECT_TRUE(vm.setValue("x", 2.0));
    EXPECT_EQ(x2->value(), 2.0);
}

TEST(VariableManager, MergeOrdersByMergeThenByName) {
    VariableManager other;
    auto b = var("b");
    auto a = var("a");
    other.addParameter(b);
    other.addParameter(a);
    EXPECT_EQ(symbol_names(other), (std::vector<std::string>{"b", "a"}));

    VariableManager vm;
    auto c = var("c");
    auto a2 = var("a");
    vm.addParameter(c);
    vm.addParameter(a2);
    vm.merge(other);
    EXPECT_EQ(symbol_names(vm), (std::vector<std::string>{"c", "a", "b"}));
    // Shared, not copied; a known name extends its group.
    EXPECT_EQ(vm.variables()[1], (VariableManager::Group{a2, a}));
    EXPECT_EQ(vm.variables()[2], (VariableManager::Group{b}));

    VariableManager empty;
    empty.merge(other);
    EXPECT_EQ(symbol_names(empty), (std::vector<std::string>{"a", "b"}));
}

TEST(VariableManager, MergeIsASnapshot) {
    VariableManager other;
    other.addParameter(var("a"));
    VariableManager vm;
    vm.merge(other);
    other.addParameter(var("b"));
    other.addParameter(var("a"));
    EXPECT_EQ(vm.symbolCount(), 1u);
    EXPECT_EQ(vm.variables()[0].size(), 1u);
}

TEST(VariableManager, MergingTwiceOrIntoItselfRepeatsParameters) {
    VariableManager other;
    auto a = var("a");
    other.addParameter(a);
    VariableManager vm;
    vm.merge(other);
    vm.merge(other);
    EXPECT_EQ(vm.variables()[0], (VariableManager::Group{a, a}));

    vm.merge(vm);
    EXPECT_EQ(vm.variables()[0], (VariableManager::Group{a, a, a, a}));
    EXPECT_EQ(vm.symbolCount(), 1u);
}

TEST(VariableManager, RefusesAnEmptyPointer) {
    VariableManager vm;
    EXPECT_THROW(vm.addParameter(nullptr), std::invalid_argument);
    EXPECT_EQ(vm.symbolCount(), 0u);
}

}  // namespace
