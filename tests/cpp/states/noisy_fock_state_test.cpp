#include "states/noisy_fock_state.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "states/parsed_basic_state.h"

namespace {

using Tags = std::vector<unsigned char>;
using Counts = std::vector<int>;
// Reference model of a noisy state: the tags of every mode, in stored order.
using Modes = std::vector<Tags>;

FockState fs(Counts counts) {
    return FockState(counts);
}

NoisyFockState noisy(Counts counts, Tags tags) {
    return NoisyFockState(FockState(counts), tags, false);
}

NoisyFockState from_model(Modes const& modes) {
    Counts counts;
    Tags tags;
    for (const Tags& mode : modes) {
        counts.push_back(static_cast<int>(mode.size()));
        tags.insert(tags.end(), mode.begin(), mode.end());
    }
    return NoisyFockState(FockState(counts), tags, true);
}

Modes to_model(NoisyFockState const& s) {
    Modes modes;
    for (int k = 0; k < s.m(); ++k)
        modes.push_back(s.get_mode_annotations(static_cast<unsigned char>(k)));
    return modes;
}

Tags tags_of(NoisyFockState const& s) {
    return Tags(s.tags(), s.tags() + s.n());
}

using test_support::expect_throw_message;

// Random canonical states (tags ascending within a mode), many with more than 8 photons.
std::vector<Modes> random_models(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::vector<Modes> models;
    for (int i = 0; i < count; ++i) {
        Modes modes(std::uniform_int_distribution<std::size_t>(0, 5)(rng));
        for (Tags& mode : modes) {
            mode.resize(std::uniform_int_distribution<std::size_t>(0, 4)(rng));
            for (unsigned char& t : mode)
                t = static_cast<unsigned char>(std::uniform_int_distribution<int>(0, 3)(rng));
            std::sort(mode.begin(), mode.end());
        }
        models.push_back(modes);
    }
    return models;
}

// Mode range normalisation of the Python-free native calls: negative bounds count from the end,
// then both are clamped below at 0 and the end above at m.
void normalise(int& start, int& end, int m) {
    if (start < 0) start += m;
    if (end < 0) end += m;
    start = std::max(start, 0);
    end = std::clamp(end, 0, m);
}

}  // namespace

namespace {

struct TextCase {
    const char* name;
    NoisyFockState state;
    const char* noisy_text;
    const char* plain_text;
};

}  // namespace

class NoisyFockStateText : public testing::TestWithParam<TextCase> {};

TEST_P(NoisyFockStateText, PrintsRunsAndParsesBack) {
    const TextCase& c = GetParam();
    EXPECT_EQ(fmt::format("{}", c.state), c.noisy_text);
    EXPECT_EQ(c.state.to_str(), c.noisy_text);
    EXPECT_EQ(c.state.to_str(false), c.plain_text);
    EXPECT_EQ(fmt::format("{:h}", c.state), c.plain_text);
    EXPECT_EQ(fmt::format("{:hhh}", c.state), c.plain_text);
    std::ostringstream os;
    os << c.state;
    EXPECT_EQ(os.str(), c.noisy_text);
    EXPECT_EQ(NoisyFockState(std::string(c.noisy_text)), c.state);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoisyFockStateText,
    testing::Values(TextCase{"Example", noisy({1, 0, 2}, {0, 0, 1}), "|{0},0,{0}{1}>", "|1,0,2>"},
                    TextCase{"RunFirst", noisy({3}, {1, 0, 0}), "|2{0}{1}>", "|3>"},
                    TextCase{"RunLast", noisy({3}, {1, 1, 0}), "|{0}2{1}>", "|3>"},
                    TextCase{"AllZero", NoisyFockState(fs({12, 1})), "|12{0},{0}>", "|12,1>"},
                    TextCase{"WideTags", noisy({2, 1}, {255, 9, 128}), "|{9}{255},{128}>", "|2,1>"},
                    TextCase{"HeapTags", noisy({5, 5}, {4, 4, 4, 4, 4, 3, 2, 3, 2, 3}),
                             "|5{4},2{2}3{3}>", "|5,5>"},
                    TextCase{"Vacuum", NoisyFockState(FockState(2)), "|0,0>", "|0,0>"},
                    TextCase{"Empty", NoisyFockState(), "|>", "|>"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(NoisyFockState, OtherFormatSpecificationsAreRefused) {
    const NoisyFockState s = noisy({1}, {0});
    for (const char* spec : {"{:x}", "{:hx}", "{:H}"}) {
        try {
            (void)fmt::format(fmt::runtime(spec), s);
            ADD_FAILURE() << spec;
        } catch (const fmt::format_error& e) {
            EXPECT_EQ(e.what(), std::string("invalid format for FockState ") + (spec + 2)) << spec;
        }
    }
}

namespace {

struct ParseCase {
    const char* text;
    int m;
    Tags code;
    Tags tags;
};

}  // namespace

class NoisyFockStateParse : public testing::TestWithParam<ParseCase> {};

TEST_P(NoisyFockStateParse, BuildsCanonicalTags) {
    const ParseCase& c = GetParam();
    const NoisyFockState s{std::string(c.text)};
    EXPECT_EQ(s.m(), c.m);
    EXPECT_EQ(Tags(s.state().code().begin(), s.state().code().end()), c.code);
    EXPECT_EQ(tags_of(s), c.tags);
    EXPECT_EQ(NoisyFockState(ParsedBasicState(c.text)), s);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoisyFockStateParse,
    testing::Values(ParseCase{"|{1}2,{3}{0}>", 2, {0, 0, 0, 1, 1}, {0, 0, 1, 0, 3}},
                    ParseCase{"|{0},0,{0}{1}>", 3, {0, 2, 2}, {0, 0, 1}},
                    ParseCase{"|2{5}{1},1>", 2, {0, 0, 0, 1}, {1, 5, 5, 0}},
                    ParseCase{"|{255}{0}>", 1, {0, 0}, {0, 255}}, ParseCase{"|0,0>", 2, {}, {}},
                    ParseCase{"|0{1}>", 1, {}, {}}, ParseCase{"|>", 0, {}, {}}));

namespace {

struct ConstructorErrorCase {
    const char* name;
    std::function<void()> build;
    const char* message;
};

}  // namespace

class NoisyFockStateConstructorError : public testing::TestWithParam<ConstructorErrorCase> {};

TEST_P(NoisyFockStateConstructorError, ThrowsWithMessage) {
    try {
        GetParam().build();
        ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ(e.what(), std::string(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoisyFockStateConstructorError,
    testing::Values(
        ConstructorErrorCase{"TooFewTags",
                             [] {
                                 noisy({1, 1}, {0});
                             },
                             "Wrong noise size (expected 2)"},
        ConstructorErrorCase{"TooManyTags",
                             [] {
                                 noisy({1}, {0, 0});
                             },
                             "Wrong noise size (expected 1)"},
        ConstructorErrorCase{"TagsWithoutPhotons",
                             [] { NoisyFockState(FockState(3), Tags{0}, true); },
                             "Wrong noise size (expected 0)"},
        ConstructorErrorCase{
            "PlainText", [] { NoisyFockState(std::string("|1,0>")); },
            "Cannot initialise noisy FockState from simple or annotated Fock state."},
        ConstructorErrorCase{
            "AnnotatedText", [] { NoisyFockState(std::string("|{0},{a:1}>")); },
            "Cannot initialise noisy FockState from simple or annotated Fock state."},
        ConstructorErrorCase{"CountsFirst", [] { NoisyFockState(std::string("|{0},300>")); },
                             "invalid photon count '300' for mode 1"},
        // A tag past 255 would be cut to its low byte and break the order of the mode.
        ConstructorErrorCase{"WideTag", [] { NoisyFockState(std::string("|{300}{50}>")); },
                             "Invalid noise tag. Should be between 0 and 255.\n|{300}{50}>\n ^"}),
    [](const testing::TestParamInfo<ConstructorErrorCase>& info) { return info.param.name; });

TEST(NoisyFockState, TagListsAreSortedWithinModesUnlessSaidSorted) {
    const NoisyFockState sorted = noisy({2}, {1, 0});
    EXPECT_EQ(tags_of(sorted), (Tags{0, 1}));
    EXPECT_EQ(sorted, NoisyFockState(std::string("|{0}{1}>")));

    const NoisyFockState as_given(fs({2}), Tags{1, 0}, true);
    EXPECT_EQ(tags_of(as_given), (Tags{1, 0}));
    EXPECT_NE(as_given, sorted);
    as_given.sort_noise();
    EXPECT_EQ(as_given, sorted);

    // Sorting never moves a tag to another mode.
    EXPECT_EQ(tags_of(noisy({1, 2, 1}, {9, 5, 3, 0})), (Tags{9, 3, 5, 0}));
    EXPECT_EQ(tags_of(NoisyFockState(fs({1, 0, 2}))), (Tags{0, 0, 0}));
}

TEST(NoisyFockState, EqualStatesHashEqualWhateverTheTagOrder) {
    const Counts counts{3, 0, 2, 4};
    Tags tags{2, 0, 2, 7, 1, 1, 0, 3, 1};
    const NoisyFockState reference = noisy(counts, tags);
    std::set<std::uint64_t> others;
    // Every order of the tags of mode 3 (and a few of mode 0) gives the same canonical state.
    std::sort(tags.begin() + 5, tags.end());
    do {
        const NoisyFockState s = noisy(counts, tags);
        EXPECT_EQ(s, reference);
        EXPECT_EQ(s.hash(), reference.hash());
        std::next_permutation(tags.begin(), tags.begin() + 3);
    } while (std::next_permutation(tags.begin() + 5, tags.end()));

    EXPECT_EQ(noisy({1, 0, 2}, {0, 0, 1}).hash(), 0x6b9ea42d22021903ULL);
    // Moving a tag to another photon, or a photon to another mode, changes the state.
    EXPECT_NE(noisy({1, 0, 2}, {1, 0, 0}), noisy({1, 0, 2}, {0, 0, 1}));
    EXPECT_NE(noisy({1, 0, 2}, {1, 0, 0}).hash(), noisy({1, 0, 2}, {0, 0, 1}).hash());
    EXPECT_NE(noisy({2, 0, 1}, {0, 1, 0}), noisy({1, 0, 2}, {0, 0, 1}));
    EXPECT_NE(NoisyFockState(fs({1})), NoisyFockState(fs({1, 0})));
    EXPECT_EQ(NoisyFockState(FockState(2)), NoisyFockState(std::string("|0,0>")));
    EXPECT_EQ(NoisyFockState(FockState(2)).hash(), NoisyFockState(std::string("|0,0>")).hash());
}

TEST(NoisyFockState, TagQueries) {
    const NoisyFockState s = noisy({1, 0, 2}, {0, 1, 0});
    EXPECT_EQ(s.get_mode_annotations(2), (Tags{0, 1}));
    EXPECT_EQ(s.get_mode_annotations(1), Tags{});
    EXPECT_EQ(s.get_mode_annotations(200), Tags{});
    EXPECT_EQ(NoisyFockState().get_mode_annotations(0), Tags{});
    EXPECT_EQ(s.get_photon_annotation(2), 1);
    expect_throw_message<std::invalid_argument>([&] { s.get_photon_annotation(3); },
                                                "Photon mode index out of range");
    EXPECT_EQ(s[2], 2);
    EXPECT_EQ(s.photon2mode(2), 2);
    EXPECT_EQ(s.mode2photon(1), -1);
    expect_throw_message<std::out_of_range>([&] { (void)s[3]; }, "invalid mode");
}

TEST(NoisyFockState, CopiesAreDeepAndMovesEmptyTheSource) {
    NoisyFockState a = noisy({5, 5}, {1, 1, 1, 1, 2, 3, 3, 3, 3, 3});
    NoisyFockState b = a;
    EXPECT_NE(b.tags(), a.tags());
    b *= noisy({1}, {9});
    EXPECT_EQ(a.to_str(), "|4{1}{2},5{3}>");
    NoisyFockState& alias = a;
    a = alias;
    EXPECT_EQ(a.to_str(), "|4{1}{2},5{3}>");
    b = a;
    EXPECT_EQ(b, a);

    const unsigned char* tags = a.tags();
    const NoisyFockState moved = std::move(a);
    EXPECT_EQ(moved.tags(), tags);
    EXPECT_EQ(moved, b);
    EXPECT_EQ(a.n(), 0);
    EXPECT_EQ(a.tags(), nullptr);
}

TEST(NoisyFockState, SeparateAndSplitByTag) {
    const NoisyFockState s = noisy({1, 2}, {0, 0, 1});
    EXPECT_EQ(s.separate_state(), (std::vector<FockState>{fs({1, 1}), fs({0, 1})}));
    EXPECT_EQ(s.split_state(),
              (std::map<unsigned char, FockState>{{0, fs({1, 1})}, {1, fs({0, 1})}}));
    EXPECT_EQ(NoisyFockState(FockState(3)).separate_state(), std::vector<FockState>{FockState(3)});
    EXPECT_TRUE(NoisyFockState(FockState(3)).split_state().empty());
    EXPECT_EQ(noisy({1, 0, 2}, {0, 0, 1}).split_state(),
              (std::map<unsigned char, FockState>{{0, fs({1, 0, 1})}, {1, fs({0, 0, 1})}}));
}

// Every operation against the same operation done on per-mode tag lists.
TEST(NoisyFockStateOperations, MatchModelReferences) {
    const std::vector<Modes> models = random_models(11, 80);
    std::mt19937 rng(5);
    for (std::size_t i = 0; i < models.size(); ++i) {
        const Modes& a = models[i];
        const NoisyFockState s = from_model(a);
        SCOPED_TRACE(s.to_str());
        const int m = s.m();

        Modes b = models[(i * 7 + 3) % models.size()];
        Modes product = a;
        product.insert(product.end(), b.begin(), b.end());
        EXPECT_EQ(to_model(s * from_model(b)), product);
        NoisyFockState in_place = s;
        in_place *= from_model(b);
        EXPECT_EQ(to_model(in_place), product);
        EXPECT_EQ(in_place, from_model(product));

        for (unsigned k : {0u, 1u, 3u}) {
            Modes power;
            for (unsigned j = 0; j < k; ++j) power.insert(power.end(), a.begin(), a.end());
            EXPECT_EQ(to_model(s.pow(k)), power) << k;
        }

        b.resize(a.size(), Tags{0, 2});
        Modes merged = a;
        for (std::size_t k = 0; k < a.size(); ++k) {
            merged[k].insert(merged[k].end(), b[k].begin(), b[k].end());
            std::sort(merged[k].begin(), merged[k].end());
        }
        EXPECT_EQ(s.merge(from_model(b)), from_model(merged));
        EXPECT_EQ(from_model(b).merge(s), from_model(merged));

        std::map<unsigned char, Counts> batches;
        for (int k = 0; k < m; ++k)
            for (unsigned char t : a[k]) {
                batches.try_emplace(t, Counts(static_cast<std::size_t>(m), 0));
                ++batches[t][static_cast<std::size_t>(k)];
            }
        std::vector<FockState> separated;
        for (const auto& [tag, counts] : batches) {
            EXPECT_EQ(s.split_state().at(tag), fs(counts));
            separated.push_back(fs(counts));
        }
        EXPECT_EQ(s.split_state().size(), batches.size());
        if (separated.empty()) separated.push_back(FockState(m));
        EXPECT_EQ(s.separate_state(), separated);

        std::uniform_int_distribution<int> bound(-m - 1, m + 1);
        for (int trial = 0; trial < 4; ++trial) {
            int start = bound(rng), end = bound(rng);
            const int step = 1 + trial % 3;
            const int raw_start = start, raw_end = end;
            normalise(start, end, m);
            Modes sliced;
            for (int k = start; k < end; k += step)
                sliced.push_back(a[static_cast<std::size_t>(k)]);
            EXPECT_EQ(to_model(s.slice(raw_start, raw_end, step)), sliced)
                << raw_start << ":" << raw_end << ":" << step;

            int checked_start = raw_start, checked_end = raw_end;
            s.check_slice(checked_start, checked_end);
            EXPECT_EQ(std::make_pair(checked_start, checked_end), std::make_pair(start, end));

            if (start > end) continue;
            Modes other(static_cast<std::size_t>(end - start), Tags{3, 3});
            if (!other.empty()) other.front() = Tags{};
            Modes replaced = a;
            std::copy(other.begin(), other.end(), replaced.begin() + start);
            EXPECT_EQ(to_model(s.set_slice(from_model(other), raw_start, raw_end)), replaced)
                << raw_start << ":" << raw_end;
        }

        if (m > 0) {
            std::vector<unsigned char> listed{static_cast<unsigned char>(m - 1), 0,
                                              static_cast<unsigned char>(m / 2), 0};
            Modes kept;
            for (int k = 0; k < m; ++k)
                if (std::find(listed.begin(), listed.end(), k) == listed.end())
                    kept.push_back(a[static_cast<std::size_t>(k)]);
            EXPECT_EQ(to_model(s.remove_modes(listed)), kept);
        }
        EXPECT_EQ(s.remove_modes({}), s);
    }
}

TEST(NoisyFockStateOperations, WorkedExamples) {
    EXPECT_EQ(noisy({1}, {0}).merge(noisy({1}, {1})).to_str(), "|{0}{1}>");
    EXPECT_EQ(noisy({1}, {1}).merge(noisy({1}, {0})).to_str(), "|{0}{1}>");
    EXPECT_EQ((noisy({1, 1}, {0, 1}) * noisy({1}, {2})).to_str(), "|{0},{1},{2}>");
    EXPECT_EQ(noisy({1}, {3}).pow(2).to_str(), "|{3},{3}>");
    EXPECT_EQ(noisy({1}, {3}).pow(0).to_str(), "|>");
    const NoisyFockState s = noisy({1, 1, 1}, {1, 2, 3});
    EXPECT_EQ(s.remove_modes({0, 0}).to_str(), "|{2},{3}>");
    EXPECT_EQ(s.slice(1, 3, 1).to_str(), "|{2},{3}>");
    EXPECT_EQ(s.set_slice(noisy({1}, {7}), 0, 1).to_str(), "|{7},{2},{3}>");
    EXPECT_EQ(s.slice(2, 1, 1), NoisyFockState());
    // An empty range takes a state of 0 modes and changes nothing.
    EXPECT_EQ(s.set_slice(NoisyFockState(), 1, 1), s);
}

TEST(NoisyFockStateOperations, Errors) {
    const NoisyFockState s = noisy({1, 1, 1}, {1, 2, 3});
    expect_throw_message<std::runtime_error>([&] { s.merge(noisy({1}, {0})); },
                                             "Cannot merge fock states of different length");
    expect_throw_message<std::invalid_argument>([&] { s.set_slice(noisy({1}, {0}), 0, 2); },
                                                "invalid NoisyFockState to replace in slice");
    expect_throw_message<std::invalid_argument>([&] { s.set_slice(NoisyFockState(), 2, 1); },
                                                "invalid NoisyFockState to replace in slice");
    expect_throw_message<std::runtime_error>(
        [&] {
            s.remove_modes({1, 3});
        },
        "Mode index to remove out of bound");
    for (int step : {0, -1}) {
        EXPECT_THROW(s.slice(0, 3, step), std::invalid_argument) << step;
        EXPECT_THROW(s.slice(2, 0, step), std::invalid_argument) << step;
    }
}

TEST(NoisyFockStateOperations, ResultsAreCappedAt8191Photons) {
    const NoisyFockState full(FockState(1, 256), Tags(256, 5), true);
    const NoisyFockState big = full.pow(31);  // 7936 photons
    const std::string limit = "Fock state code is capped to 8191 photons";
    expect_throw_message<std::runtime_error>([&] { full.pow(32); }, limit);
    expect_throw_message<std::runtime_error>([&] { (void)(big * full); }, limit);
    expect_throw_message<std::runtime_error>([&] { big.merge(big); }, limit);
    expect_throw_message<std::runtime_error>(
        [&] { (big * NoisyFockState(FockState(1))).set_slice(full.pow(2), 30, 32); }, limit);
    // The largest code is still built, and mode removal has no per-mode limit.
    EXPECT_EQ((big * NoisyFockState(FockState(1, 255))).n(), 8191);
    const NoisyFockState removed = big.remove_modes({0});
    EXPECT_EQ(removed.n(), 7680);
    EXPECT_EQ(removed.get_mode_annotations(29), Tags(256, 5));
}

TEST(NoisyFockStateOperations, FailedInPlaceProductLeavesTheStateUnchanged) {
    const NoisyFockState full(FockState(1, 256), Tags(256, 5), true);
    NoisyFockState big = full.pow(31);
    const NoisyFockState before = big;
    const unsigned char* tags = big.tags();
    EXPECT_THROW(big *= full, std::runtime_error);
    EXPECT_EQ(big, before);
    EXPECT_EQ(big.tags(), tags);

    NoisyFockState wide(FockState(std::vector<int>(200, 1)));
    const NoisyFockState wide_before = wide;
    const unsigned char* wide_tags = wide.tags();
    expect_throw_message<std::runtime_error>([&] { wide *= wide_before; },
                                             "Fock state size is capped from 0 to 256 modes");
    EXPECT_EQ(wide, wide_before);
    EXPECT_EQ(wide.tags(), wide_tags);
}

TEST(NoisyFockStateOperations, InPlaceProductWithItself) {
    NoisyFockState s = noisy({2, 1}, {4, 1, 0});
    s *= s;
    EXPECT_EQ(s.to_str(), "|{1}{4},{0},{1}{4},{0}>");
}
