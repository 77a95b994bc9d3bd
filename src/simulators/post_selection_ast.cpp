#include "simulators/post_selection_ast.h"

#include <algorithm>
#include <climits>
#include <compare>
#include <map>
#include <optional>
#include <stdexcept>

#include <fmt/ranges.h>

namespace post_selection::ast {

namespace {

int clamped(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// Equal trees get equal ids: a leaf by its kind, count and mode list, a logic node by its kind,
// its child count and the set of its children's ids. Each node is looked at once, so comparing
// deep trees stays polynomial.
class Canon {
  public:
    int id(GenericNode const& node) {
        Key key{node.index(), 0, {}};
        if (node.isLeaf()) {
            key.count = node.leaf().photonCount;
            key.items = node.leaf().modes;
        } else {
            key.count = static_cast<long long>(node.logic().children.size());
            key.items = child_ids(node.logic());
        }
        const int next = static_cast<int>(ids_.size());
        return ids_.try_emplace(std::move(key), next).first->second;
    }

    std::vector<int> child_ids(OperatorNodes::ANode const& node) {
        std::vector<int> ids;
        ids.reserve(node.children.size());
        for (GenericNode const& child : node.children) ids.push_back(id(child));
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        return ids;
    }

  private:
    struct Key {
        std::size_t kind;
        long long count;
        std::vector<int> items;
        auto operator<=>(Key const&) const = default;
    };
    std::map<Key, int> ids_;
};

// An absent first child of a Not or an Xor is an empty Or (false).
GenericNode first_child(OperatorNodes::ANode const& node) {
    if (node.children.empty()) return OperatorNodes::Or();
    return node.children.front();
}

OperatorNodes::Not negation_of(GenericNode child) {
    std::vector<GenericNode> children;
    children.push_back(std::move(child));
    return OperatorNodes::Not(std::move(children));
}

template <typename Node_t>
GenericNode with_negated_children(OperatorNodes::ANode const& node) {
    std::vector<GenericNode> children;
    children.reserve(node.children.size());
    for (GenericNode const& child : node.children) children.push_back(child.propagateNot());
    return Node_t(std::move(children));
}

template <typename Leaf_t>
GenericNode leaf_like(LeafNodes::ANode const& leaf) {
    return Leaf_t(leaf.modes, leaf.photonCount);
}

// Equal, GreaterThan and GreaterOrEqual: `need` more photons make the condition hold.
std::pair<bool, int> reach(long long need, int remaining, bool flag) {
    if (remaining < need) return {true, 0};
    return {flag, clamped(need)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Leaves

namespace LeafNodes {

long long ANode::total(std::vector<int> const& counts) const {
    long long sum = 0;
    for (const int mode : modes)
        if (mode >= 0 && static_cast<std::size_t>(mode) < counts.size())
            sum += counts[static_cast<std::size_t>(mode)];
    return sum;
}

bool ANode::evaluate(std::vector<int> const& counts) const {
    return getOperatorFn()(clamped(total(counts)), photonCount);
}

bool ANode::canComposeWith(std::vector<int> const& given) const {
    if (given.empty()) return true;
    const bool sorted = std::is_sorted(modes.begin(), modes.end());
    auto inside = [&](int mode) {
        return sorted ? std::binary_search(modes.begin(), modes.end(), mode)
                      : std::find(modes.begin(), modes.end(), mode) != modes.end();
    };
    const bool first = inside(given.front());
    return std::all_of(given.begin() + 1, given.end(),
                       [&](int mode) { return inside(mode) == first; });
}

void ANode::getModes(std::set<int>& out) const {
    out.insert(modes.begin(), modes.end());
}

void ANode::shiftModes(int offset) {
    for (int& mode : modes) mode += offset;
}

void ANode::applyPermutation(std::vector<int> const& permutation, int firstMode) {
    const auto size = static_cast<long long>(permutation.size());
    for (int& mode : modes) {
        const long long k = static_cast<long long>(mode) - firstMode;
        if (k >= 0 && k < size) mode = firstMode + permutation[static_cast<std::size_t>(k)];
    }
    std::sort(modes.begin(), modes.end());
}

void ANode::verify() {
    if (!modes.empty()) {
        std::sort(modes.begin(), modes.end());
        if (std::adjacent_find(modes.begin(), modes.end()) != modes.end())
            throw std::runtime_error(fmt::format("[{}] should be a set.", fmt::join(modes, ", ")));
        if (modes.front() < 0)
            throw std::runtime_error(
                fmt::format("[{}] should contains only positive value.", fmt::join(modes, ", ")));
    }
    if (photonCount < 0)
        throw std::runtime_error(
            fmt::format("Expected photon number must be greater or equal to zero, instead is {}.",
                        photonCount));
}

std::pair<bool, int> ANode::filterState(std::vector<int> const&, int) const {
    return {false, 0};
}

std::string ANode::toString() const {
    return fmt::format("[{}] {} {}", fmt::join(modes, ", "), getOperatorSymbol(), photonCount);
}

bool ANode::isEqual(ANode const& other) const {
    return photonCount == other.photonCount && modes == other.modes &&
           getOperatorSymbol() == other.getOperatorSymbol();
}

GenericNode Equal::propagateNot() const {
    return *this;
}
GenericNode NotEqual::propagateNot() const {
    return *this;
}
GenericNode GreaterThan::propagateNot() const {
    return *this;
}
GenericNode GreaterOrEqual::propagateNot() const {
    return *this;
}
GenericNode LessThan::propagateNot() const {
    return *this;
}
GenericNode LessOrEqual::propagateNot() const {
    return *this;
}

std::pair<bool, int> Equal::filterState(std::vector<int> const& counts, int remaining) const {
    const long long need = photonCount - total(counts);
    return reach(need, remaining, need != 0);
}

std::pair<bool, int> GreaterThan::filterState(std::vector<int> const& counts, int remaining) const {
    const long long need = photonCount + 1LL - total(counts);
    return reach(need, remaining, need > 0);
}

std::pair<bool, int> GreaterOrEqual::filterState(std::vector<int> const& counts,
                                                 int remaining) const {
    const long long need = photonCount - total(counts);
    return reach(need, remaining, need > 0);
}

// Photons are only ever added: an upper bound that fails stays failed.
std::pair<bool, int> LessThan::filterState(std::vector<int> const& counts, int) const {
    return {!evaluate(counts), 0};
}

std::pair<bool, int> LessOrEqual::filterState(std::vector<int> const& counts, int) const {
    return {!evaluate(counts), 0};
}

std::pair<bool, int> NotEqual::filterState(std::vector<int> const& counts, int remaining) const {
    const bool holds = evaluate(counts);
    return {!holds, (holds ? 0 : 1) - (remaining == 0 ? 1 : 0)};
}

std::string Equal::getOperatorSymbol() const {
    return "==";
}
std::string NotEqual::getOperatorSymbol() const {
    return "!=";
}
std::string GreaterThan::getOperatorSymbol() const {
    return ">";
}
std::string GreaterOrEqual::getOperatorSymbol() const {
    return ">=";
}
std::string LessThan::getOperatorSymbol() const {
    return "<";
}
std::string LessOrEqual::getOperatorSymbol() const {
    return "<=";
}

std::function<bool(int, int)> Equal::getOperatorFn() const {
    return std::equal_to<int>();
}
std::function<bool(int, int)> NotEqual::getOperatorFn() const {
    return std::not_equal_to<int>();
}
std::function<bool(int, int)> GreaterThan::getOperatorFn() const {
    return std::greater<int>();
}
std::function<bool(int, int)> GreaterOrEqual::getOperatorFn() const {
    return std::greater_equal<int>();
}
std::function<bool(int, int)> LessThan::getOperatorFn() const {
    return std::less<int>();
}
std::function<bool(int, int)> LessOrEqual::getOperatorFn() const {
    return std::less_equal<int>();
}

}  // namespace LeafNodes

// ---------------------------------------------------------------------------------------------
// Logic nodes

namespace OperatorNodes {

ANode::ANode(std::vector<GenericNode> children) : children(std::move(children)) {}

bool ANode::canComposeWith(std::vector<int> const& modes) const {
    return std::all_of(children.begin(), children.end(),
                       [&](GenericNode const& child) { return child.canComposeWith(modes); });
}

void ANode::getModes(std::set<int>& modes) const {
    for (GenericNode const& child : children) child.getModes(modes);
}

void ANode::shiftModes(int offset) {
    for (GenericNode& child : children) child.shiftModes(offset);
}

void ANode::applyPermutation(std::vector<int> const& permutation, int firstMode) {
    for (GenericNode& child : children) child.applyPermutation(permutation, firstMode);
}

void ANode::verify() {
    for (GenericNode& child : children) child.verify();
}

std::pair<bool, int> ANode::filterState(std::vector<int> const&, int) const {
    return {false, 0};
}

std::string ANode::toString() const {
    const std::string separator = fmt::format(" {} ", getOperatorSymbol());
    std::string text = "(";
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) text += separator;
        // A negation reaches as far right as it can: unless it comes last, it is closed here so
        // that the text reads back as the same tree.
        if (children[i].index() == 9 && i + 1 < children.size())
            text += fmt::format("({})", children[i].toString());
        else
            text += children[i].toString();
    }
    return text + ")";
}

bool ANode::isEqual(ANode const& other) const {
    if (children.size() != other.children.size() ||
        getOperatorSymbol() != other.getOperatorSymbol())
        return false;
    Canon canon;
    return canon.child_ids(*this) == canon.child_ids(other);
}

Not::Not(std::vector<GenericNode> children) : ANode(std::move(children)) {
    if (this->children.size() != 1)
        throw std::runtime_error("Can't create a not node with more than one node");
}

bool Or::evaluate(std::vector<int> const& counts) const {
    return std::any_of(children.begin(), children.end(),
                       [&](GenericNode const& child) { return child.evaluate(counts); });
}

bool And::evaluate(std::vector<int> const& counts) const {
    return std::all_of(children.begin(), children.end(),
                       [&](GenericNode const& child) { return child.evaluate(counts); });
}

bool Xor::evaluate(std::vector<int> const& counts) const {
    bool odd = false;
    for (GenericNode const& child : children) odd ^= child.evaluate(counts);
    return odd;
}

bool Not::evaluate(std::vector<int> const& counts) const {
    return children.empty() || !children.front().evaluate(counts);
}

GenericNode Or::propagateNot() const {
    return with_negated_children<Or>(*this);
}

GenericNode And::propagateNot() const {
    return with_negated_children<And>(*this);
}

GenericNode Xor::propagateNot() const {
    return with_negated_children<Xor>(*this);
}

GenericNode Not::propagateNot() const {
    if (children.empty()) return And();
    GenericNode const& child = children.front();
    switch (child.index()) {
        case 0:
            return leaf_like<LeafNodes::NotEqual>(child.leaf());
        case 1:
            return leaf_like<LeafNodes::Equal>(child.leaf());
        case 2:
            return leaf_like<LeafNodes::LessOrEqual>(child.leaf());
        case 3:
            return leaf_like<LeafNodes::LessThan>(child.leaf());
        case 4:
            return leaf_like<LeafNodes::GreaterOrEqual>(child.leaf());
        case 5:
            return leaf_like<LeafNodes::GreaterThan>(child.leaf());
        case 6:
            return getOppositeOperatorNode<Or, And>(std::get<Or>(child.variant()));
        case 7:
            return getOppositeOperatorNode<And, Or>(std::get<And>(child.variant()));
        case 8:
            return getOppositeOperatorNode(std::get<Xor>(child.variant()));
        default:
            return getOppositeOperatorNode(std::get<Not>(child.variant()));
    }
}

std::pair<bool, int> Or::filterState(std::vector<int> const& counts, int remaining) const {
    std::optional<int> smallest;
    for (GenericNode const& child : children) {
        const auto [out_of_reach, need] = child.filterState(counts, remaining);
        if (need > 0)
            smallest = std::min(need, smallest.value_or(need));
        else if (!out_of_reach)
            return {false, 0};
    }
    if (!smallest) return {true, 0};
    return {false, *smallest};
}

std::pair<bool, int> And::filterState(std::vector<int> const& counts, int remaining) const {
    std::set<int> reserved;
    long long total_need = 0;
    for (GenericNode const& child : children) {
        std::set<int> modes;
        child.getModes(modes);
        const bool overlaps = std::any_of(modes.begin(), modes.end(),
                                          [&](int mode) { return reserved.contains(mode); });
        const int budget = overlaps ? remaining : clamped(remaining - total_need);
        const auto [out_of_reach, need] = child.filterState(counts, budget);
        if (need > 0) {
            reserved.insert(modes.begin(), modes.end());
            total_need = overlaps ? std::max<long long>(total_need, need) : total_need + need;
            if (remaining < total_need) return {true, 0};
        } else if (out_of_reach) {
            return {true, 0};
        }
    }
    return {false, clamped(total_need)};
}

std::pair<bool, int> Xor::filterState(std::vector<int> const& counts, int remaining) const {
    if (children.empty()) return {true, 0};
    bool odd = false;
    std::optional<int> smallest;
    auto note = [&](int need) { smallest = std::min(need, smallest.value_or(need)); };
    for (GenericNode const& child : children) {
        const auto [out_of_reach, need] = child.filterState(counts, remaining);
        if (need > 0) {
            note(need);
        } else if (!out_of_reach) {
            odd = !odd;
            // The photons that would make this child fail.
            const int to_fail = negation_of(child).filterState(counts, remaining).second;
            if (to_fail > 0) note(to_fail);
        }
    }
    if (odd) return {false, 0};
    if (!smallest) return {true, 0};
    return {false, *smallest};
}

std::pair<bool, int> Not::filterState(std::vector<int> const& counts, int remaining) const {
    return propagateNot().filterState(counts, remaining);
}

std::string Or::getOperatorSymbol() const {
    return "|";
}
std::string And::getOperatorSymbol() const {
    return "&";
}
std::string Xor::getOperatorSymbol() const {
    return "^";
}
std::string Not::getOperatorSymbol() const {
    return "!";
}

void Not::verify() {
    if (children.size() > 1) throw std::runtime_error("Not node can have only one node.");
    if (!children.empty()) children.front().verify();
}

std::string Not::toString() const {
    return fmt::format("{} {}", getOperatorSymbol(), first_child(*this).toString());
}

GenericNode getOppositeOperatorNode(Not const& node) {
    return first_child(node);
}

Xor getOppositeOperatorNode(Xor const& node) {
    std::vector<GenericNode> children = node.children;
    if (!children.empty()) children.front() = negation_of(std::move(children.front()));
    return Xor(std::move(children));
}

template <typename From, typename To>
To getOppositeOperatorNode(From const& node) {
    std::vector<GenericNode> children;
    children.reserve(node.children.size());
    for (GenericNode const& child : node.children) children.push_back(negation_of(child));
    return To(std::move(children));
}

template And getOppositeOperatorNode<Or, And>(Or const&);
template Or getOppositeOperatorNode<And, Or>(And const&);

}  // namespace OperatorNodes

// ---------------------------------------------------------------------------------------------
// GenericNode, equality, Predicate

INode& GenericNode::node() {
    return std::visit([](auto& held) -> INode& { return held; }, variant());
}

INode const& GenericNode::node() const {
    return std::visit([](auto const& held) -> INode const& { return held; }, variant());
}

LeafNodes::ANode const& GenericNode::leaf() const {
    return static_cast<LeafNodes::ANode const&>(node());
}

OperatorNodes::ANode const& GenericNode::logic() const {
    return static_cast<OperatorNodes::ANode const&>(node());
}

OperatorNodes::ANode& GenericNode::logic() {
    return static_cast<OperatorNodes::ANode&>(node());
}

GenericNode GenericNode::propagateNot() const {
    return node().propagateNot();
}

namespace Visitors {

bool Equal::operator()(GenericNode const& other) const {
    if (node_.index() != other.index()) return false;
    Canon canon;
    return canon.id(node_) == canon.id(other);
}

}  // namespace Visitors

bool Predicate::operator==(Predicate const& other) const {
    return Visitors::Equal(root)(other.root);
}

void Predicate::merge(Predicate const& other) {
    constexpr std::size_t and_index = 7;
    const bool mine_is_and = root.index() == and_index;
    const bool theirs_is_and = other.root.index() == and_index;
    // Everything is copied before this tree changes: `other` may be this very predicate.
    if (mine_is_and && theirs_is_and) {
        auto& mine = root.logic().children;
        Canon canon;
        std::set<int> present;
        for (GenericNode const& child : mine) present.insert(canon.id(child));
        std::vector<GenericNode> added;
        for (GenericNode const& child : other.root.logic().children)
            if (!present.contains(canon.id(child))) added.push_back(child);
        mine.insert(mine.end(), std::make_move_iterator(added.begin()),
                    std::make_move_iterator(added.end()));
    } else if (mine_is_and) {
        GenericNode copy = other.root;
        root.logic().children.push_back(std::move(copy));
    } else {
        std::vector<GenericNode> children{root};
        if (theirs_is_and) {
            auto const& theirs = other.root.logic().children;
            children.insert(children.end(), theirs.begin(), theirs.end());
        } else {
            children.push_back(other.root);
        }
        root = OperatorNodes::And(std::move(children));
    }
}

}  // namespace post_selection::ast
