#include "simulators/strong_simulator.h"

#include <cmath>
#include <complex>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backends/backend_reference.h"
#include "backends/slap.h"
#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "detectors/ppnr_detector.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "simulators/source.h"
#include "states/annotated_fock_state.h"
#include "states/noisy_fock_state.h"

namespace {

using backend_reference::beam_splitter;
using backend_reference::haar_unitary;
using cx = std::complex<double>;

constexpr double tolerance = 1e-10;

std::shared_ptr<Detector::ADetector> ppnr(int wires, int cap, double efficiency) {
    return std::make_shared<Detector::PPNRDetector>(wires, cap, efficiency, "test");
}

// The back-end's own distribution of a perfect input, normalised.
FockSpaceFunction reference(Backend::IProbBackend& backend, FockState const& input) {
    backend.setMask(std::nullopt);
    backend.setInputState(input);
    FockSpaceFunction f = backend.computeProbabilityDistribution();
    f.normalize();
    return f;
}

// Outputs of independent groups of photons, added mode by mode.
FockSpaceFunction product(FockSpaceFunction const& a, FockSpaceFunction const& b) {
    FockSpaceFunction out;
    for (auto const& [s, p] : a)
        for (auto const& [t, q] : b) out[s.merge(t)] += p * q;
    return out;
}

template <typename F, typename G>
void expect_same(F const& actual, G const& expected, double tol = tolerance) {
    double total = 0;
    for (auto const& [s, p] : expected) {
        total += p;
        if (p > 1e-14) {
            EXPECT_NEAR(actual.get(s), p, tol) << s;
        }
    }
    for (auto const& [s, p] : actual) EXPECT_NEAR(p, expected.get(s), tol) << s;
    EXPECT_GT(total, 0);
}

StateVector sv(std::string const& text, cx amplitude = 1.0) {
    StateVector v{BasicState(NoisyFockState(text))};
    v.scale(amplitude);
    return v;
}

StateVector perfect(std::string const& text, cx amplitude = 1.0) {
    StateVector v{BasicState(FockState(text))};
    v.scale(amplitude);
    return v;
}

template <typename B>
class StrongSimulatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InterruptSignalHandler::interrupted = false;
        backend = std::make_shared<B>();
    }
    StrongSimulator make(Matrix const& u) {
        backend->setUnitary(u);
        return StrongSimulator(backend);
    }
    std::shared_ptr<B> backend;
};

using Backends = ::testing::Types<Backend::SLOS, Backend::SLOS_V2, Backend::SLOS_V3, Backend::SLAP>;
TYPED_TEST_SUITE(StrongSimulatorTest, Backends);

TYPED_TEST(StrongSimulatorTest, PerfectInputGivesTheBackendDistribution) {
    std::mt19937 engine(7);
    const Matrix u = haar_unitary(4, engine);
    StrongSimulator sim = this->make(u);
    const FockState input("|1,1,0,1>");
    const FockSpaceFunction expected = reference(*this->backend, input);
    expect_same(sim.compute(StateVectorDistribution(perfect("|1,1,0,1>"))), expected);
    EXPECT_NEAR(sim.get_physical_perf(), 1.0, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
    // A perfect source delivers exactly the expected input.
    for (bool vector_cache : {false, true}) {
        sim.use_vector_cache = vector_cache;
        expect_same(sim.compute(Source(), input), expected);
    }
}

TYPED_TEST(StrongSimulatorTest, MixtureIsTheWeightedSumOfTheInputs) {
    StrongSimulator sim = this->make(beam_splitter());
    StateVectorDistribution svd;
    svd.set(perfect("|1,0>"), 0.25);
    svd.set(perfect("|0,2>"), 0.75);
    FockSpaceFunction expected = 0.25 * reference(*this->backend, FockState("|1,0>"));
    expected += 0.75 * reference(*this->backend, FockState("|0,2>"));
    expect_same(sim.compute(svd), expected);
    EXPECT_NEAR(sim.get_physical_perf(), 1.0, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
}

TYPED_TEST(StrongSimulatorTest, DistinguishablePhotonsMultiplyTheirGroups) {
    std::mt19937 engine(11);
    StrongSimulator sim = this->make(haar_unitary(3, engine));
    const FockSpaceFunction a = reference(*this->backend, FockState("|1,1,0>"));
    const FockSpaceFunction b = reference(*this->backend, FockState("|0,0,1>"));
    const FockSpaceFunction c = reference(*this->backend, FockState("|1,0,0>"));
    const FockSpaceFunction d = reference(*this->backend, FockState("|0,1,1>"));
    StateVectorDistribution svd;
    svd.set(sv("|{1},{1},{2}>"), 0.5);
    svd.set(sv("|{3},{4},{4}>"), 0.5);
    FockSpaceFunction expected = 0.5 * product(a, b);
    expected += 0.5 * product(c, d);
    for (bool vector_cache : {false, true}) {
        sim.use_vector_cache = vector_cache;
        expect_same(sim.compute(svd), expected, 1e-9);
        EXPECT_NEAR(sim.get_logical_perf(), 1.0, 1e-9);
    }
}

// Forty modes leave one bit per mode in a word: two photons no longer fit, and the groups are
// multiplied state by state.
TYPED_TEST(StrongSimulatorTest, GroupsOverManyModesMultiplyToo) {
    constexpr int m = 40;
    std::mt19937 engine(19);
    StrongSimulator sim = this->make(haar_unitary(m, engine));
    const auto text = [](std::string first, std::string second, std::string third) {
        std::string s = "|" + first + "," + second + "," + third;
        for (int k = 3; k < m; ++k) s += ",0";
        return s + ">";
    };
    const FockSpaceFunction a = reference(*this->backend, FockState(text("1", "0", "0")));
    const FockSpaceFunction b = reference(*this->backend, FockState(text("0", "1", "0")));
    const FockSpaceFunction c = reference(*this->backend, FockState(text("1", "0", "1")));
    StateVectorDistribution svd;
    svd.set(sv(text("{1}", "{2}", "0")), 0.6);
    svd.set(perfect(text("1", "0", "1")), 0.4);
    FockSpaceFunction expected = 0.6 * product(a, b);
    expected += 0.4 * c;
    for (bool vector_cache : {false, true}) {
        sim.use_vector_cache = vector_cache;
        expect_same(sim.compute(svd), expected, 1e-9);
    }
}

TYPED_TEST(StrongSimulatorTest, HongOuMandelDipNeedsEqualTags) {
    StrongSimulator sim = this->make(beam_splitter());
    EXPECT_NEAR(sim.compute(StateVectorDistribution(sv("|{1},{1}>"))).get(FockState("|1,1>")), 0.0,
                tolerance);
    const FockSpaceDistribution mixed = sim.compute(StateVectorDistribution(sv("|{1},{2}>")));
    EXPECT_NEAR(mixed.get(FockState("|1,1>")), 0.5, tolerance);
    EXPECT_NEAR(mixed.get(FockState("|2,0>")), 0.25, tolerance);
}

TYPED_TEST(StrongSimulatorTest, SuperpositionInterferesOnlyWithEqualTags) {
    StrongSimulator sim = this->make(beam_splitter());
    const double r = 1 / std::sqrt(2.0);
    const FockSpaceDistribution coherent =
        sim.compute(StateVectorDistribution(perfect("|1,0>", r) + perfect("|0,1>", r)));
    EXPECT_NEAR(coherent.get(FockState("|1,0>")), 1.0, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
    const FockSpaceDistribution tagged =
        sim.compute(StateVectorDistribution(sv("|{1},0>", r) + sv("|0,{1}>", r)));
    EXPECT_NEAR(tagged.get(FockState("|1,0>")), 1.0, tolerance);
    const FockSpaceDistribution mixed =
        sim.compute(StateVectorDistribution(sv("|{1},0>", r) + sv("|0,{2}>", r)));
    EXPECT_NEAR(mixed.get(FockState("|1,0>")), 0.5, tolerance);
    EXPECT_NEAR(mixed.get(FockState("|0,1>")), 0.5, tolerance);
}

// The components are added with their physical amplitudes: a back-end that keeps another
// convention (SLOS keeps A(s) · sqrt(t!/s!)) is converted, not trusted.
TYPED_TEST(StrongSimulatorTest, BunchedSuperpositionAddsPhysicalAmplitudes) {
    StrongSimulator sim = this->make(beam_splitter());
    const double r = 1 / std::sqrt(2.0);
    const FockSpaceDistribution out =
        sim.compute(StateVectorDistribution(perfect("|1,1>", r) + perfect("|2,0>", r)));
    // By hand: |1,1> gives (|2,0> - |0,2>)/√2, |2,0> gives |2,0>/2 + |1,1>/√2 + |0,2>/2.
    EXPECT_NEAR(out.get(FockState("|2,0>")), (3 + 2 * std::sqrt(2.0)) / 8, tolerance);
    EXPECT_NEAR(out.get(FockState("|1,1>")), 0.25, tolerance);
    EXPECT_NEAR(out.get(FockState("|0,2>")), (3 - 2 * std::sqrt(2.0)) / 8, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
}

// A lone state stands for a pure input whatever its stored amplitude, in both paths.
TYPED_TEST(StrongSimulatorTest, LoneStateAmplitudeDoesNotWeighItsInput) {
    StrongSimulator sim = this->make(beam_splitter());
    const double r = 1 / std::sqrt(2.0);
    StateVectorDistribution svd;
    svd.set(perfect("|1,0>", cx(0, 0.5)), 0.5);
    svd.set(perfect("|1,0>", r) + perfect("|0,1>", r), 0.5);
    const FockSpaceDistribution out = sim.compute(svd);
    EXPECT_NEAR(out.get(FockState("|1,0>")), 0.75, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);

    StateVectorDistribution lone;
    lone.set(perfect("|1,0>", 0.5), 1.0);
    sim.compute(lone);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
}

TYPED_TEST(StrongSimulatorTest, AnnotatedInputsAreRefused) {
    StrongSimulator sim = this->make(beam_splitter());
    const StateVector annotated(BasicState(AnnotatedFockState("|{a:0},0>")));
    const double r = 1 / std::sqrt(2.0);
    StateVectorDistribution alone(annotated);
    StateVectorDistribution with_superposed(annotated);
    with_superposed.set(perfect("|1,0>", r) + perfect("|0,1>", r), 1.0);
    for (auto const* svd : {&alone, &with_superposed}) {
        try {
            sim.compute(*svd);
            ADD_FAILURE() << "no exception";
        } catch (std::invalid_argument const& e) {
            EXPECT_STREQ(e.what(), "Got an annotated fock state, which can't be simulated");
        }
    }
}

TYPED_TEST(StrongSimulatorTest, HeraldsAndPostSelectionGiveTheConditionalDistribution) {
    std::mt19937 engine(3);
    StrongSimulator sim = this->make(haar_unitary(4, engine));
    const FockSpaceFunction f = reference(*this->backend, FockState("|1,1,1,0>"));
    sim.set_heralds({{3, 1}, {2, 0}});
    sim.postselect = PostSelect("[0] < 2");
    // By hand: keep the outputs with one photon on mode 3, none on mode 2, fewer than 2 on 0.
    FockSpaceFunction expected;
    FockSpaceFunction reduced;
    double accepted = 0;
    for (auto const& [s, p] : f)
        if (s[3] == 1 && s[2] == 0 && s[0] < 2) {
            expected[s] += p;
            reduced[FockState(std::vector<int>{s[0], s[1]})] += p;
            accepted += p;
        }
    expected /= accepted;
    reduced /= accepted;
    for (bool vector_cache : {false, true}) {
        sim.use_vector_cache = vector_cache;
        expect_same(sim.compute(StateVectorDistribution(perfect("|1,1,1,0>"))), expected);
        EXPECT_TRUE(sim.uses_mask());
        EXPECT_NEAR(sim.get_physical_perf(), 1.0, tolerance);
        EXPECT_NEAR(sim.get_logical_perf(), accepted, tolerance);
    }
    sim.keep_heralds = false;
    expect_same(sim.compute(StateVectorDistribution(perfect("|1,1,1,0>"))), reduced);
    // Distinguishable photons go through the masked part products: same performance product.
    StateVectorDistribution noisy(sv("|{1},{1},{2},0>"));
    sim.keep_heralds = true;
    sim.compute(noisy);
    const double masked = sim.get_logical_perf() * sim.get_physical_perf();
    sim.set_heralds({});
    sim.postselect = PostSelect();
    const FockSpaceDistribution all = sim.compute(noisy);
    double expected_perf = 0;
    for (auto const& [s, p] : all)
        if (s[3] == 1 && s[2] == 0 && s[0] < 2) expected_perf += p;
    EXPECT_NEAR(masked, expected_perf, 1e-9);
}

TYPED_TEST(StrongSimulatorTest, PhotonFilterGoesToPhysicalPerformance) {
    StrongSimulator sim = this->make(beam_splitter());
    sim.min_photons_filter = 2;
    StateVectorDistribution svd;
    svd.set(perfect("|1,0>"), 0.4);
    svd.set(perfect("|1,1>"), 0.6);
    const FockSpaceDistribution out = sim.compute(svd);
    EXPECT_NEAR(sim.get_physical_perf(), 0.6, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), 1.0, tolerance);
    EXPECT_NEAR(out.get(FockState("|2,0>")), 0.5, tolerance);

    StateVectorDistribution too_few(perfect("|1,0>"));
    EXPECT_THROW(sim.compute(too_few), std::runtime_error);
    EXPECT_EQ(sim.get_physical_perf(), 0.0);
}

TYPED_TEST(StrongSimulatorTest, ThresholdDetectorsCapEveryMode) {
    StrongSimulator sim = this->make(beam_splitter());
    sim.set_detectors({ppnr(0, 1, 1.0), ppnr(0, 1, 1.0)});
    ASSERT_EQ(sim.get_detectors_behaviour(), 1);
    sim.min_photons_filter = 1;
    const FockSpaceDistribution out = sim.compute(StateVectorDistribution(sv("|{1},{1}>")));
    EXPECT_NEAR(out.get(FockState("|1,0>")), 0.5, tolerance);
    EXPECT_NEAR(out.get(FockState("|0,1>")), 0.5, tolerance);
    sim.min_photons_filter = 2;
    EXPECT_THROW(sim.compute(StateVectorDistribution(sv("|{1},{1}>"))), std::runtime_error);
    EXPECT_NEAR(sim.get_physical_perf(), 0.0, tolerance);
}

TYPED_TEST(StrongSimulatorTest, LossyDetectorsMatchTheirResponseByHand) {
    std::mt19937 engine(5);
    StrongSimulator sim = this->make(haar_unitary(3, engine));
    std::vector<std::shared_ptr<Detector::ADetector>> detectors = {ppnr(0, 0, 0.8), ppnr(0, 0, 1.0),
                                                                   ppnr(2, 0, 0.9)};
    sim.set_detectors(detectors);
    ASSERT_EQ(sim.get_detectors_behaviour(), 3);
    sim.min_photons_filter = 1;
    const FockSpaceFunction f = product(reference(*this->backend, FockState("|1,1,0>")),
                                        reference(*this->backend, FockState("|0,0,1>")));
    FockSpaceFunction expected;
    double kept = 0;
    for (auto const& [s, p] : f) {
        const auto d0 = detectors[0]->detect(s[0]);
        const auto d1 = detectors[1]->detect(s[1]);
        const auto d2 = detectors[2]->detect(s[2]);
        for (std::size_t a = 0; a < d0.size(); ++a)
            for (std::size_t b = 0; b < d1.size(); ++b)
                for (std::size_t c = 0; c < d2.size(); ++c) {
                    const double q = p * d0[a] * d1[b] * d2[c];
                    if (a + b + c < 1 || q == 0) continue;
                    expected[FockState(std::vector<int>{int(a), int(b), int(c)})] += q;
                    kept += q;
                }
    }
    expected /= kept;
    const FockSpaceDistribution out = sim.compute(StateVectorDistribution(sv("|{1},{1},{2}>")));
    expect_same(out, expected, 1e-9);
    EXPECT_NEAR(sim.get_physical_perf(), kept, 1e-9);
}

TYPED_TEST(StrongSimulatorTest, LossyHeraldIsLeftOutOfTheMaskButEnforced) {
    StrongSimulator sim = this->make(beam_splitter());
    sim.set_detectors({ppnr(0, 0, 1.0), ppnr(0, 0, 0.5)});
    sim.set_heralds({{1, 0}});
    const FockSpaceDistribution out = sim.compute(StateVectorDistribution(sv("|{1},{2}>")));
    EXPECT_FALSE(sim.uses_mask());
    EXPECT_EQ(sim.free_herald_modes(), std::vector<int>{1});
    // Mode 1 reads 0 for |2,0> always, for |1,1> half the time, for |0,2> a quarter.
    const double p20 = 0.25, p11 = 0.5 * 0.5, p02 = 0.25 * 0.25;
    const double total = p20 + p11 + p02;
    EXPECT_NEAR(out.get(FockState("|2,0>")), p20 / total, tolerance);
    EXPECT_NEAR(out.get(FockState("|1,0>")), p11 / total, tolerance);
    EXPECT_NEAR(sim.get_physical_perf() * sim.get_logical_perf(), total, tolerance);
    // Charged to the logical performance instead.
    sim.differentiate_perf = true;
    sim.compute(StateVectorDistribution(sv("|{1},{2}>")));
    EXPECT_NEAR(sim.get_physical_perf(), 1.0, tolerance);
    EXPECT_NEAR(sim.get_logical_perf(), total, tolerance);
}

TYPED_TEST(StrongSimulatorTest, SourceMatchesItsExactMixture) {
    std::mt19937 engine(13);
    StrongSimulator sim = this->make(haar_unitary(4, engine));
    const Source source(0.9, 0.05, 0.85, 0.1);
    const FockState expected("|1,1,0,1>");
    sim.rel_precision = 1e-12;
    sim.min_photons_filter = 2;
    const FockSpaceDistribution reference_out =
        sim.compute(source.generate_distribution(expected, 1e-14));
    const double physical = sim.get_physical_perf();
    const double logical = sim.get_logical_perf();
    for (bool vector_cache : {false, true}) {
        sim.use_vector_cache = vector_cache;
        expect_same(sim.compute(source, expected), reference_out, 1e-8);
        EXPECT_NEAR(sim.get_physical_perf(), physical, 1e-8);
        EXPECT_NEAR(sim.get_logical_perf(), logical, 1e-6);
    }
}

TYPED_TEST(StrongSimulatorTest, CopySharesTheBackendCloneDoesNot) {
    StrongSimulator sim = this->make(beam_splitter());
    sim.set_detectors({ppnr(0, 0, 1.0), ppnr(0, 0, 1.0)});
    StrongSimulator copy(sim);
    StrongSimulator clone = sim.clone();
    EXPECT_EQ(&copy.get_backend(), &sim.get_backend());
    EXPECT_NE(&clone.get_backend(), &sim.get_backend());
    EXPECT_EQ(copy.get_detectors()[0], sim.get_detectors()[0]);
    EXPECT_NE(clone.get_detectors()[0], sim.get_detectors()[0]);
    this->backend->setUnitary(Matrix::Identity(2, 2));
    const StateVectorDistribution svd(perfect("|1,0>"));
    EXPECT_NEAR(copy.compute(svd).get(FockState("|1,0>")), 1.0, tolerance);
    EXPECT_NEAR(clone.compute(svd).get(FockState("|1,0>")), 0.5, tolerance);
}

TYPED_TEST(StrongSimulatorTest, ProgressIsReportedAndCancels) {
    std::mt19937 engine(17);
    StrongSimulator sim = this->make(haar_unitary(3, engine));
    sim.progress.interval = 0;
    std::vector<std::string> texts;
    std::vector<double> values;
    sim.progress.callback = [&](double p, std::string const& text) {
        texts.push_back(text);
        values.push_back(p);
        return false;
    };
    sim.set_detectors({ppnr(0, 0, 0.9), ppnr(0, 0, 0.9), ppnr(0, 0, 0.9)});
    sim.compute(StateVectorDistribution(sv("|{1},{2},{1}>")));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Computing probability distributions...");
    EXPECT_EQ(texts.back(), "Simulating detectors...");
    for (double v : values) {
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 1.0);
    }
    sim.progress.callback = [](double, std::string const&) { return true; };
    try {
        sim.compute(StateVectorDistribution(sv("|{1},{2},{1}>")));
        ADD_FAILURE() << "not cancelled";
    } catch (KeyboardInterruptException const& e) {
        EXPECT_STREQ(e.what(), "Cancel requested.");
    }
    EXPECT_TRUE(sim.progress.starts.empty());
    sim.progress.callback = nullptr;
    EXPECT_NO_THROW(sim.compute(StateVectorDistribution(sv("|{1},{2},{1}>"))));
}

TYPED_TEST(StrongSimulatorTest, InputTestsRunBeforeAnyBackendWork) {
    StrongSimulator sim = this->make(beam_splitter());
    const StateVectorDistribution svd(perfect("|1,0>"));
    sim.set_heralds({{2, 0}});
    EXPECT_THROW(sim.compute(svd), std::invalid_argument);
    EXPECT_THROW(sim.compute(Source(), FockState("|1,0>")), std::invalid_argument);
    sim.set_heralds({{1, 33}});
    EXPECT_THROW(sim.compute(StateVectorDistribution(perfect("|40,0>"))), std::invalid_argument);
    sim.set_heralds({});
    sim.set_detectors({ppnr(0, 0, 1.0), ppnr(0, 0, 1.0), ppnr(0, 0, 1.0)});
    for (auto call :
         {+[](StrongSimulator& s) { s.compute(StateVectorDistribution(perfect("|1,0>"))); },
          +[](StrongSimulator& s) { s.compute(Source(), FockState("|1,0>")); }}) {
        try {
            call(sim);
            ADD_FAILURE() << "no exception";
        } catch (std::invalid_argument const& e) {
            EXPECT_STREQ(e.what(), "State length (2) and detector count (3) do not match");
        }
    }
    // An empty input has mode count -1, which three detectors do not match either.
    try {
        sim.compute(StateVectorDistribution());
        ADD_FAILURE() << "no exception";
    } catch (std::invalid_argument const& e) {
        EXPECT_STREQ(e.what(), "State length (-1) and detector count (3) do not match");
    }
    StateVectorDistribution empty_vector;
    empty_vector.map()[StateVector()] = 1.0;
    EXPECT_THROW(sim.compute(empty_vector), std::invalid_argument);
}

struct SummaryCase {
    std::vector<std::vector<double>> detectors;  // (wires, cap, efficiency)
    int summary;
};

class StrongDetectorSummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(StrongDetectorSummaryTest, FoldsTheBehaviourCodes) {
    StrongSimulator sim(std::make_shared<Backend::SLOS_V2>());
    std::vector<std::shared_ptr<Detector::ADetector>> detectors;
    for (auto const& d : GetParam().detectors)
        detectors.push_back(ppnr(static_cast<int>(d[0]), static_cast<int>(d[1]), d[2]));
    sim.set_detectors(detectors);
    EXPECT_EQ(sim.get_detectors_behaviour(), GetParam().summary);
}

// Codes: (0, 0, 1) perfect 0, (0, 1, 1) threshold 1, (0, 2, 1) capped 2, (0, 0, .9) lossy 3.
INSTANTIATE_TEST_SUITE_P(Codes, StrongDetectorSummaryTest,
                         ::testing::Values(SummaryCase{{}, 0},
                                           SummaryCase{{{0, 0, 1}, {0, 0, 1}}, 0},
                                           SummaryCase{{{0, 1, 1}, {0, 1, 1}}, 1},
                                           SummaryCase{{{0, 0, 1}, {0, 1, 1}}, 2},
                                           SummaryCase{{{0, 2, 1}}, 2},
                                           SummaryCase{{{0, 1, 1}, {0, 0, .9}, {0, 0, 1}}, 3}));

TEST(StrongSimulator, DefaultsAndHeralds) {
    StrongSimulator sim(std::make_shared<Backend::SLOS_V3>());
    EXPECT_EQ(sim.get_physical_perf(), 1.0);
    EXPECT_EQ(sim.get_logical_perf(), 1.0);
    EXPECT_TRUE(sim.keep_heralds);
    EXPECT_FALSE(sim.use_vector_cache);
    EXPECT_FALSE(sim.differentiate_perf);
    EXPECT_EQ(sim.rel_precision, 1e-6);
    EXPECT_EQ(sim.min_photons_filter, 0);
    sim.set_heralds({{2, 0}, {1, 1}});
    EXPECT_EQ(sim.get_herald_photons(), 1);
    EXPECT_EQ(sim.get_heralds().begin()->first, 1);
    EXPECT_THROW(StrongSimulator(nullptr), std::invalid_argument);
}

TEST(StrongSimulator, MaskAndSelectionCount) {
    StrongSimulator sim(std::make_shared<Backend::SLOS_V2>());
    sim.set_heralds({{1, 0}});
    sim.init_use_mask(true);
    ASSERT_TRUE(sim.uses_mask());
    EXPECT_TRUE(sim.make_mask(1, FockState("|1,0,0>"))->match(FockState("|1,0,0>"), false));
    EXPECT_FALSE(sim.make_mask(1, FockState("|1,0,0>"))->match(FockState("|0,1,0>"), false));
    sim.set_heralds({{0, 1}, {1, 1}});
    sim.init_use_mask(true);
    EXPECT_EQ(sim.compute_selection_n(3, 1), 3);
    EXPECT_EQ(sim.compute_selection_n(2, 1), 2);
    sim.set_heralds({{0, 32}});
    sim.init_use_mask(true);
    EXPECT_TRUE(sim.make_mask(32, FockState(std::vector<int>{0, 32}))
                    ->match(FockState(std::vector<int>{0, 32}), false));
}

TEST(StrongSimulator, ThresholdHeraldTestAndRemoval) {
    StrongSimulator sim(std::make_shared<Backend::SLOS_V2>());
    sim.set_heralds({{0, 1}});
    sim.keep_heralds = false;
    const FockSpaceFunction out =
        sim.postselect_distribution(FockSpaceFunction(FockState("|1,0,2>"), 1.0));
    EXPECT_EQ(out.get(FockState("|0,2>")), 1.0);
    sim.set_heralds({{0, 0}});
    EXPECT_FALSE(sim.heralds_compatible_threshold(FockState("|1,0>")));
    EXPECT_TRUE(sim.heralds_compatible_threshold(FockState("|0,3>")));
}

}  // namespace
