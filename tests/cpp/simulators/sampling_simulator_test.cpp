#include "simulators/sampling_simulator.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "backends/backend_reference.h"
#include "backends/clifford_reference.h"
#include "detectors/ppnr_detector.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"
#include "simulators/noisy_sampler.h"
#include "simulators/svd_sampler.h"
#include "states/annotated_fock_state.h"
#include "test_support.h"

namespace {

using simulators::SamplingSimulator;
using simulators::SVDSampler;
using test_support::expect_throw_message;
using test_support::ThreadCount;
using Distribution = std::map<FockState, double>;

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

StateVector sv(std::string const& text) {
    if (text.find('{') != std::string::npos) return StateVector(BasicState(NoisyFockState(text)));
    return StateVector(BasicState(FockState(text)));
}

StateVectorDistribution svd(std::vector<std::pair<std::string, double>> const& entries) {
    StateVectorDistribution d;
    for (auto const& [text, p] : entries) d.set(sv(text), p);
    return d;
}

std::shared_ptr<Detector::ADetector> threshold() {
    return std::make_shared<Detector::PPNRDetector>(0, 1, 1.0, "Threshold");
}
std::shared_ptr<Detector::ADetector> perfect() {
    return std::make_shared<Detector::PPNRDetector>(0, 0, 1.0, "Perfect");
}
std::shared_ptr<Detector::ADetector> capped() {
    return std::make_shared<Detector::PPNRDetector>(0, 2, 1.0, "Capped");
}
std::shared_ptr<Detector::ADetector> lossy() {
    return std::make_shared<Detector::PPNRDetector>(0, 0, 0.5, "Lossy");
}

std::shared_ptr<Backend::Clifford2017> sampler_on(Matrix const& u) {
    auto sampler = std::make_shared<Backend::Clifford2017>();
    sampler->setUnitary(u);
    return sampler;
}

Matrix haar(int m, unsigned seed) {
    std::mt19937 engine(seed);
    return backend_reference::haar_unitary(m, engine);
}

// The "General" channel at level debug.
class GeneralLog : public test_support::ChannelLog {
  public:
    GeneralLog() : ChannelLog("General", "%v", spdlog::level::debug) {}
};

// ---------------------------------------------------------------- input reduction

struct ReductionCase {
    std::string name;
    std::vector<std::pair<std::string, double>> input;
    int filter;
    int heralds;
    int max_samples;
    std::optional<int> max_shots;
    double physical_perf;
    std::vector<std::pair<std::string, double>> kept;
    std::optional<int> shots_after;
};

void PrintTo(ReductionCase const& c, std::ostream* os) {
    *os << c.name;
}

class SVDSamplerReductionTest : public testing::TestWithParam<ReductionCase> {};

TEST_P(SVDSamplerReductionTest, KeepsFilterAndRescales) {
    auto const& c = GetParam();
    std::optional<int> shots = c.max_shots;
    const SVDSampler sampler(svd(c.input), c.filter, c.heralds, c.max_samples, shots);
    EXPECT_NEAR(sampler.physical_perf(), c.physical_perf, 1e-12);
    EXPECT_EQ(shots, c.shots_after);
    ASSERT_EQ(sampler.distribution().size(), c.kept.size());
    for (auto const& [text, p] : c.kept)
        EXPECT_NEAR(sampler.distribution().get(sv(text)), p, 1e-12);
}

const std::vector<std::pair<std::string, double>> three = {
    {"|1,1>", 0.5}, {"|2,0>", 0.4}, {"|0,0>", 0.1}};

INSTANTIATE_TEST_SUITE_P(
    Cases, SVDSamplerReductionTest,
    testing::Values(
        ReductionCase{"AllKept", three, 0, 0, 1000, {}, 1.0, three, {}},
        ReductionCase{"VacuumFiltered",
                      three,
                      1,
                      0,
                      1000,
                      {},
                      0.9,
                      {{"|1,1>", 5.0 / 9}, {"|2,0>", 4.0 / 9}},
                      {}},
        ReductionCase{"RareDroppedWithoutLoss", three, 0, 0, 1, {}, 1.0, {{"|1,1>", 1.0}}, {}},
        ReductionCase{"ShotsRescaled",
                      {{"|1,0>", 0.3}, {"|1,1>", 0.5}, {"|0,0>", 0.2}},
                      2,
                      0,
                      100,
                      100,
                      0.5,
                      {{"|1,1>", 1.0}},
                      62},
        ReductionCase{"HeraldsCountInTheMinimum",
                      {{"|1,0>", 0.3}, {"|1,1>", 0.5}, {"|0,0>", 0.2}},
                      1,
                      1,
                      100,
                      100,
                      0.5,
                      {{"|1,1>", 1.0}},
                      62},
        ReductionCase{"MinimumOneNeverRescales",
                      {{"|1,0>", 0.3}, {"|0,0>", 0.7}},
                      1,
                      0,
                      100,
                      100,
                      0.3,
                      {{"|1,0>", 1.0}},
                      100},
        // The threshold scale comes from entries that can pass: a likely vacuum below the filter
        // must not push the rare ones that pass out of the table.
        ReductionCase{"ThresholdOverPassingEntries",
                      {{"|0,0>", 0.99}, {"|1,1>", 0.006}, {"|2,0>", 0.004}},
                      2,
                      0,
                      2,
                      {},
                      0.01,
                      {{"|1,1>", 0.6}, {"|2,0>", 0.4}},
                      {}},
        ReductionCase{"VacuumOnlyGivesNoShot", {{"|0,0>", 1.0}}, 2, 0, 10, 10, 0.0, {}, 0}),
    [](auto const& info) { return info.param.name; });

TEST(SVDSamplerTest, NoisyInputsAreSplitIntoTheirGroups) {
    std::optional<int> shots;
    const SVDSampler sampler(svd({{"|{0},{1}>", 1.0}}), 0, 0, 10, shots);
    const auto draws = sampler.generate_separated_samples(3);
    ASSERT_EQ(draws.size(), 3u);
    for (auto const& groups : draws) {
        ASSERT_EQ(groups.size(), 2u);
        EXPECT_EQ(groups[0], fs({1, 0}));
        EXPECT_EQ(groups[1], fs({0, 1}));
    }
}

// ---------------------------------------------------------------- input provider

struct RecordingGenerator {
    std::vector<std::uint64_t>* sizes;
    std::vector<std::vector<FockState>> generate_separated_samples(std::uint64_t n) const {
        sizes->push_back(n);
        return std::vector<std::vector<FockState>>(n, {FockState(1)});
    }
};

TEST(InputProviderTest, RefillsAboutTheWorkLeftPlusOnePerTask) {
    std::vector<std::uint64_t> sizes;
    simulators::details::RunCounters counters;
    simulators::details::InputProvider<RecordingGenerator> provider({&sizes}, counters);
    provider.set_batch_floor(4);
    counters.samples_left = 100;
    counters.shots_left = 40;
    for (int k = 0; k < 44; ++k) provider.take();
    counters.samples_left = 3;
    provider.take();
    // A billion samples left refill in bounded slices.
    counters.samples_left = 1'000'000'000;
    counters.shots_left = 4'000'000'000;
    for (int k = 0; k < 4; ++k) provider.take();
    provider.take();
    EXPECT_EQ(sizes, (std::vector<std::uint64_t>{44, 4, 65536 + 4}));
}

// ---------------------------------------------------------------- simulator set-up

TEST(SamplingSimulatorTest, NewSimulatorsStartNeutral) {
    SamplingSimulator sim(sampler_on(Matrix::Identity(2, 2)));
    EXPECT_TRUE(sim.is_perfect());
    EXPECT_EQ(sim.get_physical_perf(), 1.0);
    EXPECT_EQ(sim.get_logical_perf(), 1.0);
    EXPECT_EQ(sim.callback_interval, 1000);
    EXPECT_TRUE(sim.keep_heralds);
    sim.min_photons_filter = 2;
    sim.heralds = {{0, 1}, {3, 2}};
    EXPECT_EQ(sim.get_min_photons_with_heralds(), 5);
    EXPECT_FALSE(sim.is_perfect());
    EXPECT_THROW(SamplingSimulator(nullptr), std::invalid_argument);
}

struct SummaryCase {
    std::string name;
    std::vector<std::shared_ptr<Detector::ADetector>> detectors;
    int summary;
};

void PrintTo(SummaryCase const& c, std::ostream* os) {
    *os << c.name;
}

class SamplingDetectorSummaryTest : public testing::TestWithParam<SummaryCase> {};

TEST_P(SamplingDetectorSummaryTest, FoldsTheBehaviours) {
    SamplingSimulator sim(sampler_on(Matrix::Identity(2, 2)));
    sim.set_detectors(GetParam().detectors);
    EXPECT_EQ(sim.detector_behaviour(), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SamplingDetectorSummaryTest,
    testing::Values(SummaryCase{"None", {}, 0}, SummaryCase{"Perfect", {perfect(), perfect()}, 0},
                    SummaryCase{"Threshold", {threshold(), threshold()}, 1},
                    SummaryCase{"PerfectAndThreshold", {perfect(), threshold()}, 2},
                    SummaryCase{"Capped", {capped()}, 2},
                    SummaryCase{"LossyAmongThreshold", {threshold(), lossy(), threshold()}, 3}),
    [](auto const& info) { return info.param.name; });

TEST(SamplingSimulatorTest, InputsAreValidatedFirst) {
    SamplingSimulator sim(sampler_on(Matrix::Identity(3, 3)));
    sim.set_detectors({perfect(), perfect()});
    using E = std::invalid_argument;
    expect_throw_message<E>(
        [&] {
            sim.samples(svd({{"|1,0,0>", 1}}), 0, {});
        },
        "State length (3) and detector count (2) do not match");
    expect_throw_message<E>([&] { sim.samples(StateVectorDistribution(), 10, {}); },
                            "State length (-1) and detector count (2) do not match");
    // A source run compares them too.
    expect_throw_message<E>(
        [&] {
            sim.samples(Source(0.9), fs({1, 0, 0}), 0, {});
        },
        "State length (3) and detector count (2) do not match");
    sim.set_detectors({});
    StateVectorDistribution superposed;
    superposed.set(StateVector(BasicState(fs({1, 0, 0}))) + BasicState(fs({0, 1, 0})), 1.0);
    EXPECT_THROW(
        try { sim.samples(superposed, 10, {}); } catch (E const& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(
                "Noisy sampling does not support superposed states, got "));
            throw;
        },
        E);
    StateVectorDistribution annotated;
    annotated.set(StateVector(BasicState(AnnotatedFockState(std::vector<int>{1, 0, 0}))), 1.0);
    expect_throw_message<E>([&] { sim.samples(annotated, 10, {}); },
                            "AnnotatedFockStates can't be simulated");
}

TEST(SamplingSimulatorTest, NoisyRunsCheckTheUnitaryAndHeralds) {
    SamplingSimulator sim(sampler_on(Matrix::Identity(3, 3)));
    const auto noisy = svd({{"|{0},{1}>", 1.0}});
    expect_throw_message<std::runtime_error>([&] { sim.samples(noisy, 10, {}); },
                                             "Matrix/input state sizes mismatch");
    expect_throw_message<std::runtime_error>(
        [&] {
            sim.samples(Source(0.9), fs({1, 1}), 10, {});
        },
        "Matrix/input state sizes mismatch");
    SamplingSimulator unset(std::make_shared<Backend::Clifford2017>());
    expect_throw_message<std::runtime_error>([&] { unset.samples(noisy, 10, {}); },
                                             "Matrix/input state sizes mismatch");
    SamplingSimulator two(sampler_on(Matrix::Identity(2, 2)));
    two.heralds = {{2, 0}};
    expect_throw_message<std::invalid_argument>(
        [&] { two.samples(noisy, 10, {}); }, "Herald mode 2 is outside the 2 modes of the input");
}

// ---------------------------------------------------------------- budgets

TEST(SamplingSimulatorTest, DegenerateBudgetsGiveNothingAndKeepThePerformances) {
    SamplingSimulator sim(sampler_on(haar(2, 1)));
    sim.heralds = {{1, 0}};
    const auto input = svd({{"|1,0>", 0.5}, {"|0,1>", 0.5}});
    for (auto [samples, shots] : std::vector<std::pair<int, std::optional<int>>>{
             {0, {}}, {10, 0}, {-5, {}}, {10, -1}, {-1, -1}}) {
        EXPECT_TRUE(sim.samples(input, samples, shots).empty());
        EXPECT_TRUE(sim.samples(Source(0.9, 0.03, 0.8), fs({1, 0}), samples, shots).empty());
    }
    EXPECT_EQ(sim.get_physical_perf(), 1.0);
    EXPECT_EQ(sim.get_logical_perf(), 1.0);
    // Nothing passes the filter: nothing to draw from, and no division by zero.
    sim.min_photons_filter = 3;
    EXPECT_TRUE(sim.samples(input, 10, 10).empty());
    EXPECT_TRUE(sim.samples(svd({{"|0,0>", 1.0}}), 10, 10).empty());
    EXPECT_TRUE(sim.samples(StateVectorDistribution(), 10, 10).empty());
    EXPECT_TRUE(sim.samples(Source(0.9, 0.03, 0.8), fs({1, 0}), 10, 10).empty());
    EXPECT_FALSE(std::isnan(sim.get_physical_perf()));
}

// A run that has nothing to draw still reports its own figures: none of its inputs reach the
// minimum, so the physical performance is 0, whatever the last run left.
struct NothingToDrawCase {
    std::string name;
    int filter;
    std::map<unsigned char, unsigned char> heralds;
    bool source;
};

void PrintTo(NothingToDrawCase const& c, std::ostream* os) {
    *os << c.name;
}

class NothingToDrawTest : public testing::TestWithParam<NothingToDrawCase> {};

TEST_P(NothingToDrawTest, ReportsItsOwnPerformances) {
    auto const& c = GetParam();
    SamplingSimulator sim(sampler_on(haar(2, 3)));
    sim.postselect = PostSelect("[0] == 1");
    EXPECT_EQ(sim.samples(svd({{"|1,0>", 1.0}}), 200, {}).size(), 200u);
    ASSERT_LT(sim.get_logical_perf(), 1.0);
    sim.min_photons_filter = c.filter;
    sim.heralds = c.heralds;
    const auto samples = c.source ? sim.samples(Source(0.9), fs({1, 0}), 10, 10)
                                  : sim.samples(svd({{"|1,0>", 1.0}}), 10, 10);
    EXPECT_TRUE(samples.empty());
    EXPECT_EQ(sim.get_physical_perf(), 0.0);
    EXPECT_EQ(sim.get_logical_perf(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NothingToDrawTest,
                         testing::Values(NothingToDrawCase{"FilterAboveThePhotons", 2, {}, false},
                                         NothingToDrawCase{"ImpossibleHeralds", 0, {{1, 2}}, false},
                                         NothingToDrawCase{"SourceBelowTheFilter", 2, {}, true},
                                         NothingToDrawCase{
                                             "SourceWithImpossibleHeralds", 0, {{1, 2}}, true}),
                         [](auto const& info) { return info.param.name; });

TEST(SamplingSimulatorTest, PerfectSetupsGoStraightToTheSampler) {
    GeneralLog log;
    SamplingSimulator sim(sampler_on(haar(3, 2)));
    sim.min_photons_filter = 7;  // not applied on this path
    sim.set_detectors({perfect(), perfect(), perfect()});
    const auto samples = sim.samples(svd({{"|1,1,0>", 0.3}}), 50, 20);
    EXPECT_EQ(samples.size(), 20u);
    EXPECT_NE(log.text().find("Perfect sampling"), std::string::npos);
    EXPECT_EQ(sim.samples(Source(), fs({1, 0, 1}), 15, {}).size(), 15u);
    EXPECT_EQ(sim.get_physical_perf(), 1.0);
    EXPECT_EQ(sim.get_logical_perf(), 1.0);
}

TEST(SamplingSimulatorTest, TwoPerfectStatesRunTheNoisyPath) {
    ThreadCount threads(2);
    GeneralLog log;
    SamplingSimulator sim(sampler_on(haar(2, 3)));
    const auto samples = sim.samples(svd({{"|1,0>", 0.5}, {"|1,1>", 0.5}}), 200, {});
    EXPECT_EQ(samples.size(), 200u);
    EXPECT_EQ(log.text().find("Perfect sampling"), std::string::npos);
    for (auto const& s : samples) EXPECT_GE(s.n(), 1);
}

TEST(SamplingSimulatorTest, GroupsAreSampledApartAndAddedUp) {
    ThreadCount threads(1);
    RNG::rng.seed(11);
    // A balanced beam splitter: two indistinguishable photons never leave one per mode, two
    // distinguishable ones do half of the time.
    SamplingSimulator sim(sampler_on(backend_reference::beam_splitter()));
    int split = 0;
    for (auto const& s : sim.samples(svd({{"|{0},{1}>", 1.0}}), 2000, {})) {
        ASSERT_EQ(s.n(), 2);
        split += s == fs({1, 1});
    }
    EXPECT_NEAR(split, 1000, 6 * std::sqrt(500.0));
    SamplingSimulator bunched(sampler_on(backend_reference::beam_splitter()));
    bunched.heralds = {};
    bunched.set_detectors({capped(), capped()});  // not perfect: the noisy path
    for (auto const& s : bunched.samples(svd({{"|1,1>", 1.0}}), 500, {})) EXPECT_NE(s, fs({1, 1}));
}

struct HeraldCase {
    std::string name;
    bool differentiate;
    int expected;
    double physical;
    double logical;
};

void PrintTo(HeraldCase const& c, std::ostream* os) {
    *os << c.name;
}

class ThresholdHeraldTest : public testing::TestWithParam<HeraldCase> {};

// The identity sends |1,0> to itself: the herald on mode 1 sees no photon on every shot.
TEST_P(ThresholdHeraldTest, FailuresCountWhereTheFlagSays) {
    auto const& c = GetParam();
    ThreadCount threads(2);
    SamplingSimulator sim(sampler_on(Matrix::Identity(2, 2)));
    sim.set_detectors({threshold(), threshold()});
    sim.differentiate_perf = c.differentiate;
    sim.heralds = {{0, static_cast<unsigned char>(c.expected)}};
    EXPECT_TRUE(sim.samples(svd({{"|1,1>", 1.0}}), 10, 100).empty());
    EXPECT_DOUBLE_EQ(sim.get_physical_perf(), c.physical);
    EXPECT_DOUBLE_EQ(sim.get_logical_perf(), c.logical);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThresholdHeraldTest,
    testing::Values(HeraldCase{"NoPhotonPhysical", false, 0, 0.0, 1.0},
                    HeraldCase{"NoPhotonLogical", true, 0, 1.0, 0.0},
                    // Threshold counts are 0 or 1: expecting 2 is a logical failure either way.
                    HeraldCase{"TwoPhotonsLogical", false, 2, 1.0, 0.0}),
    [](auto const& info) { return info.param.name; });

TEST(SamplingSimulatorTest, HeraldModesCanBeDropped) {
    ThreadCount threads(3);
    SamplingSimulator sim(sampler_on(Matrix::Identity(4, 4)));
    sim.heralds = {{0, 1}};
    const auto input = svd({{"|1,0,1,0>", 1.0}});
    for (auto const& s : sim.samples(input, 30, {})) EXPECT_EQ(s, fs({1, 0, 1, 0}));
    sim.keep_heralds = false;
    const auto dropped = sim.samples(input, 30, {});
    EXPECT_EQ(dropped.size(), 30u);
    for (auto const& s : dropped) EXPECT_EQ(s, fs({0, 1, 0}));
    sim.heralds = {{1, 0}};
    for (auto const& s : sim.samples(input, 5, {})) EXPECT_EQ(s, fs({1, 1, 0}));
}

TEST(SamplingSimulatorTest, AShotBudgetSpentOnRejectionsEndsTheRun) {
    ThreadCount threads(1);
    SamplingSimulator sim(sampler_on(Matrix::Identity(2, 2)));
    sim.postselect = PostSelect("[0] == 2");
    EXPECT_TRUE(sim.samples(svd({{"|1,1>", 1.0}}), 5, 20).empty());
    // 20 shots, all logical rejections.
    EXPECT_EQ(sim.get_physical_perf(), 1.0);
    EXPECT_EQ(sim.get_logical_perf(), 0.0);
}

TEST(SamplingSimulatorTest, OneTaskRunsReproduceFromTheSeed) {
    ThreadCount threads(1);
    SamplingSimulator sim(sampler_on(haar(3, 4)));
    sim.postselect = PostSelect("[0] < 2");
    const Source source(0.9, 0.03, 0.8);
    RNG::rng.seed(5);
    const auto first = sim.samples(source, fs({1, 1, 0}), 100, {});
    RNG::rng.seed(5);
    EXPECT_EQ(sim.samples(source, fs({1, 1, 0}), 100, {}), first);
}

// ---------------------------------------------------------------- statistics

// The exact output distribution of a noisy run: every input of the mixture split into its groups,
// each group's permanents convolved, then detection, filter, heralds and post-selection.
struct Exact {
    Distribution accepted;  // normalised
    double physical = 0;    // with differentiate_perf on
    double logical = 0;
};

Distribution group_output(Matrix const& u, std::vector<FockState> const& groups, int m) {
    Distribution out{{FockState(m), 1.0}};
    for (auto const& g : groups) {
        if (g.n() == 0) continue;
        Distribution next;
        for (auto const& [a, pa] : out)
            for (auto const& [b, pb] : clifford_reference::exact_distribution(u, g))
                next[a.merge(b)] += pa * pb;
        out = std::move(next);
    }
    return out;
}

Exact exact(Matrix const& u, StateVectorDistribution const& inputs, SamplingSimulator const& sim) {
    Exact e;
    double passed = 0;
    for (auto const& [vector, p] : inputs) {
        auto const& term = vector.componentAt(0);
        const auto groups = std::holds_alternative<NoisyFockState>(term)
                                ? std::get<NoisyFockState>(term).separate_state()
                                : std::vector<FockState>{std::get<FockState>(term)};
        int n = 0;
        for (auto const& g : groups) n += g.n();
        if (n < sim.get_min_photons_with_heralds()) continue;
        for (auto const& [out, q] : group_output(u, groups, vector.modeCount())) {
            auto counts = out.to_vect();
            if (sim.detector_behaviour() == 1)
                for (int& c : counts) c = c > 0;
            int total = 0;
            for (int c : counts) total += c;
            if (sim.detector_behaviour() != 0 && total < sim.get_min_photons_with_heralds())
                continue;
            passed += p * q;
            bool ok = sim.postselect(counts);
            for (auto const& [mode, expected] : sim.heralds) ok = ok && counts[mode] == expected;
            if (!ok) continue;
            std::vector<int> kept;
            for (int i = 0; i < int(counts.size()); ++i)
                if (sim.keep_heralds || !sim.heralds.contains(static_cast<unsigned char>(i)))
                    kept.push_back(counts[i]);
            e.accepted[FockState(kept)] += p * q;
        }
    }
    double accepted = 0;
    for (auto const& entry : e.accepted) accepted += entry.second;
    for (auto& entry : e.accepted) entry.second /= accepted;
    e.physical = passed;
    e.logical = accepted / passed;
    return e;
}

struct StatisticsCase {
    std::string name;
    bool threshold_detectors;
    bool keep_heralds;
    unsigned threads;
};

void PrintTo(StatisticsCase const& c, std::ostream* os) {
    *os << c.name;
}

class NoisyStatisticsTest : public testing::TestWithParam<StatisticsCase> {};

TEST_P(NoisyStatisticsTest, SourceRunsFollowTheExactNoisyDistribution) {
    auto const& c = GetParam();
    ThreadCount threads(c.threads);
    RNG::rng.seed(2024);
    const Matrix u = haar(4, 7);
    SamplingSimulator sim(sampler_on(u));
    sim.heralds = {{3, 0}};
    sim.postselect = PostSelect("[0,1] > 0");
    sim.min_photons_filter = 1;
    sim.differentiate_perf = true;
    sim.keep_heralds = c.keep_heralds;
    if (c.threshold_detectors)
        sim.set_detectors({threshold(), threshold(), threshold(), threshold()});
    const Source source(0.9, 0.03, 0.8);
    const FockState expected = fs({1, 1, 1, 0});
    const auto samples = sim.samples(source, expected, 6000, {});
    ASSERT_EQ(samples.size(), 6000u);

    const Exact e = exact(u, source.generate_distribution(expected, 0.0), sim);
    const auto chi = clifford_reference::chi_square(e.accepted, samples);
    EXPECT_LT(chi.statistic, chi.bound()) << chi.degrees << " degrees";
    // Each figure is a ratio of binomial counts over thousands of shots.
    EXPECT_NEAR(sim.get_physical_perf(), e.physical, 0.03);
    EXPECT_NEAR(sim.get_logical_perf(), e.logical, 0.03);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoisyStatisticsTest,
                         testing::Values(StatisticsCase{"CountingOneTask", false, true, 1},
                                         StatisticsCase{"ThresholdFourTasks", true, true, 4},
                                         StatisticsCase{"DroppedHeraldsTwoTasks", false, false, 2}),
                         [](auto const& info) { return info.param.name; });

TEST(NoisyStatisticsTest, StateVectorRunsFollowTheExactNoisyDistribution) {
    ThreadCount threads(2);
    RNG::rng.seed(99);
    const Matrix u = haar(3, 8);
    SamplingSimulator sim(sampler_on(u));
    sim.heralds = {{2, 1}};
    sim.min_photons_filter = 1;
    sim.differentiate_perf = true;
    const auto input =
        svd({{"|{0},{1},1>", 0.5}, {"|1,1,1>", 0.3}, {"|1,0,0>", 0.15}, {"|0,0,0>", 0.05}});
    const auto samples = sim.samples(input, 5000, {});
    ASSERT_EQ(samples.size(), 5000u);
    const Exact e = exact(u, input, sim);
    const auto chi = clifford_reference::chi_square(e.accepted, samples);
    EXPECT_LT(chi.statistic, chi.bound()) << chi.degrees << " degrees";
    EXPECT_NEAR(sim.get_physical_perf(), e.physical, 0.03);
    EXPECT_NEAR(sim.get_logical_perf(), e.logical, 0.03);
}

// Whatever counts the herald failures, their product is the rate of accepted samples.
TEST(NoisyStatisticsTest, PerformanceProductDoesNotDependOnTheFlag) {
    ThreadCount threads(2);
    RNG::rng.seed(3);
    SamplingSimulator sim(sampler_on(haar(3, 9)));
    sim.set_detectors({threshold(), threshold(), threshold()});
    sim.heralds = {{0, 1}};
    const Source source(0.9, 0.03, 0.8);
    double product[2];
    for (bool flag : {false, true}) {
        sim.differentiate_perf = flag;
        sim.samples(source, fs({1, 1, 1}), 4000, {});
        product[flag] = sim.get_physical_perf() * sim.get_logical_perf();
    }
    EXPECT_NEAR(product[0], product[1], 0.03);
}

// ---------------------------------------------------------------- progress and threads

TEST(SamplingSimulatorTest, ACancellingCallbackStopsTheRunAndLeavesTheFlag) {
    ThreadCount threads(2);
    SamplingSimulator sim(sampler_on(haar(3, 5)));
    sim.postselect = PostSelect("[0] < 3");
    std::vector<double> progress;
    sim.progress_callback = [&](double p, std::string const& text) {
        EXPECT_EQ(text, "Sampling...");
        progress.push_back(p);
        return progress.size() == 2;
    };
    sim.callback_interval = 1;
    BSSamples samples;
    EXPECT_NO_THROW(samples =
                        sim.samples(Source(0.9, 0.03, 0.8), fs({1, 1, 1}), 2'000'000'000, {}));
    EXPECT_TRUE(InterruptSignalHandler::is_interrupted());
    InterruptSignalHandler::interrupted = false;
    EXPECT_LT(samples.size(), 2'000'000'000u);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 0.0);
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_GT(sim.get_logical_perf(), 0.0);
}

// Ctrl-C (the flag set from another thread) or a cancelling callable that meets the tasks inside
// a long sample returns what is done on both paths, as a stop between two samples does: 20
// photons keep a task in its sub-permanents for a good while.
struct StopCase {
    bool noisy;
    bool by_callback;
};

class StopInsideASampleTest : public testing::TestWithParam<StopCase> {};

TEST_P(StopInsideASampleTest, ReturnsWhatIsDone) {
    ThreadCount threads(2);
    SamplingSimulator sim(sampler_on(haar(40, 7)));
    if (GetParam().noisy) sim.postselect = PostSelect("[0] < 30");
    int calls = 0;
    if (GetParam().by_callback) {
        sim.progress_callback = [&](double, std::string const&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return ++calls == 3;
        };
        sim.callback_interval = 1;
    }
    std::thread ctrl_c([&] {
        if (GetParam().by_callback) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        InterruptSignalHandler::interrupted = true;
    });
    std::vector<int> input(40, 0);
    std::fill(input.begin(), input.begin() + 20, 1);
    StateVectorDistribution d;
    d.set(StateVector(BasicState(fs(input))), 1.0);
    BSSamples samples;
    EXPECT_NO_THROW(samples = sim.samples(d, 100'000, {}));
    ctrl_c.join();
    EXPECT_TRUE(InterruptSignalHandler::is_interrupted());
    InterruptSignalHandler::interrupted = false;
    EXPECT_LT(samples.size(), 100'000u);
    if (GetParam().by_callback) {
        EXPECT_EQ(calls, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StopInsideASampleTest,
                         testing::Values(StopCase{false, false}, StopCase{true, false},
                                         StopCase{false, true}, StopCase{true, true}),
                         [](auto const& info) {
                             return std::string(info.param.noisy ? "Noisy" : "Perfect") +
                                    (info.param.by_callback ? "ByCallback" : "ByCtrlC");
                         });

TEST(SamplingSimulatorTest, AFailingCallbackStopsEveryTaskBeforeItLeaves) {
    ThreadCount threads(3);
    SamplingSimulator sim(sampler_on(haar(3, 6)));
    sim.postselect = PostSelect("[0] < 3");
    int calls = 0;
    sim.progress_callback = [&](double, std::string const&) -> bool {
        if (++calls == 2) throw std::domain_error("from the callable");
        return false;
    };
    sim.callback_interval = 1;
    // Without the stop, the tasks would draw two billion samples before the error came out.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(sim.samples(Source(0.9, 0.03, 0.8), fs({1, 1, 1}), 2'000'000'000, {}),
                 std::domain_error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(InterruptSignalHandler::is_interrupted());
}

// The callable changes every setting, the callable itself included, and the shared sampler's
// unitary while the tasks work: the run goes on with what it started from, the next run takes
// the changes.
TEST(SamplingSimulatorTest, ARunKeepsTheSettingsItStartedWith) {
    ThreadCount threads(3);
    auto shared = sampler_on(Matrix::Identity(3, 3));
    SamplingSimulator sim(shared);
    sim.heralds = {{2, 0}};
    sim.keep_heralds = false;
    sim.postselect = PostSelect("[0] == 1");
    sim.callback_interval = 1;
    int calls = 0;
    sim.progress_callback = [&](double, std::string const&) {
        ++calls;
        sim.heralds = {{2, 0}};
        sim.heralds = {};
        sim.keep_heralds = true;
        sim.postselect.merge(PostSelect("[1] == 1"));
        sim.postselect = PostSelect("[0] == 0");
        sim.min_photons_filter = 3;
        sim.differentiate_perf = true;
        sim.set_detectors({threshold(), threshold(), threshold()});
        shared->setUnitary(Matrix::Identity(2, 2));
        sim.progress_callback = nullptr;
        return false;
    };
    const auto samples = sim.samples(Source(0.9, 0.03, 0.8), fs({1, 1, 0}), 200'000, {});
    EXPECT_GE(calls, 2);
    ASSERT_EQ(samples.size(), 200'000u);
    for (auto const& state : samples) {
        ASSERT_EQ(state.m(), 2);
        ASSERT_EQ(state[0], 1);
    }
    EXPECT_FALSE(sim.progress_callback);
    EXPECT_EQ(sim.heralds.size(), 0u);
    EXPECT_THROW(sim.samples(Source(0.9, 0.03, 0.8), fs({1, 1, 0}), 10, {}), std::runtime_error);
}

TEST(SamplingSimulatorTest, SeveralTasksShareTheBudgetsExactly) {
    ThreadCount threads(4);
    SamplingSimulator sim(sampler_on(haar(4, 10)));
    sim.heralds = {{0, 0}};
    EXPECT_EQ(sim.samples(Source(0.9, 0.03, 0.8), fs({0, 1, 1, 1}), 777, {}).size(), 777u);
    // Spent shots end the run: the two billion sample slots left are not counted down.
    const auto start = std::chrono::steady_clock::now();
    const auto few = sim.samples(Source(0.9, 0.03, 0.8), fs({0, 1, 1, 1}), 2'000'000'000, 300);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LE(few.size(), 300u);
    EXPECT_GT(few.size(), 0u);
}

TEST(SamplingSimulatorTest, ClonesOwnTheirSamplerAndDetectors) {
    auto shared = sampler_on(Matrix::Identity(2, 2));
    SamplingSimulator sim(shared);
    sim.heralds = {{1, 0}};
    sim.postselect = PostSelect("[0] == 1");
    sim.set_detectors({threshold(), threshold()});
    const SamplingSimulator copy(sim);
    EXPECT_EQ(copy.sampler(), shared);
    EXPECT_EQ(copy.detectors()[0], sim.detectors()[0]);
    SamplingSimulator clone = sim.clone();
    EXPECT_EQ(clone.detector_behaviour(), 1);
    EXPECT_EQ(clone.heralds, sim.heralds);
    EXPECT_EQ(clone.postselect, sim.postselect);
    EXPECT_NE(clone.detectors()[0], sim.detectors()[0]);
    clone.sampler()->setUnitary(backend_reference::beam_splitter());
    EXPECT_EQ(shared->get_unitary(), Matrix::Identity(2, 2));
}

}  // namespace
