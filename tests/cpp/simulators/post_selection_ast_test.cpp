#include "simulators/post_selection_ast.h"

#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace post_selection::ast;
using namespace post_selection::ast::LeafNodes;
using namespace post_selection::ast::OperatorNodes;
using Counts = std::vector<int>;

GenericNode negated(GenericNode child) {
    return Not(std::vector<GenericNode>{std::move(child)});
}

// [0, 1] == 1 & [2] > 1, and its Or with [2] == 0.
GenericNode both() {
    return And({Equal({0, 1}, 1), GreaterThan({2}, 1)});
}
GenericNode either() {
    return Or({both(), Equal({2}, 0)});
}

struct EvaluationCase {
    const char* name;
    GenericNode node;
    Counts counts;
    bool expected;
};

class EvaluationTest : public testing::TestWithParam<EvaluationCase> {};

TEST_P(EvaluationTest, Evaluates) {
    EXPECT_EQ(GetParam().node.evaluate(GetParam().counts), GetParam().expected)
        << GetParam().node.toString();
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, EvaluationTest,
    testing::Values(
        EvaluationCase{"AndHolds", both(), {0, 1, 2}, true},
        EvaluationCase{"AndFirstFails", both(), {0, 1, 0}, false},
        EvaluationCase{"AndSecondFails", both(), {1, 1, 2}, false},
        EvaluationCase{"OrBothFail", either(), {0, 1, 1}, false},
        EvaluationCase{"OrSecondHolds", either(), {0, 1, 0}, true},
        EvaluationCase{"EmptyModesTotalZero", Equal({}, 0), {3}, true},
        EvaluationCase{"EmptyModesNeverAbove", GreaterThan({}, 0), {3}, false},
        EvaluationCase{"LessThanTwoOnOne", LessThan({0}, 2), {1}, true},
        EvaluationCase{"LessThanTwoOnTwo", LessThan({0}, 2), {2}, false},
        EvaluationCase{"LessOrEqual", LessOrEqual({0, 1}, 2), {1, 1}, true},
        EvaluationCase{"GreaterOrEqual", GreaterOrEqual({0, 1}, 2), {1, 0}, false},
        EvaluationCase{"NotEqual", NotEqual({1}, 1), {0, 2}, true},
        EvaluationCase{"EmptyAndIsTrue", And(), {0}, true},
        EvaluationCase{"EmptyOrIsFalse", Or(), {0}, false},
        EvaluationCase{
            "XorOfThreeTrue", Xor({Equal({0}, 0), Equal({0}, 0), Equal({0}, 0)}), {0}, true},
        EvaluationCase{
            "XorOfTwoTrue", Xor({Equal({0}, 0), Equal({1}, 1), Equal({0}, 1)}), {0, 1}, false},
        EvaluationCase{"Not", negated(Equal({0}, 1)), {1}, false},
        // A mode beyond the state's modes holds no photon.
        EvaluationCase{"ModeBeyondCountsIsEmpty", Equal({0, 5}, 1), {1, 0}, true},
        EvaluationCase{"OnlyModesBeyondCounts", Equal({7}, 0), {}, true},
        EvaluationCase{"ModeBeyondCountsCannotExceed", GreaterThan({2}, 0), {1, 1}, false}),
    [](const testing::TestParamInfo<EvaluationCase>& info) { return info.param.name; });

TEST(PostSelectionAstTest, VerifySortsTheModesAndRefusesInvalidConditions) {
    GenericNode leaf = Equal({2, 0, 1}, 1);
    leaf.verify();
    EXPECT_EQ(leaf.toString(), "[0, 1, 2] == 1");

    auto refused = [](GenericNode node, const std::string& message) {
        test_support::expect_throw_message<std::runtime_error>([&] { node.verify(); }, message);
    };
    refused(Equal({1, 1}, 1), "[1, 1] should be a set.");
    refused(Equal({3, -1}, 1), "[-1, 3] should contains only positive value.");
    refused(Equal({0}, -1),
            "Expected photon number must be greater or equal to zero, instead is -1.");
    Not two;  // built around the checking constructor
    two.children = {Equal({0}, 1), Equal({1}, 1)};
    refused(two, "Not node can have only one node.");
    // The first failing child stops the walk; the ones before it are sorted.
    GenericNode list = And({Equal({1, 0}, 1), Equal({2, 2}, 0), Equal({5, 4}, 0)});
    EXPECT_THROW(list.verify(), std::runtime_error);
    EXPECT_EQ(list.toString(), "([0, 1] == 1 & [2, 2] == 0 & [5, 4] == 0)");
    GenericNode lone = Not();
    EXPECT_NO_THROW(lone.verify());
}

TEST(PostSelectionAstTest, NotConstructionRequiresOneChild) {
    test_support::expect_throw_message<std::runtime_error>(
        [] { Not(std::vector<GenericNode>{}); }, "Can't create a not node with more than one node");
    test_support::expect_throw_message<std::runtime_error>(
        [] {
            Not(std::vector<GenericNode>{Equal(), Equal()});
        },
        "Can't create a not node with more than one node");
}

TEST(PostSelectionAstTest, PrintsLikeTheExpressionLanguage) {
    EXPECT_EQ(both().toString(), "([0, 1] == 1 & [2] > 1)");
    EXPECT_EQ(either().toString(), "(([0, 1] == 1 & [2] > 1) | [2] == 0)");
    EXPECT_EQ(GenericNode(GreaterOrEqual({2}, 1)).toString(), "[2] >= 1");
    EXPECT_EQ(GenericNode(Equal()).toString(), "[] == 0");
    EXPECT_EQ(GenericNode(Xor({Equal({0}, 1)})).toString(), "([0] == 1)");
    EXPECT_EQ(GenericNode(Or()).toString(), "()");
    EXPECT_EQ(negated(Equal({0}, 1)).toString(), "! [0] == 1");
    EXPECT_EQ(negated(Or({Equal({0}, 1), Equal({1}, 1)})).toString(), "! ([0] == 1 | [1] == 1)");
    // A negation that is not the last operand is closed, or it would reach the next ones.
    EXPECT_EQ(GenericNode(And({negated(Equal({0}, 1)), Equal({1}, 0)})).toString(),
              "((! [0] == 1) & [1] == 0)");
    EXPECT_EQ(GenericNode(Or({Equal({1}, 0), negated(Equal({0}, 1))})).toString(),
              "([1] == 0 | ! [0] == 1)");
    EXPECT_EQ(fmt::format("<{}>", both()), "<([0, 1] == 1 & [2] > 1)>");
    std::vector<GenericNode> nodes{Equal({0}, 1), both()};
    EXPECT_EQ(fmt::format("{}", fmt::join(nodes, "; ")), "[0] == 1; ([0, 1] == 1 & [2] > 1)");
}

TEST(PostSelectionAstTest, ModeOperations) {
    std::set<int> modes{9};
    GenericNode(Or({Equal({0, 1}, 1), LessThan({1, 4}, 2)})).getModes(modes);
    EXPECT_EQ(modes, (std::set<int>{0, 1, 4, 9}));

    GenericNode shifted = either();
    shifted.shiftModes(3);
    EXPECT_EQ(shifted.toString(), "(([3, 4] == 1 & [5] > 1) | [5] == 0)");

    GenericNode permuted = And({Equal({0, 1, 3}, 1), Equal({4, 5}, 0)});
    permuted.applyPermutation({2, 0, 1}, 1);
    EXPECT_EQ(permuted.toString(), "([0, 2, 3] == 1 & [4, 5] == 0)");

    const GenericNode leaf = Equal({0, 1}, 1);
    for (auto [given, expected] : std::vector<std::pair<std::vector<int>, bool>>{
             {{0}, true}, {{0, 1}, true}, {{2, 3}, true}, {{1, 2}, false}, {{}, true}})
        EXPECT_EQ(leaf.canComposeWith(given), expected) << testing::PrintToString(given);
    EXPECT_FALSE(GenericNode(And({Equal({5}, 0), leaf})).canComposeWith({1, 2}));
    EXPECT_TRUE(GenericNode(And()).canComposeWith({1, 2}));
}

struct NegationCase {
    const char* name;
    GenericNode node;
    const char* expected;
};

class PropagateNotTest : public testing::TestWithParam<NegationCase> {};

TEST_P(PropagateNotTest, MovesTheNegationDownOneLevel) {
    EXPECT_EQ(GetParam().node.propagateNot().toString(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, PropagateNotTest,
    testing::Values(NegationCase{"Equal", negated(Equal({0}, 1)), "[0] != 1"},
                    NegationCase{"NotEqual", negated(NotEqual({0}, 1)), "[0] == 1"},
                    NegationCase{"LessThan", negated(LessThan({0}, 2)), "[0] >= 2"},
                    NegationCase{"GreaterOrEqual", negated(GreaterOrEqual({0}, 2)), "[0] < 2"},
                    NegationCase{"GreaterThan", negated(GreaterThan({0}, 2)), "[0] <= 2"},
                    NegationCase{"LessOrEqual", negated(LessOrEqual({0}, 2)), "[0] > 2"},
                    NegationCase{"And", negated(And({Equal({0}, 1), Equal({1}, 0)})),
                                 "((! [0] == 1) | ! [1] == 0)"},
                    NegationCase{"Or", negated(Or({Equal({0}, 1), Equal({1}, 0)})),
                                 "((! [0] == 1) & ! [1] == 0)"},
                    NegationCase{"Xor", negated(Xor({Equal({0}, 1), Equal({1}, 0)})),
                                 "((! [0] == 1) ^ [1] == 0)"},
                    NegationCase{"DoubleNegation", negated(negated(Equal({0}, 1))), "[0] == 1"},
                    NegationCase{"LeafUnchanged", Equal({0}, 1), "[0] == 1"},
                    NegationCase{"ListWithoutNegation", both(), "([0, 1] == 1 & [2] > 1)"},
                    NegationCase{"OnlyOneLevel",
                                 negated(And({negated(Equal({0}, 1)), Equal({1}, 0)})),
                                 "((! ! [0] == 1) | ! [1] == 0)"},
                    NegationCase{"EmptyXor", negated(Xor()), "()"}),
    [](const testing::TestParamInfo<NegationCase>& info) { return info.param.name; });

TEST(PostSelectionAstTest, PropagateNotKeepsTheKindsOfLeaves) {
    EXPECT_EQ(negated(Equal({0}, 1)).propagateNot().index(), 1u);
    EXPECT_EQ(negated(And({Equal({0}, 1)})).propagateNot().index(), 6u);
    EXPECT_EQ(negated(Or({Equal({0}, 1)})).propagateNot().index(), 7u);
}

struct BudgetCase {
    const char* name;
    GenericNode node;
    Counts counts;
    int remaining;
    std::pair<bool, int> expected;
};

class FilterStateTest : public testing::TestWithParam<BudgetCase> {};

TEST_P(FilterStateTest, BoundsThePhotonsStillNeeded) {
    EXPECT_EQ(GetParam().node.filterState(GetParam().counts, GetParam().remaining),
              GetParam().expected)
        << GetParam().node.toString();
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, FilterStateTest,
    testing::Values(
        BudgetCase{"EqualReachable", Equal({0, 1}, 2), {1, 0}, 1, {true, 1}},
        BudgetCase{"EqualNoBudget", Equal({0, 1}, 2), {1, 0}, 0, {true, 0}},
        BudgetCase{"EqualTooMany", Equal({0, 1}, 2), {2, 1}, 5, {true, -1}},
        BudgetCase{"EqualMet", Equal({0}, 1), {1}, 3, {false, 0}},
        BudgetCase{"GreaterThan", GreaterThan({0}, 1), {0}, 2, {true, 2}},
        BudgetCase{"GreaterThanHuge", GreaterThan({0}, 2147483647), {0}, 2147483647, {true, 0}},
        BudgetCase{"GreaterOrEqualMet", GreaterOrEqual({0}, 1), {2}, 0, {false, -1}},
        BudgetCase{"LessOrEqualFailed", LessOrEqual({0}, 1), {2}, 4, {true, 0}},
        BudgetCase{"LessThanMet", LessThan({0}, 1), {0}, 4, {false, 0}},
        BudgetCase{"NotEqualFailing", NotEqual({0}, 1), {1}, 1, {true, 1}},
        BudgetCase{"NotEqualFailingNoBudget", NotEqual({0}, 1), {1}, 0, {true, 0}},
        BudgetCase{"NotEqualMet", NotEqual({0}, 1), {0}, 1, {false, 0}},
        BudgetCase{"NotEqualMetNoBudget", NotEqual({0}, 1), {0}, 0, {false, -1}},
        BudgetCase{"NotIsItsPushedForm", negated(Equal({0}, 1)), {1}, 1, {true, 1}},
        BudgetCase{"AndDisjointAdds", And({Equal({0}, 1), Equal({1}, 1)}), {0, 0}, 2, {false, 2}},
        BudgetCase{"AndDisjointShort", And({Equal({0}, 1), Equal({1}, 1)}), {0, 0}, 1, {true, 0}},
        BudgetCase{
            "AndOverlapTakesMax", And({Equal({0}, 1), Equal({0, 1}, 1)}), {0, 0}, 2, {false, 1}},
        BudgetCase{"AndOutOfReach", And({Equal({0}, 0), Equal({1}, 1)}), {1, 0}, 2, {true, 0}},
        BudgetCase{"EmptyAnd", And(), {0}, 0, {false, 0}},
        BudgetCase{"OrSmallestNeed", Or({Equal({0}, 2), Equal({1}, 1)}), {0, 0}, 3, {false, 1}},
        BudgetCase{"OrMet", Or({Equal({0}, 0), Equal({1}, 1)}), {0, 0}, 3, {false, 0}},
        BudgetCase{"OrOutOfReach", Or({LessOrEqual({0}, 0), Equal({1}, 3)}), {1, 0}, 2, {true, 0}},
        BudgetCase{"EmptyOr", Or(), {0}, 1, {true, 0}},
        BudgetCase{"XorOneMet", Xor({Equal({0}, 0), Equal({1}, 1)}), {0, 0}, 1, {false, 0}},
        BudgetCase{"XorBothMet", Xor({Equal({0}, 0), Equal({1}, 1)}), {0, 1}, 1, {false, 1}},
        BudgetCase{"XorBothMetNoBudget", Xor({Equal({0}, 0), Equal({1}, 1)}), {0, 1}, 0, {true, 0}},
        BudgetCase{"EmptyXor", Xor(), {0}, 1, {true, 0}}),
    [](const testing::TestParamInfo<BudgetCase>& info) { return info.param.name; });

struct EqualityCase {
    const char* name;
    GenericNode a;
    GenericNode b;
    bool expected;
};

class EqualityTest : public testing::TestWithParam<EqualityCase> {};

TEST_P(EqualityTest, IsStructuralAndSymmetric) {
    auto const& [name, a, b, expected] = GetParam();
    EXPECT_EQ(Visitors::Equal(a)(b), expected);
    EXPECT_EQ(Visitors::Equal(b)(a), expected);
    EXPECT_EQ(Predicate(a) == Predicate(b), expected);
    EXPECT_EQ(Predicate(b) == Predicate(a), expected);
}

const GenericNode a = Equal({0}, 1);
const GenericNode b = GreaterThan({1}, 0);
const GenericNode c = NotEqual({2}, 2);

INSTANTIATE_TEST_SUITE_P(
    Nodes, EqualityTest,
    testing::Values(EqualityCase{"SameLeaf", Equal({0, 1}, 1), Equal({0, 1}, 1), true},
                    EqualityCase{"OtherKind", Equal({0, 1}, 1), NotEqual({0, 1}, 1), false},
                    EqualityCase{"OtherCount", Equal({0, 1}, 1), Equal({0, 1}, 2), false},
                    EqualityCase{"OtherModes", Equal({0, 1}, 1), Equal({0, 2}, 1), false},
                    EqualityCase{"ChildrenInAnyOrder", And({a, b}), And({b, a}), true},
                    EqualityCase{"RepeatsMatchAlike", And({a, a, b}), And({a, b, b}), true},
                    // Every child of the second must find a match in the first too.
                    EqualityCase{"OneSideMissesAChild", And({a, a, b}), And({a, b, c}), false},
                    EqualityCase{"AndIsNotOr", And({a, b}), Or({a, b}), false},
                    EqualityCase{"ChildCount", And({a, b}), And({a, b, b}), false},
                    EqualityCase{"Nested", Or({And({a, b}), c}), Or({c, And({b, a})}), true},
                    EqualityCase{"NestedDiffer", Or({And({a, b}), c}), Or({c, And({a, c})}), false},
                    EqualityCase{"Not", negated(a), negated(a), true},
                    EqualityCase{"NotOfOther", negated(a), negated(b), false}),
    [](const testing::TestParamInfo<EqualityCase>& info) { return info.param.name; });

// A chain as deep as the parser allows, and a list as wide as a long text gives.
GenericNode chain(int depth, int bottom) {
    GenericNode node = Equal({0}, bottom);
    for (int level = 0; level < depth; ++level)
        node = (level % 2 ? GenericNode(And({Equal({1}, level), std::move(node)}))
                          : GenericNode(Or({std::move(node), Equal({1}, level)})));
    return node;
}

GenericNode wide(int width, int last) {
    std::vector<GenericNode> children;
    for (int i = 0; i < width; ++i) children.push_back(Equal({i % 7}, i + 1 == width ? last : 0));
    return Xor(std::move(children));
}

TEST(PostSelectionAstTest, EqualityOfDeepAndWideTrees) {
    EXPECT_TRUE(Predicate(chain(1000, 1)) == Predicate(chain(1000, 1)));
    EXPECT_FALSE(Predicate(chain(1000, 1)) == Predicate(chain(1000, 2)));
    EXPECT_TRUE(Predicate(wide(20000, 0)) == Predicate(wide(20000, 0)));
    EXPECT_FALSE(Predicate(wide(20000, 0)) == Predicate(wide(20000, 1)));
}

struct MergeCase {
    const char* name;
    GenericNode mine;
    GenericNode theirs;
    const char* expected;
};

class MergeTest : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeTest, AndsAndFlattens) {
    Predicate predicate(GetParam().mine);
    predicate.merge(Predicate(GetParam().theirs));
    EXPECT_EQ(predicate.root.toString(), GetParam().expected);
    EXPECT_EQ(predicate.root.index(), 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Predicates, MergeTest,
    testing::Values(
        MergeCase{"AndWithAnd", And({a, b}), And({b, c}), "([0] == 1 & [1] > 0 & [2] != 2)"},
        MergeCase{"AndWithLeafIsNotDeduplicated", And({a, b}), b, "([0] == 1 & [1] > 0 & [1] > 0)"},
        MergeCase{"LeafWithAnd", a, And({b, c}), "([0] == 1 & [1] > 0 & [2] != 2)"},
        MergeCase{"LeafWithLeaf", a, b, "([0] == 1 & [1] > 0)"},
        MergeCase{"RepeatsOfTheOtherBothKept", And({a, b}), And({c, c}),
                  "([0] == 1 & [1] > 0 & [2] != 2 & [2] != 2)"},
        MergeCase{"OrIsKeptWhole", Or({a, b}), Or({b, c}),
                  "(([0] == 1 | [1] > 0) & ([1] > 0 | [2] != 2))"}),
    [](const testing::TestParamInfo<MergeCase>& info) { return info.param.name; });

TEST(PostSelectionAstTest, MergeWithItself) {
    for (const GenericNode& root : {GenericNode(And({a, b})), a}) {
        Predicate predicate(root);
        predicate.merge(predicate);
        predicate.merge(predicate);
        EXPECT_EQ(predicate.root.toString(),
                  root.index() == 7 ? "([0] == 1 & [1] > 0)" : "([0] == 1 & [0] == 1)");
    }
}

TEST(PostSelectionAstTest, CopiesAreDeep) {
    GenericNode original = either();
    GenericNode copy = original;
    copy.shiftModes(1);
    EXPECT_EQ(original.toString(), "(([0, 1] == 1 & [2] > 1) | [2] == 0)");
    GenericNode assigned = Equal({4}, 4);
    assigned = original;
    original.shiftModes(2);
    EXPECT_EQ(assigned.toString(), "(([0, 1] == 1 & [2] > 1) | [2] == 0)");
    EXPECT_EQ(GenericNode().index(), 0u);
}

}  // namespace
