#include "states/state_vector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>
#include "states/state_vector_terms.h"
#include "test_support.h"

#include "runtime/rng.h"

namespace {

using namespace state_vector_terms;

// Exactly these components with exactly these amplitudes, in any order.
void expect_components(const StateVector& v, const Terms& terms) {
    EXPECT_EQ(v.size(), terms.size()) << fmt::format("{}", v);
    for (const auto& [text, a] : terms) {
        const BasicState s = bs(text);
        ASSERT_TRUE(v.hasComponent(s)) << text;
        EXPECT_EQ(v.at(s), a) << text;
    }
}

using test_support::expect_throw_message;

using test_support::UserLog;

const std::string null_warning =
    "[warning] Unable to normalize an object with only null components\n";

// The case tables below share names with other test files: this namespace keeps them apart.

TEST(StateVector, ConstructionAndAccess) {
    const StateVector empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.modeCount(), 0);
    EXPECT_FALSE(empty.isNormalized());

    StateVector v(FockState(std::vector<int>{1, 0}));
    expect_components(v, {{"|1,0>", 1}});
    EXPECT_EQ(v.modeCount(), 2);
    EXPECT_FALSE(v.isNormalized());

    v.normalize();
    EXPECT_EQ(v[bs("|0,1>")], cd(0));
    EXPECT_FALSE(v.isNormalized());
    expect_components(v, {{"|1,0>", 1}, {"|0,1>", 0}});
    EXPECT_FALSE(v.hasComponent(bs("|{0},0>")));
    expect_throw_message<std::out_of_range>([&] { v.at(bs("|{0},0>")); }, "unordered_map::at");
    v.normalize();
    EXPECT_THROW(v.at(bs("|{0},0>")), std::out_of_range);
    EXPECT_FALSE(v.isNormalized());

    const StateVector three = sv({{"|1,0>", 1}, {"|0,1>", 2}, {"|2,0>", 3}});
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(three.hasComponent(three.componentAt(i)));
    EXPECT_NE(three.componentAt(0), three.componentAt(1));
    expect_throw_message<std::runtime_error>([&] { three.componentAt(3); },
                                             "Out of bounds component (pos=3, size=3)");
    expect_throw_message<std::runtime_error>([&] { three.componentAt(5); },
                                             "Out of bounds component (pos=5, size=3)");
    EXPECT_EQ(three.n(), (std::unordered_set<int>{1, 2}));
    EXPECT_EQ(sv({{"|{0}{1},0>", 1}, {"|{a:0},0>", 1}}).n(), (std::unordered_set<int>{1, 2}));
}

struct AlgebraCase {
    std::string name;
    std::function<StateVector()> build;
    Terms expected;
    int m;
    bool normalized;
};

class StateVectorAlgebra : public testing::TestWithParam<AlgebraCase> {};

TEST_P(StateVectorAlgebra, GivesTheComponents) {
    const AlgebraCase& c = GetParam();
    const StateVector v = c.build();
    expect_components(v, c.expected);
    EXPECT_EQ(v.modeCount(), c.m);
    EXPECT_EQ(v.isNormalized(), c.normalized);
}

StateVector normalized(StateVector v) {
    v.normalize();
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StateVectorAlgebra,
    testing::Values(
        AlgebraCase{"SumOfKinds",
                    [] { return bs("|1,0>") + bs("|{0},0>"); },
                    {{"|1,0>", 1}, {"|{0},0>", 1}},
                    2,
                    false},
        AlgebraCase{"CancellingDifferenceKeepsTheState",
                    [] { return StateVector(bs("|1,0>")) - StateVector(bs("|1,0>")); },
                    {{"|1,0>", 0}},
                    2,
                    false},
        AlgebraCase{"NegligibleTermIsSkippedButClearsTheFlag",
                    [] {
                        StateVector v = normalized(StateVector(bs("|1,0>")));
                        return v += bs("|0,1>") * cd(1e-7);
                    },
                    {{"|1,0>", 1}},
                    2,
                    false},
        AlgebraCase{"EmptyVectorAdoptsTheModeCount",
                    [] { return StateVector() += StateVector(bs("|1,0>")); },
                    {{"|1,0>", 1}},
                    2,
                    false},
        AlgebraCase{"StateMinusVectorNegatesTheVector",
                    [] {
                        return bs("|1,0>") - sv({{"|0,1>", cd(2, -1)}});
                    },
                    {{"|1,0>", 1}, {"|0,1>", cd(-2, 1)}},
                    2,
                    false},
        AlgebraCase{"StatePlusEmptyVector",
                    [] { return bs("|1,0>") + StateVector(); },
                    {{"|1,0>", 1}},
                    2,
                    false},
        AlgebraCase{"NegatedState",
                    [] { return StateVector(bs("|0,1>")) + (-bs("|1,0>")); },
                    {{"|0,1>", 1}, {"|1,0>", -1}},
                    2,
                    false},
        AlgebraCase{
            "FockStateDifference",
            [] {
                return FockState(std::vector<int>{0, 1}) - FockState(std::vector<int>{1, 0});
            },
            {{"|0,1>", 1}, {"|1,0>", -1}},
            2,
            false},
        AlgebraCase{"ProductByOneKeepsTheFlag",
                    [] {
                        return normalized(sv({{"|1,0>", 2}})) * cd(1, 0);
                    },
                    {{"|1,0>", 1}},
                    2,
                    true},
        AlgebraCase{"ProductByZeroKeepsTheComponents",
                    [] {
                        return cd(0) * sv({{"|1,0>", 2}, {"|0,1>", cd(0, 1)}});
                    },
                    {{"|1,0>", 0}, {"|0,1>", 0}},
                    2,
                    false},
        AlgebraCase{"TensorProductStateFirst",
                    [] {
                        return bs("|1>") * sv({{"|0,1>", 2}, {"|{1},0>", 3}});
                    },
                    {{"|1,0,1>", 2}, {"|{0},{1},0>", 3}},
                    3,
                    false},
        AlgebraCase{"TensorProductAccumulatesPromotedKeys",
                    [] {
                        return sv({{"|1>", 2}, {"|{0}>", 3}}) * bs("|{0}>");
                    },
                    {{"|{0},{0}>", 5}},
                    2,
                    false},
        AlgebraCase{"EmptyTimesVectorCopiesIt",
                    [] {
                        return StateVector() * normalized(sv({{"|1,0>", 2}}));
                    },
                    {{"|1,0>", 1}},
                    2,
                    true},
        AlgebraCase{"VectorTimesEmptyIsEmpty",
                    [] {
                        return sv({{"|1,0>", 2}}) * StateVector();
                    },
                    {},
                    2,
                    false},
        AlgebraCase{"TensorProductOfNormalisedVectorsStaysNormalised",
                    [] {
                        return normalized(sv({{"|1>", 2}})) * normalized(sv({{"|0,2>", cd(0, 3)}}));
                    },
                    {{"|1,0,2>", cd(0, 1)}},
                    3,
                    true},
        AlgebraCase{
            "MergeAccumulates",
            [] {
                return sv({{"|1,0>", 1}, {"|0,1>", 2}}).merge(sv({{"|1,0>", 3}, {"|0,1>", 5}}));
            },
            {{"|2,0>", 3}, {"|1,1>", 11}, {"|0,2>", 10}},
            2,
            false},
        AlgebraCase{"MergePromotes",
                    [] { return StateVector(bs("|1,0>")).merge(StateVector(bs("|{2},{2}>"))); },
                    {{"|{0}{2},{2}>", 1}},
                    2,
                    false},
        AlgebraCase{"MergeWithThreshold",
                    [] {
                        return merge(sv({{"|1,0>", 1}, {"|0,1>", 0.25}}),
                                     sv({{"|1,0>", 1}, {"|0,1>", 0.5}}), 0.2);
                    },
                    {{"|2,0>", 1}, {"|1,1>", 0.75}},
                    2,
                    false}),
    [](const testing::TestParamInfo<AlgebraCase>& info) { return info.param.name; });

TEST(StateVector, AlgebraErrorsLeaveTheVector) {
    StateVector v(bs("|1,0>"));
    expect_throw_message<std::runtime_error>([&] { v += StateVector(); },
                                             "The mode count in both StateVectors is different");
    expect_throw_message<std::runtime_error>([&] { v -= bs("|1,0,0>"); },
                                             "The mode count in both StateVectors is different");
    expect_throw_message<std::invalid_argument>(
        [&] { v.merge(StateVector(bs("|1>"))); },
        "State vectors with different numbers of modes can't be merged");
    expect_throw_message<std::invalid_argument>([&] { v.pow(0); }, "Power must be at least 1");
    EXPECT_THROW(v.pow(std::size_t(1) << 32), std::invalid_argument);

    // A failing basic-state product (more than 8191 photons) leaves the vector as it was.
    StateVector heavy = sv({{"|1,0>", 1}, {"|0,200>", 2}});
    heavy.normalize();
    const StateVector before = heavy;
    // 8000 photons; squaring the base once more than needed would exceed the limit.
    const StateVector many = StateVector(bs("|200>")).pow(40);
    EXPECT_ANY_THROW(heavy *= many);
    EXPECT_TRUE(heavy.isNormalized());
    EXPECT_EQ(heavy.modeCount(), 2);
    EXPECT_TRUE(heavy == before);
}

// Products and powers against a reference that sums one product term at a time.
TEST(StateVector, TensorProductsAndPowersMatchTermByTermSums) {
    const StateVector a = sv({{"|1,0>", cd(1, 1)}, {"|{1},1>", 2}, {"|0,{a:0}>", cd(0, -0.5)}});
    const StateVector b = sv({{"|2>", 3}, {"|{0}>", cd(0.25, 1)}});
    const auto reference = [](const StateVector& x, const StateVector& y) {
        StateVector r;
        for (auto i = x.begin_unnormalized(); i != x.end(); ++i)
            for (auto j = y.begin_unnormalized(); j != y.end(); ++j)
                r += (i->first * j->first) * (i->second * j->second);
        return r;
    };
    const StateVector ab = a * b;
    EXPECT_EQ(ab.modeCount(), 3);
    const StateVector ref = reference(a, b);
    EXPECT_EQ(ab.size(), ref.size());
    for (auto it = ref.begin_unnormalized(); it != ref.end(); ++it)
        EXPECT_EQ(ab.at(it->first), it->second) << fmt::format("{}", it->first);

    for (std::size_t n = 1; n <= 5; ++n) {
        StateVector expected = b;
        for (std::size_t k = 1; k < n; ++k) expected = reference(expected, b);
        const StateVector power = b.pow(n);
        EXPECT_EQ(power.modeCount(), static_cast<int>(n));
        ASSERT_EQ(power.size(), expected.size()) << n;
        for (auto it = expected.begin_unnormalized(); it != expected.end(); ++it) {
            EXPECT_NEAR(std::abs(power.at(it->first) - it->second), 0,
                        1e-12 * std::abs(it->second));
        }
    }
    StateVector flagged = a;
    flagged.normalize();
    EXPECT_TRUE(flagged.pow(1).isNormalized());
    EXPECT_TRUE(flagged.pow(1) == flagged);
    EXPECT_EQ(flagged.pow(3).modeCount(), 6);
    EXPECT_LE(flagged.pow(3).size(), 27u);
    const StateVector empty_power = (StateVector() * StateVector()).pow(3);
    EXPECT_TRUE(empty_power.empty());
}

// A flagged product holding |0,0> with a squared modulus near 1e-16, below the tolerance.
StateVector tiny_product() {
    const StateVector x = normalized(sv({{"|1>", 1}, {"|0>", 1e-4}}));
    StateVector p = x * x;
    EXPECT_TRUE(p.isNormalized());
    EXPECT_EQ(p.size(), 4u);
    return p;
}

struct EqualityCase {
    std::string name;
    std::function<StateVector()> a, b;
    bool equal;
};

class StateVectorEquality : public testing::TestWithParam<EqualityCase> {};

// Equal vectors must also hash equal, which the map of a distribution relies on.
TEST_P(StateVectorEquality, AgreesWithTheHash) {
    const StateVector a = GetParam().a(), b = GetParam().b();
    EXPECT_EQ(a == b, GetParam().equal);
    EXPECT_EQ(b == a, GetParam().equal);
    EXPECT_EQ(a != b, !GetParam().equal);
    if (GetParam().equal) {
        EXPECT_EQ(a.hash(), b.hash());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StateVectorEquality,
    testing::Values(EqualityCase{"PositiveMultiple",
                                 [] {
                                     return sv({{"|1,0>", 1}, {"|0,1>", cd(0, 1)}});
                                 },
                                 [] {
                                     return sv({{"|1,0>", 2}, {"|0,1>", cd(0, 2)}});
                                 },
                                 true},
                    EqualityCase{"NormalisedAgainstUnnormalised",
                                 [] {
                                     return normalized(sv({{"|1,0>", 4}}));
                                 },
                                 [] {
                                     return sv({{"|1,0>", 0.5}});
                                 },
                                 true},
                    EqualityCase{"NegativeMultiple",
                                 [] {
                                     return sv({{"|1,0>", 1}});
                                 },
                                 [] {
                                     return sv({{"|1,0>", -1}});
                                 },
                                 false},
                    EqualityCase{"BothNormalisedCompareExactly",
                                 [] {
                                     return normalized(sv({{"|1,0>", 2}}));
                                 },
                                 [] {
                                     return normalized(sv({{"|1,0>", 1}}));
                                 },
                                 true},
                    EqualityCase{"BothNormalisedDifferentPhase",
                                 [] {
                                     return normalized(sv({{"|1,0>", 1}}));
                                 },
                                 [] {
                                     return normalized(sv({{"|1,0>", cd(0, 1)}}));
                                 },
                                 false},
                    EqualityCase{"BothNormalisedNegligibleComponentCounts",
                                 [] { return tiny_product(); },
                                 [] {
                                     StateVector v = tiny_product();
                                     v._eraseNullAmplitudeComponents();
                                     return v;
                                 },
                                 false},
                    EqualityCase{"NegligibleComponentIgnoredOtherwise",
                                 [] {
                                     StateVector v = tiny_product();
                                     v[bs("|0,0>")];
                                     return v;
                                 },
                                 [] {
                                     StateVector v = tiny_product();
                                     v._eraseNullAmplitudeComponents();
                                     return v;
                                 },
                                 true},
                    EqualityCase{"NullComponentIgnored",
                                 [] {
                                     StateVector v = sv({{"|1,0>", 1}});
                                     v[bs("|0,1>")];
                                     return v;
                                 },
                                 [] {
                                     return sv({{"|1,0>", 1}});
                                 },
                                 true},
                    EqualityCase{"EmptyVectors", [] { return StateVector(); },
                                 [] { return StateVector(); }, true},
                    EqualityCase{"EmptyAndNegligible",
                                 [] { return StateVector(bs("|1,0>")) * cd(1e-7); },
                                 [] { return StateVector(bs("|1,0>")) - bs("|1,0>"); }, true},
                    EqualityCase{"DifferentModeCounts", [] { return StateVector() * cd(2); },
                                 [] { return StateVector(bs("|1,0>")) - bs("|1,0>"); }, false},
                    EqualityCase{"KindsAreDifferentKeys", [] { return StateVector(bs("|1,0>")); },
                                 [] { return StateVector(bs("|{0},0>")); }, false},
                    EqualityCase{"SameStatesOtherDirection",
                                 [] {
                                     return sv({{"|1,0>", 1}, {"|0,1>", 1}});
                                 },
                                 [] {
                                     return sv({{"|1,0>", 1}, {"|0,1>", 2}});
                                 },
                                 false}),
    [](const testing::TestParamInfo<EqualityCase>& info) { return info.param.name; });

TEST(StateVector, HashIgnoresOrderAndScale) {
    // Inserting in opposite orders into maps of different histories changes the iteration order.
    StateVector forward, backward;
    std::vector<BasicState> states;
    for (int i = 0; i < 40; ++i) states.push_back(FockState(std::vector<int>{i % 7, i / 7}));
    for (std::size_t i = 0; i < states.size(); ++i) forward[states[i]] = cd(1.0 + i, 0);
    for (std::size_t i = states.size(); i-- > 0;) backward[states[i]] = cd(1.0 + i, 0);
    backward += StateVector(FockState(2)) * cd(0);  // adopts the mode count, adds nothing
    forward += StateVector(FockState(2)) * cd(0);
    ASSERT_FALSE(forward.componentAt(0) == backward.componentAt(0));
    EXPECT_TRUE(forward == backward);
    EXPECT_EQ(forward.hash(), backward.hash());
    const std::size_t h = forward.hash();
    EXPECT_EQ(forward.hash(), h);
    forward.normalize();
    EXPECT_EQ(forward.hash(), h);
    EXPECT_EQ((backward * cd(3)).hash(), h);
    EXPECT_NE((backward + StateVector(FockState(std::vector<int>{9, 9}))).hash(), h);
    EXPECT_NE(StateVector(bs("|1,0>")).hash(), StateVector(bs("|{0},0>")).hash());
}

TEST(StateVector, NormalisationErasesNullComponents) {
    UserLog log;
    StateVector v = StateVector(bs("|1,0>")) * cd(3);
    v.normalize();
    expect_components(v, {{"|1,0>", 1}});
    EXPECT_TRUE(v.isNormalized());
    v.normalize();
    expect_components(v, {{"|1,0>", 1}});

    // The tolerance bound: the largest modulus whose square is below 1e-12 goes, the next stays.
    double below = 1e-6;
    while (below * below >= 1e-12) below = std::nextafter(below, 0.0);
    while (std::nextafter(below, 1.0) * std::nextafter(below, 1.0) < 1e-12)
        below = std::nextafter(below, 1.0);
    const double above = std::nextafter(below, 1.0);
    StateVector edge;
    edge[bs("|1,0>")] = 1;
    edge[bs("|0,1>")] = below;
    edge[bs("|2,0>")] = cd(0, above);
    edge._eraseNullAmplitudeComponents();
    expect_components(edge, {{"|1,0>", 1}, {"|2,0>", cd(0, above)}});
    EXPECT_EQ(log.text(), "");

    StateVector zeros = sv({{"|1,0>", 1}, {"|0,1>", 1}}) * cd(0);
    zeros.normalize();
    zeros.normalize();
    EXPECT_TRUE(zeros.empty());
    EXPECT_TRUE(zeros.isNormalized());
    EXPECT_EQ(log.text(), null_warning);
    StateVector empty;
    empty.normalize();
    EXPECT_TRUE(empty.isNormalized());
    EXPECT_EQ(log.text(), null_warning + null_warning);
}

TEST(StateVector, NormalisedIteration) {
    StateVector v = cd(0.1) * StateVector(bs("|0,1>")) + cd(0.2) * StateVector(bs("|1,0>"));
    double sum = 0;
    for (auto it = v.begin_unnormalized(); it != v.end(); ++it) sum += it->second.real();
    EXPECT_DOUBLE_EQ(sum, 0.3);
    for (auto it = v.begin_normalized(); it != v.end(); ++it)
        EXPECT_EQ(it->second.real(),
                  it->first == bs("|0,1>") ? 0.4472135954999579 : 0.8944271909999159);
    EXPECT_TRUE(v.isNormalized());
}

struct MeasureCase {
    std::string name;
    Terms vector;
    std::vector<int> modes;
    // outcome, probability, unnormalised rest
    std::vector<std::tuple<std::string, double, Terms>> outcomes;
};

class StateVectorMeasure : public testing::TestWithParam<MeasureCase> {};

TEST_P(StateVectorMeasure, GivesOutcomesAndRests) {
    StateVector v = sv(GetParam().vector);
    const auto result = v.measure(GetParam().modes);
    EXPECT_TRUE(v.isNormalized());
    ASSERT_EQ(result.size(), GetParam().outcomes.size());
    for (const auto& [outcome, p, rest] : GetParam().outcomes) {
        const auto it = result.find(FockState(outcome));
        ASSERT_NE(it, result.end()) << outcome;
        EXPECT_NEAR(it->second.first, p, 1e-15) << outcome;
        const StateVector& got = it->second.second;
        EXPECT_FALSE(got.isNormalized());
        ASSERT_EQ(got.size(), rest.size()) << outcome;
        for (const auto& [text, a] : rest) {
            ASSERT_TRUE(got.hasComponent(bs(text))) << text;
            EXPECT_NEAR(std::abs(got.at(bs(text)) - a), 0, 1e-15) << text;
        }
        EXPECT_EQ(got.modeCount(), FockState(rest[0].first).m());
    }
}

const double r2 = 1 / std::sqrt(2.0);

INSTANTIATE_TEST_SUITE_P(
    Cases, StateVectorMeasure,
    testing::Values(
        MeasureCase{"FirstMode",
                    {{"|0,1,1>", 1}, {"|1,1,0>", 1}},
                    {0},
                    {{"|0>", 0.5, {{"|1,1>", r2}}}, {"|1>", 0.5, {{"|1,0>", r2}}}}},
        MeasureCase{"ModesInAscendingOrderOnce",
                    {{"|1,0,2>", 1}, {"|2,1,0>", cd(0, 1)}},
                    {2, 0, 2, 7, -1},
                    {{"|1,2>", 0.5, {{"|0>", r2}}}, {"|2,0>", 0.5, {{"|1>", cd(0, r2)}}}}},
        MeasureCase{
            "SameOutcomeAccumulates",
            {{"|1,0,1>", 1}, {"|1,1,0>", 1}, {"|0,1,1>", cd(0, std::sqrt(2.0))}},
            {0},
            {{"|1>", 0.5, {{"|0,1>", 0.5}, {"|1,0>", 0.5}}}, {"|0>", 0.5, {{"|1,1>", cd(0, r2)}}}}},
        MeasureCase{"NoModesKeepsEverything",
                    {{"|1,0>", 3}, {"|0,1>", 4}},
                    {},
                    {{"|>", 1, {{"|1,0>", 0.6}, {"|0,1>", 0.8}}}}},
        MeasureCase{"NoisyAndAnnotatedGivePerfectStates",
                    {{"|{0},{1}>", 1}, {"|{a:0},1>", 1}},
                    {1},
                    {{"|1>", 1, {{"|1>", cd(2 * r2, 0)}}}}}),
    [](const testing::TestParamInfo<MeasureCase>& info) { return info.param.name; });

TEST(StateVector, MeasureRefusesMixedModeCountsAndHandlesEmpty) {
    StateVector v(bs("|1,0>"));
    v[bs("|1,0,0>")] = 1;
    EXPECT_THROW(v.measure({0}), std::invalid_argument);
    EXPECT_FALSE(v.isNormalized());

    UserLog log;
    StateVector empty;
    EXPECT_TRUE(empty.measure({0}).empty());
    EXPECT_EQ(log.text(), null_warning);
}

struct TextCase {
    std::string name;
    Terms terms;
    std::string text;          // when the first listed term comes first
    std::string text_swapped;  // otherwise
};

class StateVectorText : public testing::TestWithParam<TextCase> {};

TEST_P(StateVectorText, Prints) {
    StateVector v;
    for (const auto& [text, a] : GetParam().terms) v[bs(text)] = a;
    const bool in_order =
        GetParam().terms.empty() || v.componentAt(0) == bs(GetParam().terms[0].first);
    EXPECT_EQ(fmt::format("{}", v), in_order ? GetParam().text : GetParam().text_swapped);
    EXPECT_FALSE(v.isNormalized());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StateVectorText,
    testing::Values(
        TextCase{"Empty", {}, "|>", "|>"},
        TextCase{"AllNegligible", {{"|1,0>", 9e-13}, {"|0,1>", cd(0, -9e-13)}}, "|>", "|>"},
        TextCase{"One", {{"|1,0>", 1}}, "|1,0>", "|1,0>"},
        TextCase{"Unnormalised",
                 {{"|0,1>", 0.1}, {"|1,0>", 0.2}},
                 "0.447*|0,1>+0.894*|1,0>",
                 "0.894*|1,0>+0.447*|0,1>"},
        TextCase{"Negative",
                 {{"|1,0>", 1}, {"|0,1>", -1}},
                 "0.707*|1,0>-0.707*|0,1>",
                 "-0.707*|0,1>+0.707*|1,0>"},
        TextCase{"Imaginary", {{"|1,0>", cd(0, 1)}}, "I*|1,0>", "I*|1,0>"},
        TextCase{"NegativeImaginary", {{"|1,0>", cd(0, -1)}}, "-1I*|1,0>", "-1I*|1,0>"},
        TextCase{"Complex", {{"|1,0>", cd(1, 1)}}, "(0.707+0.707I)*|1,0>", "(0.707+0.707I)*|1,0>"},
        TextCase{"ImaginaryPair",
                 {{"|1,0>", cd(0, 1)}, {"|0,1>", cd(0, -1)}},
                 "0.707I*|1,0>-0.707I*|0,1>",
                 "-0.707I*|0,1>+0.707I*|1,0>"},
        TextCase{"RoundsToZero",
                 {{"|1,0>", 1}, {"|{0},{1}>", 1e-4}},
                 "|1,0>+(0+0I)*|{0},{1}>",
                 "(0+0I)*|{0},{1}>+|1,0>"},
        TextCase{"Kinds",
                 {{"|{a:1},0>", 2}, {"|{1},{0}>", cd(0, 2)}},
                 "0.707*|{a:1},0>+0.707I*|{1},{0}>",
                 "0.707I*|{1},{0}>+0.707*|{a:1},0>"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

// Seeded draws against the standard library's own generate_canonical and discrete_distribution,
// fed the same engine state and the weights in iteration order.
TEST(StateVector, DrawsMatchTheStandardDistributions) {
    StateVector v =
        sv({{"|1,0,0>", 1}, {"|0,1,0>", cd(0, 2)}, {"|0,0,1>", -3}, {"|{1},0,0>", cd(1, 1)}});
    v.normalize();
    std::vector<double> weights;
    std::vector<BasicState> states;
    for (auto it = v.begin_unnormalized(); it != v.end(); ++it) {
        states.push_back(it->first);
        const cd a = it->second;
        weights.push_back(a.real() * a.real() + a.imag() * a.imag());
    }

    RNG::rng.seed(2024);
    std::mt19937 reference(2024);
    for (int i = 0; i < 2000; ++i) {
        double u = std::generate_canonical<double, 53>(reference);
        std::size_t k = 0;
        for (; k < states.size(); ++k)
            if ((u -= weights[k]) < 0) break;
        if (k == states.size()) k = 0;
        ASSERT_EQ(v.sample(), states[k]) << i;
    }
    EXPECT_EQ(RNG::rng, reference);

    std::discrete_distribution<int> discrete(weights.begin(), weights.end());
    const std::vector<BasicState> drawn = v.samples(2000);
    ASSERT_EQ(drawn.size(), 2000u);
    for (std::size_t i = 0; i < drawn.size(); ++i) ASSERT_EQ(drawn[i], states[discrete(reference)]);
    EXPECT_EQ(RNG::rng, reference);

    RNG::rng.seed(7);
    const std::vector<BasicState> first = v.samples(50);
    RNG::rng.seed(7);
    EXPECT_EQ(v.samples(50), first);
}

TEST(StateVector, SingleComponentDraws) {
    StateVector v = StateVector(bs("|{1},1>")) * cd(0, 5);
    RNG::rng.seed(11);
    std::mt19937 reference(11);
    EXPECT_EQ(v.samples(5), std::vector<BasicState>(5, bs("|{1},1>")));
    EXPECT_EQ(RNG::rng, reference);
    EXPECT_EQ(v.sample(), bs("|{1},1>"));
    reference.discard(2);
    EXPECT_EQ(RNG::rng, reference);
    EXPECT_TRUE(v.samples(0).empty());
    expect_throw_message<std::length_error>(
        [&] { v.samples(std::numeric_limits<std::size_t>::max()); }, "vector::reserve");
}

TEST(StateVector, DrawingFromNothingThrows) {
    UserLog log;
    StateVector zero = StateVector(bs("|1,0>")) * cd(0);
    RNG::rng.seed(3);
    std::mt19937 reference(3);
    EXPECT_THROW(zero.sample(), std::runtime_error);
    reference.discard(2);
    EXPECT_EQ(RNG::rng, reference);
    EXPECT_TRUE(zero.empty());
    EXPECT_TRUE(zero.samples(0).empty());
    EXPECT_THROW(zero.samples(1), std::runtime_error);
    StateVector empty;
    EXPECT_THROW(empty.samples(3), std::runtime_error);
    EXPECT_EQ(log.text(), null_warning + null_warning);
}

// Frequencies over 1e5 draws within five standard deviations of |amplitude|².
TEST(StateVector, DrawFrequenciesFollowTheAmplitudes) {
    const Terms terms = {{"|2,0>", std::sqrt(0.1)},
                         {"|1,1>", cd(0, std::sqrt(0.2))},
                         {"|0,2>", -std::sqrt(0.3)},
                         {"|{0}{1},0>", std::polar(std::sqrt(0.4), 1.0)}};
    StateVector v = sv(terms);
    constexpr int draws = 100000;
    RNG::rng.seed(99);
    std::vector<BasicState> one_by_one;
    for (int i = 0; i < draws; ++i) one_by_one.push_back(v.sample());
    const std::vector<BasicState> at_once = v.samples(draws);
    for (const std::vector<BasicState>* drawn : {&std::as_const(one_by_one), &at_once}) {
        for (std::size_t k = 0; k < terms.size(); ++k) {
            const double p = 0.1 * (k + 1);
            const double count =
                static_cast<double>(std::count(drawn->begin(), drawn->end(), bs(terms[k].first)));
            EXPECT_NEAR(count / draws, p, 5 * std::sqrt(p * (1 - p) / draws)) << terms[k].first;
        }
    }
}

}  // namespace
