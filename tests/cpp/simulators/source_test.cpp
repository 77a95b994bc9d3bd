#include "simulators/source.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "simulators/source_groups.h"
#include "states/any_fs_utils.h"
#include "test_support.h"

namespace {

using test_support::expect_throw_message;
using test_support::UserLog;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

StateVector sv(std::string const& text) {
    return StateVector(AnyFSUtils::parse(text));
}

FockState fs(std::vector<int> const& counts) {
    return FockState(counts);
}

struct InvalidCase {
    std::string name;
    double e, g, m, l;
    std::string message;
};

class SourceRefusesTest : public testing::TestWithParam<InvalidCase> {};

TEST_P(SourceRefusesTest, WithTheFirstFailingMessage) {
    const auto& c = GetParam();
    expect_throw_message<std::invalid_argument>([&] { Source(c.e, c.g, c.m, c.l, false); },
                                                c.message);
}

const std::string emission = "emission_probability must be in (0;1]";
const std::string g2 = "multiphoton_component must be in [0,1]";
const std::string product = "emission_probability * g2 higher than 0.5 can not be computed";
const std::string hom = "indistinguishability must be in [0,1]";
const std::string losses = "losses must be in [0,1)";

INSTANTIATE_TEST_SUITE_P(
    Parameters, SourceRefusesTest,
    testing::Values(InvalidCase{"NoEmission", 0, 0, 1, 0, emission},
                    InvalidCase{"EmissionAboveOne", 1.01, 0, 1, 0, emission},
                    InvalidCase{"EmissionNaN", nan, 0, 1, 0, emission},
                    InvalidCase{"NegativeG2", 1, -0.1, 1, 0, g2},
                    InvalidCase{"G2NaN", 1, nan, 1, 0, g2},
                    InvalidCase{"ProductAboveHalf", 1, 0.6, 1, 0, product},
                    InvalidCase{"IndistinguishabilityAboveOne", 1, 0, 1.5, 0, hom},
                    InvalidCase{"IndistinguishabilityNaN", 1, 0, nan, 0, hom},
                    InvalidCase{"TotalLosses", 1, 0, 1, 1, losses},
                    InvalidCase{"NegativeLosses", 1, 0, 1, -0.1, losses},
                    InvalidCase{"LossesNaN", 1, 0, 1, nan, losses},
                    InvalidCase{"OnlyTheFirstIsReported", 0, 2, 2, 2, emission},
                    InvalidCase{"ProductBeforeIndistinguishability", 1, 0.6, 2, 2, product}),
    [](const auto& info) { return info.param.name; });

TEST(SourceTest, AcceptsTheEdgesOfItsDomain) {
    const Source half(1, 0.5, 0, 0, true);
    EXPECT_EQ(half.prob_two_photons(), 1.0);  // p2 = 1, p1 = 0
    EXPECT_EQ(half.prob_signal_photon(), 0.0);
    EXPECT_NO_THROW(Source(1, 0, 1, 0.999, true));
    EXPECT_NO_THROW(Source(1e-300, 1, 1, 0, true));
}

// p2 is the root of g = 2·p2 / (p1 + 2·p2)², and the four position probabilities add to 1.
TEST(SourceTest, DerivedProbabilitiesFollowTheModel) {
    for (const auto& [e, g, l] : std::vector<std::tuple<double, double, double>>{
             {0.9, 0.03, 0.1}, {1, 0.5, 0}, {0.5, 0.2, 0.4}, {0.3, 1, 0}}) {
        const Source s(e, g, 0.8, l, false);
        const double t = 1 - l;
        const double p2 = s.prob_two_photons() / (t * t);
        const double p1 = e - p2;
        EXPECT_NEAR(2 * p2 / ((p1 + 2 * p2) * (p1 + 2 * p2)), g, 1e-12);
        EXPECT_LE(p2, p1 + 2 * p2);
        EXPECT_NEAR(s.prob_noise_photon(), (1 - t) * t * p2, 1e-15);
        EXPECT_NEAR(s.prob_no_photon() + s.prob_signal_photon() + s.prob_noise_photon() +
                        s.prob_two_photons(),
                    1.0, 1e-15);
        EXPECT_DOUBLE_EQ(s.prob_distinguishable(), 1 - std::sqrt(0.8));
    }
    const Source no_g2(0.8, 0, 1, 0.25, true);
    EXPECT_EQ(no_g2.prob_two_photons(), 0.0);
    EXPECT_EQ(no_g2.prob_noise_photon(), 0.0);
    EXPECT_DOUBLE_EQ(no_g2.prob_signal_photon(), 0.75 * 0.8);
    EXPECT_DOUBLE_EQ(no_g2.prob_no_photon(), 1 - 0.75 * 0.8);
}

TEST(SourceTest, PerfectAndPartiallyDistinguishable) {
    EXPECT_TRUE(Source().is_perfect());
    EXPECT_FALSE(Source().is_partially_distinguishable());
    EXPECT_FALSE(Source(0.99).is_perfect());
    EXPECT_FALSE(Source(0.9, 0.03, 1, 0, false).is_partially_distinguishable());
    EXPECT_TRUE(Source(0.9, 0.03, 1, 0, true).is_partially_distinguishable());
    EXPECT_FALSE(Source(0.9, 0, 1, 0, true).is_partially_distinguishable());
    EXPECT_TRUE(Source(1, 0, 0.999, 0, false).is_partially_distinguishable());
    EXPECT_TRUE(Source(1, 0, 1, 0, true) == Source());
    EXPECT_FALSE(Source(1, 0, 1, 0, false) == Source());
}

TEST(SourceTest, PerfectSourceDeliversTheExpectedInput) {
    const auto d = Source().generate_distribution(fs({1, 0, 1}), 0);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.get(sv("|1,0,1>")), 1.0);
}

TEST(SourceTest, PartiallyDistinguishableTwoPhotons) {
    const double x = 1 - std::sqrt(0.5);
    const auto d = Source(1, 0, 0.5, 0, false).generate_distribution(fs({1, 1}), 0);
    EXPECT_EQ(d.size(), 4u) << fmt::format("{}", d);
    EXPECT_NEAR(d.get(sv("|{0},{0}>")), 0.5, 1e-15);
    EXPECT_NEAR(d.get(sv("|{1},{0}>")), x * (1 - x), 1e-15);
    EXPECT_NEAR(d.get(sv("|{0},{2}>")), x * (1 - x), 1e-15);
    EXPECT_NEAR(d.get(sv("|{1},{2}>")), x * x, 1e-15);
}

TEST(SourceTest, IndistinguishableSourceGivesPerfectStatesOnly) {
    const Source s(0.9, 0.05, 1, 0.2, false);
    const auto d = s.generate_distribution(fs({2, 0, 1}), 0);
    double total = 0;
    for (const auto& [key, p] : d) {
        EXPECT_TRUE(std::holds_alternative<FockState>(key.begin_unnormalized()->first));
        total += p;
    }
    EXPECT_NEAR(total, 1.0, 1e-12);
    // One mode of one expected photon: 0, 1 or 2 photons.
    const double p0 = s.prob_no_photon(), p1 = s.prob_signal_photon() + s.prob_noise_photon(),
                 p2 = s.prob_two_photons();
    EXPECT_NEAR(d.get(sv("|0,0,0>")), p0 * p0 * p0, 1e-15);
    EXPECT_NEAR(d.get(sv("|0,0,2>")), p0 * p0 * p2, 1e-15);
    EXPECT_NEAR(d.get(sv("|1,0,1>")), 2 * p0 * p1 * p1, 1e-15);
    EXPECT_NEAR(d.get(sv("|4,0,2>")), p2 * p2 * p2, 1e-15);
}

TEST(SourceTest, ModeWithoutPhotonIsTheVacuum) {
    std::uint8_t counter = 7;
    const auto d = Source(0.5, 0.1, 0.3, 0.2, true).probability_distribution(0, 0.1, counter);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.get(sv("|0>")), 1.0);
    EXPECT_EQ(counter, 7);
}

TEST(SourceTest, OnePhotonTagsFollowTheAdditionalPhotonFlag) {
    const Source dist(1, 0.2, 0.5, 0, true), common(1, 0.2, 0.5, 0, false);
    std::uint8_t counter = 3;
    const auto d = dist._generate_one_photon_distribution(0, counter);
    EXPECT_EQ(counter, 5);
    const double x = dist.prob_distinguishable(), ps = dist.prob_signal_photon(),
                 pn = dist.prob_noise_photon(), p2 = dist.prob_two_photons();
    EXPECT_EQ(d.size(), 4u) << fmt::format("{}", d);  // no vacuum: nothing is lost
    EXPECT_DOUBLE_EQ(d.get(sv("|{4}>")), x * ps + pn);
    EXPECT_DOUBLE_EQ(d.get(sv("|{0}>")), (1 - x) * ps);
    EXPECT_DOUBLE_EQ(d.get(sv("|{0}{5}>")), (1 - x) * p2);
    EXPECT_DOUBLE_EQ(d.get(sv("|{4}{5}>")), x * p2);

    counter = 3;
    const auto c = common._generate_one_photon_distribution(0, counter);
    EXPECT_EQ(counter, 4);
    EXPECT_DOUBLE_EQ(c.get(sv("|{4}>")), x * ps);
    EXPECT_DOUBLE_EQ(c.get(sv("|{0}>")), (1 - x) * ps + pn);
    EXPECT_DOUBLE_EQ(c.get(sv("|2{0}>")), (1 - x) * p2);
    EXPECT_DOUBLE_EQ(c.get(sv("|{0}{4}>")), x * p2);
}

// Wrapped tags would make distinguishable photons of far-apart positions interfere.
TEST(SourceTest, RefusesMoreThan255DistinguishableTags) {
    const std::string message =
        "More than 255 distinguishable photons: noise tags cannot tell them apart";
    const Source one_tag(1, 0.1, 0.5, 0, false), two_tags(1, 0.1, 0.5, 0, true);
    std::uint8_t counter = 254;
    one_tag._generate_one_photon_distribution(0, counter);
    EXPECT_EQ(counter, 255);
    expect_throw_message<std::runtime_error>(
        [&] { one_tag._generate_one_photon_distribution(0, counter); }, message);
    counter = 253;
    two_tags._generate_one_photon_distribution(0, counter);
    EXPECT_EQ(counter, 255);
    counter = 254;
    expect_throw_message<std::runtime_error>(
        [&] { two_tags._generate_one_photon_distribution(0, counter); }, message);

    expect_throw_message<std::runtime_error>(
        [&] { one_tag.generate_distribution(FockState(std::vector<int>(256, 1)), 0.5); }, message);
    expect_throw_message<std::runtime_error>(
        [&] { two_tags.generate_distribution(FockState(std::vector<int>(128, 1)), 0.5); }, message);
    // Photons of an indistinguishable source need no tag.
    const Source perfect_photons(0.9, 0, 1, 0, true);
    EXPECT_TRUE(
        perfect_photons.generate_distribution(FockState(std::vector<int>(256, 1)), 0.5).empty());
}

TEST(SourceTest, InsertStateKeepsOnlyProbabilitiesAboveTheThreshold) {
    StateVectorDistribution d;
    Source::insert_state(d, 2, 0.25, 0.25);
    EXPECT_TRUE(d.empty());
    Source::insert_state(d, 2, 0.5, 0.25);
    Source::insert_state(d, 2, 0.75, 0.25);                               // replaces
    Source::insert_state(d, std::vector<unsigned char>{3, 1}, 0.5, 0.0);  // order kept
    EXPECT_EQ(d.size(), 2u);
    EXPECT_EQ(d.get(sv("|2>")), 0.75);
    int tagged = 0;
    for (const auto& [key, p] : d) {
        const auto* noisy = std::get_if<NoisyFockState>(&key.begin_unnormalized()->first);
        if (!noisy) continue;
        ++tagged;
        EXPECT_EQ(noisy->tags()[0], 3);
        EXPECT_EQ(noisy->tags()[1], 1);
        EXPECT_EQ(p, 0.5);
    }
    EXPECT_EQ(tagged, 1);
    EXPECT_EQ(d.n_max(), 2);
    EXPECT_THROW(Source::insert_state(d, std::vector<unsigned char>(8192, 0), 1.0, 0.0),
                 std::runtime_error);
}

// A threshold that empties the first photon's distribution leaves nothing to merge; the mode is
// then empty, not an error.
TEST(SourceTest, ThresholdThatEmptiesAPhotonEmptiesItsMode) {
    const Source s(1, 0, 1, 0.5, false);
    std::uint8_t counter = 0;
    EXPECT_TRUE(s.probability_distribution(2, 0.6, counter).empty());
    UserLog log;
    EXPECT_TRUE(s.generate_distribution(fs({2, 1}), 0.6).empty());
    EXPECT_EQ(log.text(), "[warning] Unable to normalize an object with only null components\n");
}

TEST(SourceTest, NothingLeftWarnsAndReturnsEmpty) {
    UserLog log;
    EXPECT_TRUE(Source(0.9).generate_distribution(FockState(0), 0).empty());
    EXPECT_TRUE(Source(0.5, 0, 0.9).generate_distribution(fs({1, 1}), 0.9).empty());
    EXPECT_EQ(log.text(),
              "[warning] Unable to normalize an object with only null components\n"
              "[warning] Unable to normalize an object with only null components\n");
}

TEST(SourceTest, ThresholdRenormalisesWhatIsKept) {
    const Source s(0.9, 0.05, 0.8, 0.1, true);
    const auto full = s.generate_distribution(fs({2, 1}), 0);
    const auto cut = s.generate_distribution(fs({2, 1}), 1e-3);
    EXPECT_LT(cut.size(), full.size());
    double kept = 0, total = 0;
    for (const auto& [key, p] : full) {
        total += p;
        if (cut.contains(key)) kept += p;
    }
    EXPECT_NEAR(total, 1.0, 1e-12);
    for (const auto& [key, p] : cut) {
        EXPECT_GE(full.get(key), 1e-3 - 1e-15);
        EXPECT_NEAR(p, full.get(key) / kept, 1e-12);
    }
}

// The mixture's mass per photon count, against the binomial law of independent positions with
// one expected photon each (0, 1 or 2 photons each).
TEST(SourceTest, PhotonCountsFollowIndependentPositions) {
    const Source s(0.8, 0.1, 0.6, 0.3, true);
    const auto d = s.generate_distribution(fs({1, 2, 0, 1}), 0);
    const double q[3] = {s.prob_no_photon(), s.prob_signal_photon() + s.prob_noise_photon(),
                         s.prob_two_photons()};
    std::vector<double> expected(9, 0.0);
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            for (int c = 0; c < 3; ++c)
                for (int e = 0; e < 3; ++e) expected[a + b + c + e] += q[a] * q[b] * q[c] * q[e];
    std::vector<double> got(9, 0.0);
    for (const auto& [groups, p] : source_groups::from_distribution(d))
        got[source_groups::photons(groups)] += p;
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(got[k], expected[k], 1e-14) << k;
}

void expect_refused(std::function<void()> const& f, std::string const& start) {
    try {
        f();
        ADD_FAILURE() << "not refused: " << start;
    } catch (std::length_error const& e) {
        EXPECT_EQ(std::string(e.what()).rfind(start, 0), 0u) << e.what();
    }
}

TEST(SourceTest, MixturesAndTablesBeyondMemoryAreRefusedBeforeTheyAreBuilt) {
    const Source source(0.9, 0.03, 0.8, 0.1, true);
    // 5 outcomes per photon, over 14 modes or within one mode.
    expect_refused([&] { source.generate_distribution(fs(std::vector<int>(14, 1)), 0.0); },
                   "The 6.1e+09 states of the source's mixture need about");
    expect_refused([&] { source.generate_distribution(fs({40}), -1.0); },
                   "The 1.21e+24 states of the source's mixture need about");
    // A threshold prunes the mixture: nothing is refused up front.
    EXPECT_NO_THROW(source.generate_distribution(fs(std::vector<int>(14, 1)), 1e-2));
    // (n + 1)(n + 2)(n + 3) / 6 and (n + 1) ... (n + 4) / 24 events.
    expect_refused([&] { source._compute_sampler_prob_table(100000, 0); },
                   "The 1.67e+14 events of the sampler's table need about");
    expect_refused([&] { source._compute_iterator_prob_table(100000, 0); },
                   "The 4.17e+18 events of the iterator's table need about");
}

TEST(SourceTest, CtrlCEndsTheMixture) {
    const Source source(0.9, 0.03, 0.8, 0.1, true);
    {
        test_support::CtrlC ctrl_c;
        expect_throw_message<KeyboardInterruptException>(
            [&] { source.generate_distribution(fs(std::vector<int>(8, 1)), 0.0); },
            "Process interrupted by user.");
    }
    EXPECT_EQ(source.generate_distribution(fs({1, 1}), 0.0).size(), 25u);
}

}  // namespace
