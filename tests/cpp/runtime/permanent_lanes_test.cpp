#include "runtime/permanent_lanes.h"

#include <bit>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "permanent_reference.h"
#include "runtime/config.h"
#include "runtime/instruction_set.h"
#include "runtime/permanent.h"
#include "runtime/permanent_gurvits.h"
#include "runtime/rng.h"
#include "runtime/sub_permanents.h"

namespace {

using cd = std::complex<double>;
using cf = std::complex<float>;
using InstructionSet::Isa;
using PermanentReference::brute_force;
using PermanentReference::random_matrix;

// Every instruction-set variant of the kernels against the definition, whichever variant this
// processor would pick by itself (variants it lacks fall back to the widest it has).
class KernelVariants : public ::testing::TestWithParam<Isa> {
  protected:
    void SetUp() override { InstructionSet::isa_limit() = GetParam(); }
    void TearDown() override { InstructionSet::isa_limit() = Isa::avx512; }
};

TEST_P(KernelVariants, ExactPermanents) {
    for (int n : {1, 2, 5, 8, 9}) {
        std::mt19937 engine(n);
        const auto ints = random_matrix<long long>(n, n, engine);
        const auto reals = random_matrix<double>(n, n, engine);
        const auto complexes = random_matrix<cd>(n, n, engine);
        const double scale = 1e-12 * (1.0 + PermanentReference::magnitude_scale(complexes) +
                                      PermanentReference::magnitude_scale(reals));
        const unsigned long total = 1ul << n;
        EXPECT_EQ(permanentRyserRange<long long>(ints.data(), 1, total, n), brute_force(ints));
        EXPECT_NEAR(permanentRyserRange<double>(reals.data(), 1, total, n), brute_force(reals),
                    scale);
        EXPECT_NEAR(permanentGlynn<double>(reals), brute_force(reals), scale);
        EXPECT_LE(std::abs(permanentRyserRange<cd>(complexes.data(), 1, total, n) -
                           brute_force(complexes)),
                  scale);
        EXPECT_LE(std::abs(permanentGlynn<cd>(complexes) - brute_force(complexes)), scale);
    }
}

// Beyond 32 rows the row sums stay in memory; a short range of a 40 x 40 matrix checks that walk
// term by term against the definition, with whole lane groups and a partial one at each end.
TEST_P(KernelVariants, LargeOrdersMatchTheirTerms) {
    constexpr unsigned n = 40;
    std::mt19937 engine(40);
    std::uniform_int_distribution<long long> entry(-3, 3);
    RowMatrix<long long> a(n, n);
    for (auto& x : a.reshaped()) x = entry(engine);
    const unsigned long from = (1ul << 35) + 5, to = from + 300;
    std::uint64_t expected = 0;
    for (unsigned long k = from; k < to; ++k) {
        const unsigned long code = k ^ (k >> 1);
        std::uint64_t product = 1;
        for (unsigned i = 0; i < n; ++i) {
            std::uint64_t sum = 0;
            for (unsigned j = 0; j < n; ++j)
                if (code >> j & 1ul) sum += static_cast<std::uint64_t>(a(i, j));
            product *= sum;
        }
        if ((n - static_cast<unsigned>(std::popcount(code))) & 1u)
            expected -= product;
        else
            expected += product;
    }
    EXPECT_EQ(static_cast<std::uint64_t>(permanentRyserRange<long long>(a.data(), from, to, n)),
              expected);
}

TEST_P(KernelVariants, SubPermanents) {
    for (int n : {2, 3, 4, 5, 7}) {
        std::mt19937 engine(10 + n);
        const auto complexes = random_matrix<cd>(n + 1, n, engine);
        const RowMatrix<double> reals = complexes.real();
        const RowMatrix<cf> singles = complexes.cast<cf>();
        std::vector<double> real_out(n + 1);
        std::vector<cd> complex_out(n + 1);
        std::vector<cf> single_out(n + 1);
        sub_permanents<double>(reals.data(), n, real_out.data());
        sub_permanents<cd>(complexes.data(), n, complex_out.data());
        sub_permanents<cf>(singles.data(), n, single_out.data());
        for (int k = 0; k <= n; ++k) {
            RowMatrix<cd> deleted(n, n);
            for (int i = 0, row = 0; i <= n; ++i)
                if (i != k) deleted.row(row++) = complexes.row(i);
            const RowMatrix<double> deleted_real = deleted.real();
            const cd expected = brute_force(deleted);
            const double scale = 1.0 + PermanentReference::magnitude_scale(deleted);
            EXPECT_NEAR(real_out[k], brute_force(deleted_real), 1e-12 * scale);
            EXPECT_LE(std::abs(complex_out[k] - expected), 1e-12 * scale);
            EXPECT_LE(std::abs(cd(single_out[k]) - expected), 1e-5 * scale);
        }
    }
}

TEST_P(KernelVariants, GurvitsEstimate) {
    std::mt19937 engine(30);
    const auto a = random_matrix<cd>(11, 11, engine);
    const cd exact = permanentGlynn<cd>(a);
    RNG::rng.seed(1);
    const auto [estimate, width] = permanentGurvits<cd>(a, 20000, 3);
    EXPECT_LE(std::abs(estimate - exact), width);
    const auto [identity, zero] =
        permanentGurvits<double>(RowMatrix<double>::Identity(9, 9), 100, 2);
    EXPECT_EQ(identity, 1.0);
    EXPECT_EQ(zero, 0.0);
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, KernelVariants,
                         ::testing::Values(Isa::baseline, Isa::avx2, Isa::avx512));

}  // namespace
