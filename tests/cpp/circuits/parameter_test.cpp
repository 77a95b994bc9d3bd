#include "circuits/parameter.h"

#include <cstdint>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Symb::Parameter;
using test_support::expect_throw_message;

// The number of a generated name "__<n>".
std::uint64_t number(const Parameter& p) {
    const std::string name = p.name();
    EXPECT_EQ(name.substr(0, 2), "__");
    EXPECT_GT(name.size(), 2u);
    EXPECT_TRUE(name.size() == 3 || name[2] != '0') << "leading zero in " << name;
    return std::stoull(name.substr(2));
}

std::string printed(const Parameter& p) {
    std::ostringstream os;
    os << p;
    return os.str();
}

struct PrintCase {
    std::string name;
    std::function<Parameter()> make;
    std::string text;
};

class ParameterPrintTest : public ::testing::TestWithParam<PrintCase> {};

TEST_P(ParameterPrintTest, PrintsValueNameOrNothing) {
    EXPECT_EQ(printed(GetParam().make()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParameterPrintTest,
    ::testing::Values(PrintCase{"half", [] { return Parameter(0.5); }, "0.5"},
                      PrintCase{"zero", [] { return Parameter(0.0); }, "0"},
                      PrintCase{"six_digits", [] { return Parameter(1.5707963); }, "1.5708"},
                      PrintCase{"negative", [] { return Parameter(-3.0); }, "-3"},
                      PrintCase{"large", [] { return Parameter(1234567.0); }, "1.23457e+06"},
                      PrintCase{"named", [] { return Parameter("theta"); }, "\"theta\""},
                      PrintCase{"anonymous", [] { return Parameter(); }, ""},
                      PrintCase{"named_with_value",
                                [] {
                                    Parameter p("theta");
                                    p.setValue(1.5);
                                    return p;
                                },
                                "1.5"},
                      PrintCase{"anonymous_with_value",
                                [] {
                                    Parameter p;
                                    p.setValue(2.0);
                                    return p;
                                },
                                "2"}),
    [](auto const& info) { return info.param.name; });

TEST(Parameter, GeneratedNamesFollowTheCounter) {
    const Parameter first;
    const Parameter from_empty_name("");
    const Parameter third;
    EXPECT_TRUE(first.isAnonymous());
    EXPECT_TRUE(from_empty_name.isAnonymous());
    EXPECT_FALSE(first.hasValue());
    EXPECT_EQ(number(from_empty_name), number(first) + 1);
    EXPECT_EQ(number(third), number(first) + 2);
}

TEST(Parameter, ValueParameterHasNoNameAndIsNotAnonymous) {
    const Parameter p(0.5);
    EXPECT_TRUE(p.hasValue());
    EXPECT_EQ(p.value(), 0.5);
    EXPECT_EQ(p.name(), "");
    EXPECT_FALSE(p.isAnonymous());
}

TEST(Parameter, VariableHasNoValueUntilSet) {
    Parameter p("x");
    expect_throw_message<std::runtime_error>([&] { (void)p.value(); }, "Parameter has no value");
    p.setValue(1.0);
    p.setValue(-2.5);
    EXPECT_EQ(p.value(), -2.5);
    EXPECT_EQ(p.name(), "x");
    EXPECT_FALSE(p.isAnonymous());
}

TEST(Parameter, CopyKeepsNamedButRenamesAnonymous) {
    Parameter x("x");
    x.setValue(3.0);
    const Parameter x_copy(x);
    EXPECT_EQ(x_copy.name(), "x");
    EXPECT_FALSE(x_copy.isAnonymous());
    EXPECT_EQ(x_copy.value(), 3.0);

    const Parameter anonymous;
    const Parameter later;
    const Parameter copy(anonymous);
    EXPECT_TRUE(copy.isAnonymous());
    EXPECT_FALSE(copy.hasValue());
    EXPECT_EQ(number(copy), number(later) + 1);

    const Parameter fixed(0.25);
    const Parameter fixed_copy(fixed);
    EXPECT_EQ(fixed_copy.value(), 0.25);
    EXPECT_EQ(fixed_copy.name(), "");
    EXPECT_FALSE(fixed_copy.isAnonymous());
}

TEST(Parameter, AssignmentTakesTheSourceStateWithAFreshAnonymousName) {
    Parameter target(1.0);
    const Parameter anonymous;
    target = anonymous;
    EXPECT_FALSE(target.hasValue());
    EXPECT_TRUE(target.isAnonymous());
    EXPECT_GT(number(target), number(anonymous));

    Parameter named("y");
    named = Parameter(2.0);
    EXPECT_EQ(named.value(), 2.0);
    EXPECT_EQ(named.name(), "");
    EXPECT_FALSE(named.isAnonymous());

    named = Parameter("z");
    EXPECT_FALSE(named.hasValue());
    EXPECT_EQ(named.name(), "z");
}

TEST(Parameter, ThreadsNeverGenerateTheSameName) {
    constexpr int threads = 4;
    constexpr int per_thread = 2000;
    std::vector<std::vector<std::string>> names(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&names, t] {
            for (int i = 0; i < per_thread; ++i) names[t].push_back(Parameter().name());
        });
    for (auto& w : workers) w.join();
    std::set<std::string> distinct;
    for (auto const& list : names) distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), std::size_t{threads * per_thread});
}

}  // namespace
