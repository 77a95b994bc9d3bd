#include "backends/slap_computer_unrolled.h"

#include <bit>
#include <complex>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slap_computer.h"
#include "backends/slap_walker.h"
#include "slap_walk.h"
#include "test_support.h"

namespace {

using backend_reference::cx;
using backend_reference::haar_unitary;
using test_support::all_counts;

// Every input of 1 to 4 photons on 1 to 6 modes, against the generic update.
TEST(SLAPComputerUnrolledTest, WalkEqualsTheGenericWalk) {
    std::mt19937 engine(19);
    for (int m = 1; m <= 6; ++m) {
        const Matrix u = haar_unitary(m, engine);
        for (int n = 1; n <= 4; ++n)
            for (auto const& counts : all_counts(m, n)) {
                const FockState input(counts);
                const auto unrolled =
                    slap_walk::amplitudes<Backend::SLAPWalkerNaive, Backend::SLAPComputer_unrolled>(
                        u, input);
                const auto generic =
                    slap_walk::amplitudes<Backend::SLAPWalkerNaive, Backend::SLAPComputer>(u,
                                                                                           input);
                ASSERT_EQ(unrolled.size(), generic.size());
                for (std::size_t i = 0; i < generic.size(); ++i)
                    ASSERT_NEAR(std::abs(unrolled[i] - generic[i]), 0.0, 1e-12)
                        << "m " << m << " input " << input.to_str() << " output " << i;
            }
    }
}

// The tables list k functions for k photons; each function writes exactly the masks of j bits
// below 2^k with the generic formula, and reads only those of j + 1 bits.
TEST(SLAPComputerUnrolledTest, GroupsWriteTheirLayerOnly) {
    const auto group = Backend::create_update_coeff_function_group();
    const auto with_proba = Backend::create_update_with_proba_function_group();
    ASSERT_EQ(group.size(), 5u);
    ASSERT_EQ(with_proba.size(), 5u);
    std::mt19937 engine(7);
    std::normal_distribution<double> normal;
    auto random_cx = [&] { return cx(normal(engine), normal(engine)); };
    for (std::size_t k = 0; k < 5; ++k) {
        ASSERT_EQ(group[k].size(), k);
        ASSERT_EQ(with_proba[k].size(), k);
        for (std::size_t j = 0; j < k; ++j) {
            std::vector<cx> row(k);
            for (auto& r : row) r = random_cx();
            std::vector<cx> before(std::size_t{1} << k);
            for (auto& c : before) c = random_cx();
            const double x = 1.7;
            std::vector<cx> divided = before;
            group[k][j](row.data(), x, divided);
            std::vector<cx> undivided = before;
            const double total = with_proba[k][j](row.data(), undivided);
            double expected_total = 0;
            for (unsigned s = 0; s < before.size(); ++s) {
                if (static_cast<std::size_t>(std::popcount(s)) != j) {
                    EXPECT_EQ(divided[s], before[s]) << k << "_" << j << " mask " << s;
                    EXPECT_EQ(undivided[s], before[s]) << k << "_" << j << " mask " << s;
                    continue;
                }
                cx sum = 0;
                for (std::size_t p = 0; p < k; ++p)
                    if (!((s >> p) & 1u)) sum += row[p] * before[s | (1u << p)];
                expected_total += std::norm(sum);
                EXPECT_NEAR(std::abs(divided[s] - sum / x), 0.0, 1e-12) << k << "_" << j;
                EXPECT_NEAR(std::abs(undivided[s] - sum), 0.0, 1e-12) << k << "_" << j;
            }
            EXPECT_NEAR(total, expected_total, 1e-12 * expected_total) << k << "_" << j;
        }
    }
}

TEST(SLAPComputerUnrolledTest, TwoPhotonsLayerOneExample) {
    std::vector<cx> c = {cx(9, 9), 0.0, 0.0, cx(0, 2)};
    const std::vector<cx> row = {cx(1, 1), 3.0};
    Backend::update_coefficients_2_1(row.data(), 1.0, c);
    EXPECT_EQ(c, (std::vector<cx>{cx(9, 9), cx(0, 6), cx(-2, 2), cx(0, 2)}));
}

}  // namespace
