#include "fockspace/state_vector_distribution.h"

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/product_kernels.h"
#include "runtime/rng.h"
#include "states/any_fs_utils.h"
#include "states/state_vector_terms.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using Entries = std::vector<std::pair<StateVector, double>>;
using D = StateVectorDistribution;

StateVector sv(const std::string& text) {
    return StateVector(AnyFSUtils::parse(text));
}

StateVectorDistribution svd(const Entries& entries, int n_max) {
    StateVectorDistribution d;
    for (const auto& [key, p] : entries) d.map()[key] = p;
    d.n_max() = n_max;
    return d;
}

void expect_entries(const StateVectorDistribution& d, const Entries& expected) {
    EXPECT_EQ(d.size(), expected.size()) << fmt::format("{}", d);
    for (const auto& [key, p] : expected) {
        const auto it = d.map().find(key);
        ASSERT_NE(it, d.map().end()) << fmt::format("{} missing from {}", key, d);
        EXPECT_DOUBLE_EQ(it->second, p) << fmt::format("{}", key);
    }
}

using test_support::UserLog;

const StateVector superposition = sv("|1,0>") + sv("|0,3>");

struct StateProductCase {
    std::string name;
    std::function<StateVectorDistribution(const StateVectorDistribution&)> product;
    Entries expected;
    int n_max;
};

class StateProduct : public ::testing::TestWithParam<StateProductCase> {};

// Keys are combined with the state on the named side; n_max adds the state's largest count.
TEST_P(StateProduct, CombinesEveryKeyWithTheState) {
    const auto& c = GetParam();
    const StateVectorDistribution d = svd({{sv("|1>"), 0.25}, {sv("|0>"), -0.75}}, 2);
    const StateVectorDistribution result = c.product(d);
    expect_entries(result, c.expected);
    EXPECT_EQ(result.n_max(), c.n_max);
    EXPECT_EQ(c.product(StateVectorDistribution()).size(), 0u);
    EXPECT_EQ(c.product(StateVectorDistribution()).n_max(), 0);
}

// A vector without components counts as no photon; every key collapses onto one empty vector.
TEST(StateVectorDistribution, ProductWithAVectorWithoutComponents) {
    const StateVectorDistribution d = svd({{sv("|1>"), 0.25}, {sv("|0>"), -0.75}}, 2);
    const StateVectorDistribution product = d * StateVector();
    EXPECT_EQ(product.size(), 1u);
    EXPECT_TRUE(product.begin()->first.empty());
    EXPECT_EQ(product.n_max(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    StateVectorDistribution, StateProduct,
    ::testing::Values(
        StateProductCase{"VectorRight",
                         [](const D& d) { return d * superposition; },
                         {{sv("|1>") * superposition, 0.25}, {sv("|0>") * superposition, -0.75}},
                         5},
        StateProductCase{"VectorLeft",
                         [](const D& d) { return superposition * d; },
                         {{superposition * sv("|1>"), 0.25}, {superposition * sv("|0>"), -0.75}},
                         5},
        StateProductCase{"BasicRight",
                         [](const D& d) { return d * AnyFSUtils::parse("|1,1>"); },
                         {{sv("|1,1,1>"), 0.25}, {sv("|0,1,1>"), -0.75}},
                         4},
        StateProductCase{"BasicLeft",
                         [](const D& d) { return AnyFSUtils::parse("|0,2>") * d; },
                         {{sv("|0,2,1>"), 0.25}, {sv("|0,2,0>"), -0.75}},
                         4},
        StateProductCase{"InPlaceVector",
                         [](const D& d) {
                             StateVectorDistribution copy(d);
                             StateVectorDistribution& same = copy *= superposition;
                             EXPECT_EQ(&same, &copy);
                             return copy;
                         },
                         {{sv("|1>") * superposition, 0.25}, {sv("|0>") * superposition, -0.75}},
                         5}),
    [](const auto& info) { return info.param.name; });

TEST(StateVectorDistribution, TensorProductMatchesEveryPairAboveTheThreshold) {
    const StateVectorDistribution a = svd({{sv("|1,0>"), 0.5}, {sv("|0,1>"), 0.5}}, 1);
    const StateVectorDistribution b = svd({{sv("|2>"), 0.8}, {superposition, -0.2}}, 3);

    for (double t : {0.0, 0.15, 0.3, 0.5}) {
        Entries expected;
        for (const auto& [k1, p1] : a)
            for (const auto& [k2, p2] : b)
                if (std::abs(p1 * p2) >= t) expected.emplace_back(k1 * k2, p1 * p2);
        const StateVectorDistribution product = tensor_product(a, b, t);
        expect_entries(product, expected);
        EXPECT_EQ(product.n_max(), 4) << t;
    }
    expect_entries(a * b, [&] {
        Entries all;
        for (const auto& [k1, p1] : a)
            for (const auto& [k2, p2] : b) all.emplace_back(k1 * k2, p1 * p2);
        return all;
    }());

    // Nothing kept, or nothing to combine on the right: empty, yet n_max is the sum.
    const StateVectorDistribution halves = svd({{sv("|1>"), 0.5}, {sv("|0>"), 0.5}}, 1);
    EXPECT_EQ(tensor_product(halves, halves, 0.3).size(), 0u);
    EXPECT_EQ(tensor_product(halves, halves, 0.3).n_max(), 2);
    EXPECT_EQ((a * StateVectorDistribution()).n_max(), 1);
    // An empty left operand gives n_max 0 whatever the right one holds.
    EXPECT_EQ((StateVectorDistribution() * b).size(), 0u);
    EXPECT_EQ((StateVectorDistribution() * b).n_max(), 0);

    StateVectorDistribution in_place(a);
    StateVectorDistribution& same = in_place *= b;
    EXPECT_EQ(&same, &in_place);
    expect_entries(in_place, {{sv("|1,0,2>"), 0.4},
                              {sv("|0,1,2>"), 0.4},
                              {sv("|1,0>") * superposition, -0.1},
                              {sv("|0,1>") * superposition, -0.1}});
    EXPECT_EQ(in_place.n_max(), 4);
}

TEST(StateVectorDistribution, ListProductsAndPowers) {
    const StateVectorDistribution d = svd({{sv("|1>"), 0.9}, {sv("|0>"), 0.1}}, 1);

    EXPECT_EQ(d.pow(0).size(), 0u);
    EXPECT_EQ(d.pow(0).n_max(), 0);
    expect_entries(d.pow(1), {{sv("|1>"), 0.9}, {sv("|0>"), 0.1}});
    EXPECT_EQ(d.pow(1).n_max(), 1);
    const StateVectorDistribution cube = d.pow(3);
    const StateVectorDistribution reference = d * d * d;
    EXPECT_EQ(cube.size(), 8u);
    for (const auto& [key, p] : reference) EXPECT_DOUBLE_EQ(cube.map().at(key), p);
    EXPECT_EQ(cube.n_max(), 3);

    // The |0> branch survives depth one (0.1 >= 0.05 / 0.9) but |0,0> (0.01) is pruned.
    const StateVectorDistribution pruned = tensor_product(std::vector{d, d}, 0.05);
    expect_entries(pruned, {{sv("|1,1>"), 0.81}, {sv("|1,0>"), 0.09}, {sv("|0,1>"), 0.09}});
    EXPECT_EQ(pruned.n_max(), 2);

    const StateVectorDistribution with_empty =
        tensor_product(std::vector{d, StateVectorDistribution(), d}, 0.0);
    EXPECT_EQ(with_empty.size(), 0u);
    EXPECT_EQ(with_empty.n_max(), 0);
    EXPECT_EQ(tensor_product(std::vector<StateVectorDistribution>{}, 0.0).size(), 0u);
}

TEST(StateVectorDistribution, ListMergeAddsIntoTheGivenMap) {
    const StateVectorDistribution d = svd({{sv("|1,0>"), 0.5}, {sv("|0,1>"), 0.5}}, 1);
    StateVectorDistribution out;
    MathUtils::inner_merge(std::vector{d, d}, out.map(), sv("|0,0>"), 1.0, 0.0);
    expect_entries(out, {{sv("|2,0>"), 0.25}, {sv("|1,1>"), 0.5}, {sv("|0,2>"), 0.25}});

    StateVectorDistribution tensor;
    MathUtils::inner_tensor_product(std::vector{d}, tensor.map(), sv("|1>"), 2.0, 0.0);
    expect_entries(tensor, {{sv("|1,1,0>"), 1.0}, {sv("|1,0,1>"), 1.0}});
}

TEST(StateVectorDistribution, Normalize) {
    StateVectorDistribution d = svd({{sv("|1>"), 0.5}, {sv("|0>"), -1.5}}, 7);
    d.normalize();
    expect_entries(d, {{sv("|1>"), 0.25}, {sv("|0>"), -0.75}});
    EXPECT_EQ(d.n_max(), 7);

    for (StateVectorDistribution null : {svd({{sv("|1>"), 0.0}}, 1), StateVectorDistribution()}) {
        const UserLog log;
        const std::size_t size = null.size();
        null.normalize();
        EXPECT_EQ(log.text(),
                  "[warning] Unable to normalize an object with only null components\n");
        EXPECT_EQ(null.size(), size);
        if (size != 0) {
            EXPECT_EQ(null.map().at(sv("|1>")), 0.0);
        }
    }
}

TEST(StateVectorDistribution, SampleFollowsTheProbabilities) {
    expect_throw_message<std::runtime_error>([] { StateVectorDistribution().sample(0); },
                                             "Unable to sample from empty distribution");

    const std::vector<StateVector> copies = svd({{superposition, 1.0}}, 3).sample(3);
    ASSERT_EQ(copies.size(), 3u);
    for (const auto& s : copies) EXPECT_EQ(s, superposition);

    // Unnormalised weights 1 : 3, 20000 draws: 5 sigma of the binomial is about 306.
    const StateVectorDistribution d = svd({{sv("|1>"), 2.0}, {sv("|0>"), 6.0}}, 1);
    RNG::rng.seed(42);
    const std::vector<StateVector> drawn = d.sample(20000);
    ASSERT_EQ(drawn.size(), 20000u);
    long ones = 0;
    for (const auto& s : drawn) ones += s == sv("|1>");
    EXPECT_NEAR(static_cast<double>(ones), 5000.0, 5 * std::sqrt(20000 * 0.25 * 0.75));

    RNG::rng.seed(42);
    EXPECT_EQ(d.sample(20000), drawn);
}

TEST(StateVectorDistribution, TextFormAndModeCheck) {
    EXPECT_EQ(fmt::format("{}", StateVectorDistribution()), "{\n}");
    const StateVectorDistribution d = svd({{sv("|1,0>"), 0.5}}, 1);
    EXPECT_EQ(fmt::format("{}", d), fmt::format("{{\n\t{}: 0.5\n}}", sv("|1,0>")));

    d.check_m(2);
    StateVectorDistribution().check_m(5);
    expect_throw_message<std::invalid_argument>([&] { d.check_m(3); },
                                                "Number of modes is not consistent");
}

TEST(StateVectorDistribution, ConstructorsFromOneVectorAndFromMaps) {
    const StateVectorDistribution one(superposition);
    expect_entries(one, {{superposition, 1.0}});
    EXPECT_EQ(one.n_max(), 3);
    EXPECT_EQ(StateVectorDistribution(StateVector()).n_max(), 0);

    // Values are kept as given, zero and negative ones included.
    const StateVectorDistribution vectors(
        D::map_t{{sv("|1,0>"), 0.5}, {superposition, -0.2}, {sv("|0,0>"), 0.0}});
    expect_entries(vectors, {{sv("|1,0>"), 0.5}, {superposition, -0.2}, {sv("|0,0>"), 0.0}});
    EXPECT_EQ(vectors.n_max(), 3);
    EXPECT_TRUE(StateVectorDistribution(D::map_t{}).empty());
    EXPECT_EQ(StateVectorDistribution(D::map_t{}).n_max(), 0);

    // Each basic state stands for its one-component vector; n_max is the largest photon count.
    const StateVectorDistribution states(std::unordered_map<BasicState, double>{
        {AnyFSUtils::parse("|1,0>"), 0.5}, {AnyFSUtils::parse("|0,{0}{1}{1}>"), 0.25}});
    expect_entries(states, {{sv("|1,0>"), 0.5}, {sv("|0,{0}{1}{1}>"), 0.25}});
    EXPECT_EQ(states.n_max(), 3);

    for (const std::function<void()>& build : std::vector<std::function<void()>>{
             [] {
                 StateVectorDistribution(D::map_t{{sv("|1,0>"), 0.5}, {sv("|1>"), 0.5}});
             },
             [] {
                 StateVectorDistribution(std::unordered_map<BasicState, double>{
                     {AnyFSUtils::parse("|1,0>"), 0.5}, {AnyFSUtils::parse("|1,0,0>"), 0.5}});
             }})
        expect_throw_message<std::invalid_argument>(build, "Number of modes is not consistent");
}

TEST(StateVectorDistribution, ConstructorFromAFockSpaceDistribution) {
    const FockSpaceDistribution fsd({{FockState(test_support::Counts{2, 0}), 1.0},
                                     {FockState(test_support::Counts{0, 1}), 3.0}},
                                    false, 0.0);
    const StateVectorDistribution d(fsd);
    expect_entries(d, {{sv("|2,0>"), 0.25}, {sv("|0,1>"), 0.75}});
    EXPECT_EQ(d.n_max(), 2);
}

// A read never inserts; set stores any value, add only values above 1e-16.
TEST(StateVectorDistribution, ReadAndEdit) {
    StateVectorDistribution d;
    d.set(sv("|1,0>"), 0.0);
    d.set(sv("|0,1>"), -0.5);
    d.add(sv("|0,1>"), 0.2);
    d.add(superposition, 0.3);
    d.add(superposition, 0.4);
    expect_entries(d, {{sv("|1,0>"), 0.0}, {sv("|0,1>"), -0.3}, {superposition, 0.7}});
    EXPECT_EQ(d.n_max(), 3);

    EXPECT_EQ(d.get(sv("|2,0>")), 0.0);
    EXPECT_EQ(d.find(sv("|2,0>")), std::nullopt);
    EXPECT_FALSE(d.contains(sv("|2,0>")));
    EXPECT_EQ(d.size(), 3u);
    EXPECT_EQ(d.find(sv("|1,0>")), 0.0);
    EXPECT_TRUE(d.contains(sv("|1,0>")));
    EXPECT_DOUBLE_EQ(d.get(superposition), 0.7);

    // A discarded value still raises n_max.
    for (double p : {1e-16, 0.0, -1.0}) d.add(sv("|0,5>"), p);
    EXPECT_FALSE(d.contains(sv("|0,5>")));
    EXPECT_EQ(d.n_max(), 5);

    // Erasing keeps n_max.
    EXPECT_TRUE(d.erase(superposition));
    EXPECT_FALSE(d.erase(superposition));
    EXPECT_EQ(d.n_max(), 5);
}

TEST(StateVectorDistribution, AFailedModeCheckChangesNothing) {
    StateVectorDistribution d;
    d.set(sv("|1,0>"), 0.5);
    const StateVectorDistribution before(d);
    for (const std::function<void()>& edit : std::vector<std::function<void()>>{
             [&] { d.set(sv("|9>"), 0.5); }, [&] { d.add(sv("|0,0,9>"), 0.0); }}) {
        expect_throw_message<std::invalid_argument>(edit, "Number of modes is not consistent");
        EXPECT_EQ(d, before);
        EXPECT_EQ(d.n_max(), 1);
    }
}

class SvdNonFiniteProbability : public ::testing::TestWithParam<double> {};

// Every path that stores a probability refuses one that is not finite, sums and products that
// overflow included, and changes nothing.
TEST_P(SvdNonFiniteProbability, IsRefusedWhereverValuesComeIn) {
    const double bad = GetParam();
    const std::string message =
        fmt::format("Probabilities must be finite, got {} for {}", bad, sv("|0,1>"));
    for (const std::function<void()>& build : std::vector<std::function<void()>>{
             [&] {
                 StateVectorDistribution(D::map_t{{sv("|1,0>"), 0.5}, {sv("|0,1>"), bad}});
             },
             [&] {
                 StateVectorDistribution(
                     std::unordered_map<BasicState, double>{{AnyFSUtils::parse("|0,1>"), bad}});
             }})
        expect_throw_message<std::invalid_argument>(build, message);

    StateVectorDistribution d = svd({{sv("|1,0>"), 0.5}}, 1);
    const StateVectorDistribution before(d);
    for (const std::function<void()>& edit : std::vector<std::function<void()>>{
             [&] { d.set(sv("|0,1>"), bad); }, [&] { d.add(sv("|0,1>"), bad); }}) {
        expect_throw_message<std::invalid_argument>(edit, message);
        EXPECT_EQ(d, before);
        EXPECT_EQ(d.n_max(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(StateVectorDistribution, SvdNonFiniteProbability,
                         ::testing::Values(HUGE_VAL, -HUGE_VAL,
                                           std::numeric_limits<double>::quiet_NaN()));

TEST(StateVectorDistribution, OverflowingSumsAndProductsAreRefused) {
    StateVectorDistribution d = svd({{sv("|1>"), 1e200}, {sv("|0>"), 1.0}}, 1);
    const StateVectorDistribution before(d);
    const std::string message =
        fmt::format("Probabilities must be finite, got inf for {}", sv("|1,1>"));
    for (const std::function<void()>& product : std::vector<std::function<void()>>{
             [&] { (void)tensor_product(d, d, 0.0); }, [&] { (void)(d * d); }, [&] { d *= d; },
             [&] {
                 (void)tensor_product(std::vector{d, d}, 0.0);
             },
             [&] { (void)d.pow(2); }}) {
        expect_throw_message<std::invalid_argument>(product, message);
        EXPECT_EQ(d, before);
    }
    d.set(sv("|1>"), 1.5e308);
    expect_throw_message<std::invalid_argument>(
        [&] { d.add(sv("|1>"), 0.5e308); },
        fmt::format("Probabilities must be finite, got inf for {}", sv("|1>")));
    EXPECT_EQ(d.get(sv("|1>")), 1.5e308);

    // Normalising divides by a sum that would overflow.
    StateVectorDistribution large = svd({{sv("|1>"), 1.5e308}, {sv("|0>"), -0.5e308}}, 1);
    large.normalize();
    expect_entries(large, {{sv("|1>"), 0.75}, {sv("|0>"), -0.25}});
}

// Powers and list products of many factors do not use one call frame per factor.
TEST(StateVectorDistribution, ProductsOfManyFactors) {
    constexpr std::size_t k = 200000;
    const StateVectorDistribution vacuum{StateVector(FockState())};
    const StateVectorDistribution power = vacuum.pow(k);
    expect_entries(power, {{StateVector(FockState()), 1.0}});
    EXPECT_EQ(tensor_product(std::vector<StateVectorDistribution>(k, vacuum), 0.0), power);
}

struct EqualityCase {
    std::string name;
    Entries a, b;
    bool equal;
};

class DistributionEquality : public ::testing::TestWithParam<EqualityCase> {};

// n_max takes no part, the probabilities must match exactly.
TEST_P(DistributionEquality, ComparesEntriesOnly) {
    const auto& c = GetParam();
    const StateVectorDistribution a = svd(c.a, 1), b = svd(c.b, 7);
    EXPECT_EQ(a == b, c.equal);
    EXPECT_EQ(b == a, c.equal);
    EXPECT_EQ(a != b, !c.equal);
}

const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    StateVectorDistribution, DistributionEquality,
    ::testing::Values(
        EqualityCase{"Empty", {}, {}, true},
        EqualityCase{"SameEntries",
                     {{sv("|1,0>"), 0.5}, {superposition, 0.0}},
                     {{superposition, 0.0}, {sv("|1,0>"), 0.5}},
                     true},
        EqualityCase{"ZeroEntryAgainstNone",
                     {{sv("|1,0>"), 0.5}, {sv("|0,1>"), 0.0}},
                     {{sv("|1,0>"), 0.5}},
                     false},
        EqualityCase{"OtherProbability", {{sv("|1,0>"), 0.5}}, {{sv("|1,0>"), 0.5000001}}, false},
        EqualityCase{"OtherKey", {{sv("|1,0>"), 0.5}}, {{sv("|0,1>"), 0.5}}, false},
        EqualityCase{"NaNNeverMatches", {{sv("|1,0>"), nan}}, {{sv("|1,0>"), nan}}, false}),
    [](const auto& info) { return info.param.name; });

const StateVector empty_state = sv("|0,0>");

// Leaving the perfect empty state out draws exactly what the distribution without it draws.
TEST(StateVectorDistribution, NonNullSamplingLeavesOutThePerfectEmptyState) {
    const StateVectorDistribution d =
        svd({{empty_state, 0.5}, {sv("|1,0>"), 0.2}, {sv("|0,1>"), 0.1}, {superposition, 0.2}}, 3);
    StateVectorDistribution without(d);
    without.erase(empty_state);

    RNG::rng.seed(11);
    const std::vector<StateVector> drawn = d.sample(500, true);
    RNG::rng.seed(11);
    EXPECT_EQ(drawn, without.sample(500));
    for (const auto& s : drawn) EXPECT_NE(s, empty_state);
    // Without the rule the empty state is drawn, about half of the time.
    long empties = 0;
    for (const auto& s : d.sample(500)) empties += s == empty_state;
    EXPECT_NEAR(static_cast<double>(empties), 250.0, 5 * std::sqrt(500 * 0.25));
}

TEST(StateVectorDistribution, NonNullSamplingKeepsOtherKeysWithoutPhotons) {
    const StateVector noisy_empty(BasicState(NoisyFockState(FockState(2))));
    const StateVector with_empty = empty_state + sv("|1,0>");
    for (const StateVector& key : {noisy_empty, with_empty}) {
        const std::vector<StateVector> drawn = svd({{key, 1.0}}, 1).sample(3, true);
        EXPECT_EQ(drawn, std::vector<StateVector>(3, key)) << fmt::format("{}", key);
    }
}

TEST(StateVectorDistribution, NonNullSamplingOfTheEmptyStateAlone) {
    const StateVectorDistribution alone = svd({{empty_state, 1.0}}, 0);
    for (std::size_t count : {0u, 3u})
        expect_throw_message<std::runtime_error>([&] { alone.sample(count, true); },
                                                 "Unable to sample from empty distribution");
    EXPECT_EQ(alone.sample(2, false), std::vector<StateVector>(2, empty_state));
    expect_throw_message<std::runtime_error>([] { StateVectorDistribution().sample(1, true); },
                                             "Unable to sample from empty distribution");
}

// Weights that define no draw are refused, whatever the count, and the distribution is kept.
TEST(StateVectorDistribution, SamplingRefusesWeightsThatDefineNoDraw) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const StateVectorDistribution& d :
         {svd({{sv("|1,0>"), 0.5}, {sv("|0,1>"), -0.5}}, 1), svd({{sv("|1,0>"), nan}}, 1),
          svd({{sv("|1,0>"), 0.0}}, 1), svd({{empty_state, 0.5}, {sv("|1,0>"), 0.0}}, 1)}) {
        const StateVectorDistribution before(d);
        for (std::size_t count : {0u, 3u})
            EXPECT_THROW((void)d.sample(count, true), std::runtime_error) << fmt::format("{}", d);
        EXPECT_EQ(d.size(), before.size());
    }
    EXPECT_EQ(svd({{empty_state, 0.5}, {sv("|1,0>"), 0.0}}, 1).sample(2, false),
              std::vector<StateVector>(2, empty_state));
}

// StateVector::split_by_photon_and_tag_count is defined with the distribution it builds; its
// test keeps the helpers of the state-vector tests.
namespace split {

using state_vector_terms::bs;
using state_vector_terms::cd;
using state_vector_terms::sv;

StateVector normalized(StateVector v) {
    v.normalize();
    return v;
}

TEST(StateVector, SplitByPhotonAndTagCount) {
    const StateVector v = sv({{"|1,1>", 1}, {"|{0},{1}>", cd(0, 2)}, {"|{0},{0}>", 3}});
    const StateVectorDistribution d = v.split_by_photon_and_tag_count();
    EXPECT_EQ(d.n_max(), 0);
    ASSERT_EQ(d.map().size(), 2u);
    const StateVector two = normalized(sv({{"|1,1>", 1}, {"|{0},{0}>", 3}}));
    const StateVector one_one = normalized(StateVector(bs("|{0},{1}>")) * cd(0, 1));
    EXPECT_EQ(d.map().at(two), 10);
    EXPECT_EQ(d.map().at(one_one), 4);
    for (const auto& [group, p] : d.map()) EXPECT_TRUE(group.isNormalized());
    EXPECT_FALSE(v.isNormalized());

    // Tag 2 alone, a vacuum noisy state: keys [0, 0, 1] and [].
    const auto tags = sv({{"|0,{2}>", 1}, {"|0{1},0>", 1}}).split_by_photon_and_tag_count();
    EXPECT_EQ(tags.map().size(), 2u);

    EXPECT_TRUE(StateVector().split_by_photon_and_tag_count().map().empty());
    const StateVector annotated = sv({{"|1,1>", 1}, {"|{a:0},0>", 1}});
    expect_throw_message<std::invalid_argument>([&] { annotated.split_by_photon_and_tag_count(); },
                                                "Annotated FockState can't be split");
}

}  // namespace split

}  // namespace
