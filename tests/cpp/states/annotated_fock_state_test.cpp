#include "states/annotated_fock_state.h"

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "states/noisy_fock_state.h"
#include "states/parsed_basic_state.h"

namespace {

using Counts = std::vector<int>;
using Texts = std::map<int, std::list<std::string>>;

using test_support::expect_throw_message;

AnnotatedFockState text(const std::string& s) {
    return AnnotatedFockState(s);
}

struct TextFormCase {
    std::string name;
    Counts counts;
    Texts annotations;
    std::string shown;
    std::string hidden;
};

class AnnotatedFockStateTextForm : public testing::TestWithParam<TextFormCase> {};

TEST_P(AnnotatedFockStateTextForm, PrintsRunsAndPlainPhotons) {
    const TextFormCase& c = GetParam();
    const AnnotatedFockState s(c.counts, c.annotations);
    EXPECT_EQ(fmt::format("{}", s), c.shown);
    EXPECT_EQ(s.to_str(true), c.shown);
    EXPECT_EQ(s.to_str(false), c.hidden);
    EXPECT_EQ(fmt::format("{:h}", s), c.hidden);
    std::ostringstream os;
    os << s;
    EXPECT_EQ(os.str(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnotatedFockStateTextForm,
    testing::Values(
        TextFormCase{"Mixed",
                     {1, 0, 2},
                     {{0, {"P:H"}}, {2, {"a:0", "a:1"}}},
                     "|{P:H},0,{a:0}{a:1}>",
                     "|1,0,2>"},
        TextFormCase{"SameTextOneRun", {2}, {{0, {"a:1", "a:1"}}}, "|2{a:1}>", "|2>"},
        TextFormCase{"RunsInTextOrder", {2}, {{0, {"b:0", "a:0"}}}, "|{a:0}{b:0}>", "|2>"},
        TextFormCase{"PlainPhotonsLast", {3}, {{0, {"a:0"}}}, "|{a:0}2>", "|3>"},
        TextFormCase{"CountedRunThenPlain", {3}, {{0, {"a:0", "a:0"}}}, "|2{a:0}1>", "|3>"},
        TextFormCase{"Polarised", {2}, {{0, {"P:V", "P:V"}}}, "|2{P:V}>", "|2>"},
        TextFormCase{"EmptyAnnotationRun", {2}, {{0, {""}}}, "|{}1>", "|2>"},
        TextFormCase{"NormalisedText", {1}, {{0, {"b:1+2j,P:0"}}}, "|{P:H,b:(1,2)}>", "|1>"},
        TextFormCase{"EmptyEntry", {0, 1}, {{0, {}}}, "|0,1>", "|0,1>"},
        TextFormCase{"NoMode", {}, {}, "|>", "|>"}),
    [](const testing::TestParamInfo<TextFormCase>& info) { return info.param.name; });

// What the text form prints parses back to an equal state.
TEST(AnnotatedFockState, TextFormReadsBack) {
    for (const char* s : {"|{P:H},0,{a:0}{a:1}>", "|2{a:0}1,{b:(1,2)}>", "|{a:0}{b:0}>",
                          "|0,{lambda:625.2},{lambda:625.3}>", "|0,0>", "|{_:10}{_:9}>"}) {
        const AnnotatedFockState state = text(s);
        EXPECT_EQ(state.to_str(), s);
        EXPECT_EQ(text(state.to_str()), state) << s;
    }
}

struct ConstructionErrorCase {
    std::string name;
    std::function<void()> build;
    std::string message;
};

class AnnotatedFockStateConstructionError : public testing::TestWithParam<ConstructionErrorCase> {};

TEST_P(AnnotatedFockStateConstructionError, Throws) {
    try {
        GetParam().build();
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(e.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnotatedFockStateConstructionError,
    testing::Values(
        ConstructionErrorCase{"MoreAnnotationsThanPhotons",
                              [] {
                                  AnnotatedFockState({1}, {{0, {"a:0", "b:0"}}});
                              },
                              "invalid mode annotations"},
        ConstructionErrorCase{"ModeOutOfRange",
                              [] {
                                  AnnotatedFockState({1}, {{1, {"a:0"}}});
                              },
                              "invalid mode index"},
        ConstructionErrorCase{"NegativeMode",
                              [] {
                                  AnnotatedFockState({1}, {{-1, {}}});
                              },
                              "invalid mode index"},
        ConstructionErrorCase{"BadAnnotationText",
                              [] {
                                  AnnotatedFockState({1}, {{0, {"12:1"}}});
                              },
                              "invalid annotation (digit only name is forbidden: 12)"},
        ConstructionErrorCase{"BadCount", [] { AnnotatedFockState(Counts{300}); },
                              "invalid photon count '300' for mode 0"},
        ConstructionErrorCase{"TooManyModes", [] { AnnotatedFockState(257); },
                              "Fock state size is capped from 0 to 256 modes"},
        ConstructionErrorCase{"PlainText", [] { text("|1,0>"); },
                              "Cannot initialise annotated FockState from simple or noisy Fock "
                              "state."},
        ConstructionErrorCase{"NoisyText", [] { text("|{0},{a:0}>"); },
                              "Cannot initialise annotated FockState from simple or noisy Fock "
                              "state."},
        ConstructionErrorCase{"SyntaxError", [] { text("|1,x>"); },
                              "Invalid character. Should be a digit.\n|1,x>\n  ^"},
        ConstructionErrorCase{"CountsBeforeKind", [] { text("|{a:0},300>"); },
                              "invalid photon count '300' for mode 1"}),
    [](const testing::TestParamInfo<ConstructionErrorCase>& info) { return info.param.name; });

TEST(AnnotatedFockState, ConstructorsAgree) {
    const AnnotatedFockState from_map({1, 0, 2}, {{0, {"P:H"}}, {2, {"a:1", "a:0"}}});
    EXPECT_EQ(text("|{P:H},0,{a:0}{a:1}>"), from_map);
    EXPECT_EQ(AnnotatedFockState(ParsedBasicState(" | {P:H} , 0 , {a:1} {a:0} > ")), from_map);
    EXPECT_EQ(text("|2{a:1}>"), AnnotatedFockState({2}, {{0, {"a:1", "a:1"}}}));
    EXPECT_EQ(text("|{a:1}1,0>").to_str(), "|{a:1}1,0>");

    EXPECT_EQ(AnnotatedFockState(), AnnotatedFockState(Counts{}));
    EXPECT_EQ(AnnotatedFockState(0), AnnotatedFockState());
    EXPECT_EQ(AnnotatedFockState(3, 2), AnnotatedFockState(Counts{2, 0, 0}));
    EXPECT_EQ(AnnotatedFockState(FockState(Counts{1, 2})), AnnotatedFockState(Counts{1, 2}));
    EXPECT_FALSE(AnnotatedFockState(Counts{1, 2}).has_annotations());

    // Texts without photons need no annotation, and any they hold is dropped.
    for (const char* s : {"|0,0>", "|>", "|0{1}>", "|0{a:1},0>"}) {
        const AnnotatedFockState vacuum = text(s);
        EXPECT_EQ(vacuum, AnnotatedFockState(vacuum.m())) << s;
        EXPECT_FALSE(vacuum.has_annotations()) << s;
    }
    EXPECT_EQ(text("|0,0>").m(), 2);
}

TEST(AnnotatedFockState, PhotonAndModeAnnotationsAgree) {
    const AnnotatedFockState s = text("|{b:0}{a:0}1,0,2{c:1}{d:2}>");
    std::vector<std::string> by_mode;
    for (int k = 0; k < s.m(); ++k) {
        const std::list<Annotation> annotations = s.get_mode_annotations(k);
        EXPECT_EQ(static_cast<int>(annotations.size()), s[k]);
        for (const Annotation& a : annotations) by_mode.push_back(a.to_str());
    }
    EXPECT_EQ(by_mode, (std::vector<std::string>{"a:0", "b:0", "", "c:1", "c:1", "d:2"}));
    for (int i = 0; i < s.n(); ++i)
        EXPECT_EQ(s.get_photon_annotation(i).to_str(), by_mode[static_cast<std::size_t>(i)]) << i;

    const AnnotatedFockState plain(Counts{2, 1});
    EXPECT_EQ(plain.get_mode_annotations(0), std::list<Annotation>(2));
    EXPECT_TRUE(plain.get_photon_annotation(2).empty());

    expect_throw_message<std::out_of_range>([&] { s.get_mode_annotations(3); }, "invalid mode");
    expect_throw_message<std::out_of_range>([&] { s.get_mode_annotations(-1); }, "invalid mode");
    expect_throw_message<std::out_of_range>([&] { s.get_photon_annotation(6); },
                                            "photon index out of range");
    expect_throw_message<std::out_of_range>([&] { s.get_photon_annotation(-1); },
                                            "photon index out of range");
}

TEST(AnnotatedFockState, FailedModeAnnotationsLeaveAnEmptyEntry) {
    AnnotatedFockState s({1}, {{0, {"a:0"}}});
    expect_throw_message<std::invalid_argument>(
        [&] {
            s.set_mode_annotations(0, {Annotation("a:0"), Annotation("b:0")});
        },
        "invalid mode annotations");
    EXPECT_EQ(s.to_str(), "|1>");
    EXPECT_TRUE(s.has_annotations());
    EXPECT_NE(s, AnnotatedFockState(Counts{1}));

    expect_throw_message<std::invalid_argument>([&] { s.set_mode_annotations(1, {}); },
                                                "invalid mode index");
    EXPECT_EQ(s, AnnotatedFockState({1}, {{0, {}}}));
}

TEST(AnnotatedFockState, InjectAnnotationReplacesEverything) {
    AnnotatedFockState s({2, 0, 1}, {{0, {"a:0"}}, {1, {}}});
    s.inject_annotation(Annotation("P:H"));
    EXPECT_EQ(s.to_str(), "|2{P:H},0,{P:H}>");
    EXPECT_TRUE(s.has_polarization());
    EXPECT_EQ(s, text("|2{P:H},0,{P:H}>"));  // the empty entry of mode 1 is gone too

    s.inject_annotation(Annotation("a:1"));
    EXPECT_EQ(s.to_str(), "|2{a:1},0,{a:1}>");
    EXPECT_FALSE(s.has_polarization());

    AnnotatedFockState vacuum({0, 0}, {{0, {}}});
    vacuum.inject_annotation(Annotation("a:1"));
    EXPECT_FALSE(vacuum.has_annotations());
}

TEST(AnnotatedFockState, HasPolarizationLooksAtEveryRun) {
    EXPECT_TRUE(text("|{a:0},{b:1}{P:V}>").has_polarization());
    EXPECT_TRUE(text("|{a:0,P:D}>").has_polarization());
    EXPECT_FALSE(text("|{a:0},{p:1}>").has_polarization());
    EXPECT_FALSE(AnnotatedFockState(Counts{3}).has_polarization());
}

TEST(AnnotatedFockState, DroppingAnnotations) {
    const AnnotatedFockState s = text("|3{a:0},0,{b:0}1>");
    EXPECT_EQ(s.clear_annotations(), FockState(Counts{3, 0, 2}));
    EXPECT_EQ(s.threshold_detection(), FockState(Counts{1, 0, 1}));
    EXPECT_EQ(s.threshold_detection(2), FockState(Counts{2, 0, 2}));
    expect_throw_message<std::invalid_argument>([&] { s.threshold_detection(0); },
                                                "detections must be positive");
    EXPECT_EQ(s.to_vect(), (Counts{3, 0, 2}));
    EXPECT_DOUBLE_EQ(s.prodnfact(), 12.0);
    EXPECT_EQ(s[0], 3);
    expect_throw_message<std::out_of_range>([&] { (void)s[3]; }, "invalid mode");
}

TEST(AnnotatedFockState, SetFsVectKeepsTheRuns) {
    AnnotatedFockState s = text("|{a:0},0>");
    s._set_fs_vect({2, 1});
    EXPECT_EQ(s.to_str(), "|{a:0}1,1>");
}

TEST(AnnotatedFockState, CopiesAreIndependent) {
    const AnnotatedFockState s = text("|{a:0},1>");
    AnnotatedFockState copy = s;
    copy.inject_annotation(Annotation("b:1"));
    EXPECT_EQ(s.to_str(), "|{a:0},1>");
    copy = s;
    EXPECT_EQ(copy, s);
    EXPECT_EQ(copy.hash(), s.hash());
    AnnotatedFockState& alias = copy;
    copy = alias;
    EXPECT_EQ(copy, s);
    AnnotatedFockState moved = std::move(copy);
    EXPECT_EQ(moved, s);
    copy = moved;  // a moved-from state can be assigned again
    EXPECT_EQ(copy, s);
}

TEST(AnnotatedFockState, FormatSpecificationIsCheckedTheSameWay) {
    const AnnotatedFockState s = text("|{a:0}>");
    expect_throw_message<fmt::format_error>([&] { (void)fmt::format(fmt::runtime("{:x}"), s); },
                                            "invalid format for FockState x}");
    expect_throw_message<fmt::format_error>([&] { (void)fmt::format(fmt::runtime("{:hh}"), s); },
                                            "invalid format for FockState hh}");
}

// Pairs of states with the expected equality; equality must be symmetric and equal states must
// hash alike.
struct EqualityCase {
    std::string name;
    std::function<AnnotatedFockState()> a, b;
    bool equal;
};

AnnotatedFockState from_noise(Counts counts, std::vector<unsigned char> tags) {
    AnnotatedFockState s(counts);
    s._annotations_from_noise(tags.data());
    return s;
}

class AnnotatedFockStateEquality : public testing::TestWithParam<EqualityCase> {};

TEST_P(AnnotatedFockStateEquality, IsSymmetricAndAgreesWithHash) {
    const AnnotatedFockState a = GetParam().a(), b = GetParam().b();
    EXPECT_EQ(a == b, GetParam().equal);
    EXPECT_EQ(b == a, GetParam().equal);
    EXPECT_EQ(a != b, !GetParam().equal);
    if (GetParam().equal) {
        EXPECT_EQ(a.hash(), b.hash());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnotatedFockStateEquality,
    testing::Values(EqualityCase{"SameText", [] { return text("|{a:0}{b:0},1>"); },
                                 [] {
                                     return AnnotatedFockState({2, 1}, {{0, {"b:0", "a:0"}}});
                                 },
                                 true},
                    // Runs ordered by tag from noise, by text otherwise.
                    EqualityCase{"RunOrderDiffers",
                                 [] {
                                     return from_noise({2, 1}, {10, 9, 3});
                                 },
                                 [] { return text("|{_:10}{_:9},{_:3}>"); }, true},
                    // One run of `a` is in `b`, which holds one more: different in both directions.
                    EqualityCase{"ExtraRun",
                                 [] {
                                     return AnnotatedFockState({2}, {{0, {"a:0"}}});
                                 },
                                 [] { return text("|{a:0}{b:0}>"); }, false},
                    EqualityCase{"CountDiffers", [] { return text("|2{a:0}1>"); },
                                 [] { return text("|{a:0}2>"); }, false},
                    // Both print |1,0>: a photon-free mode carries no annotation.
                    EqualityCase{"EmptyEntryOnPhotonFreeMode",
                                 [] {
                                     return AnnotatedFockState({1, 0}, {{1, {}}});
                                 },
                                 [] {
                                     return AnnotatedFockState(Counts{1, 0});
                                 },
                                 true},
                    EqualityCase{"ZeroTimesAnnotationInText", [] { return text("|0{a:1},{b:1}>"); },
                                 [] { return text("|0,{b:1}>"); }, true},
                    EqualityCase{"ZeroTimesAnnotationOnOccupiedMode",
                                 [] { return text("|0{a:1}1,{b:1}>"); },
                                 [] { return text("|1,{b:1}>"); }, true},
                    EqualityCase{"EmptyEntryOnOccupiedMode",
                                 [] {
                                     return AnnotatedFockState({1, 0}, {{0, {}}});
                                 },
                                 [] {
                                     return AnnotatedFockState(Counts{1, 0});
                                 },
                                 false},
                    EqualityCase{"EntryOnAnotherMode", [] { return text("|{a:0},1>"); },
                                 [] { return text("|1,{a:0}>"); }, false},
                    EqualityCase{"ValueDiffers", [] { return text("|{a:0}>"); },
                                 [] { return text("|{a:1}>"); }, false},
                    EqualityCase{"PhotonsDiffer", [] { return text("|{a:0},0>"); },
                                 [] { return text("|{a:0},1>"); }, false},
                    EqualityCase{"NoAnnotation",
                                 [] {
                                     return AnnotatedFockState(Counts{1, 2});
                                 },
                                 [] {
                                     return AnnotatedFockState(FockState(Counts{1, 2}));
                                 },
                                 true}),
    [](const testing::TestParamInfo<EqualityCase>& info) { return info.param.name; });

// States built from noise tags in any order and from the text of the same runs are equal keys.
TEST(AnnotatedFockState, NoiseAndTextBuildTheSameKeys) {
    std::mt19937 rng(11);
    std::unordered_set<AnnotatedFockState> keys;
    std::set<std::string> tag_multisets;  // sorted tags as bytes
    for (int trial = 0; trial < 200; ++trial) {
        const int photons = std::uniform_int_distribution<int>(1, 12)(rng);
        std::vector<unsigned char> tags;
        for (int i = 0; i < photons; ++i)
            tags.push_back(
                static_cast<unsigned char>(std::uniform_int_distribution<int>(0, 12)(rng)));
        std::list<std::string> texts;
        for (unsigned char t : tags) texts.push_back(fmt::format("_:{}", t));
        std::shuffle(tags.begin(), tags.end(), rng);
        std::string sorted(tags.begin(), tags.end());
        std::sort(sorted.begin(), sorted.end());
        tag_multisets.insert(sorted);
        const AnnotatedFockState noisy = from_noise({photons}, tags);
        const AnnotatedFockState written({photons}, {{0, texts}});
        ASSERT_EQ(noisy, written) << noisy.to_str() << " " << written.to_str();
        ASSERT_EQ(written, noisy);
        ASSERT_EQ(noisy.hash(), written.hash());
        ASSERT_EQ(std::hash<AnnotatedFockState>()(noisy), noisy.hash());
        keys.insert(noisy);
        keys.insert(written);
        keys.insert(text(written.to_str()));
    }
    EXPECT_EQ(keys.size(), tag_multisets.size());
}

TEST(AnnotatedFockState, NoiseTagsBecomeUnderscoreAnnotations) {
    const AnnotatedFockState s = from_noise({1, 0, 2}, {0, 1, 0});
    EXPECT_EQ(s.to_str(), "|{_:0},0,{_:0}{_:1}>");
    const AnnotatedFockState many = from_noise({3, 1}, {5, 2, 5, 7});
    EXPECT_EQ(many.to_str(), "|{_:2}2{_:5},{_:7}>");
    EXPECT_EQ(many.get_photon_annotation(1).get("_", -1), std::complex<float>(5, 0));
    EXPECT_FALSE(from_noise({0, 0}, {}).has_annotations());
}

TEST(AnnotatedFockState, FromNoisyState) {
    NoisyFockState noisy(std::string("|{0}{1},{0}>"));
    EXPECT_EQ(AnnotatedFockState(noisy).to_str(), "|{_:0}{_:1},{_:0}>");
    EXPECT_EQ(AnnotatedFockState(std::move(noisy)), text("|{_:0}{_:1},{_:0}>"));
    // Tags of several digits: tag order and text order differ, the states do not.
    const NoisyFockState tens(FockState(Counts{3}), {10, 9, 10}, false);
    EXPECT_EQ(AnnotatedFockState(tens).to_str(), "|{_:9}2{_:10}>");
    EXPECT_EQ(AnnotatedFockState(tens), text("|2{_:10}{_:9}>"));
    EXPECT_EQ(AnnotatedFockState(tens).hash(), text("|2{_:10}{_:9}>").hash());
    EXPECT_FALSE(AnnotatedFockState(NoisyFockState()).has_annotations());
    EXPECT_EQ(AnnotatedFockState(NoisyFockState(FockState(Counts{0, 0}))), AnnotatedFockState(2));
}

}  // namespace
