#include "states/any_fs_utils.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <variant>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using test_support::expect_throw_message;

BasicState parse(const std::string& text) {
    return AnyFSUtils::parse(text);
}

struct ParseCase {
    std::string name;
    std::string text;
    std::size_t index;
    std::string printed;
};

class AnyFSUtilsParse : public testing::TestWithParam<ParseCase> {};

TEST_P(AnyFSUtilsParse, ChoosesTheKind) {
    const BasicState state = parse(GetParam().text);
    EXPECT_EQ(state.index(), GetParam().index);
    EXPECT_EQ(fmt::format("{}", state), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnyFSUtilsParse,
    testing::Values(ParseCase{"Perfect", "|1,0>", 0, "|1,0>"}, ParseCase{"NoModes", "|>", 0, "|>"},
                    ParseCase{"Noisy", "|{0},0>", 1, "|{0},0>"},
                    ParseCase{"NoisyUntaggedFirst", "|{3}1>", 1, "|{0}{3}>"},
                    ParseCase{"NoisyWithoutPhotons", "|0{1}>", 1, "|0>"},
                    ParseCase{"Annotated", "|{a:0},0>", 2, "|{a:0},0>"},
                    ParseCase{"AnnotatedMixed", " |0, {P:H}2 > ", 2, "|0,{P:H}2>"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST(AnyFSUtils, ParseErrorsPropagate) {
    expect_throw_message<std::runtime_error>(
        [] { parse("|{0},{a:0}>"); },
        "Cannot initialise noisy FockState from simple or annotated Fock state.");
    expect_throw_message<std::runtime_error>([] { parse("|1,300>"); },
                                             "invalid photon count '300' for mode 1");
    expect_throw_message<std::invalid_argument>(
        [] { parse("|1,x>"); }, "Invalid character. Should be a digit.\n|1,x>\n  ^");
    EXPECT_THROW(parse("|{a:(1, 2)}>"), std::invalid_argument);
}

// Expected results of the mixed-kind operations written as text, so each row is checked against
// an independent form of the promoted result.
struct OperationCase {
    std::string name;
    std::string a, b;
    bool product;  // else merge
    std::size_t index;
    std::string expected;
};

class AnyFSUtilsOperation : public testing::TestWithParam<OperationCase> {};

TEST_P(AnyFSUtilsOperation, PromotesAndKeepsTheOrder) {
    const OperationCase& c = GetParam();
    const BasicState a = parse(c.a), b = parse(c.b);
    const BasicState result = c.product ? a * b : merge(a, b);
    EXPECT_EQ(result.index(), c.index);
    EXPECT_EQ(fmt::format("{}", result), c.expected);
    EXPECT_EQ(result, parse(c.expected));
    // The operands are left as they were.
    EXPECT_EQ(a, parse(c.a));
    EXPECT_EQ(b, parse(c.b));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnyFSUtilsOperation,
    testing::Values(
        OperationCase{"MergePerfect", "|1,0>", "|0,2>", false, 0, "|1,2>"},
        OperationCase{"MergePerfectNoisy", "|1,0>", "|{2},{2}>", false, 1, "|{0}{2},{2}>"},
        OperationCase{"MergeNoisyPerfect", "|{2},{2}>", "|1,0>", false, 1, "|{0}{2},{2}>"},
        OperationCase{"MergeNoisy", "|{1},0>", "|{0},{4}>", false, 1, "|{0}{1},{4}>"},
        OperationCase{"MergePerfectAnnotated", "|1,0>", "|{a:0},0>", false, 2, "|{a:0}1,0>"},
        OperationCase{"MergeAnnotatedPerfect", "|{a:0},0>", "|1,0>", false, 2, "|{a:0}1,0>"},
        OperationCase{"MergeNoisyAnnotated", "|{0}>", "|{a:0}>", false, 2, "|{_:0}{a:0}>"},
        OperationCase{"MergeAnnotatedNoisy", "|{a:0},1>", "|{2},0>", false, 2, "|{_:2}{a:0},1>"},
        OperationCase{"MergeAnnotatedOrder", "|{b:0}>", "|{a:0}>", false, 2, "|{a:0}{b:0}>"},
        OperationCase{"MergeAnnotatedSame", "|{a:0}>", "|{a:0}>", false, 2, "|2{a:0}>"},
        OperationCase{"ProductPerfect", "|1,0>", "|0,2>", true, 0, "|1,0,0,2>"},
        OperationCase{"ProductPerfectNoisy", "|1>", "|{3}>", true, 1, "|{0},{3}>"},
        OperationCase{"ProductNoisyPerfect", "|{3}>", "|1>", true, 1, "|{3},{0}>"},
        OperationCase{"ProductPerfectAnnotated", "|1>", "|{a:1}>", true, 2, "|1,{a:1}>"},
        OperationCase{"ProductAnnotatedPerfect", "|{a:1}>", "|2>", true, 2, "|{a:1},2>"},
        OperationCase{"ProductNoisyAnnotated", "|{1}>", "|{a:0}>", true, 2, "|{_:1},{a:0}>"},
        OperationCase{"ProductAnnotatedNoisy", "|{a:0}>", "|{1}{2}>", true, 2,
                      "|{a:0},{_:1}{_:2}>"},
        OperationCase{"ProductAnnotated", "|{a:0},1>", "|{b:1}>", true, 2, "|{a:0},1,{b:1}>"}),
    [](const testing::TestParamInfo<OperationCase>& info) { return info.param.name; });

// The typed operations give the richer kind statically, whatever the operands' order.
static_assert(
    std::is_same_v<decltype(AnyFSUtils::merge(FockState(), NoisyFockState())), NoisyFockState>);
static_assert(
    std::is_same_v<decltype(AnyFSUtils::tensor_product(AnnotatedFockState(), NoisyFockState())),
                   AnnotatedFockState>);
static_assert(
    std::is_same_v<decltype(AnyFSUtils::set_slice(FockState(), FockState(), 0, 0)), FockState>);

struct SetSliceCase {
    std::string name;
    std::string self, other;
    int start, end;
    std::size_t index;
    std::string expected;
};

class AnyFSUtilsSetSlice : public testing::TestWithParam<SetSliceCase> {};

TEST_P(AnyFSUtilsSetSlice, PromotesThenReplacesTheModes) {
    const SetSliceCase& c = GetParam();
    const BasicState result = std::visit(
        [&](const auto& self, const auto& other) {
            return BasicState(AnyFSUtils::set_slice(self, other, c.start, c.end));
        },
        parse(c.self), parse(c.other));
    EXPECT_EQ(result.index(), c.index);
    EXPECT_EQ(result, parse(c.expected)) << fmt::format("{}", result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnyFSUtilsSetSlice,
    testing::Values(
        SetSliceCase{"Perfect", "|1,0,2>", "|3>", 1, 2, 0, "|1,3,2>"},
        SetSliceCase{"NoisyIntoPerfect", "|1,0,2>", "|{4}>", 1, 2, 1, "|{0},{4},{0}{0}>"},
        SetSliceCase{"PerfectIntoNoisy", "|{1},0>", "|2>", 1, 2, 1, "|{1},{0}{0}>"},
        SetSliceCase{"AnnotatedIntoNoisy", "|{1},0>", "|{a:0}>", 1, 2, 2, "|{_:1},{a:0}>"},
        SetSliceCase{"NoisyIntoAnnotated", "|{a:0},0>", "|{2},1>", 0, 2, 2, "|{_:2},{_:0}>"}),
    [](const testing::TestParamInfo<SetSliceCase>& info) { return info.param.name; });

TEST(AnyFSUtils, OperationErrorsPropagate) {
    for (const auto& [a, b] : {std::pair{"|1,0>", "|{0},0,0>"}, std::pair{"|{a:0},0>", "|1,0,0>"},
                               std::pair{"|{0},0>", "|{a:0},0,0>"}}) {
        expect_throw_message<std::runtime_error>([&] { merge(parse(a), parse(b)); },
                                                 "Cannot merge fock states of different length");
    }
    const BasicState crowded = parse("|200{0}>");
    BasicState big = crowded;
    for (int i = 0; i < 39; ++i) big = big * crowded;
    EXPECT_EQ(std::get<NoisyFockState>(big).n(), 8000);
    EXPECT_THROW(big * crowded, std::runtime_error);
}

TEST(AnyFSUtils, MergePolicyIsTheMerge) {
    const BasicState a = parse("|1,0>"), b = parse("|{a:1},2>");
    EXPECT_EQ(MathUtils::details::Merge::apply<BasicState>(a, b), merge(a, b));
}

TEST(BasicState, HashIsTheKindHashPlusTheIndex) {
    const BasicState perfect = parse("|1,0,2>"), noisy = parse("|{0},0,{0}{1}>"),
                     annotated = parse("|{a:0},0,2>");
    const std::hash<BasicState> hash;
    EXPECT_EQ(hash(perfect), std::get<FockState>(perfect).hash());
    EXPECT_EQ(hash(noisy), std::get<NoisyFockState>(noisy).hash() + 1);
    EXPECT_EQ(hash(noisy), 0x6b9ea42d22021903ULL + 1);
    EXPECT_EQ(hash(annotated), std::get<AnnotatedFockState>(annotated).hash() + 2);

    // The same photons as different kinds are different keys.
    const std::unordered_set<BasicState> keys{
        perfect, parse("|1,0,2>"), BasicState(AnnotatedFockState(std::get<FockState>(perfect))),
        BasicState(NoisyFockState(std::get<FockState>(perfect)))};
    EXPECT_EQ(keys.size(), 3u);
}

struct FormatCase {
    std::string name;
    std::string text;
    std::string shown, hidden;
};

class BasicStateFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(BasicStateFormat, ShowsOrHidesTheExtras) {
    const BasicState state = parse(GetParam().text);
    EXPECT_EQ(fmt::format("{}", state), GetParam().shown);
    EXPECT_EQ(fmt::format("{:h}", state), GetParam().hidden);
    std::ostringstream os;
    os << state;
    EXPECT_EQ(os.str(), GetParam().shown);
    for (const char* spec : {"{:hh}", "{:x}", "{:h }"})
        expect_throw_message<fmt::format_error>(
            [&] { (void)fmt::format(fmt::runtime(spec), state); },
            std::string("invalid format for FockState ") + (spec + 2));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BasicStateFormat,
    testing::Values(FormatCase{"Perfect", "|1,0,2>", "|1,0,2>", "|1,0,2>"},
                    FormatCase{"Noisy", "|{0},0,{0}{1}>", "|{0},0,{0}{1}>", "|1,0,2>"},
                    FormatCase{"Annotated", "|{P:H},0,{a:0}{a:1}>", "|{P:H},0,{a:0}{a:1}>",
                               "|1,0,2>"}),
    [](const testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST(BasicState, ValuelessStateThrowsEverywhere) {
    BasicState state = parse("|1>");
    EXPECT_THROW(state.emplace<AnnotatedFockState>(std::string("|1,0>")), std::runtime_error);
    ASSERT_TRUE(state.valueless_by_exception());
    EXPECT_EQ(std::hash<BasicState>()(state), std::numeric_limits<std::uint64_t>::max());
    const BasicState other = parse("|1>");
    expect_throw_message<std::bad_variant_access>([&] { (void)fmt::format("{}", state); },
                                                  "std::visit: variant is valueless");
    EXPECT_THROW(merge(state, other), std::bad_variant_access);
    EXPECT_THROW(other * state, std::bad_variant_access);
    state = other;
    EXPECT_EQ(state, other);
}

}  // namespace
