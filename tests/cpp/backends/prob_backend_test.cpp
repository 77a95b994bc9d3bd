#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <list>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slap.h"
#include "backends/slos.h"
#include "backends/slos_v2.h"
#include "backends/slos_v3.h"
#include "fockspace/fs_mask.h"
#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

// The checks every probability back-end passes, over each back-end type; the checks of the
// back-ends that filter their outputs with a predicate, over those types.
namespace {

using namespace backend_reference;
using Backend::SLAP;
using Backend::SLOS;
using Backend::SLOS_V2;
using Backend::SLOS_V3;
using test_support::all_counts;
using test_support::Counts;

constexpr double tolerance = 1e-10;

// Back-ends with a predicate setter, a direction and a state-to-index lookup.
template <typename B>
concept Filtering = requires(B b, FockState const& s) {
    b.set_predicate([](FockState const&) { return true; });
    b.set_backward(true);
    b.get_index(s);
};

// Where a back-end departs from the common contract.
struct Conventions {
    // The stored value of output s for input t: the amplitude Perm(U[s,t]) / sqrt(s! t!).
    static cx value(cx permanent, Counts const& s, Counts const& t) {
        return permanent / std::sqrt(factorials(s) * factorials(t));
    }
    // Zero photons give the vacuum whatever the mask or predicate.
    static constexpr bool vacuum_unfiltered = false;
};

template <typename B>
struct ConventionsOf : Conventions {};

// SLOS keeps the layer value Perm(U[s,t]) / s!.
template <>
struct ConventionsOf<SLOS> : Conventions {
    static cx value(cx permanent, Counts const& s, Counts const&) {
        return permanent / factorials(s);
    }
};

template <>
struct ConventionsOf<SLOS_V3> : Conventions {
    static constexpr bool vacuum_unfiltered = true;
};

template <>
struct ConventionsOf<SLAP> : Conventions {
    static constexpr bool vacuum_unfiltered = true;
};

enum class Filter { none, mask, predicate };

// Every input of m modes and n photons, every output value against its permanent; the filtering
// back-ends also against SLOS under the same mask.
template <typename B>
void check_against_permanents(int m, int n, Filter filter, bool backward) {
    std::mt19937 engine(static_cast<unsigned>(1000 * m + 10 * n + static_cast<int>(filter)));
    const Matrix u = haar_unitary(m, engine);

    B backend;
    if constexpr (Filtering<B>) backend.set_backward(backward);
    backend.setUnitary(u);
    SLOS slos;
    slos.setUnitary(u);

    std::function<bool(Counts const&)> keep = [](Counts const&) { return true; };
    if (filter == Filter::mask) {
        std::vector<std::string> conditions;
        std::uniform_int_distribution<int> pick(0, 7);
        for (int c = 0; c < 2; ++c) {
            std::string condition;
            for (int j = 0; j < m; ++j) condition += "01* * 2 "[pick(engine)];
            conditions.push_back(condition);
        }
        std::vector<int> unbounded;
        if (m > 1) unbounded.push_back(1);
        const FsMask mask(m, n, std::list<std::string>(conditions.begin(), conditions.end()),
                          unbounded);
        backend.setMask(mask);
        slos.setMask(mask);
        keep = [=](Counts const& s) { return accepted(s, conditions, unbounded); };
    } else if (filter == Filter::predicate) {
        if constexpr (Filtering<B>) {
            std::set<Counts> chosen;
            for (auto const& s : all_counts(m, n))
                if (std::bernoulli_distribution(0.4)(engine)) chosen.insert(s);
            backend.set_predicate(
                [=](FockState const& fs) { return chosen.contains(fs.to_vect()); });
            keep = [=](Counts const& s) { return chosen.contains(s); };
        }
    }
    const bool unfiltered = n == 0 && ConventionsOf<B>::vacuum_unfiltered;
    std::vector<Counts> expected_space;
    for (auto const& s : all_counts(m, n))
        if (unfiltered || keep(s)) expected_space.push_back(s);

    std::size_t input = 0;
    for (auto const& t : all_counts(m, n)) {
        SCOPED_TRACE(FockState(t).to_str());
        backend.setInputState(FockState(t));
        slos.setInputState(FockState(t));
        // Every other input lists its space before the first query.
        const bool space_first = input++ % 2 == 0;
        std::vector<FockState> space;
        if (space_first) space = backend.getFockSpace();
        const auto amplitudes = backend.getAmplitudes();
        if (!space_first) space = backend.getFockSpace();
        ASSERT_EQ(space, states(expected_space));
        const auto probabilities = backend.computeProbabilities();
        const FockSpaceFunction distribution = backend.computeProbabilityDistribution();
        ASSERT_EQ(amplitudes.size(), space.size());
        ASSERT_EQ(probabilities.size(), space.size());
        ASSERT_EQ(distribution.size(), space.size());
        double total = 0;
        for (std::size_t i = 0; i < space.size(); ++i) {
            const Counts& s = expected_space[i];
            const cx permanent = reference_permanent(u, s, t);
            EXPECT_NEAR(std::abs(amplitudes[i] - ConventionsOf<B>::value(permanent, s, t)), 0.0,
                        tolerance);
            EXPECT_NEAR(probabilities[i], std::norm(permanent) / (factorials(s) * factorials(t)),
                        tolerance);
            EXPECT_EQ(distribution.get(space[i]), probabilities[i]);
            if constexpr (Filtering<B>) {
                EXPECT_EQ(backend.get_index(space[i]), i);
            }
            if constexpr (std::is_same_v<B, SLOS>) {
                EXPECT_NEAR(backend.prob_be(FockState(t), space[i], std::nullopt), probabilities[i],
                            tolerance);
            }
            total += probabilities[i];
        }
        if (!std::is_same_v<B, SLOS> && filter != Filter::predicate && !unfiltered) {
            EXPECT_EQ(slos.getFockSpace(), space);
            const auto reference = slos.computeProbabilities();
            for (std::size_t i = 0; i < space.size(); ++i)
                EXPECT_NEAR(probabilities[i], reference[i], tolerance);
        }
        if (filter == Filter::none) {
            EXPECT_NEAR(total, 1.0, tolerance);
        }
    }
}

// Test names carry the back-end's name rather than its position in the list.
struct BackendName {
    template <typename B>
    static std::string GetName(int) {
        if constexpr (std::is_same_v<B, SLOS>) return "SLOS";
        if constexpr (std::is_same_v<B, SLOS_V2>) return "SLOS_V2";
        if constexpr (std::is_same_v<B, SLOS_V3>) return "SLOS_V3";
        if constexpr (std::is_same_v<B, SLAP>) return "SLAP";
    }
};

template <typename B>
class ProbBackendTest : public ::testing::Test {};

using BackendTypes = ::testing::Types<SLOS, SLOS_V2, SLOS_V3, SLAP>;
TYPED_TEST_SUITE(ProbBackendTest, BackendTypes, BackendName);

TYPED_TEST(ProbBackendTest, EveryInputAndOutputMatchesThePermanent) {
    std::vector<Filter> filters{Filter::none, Filter::mask};
    if constexpr (Filtering<TypeParam>) filters.push_back(Filter::predicate);
    for (int m = 1; m <= 6; ++m)
        for (int n = 0; n <= 4; ++n)
            for (Filter filter : filters)
                for (bool backward : {false, true}) {
                    if (backward && !Filtering<TypeParam>) continue;
                    SCOPED_TRACE(testing::Message() << "m=" << m << " n=" << n
                                                    << " filter=" << static_cast<int>(filter)
                                                    << " backward=" << backward);
                    check_against_permanents<TypeParam>(m, n, filter, backward);
                }
}

// A caller that converts by the declared convention gets the physical amplitude, bunched inputs
// and outputs included, through the interface alone.
TYPED_TEST(ProbBackendTest, DeclaredAmplitudeConventionGivesThePhysicalAmplitude) {
    const Matrix u = haar_unitary(3, 11u);
    std::shared_ptr<Backend::IProbBackend> backend = std::make_shared<TypeParam>();
    backend->setUnitary(u);
    for (Counts const& t : all_counts(3, 3)) {
        SCOPED_TRACE(FockState(t).to_str());
        backend->setInputState(FockState(t));
        auto const& amplitudes = backend->getAmplitudes();
        const std::vector<FockState> space = backend->getFockSpace();
        ASSERT_EQ(amplitudes.size(), space.size());
        for (std::size_t i = 0; i < space.size(); ++i) {
            const Counts s = space[i].to_vect();
            cx a = amplitudes[i];
            if (backend->amplitudeConvention() ==
                Backend::AmplitudeConvention::scaled_by_factorials)
                a *= std::sqrt(factorials(s) / factorials(t));
            EXPECT_NEAR(std::abs(a - reference_permanent(u, s, t) /
                                         std::sqrt(factorials(s) * factorials(t))),
                        0.0, tolerance)
                << space[i].to_str();
        }
    }
}

TYPED_TEST(ProbBackendTest, ADefaultBackEndComputesTheVacuumOfNoModes) {
    TypeParam backend;
    EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState()});
}

TYPED_TEST(ProbBackendTest, AMaskAcceptingNoStateGivesEmptyResults) {
    TypeParam backend;
    backend.setUnitary(beam_splitter());
    backend.setInputState(FockState(std::vector<int>{1, 1}));
    backend.setMask(FsMask(2, 2, "3 "));
    EXPECT_TRUE(backend.getFockSpace().empty());
    EXPECT_TRUE(backend.getAmplitudes().empty());
    EXPECT_TRUE(backend.computeProbabilities().empty());
    EXPECT_EQ(backend.computeProbabilityDistribution().size(), 0u);
}

// Zero photons give the vacuum; a mask rejecting it leaves nothing, unless the back-end keeps the
// vacuum whatever the filter.
TYPED_TEST(ProbBackendTest, ZeroPhotonsGiveTheVacuumUnlessAMaskRejectsIt) {
    std::mt19937 engine(3);
    TypeParam backend;
    backend.setUnitary(haar_unitary(3, engine));
    backend.setInputState(FockState(3));
    for (bool masked : {false, true}) {
        SCOPED_TRACE(testing::Message() << "masked=" << masked);
        if (masked) backend.setMask(FsMask(3, 0, "1  "));
        if (masked && !ConventionsOf<TypeParam>::vacuum_unfiltered) {
            EXPECT_TRUE(backend.getFockSpace().empty());
            EXPECT_TRUE(backend.getAmplitudes().empty());
            EXPECT_TRUE(backend.computeProbabilities().empty());
            EXPECT_EQ(backend.computeProbabilityDistribution().size(), 0u);
            continue;
        }
        EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState(3)});
        EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
        EXPECT_EQ(backend.computeProbabilities(), std::vector<double>{1.0});
        EXPECT_EQ(backend.computeProbabilityDistribution(), FockSpaceFunction(FockState(3), 1.0));
    }
}

// Copies, clones and moves compute the same values and go their own ways afterwards.
TYPED_TEST(ProbBackendTest, CopiesAndClonesAreIndependent) {
    std::mt19937 engine(9);
    TypeParam backend;
    backend.setUnitary(haar_unitary(4, engine));
    backend.setInputState(FockState(std::vector<int>{1, 2, 0, 1}));
    backend.setMask(FsMask(4, 4, " 1  "));
    const auto values = backend.getAmplitudes();
    const auto space = backend.getFockSpace();

    TypeParam copy(backend);
    // A SLOS copy compiles its own structures before its first result.
    if constexpr (std::is_same_v<TypeParam, SLOS>) {
        EXPECT_TRUE(copy.compile());
    }
    EXPECT_EQ(copy.getAmplitudes(), values);
    const std::shared_ptr<Backend::IProbBackend> clone = backend.clone();
    EXPECT_EQ(clone->getAmplitudes(), values);
    EXPECT_EQ(clone->getFockSpace(), space);

    copy.setInputState(FockState(std::vector<int>{0, 2, 2, 0}));
    clone->setMask(std::nullopt);
    EXPECT_NE(copy.getAmplitudes(), values);
    EXPECT_EQ(clone->getAmplitudes().size(), 35u);
    if constexpr (std::is_same_v<TypeParam, SLOS>) {
        EXPECT_FALSE(backend.compile());
    }
    EXPECT_EQ(backend.getAmplitudes(), values);
    EXPECT_EQ(backend.getFockSpace(), space);

    TypeParam moved(std::move(copy));
    if constexpr (std::is_same_v<TypeParam, SLOS>) {
        EXPECT_FALSE(moved.compile());
    }
    EXPECT_EQ(moved.getFockSpace().size(), moved.getAmplitudes().size());
    // The source stays usable; SLOS and SLAP keep its mask, which a new size must shed.
    if constexpr (!Filtering<TypeParam>) {
        copy.setMask(std::nullopt);
    }
    copy.setUnitary(beam_splitter());
    copy.setInputState(FockState(std::vector<int>{1, 1}));
    EXPECT_EQ(copy.computeProbabilities().size(), 3u);
}

// One rule at the edges for every back-end: the input has the unitary's modes, the vacuum too,
// and a unitary holding a NaN or an infinity is refused when it is set.
TYPED_TEST(ProbBackendTest, InputsOfAnotherModeCountAreRefused) {
    for (Counts const& input :
         std::vector<Counts>{{}, {0, 0}, {0, 0, 0, 0}, {1, 1}, {0, 1, 0, 1}}) {
        SCOPED_TRACE(FockState(input).to_str());
        TypeParam backend;
        backend.setUnitary(Matrix::Identity(3, 3));
        backend.setInputState(FockState(input));
        for (auto query : std::vector<std::function<void()>>{
                 [&] { backend.getAmplitudes(); }, [&] { backend.computeProbabilities(); },
                 [&] { backend.computeProbabilityDistribution(); }}) {
            try {
                query();
                ADD_FAILURE() << "no exception";
            } catch (std::runtime_error const& e) {
                EXPECT_TRUE(std::string(e.what()).starts_with("Matrix/input state sizes mismatch"))
                    << e.what();
            }
        }
        // The vacuum of the unitary's modes is the vacuum.
        backend.setInputState(FockState(3));
        EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
        EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState(3)});
    }
}

TYPED_TEST(ProbBackendTest, UnitariesThatAreNotFiniteAreRefused) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<cx, std::string>> values{
        {cx(nan, 0), "Matrix holds a value that is not finite: (nan+0j) at row 1, column 0"},
        {cx(0, -inf), "Matrix holds a value that is not finite: (0-infj) at row 1, column 0"},
        {cx(inf, nan), "Matrix holds a value that is not finite: (inf+nanj) at row 1, column 0"},
    };
    for (auto const& [value, message] : values) {
        TypeParam backend;
        backend.setUnitary(beam_splitter());
        backend.setInputState(FockState(std::vector<int>{1, 1}));
        const auto before = backend.getAmplitudes();
        Matrix u = beam_splitter();
        u(1, 0) = value;
        test_support::expect_throw_message<std::invalid_argument>([&] { backend.setUnitary(u); },
                                                                  message);
        // The splitter stays, and so do its results.
        EXPECT_EQ(backend.getAmplitudes(), before);
    }
}

TYPED_TEST(ProbBackendTest, CtrlCEndsAComputationAndTheNextOneRuns) {
    TypeParam backend;
    backend.setUnitary(Matrix::Identity(12, 12));
    backend.setInputState(FockState(std::vector<int>{1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}));
    {
        test_support::CtrlC ctrl_c;
        test_support::expect_throw_message<KeyboardInterruptException>(
            [&] { backend.computeProbabilities(); }, "Process interrupted by user.");
    }
    const std::vector<double> probabilities = backend.computeProbabilities();
    // The identity keeps the input: one output of probability 1 among C(17, 6).
    ASSERT_EQ(probabilities.size(), 12376u);
    EXPECT_EQ(std::count(probabilities.begin(), probabilities.end(), 0.0), 12375);
}

template <typename B>
class PredicateBackendTest : public ::testing::Test {};

using PredicateBackendTypes = ::testing::Types<SLOS_V2, SLOS_V3>;
TYPED_TEST_SUITE(PredicateBackendTest, PredicateBackendTypes, BackendName);

template <typename B>
void expect_amplitudes(B& backend, std::vector<cx> const& expected) {
    auto const& amplitudes = backend.getAmplitudes();
    ASSERT_EQ(amplitudes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(std::abs(amplitudes[i] - expected[i]), 0.0, 1e-15) << i;
}

// The small cases with known results, in either direction.
TYPED_TEST(PredicateBackendTest, KnownCasesInBothDirections) {
    for (bool backward : {false, true}) {
        SCOPED_TRACE(testing::Message() << "backward=" << backward);
        const FockState pair(std::vector<int>{1, 1});
        TypeParam backend;
        backend.set_backward(backward);
        backend.setUnitary(beam_splitter());
        backend.setInputState(pair);
        expect_amplitudes(backend, {std::sqrt(0.5), 0.0, -std::sqrt(0.5)});
        EXPECT_EQ(backend.getFockSpace(), states({{2, 0}, {1, 1}, {0, 2}}));
        const auto probabilities = backend.computeProbabilities();
        ASSERT_EQ(probabilities.size(), 3u);
        EXPECT_NEAR(probabilities[0], 0.5, 1e-15);
        EXPECT_NEAR(probabilities[1], 0.0, 1e-15);
        EXPECT_NEAR(probabilities[2], 0.5, 1e-15);
        // Zero probabilities are entries too.
        const FockSpaceFunction distribution = backend.computeProbabilityDistribution();
        EXPECT_EQ(distribution.size(), 3u);
        EXPECT_TRUE(distribution.contains(pair));

        std::vector<FockState> seen;
        backend.set_predicate([&](FockState const& fs) {
            seen.push_back(fs);
            return fs == pair;
        });
        expect_amplitudes(backend, {0.0});
        EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{pair});
        EXPECT_EQ(backend.get_index(pair), 0u);
        EXPECT_EQ(backend.get_index(FockState(std::vector<int>{2, 0})), std::nullopt);
        EXPECT_EQ(seen, states({{2, 0}, {1, 1}, {0, 2}}));

        backend.setMask(std::nullopt);
        EXPECT_EQ(backend.getAmplitudes().size(), 3u);
        backend.setMask(FsMask(2, 2, "1 "));
        EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{pair});
        backend.setMask(std::nullopt);
        EXPECT_EQ(backend.getFockSpace().size(), 3u);

        backend.setUnitary(Matrix::Identity(2, 2));
        expect_amplitudes(backend, {0.0, 1.0, 0.0});

        Matrix tall(3, 2);
        tall << cx(0.1, 0.2), 0.3, cx(0.4, -0.5), 0.6, 0.7, cx(0, 0.8);
        backend.setUnitary(tall);
        backend.setInputState(FockState(std::vector<int>{1, 0}));
        expect_amplitudes(backend, {tall(0, 0), tall(1, 0), tall(2, 0)});
        EXPECT_EQ(backend.getFockSpace(), states({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
    }
}

// A predicate accepting nothing: empty results, recomputed at every reader without building
// the space again.
TYPED_TEST(PredicateBackendTest, NothingAccepted) {
    int calls = 0;
    TypeParam backend;
    backend.setUnitary(beam_splitter());
    backend.setInputState(FockState(std::vector<int>{1, 1}));
    backend.set_predicate([&](FockState const&) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(backend.getAmplitudes().empty());
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(backend.computeProbabilities().empty());
    EXPECT_EQ(backend.computeProbabilityDistribution().size(), 0u);
    EXPECT_TRUE(backend.getFockSpace().empty());
    EXPECT_EQ(calls, 3);

    backend.setMask(FsMask(2, 2, "3 "));
    EXPECT_TRUE(backend.computeProbabilities().empty());
}

// Setters only store and invalidate; the space is built again only for a new size or filter.
TYPED_TEST(PredicateBackendTest, QueriesComputeOnceUntilASetterInvalidates) {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(3, engine);
    const FockState input(std::vector<int>{1, 0, 1});
    int calls = 0;
    TypeParam backend;
    backend.setUnitary(u);
    backend.setInputState(input);
    backend.set_predicate([&](FockState const& fs) {
        ++calls;
        return fs[1] < 2;
    });
    auto const& first = backend.getAmplitudes();
    const auto* data = first.data();
    const auto values = first;
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(backend.getAmplitudes().data(), data);

    // An equal state keeps the amplitudes, a switch of direction too.
    backend.setInputState(FockState(std::vector<int>{1, 0, 1}));
    backend.set_backward(true);
    EXPECT_EQ(backend.getAmplitudes().data(), data);

    // A new unitary recomputes over the same space.
    backend.setUnitary(u);
    EXPECT_NE(backend.getAmplitudes().data(), data);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(std::abs(backend.getAmplitudes()[i] - values[i]), 0.0, tolerance);
    backend.setUnitary(haar_unitary(3, engine));
    backend.setInputState(FockState(std::vector<int>{0, 2, 0}));
    backend.computeProbabilities();
    EXPECT_EQ(calls, 6);

    // A new size or photon count builds again.
    backend.setInputState(FockState(std::vector<int>{1, 0, 0}));
    backend.computeProbabilities();
    EXPECT_EQ(calls, 9);
    backend.setUnitary(haar_unitary(4, engine));
    backend.setInputState(FockState(std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(backend.computeProbabilities().size(), 4u);
    EXPECT_EQ(calls, 13);
    backend.set_predicate({});
    EXPECT_EQ(backend.computeProbabilities().size(), 4u);
    EXPECT_EQ(calls, 13);
}

// Failures leave a back-end that computes again once the configuration is mended.
TYPED_TEST(PredicateBackendTest, FailuresLeaveAUsableBackEnd) {
    TypeParam backend;
    backend.setUnitary(beam_splitter());
    backend.setInputState(FockState(std::vector<int>{1, 1}));
    backend.setMask(FsMask(3, 2, "1  "));
    test_support::expect_throw_message<std::runtime_error>(
        [&] { backend.getAmplitudes(); },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 2");
    backend.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(backend.getFockSpace(), states({{1, 1}}));
    EXPECT_EQ(backend.computeProbabilities().size(), 1u);

    TypeParam empty_matrix;
    empty_matrix.setInputState(FockState(std::vector<int>{}));
    EXPECT_EQ(empty_matrix.getAmplitudes(), std::vector<cx>{1.0});

    TypeParam no_rows;
    no_rows.setUnitary(Matrix(0, 1));
    no_rows.setInputState(FockState(std::vector<int>{1}));
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { no_rows.getAmplitudes(); }, "Invalid FockSpace parameters (m=0 max_n=1)");

    TypeParam overflowing;
    overflowing.setUnitary(Matrix::Identity(2, 2));
    overflowing.setInputState(FockState(std::vector<int>{171, 0}));
    EXPECT_THROW(overflowing.getAmplitudes(), std::overflow_error);
    overflowing.setInputState(FockState(std::vector<int>{1, 0}));
    EXPECT_EQ(overflowing.computeProbabilities(), (std::vector<double>{1.0, 0.0}));
}

}  // namespace
