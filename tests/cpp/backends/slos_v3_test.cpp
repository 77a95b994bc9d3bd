#include "backends/slos_v3.h"

#include <complex>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "fockspace/fs_mask.h"
#include "test_support.h"

namespace {

using Backend::SLOS_V3;
using namespace backend_reference;

TEST(SlosV3Test, ZeroPhotonsGiveTheVacuumWhateverTheFilter) {
    SLOS_V3 backend;
    EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState()});

    backend.setUnitary(Matrix::Identity(3, 3));
    backend.setInputState(FockState(3));
    int calls = 0;
    backend.set_predicate([&](FockState const&) { return ++calls < 0; });
    EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState(3)});
    EXPECT_EQ(calls, 0);
    backend.setMask(FsMask(3, 0, "1  "));
    EXPECT_EQ(backend.computeProbabilityDistribution(), FockSpaceFunction(FockState(3), 1.0));
}

TEST(SlosV3Test, PhotonsBeyondTheColumnsAreRefused) {
    SLOS_V3 backend;
    backend.setUnitary(Matrix::Identity(2, 2));
    backend.setInputState(FockState(std::vector<int>{0, 0, 1}));
    EXPECT_EQ(backend.getFockSpace().size(), 2u);
    test_support::expect_throw_message<std::runtime_error>([&] { backend.computeProbabilities(); },
                                                           "Matrix/input state sizes mismatch");
    // Modes without photons past the columns change nothing.
    backend.setInputState(FockState(std::vector<int>{0, 1, 0}));
    EXPECT_EQ(backend.computeProbabilities(), (std::vector<double>{0.0, 1.0}));
    SLOS_V3 unconfigured;
    unconfigured.setInputState(FockState(std::vector<int>{1}));
    EXPECT_THROW(unconfigured.getAmplitudes(), std::runtime_error);
}

TEST(SlosV3Test, IndicesComeFromTheHeldMap) {
    SLOS_V3 backend;
    const FockState pair(std::vector<int>{1, 1});
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{1})), std::nullopt);
    backend.setUnitary(beam_splitter());
    backend.setInputState(pair);
    EXPECT_EQ(backend.get_index(pair), std::nullopt);
    backend.getFockSpace();
    EXPECT_EQ(backend.get_index(pair), 1u);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{0, 2})), 2u);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{1, 0})), std::nullopt);
    backend.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(backend.get_index(pair), std::nullopt);
    backend.computeProbabilities();
    EXPECT_EQ(backend.get_index(pair), 0u);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{2, 0})), std::nullopt);
}

TEST(SlosV3Test, TheLinkOrderAppliesFromTheNextBuild) {
    constexpr double tolerance = 1e-10;
    std::mt19937 engine(21);
    const Matrix u = haar_unitary(4, engine);
    SLOS_V3 backend;
    backend.setUnitary(u);
    backend.setInputState(FockState(std::vector<int>{1, 1, 1, 0}));
    const auto forward = backend.getAmplitudes();
    backend.set_backward(true);
    EXPECT_EQ(backend.getAmplitudes(), forward);
    backend.compute();
    EXPECT_EQ(backend.getAmplitudes(), forward);
    backend.setMask(std::nullopt);
    const auto backward = backend.getAmplitudes();
    ASSERT_EQ(backward.size(), forward.size());
    for (std::size_t i = 0; i < forward.size(); ++i)
        EXPECT_NEAR(std::abs(backward[i] - forward[i]), 0.0, tolerance);
}

}  // namespace
