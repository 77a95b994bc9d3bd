#include "backends/slos_v3.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slos_v2.h"
#include "fockspace/fs_mask.h"
#include "runtime/instruction_set.h"
#include "test_support.h"

namespace {

using Backend::SLOS_V3;
using namespace backend_reference;

// The masks are in the typed suite; the predicate is not even asked.
TEST(SlosV3Test, ZeroPhotonsGiveTheVacuumWhateverThePredicate) {
    SLOS_V3 backend;
    backend.setUnitary(Matrix::Identity(3, 3));
    backend.setInputState(FockState(3));
    int calls = 0;
    backend.set_predicate([&](FockState const&) { return ++calls < 0; });
    EXPECT_EQ(backend.getAmplitudes(), std::vector<cx>{1.0});
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{FockState(3)});
    EXPECT_EQ(calls, 0);
}

TEST(SlosV3Test, PhotonsBeyondTheColumnsAreRefused) {
    SLOS_V3 backend;
    backend.setUnitary(Matrix::Identity(2, 2));
    backend.setInputState(FockState(std::vector<int>{0, 0, 1}));
    EXPECT_EQ(backend.getFockSpace().size(), 2u);
    test_support::expect_throw_message<std::runtime_error>([&] { backend.computeProbabilities(); },
                                                           "Matrix/input state sizes mismatch");
    // Modes without photons past the columns are refused too: the input has the unitary's modes.
    backend.setInputState(FockState(std::vector<int>{0, 1, 0}));
    test_support::expect_throw_message<std::runtime_error>([&] { backend.computeProbabilities(); },
                                                           "Matrix/input state sizes mismatch");
    backend.setInputState(FockState(std::vector<int>{0, 1}));
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

// The pass multiplies without std::complex's recovery of products whose naive parts are both NaN
// (an infinite amplitude times a finite entry can give inf in full semantics) and redoes such a
// layer; V2 multiplies with the full semantics throughout, in the same order. A unitary holding
// an infinity or a NaN is refused, but finite entries whose products overflow still reach them.
TEST(SlosV3Test, OverflowingProductsGiveTheFullComplexSemantics) {
    constexpr double huge = 1e300;
    Matrix u = Matrix::Identity(3, 3);
    u(0, 0) = cx(huge, huge);
    u(1, 1) = cx(0.5, -huge);
    u(2, 1) = cx(huge, 1.0);
    u(1, 0) = cx(0.25, 0.5);
    auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
    bool infinite = false;
    for (auto const& counts : {std::vector<int>{1, 0, 0}, std::vector<int>{1, 1, 0},
                               std::vector<int>{2, 1, 0}, std::vector<int>{0, 0, 2}})
        for (bool backward : {false, true}) {
            SCOPED_TRACE(testing::Message() << counts.size() << " modes, backward " << backward);
            SLOS_V3 v3;
            Backend::SLOS_V2 v2;
            v3.set_backward(backward);
            v2.set_backward(backward);
            v3.setUnitary(u);
            v2.setUnitary(u);
            v3.setInputState(FockState(counts));
            v2.setInputState(FockState(counts));
            const auto expected = v2.getAmplitudes();
            const auto found = v3.getAmplitudes();
            ASSERT_EQ(found.size(), expected.size());
            for (std::size_t i = 0; i < found.size(); ++i) {
                EXPECT_TRUE(same(found[i].real(), expected[i].real())) << i << " " << found[i];
                EXPECT_TRUE(same(found[i].imag(), expected[i].imag())) << i << " " << found[i];
                infinite |= std::isinf(found[i].real()) || std::isinf(found[i].imag());
            }
            // Probabilities of a fresh pass, which the last layer writes as it goes.
            v3.setUnitary(u);
            v2.setUnitary(u);
            const auto probabilities = v3.computeProbabilities();
            const auto reference = v2.computeProbabilities();
            ASSERT_EQ(probabilities.size(), reference.size());
            for (std::size_t i = 0; i < probabilities.size(); ++i)
                EXPECT_TRUE(same(probabilities[i], reference[i])) << i << " " << probabilities[i];
        }
    // The case a naive product gets wrong is really exercised.
    EXPECT_TRUE(infinite);
}

// Asked for probabilities only, the pass may leave the last layer's amplitudes to a later
// request: whatever changed in between, results are those of a fresh back-end, bit for bit.
TEST(SlosV3Test, ResultsLeftForLaterFollowEveryChange) {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(7, engine);
    const Matrix w = haar_unitary(7, engine);
    const FockState first(std::vector<int>{1, 1, 0, 1, 0, 0, 0});
    const FockState second(std::vector<int>{0, 2, 0, 0, 0, 1, 0});
    auto fresh = [](Matrix const& unitary, FockState const& input) {
        SLOS_V3 backend;
        backend.setUnitary(unitary);
        backend.setInputState(input);
        return backend.getAmplitudes();
    };
    auto squares = [](std::vector<cx> const& amplitudes) {
        std::vector<double> p;
        for (cx a : amplitudes) p.push_back(a.real() * a.real() + a.imag() * a.imag());
        return p;
    };

    SLOS_V3 backend;
    backend.setUnitary(u);
    backend.setInputState(first);
    const auto expected = squares(fresh(u, first));
    EXPECT_EQ(backend.computeProbabilities(), expected);
    EXPECT_EQ(backend.computeProbabilities(), expected);
    backend.setInputState(second);
    EXPECT_EQ(backend.computeProbabilities(), squares(fresh(u, second)));
    backend.setInputState(first);
    backend.computeProbabilities();
    const auto copy = backend.clone();
    EXPECT_EQ(backend.getAmplitudes(), fresh(u, first));
    EXPECT_EQ(copy->getAmplitudes(), fresh(u, first));
    backend.computeProbabilities();
    backend.setUnitary(w);
    EXPECT_EQ(backend.getAmplitudes(), fresh(w, first));
    backend.setUnitary(u);
    backend.computeProbabilities();
    backend.compute();
    EXPECT_EQ(backend.getAmplitudes(), fresh(u, first));
}

// Without a predicate the pass computes its links from the layers' block structure: leading
// modes stream aligned runs, the last ones read a table. Tail tables from one mode to the whole
// space, against V2, with each instruction set variant, in both link orders.
struct DenseCase {
    std::vector<int> input;
    int extra_modes;
};

class SlosV3DenseTest : public ::testing::TestWithParam<
                            std::tuple<DenseCase, unsigned long, InstructionSet::Isa, bool>> {
  protected:
    void TearDown() override {
        InstructionSet::isa_limit() = InstructionSet::Isa::avx512;
        Backend::dense_tail_limit() = 65536;
    }
};

TEST_P(SlosV3DenseTest, AgreesWithV2) {
    const auto [c, tail_limit, isa, backward] = GetParam();
    InstructionSet::isa_limit() = isa;
    Backend::dense_tail_limit() = tail_limit;
    std::vector<int> counts = c.input;
    counts.resize(counts.size() + static_cast<std::size_t>(c.extra_modes), 0);
    std::mt19937 engine(static_cast<unsigned>(counts.size()));
    const Matrix u = haar_unitary(static_cast<int>(counts.size()), engine);
    SLOS_V3 v3;
    Backend::SLOS_V2 v2;
    v3.set_backward(backward);
    v3.setUnitary(u);
    v2.setUnitary(u);
    v3.setInputState(FockState(counts));
    v2.setInputState(FockState(counts));
    const auto expected = v2.getAmplitudes();
    const auto found = v3.getAmplitudes();
    ASSERT_EQ(found.size(), expected.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < found.size(); ++i)
        worst = std::max(worst, std::abs(found[i] - expected[i]) / (std::abs(expected[i]) + 1e-3));
    EXPECT_LT(worst, 1e-10);

    // A second unitary on the same map.
    const Matrix w = haar_unitary(static_cast<int>(counts.size()), engine);
    v3.setUnitary(w);
    v2.setUnitary(w);
    const auto again = v3.computeProbabilities();
    const auto reference = v2.computeProbabilities();
    for (std::size_t i = 0; i < again.size(); ++i)
        ASSERT_NEAR(again[i], reference[i], 1e-12 + 1e-10 * reference[i]) << i;
    // Written with the amplitudes by the pass, they are exactly what the amplitudes give.
    const auto amplitudes = v3.getAmplitudes();
    ASSERT_EQ(amplitudes.size(), again.size());
    for (std::size_t i = 0; i < again.size(); ++i)
        ASSERT_EQ(again[i], amplitudes[i].real() * amplitudes[i].real() +
                                amplitudes[i].imag() * amplitudes[i].imag())
            << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SlosV3DenseTest,
    ::testing::Combine(::testing::Values(DenseCase{{1, 1, 1, 1, 1, 1}, 10},
                                         DenseCase{{1, 0, 2, 0}, 26}, DenseCase{{12, 0, 3, 10}, 1},
                                         DenseCase{{0, 0, 1, 0, 2, 1, 0, 3}, 4},
                                         // Runs with more head sources than the pass
                                         // keeps in registers.
                                         DenseCase{{1, 1, 1, 1, 1, 1, 1, 1, 1}, 2}),
                       ::testing::Values(1ul, 30ul, 65536ul),
                       ::testing::Values(InstructionSet::Isa::baseline, InstructionSet::Isa::avx2,
                                         InstructionSet::Isa::avx512),
                       ::testing::Bool()));

}  // namespace
