#include "backends/slap.h"

#include <climits>
#include <cmath>
#include <complex>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/configurator_map.h"
#include "backends/fock_state_indexing.h"
#include "backends/slap_walker.h"
#include "backends/slap_walker_filtered.h"
#include "fockspace/fs_array.h"
#include "fockspace/fs_mask.h"
#include "runtime/combinatorics.h"
#include "runtime/config.h"
#include "test_support.h"

namespace {

using namespace backend_reference;
using Backend::FeedForwardEntry;
using Backend::FixedComponent;
using Backend::SLAP;
using test_support::all_counts;
using test_support::expect_throw_message;

constexpr double tolerance = 1e-10;

SLAP make_slap(Matrix const& u, Counts const& input) {
    SLAP slap;
    slap.setUnitary(u);
    slap.setInputState(FockState(input));
    return slap;
}

void expect_near(std::vector<cx> const& actual, std::vector<cx> const& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(std::abs(actual[i] - expected[i]), 0.0, tolerance) << "output " << i;
}

TEST(SLAPTest, TwoModeExample) {
    Matrix u(2, 2);
    u << 1, cx(0, 1), cx(0, 1), 1;
    u *= 0.7071068;
    SLAP slap = make_slap(u, {1, 1});
    expect_near(slap.getAmplitudes(), {cx(0, 0.707106818813453), 0.0, cx(0, 0.707106818813453)});
    EXPECT_EQ(slap.getFockSpace(), states({{2, 0}, {1, 1}, {0, 2}}));
}

TEST(SLAPTest, PhotonsOfOneModeAndPhotonsOfTheLastMode) {
    std::mt19937 engine(3);
    const Matrix u = haar_unitary(3, engine);
    // The 1/sqrt(2) of the input and of the output combine with the permanent 2 U00^2.
    SLAP doubled = make_slap(u, {2, 0, 0});
    EXPECT_NEAR(std::abs(doubled.getAmplitudes()[0] - u(0, 0) * u(0, 0)), 0.0, tolerance);
    SLAP last = make_slap(u, {0, 0, 1});
    expect_near(last.getAmplitudes(), {u(0, 2), u(1, 2), u(2, 2)});
}

// Indices follow the walk's leaves; the masked walk numbers the accepted leaves only.
TEST(SLAPWalkerTest, LeavesInNaturalOrder) {
    struct Node {
        int mode;
        int degree;
        Counts state;
    };
    Backend::SLAPWalkerNaive walker(3, 2);
    std::vector<Node> nodes;
    std::vector<Counts> leaves;
    for (; !walker.complete(); walker.computeNextNode()) {
        nodes.push_back({walker.getMode(), walker.getDegree(), walker.getState()});
        if (walker.isOnLeaf()) {
            EXPECT_EQ(walker.getResultIndex(), leaves.size());
            leaves.push_back(walker.getState());
        }
    }
    EXPECT_EQ(nodes.size(), 9u);
    EXPECT_EQ(leaves, all_counts(3, 2));
    EXPECT_EQ(walker.getFinalSize(), 6u);

    Backend::SLAPWalkerFiltered filtered(3, 2, FsMask(3, 2, " 0 "));
    leaves.clear();
    for (; !filtered.complete(); filtered.computeNextNode())
        if (filtered.isOnLeaf()) {
            EXPECT_EQ(filtered.getResultIndex(), leaves.size());
            leaves.push_back(filtered.getState());
        }
    EXPECT_EQ(leaves, (std::vector<Counts>{{2, 0, 0}, {1, 0, 1}, {0, 0, 2}}));

    EXPECT_TRUE(Backend::SLAPWalkerFiltered(3, 2, FsMask(3, 2, "3  ")).complete());
    EXPECT_TRUE(Backend::SLAPWalkerNaive(0, 2).complete());
}

TEST(SLAPTest, MaskedResultsFollowTheMaskedSpace) {
    std::mt19937 engine(4);
    const Matrix u = haar_unitary(3, engine);
    SLAP slap = make_slap(u, {1, 0, 1});
    const auto full = slap.getAmplitudes();
    slap.setMask(FsMask(3, 2, " 0 "));
    expect_near(slap.getAmplitudes(), {full[0], full[2], full[5]});
    EXPECT_EQ(slap.getFockSpace(), states({{2, 0, 0}, {1, 0, 1}, {0, 0, 2}}));
    EXPECT_EQ(slap.computeProbabilityDistribution().size(), 3u);
    // A mask accepting all is the plain walk.
    slap.setMask(FsMask(3, 2, "   "));
    expect_near(slap.getAmplitudes(), full);
    // Zero photons: the vacuum, whatever the mask.
    slap.setInputState(FockState(3));
    slap.setMask(FsMask(3, 0, "1  "));
    EXPECT_EQ(slap.getAmplitudes(), std::vector<cx>{1.0});
    EXPECT_EQ(slap.getFockSpace(), std::vector<FockState>{FockState(3)});
    EXPECT_EQ(slap.computeProbabilityDistribution().get(FockState(3)), 1.0);
}

TEST(SLAPTest, ResultsAreKeptUntilASetterChangesWhatTheyDependOn) {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(3, engine);
    SLAP slap = make_slap(u, {1, 0, 1});
    slap.setMask(FsMask(3, 2, "1  "));
    const auto values = slap.getAmplitudes();
    const auto* data = slap.getAmplitudes().data();
    slap.setInputState(FockState(std::vector<int>{1, 0, 1}));
    slap.setMask(FsMask(3, 2, "1  "));
    slap.getFockSpace();
    EXPECT_EQ(slap.getAmplitudes().data(), data);
    // A failed setter keeps everything, the stored result included.
    EXPECT_THROW(slap.setUnitary(Matrix::Ones(3, 3)), std::runtime_error);
    EXPECT_THROW(slap.addFfUnitary({Matrix::Identity(2, 2), 2}), std::runtime_error);
    EXPECT_EQ(slap.getAmplitudes().data(), data);
    EXPECT_EQ(slap.getAmplitudes(), values);

    // Each setter's change shows in the next result.
    const Matrix other = haar_unitary(3, engine);
    slap.setUnitary(other);
    // The mask keeps |1,1,0> and |1,0,1>, outputs 1 and 2 of the full space.
    const auto full = make_slap(other, {1, 0, 1}).getAmplitudes();
    expect_near(slap.getAmplitudes(), {full[1], full[2]});
    slap.setMask(std::nullopt);
    EXPECT_EQ(slap.getAmplitudes().size(), 6u);
    slap.setInputState(FockState(std::vector<int>{2, 0, 0}));
    EXPECT_NEAR(std::abs(slap.getAmplitudes()[0] - other(0, 0) * other(0, 0)), 0.0, tolerance);
    Matrix swap(2, 2);
    swap << 0, 1, 1, 0;
    const auto before = slap.getAmplitudes();
    slap.addFfUnitary({swap, 0});
    EXPECT_NEAR(std::abs(slap.getAmplitudes()[3] - before[0]), 0.0, tolerance);
    slap.resetFfMap();
    expect_near(slap.getAmplitudes(), before);
}

TEST(SLAPTest, ClonesReturnTheStoredResultAndStayIndependent) {
    std::mt19937 engine(6);
    SLAP slap = make_slap(haar_unitary(4, engine), {1, 2, 0, 1});
    slap.addFfUnitary({haar_unitary(2, engine), 2});
    const auto values = slap.getAmplitudes();
    const auto clone = slap.clone();
    EXPECT_EQ(clone->getAmplitudes(), values);
    clone->setMask(FsMask(4, 4, " 1  "));
    slap.resetFfMap();
    EXPECT_NE(slap.getAmplitudes(), values);
    EXPECT_EQ(clone->getAmplitudes().size(), FsArray(4, 4, FsMask(4, 4, " 1  ")).count());
}

// Sizes the walk cannot take are refused before anything is allocated.
TEST(SLAPTest, ComputationsOutsideTheWalkAreRefused) {
    SLAP no_unitary;
    no_unitary.setInputState(FockState(std::vector<int>{1}));
    expect_throw_message<std::runtime_error>(
        [&] { no_unitary.getAmplitudes(); },
        "Matrix/input state sizes mismatch: 1 input modes for a unitary of 0 modes");

    SLAP wide_input = make_slap(Matrix::Identity(2, 2), {0, 0, 1});
    EXPECT_THROW(wide_input.computeProbabilities(), std::runtime_error);
    EXPECT_EQ(wide_input.getFockSpace().size(), 2u);

    // Fewer modes than the unitary, photons or not: the same refusal as for more.
    SLAP narrow_input = make_slap(Matrix::Identity(3, 3), {1, 1});
    expect_throw_message<std::runtime_error>(
        [&] { narrow_input.getAmplitudes(); },
        "Matrix/input state sizes mismatch: 2 input modes for a unitary of 3 modes");
    narrow_input.setInputState(FockState());
    expect_throw_message<std::runtime_error>(
        [&] { narrow_input.getAmplitudes(); },
        "Matrix/input state sizes mismatch: 0 input modes for a unitary of 3 modes");

    SLAP crowded = make_slap(Matrix::Identity(2, 2), {31, 0});
    expect_throw_message<std::runtime_error>([&] { crowded.getAmplitudes(); },
                                             "SLAP computes up to 30 photons, not 31");

    SLAP mismatched_mask = make_slap(Matrix::Identity(2, 2), {1, 1});
    mismatched_mask.setMask(FsMask(3, 2, "1  "));
    expect_throw_message<std::runtime_error>(
        [&] { mismatched_mask.getAmplitudes(); },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 2");
    // Each failure leaves no result, and the mended configuration computes.
    mismatched_mask.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(mismatched_mask.getAmplitudes().size(), 1u);
    crowded.setInputState(FockState(std::vector<int>{3, 0}));
    expect_near(crowded.getAmplitudes(), {1.0, 0.0, 0.0, 0.0});
}

// ---------------------------------------------------------------------------------------------
// Feed-forward

// The full matrix of an output state: every entry's block, a configurator's chosen by the
// state's own measured counts, extended by the identity and applied after U in entry order.
Matrix effective_unitary(Matrix const& u, std::vector<FeedForwardEntry> const& entries,
                         Counts const& output) {
    Matrix v = u;
    for (auto const& entry : entries) {
        Matrix block;
        int first;
        if (auto const* fixed = std::get_if<FixedComponent>(&entry)) {
            block = fixed->first;
            first = fixed->second;
        } else {
            auto const& c = std::get<ConfiguratorMap>(entry);
            const Counts key(output.begin() + c.first_measured_mode(),
                             output.begin() + c.last_measured_mode() + 1);
            block = c[key];
            first = c.first_configured_mode();
        }
        Matrix extended = Matrix::Identity(u.rows(), u.cols());
        extended.block(first, first, block.rows(), block.cols()) = block;
        v = extended * v;
    }
    return v;
}

// Every input of n photons against the permanents of the effective unitaries.
void check_feed_forward(Matrix const& u, std::vector<FeedForwardEntry> const& entries, int n,
                        std::optional<FsMask> const& mask) {
    const int m = static_cast<int>(u.rows());
    SLAP slap;
    slap.setUnitary(u);
    for (auto const& entry : entries) {
        if (auto const* fixed = std::get_if<FixedComponent>(&entry))
            slap.addFfUnitary(*fixed);
        else
            slap.addFfMap(std::get<ConfiguratorMap>(entry));
    }
    slap.setMask(mask);
    std::vector<Counts> outputs;
    for (auto const& s : all_counts(m, n))
        if (!mask || mask->match(FockState(s), false)) outputs.push_back(s);
    for (auto const& t : all_counts(m, n)) {
        SCOPED_TRACE(FockState(t).to_str());
        slap.setInputState(FockState(t));
        auto const& amplitudes = slap.getAmplitudes();
        ASSERT_EQ(amplitudes.size(), outputs.size());
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const cx expected =
                reference_permanent(effective_unitary(u, entries, outputs[i]), outputs[i], t) /
                std::sqrt(factorials(outputs[i]) * factorials(t));
            EXPECT_NEAR(std::abs(amplitudes[i] - expected), 0.0, tolerance)
                << FockState(outputs[i]).to_str();
        }
    }
}

struct FeedForwardCase {
    std::string name;
    int m;
    int n;
    // Built from a seeded engine: the entries, then the mask conditions (none for no mask).
    std::function<std::vector<FeedForwardEntry>(std::mt19937&)> entries;
    std::list<std::string> mask;
};

class FeedForwardTest : public ::testing::TestWithParam<FeedForwardCase> {};

TEST_P(FeedForwardTest, AmplitudesMatchTheBlocksOfEachOutcome) {
    auto const& c = GetParam();
    std::mt19937 engine(static_cast<unsigned>(c.m * 100 + c.n));
    const Matrix u = haar_unitary(c.m, engine);
    const auto entries = c.entries(engine);
    std::optional<FsMask> mask;
    if (!c.mask.empty()) mask = FsMask(c.m, c.n, c.mask);
    check_feed_forward(u, entries, c.n, mask);
}

ConfiguratorMap configurator(std::mt19937& engine, int first, int last, int configured, int size,
                             std::vector<Counts> const& keys) {
    std::map<Counts, Matrix> blocks;
    for (auto const& key : keys) blocks.emplace(key, haar_unitary(size, engine));
    return ConfiguratorMap(first, last, configured, blocks, haar_unitary(size, engine));
}

INSTANTIATE_TEST_SUITE_P(
    SLAP, FeedForwardTest,
    ::testing::Values(
        FeedForwardCase{
            "FixedBlock",
            4,
            3,
            [](std::mt19937& e) {
                return std::vector<FeedForwardEntry>{FixedComponent{haar_unitary(2, e), 1}};
            },
            {}},
        FeedForwardCase{
            "OneMeasuredMode",
            4,
            3,
            [](std::mt19937& e) {
                return std::vector<FeedForwardEntry>{configurator(e, 0, 0, 1, 3, {{1}, {2}})};
            },
            {}},
        FeedForwardCase{"TwoMeasuredModes",
                        5,
                        3,
                        [](std::mt19937& e) {
                            return std::vector<FeedForwardEntry>{
                                configurator(e, 0, 1, 2, 3, {{1, 0}, {0, 1}, {2, 0}, {1, 1}})};
                        },
                        {}},
        // The walk meets |1,0,0> then |0,2,0> in the measured modes: outcomes that agree in the
        // last measured mode and differ before it.
        FeedForwardCase{"ThreeMeasuredModes",
                        6,
                        3,
                        [](std::mt19937& e) {
                            return std::vector<FeedForwardEntry>{
                                configurator(e, 0, 2, 3, 3, {{1, 0, 0}, {0, 1, 1}, {2, 0, 0}})};
                        },
                        {}},
        // Mode 2 never holds a photon: the first configured node is always pruned.
        FeedForwardCase{"MaskedFirstConfiguredMode",
                        5,
                        3,
                        [](std::mt19937& e) {
                            return std::vector<FeedForwardEntry>{
                                configurator(e, 0, 1, 2, 3, {{1, 0}, {0, 1}, {2, 1}, {0, 0}})};
                        },
                        {"  0  "}},
        FeedForwardCase{
            "MaskedOneMeasuredMode",
            4,
            3,
            [](std::mt19937& e) {
                return std::vector<FeedForwardEntry>{configurator(e, 0, 0, 1, 2, {{0}, {2}})};
            },
            {" 0  ", "1 1 "}},
        // Two configurators and fixed blocks, chained.
        FeedForwardCase{"Chained",
                        6,
                        3,
                        [](std::mt19937& e) {
                            return std::vector<FeedForwardEntry>{
                                FixedComponent{haar_unitary(3, e), 1},
                                configurator(e, 0, 0, 1, 2, {{1}}),
                                configurator(e, 1, 2, 3, 3, {{0, 1}, {1, 0}, {1, 1}}),
                                FixedComponent{haar_unitary(2, e), 4}};
                        },
                        {}},
        FeedForwardCase{"ChainedMasked",
                        6,
                        3,
                        [](std::mt19937& e) {
                            return std::vector<FeedForwardEntry>{
                                configurator(e, 0, 0, 1, 2, {{1}, {0}}),
                                configurator(e, 1, 2, 3, 3, {{0, 1}, {1, 0}, {0, 0}})};
                        },
                        {" 0 0  ", "   1  "}}),
    [](auto const& info) { return info.param.name; });

TEST(FeedForwardTest, ValidationMessagesInOrder) {
    SLAP slap;
    const Matrix d = Matrix::Identity(2, 2);
    const ConfiguratorMap fitting(0, 0, 1, {}, d);
    expect_throw_message<std::runtime_error>(
        [&] { slap.addFfMap(fitting); },
        "The main unitary must be set before setting feed-forward");
    expect_throw_message<std::runtime_error>(
        [&] {
            slap.addFfUnitary({Matrix::Ones(2, 3), 0});
        },
        "The main unitary must be set before setting feed-forward");
    slap.setUnitary(Matrix::Identity(3, 3));

    const std::vector<std::pair<FixedComponent, std::string>> fixed{
        {{Matrix::Ones(2, 2), 0}, "Matrix is not unitary"},
        {{Matrix::Identity(3, 2), 0}, "Matrix is not unitary"},
        {{d, 2}, "Matrix is too big for the given circuit"},
        {{d, INT_MAX}, "Matrix is too big for the given circuit"},
        {{d, -1}, "Feed-forward mode -1 is outside the circuit of 3 modes"},
    };
    for (auto const& [component, message] : fixed)
        expect_throw_message<std::runtime_error>([&] { slap.addFfUnitary(component); }, message);

    const std::vector<std::pair<ConfiguratorMap, std::string>> maps{
        {ConfiguratorMap(0, 0, 2, {}, d), "Matrix is too big for the given circuit"},
        {ConfiguratorMap(0, 0, 1, {{{1}, Matrix::Identity(3, 3)}}, d),
         "Matrix is too big for the given circuit"},
        {ConfiguratorMap(0, 0, 1, {{{1}, Matrix::Identity(2, 1)}}, d),
         "Matrix is too big for the given circuit"},
        {ConfiguratorMap(0, 0, 0, {}, Matrix::Identity(2, 3)),
         "Matrix is too big for the given circuit"},
        {ConfiguratorMap(-1, 0, 1, {}, d),
         "Feed-forward mode -1 is outside the circuit of 3 modes"},
        {ConfiguratorMap(1, 3, 1, {}, d), "Matrix is too big for the given circuit"},
        {ConfiguratorMap(0, 0, -2, {}, d),
         "Feed-forward mode -2 is outside the circuit of 3 modes"},
        {ConfiguratorMap(0, 1, 1, {}, d),
         "The first configured mode 1 must come after the last measured mode 1"},
        {ConfiguratorMap(2, 2, 0, {}, d),
         "The first configured mode 0 must come after the last measured mode 2"},
        {ConfiguratorMap(0, 0, 1, {}, Matrix::Ones(2, 2)),
         "Matrix is not unitary: the configurator's default unitary"},
        {ConfiguratorMap(0, 0, 1, {{{0}, d}, {{3}, 2.0 * d}}, d),
         "Matrix is not unitary: the configurator's unitary for the measure (3)"},
    };
    for (auto const& [map, message] : maps)
        expect_throw_message<std::runtime_error>([&] { slap.addFfMap(map); }, message);

    // Refusals add nothing; a block ending on the last mode fits.
    slap.setInputState(FockState(std::vector<int>{1, 0, 0}));
    expect_near(slap.getAmplitudes(), {1.0, 0.0, 0.0});
    slap.addFfUnitary({d, 1});
    slap.addFfMap(fitting);
    expect_near(slap.getAmplitudes(), {1.0, 0.0, 0.0});
}

// Entries are checked against the unitary whenever either changes: a smaller unitary would let
// the walk read and write past it.
TEST(FeedForwardTest, SetUnitaryRefusesAMatrixAnEntryDoesNotFit) {
    std::mt19937 engine(4);
    const Matrix d = Matrix::Identity(2, 2);
    const std::vector<FeedForwardEntry> entries{
        FixedComponent{d, 2},
        ConfiguratorMap(0, 0, 2, {}, d),
        ConfiguratorMap(0, 0, 1, {{{1}, Matrix::Identity(3, 3)}}, Matrix::Identity(1, 1)),
        ConfiguratorMap(2, 3, 4, {}, Matrix::Identity(1, 1)),
    };
    for (auto const& entry : entries) {
        const Matrix u = haar_unitary(5, engine);
        SLAP slap = make_slap(u, {1, 0, 1, 0, 0});
        if (auto const* fixed = std::get_if<FixedComponent>(&entry))
            slap.addFfUnitary(*fixed);
        else
            slap.addFfMap(std::get<ConfiguratorMap>(entry));
        const auto before = slap.getAmplitudes();
        expect_throw_message<std::runtime_error>([&] { slap.setUnitary(Matrix::Identity(3, 3)); },
                                                 "Matrix is too big for the given circuit");
        // Unchanged: the same result without recomputing, and the same after recomputing.
        EXPECT_EQ(slap.getAmplitudes(), before);
        slap.compute();
        expect_near(slap.getAmplitudes(), before);
        EXPECT_EQ(slap.getFockSpace().size(), before.size());
        // A unitary the entry fits is taken.
        EXPECT_NO_THROW(slap.setUnitary(haar_unitary(5, engine)));
        slap.resetFfMap();
        EXPECT_NO_THROW(slap.setUnitary(Matrix::Identity(3, 3)));
    }
}

// Photons counted by a configurator are gone: a later block acting on its measured modes would
// change rows the walk has used before the configurator's block is chosen.
TEST(FeedForwardTest, LaterBlocksMustNotActOnMeasuredModes) {
    std::mt19937 engine(6);
    SLAP slap = make_slap(haar_unitary(5, engine), {1, 1, 0, 1, 0});
    slap.addFfMap(
        ConfiguratorMap(1, 2, 3, {{{1, 0}, haar_unitary(2, engine)}}, haar_unitary(2, engine)));
    const std::vector<std::pair<FeedForwardEntry, std::string>> refused{
        {FixedComponent{haar_unitary(2, engine), 0},
         "The block on modes 0 to 1 acts on modes 1 to 2, measured by an earlier configurator"},
        {FixedComponent{haar_unitary(3, engine), 2},
         "The block on modes 2 to 4 acts on modes 1 to 2, measured by an earlier configurator"},
        {ConfiguratorMap(0, 0, 2, {{{1}, haar_unitary(2, engine)}}, haar_unitary(1, engine)),
         "The block on modes 2 to 3 acts on modes 1 to 2, measured by an earlier configurator"},
    };
    const auto before = slap.getAmplitudes();
    for (auto const& [entry, message] : refused)
        expect_throw_message<std::runtime_error>(
            [&] {
                if (auto const* fixed = std::get_if<FixedComponent>(&entry))
                    slap.addFfUnitary(*fixed);
                else
                    slap.addFfMap(std::get<ConfiguratorMap>(entry));
            },
            message);
    EXPECT_EQ(slap.getAmplitudes(), before);
    // Blocks before or after the measured modes, and configurators measuring configured modes,
    // are taken; probabilities still sum to 1.
    slap.addFfUnitary({haar_unitary(1, engine), 0});
    slap.addFfUnitary({haar_unitary(2, engine), 3});
    slap.addFfMap(
        ConfiguratorMap(3, 3, 4, {{{1}, haar_unitary(1, engine)}}, haar_unitary(1, engine)));
    double total = 0;
    for (double p : slap.computeProbabilities()) total += p;
    EXPECT_NEAR(total, 1.0, tolerance);
}

TEST(FeedForwardTest, AddingAndResettingEntriesRecomputes) {
    std::mt19937 engine(8);
    const Matrix u = haar_unitary(3, engine);
    SLAP slap = make_slap(u, {1, 1, 0});
    const auto plain = slap.getAmplitudes();
    Matrix swap(2, 2);
    swap << 0, 1, 1, 0;
    // Swapping modes 1 and 2 after U swaps those outputs.
    slap.addFfMap(ConfiguratorMap(0, 0, 1, {}, swap));
    expect_near(slap.getAmplitudes(), {plain[0], plain[2], plain[1], plain[5], plain[4], plain[3]});
    slap.resetFfMap();
    expect_near(slap.getAmplitudes(), plain);
}

TEST(SLAPTest, SetUnitaryRefusesWhatIsNotASquareUnitary) {
    SLAP slap;
    for (Matrix const& u : {Matrix(Matrix::Identity(3, 2)), Matrix(Matrix::Identity(2, 3)),
                            Matrix(Matrix::Ones(2, 2))})
        expect_throw_message<std::runtime_error>([&] { slap.setUnitary(u); },
                                                 "Matrix is not unitary");
    // Within the configured precision only.
    Matrix near = Matrix::Identity(2, 2);
    near(0, 0) = 1.001;
    EXPECT_THROW(slap.setUnitary(near), std::runtime_error);
    const double saved = config.unitary_check_precision;
    config.unitary_check_precision = 1e-2;
    EXPECT_NO_THROW(slap.setUnitary(near));
    config.unitary_check_precision = saved;
}

TEST(ConfiguratorMapTest, ValidatesAndSelects) {
    const Matrix d = Matrix::Identity(2, 2);
    const Matrix f = Matrix::Ones(2, 2);
    const ConfiguratorMap cm(0, 1, 2, {{{0, 1}, f}}, d);
    EXPECT_FALSE(cm.is_default({0, 1}));
    EXPECT_TRUE(cm.is_default({1, 0}));
    const Counts hit{0, 1}, miss{1, 0};
    EXPECT_EQ(cm[hit], f);
    EXPECT_EQ(&cm[miss], &cm.default_unitary());
    EXPECT_NO_THROW(ConfiguratorMap(0, 0, 1, {}, d));
    // The mode order is checked first.
    expect_throw_message<std::invalid_argument>(
        [&] {
            ConfiguratorMap(2, 1, 0, {{{0}, f}}, d);
        },
        "The last configured mode must be greater or equal to the first measured mode");
    expect_throw_message<std::invalid_argument>(
        [&] {
            ConfiguratorMap(0, 1, 2, {{{0, 1}, f}, {{0}, f}}, d);
        },
        "All measures must have a size of the number of modes");
    expect_throw_message<std::invalid_argument>(
        [&] {
            ConfiguratorMap(INT_MIN, INT_MAX, 0, {{{0}, f}}, d);
        },
        "All measures must have a size of the number of modes");
}

// ---------------------------------------------------------------------------------------------
// Indexing

TEST(FockStateIndexingTest, IndicesFollowTheNaturalOrder) {
    for (int c = 1; c <= 5; ++c)
        for (int n = 0; n <= 4; ++n) {
            const auto table = Backend::prepareCombinations(c, n);
            long long index = 0;
            for (auto const& counts : all_counts(c, n))
                EXPECT_EQ(Backend::getIndexFromFockState(counts, n, table), index++);
        }
    const auto table = Backend::prepareCombinations(3, 2);
    EXPECT_EQ(table.size(), 15u);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(table[static_cast<std::size_t>(j)], 1);
    EXPECT_EQ(table[1 * 5 + 4], 4);
    EXPECT_EQ(table[2 * 5 + 1], 0);
    EXPECT_EQ(Backend::getIndexFromFockState({1, 0, 1}, 2, table), 2);
}

// The rank of a state counted afresh: for each mode, the states that agree before it and hold more
// photons in it, summed one count at a time.
long long reference_index(Counts const& counts) {
    const int c = static_cast<int>(counts.size());
    int left = 0;
    for (int k : counts) left += k;
    long long index = 0;
    for (int i = 0; i + 1 < c; ++i) {
        // States with k photons in mode i place the other left - k in the c - 1 - i modes after.
        for (int k = left; k > counts[static_cast<std::size_t>(i)]; --k)
            index += MathUtils::comb(static_cast<unsigned>(left - k + c - 2 - i),
                                     static_cast<unsigned>(c - 2 - i));
        left -= counts[static_cast<std::size_t>(i)];
    }
    return index;
}

// Many modes: the table's far corner, C(m + n - 1, m - 1), exceeds 64 bits, but the index never
// reads it.
TEST(FockStateIndexingTest, ManyModes) {
    std::mt19937 engine(3);
    for (auto [m, n] : {std::pair{66, 2}, {68, 2}, {62, 6}, {256, 2}, {256, 5}, {130, 14}}) {
        SCOPED_TRACE(testing::Message() << "m=" << m << " n=" << n);
        const auto table = Backend::prepareCombinations(m, n);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(m) * static_cast<std::size_t>(m + n));
        Counts first(static_cast<std::size_t>(m), 0), last = first;
        first.front() = n;
        last.back() = n;
        EXPECT_EQ(Backend::getIndexFromFockState(first, n, table), 0);
        const long long size =
            MathUtils::comb(static_cast<unsigned>(m + n - 1), static_cast<unsigned>(n));
        EXPECT_EQ(Backend::getIndexFromFockState(last, n, table), size - 1);
        std::uniform_int_distribution<int> mode(0, m - 1);
        for (int draw = 0; draw < 200; ++draw) {
            Counts counts(static_cast<std::size_t>(m), 0);
            for (int p = 0; p < n; ++p) ++counts[static_cast<std::size_t>(mode(engine))];
            EXPECT_EQ(Backend::getIndexFromFockState(counts, n, table), reference_index(counts));
        }
    }
    // Two photons on 256 modes, every state in natural order.
    const auto table = Backend::prepareCombinations(256, 2);
    long long index = 0;
    Counts counts(256, 0);
    for (int a = 0; a < 256; ++a)
        for (int b = a; b < 256; ++b) {
            ++counts[static_cast<std::size_t>(a)];
            ++counts[static_cast<std::size_t>(b)];
            ASSERT_EQ(Backend::getIndexFromFockState(counts, 2, table), index++);
            --counts[static_cast<std::size_t>(a)];
            --counts[static_cast<std::size_t>(b)];
        }
}

TEST(FockStateIndexingTest, PartitionTable) {
    const auto table = Backend::computePartialCardinals();
    ASSERT_EQ(table.size(), 961u);
    for (int j = 0; j <= 30; ++j) EXPECT_EQ(table[static_cast<std::size_t>(j)], j >= 1 ? 1 : 0);
    for (int i = 1; i <= 30; ++i) EXPECT_EQ(table[static_cast<std::size_t>(i * 31)], 0);
    EXPECT_EQ(table[5 * 31 + 3], 5);
    EXPECT_EQ(table[30 * 31 + 30], MathUtils::partitions(30, 30));
}

}  // namespace
