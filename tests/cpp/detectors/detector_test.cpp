#include <chrono>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "detectors/a_detector.h"
#include "detectors/bs_layered_detector.h"
#include "detectors/ppnr_detector.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "runtime/rng.h"
#include "test_support.h"

namespace {

using Detector::ADetector;
using Detector::BSLayeredDetector;
using Detector::PPNRDetector;
using Table = std::vector<double>;

struct TableCase {
    const char* label;
    std::function<std::shared_ptr<ADetector>()> make;
    int behaviour;
    int n;
    Table expected;
};

void PrintTo(const TableCase& c, std::ostream* os) {
    *os << c.label;
}

std::shared_ptr<ADetector> ppnr(int wires, int cap, double eta) {
    return std::make_shared<PPNRDetector>(wires, cap, eta, "d");
}

std::shared_ptr<ADetector> layered(int layers, double r) {
    return std::make_shared<BSLayeredDetector>(layers, r, "d");
}

class DetectorTable : public testing::TestWithParam<TableCase> {};

TEST_P(DetectorTable, GivesTheDistributionOfItsModel) {
    const TableCase& c = GetParam();
    const auto detector = c.make();
    EXPECT_EQ(detector->behaviour(), c.behaviour);
    const Table& p = detector->detect(c.n);
    ASSERT_EQ(p.size(), c.expected.size());
    for (std::size_t k = 0; k < p.size(); ++k) EXPECT_NEAR(p[k], c.expected[k], 1e-15) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Models, DetectorTable,
    testing::Values(
        TableCase{"perfect", [] { return ppnr(0, 0, 1.0); }, 0, 3, {0, 0, 0, 1}},
        TableCase{"threshold", [] { return ppnr(0, 1, 1.0); }, 1, 5, {0, 1, 0, 0, 0, 0}},
        TableCase{"threshold_wires", [] { return ppnr(4, 1, 1.0); }, 1, 5, {0, 1, 0, 0, 0, 0}},
        TableCase{"capped", [] { return ppnr(0, 3, 1.0); }, 2, 7, {0, 0, 0, 1, 0, 0, 0, 0}},
        TableCase{"capped_below", [] { return ppnr(0, 3, 1.0); }, 2, 2, {0, 0, 1}},
        TableCase{"lossy", [] { return ppnr(0, 0, 0.5); }, 3, 2, {0.25, 0.5, 0.25}},
        TableCase{"lossy_empty", [] { return ppnr(0, 0, 0.5); }, 3, 0, {1}},
        TableCase{"two_wires", [] { return ppnr(2, 0, 1.0); }, 3, 2, {0, 0.5, 0.5}},
        TableCase{
            "two_wires_three_photons", [] { return ppnr(2, 0, 1.0); }, 3, 3, {0, 0.25, 0.75, 0}},
        TableCase{"two_wires_one_photon", [] { return ppnr(2, 0, 1.0); }, 3, 1, {0, 1}},
        TableCase{"lossy_capped", [] { return ppnr(0, 2, 0.5); }, 3, 3, {0.125, 0.375, 0.5, 0}},
        TableCase{"blind", [] { return ppnr(0, 0, 0.0); }, 3, 2, {1, 0, 0}},
        TableCase{"layered_one_way", [] { return layered(1, 1.0); }, 3, 3, {0, 1, 0, 0}},
        TableCase{"one_layer", [] { return layered(1, 0.5); }, 3, 2, {0, 0.5, 0.5}},
        TableCase{"two_layers", [] { return layered(2, 0.5); }, 3, 2, {0, 0.25, 0.75}},
        TableCase{"no_layer", [] { return layered(0, 0.3); }, 3, 4, {0, 1, 0, 0, 0}},
        TableCase{"layered_one_photon", [] { return layered(3, 0.2); }, 3, 1, {0, 1}}),
    [](const testing::TestParamInfo<TableCase>& info) { return std::string(info.param.label); });

// Every photon independently lost (1 − η) or on one of the W wires (η/W each); the reading is
// the number of wires hit, capped. All (W + 1)^n outcomes, no recurrence.
Table brute_force_wires(int wires, int cap, double eta, int n) {
    Table p(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<int> choice(static_cast<std::size_t>(n), 0);
    while (true) {
        double weight = 1.0;
        std::vector<bool> lit(static_cast<std::size_t>(wires), false);
        for (const int c : choice) {
            weight *= c == wires ? 1.0 - eta : eta / wires;
            if (c < wires) lit[static_cast<std::size_t>(c)] = true;
        }
        int k = 0;
        for (const bool l : lit) k += l;
        if (cap != 0 && k > cap) k = cap;
        p[static_cast<std::size_t>(k)] += weight;
        std::size_t i = 0;
        while (i < choice.size() && ++choice[i] > wires) choice[i++] = 0;
        if (i == choice.size()) break;
    }
    return p;
}

// Each photon takes the first output of each of its L beam splitters with probability R: one
// counter of 2^L per photon, all (2^L)^n outcomes.
Table brute_force_layers(int layers, double r, int n) {
    const int counters = 1 << layers;
    Table p(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<int> choice(static_cast<std::size_t>(n), 0);
    while (true) {
        double weight = 1.0;
        std::vector<bool> lit(static_cast<std::size_t>(counters), false);
        for (const int c : choice) {
            for (int bit = 0; bit < layers; ++bit) weight *= (c >> bit) & 1 ? 1.0 - r : r;
            lit[static_cast<std::size_t>(c)] = true;
        }
        int k = 0;
        for (const bool l : lit) k += l;
        p[static_cast<std::size_t>(k)] += weight;
        std::size_t i = 0;
        while (i < choice.size() && ++choice[i] >= counters) choice[i++] = 0;
        if (i == choice.size()) break;
    }
    return p;
}

struct ModelCase {
    int a;  // wires or layers
    int cap;
    double x;  // efficiency or reflectivity
    int n;
};

class WireModel : public testing::TestWithParam<ModelCase> {};

TEST_P(WireModel, MatchesEveryOutcomeCounted) {
    const auto [wires, cap, eta, n] = GetParam();
    PPNRDetector detector(wires, cap, eta, "");
    const Table expected = brute_force_wires(wires, cap, eta, n);
    const Table& p = detector.detect(n);
    ASSERT_EQ(p.size(), expected.size());
    for (std::size_t k = 0; k < p.size(); ++k)
        EXPECT_NEAR(p[k], expected[k] > 1e-16 ? expected[k] : 0.0, 1e-12) << k;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, WireModel,
                         testing::Values(ModelCase{1, 0, 0.7, 4}, ModelCase{2, 0, 0.9, 5},
                                         ModelCase{3, 0, 0.6, 6}, ModelCase{3, 2, 0.8, 6},
                                         ModelCase{4, 0, 1.0, 5}, ModelCase{5, 3, 0.35, 5}));

class LayerModel : public testing::TestWithParam<ModelCase> {};

TEST_P(LayerModel, MatchesEveryOutcomeCounted) {
    const auto [layers, unused, r, n] = GetParam();
    BSLayeredDetector detector(layers, r, "");
    const Table expected = brute_force_layers(layers, r, n);
    const Table& p = detector.detect(n);
    ASSERT_EQ(p.size(), expected.size());
    for (std::size_t k = 0; k < p.size(); ++k) EXPECT_NEAR(p[k], expected[k], 1e-12) << k;
}

INSTANTIATE_TEST_SUITE_P(Outcomes, LayerModel,
                         testing::Values(ModelCase{1, 0, 0.3, 4}, ModelCase{2, 0, 0.5, 3},
                                         ModelCase{2, 0, 0.8, 5}, ModelCase{3, 0, 0.4, 4},
                                         ModelCase{3, 0, 1.0, 3}));

// The recurrence exactly as its formula reads, two calls per level.
double recursive_wires(int k, int n, int wires, double eta) {
    if (k == 0) return std::pow(1 - eta, n);
    if (k > n) return 0;
    const double a = recursive_wires(k - 1, n - 1, wires, eta);
    const double b = recursive_wires(k, n - 1, wires, eta);
    return (k * eta / wires + (1 - eta)) * b + (wires - k + 1) * a * eta / wires;
}

TEST(PPNRDetector, WalksTheWireRecurrenceToTheSameBits) {
    PPNRDetector detector(3, 0, 0.85, "");
    for (int n = 0; n <= 14; ++n)
        for (int k = 0; k <= n + 1; ++k)
            EXPECT_EQ(detector.conditional_probability(k, n), recursive_wires(k, n, 3, 0.85))
                << k << "|" << n;
}

TEST(PPNRDetector, BinomialWithoutWires) {
    PPNRDetector detector(0, 0, 0.3, "");
    EXPECT_DOUBLE_EQ(detector.conditional_probability(2, 5), 10 * 0.09 * std::pow(0.7, 3));
    EXPECT_EQ(detector.conditional_probability(6, 5), 0.0);
    // Past n = 61 the coefficient leaves 64 bits; the distribution still sums to 1.
    const Table& p = detector.detect(400);
    double total = 0;
    for (const double v : p) total += v;
    EXPECT_NEAR(total, 1.0, 1e-9);
    const double reference = std::exp(std::lgamma(401.0) - std::lgamma(121.0) - std::lgamma(281.0) +
                                      120 * std::log(0.3) + 280 * std::log(0.7));
    EXPECT_NEAR(p[120] / reference, 1.0, 1e-9);
}

TEST(PPNRDetector, ManyPhotonsOnWiresTakeNoExponentialTime) {
    PPNRDetector detector(4, 0, 0.9, "");
    const auto start = std::chrono::steady_clock::now();
    const Table& p = detector.detect(300);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    double total = 0;
    for (const double v : p) total += v;
    EXPECT_NEAR(total, 1.0, 1e-12);
    for (std::size_t k = 5; k < p.size(); ++k) EXPECT_EQ(p[k], 0.0) << k;
}

TEST(PPNRDetector, RefusesNegativeSettings) {
    EXPECT_THROW(PPNRDetector(-1, 0, 1.0, ""), std::invalid_argument);
    EXPECT_THROW(PPNRDetector(0, -2, 1.0, ""), std::invalid_argument);
}

// Values outside [0, 1] would give readings whose "probabilities" exceed 1 or go negative.
struct RefusedCase {
    const char* label;
    std::function<void()> make;
    const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.label;
}

class RefusedProbability : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedProbability, NamesTheValue) {
    test_support::expect_throw_message<std::invalid_argument>(GetParam().make, GetParam().message);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Settings, RefusedProbability,
    testing::Values(RefusedCase{"efficiency_above", [] { ppnr(0, 0, 2.0); },
                                "PPNRDetector needs a wire efficiency in [0, 1], got 2"},
                    RefusedCase{"efficiency_negative", [] { ppnr(3, 1, -1.0); },
                                "PPNRDetector needs a wire efficiency in [0, 1], got -1"},
                    RefusedCase{"efficiency_nan", [] { ppnr(0, 0, std::nan("")); },
                                "PPNRDetector needs a wire efficiency in [0, 1], got nan"},
                    RefusedCase{"efficiency_infinite", [] { ppnr(0, 2, inf); },
                                "PPNRDetector needs a wire efficiency in [0, 1], got inf"},
                    RefusedCase{
                        "efficiency_just_above", [] { ppnr(0, 0, std::nextafter(1.0, 2.0)); },
                        "PPNRDetector needs a wire efficiency in [0, 1], got 1.0000000000000002"},
                    RefusedCase{"reflectivity_above", [] { layered(1, 2.0); },
                                "BSLayeredDetector needs a reflectivity in [0, 1], got 2"},
                    RefusedCase{"reflectivity_negative", [] { layered(2, -0.1); },
                                "BSLayeredDetector needs a reflectivity in [0, 1], got -0.1"},
                    RefusedCase{"reflectivity_nan", [] { layered(0, std::nan("")); },
                                "BSLayeredDetector needs a reflectivity in [0, 1], got nan"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.label); });

TEST(BSLayeredDetector, RefusesLayerCountsWithoutFockStates) {
    EXPECT_THROW(BSLayeredDetector(-1, 0.5, ""), std::invalid_argument);
    EXPECT_THROW(BSLayeredDetector(9, 0.5, ""), std::invalid_argument);
    // 256 counters, the most a Fock state holds.
    const BSLayeredDetector widest(8, 0.5, "");
    const Table& p = widest.detect(2);
    EXPECT_NEAR(p[1], 1.0 / 256, 1e-15);
    EXPECT_NEAR(p[2], 255.0 / 256, 1e-15);
}

TEST(BSLayeredDetector, MorePhotonsThanAFockStateHoldsLeaveTheCacheUntouched) {
    BSLayeredDetector detector(1, 0.5, "");
    test_support::expect_throw_message<std::runtime_error>(
        [&] { detector.detect(257); }, "Fock state number of photons is capped to 256");
    EXPECT_EQ(detector.detect(2), (Table{0, 0.5, 0.5}));
    test_support::expect_throw_message<std::runtime_error>(
        [&] { detector.detect(300); }, "Fock state number of photons is capped to 256");
}

TEST(BSLayeredDetector, CtrlCEndsTheLayersAndLeavesTheCacheUntouched) {
    BSLayeredDetector detector(8, 0.5, "");
    {
        test_support::CtrlC ctrl_c;
        test_support::expect_throw_message<KeyboardInterruptException>(
            [&] { detector.detect(3); }, "Process interrupted by user.");
    }
    EXPECT_NEAR(detector.detect(2)[2], 255.0 / 256, 1e-15);
}

TEST(BSLayeredDetector, ALastLayerBeyondMemoryIsRefusedUnlessTheSplittersKeepPhotonsTogether) {
    // C(261, 6) states of 6 photons over 256 modes.
    const BSLayeredDetector half(8, 0.5, "");
    try {
        half.detect(6);
        ADD_FAILURE() << "not refused";
    } catch (std::length_error const& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind(
                "The 4.14e+11 states of 6 photons behind 8 beam-splitter layers need about", 0),
            0u)
            << e.what();
    }
    EXPECT_EQ(half.detect(1), (Table{0, 1}));
    // A splitter that reflects everything keeps the photons in one mode.
    EXPECT_EQ(BSLayeredDetector(8, 1.0, "").detect(6), (Table{0, 1, 0, 0, 0, 0, 0}));
}

TEST(ADetector, RefusesNegativePhotonCounts) {
    for (const auto& detector : {ppnr(0, 0, 0.5), layered(1, 0.5)}) {
        EXPECT_THROW(detector->detect(-1), std::invalid_argument);
        EXPECT_THROW(detector->sample(-1), std::invalid_argument);
    }
}

TEST(ADetector, KeepsHandedOutDistributionsInPlace) {
    for (const auto& detector : {ppnr(2, 0, 0.8), layered(2, 0.5)}) {
        const Table& three = detector->detect(3);
        const Table copy = three;
        const Table* address = &three;
        for (int n = 4; n < 40; ++n) detector->detect(n);
        EXPECT_EQ(&detector->detect(3), address);
        EXPECT_EQ(three, copy);
    }
}

TEST(ADetector, CloneCopiesFieldsAndCacheThenOwnsItsOwn) {
    const auto detector = std::make_shared<PPNRDetector>(2, 3, 0.75, "name");
    const Table four = detector->detect(4);
    const auto copy = detector->clone();
    const auto* wired = dynamic_cast<const PPNRDetector*>(copy.get());
    ASSERT_NE(wired, nullptr);
    EXPECT_EQ(wired->n_wires(), 2);
    EXPECT_EQ(wired->max_detections(), 3);
    EXPECT_EQ(copy->efficiency(), 0.75);
    EXPECT_EQ(copy->get_name(), "name");
    EXPECT_EQ(copy->behaviour(), 3);
    EXPECT_EQ(copy->detect(4), four);
    EXPECT_NE(&copy->detect(4), &detector->detect(4));

    const auto layers = std::make_shared<BSLayeredDetector>(2, 0.25, "l")->clone();
    const auto* split = dynamic_cast<const BSLayeredDetector*>(layers.get());
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->bs_layers(), 2);
    EXPECT_EQ(split->reflectivity(), 0.25);
    EXPECT_EQ(layers->efficiency(), 1.0);
}

struct Visits : Detector::IDetectorVisitor {
    std::string seen;
    void visit(const PPNRDetector&) override { seen += "P"; }
    void visit(const BSLayeredDetector&) override { seen += "B"; }
};

TEST(ADetector, AcceptCallsTheVisitOfItsClass) {
    Visits visits;
    ppnr(0, 0, 1.0)->accept(visits);
    layered(1, 0.5)->accept(visits);
    EXPECT_EQ(visits.seen, "PB");
}

struct SampleCase {
    const char* label;
    std::function<std::shared_ptr<ADetector>()> make;
    int n;
    int reading;
};

void PrintTo(const SampleCase& c, std::ostream* os) {
    *os << c.label;
}

class CertainReading : public testing::TestWithParam<SampleCase> {};

TEST_P(CertainReading, IsReturnedWithoutADraw) {
    const SampleCase& c = GetParam();
    const auto detector = c.make();
    ASSERT_TRUE(detector->is_deterministic(c.n));
    RNG::rng.seed(3);
    const std::mt19937 before = RNG::rng;
    EXPECT_EQ(detector->sample(c.n), c.reading);
    EXPECT_EQ(RNG::rng, before);
    EXPECT_EQ(detector->detect(c.n)[static_cast<std::size_t>(c.reading)], 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Models, CertainReading,
    testing::Values(SampleCase{"perfect", [] { return ppnr(0, 0, 1.0); }, 3, 3},
                    SampleCase{"threshold", [] { return ppnr(4, 1, 1.0); }, 5, 1},
                    SampleCase{"capped_below", [] { return ppnr(0, 3, 1.0); }, 2, 2},
                    SampleCase{"capped_above", [] { return ppnr(0, 3, 1.0); }, 7, 3},
                    SampleCase{"lossy_empty", [] { return ppnr(0, 0, 0.5); }, 0, 0},
                    SampleCase{"wire_single", [] { return ppnr(2, 0, 1.0); }, 1, 1},
                    SampleCase{"layered_empty", [] { return layered(1, 0.5); }, 0, 0},
                    SampleCase{"layered_single", [] { return layered(1, 0.5); }, 1, 1}),
    [](const testing::TestParamInfo<SampleCase>& info) { return std::string(info.param.label); });

TEST(ADetector, DrawsAsTheStandardDiscreteDistribution) {
    for (const auto& detector : {ppnr(3, 0, 0.7), ppnr(0, 2, 0.5), layered(2, 0.3)}) {
        ASSERT_FALSE(detector->is_deterministic(4));
        const Table& p = detector->detect(4);
        RNG::rng.seed(77);
        std::mt19937 reference(77);
        std::discrete_distribution<int> distribution(p.begin(), p.end());
        for (int i = 0; i < 2000; ++i) ASSERT_EQ(detector->sample(4), distribution(reference)) << i;
        EXPECT_EQ(RNG::rng, reference);
    }
}

TEST(ADetector, SampleFrequenciesFollowTheDistribution) {
    const auto detector = ppnr(2, 0, 0.6);
    const Table& p = detector->detect(3);
    RNG::rng.seed(11);
    const int draws = 40000;
    std::vector<int> seen(p.size(), 0);
    for (int i = 0; i < draws; ++i) ++seen[static_cast<std::size_t>(detector->sample(3))];
    for (std::size_t k = 0; k < p.size(); ++k) {
        const double sigma = std::sqrt(draws * p[k] * (1 - p[k]));
        EXPECT_NEAR(seen[k], draws * p[k], 5 * sigma + 1) << k;
    }
}

}  // namespace
