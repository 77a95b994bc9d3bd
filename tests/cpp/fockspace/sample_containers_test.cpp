#include "fockspace/sample_containers.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

using test_support::Counts;
using test_support::expect_throw_message;

namespace {

BSSamples samples_of(std::size_t count) {
    BSSamples samples;
    for (std::size_t i = 0; i < count; ++i) samples.emplace_back(Counts{static_cast<int>(i), 1});
    return samples;
}

std::string joined(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? ", |" : "|") + std::to_string(i) + ",1>";
    return text;
}

}  // namespace

namespace {

struct SamplesTextCase {
    std::size_t size;
    std::string expected;
};

}  // namespace

class SamplesText : public testing::TestWithParam<SamplesTextCase> {};

TEST_P(SamplesText, ShowsAtMostElevenStates) {
    EXPECT_EQ(fmt::format("{:10}", samples_of(GetParam().size)), GetParam().expected);
    EXPECT_EQ(fmt::format("{}", samples_of(GetParam().size)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SamplesText,
    testing::Values(SamplesTextCase{0, "[  ]"}, SamplesTextCase{1, "[ |0,1> ]"},
                    SamplesTextCase{11, "[ " + joined(11) + " ]"},
                    SamplesTextCase{12, "[ " + joined(11) + ", ... (size=12) ]"},
                    SamplesTextCase{30, "[ " + joined(11) + ", ... (size=30) ]"}));

TEST(SamplesText, RejectsNonDigitSpecifications) {
    const auto samples = samples_of(2);
    expect_throw_message<fmt::format_error>(
        [&] { (void)fmt::format(fmt::runtime("{:x}"), samples); },
        "invalid format for BSSamples x}");
    expect_throw_message<fmt::format_error>(
        [&] { (void)fmt::format(fmt::runtime("{:1a} tail"), samples); },
        "invalid format for BSSamples 1a} tail");
}

TEST(CountsText, ListsEveryEntryOnItsLine) {
    BSCount counts;
    EXPECT_EQ(fmt::format("{}", counts), "{\n}");
    counts[FockState(Counts{1, 0})] = 5;
    EXPECT_EQ(fmt::format("{}", counts), "{\n  |1,0>: 5\n}");
    counts[FockState(Counts{0, 1})] = 18446744073709551615UL;
    const std::string text = fmt::format("{}", counts);
    EXPECT_TRUE(text == "{\n  |1,0>: 5\n  |0,1>: 18446744073709551615\n}" ||
                text == "{\n  |0,1>: 18446744073709551615\n  |1,0>: 5\n}")
        << text;
}
