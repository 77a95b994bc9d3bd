#include "circuits/composite_circuit.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "circuit_test_support.h"
#include "circuits/barrier.h"
#include "circuits/beam_splitter.h"
#include "circuits/parameter.h"
#include "circuits/permutation.h"
#include "circuits/phase_shifter.h"
#include "circuits/unitary.h"
#include "test_support.h"

namespace {

using namespace Circuit;
using circuit_test::expect_near;
using circuit_test::haar_unitary;
using circuit_test::pi;
using Symb::Parameter;
using test_support::expect_throw_message;

using Composite = std::shared_ptr<CompositeCircuit>;

Composite composite(std::uint32_t m, const std::string& name = "") {
    return std::make_shared<CompositeCircuit>(m, name);
}

std::shared_ptr<ACircuit> shifter(const std::string& name) {
    return std::make_shared<PhaseShifter>(std::make_shared<Parameter>(name));
}

std::vector<std::string> symbol_names(const ACircuit& c) {
    std::vector<std::string> names;
    for (auto const& group : c.variableManager().variables()) names.push_back(group.at(0)->name());
    return names;
}

// The m x m identity with u on modes port to port + k - 1.
Matrix embed(Eigen::Index m, Eigen::Index port, const Matrix& u) {
    Matrix e = Matrix::Identity(m, m);
    e.block(port, port, u.rows(), u.cols()) = u;
    return e;
}

// The product of the embedded component unitaries, the first component rightmost.
Matrix reference_unitary(const CompositeCircuit& c) {
    Matrix r = Matrix::Identity(c.m, c.m);
    for (auto const& [port, component] : c.components()) {
        auto nested = std::dynamic_pointer_cast<CompositeCircuit>(component);
        const Matrix u = nested ? reference_unitary(*nested) : component->unitary();
        r = embed(c.m, port, u) * r;
    }
    return r;
}

// A random tree of every component kind, with fixed values, nested up to `depth` levels.
Composite random_circuit(std::uint32_t m, int depth, std::mt19937& rng) {
    auto c = composite(m);
    std::uniform_real_distribution<double> angle(-pi, pi);
    const int count = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int i = 0; i < count; ++i) {
        const int kind = std::uniform_int_distribution<int>(0, depth > 0 ? 8 : 7)(rng);
        std::uint32_t k = 1;
        if (kind <= 2) k = 2;
        if (kind >= 4) k = std::uniform_int_distribution<std::uint32_t>(1, m)(rng);
        if (k > m) continue;
        const std::uint32_t port = std::uniform_int_distribution<std::uint32_t>(0, m - k)(rng);
        auto p = [&] { return std::make_shared<Parameter>(angle(rng)); };
        std::shared_ptr<ACircuit> component;
        switch (kind) {
            case 0:
                component = std::make_shared<BeamSplitter_Rx>(p(), p(), p(), p(), p());
                break;
            case 1:
                component = std::make_shared<BeamSplitter_Ry>(p(), p(), p(), p(), p());
                break;
            case 2:
                component = std::make_shared<BeamSplitter_H>(p(), p(), p(), p(), p());
                break;
            case 3:
                component = std::make_shared<PhaseShifter>(p());
                break;
            case 4:
            case 5:
                component = std::make_shared<Unitary>(haar_unitary(int(k), rng), "u", false);
                break;
            case 6: {
                std::vector<int> v(k);
                std::iota(v.begin(), v.end(), 0);
                std::shuffle(v.begin(), v.end(), rng);
                component = std::make_shared<Permutation>(v);
                break;
            }
            case 7:
                component = std::make_shared<Barrier>(k, true);
                break;
            default:
                component = random_circuit(k, depth - 1, rng);
        }
        c->add(port, component);
    }
    return c;
}

class RandomCircuitTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomCircuitTest, UnitaryIsTheProductOfThePlacedComponentUnitaries) {
    std::mt19937 rng(GetParam());
    const auto m = std::uniform_int_distribution<std::uint32_t>(1, 7)(rng);
    const Composite c = random_circuit(m, 2, rng);
    const Matrix u = c->unitary();
    expect_near(u, reference_unitary(*c));
    EXPECT_TRUE(is_unitary(u, 1e-10));
    // Copies, flattened or not, act the same.
    expect_near(c->clone()->unitary(), u);
    expect_near(CompositeCircuit(c, true).unitary(), u);
    expect_near(CompositeCircuit(c, false).unitary(), u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomCircuitTest, ::testing::Range(1u, 41u));

TEST(CompositeCircuit, EmptyIsTheIdentity) {
    const CompositeCircuit c(3, "");
    EXPECT_EQ(c.unitary(), Matrix::Identity(3, 3));
    EXPECT_EQ(c.describe(), "[ modes: 3\n]");
    EXPECT_EQ(c.componentCount(), 0u);
    const std::uint32_t no_modes = 0;
    EXPECT_EQ(CompositeCircuit(no_modes, "none").unitary().size(), 0);
}

TEST(CompositeCircuit, LaterComponentsMultiplyFromTheLeft) {
    auto first = std::make_shared<BeamSplitter_Ry>(0.8);
    auto second = std::make_shared<BeamSplitter_Rx>(1.9);
    auto c = composite(2);
    c->add(0, first).add(0, second);
    expect_near(c->unitary(), second->unitary() * first->unitary());

    // A phase on mode 1 after a permutation that brings input 0 there.
    auto p = composite(2);
    p->add(0, std::make_shared<Permutation>(std::vector<int>{1, 0}))
        .add(1, std::make_shared<PhaseShifter>(pi / 2));
    Matrix expected = Matrix::Zero(2, 2);
    expected(0, 1) = 1;
    expected(1, 0) = circuit_test::cx(0, 1);
    expect_near(p->unitary(), expected, 1e-15);
}

struct TextCase {
    std::string name;
    std::function<Composite()> make;
    std::string text;
};

class CompositeTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(CompositeTextTest, Describes) {
    const Composite c = GetParam().make();
    EXPECT_EQ(c->describe(), GetParam().text);
    std::ostringstream os;
    os << *c;
    EXPECT_EQ(os.str(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompositeTextTest,
    ::testing::Values(
        TextCase{"mesh",
                 [] {
                     auto c = composite(2, "mesh");
                     c->add(0, std::make_shared<BeamSplitter_Rx>(1.5707963));
                     return c;
                 },
                 "[ modes: 2, name: mesh\nBeamSplitter_Rx(1.5708,0,0,0,0), h pos: 0\n]"},
        TextCase{"nested_inserted_unchanged",
                 [] {
                     auto inner = composite(2, "in");
                     inner->add(1, std::make_shared<PhaseShifter>(0.5));
                     auto c = composite(4);
                     c->add(0, std::make_shared<Barrier>(4, false))
                         .add(2, std::shared_ptr<ACircuit>(inner))
                         .add(1, std::make_shared<Permutation>(std::vector<int>{2, 0, 1}));
                     return c;
                 },
                 "[ modes: 4\nBarrier(4, 0), h pos: 0\n[ modes: 2, name: in\nPhaseShifter(0.5), "
                 "h pos: 1\n], h pos: 2\nPERM({2, 0, 1}), h pos: 1\n]"}),
    [](auto const& info) { return info.param.name; });

struct FitCase {
    std::string name;
    std::uint32_t m;
    std::uint32_t port;
    std::uint32_t k;
    // Empty when it fits.
    std::string error;
};

class CompositeFitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(CompositeFitTest, AddsOnlyWhatFitsAndChangesNothingOtherwise) {
    const FitCase& c = GetParam();
    auto circuit = composite(c.m);
    circuit->add(0, std::make_shared<Barrier>(1, true));
    const std::string before = circuit->describe();
    auto component = std::make_shared<Barrier>(c.k, true);
    if (c.error.empty()) {
        circuit->add(c.port, component);
        ASSERT_EQ(circuit->componentCount(), 2u);
        EXPECT_EQ(circuit->components().back().port, c.port);
        EXPECT_EQ(circuit->components().back().component, component);
        return;
    }
    expect_throw_message<std::out_of_range>([&] { circuit->add(c.port, component); }, c.error);
    EXPECT_EQ(circuit->componentCount(), 1u);
    EXPECT_EQ(circuit->describe(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompositeFitTest,
    ::testing::Values(FitCase{"reaches_last_mode", 3, 1, 2, ""},
                      FitCase{"whole_width", 3, 0, 3, ""},
                      FitCase{"one_mode_further", 2, 1, 2,
                              "Cannot add a 2-mode component on mode 1"},
                      FitCase{"too_wide", 3, 0, 4, "Cannot add a 4-mode component on mode 0"},
                      FitCase{"port_past_end", 3, 3, 1, "Cannot add a 1-mode component on mode 3"},
                      // port + k wraps in 32 bits.
                      FitCase{"wrapping_port", 3, 0xFFFFFFFFu, 2,
                              "Cannot add a 2-mode component on mode 4294967295"}),
    [](auto const& info) { return info.param.name; });

TEST(CompositeCircuit, AddingACompositeAsOneChildOrByItsChildren) {
    auto inner = composite(3, "inner");
    auto b = shifter("b");
    auto a = shifter("a");
    inner->add(0, b).add(2, a);
    EXPECT_EQ(symbol_names(*inner), (std::vector<std::string>{"b", "a"}));

    auto whole = composite(5);
    whole->add(1, inner, false);
    ASSERT_EQ(whole->componentCount(), 1u);
    EXPECT_EQ(whole->components().front().component, inner);
    EXPECT_EQ(symbol_names(*whole), (std::vector<std::string>{"a", "b"}));

    auto unpacked = composite(5);
    unpacked->add(1, inner, true);
    ASSERT_EQ(unpacked->componentCount(), 2u);
    EXPECT_EQ(unpacked->components().front().port, 1u);
    EXPECT_EQ(unpacked->components().front().component, b);
    EXPECT_EQ(unpacked->components().back().port, 3u);
    EXPECT_EQ(unpacked->components().back().component, a);
    EXPECT_EQ(symbol_names(*unpacked), (std::vector<std::string>{"b", "a"}));

    // Shared parameters: a value set through the parent reaches the child.
    unpacked->setVariableValue("a", 1.0);
    EXPECT_EQ(inner->components().back().component->parameters()[0]->value(), 1.0);
}

TEST(CompositeCircuit, MergingAddIsAllOrNothing) {
    auto inner = composite(4);
    inner->add(0, shifter("x")).add(2, std::make_shared<BeamSplitter_Rx>(0.3));
    auto parent = composite(4, "parent");
    parent->add(0, std::make_shared<Barrier>(4, true));
    const std::string before = parent->describe();
    // The first child fits at port 1, the second (on modes 3 and 4) does not.
    expect_throw_message<std::out_of_range>([&] { parent->add(1, inner, true); },
                                            "Cannot add a 2-mode component on mode 3");
    EXPECT_EQ(parent->componentCount(), 1u);
    EXPECT_EQ(parent->variableManager().symbolCount(), 0u);
    EXPECT_EQ(parent->describe(), before);
    // Nested ports that pass 2^32 are refused too, not wrapped.
    expect_throw_message<std::out_of_range>([&] { parent->add(0xFFFFFFFEu, inner, true); },
                                            "Cannot add a 1-mode component on mode 4294967294");
    EXPECT_EQ(parent->componentCount(), 1u);
}

TEST(CompositeCircuit, MergingACompositeIntoItselfRepeatsItsChildren) {
    auto c = composite(2);
    c->add(0, std::make_shared<BeamSplitter_Ry>(0.4));
    c->add(0, c, true);
    ASSERT_EQ(c->componentCount(), 2u);
    EXPECT_EQ(c->components().front().component, c->components().back().component);
}

TEST(CompositeCircuit, FlatteningPlacesCopiesOfTheLeavesAtAbsolutePorts) {
    auto innermost = composite(2);
    auto named = shifter("phi");
    auto anonymous = std::make_shared<PhaseShifter>(std::make_shared<Parameter>());
    innermost->add(1, named).add(0, anonymous);
    auto middle = composite(3);
    middle->add(0, std::make_shared<BeamSplitter_H>(0.2));
    middle->add(1, std::shared_ptr<ACircuit>(innermost));
    auto outer = composite(6, "outer");
    outer->add(2, std::shared_ptr<ACircuit>(middle));

    const CompositeCircuit flat(outer, true);
    EXPECT_EQ(flat.name(), "");
    ASSERT_EQ(flat.componentCount(), 3u);
    std::vector<std::uint32_t> ports;
    for (auto const& [port, c] : flat.components()) {
        ports.push_back(port);
        EXPECT_EQ(std::dynamic_pointer_cast<CompositeCircuit>(c), nullptr);
    }
    EXPECT_EQ(ports, (std::vector<std::uint32_t>{2, 4, 3}));
    const auto& copied_named = std::next(flat.components().begin())->component;
    EXPECT_NE(copied_named, named);
    EXPECT_EQ(copied_named->parameters()[0]->name(), "phi");
    EXPECT_NE(flat.components().back().component->parameters()[0]->name(),
              anonymous->parameters()[0]->name());
    EXPECT_EQ(flat.variableManager().symbolCount(), 2u);

    const CompositeCircuit nested(outer, false);
    ASSERT_EQ(nested.componentCount(), 1u);
    EXPECT_NE(nested.components().front().component, middle);
    EXPECT_NE(std::dynamic_pointer_cast<CompositeCircuit>(nested.components().front().component),
              nullptr);
}

TEST(CompositeCircuit, FlatteningIntoACompositeIsAllOrNothing) {
    auto source = composite(3);
    source->add(0, shifter("a")).add(2, shifter("b"));
    auto target = composite(4);
    expect_throw_message<std::out_of_range>([&] { target->addFlattenComponents(2, source); },
                                            "Cannot add a 1-mode component on mode 4");
    EXPECT_EQ(target->componentCount(), 0u);
    EXPECT_EQ(target->variableManager().symbolCount(), 0u);
    target->addFlattenComponents(1, source);
    EXPECT_EQ(target->componentCount(), 2u);
    EXPECT_EQ(symbol_names(*target), (std::vector<std::string>{"a", "b"}));
}

TEST(CompositeCircuit, CopiesAreDeepAndRenameAnonymousSymbols) {
    auto anonymous = std::make_shared<Parameter>();
    auto source = composite(2, "src");
    source->add(0, std::make_shared<BeamSplitter_Rx>(anonymous, std::make_shared<Parameter>(0.0),
                                                     std::make_shared<Parameter>(0.0),
                                                     std::make_shared<Parameter>(0.0),
                                                     std::make_shared<Parameter>(0.0)));
    source->add(1, shifter("phi"));

    auto copy = std::dynamic_pointer_cast<CompositeCircuit>(source->clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->name(), "src");
    EXPECT_EQ(copy->componentCount(), 2u);
    const auto names = symbol_names(*copy);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], anonymous->name());
    EXPECT_EQ(names[1], "phi");
    EXPECT_NE(copy->components().front().component, source->components().front().component);

    copy->setAllVariableValues({0.5, 0.25});
    EXPECT_FALSE(anonymous->hasValue());
    EXPECT_EQ(source->variableCount(), 2u);
    EXPECT_EQ(copy->variableCount(), 0u);
    expect_throw_message<std::runtime_error>([&] { (void)source->unitary(); },
                                             "Parameter has no value");
    source->setAllVariableValues({0.5, 0.25});
    expect_near(copy->unitary(), source->unitary());
}

TEST(CompositeCircuit, SetsVariablesByNameOrAllInSymbolOrder) {
    auto c = composite(3);
    auto x1 = std::make_shared<Parameter>("x");
    auto x2 = std::make_shared<Parameter>("x");
    c->add(0, std::make_shared<PhaseShifter>(x1))
        .add(2, std::make_shared<PhaseShifter>(x2))
        .add(1, shifter("w"));
    EXPECT_EQ(c->variableCount(), 2u);
    EXPECT_EQ(symbol_names(*c), (std::vector<std::string>{"x", "w"}));

    expect_throw_message<std::runtime_error>([&] { c->setVariableValue("zz", 1.0); },
                                             "ACircuit::setVariableValue: symbol 'zz' not found");
    expect_throw_message<std::runtime_error>([&] { c->setAllVariableValues({1.0}); },
                                             "ACircuit::setAllVariableValues: invalid values size");
    expect_throw_message<std::runtime_error>(
        [&] {
            c->setAllVariableValues({1.0, 2.0, 3.0});
        },
        "ACircuit::setAllVariableValues: invalid values size");
    EXPECT_FALSE(x1->hasValue());

    c->setVariableValue("x", pi);
    EXPECT_EQ(x2->value(), pi);
    EXPECT_EQ(c->variableCount(), 1u);
    // Symbols whose parameters hold values still take a value.
    c->setAllVariableValues({0.0, pi / 2});
    EXPECT_EQ(x1->value(), 0.0);
    Matrix expected = Matrix::Identity(3, 3);
    expected(1, 1) = circuit_test::cx(0, 1);
    expect_near(c->unitary(), expected, 1e-15);

    auto fixed = composite(1);
    fixed->add(0, std::make_shared<PhaseShifter>(0.1));
    fixed->setAllVariableValues({});
    EXPECT_EQ(fixed->variableManager().symbolCount(), 0u);
}

// Orthonormal columns but more rows than modes: a shape no composite can place.
class TallComponent : public ACircuit {
  public:
    TallComponent() : ACircuit(2) {}
    std::shared_ptr<ACircuit> clone() const override { return std::make_shared<TallComponent>(); }
    Matrix unitary() const override { return Matrix::Identity(3, 2); }
    std::string describe() const override { return "Tall"; }
    void accept(ICircuitVisitor&) const override {}
};

struct ShapeCase {
    std::string name;
    std::function<std::shared_ptr<ACircuit>()> make;
    std::string message;
};

class CompositeShapeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(CompositeShapeTest, RefusesToMultiplyAComponentThatIsNotKByK) {
    std::mt19937 rng(3);
    auto c = composite(4);
    c->add(0, std::make_shared<BeamSplitter_Rx>(0.5));
    c->add(1, GetParam().make());
    expect_throw_message<std::runtime_error>([&] { (void)c->unitary(); }, GetParam().message);
    // Nested, the refusal comes up through the parent.
    auto parent = composite(5);
    parent->add(1, std::shared_ptr<ACircuit>(c));
    expect_throw_message<std::runtime_error>([&] { (void)parent->unitary(); }, GetParam().message);
    // The rest of the composite still works.
    EXPECT_NO_THROW((void)c->describe());
    EXPECT_NO_THROW((void)c->clone());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompositeShapeTest,
    ::testing::Values(ShapeCase{"polarised",
                                [] {
                                    std::mt19937 rng(3);
                                    return std::make_shared<Unitary>(haar_unitary(4, rng), "pol",
                                                                     true);
                                },
                                "CompositeCircuit::unitary: a 4x4 matrix cannot act on 2 modes"},
                      ShapeCase{"tall", [] { return std::make_shared<TallComponent>(); },
                                "CompositeCircuit::unitary: a 3x2 matrix cannot act on 2 modes"}),
    [](auto const& info) { return info.param.name; });

TEST(CompositeCircuit, RefusesEmptyPointers) {
    auto c = composite(2);
    EXPECT_THROW(c->add(0, std::shared_ptr<ACircuit>()), std::invalid_argument);
    EXPECT_THROW(c->add(0, Composite(), true), std::invalid_argument);
    EXPECT_THROW(c->addFlattenComponents(0, Composite()), std::invalid_argument);
    EXPECT_THROW(CompositeCircuit(Composite(), true), std::invalid_argument);
    EXPECT_EQ(c->componentCount(), 0u);
}

}  // namespace
