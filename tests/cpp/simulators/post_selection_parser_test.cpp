#include "simulators/post_selection_parser.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using post_selection::parse_expression;
using post_selection::ast::GenericNode;
using post_selection::ast::Predicate;

std::string parse_error(const std::string& shown) {
    return "Couldn't parse post selection expression: " + shown;
}

struct Accepted {
    const char* name;
    std::string text;
    std::string printed;
    std::size_t kind;  // index of the root in GenericNode
};

class AcceptedTextTest : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedTextTest, ReadsTheTreeAndPrintsTextThatReadsBack) {
    const std::optional<GenericNode> root = parse_expression(GetParam().text);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->toString(), GetParam().printed);
    EXPECT_EQ(root->index(), GetParam().kind);
    const std::optional<GenericNode> again = parse_expression(root->toString());
    ASSERT_TRUE(again);
    EXPECT_TRUE(Predicate(*again) == Predicate(*root));
    EXPECT_EQ(again->toString(), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, AcceptedTextTest,
    testing::Values(
        Accepted{"And", "[0,1] == 1 & [2] > 1", "([0, 1] == 1 & [2] > 1)", 7},
        Accepted{"OrOfAnd", "([0,1] == 1 & [2] > 1) | [2] == 0",
                 "(([0, 1] == 1 & [2] > 1) | [2] == 0)", 6},
        Accepted{"OuterWhiteSpace", " \t [0] == 1 \n\r\v\f", "[0] == 1", 0},
        Accepted{"NoSpaces", "[0]==1&[1]>0", "([0] == 1 & [1] > 0)", 7},
        Accepted{"GluedKeyword", "[0]==1AND[1]==0", "([0] == 1 & [1] == 0)", 7},
        Accepted{"LowerAnd", "[0]==1 and [1]==0 & [2]==0", "([0] == 1 & [1] == 0 & [2] == 0)", 7},
        Accepted{"OrSpellings", "[0]==1 | [1]==0 OR [2]==0 or [3]==0",
                 "([0] == 1 | [1] == 0 | [2] == 0 | [3] == 0)", 6},
        Accepted{"XorSpellings", "[0]==1 XOR [1]==0 xor [2]==0 ^ [3]==0",
                 "([0] == 1 ^ [1] == 0 ^ [2] == 0 ^ [3] == 0)", 8},
        Accepted{"GroupedMix", "([0]==1 & [1]==1) | [2]==1", "(([0] == 1 & [1] == 1) | [2] == 1)",
                 6},
        Accepted{"ListsAreNotFlattened", "([0]==1 & [1]==1) & [2]==1",
                 "(([0] == 1 & [1] == 1) & [2] == 1)", 7},
        Accepted{"NotWord", "NOT [0]==1", "! [0] == 1", 9},
        Accepted{"NotMark", "![0]==1", "! [0] == 1", 9},
        Accepted{"DoubleNot", "! NOT [0]==1", "! ! [0] == 1", 9},
        Accepted{"NotTakesTheList", "NOT [0]==1 & [1]==1", "! ([0] == 1 & [1] == 1)", 9},
        Accepted{"NotTakesTheRest", "[0]==1 & NOT [1]==1 | [2]==1",
                 "([0] == 1 & ! ([1] == 1 | [2] == 1))", 7},
        Accepted{"NotFirstInAList", "(NOT [0]==1) & [1]==0", "((! [0] == 1) & [1] == 0)", 7},
        Accepted{"NotOfGroup", "!([0]==1|[1]==1)", "! ([0] == 1 | [1] == 1)", 9},
        Accepted{"Equal", "[0] == 2", "[0] == 2", 0},
        Accepted{"NotEqual", "[0] != 2", "[0] != 2", 1},
        Accepted{"GreaterThan", "[0] > 2", "[0] > 2", 2},
        Accepted{"GreaterOrEqual", "[0] >= 2", "[0] >= 2", 3},
        Accepted{"LessThan", "[0] < 2", "[0] < 2", 4},
        Accepted{"LessOrEqual", "[0] <= 2", "[0] <= 2", 5},
        Accepted{"SpacedModeList", "[ 0 , 1 ] == 1", "[0, 1] == 1", 0},
        Accepted{"ModesSorted", "[1,0] == 1", "[0, 1] == 1", 0},
        Accepted{"LeadingZeros", "[0] == 01", "[0] == 1", 0},
        Accepted{"ManyLeadingZeros", "[00000000000000000000003] == 0000000000000000000007",
                 "[3] == 7", 0},
        Accepted{"LargestCount", "[2147483647] == 2147483647", "[2147483647] == 2147483647", 0},
        Accepted{"RedundantGroups", "((([0]==1)))", "[0] == 1", 0},
        Accepted{"SingleGroupedList", "(([0]==1 ^ [1]==1))", "([0] == 1 ^ [1] == 1)", 8}),
    [](const testing::TestParamInfo<Accepted>& info) { return info.param.name; });

struct Refused {
    const char* name;
    std::string text;
    std::string message;
};

class RefusedTextTest : public testing::TestWithParam<Refused> {};

TEST_P(RefusedTextTest, ThrowsItsMessage) {
    test_support::expect_throw_message<std::runtime_error>(
        [&] { parse_expression(GetParam().text); }, GetParam().message);
}

Refused syntax(const char* name, std::string text) {
    return Refused{name, text, parse_error(text)};
}

INSTANTIATE_TEST_SUITE_P(
    Parser, RefusedTextTest,
    testing::Values(
        syntax("Tab", "\t"), syntax("LineFeeds", "\n\n"),
        syntax("MixedLists", "[0]==1 & [1]==1 | [2]==1"),
        syntax("MixedListsAfterOr", "[0]==1 | [1]==1 & [2]==1"), syntax("LowerNot", "not [0]==1"),
        syntax("TitleNot", "Not [0]==1"), syntax("TitleAnd", "[0]==1 And [1]==1"),
        syntax("SingleEquals", "[0] = 2"), syntax("ArrowComparison", "[0] => 2"),
        syntax("SpacedEquals", "[0] = = 2"), syntax("SpacedGreaterOrEqual", "[0] > = 2"),
        syntax("EmptyModeList", "[] == 1"), syntax("TrailingComma", "[0,] == 1"),
        syntax("MissingComma", "[0 1] == 1"), syntax("SignedMode", "[-1] == 0"),
        syntax("SignedCount", "[0] == -1"), syntax("PlusCount", "[0] == +1"),
        syntax("CountTooLarge", "[0] == 4294967296"), syntax("ModeTooLarge", "[99999999999] == 0"),
        syntax("DanglingKeyword", "[0]==1 &"), syntax("DoubleKeyword", "[0]==1 & & [1]==1"),
        syntax("TrailingWord", "[0]==1 extra"), syntax("OpenGroup", "([0]==1"),
        syntax("CloseGroup", "[0]==1)"), syntax("EmptyGroup", "()"), syntax("LoneNot", "NOT"),
        syntax("NotEqualAlone", "!= [0]"), syntax("NotOfNothing", "[0]==1 & !"),
        syntax("MissingCount", "[0] =="), syntax("Number", "1"),
        syntax("TwoConditions", "[0]==1 [1]==1"), syntax("SpaceInKeyword", "[0]==1 A ND [1]==1"),
        // The message carries the text as given, but as valid text: NUL and bytes that are not
        // UTF-8 are shown escaped.
        syntax("Unicode", "[0] == 1 \xc3\xa9"),
        Refused{"Nul", std::string("[0]==1\0x", 8), parse_error("[0]==1\\x00x")},
        Refused{"NotUtf8", "[0]==1\xff\xc3", parse_error("[0]==1\\xff\\xc3")},
        Refused{"Surrogate", "\xed\xa0\x80", parse_error("\\xed\\xa0\\x80")},
        Refused{"Overlong", "\xc0\xaf", parse_error("\\xc0\\xaf")},
        Refused{"RepeatedMode", "[0,0] == 1", "[0, 0] should be a set."},
        Refused{"CountStoredNegative", "[0] == 4294967295",
                "Expected photon number must be greater or equal to zero, instead is -1."},
        Refused{"ModeStoredNegative", "[3, 2147483648] == 1",
                "[-2147483648, 3] should contains only positive value."},
        Refused{"InvalidInsideList", "[0]==1 | ([2,1,2] < 3 & [0] == 1)",
                "[1, 2, 2] should be a set."}),
    [](const testing::TestParamInfo<Refused>& info) { return info.param.name; });

TEST(PostSelectionParserTest, OnlySpacesHoldNoCondition) {
    EXPECT_FALSE(parse_expression(""));
    EXPECT_FALSE(parse_expression("   "));
}

std::string repeated(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

TEST(PostSelectionParserTest, NestingIsCappedWithTheParseError) {
    const int depth = post_selection::max_expression_depth;
    struct Piece {
        std::string open, close;
        int levels;
    };
    for (const Piece& piece : std::vector<Piece>{
             {"(", ")", 1}, {"NOT ", "", 1}, {"!(", ")", 2}, {"([1]==0 & ", ")", 1}}) {
        const int times = depth / piece.levels;
        const std::string deepest =
            repeated(piece.open, times) + "[0]==1" + repeated(piece.close, times);
        EXPECT_NO_THROW(parse_expression(deepest)) << piece.open;
        const std::string deeper =
            repeated(piece.open, times + 1) + "[0]==1" + repeated(piece.close, times + 1);
        test_support::expect_throw_message<std::runtime_error>([&] { parse_expression(deeper); },
                                                               parse_error(deeper));
    }
    // Far deeper than a stack would hold, refused as quickly.
    const std::string abyss = repeated("(", 1000000);
    EXPECT_THROW(parse_expression(abyss), std::runtime_error);
}

// The best of three runs, in seconds; a text may be refused.
double seconds_to_read(const std::string& text) {
    using Clock = std::chrono::steady_clock;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = Clock::now();
        try {
            parse_expression(text);
        } catch (const std::runtime_error&) {
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

TEST(PostSelectionParserTest, ReadsEachOperandOnce) {
    const int depth = post_selection::max_expression_depth / 2;
    // Reading the first operand once per list rule would take 3^depth steps on the first two.
    for (const std::string& text : {
             repeated("([0]==1 & ", depth) + "[0]==1" + repeated(")", depth),
             repeated("(", depth) + "[0]==1" + repeated(" ^ [1]==1)", depth),
             repeated("[0]==1 | ", 200000) + "[0]==1",
             "[" + repeated("1,", 200000) + "1]",
         })
        EXPECT_LT(seconds_to_read(text), 10.0) << text.substr(0, 60);
    // An operand that fails after a long read is tried again after every enclosing negation
    // gives up; read again each time, the text would take as many times longer.
    auto failing = [](int negations) {
        return repeated("[0]==1 & NOT ", negations) + "[0]==1 & (" + repeated("[1]==1 & ", 20000) +
               "[1]==1";
    };
    const double once = seconds_to_read(failing(1));
    EXPECT_LT(seconds_to_read(failing(post_selection::max_expression_depth - 1)), 20 * once + 0.05);
}

// Seeded mutations of valid texts: a text is refused with one of the parser's messages or reads
// to a tree whose print reads back to an equal tree with the same print. Runs under the
// sanitizers in the test build; scripts/fuzz.sh runs the Python fuzz test much longer.
TEST(PostSelectionParserTest, FuzzedTextsAreReadOrRefused) {
    const char* count_variable = std::getenv("ORBANDILE_FUZZ_COUNT");
    const int count = count_variable != nullptr ? std::atoi(count_variable) : 20000;
    const std::vector<std::string> seeds = {
        "[0,1] == 1 & [2] > 1",  "([0,1] == 1 & [2] > 1) | [2] == 0",
        "NOT [0]==1 & [1]==1",   "[0]==1 & NOT [1]==1 | [2]==1",
        "[1] >= 2 XOR [3] <= 1", "!([0] != 1 or [1] < 2)",
        "[0] == 4294967295",     "[2,1,0] == 3 AND [4] == 0",
        "((([0]==1)))",          "[0]==1 ^ ([1]==0 | ![2]>=1)"};
    const std::vector<std::string> tokens = {"[",
                                             "]",
                                             ",",
                                             "(",
                                             ")",
                                             "==",
                                             "!=",
                                             ">",
                                             ">=",
                                             "<",
                                             "<=",
                                             "&",
                                             "|",
                                             "^",
                                             "!",
                                             "NOT",
                                             "AND",
                                             "OR",
                                             "XOR",
                                             "and",
                                             "or",
                                             "xor",
                                             " ",
                                             "\t",
                                             "0",
                                             "1",
                                             "9",
                                             "4294967296",
                                             "2147483648",
                                             "\xff",
                                             std::string(1, '\0')};
    std::mt19937 rng(20);
    for (int i = 0; i < count; ++i) {
        std::string text = seeds[rng() % seeds.size()];
        for (int edit = 0, edits = 1 + static_cast<int>(rng() % 4); edit < edits; ++edit) {
            const std::size_t at = rng() % (text.size() + 1);
            switch (rng() % 4) {
                case 0:
                    text.insert(at, tokens[rng() % tokens.size()]);
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1 + rng() % 3);
                    break;
                case 2:
                    if (at < text.size()) text[at] = static_cast<char>(rng() % 256);
                    break;
                default:
                    text.insert(at, text.substr(rng() % (text.size() + 1), 1 + rng() % 8));
            }
        }
        std::optional<GenericNode> root;
        try {
            root = parse_expression(text);
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            EXPECT_FALSE(message.empty());
            continue;
        }
        if (!root) {
            EXPECT_EQ(text.find_first_not_of(' '), std::string::npos);
            continue;
        }
        const std::string printed = root->toString();
        const std::optional<GenericNode> again = parse_expression(printed);
        ASSERT_TRUE(again) << testing::PrintToString(text);
        EXPECT_EQ(again->toString(), printed) << testing::PrintToString(text);
        EXPECT_TRUE(Predicate(*again) == Predicate(*root)) << testing::PrintToString(text);
        if (HasFailure()) return;
    }
}

}  // namespace
