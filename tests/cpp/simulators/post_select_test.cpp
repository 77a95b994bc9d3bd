#include "simulators/post_select.h"

#include <climits>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using Counts = std::vector<int>;

FockState fs(Counts counts) {
    return FockState(counts);
}

TEST(PostSelectTest, WithoutConditionAcceptsEverything) {
    for (const PostSelect& none : {PostSelect(), PostSelect(""), PostSelect("   ")}) {
        EXPECT_FALSE(none.hasCondition());
        EXPECT_EQ(none, PostSelect());
        EXPECT_TRUE(none(fs({5, 0})));
        EXPECT_TRUE(none(fs({}), -3));
        EXPECT_TRUE(none.getModes().empty());
        EXPECT_EQ(none.toString(), "");
        EXPECT_EQ(fmt::format("<{}>", none), "<>");
        PostSelect changed = none;
        changed.shiftModes(-5);
        changed.applyPermutation({0, 0}, -1);
        EXPECT_EQ(changed, PostSelect());
    }
    EXPECT_FALSE(PostSelect() == PostSelect("[0] == 0"));
}

// Each kind of state is judged by its per-mode counts only.
template <typename State>
class PostSelectStateTest : public testing::Test {};

template <typename State>
State make(Counts counts) {
    if constexpr (std::is_same_v<State, FockState>) {
        return FockState(counts);
    } else if constexpr (std::is_same_v<State, NoisyFockState>) {
        const FockState perfect(counts);
        std::vector<unsigned char> tags;
        for (int i = 0; i < perfect.n(); ++i) tags.push_back(static_cast<unsigned char>(i % 3));
        return NoisyFockState(perfect, tags, false);
    } else {
        std::string text = "|";
        for (std::size_t mode = 0; mode < counts.size(); ++mode) {
            if (mode > 0) text += ",";
            for (int photon = 0; photon < counts[mode]; ++photon)
                text += photon % 2 ? "{P:H}" : "{a:1}";
            if (counts[mode] == 0) text += "0";
        }
        return AnnotatedFockState(text + ">");
    }
}

using StateKinds = testing::Types<FockState, NoisyFockState, AnnotatedFockState>;
TYPED_TEST_SUITE(PostSelectStateTest, StateKinds);

TYPED_TEST(PostSelectStateTest, JudgesByCountsPerMode) {
    const PostSelect both("[0,1] == 1 & [2] > 1");
    EXPECT_TRUE(both(make<TypeParam>({0, 1, 2})));
    EXPECT_FALSE(both(make<TypeParam>({0, 1, 0})));
    EXPECT_FALSE(both(make<TypeParam>({1, 1, 2})));
    const PostSelect either("([0,1] == 1 & [2] > 1) | [2] == 0");
    EXPECT_FALSE(either(make<TypeParam>({0, 1, 1})));
    EXPECT_TRUE(either(make<TypeParam>({0, 1, 0})));
    // Modes beyond the state hold no photon.
    EXPECT_TRUE(PostSelect("[1] == 1 & [4, 9] == 0")(make<TypeParam>({0, 1})));
    EXPECT_FALSE(PostSelect("[3] > 0")(make<TypeParam>({2, 2})));
}

TYPED_TEST(PostSelectStateTest, PhotonBudget) {
    const PostSelect two_in_first("[0] == 2");
    EXPECT_TRUE(two_in_first(make<TypeParam>({1, 0}), 2));
    EXPECT_FALSE(two_in_first(make<TypeParam>({1, 0}), 1));
    for (int total : {0, 3, 10}) EXPECT_FALSE(two_in_first(make<TypeParam>({3, 0}), total));
    EXPECT_TRUE(two_in_first(make<TypeParam>({2, 0}), 2));
    // Two disjoint conditions need both their photons; an upper bound failed stays failed.
    const PostSelect pair("[0] == 1 & [1] == 1");
    EXPECT_TRUE(pair(make<TypeParam>({0, 0}), 2));
    EXPECT_FALSE(pair(make<TypeParam>({0, 0}), 1));
    EXPECT_FALSE(PostSelect("[0] < 1")(make<TypeParam>({1, 0}), 5));
    // Totals at the ends of the int range neither overflow nor pass by mistake.
    EXPECT_FALSE(two_in_first(make<TypeParam>({1, 0}), INT_MIN));
    EXPECT_TRUE(two_in_first(make<TypeParam>({1, 0}), INT_MAX));
    EXPECT_FALSE(PostSelect("[0] > 2147483647")(make<TypeParam>({1}), INT_MAX));
}

TEST(PostSelectTest, PhotonBudgetAgreesWithCompletions) {
    // A partial state passes when some way of adding the missing photons makes it pass.
    const std::vector<std::string> expressions = {"[0] == 1 & [1, 2] >= 1", "[0] != 1 | [2] == 2",
                                                  "[0,1] == 1 ^ [2] < 2", "NOT ([0] > 0 & [1] > 0)",
                                                  "([0] == 1 | [1] == 2) & [2] <= 1"};
    const int m = 3;
    for (const std::string& expression : expressions) {
        const PostSelect post_select(expression);
        for (int n = 0; n <= 3; ++n)
            for (const Counts& partial : test_support::all_counts(m, n))
                for (int total = n; total <= 3; ++total) {
                    bool reachable = false;
                    for (const Counts& extra : test_support::all_counts(m, total - n)) {
                        Counts full = partial;
                        for (int k = 0; k < m; ++k) full[k] += extra[k];
                        reachable = reachable || post_select(full);
                    }
                    // The bound may let through a state that cannot pass, never the reverse.
                    if (reachable) {
                        EXPECT_TRUE(post_select(fs(partial), total))
                            << expression << " " << testing::PrintToString(partial) << " " << total;
                    }
                    if (total == n) {
                        EXPECT_EQ(post_select(fs(partial), total), reachable);
                    }
                }
    }
}

TEST(PostSelectTest, ShiftModes) {
    PostSelect post_select("[0, 3] == 1");
    post_select.shiftModes(2);
    EXPECT_EQ(post_select.toString(), "[2, 5] == 1");
    post_select.shiftModes(-2);
    expect_throw_message<std::runtime_error>(
        [&] { post_select.shiftModes(-1); },
        "Cannot shift modes: min is 0, offset is -1 (would result in a negative value)");
    expect_throw_message<std::runtime_error>(
        [&] { post_select.shiftModes(INT_MAX - 2); },
        "Cannot shift modes: max is 3, offset is 2147483645 (would result in a value beyond "
        "2147483647)");
    EXPECT_EQ(post_select.toString(), "[0, 3] == 1");
    post_select.shiftModes(INT_MAX - 3);
    EXPECT_EQ(post_select.toString(), "[2147483644, 2147483647] == 1");
}

TEST(PostSelectTest, ApplyPermutation) {
    PostSelect post_select("[0] == 1 & [2] == 0");
    post_select.applyPermutation({1, 0}, 0);
    EXPECT_EQ(post_select, PostSelect("[1] == 1 & [2] == 0"));
    post_select.applyPermutation({2, 0, 1}, 1);
    EXPECT_EQ(post_select.toString(), "([3] == 1 & [1] == 0)");
    const PostSelect before = post_select;
    expect_throw_message<std::runtime_error>(
        [&] {
            post_select.applyPermutation({0, 0}, 0);
        },
        "In applyPermutation: [0, 0] is not a permutation");
    expect_throw_message<std::runtime_error>(
        [&] {
            post_select.applyPermutation({2, 0, 0}, 0);
        },
        "In applyPermutation: [2, 0, 0] is not a permutation");
    expect_throw_message<std::runtime_error>(
        [&] {
            post_select.applyPermutation({0, -1}, 0);
        },
        "In applyPermutation: [0, -1] is not a permutation");
    expect_throw_message<std::runtime_error>(
        [&] {
            post_select.applyPermutation({0, 0}, -1);
        },
        "In applyPermutation: first mode can't be negative (here is -1)");
    expect_throw_message<std::runtime_error>(
        [&] {
            post_select.applyPermutation({1, 0}, INT_MAX);
        },
        "In applyPermutation: 2 modes from mode 2147483647 would go beyond mode 2147483647");
    post_select.applyPermutation({}, 3);
    EXPECT_EQ(post_select, before);
    PostSelect top("[2147483647] == 1");
    top.applyPermutation({0}, INT_MAX);
    EXPECT_EQ(top.toString(), "[2147483647] == 1");
}

TEST(PostSelectTest, ModeQueries) {
    EXPECT_EQ(PostSelect("[0, 1] == 1 | [1, 4] < 2").getModes(), (std::set<int>{0, 1, 4}));
    EXPECT_TRUE(PostSelect("[0] == 1").isIndependentWith(PostSelect("[1, 2] > 0")));
    EXPECT_FALSE(PostSelect("[0, 1] == 1").isIndependentWith(PostSelect("[1] == 0")));
    EXPECT_TRUE(PostSelect("[0, 1] == 1").isIndependentWith(PostSelect()));
    EXPECT_TRUE(PostSelect().isIndependentWith(PostSelect("[0] == 1")));
    const PostSelect pair("[0, 1] == 1");
    EXPECT_TRUE(pair.isAllSubsetOrIndependent({0}));
    EXPECT_TRUE(pair.isAllSubsetOrIndependent({2, 3}));
    EXPECT_FALSE(pair.isAllSubsetOrIndependent({1, 2}));
    EXPECT_TRUE(pair.isAllSubsetOrIndependent({}));
    EXPECT_TRUE(PostSelect().isAllSubsetOrIndependent({1, 2}));
}

TEST(PostSelectTest, Merge) {
    PostSelect post_select("[0] == 1");
    post_select.merge(PostSelect());
    EXPECT_EQ(post_select, PostSelect("[0] == 1"));
    PostSelect none;
    none.merge(post_select);
    EXPECT_TRUE(none.hasCondition());
    EXPECT_EQ(none, PostSelect("[0] == 1"));
    post_select.merge(PostSelect("[1] == 0"));
    EXPECT_EQ(post_select.toString(), "([0] == 1 & [1] == 0)");
    post_select.merge(post_select);
    EXPECT_EQ(post_select.toString(), "([0] == 1 & [1] == 0)");
    // The merged object owns its copy.
    EXPECT_EQ(none.toString(), "[0] == 1");
}

TEST(PostSelectTest, EqualityIgnoresTheOrderOfOperands) {
    EXPECT_EQ(PostSelect("[0] == 1 & [1] > 0"), PostSelect("[1] > 0 AND [0] == 1"));
    EXPECT_EQ(PostSelect("[1, 0] == 1"), PostSelect("[0, 1] == 1"));
    EXPECT_FALSE(PostSelect("[0] == 1 & [1] > 0") == PostSelect("[0] == 1 | [1] > 0"));
    EXPECT_FALSE(PostSelect("[0] == 1") == PostSelect("[0] != 1"));
}

TEST(PostSelectTest, PrintedTextReadsBackEqual) {
    EXPECT_EQ(PostSelect("[0,1] == 1 & [2] > 1").toString(), "([0, 1] == 1 & [2] > 1)");
    EXPECT_EQ(fmt::format("{}", PostSelect("[0,1] == 1 & [2] > 1")), "([0, 1] == 1 & [2] > 1)");
    for (const char* text :
         {"[0,1] == 1 & [2] > 1", "(NOT [0] == 1) & [1] == 0", "!([0]==1 ^ [1]==1) | ![2]<1",
          "NOT NOT [0] == 1", "(![0]==1) xor (![1]==1) xor ![2]==1"}) {
        const PostSelect post_select(text);
        EXPECT_EQ(PostSelect(post_select.toString()), post_select) << text;
        EXPECT_EQ(PostSelect(post_select.toString()).toString(), post_select.toString());
    }
    PostSelect merged("![0] == 1");
    merged.merge(PostSelect("[1] == 0"));
    EXPECT_EQ(merged.toString(), "((! [0] == 1) & [1] == 0)");
    EXPECT_EQ(PostSelect(merged.toString()), merged);
}

TEST(PostSelectTest, ClearAndCopies) {
    PostSelect post_select("[0] == 1");
    PostSelect copy = post_select;
    post_select.shiftModes(1);
    EXPECT_EQ(copy.toString(), "[0] == 1");
    post_select.clear();
    EXPECT_FALSE(post_select.hasCondition());
    EXPECT_EQ(post_select, PostSelect());
    EXPECT_TRUE(post_select(fs({7})));
    copy = post_select;
    EXPECT_FALSE(copy.hasCondition());
}

TEST(PostSelectTest, ConstructionErrors) {
    expect_throw_message<std::runtime_error>(
        [] { PostSelect("not [0]==1"); }, "Couldn't parse post selection expression: not [0]==1");
    expect_throw_message<std::runtime_error>([] { PostSelect("[0,0] == 1"); },
                                             "[0, 0] should be a set.");
}

TEST(PostSelectTest, Filters) {
    const PostSelect post_select("[0] == 1");
    const std::vector<FockState> states = {fs({1, 0}), fs({0, 1}), fs({1, 1}), fs({2, 0})};
    EXPECT_EQ(post_select.filter(states), (std::vector<FockState>{fs({1, 0}), fs({1, 1})}));
    EXPECT_EQ(PostSelect().filter(states), states);
    const std::unordered_map<FockState, unsigned long> counts = {
        {fs({1, 0}), 3}, {fs({0, 1}), 4}, {fs({1, 1}), 5}};
    EXPECT_EQ(post_select.filter(counts),
              (std::unordered_map<FockState, unsigned long>{{fs({1, 0}), 3}, {fs({1, 1}), 5}}));
    EXPECT_EQ(PostSelect().filter(counts), counts);
}

TEST(PostSelectTest, ConstQueriesFromSeveralThreads) {
    const PostSelect post_select("([0,1] == 1 & [2] > 1) | [2] == 0");
    std::vector<std::thread> threads;
    std::vector<int> passed(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i)
                passed[t] += post_select(fs({0, 1, (i + t) % 3})) ? 1 : 0;
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_GT(passed[t], 600);
}

}  // namespace
