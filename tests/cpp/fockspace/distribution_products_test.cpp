#include "fockspace/distribution_products.h"

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/fock_space_function.h"
#include "fockspace/product_kernels.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using Entries = std::vector<std::pair<std::vector<int>, double>>;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

FockSpaceFunction function(Entries const& entries) {
    FockSpaceFunction f;
    for (auto const& [counts, value] : entries) f[fs(counts)] = value;
    return f;
}

FockSpaceDistribution distribution(Entries const& entries) {
    std::unordered_map<FockState, double> map;
    for (auto const& [counts, value] : entries) map[fs(counts)] = value;
    return FockSpaceDistribution(std::move(map), true, 0.0);
}

void expect_empty_distribution(std::function<void()> const& f) {
    expect_throw_message<std::runtime_error>(f, "Unable to normalize an empty distribution");
}

// Every pair of entries, combined without any pruning: the reference for the products.
template <typename A, typename B>
FockSpaceFunction brute_force(A const& a, B const& b, bool merge) {
    FockSpaceFunction out;
    for (auto const& [s1, p1] : a)
        for (auto const& [s2, p2] : b) out[merge ? s1.merge(s2) : s1 * s2] += p1 * p2;
    return out;
}

void expect_near(FockSpaceFunction const& actual, FockSpaceFunction const& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (auto const& [s, v] : expected) EXPECT_NEAR(actual.get(s), v, 1e-12);
}

template <typename D>
void expect_near(FockSpaceDistribution const& actual, D const& expected) {
    expect_near(actual.toFockSpaceFunction(), FockSpaceFunction(expected.toFockSpaceFunction()));
}

TEST(DistributionProductsTest, ProductsWithOneState) {
    const auto f = function({{{1, 0}, -0.5}, {{0, 1}, 2.0}});
    EXPECT_EQ(f * fs({1}), function({{{1, 0, 1}, -0.5}, {{0, 1, 1}, 2.0}}));
    EXPECT_EQ(fs({1}) * f, function({{{1, 1, 0}, -0.5}, {{1, 0, 1}, 2.0}}));
    EXPECT_EQ(merge(f, fs({1, 1})), function({{{2, 1}, -0.5}, {{1, 2}, 2.0}}));

    // The plain forms copy probabilities as they are, the operators check and renormalise.
    const auto d = distribution({{{1, 0}, 3.0}, {{0, 1}, 1.0}});
    EXPECT_EQ(tensor(d, fs({0})), distribution({{{1, 0, 0}, 3.0}, {{0, 1, 0}, 1.0}}));
    EXPECT_EQ(tensor(fs({0}), d), distribution({{{0, 1, 0}, 3.0}, {{0, 0, 1}, 1.0}}));
    EXPECT_EQ(merge(d, fs({1, 0})), distribution({{{2, 0}, 3.0}, {{1, 1}, 1.0}}));
    EXPECT_EQ(d * fs({0}), distribution({{{1, 0, 0}, 0.75}, {{0, 1, 0}, 0.25}}));
    EXPECT_EQ(fs({0}) * d, distribution({{{0, 1, 0}, 0.75}, {{0, 0, 1}, 0.25}}));
    expect_throw_message<std::runtime_error>([&] { (void)merge(d, fs({1})); },
                                             "Cannot merge fock states of different length");
}

TEST(DistributionProductsTest, PairwiseProductsMatchTheBruteForceProduct) {
    const auto a = function({{{1, 0}, 0.5}, {{0, 1}, -0.25}, {{2, 0}, 1.5}});
    const auto b = function({{{1, 0}, -2.0}, {{0, 1}, 0.75}});
    EXPECT_EQ(tensor_product(a, b), brute_force(a, b, false));
    EXPECT_EQ(a * b, brute_force(a, b, false));
    expect_near(merge_product(a, b), brute_force(a, b, true));

    // The threshold keeps magnitudes of at least t.
    auto kept = brute_force(a, b, false);
    kept.trim(0.375 - 1e-15);
    EXPECT_EQ(tensor_product(a, b, 0.375), kept);
    EXPECT_EQ(merge_product(a, b, 10.0).size(), 0u);

    const auto d = distribution({{{1, 0}, 0.5}, {{0, 1}, 0.5}});
    EXPECT_EQ(d * b, brute_force(d, b, false));
    EXPECT_EQ(b * d, brute_force(b, d, false));
}

TEST(DistributionProductsTest, PairwiseDistributionProducts) {
    const auto coin = distribution({{{1}, 0.5}, {{0}, 0.5}});
    expect_empty_distribution([&] { (void)tensor_product(coin, coin, 0.3); });
    EXPECT_EQ(tensor_product(coin, coin, 0.25),
              distribution({{{1, 1}, 0.25}, {{1, 0}, 0.25}, {{0, 1}, 0.25}, {{0, 0}, 0.25}}));
    EXPECT_EQ(coin * coin, tensor_product(coin, coin, 0.25));

    const auto split = distribution({{{1, 0}, 0.5}, {{0, 1}, 0.5}});
    EXPECT_EQ(merge_product(split, split, 0.0),
              distribution({{{2, 0}, 0.25}, {{1, 1}, 0.5}, {{0, 2}, 0.25}}));
    // The threshold applies to each pair before merged pairs add up.
    expect_empty_distribution([&] { (void)merge_product(split, split, 0.3); });

    // Results pass through the checking constructor.
    const auto signed_d = distribution({{{1}, 2.0}, {{0}, -1.0}});
    EXPECT_EQ(signed_d * coin, distribution({{{1, 1}, 0.5}, {{1, 0}, 0.5}}));
}

TEST(DistributionProductsTest, ListTensorProductPrunesBranchesDepthFirst) {
    const auto biased = distribution({{{1}, 0.9}, {{0}, 0.1}});
    const auto pruned = tensor_product(std::vector{biased, biased}, 0.05);
    expect_near(pruned, distribution(
                            {{{1, 1}, 0.81 / 0.99}, {{1, 0}, 0.09 / 0.99}, {{0, 1}, 0.09 / 0.99}}));

    // Without pruning, the list product is the chained pairwise product.
    const auto three = distribution({{{1, 0}, 0.2}, {{0, 1}, 0.3}, {{1, 1}, 0.5}});
    const std::vector list{biased, three, biased};
    expect_near(tensor_product(list, 0.0), (biased * three) * biased);
    expect_near(merge_product(std::vector{three, three, three}, 0.0),
                merge_product(merge_product(three, three, 0.0), three, 0.0));

    const std::vector<std::reference_wrapper<FockSpaceDistribution const>> refs{
        std::cref(biased), std::cref(three), std::cref(biased)};
    EXPECT_EQ(tensor_product(refs, 0.0), tensor_product(list, 0.0));
    const std::vector<std::reference_wrapper<FockSpaceDistribution const>> merge_refs{
        std::cref(three), std::cref(three)};
    EXPECT_EQ(merge_product(merge_refs, 0.0), merge_product(std::vector{three, three}, 0.0));
}

TEST(DistributionProductsTest, ListFunctionProductsPruneByMagnitude) {
    const auto f0 = function({{{1}, -1.0}, {{0}, 1.0}});
    const auto f1 = function({{{1}, -1.0}});
    EXPECT_EQ(tensor_product(f0, f1), function({{{1, 1}, 1.0}, {{0, 1}, -1.0}}));
    EXPECT_EQ(tensor_product(std::vector{f0, f1}, 0.0), tensor_product(f0, f1));

    const auto a = function({{{1, 0}, 0.5}, {{0, 1}, 2.0}});
    const auto b = function({{{1, 0}, 0.25}, {{0, 1}, 3.0}});
    const std::vector<std::reference_wrapper<FockSpaceFunction const>> refs{std::cref(a),
                                                                            std::cref(b)};
    EXPECT_EQ(tensor_product(refs, 0.0), a * b);
    EXPECT_EQ(tensor_product(std::vector{a, b}, 0.0), a * b);
    auto a_mutable = a;
    auto b_mutable = b;
    const std::vector<std::reference_wrapper<FockSpaceFunction>> merge_refs{std::ref(a_mutable),
                                                                            std::ref(b_mutable)};
    expect_near(merge_product(merge_refs, 0.0), merge_product(a, b));
    EXPECT_EQ(merge_product(std::vector{a, b}, 0.0), merge_product(merge_refs, 0.0));
    // Branches whose partial products cannot reach the threshold are dropped: only 2 * 3 stays.
    EXPECT_EQ(tensor_product(std::vector{a, b}, 2.0), function({{{0, 1, 0, 1}, 6.0}}));
}

struct MagnitudeCase {
    std::string name;
    std::vector<Entries> factors;
    double t;
};

class ListFunctionProductTest : public ::testing::TestWithParam<MagnitudeCase> {};

// The list products keep exactly the terms of the full product whose magnitude reaches t, as
// the pairwise products do, whatever the signs; values are powers of 2 so no bound is rounded.
TEST_P(ListFunctionProductTest, KeepsTheTermsWhoseMagnitudeReachesTheThreshold) {
    const auto& c = GetParam();
    std::vector<FockSpaceFunction> factors;
    for (auto const& entries : c.factors) factors.push_back(function(entries));
    FockSpaceFunction tensor = factors.front();
    FockSpaceFunction merged = factors.front();
    for (std::size_t i = 1; i < factors.size(); ++i) {
        tensor = brute_force(tensor, factors[i], false);
        merged = brute_force(merged, factors[i], true);
    }
    FockSpaceFunction kept;
    for (auto const& [s, v] : tensor)
        if (std::abs(v) >= c.t) kept[s] = v;
    const auto product = tensor_product(factors, c.t);
    // Sizes too: zero entries do not count in the comparison.
    EXPECT_EQ(product.size(), kept.size());
    EXPECT_EQ(product, kept);
    // Merged branches add up after the test, as in the pairwise merge product.
    if (c.t == 0.0) expect_near(merge_product(factors, c.t), merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListFunctionProductTest,
    ::testing::Values(
        MagnitudeCase{
            "AllNegative", {{{{1}, -1.0}, {{0}, -0.5}}, {{{1}, -2.0}, {{0}, -0.25}}}, 0.0},
        MagnitudeCase{"MixedSignsPruned",
                      {{{{1}, -2.0}, {{0}, 0.5}}, {{{1}, 0.25}, {{0}, -4.0}}, {{{1}, -1.0}}},
                      1.0},
        MagnitudeCase{"NegativeLargestMagnitude",
                      {{{{1}, 0.5}, {{0}, 0.25}}, {{{1}, 0.5}, {{0}, -8.0}}},
                      2.0},
        MagnitudeCase{"ZeroFactorAtZero", {{{{1}, -1.0}, {{0}, 2.0}}, {{{1}, 0.0}}}, 0.0},
        MagnitudeCase{"ZeroFactorAboveZero", {{{{1}, -1.0}, {{0}, 2.0}}, {{{1}, 0.0}}}, 0.5},
        MagnitudeCase{"ZeroFirstFactor", {{{{1}, 0.0}}, {{{1}, -1.0}, {{0}, 2.0}}}, 0.0}),
    [](auto const& info) { return info.param.name; });

// A factor whose values are all 0 leaves a bound of at most 0 alone and makes a positive one
// unreachable (no vector), never infinite or undefined.
TEST(DistributionProductsTest, MagnitudeThresholdsStayFinite) {
    using MathUtils::details::get_thresholds;
    using MathUtils::details::MagnitudeBound;
    const auto zero = function({{{1}, 0.0}, {{0}, -0.0}});
    const auto f = function({{{1}, -4.0}, {{0}, 2.0}});
    EXPECT_EQ(get_thresholds<MagnitudeBound>(std::vector{f, zero, f}, 0.0),
              (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(get_thresholds<MagnitudeBound>(std::vector{f, f, zero}, -1.0),
              (std::vector<double>{-1.0, -1.0, -0.25}));
    EXPECT_TRUE(get_thresholds<MagnitudeBound>(std::vector{f, zero, f}, 1.0).empty());
    EXPECT_EQ(get_thresholds<MagnitudeBound>(std::vector{zero, f}, 1.0),
              (std::vector<double>{1.0, 0.25}));
}

// Products of many factors walk their branches without one call frame per factor.
TEST(DistributionProductsTest, ProductsOfManyFactors) {
    constexpr std::size_t k = 200000;
    const FockSpaceDistribution vacuum(FockState{});
    EXPECT_EQ(vacuum.pow(k), vacuum);
    // 0.5^k underflows to 0, which reaches the threshold 0.
    const FockSpaceFunction f(FockState{}, 0.5);
    EXPECT_EQ(f.pow(k).size(), 1u);
    EXPECT_EQ(f.pow(k).get(FockState{}), 0.0);
    EXPECT_EQ(
        tensor_product(std::vector<FockSpaceFunction>(k, FockSpaceFunction(FockState{}, 1.0)), 0.0),
        FockSpaceFunction(FockState{}, 1.0));
    EXPECT_EQ(merge_product(
                  std::vector<FockSpaceDistribution>(k, FockSpaceDistribution(FockState(2))), 0.0),
              FockSpaceDistribution(FockState(2)));
    // Keys that grow with the depth meet the state's mode limit instead.
    expect_throw_message<std::runtime_error>(
        [] {
            (void)distribution({{{1}, 0.5}, {{0}, 0.5}}).pow(k);
        },
        "Fock state size is capped from 0 to 256 modes");
}

TEST(DistributionProductsTest, ListProductsOfFewOrEmptyFactors) {
    const auto f = function({{{1, 0}, 0.5}, {{0, 1}, -0.5}});
    const auto d = distribution({{{1, 0}, 3.0}, {{0, 1}, 1.0}});  // not normalised on purpose

    EXPECT_EQ(tensor_product(std::vector<FockSpaceFunction>{}, 0.0).size(), 0u);
    EXPECT_EQ(merge_product(std::vector<FockSpaceFunction>{}, 0.0).size(), 0u);
    EXPECT_EQ(tensor_product(std::vector{f}, 0.9), f);
    EXPECT_EQ(merge_product(std::vector{f}, 0.9), f);
    EXPECT_EQ(tensor_product(std::vector{f, FockSpaceFunction()}, 0.0).size(), 0u);
    EXPECT_EQ(merge_product(std::vector{FockSpaceFunction(), f}, 0.0).size(), 0u);

    EXPECT_EQ(tensor_product(std::vector<FockSpaceDistribution>{}, 0.0),
              FockSpaceDistribution(FockState()));
    expect_empty_distribution(
        [] { (void)merge_product(std::vector<FockSpaceDistribution>{}, 0.0); });
    EXPECT_EQ(tensor_product(std::vector{d}, 0.0), d);
    EXPECT_EQ(merge_product(std::vector{d}, 0.0), d);
    expect_empty_distribution([&] {
        (void)tensor_product(std::vector{d, FockSpaceDistribution()}, 0.0);
    });
    expect_empty_distribution([&] {
        (void)merge_product(std::vector{d, FockSpaceDistribution()}, 0.0);
    });
    EXPECT_THROW((void)merge_product(std::vector{FockSpaceDistribution(), d}, 0.0),
                 std::bad_optional_access);
}

TEST(DistributionProductsTest, Powers) {
    const auto f = function({{{1, 0}, 0.5}, {{0, 1}, -2.0}});
    const auto d = distribution({{{1}, 0.25}, {{0}, 0.75}});
    EXPECT_EQ(f.pow(0).size(), 0u);
    EXPECT_EQ(f.pow(1), f);
    // Negative values are products like any other.
    EXPECT_EQ(f.pow(3), (f * f) * f);
    const auto positive = function({{{1, 0}, 0.5}, {{0, 1}, 2.0}});
    EXPECT_EQ(positive.pow(3), (positive * positive) * positive);
    EXPECT_EQ(d.pow(0), FockSpaceDistribution(FockState()));
    EXPECT_EQ(d.pow(1), d);
    expect_near(d.pow(3), (d * d) * d);
}

TEST(DistributionProductsTest, ThresholdVectorDividesByTheLastFactorsMaxima) {
    const auto a = function({{{1}, -3.0}, {{0}, -1.0}});
    const auto b = function({{{1}, 2.0}, {{0}, 4.0}});
    const auto c = function({{{1}, 0.5}});
    EXPECT_EQ(MathUtils::details::get_thresholds(std::vector<FockSpaceFunction>{}, 0.5),
              std::vector<double>{0.5});
    EXPECT_EQ(MathUtils::details::get_thresholds(std::vector{a, b, c}, 1.0),
              (std::vector<double>{1.0, 2.0, 0.5}));
    // The first factor's maximum is never used, even when every value is negative.
    EXPECT_EQ(MathUtils::details::get_thresholds(std::vector{b, a}, 1.0),
              (std::vector<double>{1.0, -1.0}));
}

TEST(DistributionProductsTest, KernelsAddToWhatTheOutputHolds) {
    const auto a = function({{{1, 0}, 0.5}, {{0, 1}, 0.5}});
    const std::vector<std::reference_wrapper<FockSpaceFunction const>> refs{std::cref(a),
                                                                            std::cref(a)};
    FockSpaceFunction out = function({{{2, 0}, 1.0}, {{9, 9}, 1.0}});
    MathUtils::inner_merge(refs, out, FockState(2), 2.0, 0.0);
    EXPECT_EQ(out, function({{{2, 0}, 1.5}, {{1, 1}, 1.0}, {{0, 2}, 0.5}, {{9, 9}, 1.0}}));
}

TEST(DistributionProductsTest, CtrlCEndsLongProducts) {
    // One photon in each of 64 modes: every pairwise product polls, a list product every few
    // thousand branches.
    FockSpaceFunction wide;
    for (int k = 0; k < 64; ++k) {
        std::vector<int> counts(64, 0);
        counts[static_cast<std::size_t>(k)] = 1;
        wide[fs(counts)] = 1.0 / 64;
    }
    const std::vector<FockSpaceFunction> list(3, wide);
    {
        test_support::CtrlC ctrl_c;
        const std::string message = "Process interrupted by user.";
        expect_throw_message<KeyboardInterruptException>([&] { tensor_product(wide, wide); },
                                                         message);
        expect_throw_message<KeyboardInterruptException>([&] { tensor_product(list, 0.0); },
                                                         message);
        expect_throw_message<KeyboardInterruptException>([&] { merge_product(list, 0.0); },
                                                         message);
    }
    EXPECT_EQ(tensor_product(list, 0.0).size(), 64u * 64u * 64u);
}

}  // namespace
