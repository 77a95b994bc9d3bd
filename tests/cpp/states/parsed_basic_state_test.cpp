#include "states/parsed_basic_state.h"

#include <climits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Tags = std::map<int, std::vector<int>>;
using Annotations = std::map<int, std::vector<std::string>>;

Annotations annotation_texts(const ParsedBasicState& parsed) {
    Annotations texts;
    for (const auto& [mode, annotations] : parsed.get_annotated_modes()) {
        auto& list = texts[mode];
        for (const auto& annotation : annotations) list.push_back(annotation.to_str());
    }
    return texts;
}

struct GoodState {
    std::string text;
    std::vector<int> counts;
    Tags tags = {};
    Annotations annotations = {};
    friend void PrintTo(const GoodState& good, std::ostream* os) {
        *os << testing::PrintToString(good.text);
    }
};

class ParsedBasicStateGood : public testing::TestWithParam<GoodState> {};

TEST_P(ParsedBasicStateGood, ReadsCountsTagsAndAnnotations) {
    const auto& good = GetParam();
    const ParsedBasicState parsed(good.text.c_str());
    EXPECT_EQ(parsed.get_fs_vect(), good.counts);
    EXPECT_EQ(parsed.get_noisy_modes(), good.tags);
    EXPECT_EQ(annotation_texts(parsed), good.annotations);
    EXPECT_EQ(parsed.is_noisy(), !good.tags.empty());
    EXPECT_EQ(parsed.is_annotated(), !good.annotations.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParsedBasicStateGood,
    testing::Values(GoodState{"|1,0,2>", {1, 0, 2}}, GoodState{"  |  1 , 0 ,2 >  ", {1, 0, 2}},
                    GoodState{"\t|\n1\v,\f0\r,2>", {1, 0, 2}}, GoodState{"|>", {}},
                    GoodState{"| >", {}}, GoodState{"|1> ", {1}}, GoodState{"|1 2>", {2}},
                    GoodState{"|007>", {7}}, GoodState{"|2147483647>", {INT_MAX}},
                    GoodState{"|{0},0,{0}{1}>", {1, 0, 2}, {{0, {0}}, {2, {0, 1}}}},
                    GoodState{"|2{0}{1}>", {3}, {{0, {0, 0, 1}}}},
                    GoodState{"|{0}2>", {3}, {{0, {0}}}},
                    GoodState{"|{1}2,{3}{0}>", {3, 2}, {{0, {1}}, {1, {3, 0}}}},
                    GoodState{"|0{1}>", {0}, {{0, {}}}}, GoodState{"|{ 5 }>", {1}, {{0, {5}}}},
                    GoodState{"|{+7}>", {1}, {{0, {7}}}},
                    GoodState{"|{255},{0}>", {1, 1}, {{0, {255}}, {1, {0}}}},
                    GoodState{"|0, {lambda:625.2}, {lambda:625.3}>",
                              {0, 1, 1},
                              {},
                              {{1, {"lambda:625.2"}}, {2, {"lambda:625.3"}}}},
                    GoodState{"|2{a:1}>", {2}, {}, {{0, {"a:1", "a:1"}}}},
                    GoodState{"|0{a:1}>", {0}, {}, {{0, {}}}},
                    GoodState{"|{ a:0,b:1+2j}1>", {2}, {}, {{0, {"a:0,b:(1,2)"}}}},
                    GoodState{"|1{0}{P:H}>", {2}, {{0, {0}}}, {{0, {"P:H"}}}},
                    // Groups may give as many photons as a code holds, no more.
                    GoodState{"|4095{0},4096{7}>",
                              {4095, 4096},
                              {{0, std::vector<int>(4095, 0)}, {1, std::vector<int>(4096, 7)}}}));

struct BadState {
    std::string text;
    std::string message;
    friend void PrintTo(const BadState& bad, std::ostream* os) {
        *os << testing::PrintToString(bad.text);
    }
};

class ParsedBasicStateBad : public testing::TestWithParam<BadState> {};

TEST_P(ParsedBasicStateBad, ThrowsItsThreeLineMessage) {
    const auto& bad = GetParam();
    try {
        ParsedBasicState parsed(bad.text.c_str());
        FAIL() << "accepted " << bad.text;
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), bad.message);
    }
}

const std::string digit = "Invalid character. Should be a digit.\n";
const std::string eos = "Wrong termination of BasicState. Reached EOS without catching '>'.\n";
const std::string start = "BasicState should start with the character '|'.\n";
const std::string closed = "BasicState is already closed by '>'.\n";
const std::string unauthorised = "Unauthorised character in annotation.\n";
const std::string tag_range = "Invalid noise tag. Should be between 0 and 255.\n";
const std::string too_many = "Too many photons in the mode.\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, ParsedBasicStateBad,
    testing::Values(
        // The caret stands one column left of the offending character (first column at offset 0).
        BadState{"|1,x>", digit + "|1,x>\n  ^"}, BadState{"1>", start + "1>\n^"},
        BadState{"  x|>", start + "  x|>\n ^"}, BadState{"   ", start + "   \n  ^"},
        BadState{"", eos + "\n^"}, BadState{"|", eos + "|\n^"}, BadState{"|1,2", eos + "|1,2\n^"},
        BadState{"|{1 ", eos + "|{1 \n^"}, BadState{"|{1", eos + "|{1\n^"},
        BadState{"|{0}", eos + "|{0}\n^"}, BadState{"|1 ", digit + "|1 \n  ^"},
        BadState{"|1}>", "Invalid character.\n|1}>\n ^"},
        BadState{"|:>", "Invalid character.\n|:>\n^"},
        BadState{"||>", "Invalid character.\n||>\n^"},
        BadState{"|1{2>", unauthorised + "|1{2>\n   ^"},
        BadState{"|{a|b}>", unauthorised + "|{a|b}>\n  ^"},
        BadState{"|{{0}}>", unauthorised + "|{{0}}>\n ^"}, BadState{"|,1>", digit + "|,1>\n^"},
        BadState{"|1,>", digit + "|1,>\n  ^"}, BadState{"|,>", digit + "|,>\n^"},
        BadState{"|1> x", closed + "|1> x\n   ^"}, BadState{"|1>x", closed + "|1>x\n  ^"},
        BadState{"|1>>", closed + "|1>>\n  ^"}, BadState{"|{}>", digit + "|{}>\n ^"},
        BadState{"|{ }>", digit + "|{ }>\n  ^"},
        BadState{"|{:1}>", "Invalid annotation label.\n|{:1}>\n ^"},
        BadState{"|{ :1}>", "Invalid annotation label.\n|{ :1}>\n  ^"},
        // Number errors show the text from the number on, the caret just before its end.
        BadState{"|{a}>", "Error while parsing digit:a\na}>\n^"},
        BadState{"|{1 2}>", "Error while parsing digit:1 2\n1 2}>\n  ^"},
        BadState{"|{1x }>", "Error while parsing digit:1x\n1x }>\n ^"},
        BadState{"|99999999999>",
                 "Error while parsing digit:99999999999\n99999999999>\n          ^"},
        BadState{"|2147483648,1>",
                 "Error while parsing digit:2147483648\n2147483648,1>\n         ^"},
        BadState{"|{4294967296}>",
                 "Error while parsing digit:4294967296\n4294967296}>\n         ^"},
        BadState{"|{256}>", tag_range + "|{256}>\n ^"},
        BadState{"|1, 2{-1}>", tag_range + "|1, 2{-1}>\n     ^"},
        BadState{"|0{300}>", tag_range + "|0{300}>\n  ^"},
        BadState{"|1{0}2147483647>", too_many + "|1{0}2147483647>\n" + std::string(14, ' ') + "^"},
        BadState{"|{0}2147483647{0}>",
                 too_many + "|{0}2147483647{0}>\n" + std::string(15, ' ') + "^"},
        // A group count is refused before its copies are made (this one would take 8 GB).
        BadState{"|2147483647{0}>", too_many + "|2147483647{0}>\n" + std::string(12, ' ') + "^"},
        BadState{"|8192{a:1}>", too_many + "|8192{a:1}>\n" + std::string(8, ' ') + "^"},
        BadState{"|4000{0}4192{1}>", too_many + "|4000{0}4192{1}>\n" + std::string(13, ' ') + "^"},
        BadState{"|4096{0},4096{a:1}>", "Too many photons in the state.\n|4096{0},4096{a:1}>\n" +
                                            std::string(16, ' ') + "^"},
        // Bytes outside printable ASCII are shown escaped, the caret under the escaped text.
        BadState{"|1,\xff>", digit + "|1,\\xff>\n  ^"},
        BadState{"|1>\n\xc3\xa9", closed + "|1>\\x0a\\xc3\\xa9\n      ^"},
        BadState{"|{\xff}>", "Error while parsing digit:\\xff\n\\xff}>\n   ^"},
        // Errors of the annotation text of a group come through unchanged.
        BadState{"|{a:1 }>",
                 "invalid annotation (a part of the string is not detected as [name:value]. a:1)"},
        BadState{"|{a:1,a:2}>", "invalid annotation (duplicate tag)"},
        BadState{"|{12:1}>", "invalid annotation (digit only name is forbidden: 12)"},
        BadState{"|{a:1e39}>", "invalid annotation (value out of float range: 1e39)"}));

TEST(ParsedBasicState, ExtractIntegerReadsSignedNumbers) {
    for (const auto& [text, value] : std::vector<std::pair<std::string, int>>{
             {"-12", -12}, {"+3", 3}, {"0", 0}, {"-2147483648", INT_MIN}}) {
        EXPECT_EQ(extract_integer(text.data(), text.data() + text.size()), value) << text;
    }
    const std::string text = "-2147483649";
    EXPECT_THROW(extract_integer(text.data(), text.data() + text.size()), std::invalid_argument);
}

TEST(ParsedBasicState, ResultsOutliveTheText) {
    auto* text = new std::string("|{a:1}2,{3}>");
    const ParsedBasicState parsed(text->c_str());
    delete text;
    const ParsedBasicState copy = parsed;
    EXPECT_EQ(copy.get_fs_vect(), (std::vector<int>{3, 1}));
    EXPECT_EQ(copy.get_noisy_modes(), (Tags{{1, {3}}}));
    EXPECT_EQ(annotation_texts(copy), (Annotations{{0, {"a:1"}}}));
}

}  // namespace
