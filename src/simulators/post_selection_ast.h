#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

// The syntax tree of a post-selection expression: conditions on the photon total of a mode set
// (the leaves) combined by AND, OR, XOR and NOT. A node owns its subtree by value.
namespace post_selection::ast {

struct GenericNode;

class INode {
  public:
    virtual ~INode() = default;

    // counts: one photon count per mode of the tested state; a mode beyond them holds none.
    virtual bool evaluate(std::vector<int> const& counts) const = 0;
    // Whether `modes` lies wholly inside or wholly outside every condition's mode list.
    virtual bool canComposeWith(std::vector<int> const& modes) const = 0;
    // Adds every mode named in the subtree to `modes`.
    virtual void getModes(std::set<int>& modes) const = 0;
    virtual void shiftModes(int offset) = 0;
    // A mode m in [firstMode, firstMode + size) becomes firstMode + permutation[m - firstMode].
    virtual void applyPermutation(std::vector<int> const& permutation, int firstMode) = 0;
    // Sorts the mode lists and throws std::runtime_error on an invalid condition.
    virtual void verify() = 0;
    // The tree with a negation moved down by one level.
    virtual GenericNode propagateNot() const = 0;
    // (flag, need): need > 0: reachable with at least `need` more photons; otherwise the node is
    // out of reach when the flag is set, met when it is not. `remaining`: photons still to come.
    virtual std::pair<bool, int> filterState(std::vector<int> const& counts,
                                             int remaining) const = 0;
    virtual std::string getOperatorSymbol() const = 0;
    virtual std::string toString() const = 0;

  protected:
    INode() = default;
    INode(INode const&) = default;
    INode(INode&&) = default;
    INode& operator=(INode const&) = default;
    INode& operator=(INode&&) = default;
};

namespace LeafNodes {

class ANode : public INode {
  public:
    ANode() = default;
    ANode(std::vector<int> modes, int photonCount)
        : modes(std::move(modes)), photonCount(photonCount) {}

    bool evaluate(std::vector<int> const& counts) const override;
    bool canComposeWith(std::vector<int> const& modes) const override;
    void getModes(std::set<int>& modes) const override;
    void shiftModes(int offset) override;
    void applyPermutation(std::vector<int> const& permutation, int firstMode) override;
    void verify() override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string toString() const override;
    virtual std::function<bool(int, int)> getOperatorFn() const = 0;

    bool isEqual(ANode const& other) const;
    // The photons found in `modes`, as a 64-bit sum.
    long long total(std::vector<int> const& counts) const;

    std::vector<int> modes;
    int photonCount = 0;
};

class Equal final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

class NotEqual final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

class GreaterThan final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

class GreaterOrEqual final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

class LessThan final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

class LessOrEqual final : public ANode {
  public:
    using ANode::ANode;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
    std::function<bool(int, int)> getOperatorFn() const override;
};

}  // namespace LeafNodes

namespace OperatorNodes {

class ANode : public INode {
  public:
    ANode() = default;
    explicit ANode(std::vector<GenericNode> children);

    bool canComposeWith(std::vector<int> const& modes) const override;
    void getModes(std::set<int>& modes) const override;
    void shiftModes(int offset) override;
    void applyPermutation(std::vector<int> const& permutation, int firstMode) override;
    void verify() override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string toString() const override;

    // Same kind, as many children, and every child of either side matches one of the other.
    bool isEqual(ANode const& other) const;

    std::vector<GenericNode> children;
};

// The parser gives every logic node an operand; for a Not or an Xor built without children by
// other code, the absent first child stands for an empty Or: always false, printed "()".
class Or final : public ANode {
  public:
    using ANode::ANode;
    bool evaluate(std::vector<int> const& counts) const override;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
};

class And final : public ANode {
  public:
    using ANode::ANode;
    bool evaluate(std::vector<int> const& counts) const override;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
};

class Xor final : public ANode {
  public:
    using ANode::ANode;
    bool evaluate(std::vector<int> const& counts) const override;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
};

class Not final : public ANode {
  public:
    Not() = default;
    // Exactly one child, else std::runtime_error.
    explicit Not(std::vector<GenericNode> children);
    void verify() override;
    std::string toString() const override;
    bool evaluate(std::vector<int> const& counts) const override;
    GenericNode propagateNot() const override;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const override;
    std::string getOperatorSymbol() const override;
};

}  // namespace OperatorNodes

// The kinds in this order give the index of the variant.
using NodeVariant =
    std::variant<LeafNodes::Equal, LeafNodes::NotEqual, LeafNodes::GreaterThan,
                 LeafNodes::GreaterOrEqual, LeafNodes::LessThan, LeafNodes::LessOrEqual,
                 OperatorNodes::Or, OperatorNodes::And, OperatorNodes::Xor, OperatorNodes::Not>;

// Any node by value; a default one holds an Equal with no mode and a photon count of 0.
struct GenericNode : NodeVariant {
    using NodeVariant::NodeVariant;
    using NodeVariant::operator=;

    NodeVariant& variant() { return *this; }
    NodeVariant const& variant() const { return *this; }
    INode& node();
    INode const& node() const;
    bool isLeaf() const { return index() < 6; }
    LeafNodes::ANode const& leaf() const;
    OperatorNodes::ANode const& logic() const;
    OperatorNodes::ANode& logic();

    bool evaluate(std::vector<int> const& counts) const { return node().evaluate(counts); }
    bool canComposeWith(std::vector<int> const& modes) const {
        return node().canComposeWith(modes);
    }
    void getModes(std::set<int>& modes) const { node().getModes(modes); }
    void shiftModes(int offset) { node().shiftModes(offset); }
    void applyPermutation(std::vector<int> const& permutation, int firstMode) {
        node().applyPermutation(permutation, firstMode);
    }
    void verify() { node().verify(); }
    GenericNode propagateNot() const;
    std::pair<bool, int> filterState(std::vector<int> const& counts, int remaining) const {
        return node().filterState(counts, remaining);
    }
    std::string getOperatorSymbol() const { return node().getOperatorSymbol(); }
    std::string toString() const { return node().toString(); }
};

namespace OperatorNodes {

GenericNode getOppositeOperatorNode(Not const& node);
Xor getOppositeOperatorNode(Xor const& node);
// And -> Or of the negated children, Or -> And of the negated children.
template <typename From, typename To>
To getOppositeOperatorNode(From const& node);

}  // namespace OperatorNodes

namespace Visitors {

// Structural equality with the node given at construction; children match in any order.
class Equal {
  public:
    explicit Equal(GenericNode const& node) : node_(node) {}
    bool operator()(GenericNode const& other) const;

  private:
    GenericNode const& node_;
};

}  // namespace Visitors

// The root of one expression.
class Predicate {
  public:
    Predicate() = default;
    explicit Predicate(GenericNode root) : root(std::move(root)) {}

    bool operator==(Predicate const& other) const;
    // This predicate becomes the AND of itself and `other`, AND nodes flattened.
    void merge(Predicate const& other);

    GenericNode root;
};

}  // namespace post_selection::ast

template <>
struct fmt::formatter<post_selection::ast::GenericNode> : fmt::formatter<std::string_view> {
    auto format(post_selection::ast::GenericNode const& node, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(node.toString(), ctx);
    }
};
