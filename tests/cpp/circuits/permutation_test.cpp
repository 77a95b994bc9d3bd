#include "circuits/permutation.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Circuit::Permutation;
using test_support::expect_throw_message;

struct RefusedCase {
    std::string name;
    std::vector<int> vector;
    std::string message;
};

class PermutationRefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(PermutationRefusedTest, Refuses) {
    const RefusedCase& c = GetParam();
    expect_throw_message<std::invalid_argument>([&] { Permutation p(c.vector); }, c.message);
    expect_throw_message<std::invalid_argument>(
        [&] { Permutation::_checkPermutationVector(c.vector); }, c.message);
    expect_throw_message<std::invalid_argument>(
        [&] { (void)Permutation::_getAssociatedUnitaryMatrix(c.vector); }, c.message);
}

const std::string not_permutation = "permutationVector is not a permutation";

INSTANTIATE_TEST_SUITE_P(
    Cases, PermutationRefusedTest,
    ::testing::Values(RefusedCase{"empty", {}, "permutationVector is empty"},
                      RefusedCase{"duplicate", {1, 1}, not_permutation},
                      RefusedCase{"gap", {0, 2}, not_permutation},
                      RefusedCase{"negative", {-1, 0}, not_permutation},
                      RefusedCase{"shifted", {1, 2}, not_permutation},
                      RefusedCase{"too_large_alone", {1}, not_permutation},
                      RefusedCase{"largest_right_but_repeated", {2, 0, 0}, not_permutation},
                      RefusedCase{"int_min", {0, -2147483647 - 1}, not_permutation},
                      RefusedCase{"int_max", {2147483647, 0}, not_permutation}),
    [](auto const& info) { return info.param.name; });

class PermutationAcceptedTest : public ::testing::TestWithParam<std::vector<int>> {};

TEST_P(PermutationAcceptedTest, OutputModeITakesInputModeVi) {
    const std::vector<int>& v = GetParam();
    const Permutation p(v);
    const auto n = static_cast<Eigen::Index>(v.size());
    EXPECT_EQ(p.m, v.size());
    EXPECT_EQ(p.getPermutationVector(), v);
    EXPECT_EQ(p.getName(), "PERM");
    EXPECT_FALSE(p.supportsPolarization());
    Matrix expected = Matrix::Zero(n, n);
    for (Eigen::Index i = 0; i < n; ++i) expected(i, v[static_cast<std::size_t>(i)]) = 1;
    EXPECT_EQ(p.unitary(), expected);
    EXPECT_EQ(Permutation::_getAssociatedUnitaryMatrix(v), expected);
    // Amplitudes a_k on the inputs come out as a_{v[i]} on output i.
    Eigen::VectorXcd in(n);
    for (Eigen::Index k = 0; k < n; ++k) in(k) = double(k + 1);
    const Eigen::VectorXcd out = p.unitary() * in;
    for (Eigen::Index i = 0; i < n; ++i)
        EXPECT_EQ(out(i).real(), double(v[static_cast<std::size_t>(i)] + 1));

    auto copy = std::dynamic_pointer_cast<Permutation>(p.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getPermutationVector(), v);
    EXPECT_EQ(copy->describe(), p.describe());
}

INSTANTIATE_TEST_SUITE_P(Cases, PermutationAcceptedTest,
                         ::testing::Values(std::vector<int>{0}, std::vector<int>{1, 0},
                                           std::vector<int>{2, 0, 1},
                                           std::vector<int>{3, 1, 0, 2, 5, 4}));

TEST(Permutation, DescribesItsVectorNotItsMatrix) {
    EXPECT_EQ(Permutation({2, 0, 1}).describe(), "PERM({2, 0, 1})");
    EXPECT_EQ(Permutation({0}).describe(), "PERM({0})");
    const Matrix u = Permutation({2, 0, 1}).unitary();
    EXPECT_EQ(u(0, 2), 1.0);
    EXPECT_EQ(u(1, 0), 1.0);
    EXPECT_EQ(u(2, 1), 1.0);
}

}  // namespace
