#include "fockspace/fock_space_function.h"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/fs_array.h"
#include "fockspace/fs_mask.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

FockSpaceFunction function(std::vector<std::pair<std::vector<int>, double>> const& entries) {
    FockSpaceFunction f;
    for (auto const& [counts, value] : entries) f[fs(counts)] = value;
    return f;
}

TEST(FockSpaceFunctionTest, EmptyFunctionHasNoModeCountAndAcceptsAnyState) {
    FockSpaceFunction f;
    EXPECT_EQ(f.size(), 0u);
    EXPECT_FALSE(f.get_m());
    EXPECT_EQ(f.weight(), 0.0);
    EXPECT_EQ(f.get(fs({1, 0})), 0.0);
    EXPECT_NO_THROW(f.check_m(fs({1, 0, 0})));
    EXPECT_EQ(fmt::format("{}", f), "{\n}");
}

TEST(FockSpaceFunctionTest, SetIgnoresZeroWhileSubscriptInsertsZero) {
    FockSpaceFunction f;
    f.set(fs({1, 0}), 0.0);
    EXPECT_FALSE(f.contains(fs({1, 0})));
    f.set(fs({1, 0}), 0.25);
    f.set(fs({1, 0}), 0.0);
    EXPECT_EQ(f.get(fs({1, 0})), 0.25);
    f.set(fs({1, 0}), -0.5);
    EXPECT_EQ(f.get(fs({1, 0})), -0.5);

    EXPECT_EQ(f[fs({0, 1})], 0.0);
    EXPECT_TRUE(f.contains(fs({0, 1})));
    EXPECT_EQ(f.size(), 2u);
    f[FockState(std::vector<int>{2, 0})] += 3.0;
    EXPECT_EQ(f.get(fs({2, 0})), 3.0);

    EXPECT_TRUE(f.erase(fs({0, 1})));
    EXPECT_FALSE(f.erase(fs({0, 1})));
    f.clear();
    EXPECT_EQ(f.size(), 0u);
}

TEST(FockSpaceFunctionTest, ConstructorsFromOneEntryAndFromAMap) {
    const FockSpaceFunction zero(fs({1, 0}), 0.0);
    EXPECT_TRUE(zero.contains(fs({1, 0})));
    EXPECT_EQ(zero.get_m(), 2);

    std::unordered_map<FockState, double> mixed{{fs({1, 0}), 0.5}, {fs({1, 0, 0}), 0.5}};
    expect_throw_message<std::invalid_argument>([&] { FockSpaceFunction f(mixed, false); },
                                                "Number of modes is not consistent");
    const FockSpaceFunction trusted(mixed, true);
    EXPECT_EQ(trusted.size(), 2u);

    const FockSpaceFunction checked({{fs({1, 0}), 0.5}, {fs({0, 1}), 0.5}}, false);
    EXPECT_EQ(checked.weight(), 1.0);
    expect_throw_message<std::invalid_argument>([&] { checked.check_m(fs({1})); },
                                                "Number of modes is not consistent");
}

TEST(FockSpaceFunctionTest, ConstructorFromAnArrayKeepsValuesAboveTheThreshold) {
    const FsArray array(3, 1);  // |1,0,0>, |0,1,0>, |0,0,1>
    const FockSpaceFunction f(array, {0.0, -0.2, 0.3}, 0.0);
    EXPECT_EQ(f, function({{{0, 1, 0}, -0.2}, {{0, 0, 1}, 0.3}}));
    EXPECT_EQ(f.size(), 2u);
    EXPECT_EQ(FockSpaceFunction(array, {0.0, -0.2, 0.3}, 0.2).size(), 1u);
    EXPECT_EQ(FockSpaceFunction(array, {0.0, -0.2, 0.3}, -1.0).size(), 3u);

    // Values follow the masked states only: |2,0,0>, |0,2,0>, |0,0,2>.
    const FsArray masked(3, 2, FsMask(3, 2, {"2  ", " 2 ", "  2"}));
    const FockSpaceFunction g(masked, {1.0, 2.0, 3.0}, 0.0);
    EXPECT_EQ(g, function({{{2, 0, 0}, 1.0}, {{0, 2, 0}, 2.0}, {{0, 0, 2}, 3.0}}));

    for (std::vector<double> const& values :
         {std::vector<double>{1.0, 2.0}, std::vector<double>{1.0, 2.0, 3.0, 4.0}})
        expect_throw_message<std::invalid_argument>(
            [&] { FockSpaceFunction f(array, values, 0.0); },
            "Number of states is not consistent with number of probabilities");
}

TEST(FockSpaceFunctionTest, EqualityIgnoresZeroEntriesAndHasNoTolerance) {
    const auto half = function({{{1, 0}, 0.5}});
    EXPECT_EQ(function({{{1, 0}, 0.5}, {{0, 1}, 0.0}}), half);
    EXPECT_EQ(half, function({{{1, 0}, 0.5}, {{0, 1}, 0.0}}));
    const auto more = function({{{1, 0}, 0.5}, {{0, 1}, 0.25}});
    EXPECT_NE(half, more);
    EXPECT_NE(more, half);
    EXPECT_FALSE(half == more);
    EXPECT_NE(function({{{1, 0}, 0.1 + 0.2}}), function({{{1, 0}, 0.3}}));
    EXPECT_EQ(FockSpaceFunction(), function({{{1, 0}, 0.0}}));

    const auto nan = function({{{1, 0}, std::numeric_limits<double>::quiet_NaN()}});
    EXPECT_NE(nan, nan);
    EXPECT_NE(nan, FockSpaceFunction());
}

TEST(FockSpaceFunctionTest, NormalizeOnlyAboveTheFloor) {
    auto tiny = function({{{1}, 1e-17}});
    tiny.normalize();
    EXPECT_EQ(tiny.get(fs({1})), 1e-17);

    auto twos = function({{{1, 0}, 2.0}, {{0, 1}, 2.0}});
    twos.normalize();
    EXPECT_EQ(twos, function({{{1, 0}, 0.5}, {{0, 1}, 0.5}}));

    auto cancelling = function({{{1, 0}, 1.0}, {{0, 1}, -1.0}});
    cancelling.normalize();
    EXPECT_EQ(cancelling, function({{{1, 0}, 1.0}, {{0, 1}, -1.0}}));
}

TEST(FockSpaceFunctionTest, TrimErasesMagnitudesAtOrBelowTheThreshold) {
    auto f = function({{{2, 0}, 0.0}, {{1, 1}, -0.25}, {{0, 2}, -0.5}, {{1, 0}, 0.75}});
    f.trim(0.0);
    EXPECT_EQ(f.size(), 3u);
    EXPECT_FALSE(f.contains(fs({2, 0})));
    f.trim(0.5);
    EXPECT_EQ(f.size(), 1u);
    EXPECT_EQ(f.get(fs({1, 0})), 0.75);
}

TEST(FockSpaceFunctionTest, ScalarArithmeticAndNegation) {
    const auto f = function({{{1, 0}, 1.0}, {{0, 1}, -2.0}});
    EXPECT_EQ(f * 2.0, function({{{1, 0}, 2.0}, {{0, 1}, -4.0}}));
    EXPECT_EQ(3.0 * f, function({{{1, 0}, 3.0}, {{0, 1}, -6.0}}));
    EXPECT_EQ(f / 4.0, function({{{1, 0}, 0.25}, {{0, 1}, -0.5}}));
    EXPECT_EQ(-f, function({{{1, 0}, -1.0}, {{0, 1}, 2.0}}));
    EXPECT_EQ(f, function({{{1, 0}, 1.0}, {{0, 1}, -2.0}}));

    auto moved = f;
    const auto negated = -std::move(moved);
    EXPECT_EQ(negated, -f);
    EXPECT_EQ(moved.size(), 0u);

    auto g = f;
    g *= 2.0;
    g /= 8.0;
    EXPECT_EQ(g, f / 4.0);
}

TEST(FockSpaceFunctionTest, AdditionInsertsMissingStatesAndKeepsZeroResults) {
    const auto a = function({{{1, 0}, 0.5}, {{0, 1}, 0.25}});
    const auto b = function({{{0, 1}, 0.25}, {{2, 0}, 1.0}});
    const auto sum = a + b;
    EXPECT_EQ(sum, function({{{1, 0}, 0.5}, {{0, 1}, 0.5}, {{2, 0}, 1.0}}));
    const auto difference = a - b;
    EXPECT_EQ(difference.size(), 3u);
    EXPECT_TRUE(difference.contains(fs({0, 1})));
    EXPECT_EQ(difference.get(fs({0, 1})), 0.0);
    EXPECT_EQ(difference.get(fs({2, 0})), -1.0);

    auto self = a;
    self += self;
    EXPECT_EQ(self, a * 2.0);
    self -= self;
    EXPECT_EQ(self.size(), 2u);
    EXPECT_EQ(self, FockSpaceFunction());

    // No mode check: the sum mixes mode counts.
    auto mixed = a;
    mixed += function({{{1}, 1.0}});
    EXPECT_EQ(mixed.size(), 3u);
    EXPECT_EQ(mixed.get(fs({1})), 1.0);
}

TEST(FockSpaceFunctionTest, MoveLeavesTheSourceEmpty) {
    auto f = function({{{1, 0}, 0.5}});
    FockSpaceFunction g(std::move(f));
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(g.size(), 1u);
    f = std::move(g);
    EXPECT_EQ(g.size(), 0u);
    EXPECT_EQ(f.get(fs({1, 0})), 0.5);
}

TEST(FockSpaceFunctionTest, TextFormListsEntriesInIterationOrder) {
    EXPECT_EQ(fmt::format("{}", FockSpaceFunction(fs({1, 0}), 1.0)), "{\n\t|1,0>: 1\n}");
    EXPECT_EQ(fmt::format("{}", FockSpaceFunction(fs({1, 0, 2}), -0.1)), "{\n\t|1,0,2>: -0.1\n}");

    const auto f = function({{{2, 0}, 0.5}, {{1, 1}, 0.25}, {{0, 2}, 1.0 / 3}});
    std::string expected = "{";
    for (auto const& [state, value] : f) expected += fmt::format("\n\t{}: {}", state, value);
    EXPECT_EQ(fmt::format("{}", f), expected + "\n}");
    EXPECT_NE(expected.find("|0,2>: 0.3333333333333333"), std::string::npos);
}

}  // namespace

TEST(FockSpaceFunctionTest, ToDistributionDropsNonPositiveValuesAndRenormalises) {
    const auto f = function({{{1, 0}, 3.0}, {{0, 1}, -1.0}});
    const FockSpaceDistribution d = f.toFSD(0.0);
    EXPECT_EQ(d, FockSpaceDistribution(fs({1, 0})));
    EXPECT_EQ(f.size(), 2u);

    auto moved = f;
    EXPECT_EQ(std::move(moved).toFSD(0.0).size(), 1u);
    EXPECT_EQ(moved.size(), 0u);

    // The moving form empties the function only when the conversion succeeds.
    for (auto failing : {function({{{1, 0}, -1.0}}), FockSpaceFunction()}) {
        const auto before = failing;
        expect_throw_message<std::runtime_error>([&] { (void)std::as_const(failing).toFSD(0.0); },
                                                 "Unable to normalize an empty distribution");
        expect_throw_message<std::runtime_error>([&] { (void)std::move(failing).toFSD(0.0); },
                                                 "Unable to normalize an empty distribution");
        EXPECT_EQ(failing.size(), before.size());
        EXPECT_EQ(failing, before);
    }
    auto mixed = function({{{1, 0}, 1.0}});
    mixed += function({{{1}, 1.0}});
    expect_throw_message<std::invalid_argument>([&] { (void)std::move(mixed).toFSD(0.0); },
                                                "Number of modes is not consistent");
    EXPECT_EQ(mixed.size(), 2u);
}
