// Seeded mutation fuzzing of the text parsers, so that the sanitized test build (leak checks
// included) reads hostile texts too. The Python fuzz test holds the reference readers; here an
// accepted text must print to a text that reads back to the same print.

#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_mutation.h"
#include "states/annotated_fock_state.h"
#include "states/annotation.h"
#include "states/any_fs_utils.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"
#include "states/parsed_basic_state.h"

namespace {

const std::vector<std::string> seeds = {"|1,0,2>",
                                        "  |  1 , 0 ,2 >  ",
                                        "|>",
                                        "|{0},0,{0}{1}>",
                                        "|2{0}{1}>",
                                        "|0{1}>",
                                        "|{ 5 }3>",
                                        "|0, {lambda:625.2}, 2{lambda:625.3}>",
                                        "|1{a:0,b:1+2j}{P:H}>",
                                        "|{a:1e-40,b:-3e38j}>",
                                        "|4095{0},4096{1}>",
                                        "|2147483647>",
                                        "a:0,b:(1,2)",
                                        "a:1+-2j,P:A,w:.5,",
                                        "x:12j",
                                        "a:1e-45",
                                        "|{P:(1.5707964,3.1415927)}>"};

const std::vector<std::string> tokens = {
    "{",  "}",   "|",    ">",    ",",   ":",     "(",          ")",
    "+-", "e39", "e-40", "j",    "i",   "\xff",  "\x80",       "\t",
    " ",  "0",   "9",    "8191", "{0}", "{a:1}", "2147483647", std::string(1, '\0')};

void expect_printable(const std::exception& error) {
    for (const char c : std::string(error.what()))
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << testing::PrintToString(error.what());
}

// Reads `text` with `read`, which prints what it read; returns the print, or nothing when the
// text is refused with one of the parsers' documented exceptions.
std::optional<std::string> read_or_refuse(
    const std::function<std::string(const std::string&)>& read, const std::string& text) {
    try {
        return read(text);
    } catch (const std::invalid_argument& error) {
        expect_printable(error);
    } catch (const std::runtime_error& error) {
        expect_printable(error);
    }
    return std::nullopt;
}

struct Parser {
    const char* name;
    std::function<std::string(const std::string&)> read;
};

void PrintTo(const Parser& parser, std::ostream* os) {
    *os << parser.name;
}

class TextParserFuzz : public testing::TestWithParam<Parser> {};

TEST_P(TextParserFuzz, RefusesWithItsErrorsOrReadsBackItsPrint) {
    const Parser& parser = GetParam();
    std::mt19937 rng(fuzz::seed(13));
    for (int i = 0; i < fuzz::count(); ++i) {
        const std::string text = fuzz::mutate(rng, seeds[rng() % seeds.size()], tokens, seeds);
        const auto printed = read_or_refuse(parser.read, text);
        if (!printed) continue;
        // A print without tags or annotations is a perfect state, which the richer kinds may
        // refuse.
        const auto again = read_or_refuse(parser.read, *printed);
        if (again) {
            EXPECT_EQ(*again, *printed) << testing::PrintToString(text);
        }
        if (HasFailure()) return;
    }
}

std::string fock_counts(const std::vector<int>& counts) {
    return FockState(counts).to_str();
}

INSTANTIATE_TEST_SUITE_P(
    Parsers, TextParserFuzz,
    testing::Values(
        Parser{"ParsedBasicState",
               [](const std::string& text) {
                   return fock_counts(ParsedBasicState(text.c_str()).get_fs_vect());
               }},
        Parser{"FockState", [](const std::string& text) { return FockState(text).to_str(); }},
        Parser{"NoisyFockState",
               [](const std::string& text) { return NoisyFockState(text).to_str(); }},
        Parser{"AnnotatedFockState",
               [](const std::string& text) { return AnnotatedFockState(text).to_str(); }},
        Parser{"AnyFSUtils",
               [](const std::string& text) {
                   return std::visit([](const auto& state) { return state.to_str(); },
                                     AnyFSUtils::parse(text));
               }},
        Parser{"Annotation", [](const std::string& text) { return Annotation(text).to_str(); }}),
    [](const testing::TestParamInfo<Parser>& info) { return std::string(info.param.name); });

}  // namespace
