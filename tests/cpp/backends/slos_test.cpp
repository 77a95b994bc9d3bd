#include "backends/slos.h"

#include <cmath>
#include <complex>
#include <list>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "test_support.h"

namespace {

using Backend::SLOS;
using backend_reference::beam_splitter;
using backend_reference::haar_unitary;
using backend_reference::states;
using test_support::expect_throw_message;
using cx = std::complex<double>;

TEST(SlosTest, HongOuMandelOnABalancedBeamSplitter) {
    SLOS slos;
    slos.setUnitary(beam_splitter());
    const FockState input(std::vector<int>{1, 1});
    slos.setInputState(input);
    EXPECT_EQ(slos.getFockSpace(), states({{2, 0}, {1, 1}, {0, 2}}));

    const auto amplitudes = slos.getAmplitudes();
    ASSERT_EQ(amplitudes.size(), 3u);
    EXPECT_NEAR(std::abs(amplitudes[0] - 0.5), 0.0, 1e-15);
    EXPECT_NEAR(std::abs(amplitudes[1]), 0.0, 1e-15);
    EXPECT_NEAR(std::abs(amplitudes[2] + 0.5), 0.0, 1e-15);

    const auto probabilities = slos.computeProbabilities();
    ASSERT_EQ(probabilities.size(), 3u);
    EXPECT_NEAR(probabilities[0], 0.5, 1e-15);
    EXPECT_NEAR(probabilities[1], 0.0, 1e-15);
    EXPECT_NEAR(probabilities[2], 0.5, 1e-15);

    const FockSpaceFunction distribution = slos.computeProbabilityDistribution();
    EXPECT_EQ(distribution.size(), 3u);
    EXPECT_TRUE(distribution.contains(FockState(std::vector<int>{1, 1})));

    const FockState bunched(std::vector<int>{2, 0});
    EXPECT_NEAR(std::abs(slos.probampli_be(input, bunched, std::nullopt, true) - std::sqrt(0.5)),
                0.0, 1e-15);
    EXPECT_NEAR(std::abs(slos.probampli_be(input, bunched, std::nullopt, false) - 0.5), 0.0, 1e-15);
    EXPECT_NEAR(std::abs(slos.probampli_be(input, bunched, 2, false) + 0.5), 0.0, 1e-15);
    EXPECT_NEAR(slos.prob_be(input, bunched, std::nullopt), 0.5, 1e-15);
}

TEST(SlosTest, TheFlattenedConstructorMatchesSetUnitary) {
    std::mt19937 engine(7);
    const Matrix u = haar_unitary(3, engine);
    SLOS flat(std::vector<cx>(u.data(), u.data() + u.size()), 3);
    SLOS set;
    set.setUnitary(u);
    const FockState input(std::vector<int>{2, 0, 1});
    flat.setInputState(input);
    set.setInputState(input);
    EXPECT_EQ(flat.getAmplitudes(), set.getAmplitudes());
}

// The input has the unitary's modes, as for every back-end: fewer are refused like more, even
// when the missing modes would be empty.
TEST(SlosTest, InputsWithFewerModesThanTheMatrixAreRefused) {
    std::mt19937 engine(11);
    SLOS slos;
    slos.setUnitary(haar_unitary(3, engine));
    slos.setInputState(FockState(std::vector<int>{1, 1, 0}));
    const auto full = slos.computeProbabilities();
    for (auto const& counts : {std::vector<int>{1, 1}, std::vector<int>{}}) {
        slos.setInputState(FockState(counts));
        expect_throw_message<std::runtime_error>([&] { slos.computeProbabilities(); },
                                                 "Matrix/input state sizes mismatch");
    }
    slos.setInputState(FockState(std::vector<int>{1, 1, 0}));
    EXPECT_EQ(slos.computeProbabilities(), full);
    EXPECT_EQ(slos.getFockSpace().front(), FockState(std::vector<int>{2, 0, 0}));
}

TEST(SlosTest, QueriesComputeOnceUntilASetterInvalidates) {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(3, engine);
    const FockState input(std::vector<int>{1, 0, 1});
    SLOS slos;
    slos.setUnitary(u);
    slos.setInputState(input);
    auto const& first = slos.getAmplitudes();
    const auto values = first;
    EXPECT_FALSE(slos.compile());
    EXPECT_EQ(&slos.getAmplitudes(), &first);
    slos.computeProbabilities();
    slos.computeProbabilityDistribution();
    EXPECT_FALSE(slos.compile());

    // The same state again still discards the results.
    slos.setInputState(input);
    EXPECT_TRUE(slos.compile());
    EXPECT_EQ(slos.getAmplitudes(), values);

    slos.setUnitary(Matrix::Identity(3, 3));
    EXPECT_TRUE(slos.compile());
    EXPECT_NE(slos.getAmplitudes(), values);
    slos.setUnitary(u);
    EXPECT_TRUE(slos.compile());

    const std::list<std::string> conditions{"1  ", " 1 "};
    slos.setMask(FsMask(3, 2, conditions));
    EXPECT_TRUE(slos.compile());
    const auto masked_space = slos.getFockSpace();
    EXPECT_EQ(masked_space, states({{1, 1, 0}, {1, 0, 1}, {0, 1, 1}}));
    slos.setMask(FsMask(3, 2, conditions));
    EXPECT_FALSE(slos.compile());
    slos.setMask(FsMask(3, 2, "1  "));
    EXPECT_TRUE(slos.compile());
    EXPECT_EQ(slos.getFockSpace().size(), 2u);
    slos.setMask(std::nullopt);
    EXPECT_TRUE(slos.compile());
    EXPECT_EQ(slos.getFockSpace().size(), 6u);
    slos.setMask(std::nullopt);
    EXPECT_FALSE(slos.compile());
    EXPECT_EQ(slos.getAmplitudes(), values);
}

TEST(SlosTest, PerStateQueriesReadTheCacheOnly) {
    SLOS slos;
    slos.setUnitary(beam_splitter());
    const FockState input(std::vector<int>{1, 1});
    slos.setInputState(input);
    const FockState other_count(std::vector<int>{1, 0});
    EXPECT_EQ(slos.probampli_be(input, other_count, std::nullopt, true), cx(0.0));
    EXPECT_THROW(slos.probampli_be(input, FockState(std::vector<int>{2, 0}), std::nullopt, true),
                 std::out_of_range);
    EXPECT_TRUE(slos.compile());

    EXPECT_THROW(slos.probampli_be(FockState(std::vector<int>{2, 0}),
                                   FockState(std::vector<int>{2, 0}), std::nullopt, false),
                 std::out_of_range);
    EXPECT_THROW(slos.probampli_be(input, FockState(std::vector<int>{2, 0}), 3, false),
                 std::out_of_range);
    slos.setMask(FsMask(2, 2, "1 "));
    slos.computeProbabilities();
    EXPECT_THROW(slos.prob_be(input, FockState(std::vector<int>{2, 0}), std::nullopt),
                 std::out_of_range);
    EXPECT_NEAR(slos.prob_be(input, FockState(std::vector<int>{1, 1}), std::nullopt), 0.0, 1e-15);
}

TEST(SlosTest, SizesMismatchIsReportedAtComputation) {
    const std::string message = "Matrix/input state sizes mismatch";
    SLOS slos;
    slos.setUnitary(beam_splitter());
    slos.setInputState(FockState(std::vector<int>{0, 0, 1}));
    EXPECT_NO_THROW(slos.getFockSpace());
    expect_throw_message<std::runtime_error>([&] { slos.getAmplitudes(); }, message);
    expect_throw_message<std::runtime_error>([&] { slos.computeProbabilities(); }, message);
    expect_throw_message<std::runtime_error>([&] { slos.computeProbabilityDistribution(); },
                                             message);
    // Extra modes without photons are refused too.
    slos.setInputState(FockState(std::vector<int>{1, 1, 0}));
    expect_throw_message<std::runtime_error>([&] { slos.computeProbabilities(); }, message);
    slos.setInputState(FockState(std::vector<int>{1, 1}));
    EXPECT_EQ(slos.computeProbabilities().size(), 3u);

    slos.setUnitary(Matrix::Ones(3, 2));
    slos.setInputState(FockState(std::vector<int>{1, 1}));
    expect_throw_message<std::runtime_error>([&] { slos.getAmplitudes(); }, message);
    SLOS short_flat(std::vector<cx>(3, 1.0), 2);
    short_flat.setInputState(FockState(std::vector<int>{1, 0}));
    expect_throw_message<std::runtime_error>([&] { short_flat.getAmplitudes(); }, message);
    SLOS unconfigured;
    unconfigured.setInputState(FockState(std::vector<int>{1}));
    expect_throw_message<std::runtime_error>([&] { unconfigured.getAmplitudes(); }, message);
}

TEST(SlosTest, AFailedCompilationLeavesAUsableBackEnd) {
    SLOS slos;
    slos.setUnitary(beam_splitter());
    slos.setInputState(FockState(std::vector<int>{1, 1}));
    slos.setMask(FsMask(3, 2, "1  "));
    EXPECT_THROW(slos.getFockSpace(), std::runtime_error);
    EXPECT_THROW(slos.computeProbabilities(), std::runtime_error);
    slos.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(slos.getFockSpace(), states({{1, 1}}));
    ASSERT_EQ(slos.computeProbabilities().size(), 1u);
    EXPECT_NEAR(slos.computeProbabilities()[0], 0.0, 1e-15);
}

TEST(SlosTest, NormalizeOutputMultipliesByTheFactorials) {
    const FsArray array(2, 3, FsMask(2, 3, {"3 ", "2 ", "0 "}));
    Eigen::VectorXd c = Eigen::VectorXd::Ones(3);
    Backend::allProbabilitiesNormalizeOutput(c, array);
    EXPECT_EQ(c, Eigen::Vector3d(6, 2, 6));

    Eigen::VectorXd shorter = Eigen::VectorXd::Constant(2, 0.5);
    Backend::allProbabilitiesNormalizeOutput(shorter, array);
    EXPECT_EQ(shorter, Eigen::Vector2d(3, 1));

    Eigen::VectorXd empty(0);
    Backend::allProbabilitiesNormalizeOutput(empty, array);

    Eigen::VectorXd longer = Eigen::VectorXd::Ones(4);
    expect_throw_message<std::out_of_range>(
        [&] { Backend::allProbabilitiesNormalizeOutput(longer, array); }, "index too large");
    EXPECT_EQ(longer, Eigen::VectorXd::Ones(4));
}

TEST(SlosTest, NormalizeOutputLeavesTheVectorAloneOnOverflow) {
    // |1,170> then |0,171>: 170! is the largest factorial a double holds.
    const FsArray array(2, 171, FsMask(2, 171, std::list<std::string>{"1 ", "0 "}));
    ASSERT_EQ(array.count(), 2u);
    Eigen::VectorXd c = Eigen::VectorXd::Ones(2);
    EXPECT_THROW(Backend::allProbabilitiesNormalizeOutput(c, array), std::overflow_error);
    EXPECT_EQ(c, Eigen::VectorXd::Ones(2));
}

}  // namespace
