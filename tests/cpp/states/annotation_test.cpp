#include "states/annotation.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <future>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/hash.h"

namespace {

using Value = std::complex<float>;
using Pairs = std::vector<std::pair<std::string, Value>>;

constexpr float pi = 3.14159274101257324f;
constexpr float half_pi = 1.57079637050628662f;

Pairs pairs_of(const Annotation& annotation) {
    return Pairs(annotation.begin(), annotation.end());
}

struct GoodText {
    std::string text;
    Pairs content;
    friend void PrintTo(const GoodText& good, std::ostream* os) {
        *os << testing::PrintToString(good.text);
    }
};

class AnnotationParse : public testing::TestWithParam<GoodText> {};

TEST_P(AnnotationParse, ReadsEveryValueForm) {
    EXPECT_EQ(pairs_of(Annotation(GetParam().text)), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnnotationParse,
    testing::Values(
        GoodText{"", {}}, GoodText{"a:0,b:(1,2)", {{"a", 0}, {"b", {1, 2}}}},
        GoodText{"a:1+2j", {{"a", {1, 2}}}}, GoodText{"a:1+-2j", {{"a", {1, -2}}}},
        GoodText{"x:2j", {{"x", {0, 2}}}}, GoodText{"x:-0.5i", {{"x", {0, -0.5f}}}},
        GoodText{"x:12j", {{"x", {0, 12}}}}, GoodText{"x:2.5j", {{"x", {0, 2.5f}}}},
        GoodText{"x:1.5-25j", {{"x", {1.5f, -25}}}}, GoodText{"x:1e2j", {{"x", {0, 100}}}},
        GoodText{"lambda:625.2", {{"lambda", 625.2f}}}, GoodText{"P:H", {{"P", 0}}},
        GoodText{"P:A,w:.5", {{"P", {half_pi, pi}}, {"w", 0.5f}}}, GoodText{"a:1,", {{"a", 1}}},
        GoodText{"_:3", {{"_", 3}}}, GoodText{"a:-+1", {{"a", -1}}}, GoodText{"a:+-1", {{"a", -1}}},
        GoodText{"a:(1,2)b:3", {{"a", {1, 2}}, {"b", 3}}},
        GoodText{"a:(-+1,+-2)", {{"a", {-1, -2}}}}, GoodText{"a:V", {{"a", pi}}},
        GoodText{"a:2.5E+2,b:1e-5,c:7.", {{"a", 250}, {"b", 1e-5f}, {"c", 7}}},
        GoodText{"z:1,Z:2,_:3", {{"Z", 2}, {"_", 3}, {"z", 1}}}, GoodText{"a1:1", {{"a1", 1}}},
        // Below the float range: subnormals are kept, smaller values round to 0.
        GoodText{"a:1e-40", {{"a", 1e-40f}}}, GoodText{"a:(1e-45,-1e-50)", {{"a", {1e-45f, 0}}}},
        GoodText{"a:-2e-40j", {{"a", {0, -2e-40f}}}}));

struct BadText {
    std::string text;
    std::string message;
    friend void PrintTo(const BadText& bad, std::ostream* os) {
        *os << testing::PrintToString(bad.text);
    }
};

class AnnotationParseError : public testing::TestWithParam<BadText> {};

TEST_P(AnnotationParseError, ThrowsItsMessage) {
    const auto& bad = GetParam();
    try {
        Annotation annotation(bad.text);
        FAIL() << "accepted " << bad.text;
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), bad.message.c_str());
    }
}

const std::string uncovered =
    "invalid annotation (a part of the string is not detected as [name:value]. ";

INSTANTIATE_TEST_SUITE_P(
    Texts, AnnotationParseError,
    testing::Values(BadText{",a:1", uncovered + "a:1)"}, BadText{"a:1 ", uncovered + "a:1)"},
                    BadText{"a:1, b:2", uncovered + "a:1,,b:2)"},
                    BadText{"a:1b:2", uncovered + "a:1b)"},
                    BadText{"a:(1, 2)", "invalid annotation (cannot parse value)"},
                    BadText{"a", "invalid annotation (cannot parse value)"},
                    BadText{"a:1,a:2", "invalid annotation (duplicate tag)"},
                    BadText{"12:1", "invalid annotation (digit only name is forbidden: 12)"},
                    BadText{"P:X", "invalid annotation (unknown polarization value: X)"},
                    BadText{"a:h", "invalid annotation (unknown polarization value: h)"},
                    BadText{"a:xyz", "invalid annotation (the value is invalid: xyz)"},
                    BadText{"a:5x", "invalid annotation (the value is invalid: 5x)"},
                    BadText{"a:--1", "stof"}, BadText{"a:++1", "stof"},
                    BadText{"a:1e39", "invalid annotation (value out of float range: 1e39)"},
                    BadText{"a:(1,-3.5e38)",
                            "invalid annotation (value out of float range: -3.5e38)"},
                    BadText{"a:1e39j", "invalid annotation (value out of float range: 1e39j)"},
                    // Only "i" and "j" make an imaginary part.
                    BadText{"a:1+2|", uncovered + "a:1)"}, BadText{"a:5|", uncovered + "a:5)"},
                    // The uncovered part is found before any name or value error.
                    BadText{"12:xyz ", uncovered + "12:xyz)"},
                    // Within one pair: name, then value, then duplicate.
                    BadText{"1:X", "invalid annotation (digit only name is forbidden: 1)"},
                    BadText{"a:1,a:X", "invalid annotation (unknown polarization value: X)"},
                    // The first failing pair in text order decides.
                    BadText{"a:1,b:xyz,a:2", "invalid annotation (the value is invalid: xyz)"}));

TEST(Annotation, PolarisationLettersHaveTheirFloatPatterns) {
    struct Letter {
        const char* text;
        std::uint32_t theta, phi;
    };
    for (const auto& [text, theta, phi] :
         {Letter{"P:H", 0, 0}, Letter{"P:V", 0x40490FDB, 0}, Letter{"P:D", 0x3FC90FDB, 0},
          Letter{"P:A", 0x3FC90FDB, 0x40490FDB}, Letter{"P:R", 0x3FC90FDB, 0x4096CBE4},
          Letter{"P:L", 0x3FC90FDB, 0x3FC90FDB}}) {
        const Annotation annotation(text);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(annotation.at("P").real()), theta) << text;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(annotation.at("P").imag()), phi) << text;
        EXPECT_EQ(annotation.to_str(), text);
    }
}

struct Printed {
    std::string text;
    std::string printed;
    friend void PrintTo(const Printed& p, std::ostream* os) {
        *os << testing::PrintToString(p.text);
    }
};

class AnnotationToStr : public testing::TestWithParam<Printed> {};

TEST_P(AnnotationToStr, PrintsShortestFloatsAndReadsBack) {
    const Annotation annotation(GetParam().text);
    EXPECT_EQ(annotation.to_str(), GetParam().printed);
    EXPECT_EQ(Annotation(annotation.to_str()), annotation);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnnotationToStr,
    testing::Values(Printed{"", ""}, Printed{"a:0,b:(1,2)", "a:0,b:(1,2)"},
                    Printed{"b:1+2j,P:H", "P:H,b:(1,2)"}, Printed{"P:0", "P:H"},
                    Printed{"a:H", "a:0"}, Printed{"a:V", "a:3.1415927"},
                    Printed{"a:R", "a:(1.5707964,4.712389)"},
                    Printed{"P:(1.5707964,3.1415927)", "P:A"}, Printed{"P:(0.5,0)", "P:0.5"},
                    Printed{"P:-0", "P:H"}, Printed{"a:-0", "a:-0"},
                    Printed{"a:0.1,b:625.2", "a:0.1,b:625.2"},
                    Printed{"a:.00001,b:1e20", "a:1e-05,b:1e+20"}, Printed{"a:(1,0)", "a:1"},
                    Printed{"a:-2i", "a:(0,-2)"}, Printed{"a:1,", "a:1"}));

TEST(Annotation, StrValueOfAnAbsentNameThrows) {
    const Annotation annotation("a:1");
    EXPECT_EQ(annotation.str_value("a"), "1");
    try {
        (void)annotation.str_value("b");
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "map::at");
    }
}

TEST(Annotation, NanImaginaryPartPrintsAsPair) {
    Annotation annotation;
    annotation["P"] = {0, std::numeric_limits<float>::quiet_NaN()};
    EXPECT_EQ(annotation.to_str(), "P:(0,nan)");
}

TEST(Annotation, GetFallsBackWhenAbsent) {
    const Annotation annotation("a:1+2j");
    EXPECT_EQ(annotation.get("a", 7), Value(1, 2));
    EXPECT_EQ(annotation.get("b", Value(2.5f, -1)), Value(2.5f, -1));
}

TEST(Annotation, ParseAddsToExistingPairsAndKeepsThoseReadBeforeAnError) {
    Annotation annotation("a:1");
    annotation.parse("b:2");
    EXPECT_EQ(annotation.to_str(), "a:1,b:2");
    EXPECT_THROW(annotation.parse("c:3,a:4"), std::invalid_argument);
    EXPECT_EQ(annotation.to_str(), "a:1,b:2,c:3");
}

struct Compatibility {
    std::string self, other;
    bool compatible;
    std::string out;
    friend void PrintTo(const Compatibility& c, std::ostream* os) {
        *os << testing::PrintToString(c.self) << " with " << testing::PrintToString(c.other);
    }
};

class AnnotationCompatible : public testing::TestWithParam<Compatibility> {};

TEST_P(AnnotationCompatible, FillsTheUnionOrStopsAtTheFirstConflict) {
    const auto& c = GetParam();
    const Annotation self(c.self), other(c.other);
    Annotation out("junk:1");
    EXPECT_EQ(self.compatible_annotation(other, out), c.compatible);
    EXPECT_EQ(out.to_str(), c.out);

    // Written into either operand, the answer and the union are the same.
    Annotation self_copy = self;
    EXPECT_EQ(self_copy.compatible_annotation(other, self_copy), c.compatible);
    EXPECT_EQ(self_copy.to_str(), c.out);
    Annotation other_copy = other;
    EXPECT_EQ(self.compatible_annotation(other_copy, other_copy), c.compatible);
    EXPECT_EQ(other_copy.to_str(), c.out);
}

INSTANTIATE_TEST_SUITE_P(Pairs, AnnotationCompatible,
                         testing::Values(Compatibility{"P:H,a:1", "P:V,b:2", true, "P:H,a:1,b:2"},
                                         Compatibility{"a:1", "a:2", false, "a:1"},
                                         Compatibility{"a:1", "a:(1,1)", false, "a:1"},
                                         Compatibility{"", "P:V,a:1", true, "a:1"},
                                         Compatibility{"a:1,b:2", "b:2,c:3", true, "a:1,b:2,c:3"},
                                         Compatibility{"a:1,c:5", "b:2,c:6,d:1", false,
                                                       "a:1,b:2,c:5"},
                                         Compatibility{"a:-0", "a:0", true, "a:-0"}));

TEST(Annotation, NanValuesAreNeverCompatible) {
    Annotation annotation;
    annotation["a"] = std::numeric_limits<float>::quiet_NaN();
    Annotation out;
    EXPECT_FALSE(annotation.compatible_annotation(annotation, out));
    EXPECT_NE(annotation, annotation);
}

TEST(Annotation, HashFollowsTheBoostPairMixing) {
    EXPECT_EQ(Annotation().hash(), 0u);
    // One pair (name, value): the name's byte hash and the value hash combined as a pair.
    const unsigned char b = 'b';
    const std::uint64_t value_hash = std::uint64_t{std::bit_cast<std::uint32_t>(1.0f)} +
                                     Utils::hash_mix(std::bit_cast<std::uint32_t>(2.0f));
    const std::uint64_t pair_hash =
        Utils::hash_combine(Utils::hash_combine(0, Utils::hash_bytes(&b, 1)), value_hash);
    EXPECT_EQ(Annotation("b:(1,2)").hash(), Utils::hash_combine(0, pair_hash));
}

TEST(Annotation, EqualAnnotationsHashAlike) {
    for (const auto& [x, y] :
         std::vector<std::pair<std::string, std::string>>{{"a:1", "a:1.0"},
                                                          {"a:-0", "a:0"},
                                                          {"a:(0,-0)", "a:0"},
                                                          {"b:2,a:1", "a:1,b:2"},
                                                          {"P:H", "P:0"}}) {
        const Annotation a(x), b(y);
        EXPECT_EQ(a, b) << x;
        EXPECT_EQ(a.hash(), b.hash()) << x;
    }
    EXPECT_NE(Annotation("a:1").hash(), Annotation("a:2").hash());
    EXPECT_NE(Annotation("a:1").hash(), Annotation("b:1").hash());
    EXPECT_NE(Annotation("a:1").hash(), Annotation("a:1j").hash());
    EXPECT_NE(Annotation("a:1,b:2").hash(), Annotation("a:2,b:1").hash());
}

TEST(Annotation, ConcurrentFirstParsesAgree) {
    std::vector<std::future<std::string>> tasks;
    for (int i = 0; i < 8; ++i)
        tasks.push_back(
            std::async(std::launch::async, [] { return Annotation("b:1+2j,P:H,a:.5").to_str(); }));
    for (auto& task : tasks) EXPECT_EQ(task.get(), "P:H,a:0.5,b:(1,2)");
}

}  // namespace
