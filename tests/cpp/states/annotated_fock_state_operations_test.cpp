#include <algorithm>
#include <array>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "states/annotated_fock_state.h"

namespace {

using Counts = std::vector<int>;

using test_support::expect_throw_message;

AnnotatedFockState text(const std::string& s) {
    return AnnotatedFockState(s);
}

// Reference model: per mode, its plain photons and, when the mode has an entry, the annotation
// text of each annotated photon.
struct Mode {
    int plain = 0;
    std::optional<std::vector<std::string>> texts;
    int photons() const { return plain + (texts ? static_cast<int>(texts->size()) : 0); }
};
using Model = std::vector<Mode>;

AnnotatedFockState build(const Model& model) {
    std::vector<int> counts;
    std::map<int, std::list<std::string>> annotations;
    for (std::size_t k = 0; k < model.size(); ++k) {
        counts.push_back(model[k].photons());
        if (model[k].texts)
            annotations[static_cast<int>(k)] = {model[k].texts->begin(), model[k].texts->end()};
    }
    return AnnotatedFockState(counts, annotations);
}

// A result without photons keeps no entry.
Model photons_or_vacuum(Model model) {
    int photons = 0;
    for (const Mode& mode : model) photons += mode.photons();
    if (photons == 0)
        for (Mode& mode : model) mode.texts.reset();
    return model;
}

Model random_model(std::mt19937& rng) {
    static const std::vector<std::string> pool{"a:0", "a:1", "b:0", "P:H", ""};
    auto draw = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    Model model(static_cast<std::size_t>(draw(0, 4)));
    for (Mode& mode : model) {
        mode.plain = draw(0, 2);
        if (draw(0, 2) == 0) continue;
        mode.texts.emplace();
        for (int i = draw(0, 3); i > 0; --i)
            mode.texts->push_back(pool[static_cast<std::size_t>(draw(0, 4))]);
        // A photon-free mode keeps no entry.
        if (mode.photons() == 0) mode.texts.reset();
    }
    return model;
}

void normalise(int m, int& start, int& end) {
    if (start < 0) start = std::max(start + m, 0);
    if (end < 0) end += m;
    end = std::clamp(end, 0, m);
}

// Every operation against the same operation on the model, on random states.
TEST(AnnotatedFockStateOperations, MatchModelReferences) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 150; ++trial) {
        const Model a = random_model(rng), b = random_model(rng);
        const AnnotatedFockState sa = build(a), sb = build(b);
        SCOPED_TRACE(sa.to_str() + " " + sb.to_str());
        const int m = static_cast<int>(a.size());

        for (int start = -m - 1; start <= m + 1; ++start)
            for (int end = -m - 1; end <= m + 1; ++end)
                for (int step : {1, 2, 3}) {
                    int from = start, to = end;
                    normalise(m, from, to);
                    Model sliced;
                    for (int k = from; k < to; k += step)
                        sliced.push_back(a[static_cast<std::size_t>(k)]);
                    EXPECT_EQ(sa.slice(start, end, step), build(photons_or_vacuum(sliced)))
                        << start << ":" << end << ":" << step;
                }

        for (int start = 0; start <= m; ++start) {
            const int end = start + static_cast<int>(b.size());
            if (end > m) break;
            Model replaced(a.begin(), a.begin() + start);
            replaced.insert(replaced.end(), b.begin(), b.end());
            replaced.insert(replaced.end(), a.begin() + end, a.end());
            EXPECT_EQ(sa.set_slice(sb, start, end), build(photons_or_vacuum(replaced))) << start;
        }

        for (unsigned char removed = 0; removed < m; ++removed) {
            const std::vector<unsigned char> modes{removed, static_cast<unsigned char>(m - 1),
                                                   removed};
            Model kept;
            for (int k = 0; k < m; ++k)
                if (k != removed && k != m - 1) kept.push_back(a[static_cast<std::size_t>(k)]);
            EXPECT_EQ(sa.remove_modes(modes), build(kept)) << int(removed);
        }

        Model product = a;
        product.insert(product.end(), b.begin(), b.end());
        EXPECT_EQ(sa * sb, build(product));
        AnnotatedFockState in_place = sa;
        in_place *= sb;
        EXPECT_EQ(in_place, build(product));

        for (unsigned k : {0u, 1u, 3u}) {
            Model power;
            for (unsigned i = 0; i < k; ++i) power.insert(power.end(), a.begin(), a.end());
            EXPECT_EQ(sa.pow(k), build(power)) << k;
        }

        if (a.size() == b.size()) {
            Model merged = a;
            for (std::size_t k = 0; k < a.size(); ++k) {
                merged[k].plain += b[k].plain;
                if (!b[k].texts) continue;
                if (!merged[k].texts) merged[k].texts.emplace();
                merged[k].texts->insert(merged[k].texts->end(), b[k].texts->begin(),
                                        b[k].texts->end());
            }
            EXPECT_EQ(sa.merge(sb), build(merged));
        }
    }
}

struct OperationCase {
    std::string name;
    std::function<AnnotatedFockState()> result;
    std::string expected;
};

class AnnotatedFockStateOperationCase : public testing::TestWithParam<OperationCase> {};

TEST_P(AnnotatedFockStateOperationCase, Prints) {
    EXPECT_EQ(GetParam().result().to_str(), GetParam().expected);
}

const AnnotatedFockState four = text("|{a:0},{b:1},0,{c:2}>");
const AnnotatedFockState three = text("|{a:0},{b:1},{c:2}>");

INSTANTIATE_TEST_SUITE_P(
    Cases, AnnotatedFockStateOperationCase,
    testing::Values(
        OperationCase{"SliceMiddle", [] { return four.slice(1, 3, 1); }, "|{b:1},0>"},
        OperationCase{"SliceFromEnd", [] { return four.slice(-2, 4, 1); }, "|0,{c:2}>"},
        OperationCase{"SliceStep", [] { return four.slice(0, 4, 2); }, "|{a:0},0>"},
        OperationCase{"SliceStepFromOne", [] { return four.slice(1, 4, 2); }, "|{b:1},{c:2}>"},
        OperationCase{"SliceWithoutPhotons", [] { return four.slice(2, 3, 1); }, "|0>"},
        OperationCase{"SliceEmptyRange", [] { return four.slice(3, 1, 1); }, "|>"},
        OperationCase{"SetSlice",
                      [] { return text("|{a:0},{b:1},0>").set_slice(text("|{c:2}>"), 1, 2); },
                      "|{a:0},{c:2},0>"},
        OperationCase{"SetSliceToVacuum",
                      [] { return text("|{a:0},0>").set_slice(AnnotatedFockState(1), 0, 1); },
                      "|0,0>"},
        OperationCase{"SetSliceNegativeBounds",
                      [] { return four.set_slice(text("|2{d:0}>"), -1, 4); },
                      "|{a:0},{b:1},0,2{d:0}>"},
        OperationCase{"SetSliceReversedRange",
                      [] { return four.set_slice(AnnotatedFockState(), 3, 1); },
                      "|{a:0},{b:1},0,{c:2}>"},
        OperationCase{"RemoveOne", [] { return three.remove_modes({1}); }, "|{a:0},{c:2}>"},
        OperationCase{"RemoveRepeated",
                      [] {
                          return three.remove_modes({2, 0, 2});
                      },
                      "|{b:1}>"},
        OperationCase{"RemoveNone", [] { return three.remove_modes({}); }, "|{a:0},{b:1},{c:2}>"},
        OperationCase{"Product", [] { return text("|{a:0},1>") * text("|{b:1}>"); },
                      "|{a:0},1,{b:1}>"},
        OperationCase{"ProductWithItself",
                      [] {
                          AnnotatedFockState s = text("|{a:0},1>");
                          s *= s;
                          return s;
                      },
                      "|{a:0},1,{a:0},1>"},
        OperationCase{"Power", [] { return text("|{a:0},1>").pow(2); }, "|{a:0},1,{a:0},1>"},
        OperationCase{"PowerZero", [] { return text("|{a:0},1>").pow(0); }, "|>"},
        OperationCase{"MergeWithItself", [] { return text("|{a:0}>").merge(text("|{a:0}>")); },
                      "|2{a:0}>"},
        OperationCase{"MergeInTextOrder", [] { return text("|{b:0}>").merge(text("|{a:0}>")); },
                      "|{a:0}{b:0}>"},
        OperationCase{"MergeBetweenRuns",
                      [] { return text("|{a:0}{c:0}>").merge(text("|2{b:0}>")); },
                      "|{a:0}2{b:0}{c:0}>"},
        OperationCase{"MergePlainPhoton",
                      [] { return text("|{a:0}>").merge(AnnotatedFockState(Counts{1})); },
                      "|{a:0}1>"},
        // Runs merge on equal values: -0 and 0 are the same value.
        OperationCase{"MergeEqualValues", [] { return text("|{a:0}>").merge(text("|{a:-0}>")); },
                      "|2{a:0}>"}),
    [](const testing::TestParamInfo<OperationCase>& info) { return info.param.name; });

TEST(AnnotatedFockStateOperations, EmptySelectionsDropEntries) {
    const AnnotatedFockState s({1, 0, 0}, {{1, {}}, {2, {}}});
    EXPECT_EQ(s.slice(1, 3, 1), AnnotatedFockState(2));
    EXPECT_EQ(AnnotatedFockState({1, 0}, {{1, {}}}).set_slice(AnnotatedFockState(1), 0, 1),
              AnnotatedFockState(2));
    // An empty range replaces nothing.
    EXPECT_EQ(s.set_slice(AnnotatedFockState(), 2, 1), s);
    EXPECT_EQ(s.slice(0, 3, 1), s);
}

TEST(AnnotatedFockStateOperations, Errors) {
    expect_throw_message<std::invalid_argument>(
        [] { text("|{a:0},{b:1},0>").set_slice(text("|0,0>"), 1, 2); },
        "invalid FockState to replace in slice");
    expect_throw_message<std::invalid_argument>(
        [] { three.set_slice(AnnotatedFockState(1), 2, 1); },
        "invalid FockState to replace in slice");
    expect_throw_message<std::runtime_error>([] { three.remove_modes({3}); },
                                             "Mode index to remove out of bound");
    expect_throw_message<std::runtime_error>([] { three.merge(text("|{a:0},0>")); },
                                             "Cannot merge fock states of different length");
    for (int step : {0, -1}) {
        expect_throw_message<std::invalid_argument>([&] { four.slice(0, 2, step); },
                                                    "slice step must be positive");
        int start = 0, end = 2, size, count;
        EXPECT_THROW(four._check_slice(start, end, step, size, count), std::invalid_argument);
    }
    // Empty ranges too: a reversed Python slice (here [::-1] of 4 modes) is no empty slice.
    for (const auto& [start, end, step] : {std::array{3, -1, -1}, {2, 1, 0}, {2, 2, -1}})
        expect_throw_message<std::invalid_argument>([&] { four.slice(start, end, step); },
                                                    "slice step must be positive");
}

TEST(AnnotatedFockStateOperations, CheckSliceNormalisesAndCounts) {
    int start = -2, end = 10, size, count;
    four._check_slice(start, end, 1, size, count);
    EXPECT_EQ(std::vector<int>({start, end, size, count}), std::vector<int>({2, 4, 2, 1}));
    start = -9, end = -1;
    four._check_slice(start, end, 2, size, count);
    EXPECT_EQ(std::vector<int>({start, end, size, count}), std::vector<int>({0, 3, 2, 1}));
    start = 7, end = 2;
    four._check_slice(start, end, 1, size, count);
    EXPECT_EQ(std::vector<int>({start, end, size, count}), std::vector<int>({7, 2, 0, 0}));
}

TEST(AnnotatedFockStateOperations, FailedProductChangesNothing) {
    AnnotatedFockState s({200}, {{0, {"a:0"}}});
    const AnnotatedFockState before = s;
    EXPECT_THROW(s *= AnnotatedFockState(256), std::runtime_error);
    EXPECT_EQ(s, before);
    AnnotatedFockState big = text("|200{a:0}>").pow(40);
    EXPECT_EQ(big.n(), 8000);
    EXPECT_THROW(big *= text("|200{a:0}>"), std::runtime_error);
    EXPECT_EQ(big, text("|200{a:0}>").pow(40));
    EXPECT_THROW(big.merge(big), std::runtime_error);
}

}  // namespace
