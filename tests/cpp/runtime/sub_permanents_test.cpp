#include "runtime/sub_permanents.h"

#include <chrono>
#include <complex>
#include <csignal>
#include <future>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "permanent_reference.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/keyboard_interrupt_exception.h"

namespace {

using cd = std::complex<double>;
using cf = std::complex<float>;
using PermanentReference::brute_force;
using PermanentReference::random_matrix;

template <typename T>
std::vector<T> run(const RowMatrix<T>& a) {
    std::vector<T> out(a.rows(), T(-7));
    sub_permanents<T>(a.data(), static_cast<int>(a.cols()), out.data());
    return out;
}

RowMatrix<double> without_row(const RowMatrix<double>& a, int k) {
    RowMatrix<double> b(a.rows() - 1, a.cols());
    for (int i = 0, r = 0; i < a.rows(); ++i)
        if (i != k) b.row(r++) = a.row(i);
    return b;
}

RowMatrix<cd> without_row(const RowMatrix<cd>& a, int k) {
    RowMatrix<cd> b(a.rows() - 1, a.cols());
    for (int i = 0, r = 0; i < a.rows(); ++i)
        if (i != k) b.row(r++) = a.row(i);
    return b;
}

TEST(SubPermanents, SmallKnownValues) {
    EXPECT_EQ(run<double>(RowMatrix<double>(1, 0)), std::vector<double>{1.0});
    EXPECT_EQ(run<cd>(RowMatrix<cd>{{cd(2, 1)}, {cd(-3, 0.5)}}),
              (std::vector<cd>{cd(-3, 0.5), cd(2, 1)}));
    EXPECT_EQ(run<double>(RowMatrix<double>::Ones(3, 2)), std::vector<double>(3, 2.0));
    EXPECT_EQ(run<cd>(RowMatrix<cd>::Ones(4, 3)), std::vector<cd>(4, cd(6.0)));
    EXPECT_EQ(run<cf>(RowMatrix<cf>::Ones(4, 3)), std::vector<cf>(4, cf(6.0f)));
}

// Entry k is the permanent of the matrix without row k; and expanding the permanent of an
// (n+1) x (n+1) matrix along its last column gives perm = sum_k a[k][n] * sub_k.
class SubPermanentsAgainstDefinition : public ::testing::TestWithParam<int> {};

TEST_P(SubPermanentsAgainstDefinition, RealAndComplexInstances) {
    const int n = GetParam();
    std::mt19937 engine(40 + n);
    const auto real = random_matrix<double>(n + 1, n + 1, engine);
    const auto complex = random_matrix<cd>(n + 1, n + 1, engine);
    const RowMatrix<double> real_left = real.leftCols(n);
    const RowMatrix<cd> complex_left = complex.leftCols(n);
    const auto subs = run<double>(real_left);
    const auto csubs = run<cd>(complex_left);
    const RowMatrix<cf> single_left = complex_left.cast<cf>();
    const auto fsubs = run<cf>(single_left);

    double laplace = 0.0;
    cd claplace = 0.0;
    for (int k = 0; k <= n; ++k) {
        const double expected = brute_force(without_row(real_left, k));
        const cd cexpected = brute_force(without_row(complex_left, k));
        const double scale = 1.0 + std::abs(expected) + std::abs(cexpected);
        EXPECT_NEAR(subs[k], expected, 1e-12 * scale) << "row " << k;
        EXPECT_LE(std::abs(csubs[k] - cexpected), 1e-12 * scale) << "row " << k;
        EXPECT_LE(std::abs(cd(fsubs[k]) - cexpected), 1e-4 * scale) << "row " << k;
        laplace += real(k, n) * subs[k];
        claplace += complex(k, n) * csubs[k];
    }
    EXPECT_NEAR(laplace, brute_force(real), 1e-11 * (1.0 + std::abs(laplace)));
    EXPECT_LE(std::abs(claplace - brute_force(complex)), 1e-11 * (1.0 + std::abs(claplace)));
}

INSTANTIATE_TEST_SUITE_P(Orders, SubPermanentsAgainstDefinition, ::testing::Range(0, 9));

TEST(SubPermanents, DriversCheckTheShapeAfterClearingTheFlag) {
    InterruptSignalHandler::interrupted = true;
    try {
        sub_permanents_fl(RowMatrix<double>::Ones(3, 3));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Input should have size [N+1,N]");
    }
    EXPECT_FALSE(InterruptSignalHandler::interrupted.load());
    EXPECT_THROW(sub_permanents_cx(RowMatrix<cd>::Ones(2, 2)), std::runtime_error);
}

TEST(SubPermanents, DriversReadThroughStridesAndReturnEveryEntry) {
    std::mt19937 engine(7);
    const auto big = random_matrix<cd>(6, 8, engine);
    const MatrixView<cd> view = big.block(0, 1, 6, 5);
    const Eigen::VectorXcd result = sub_permanents_cx(view);
    const auto expected = run<cd>(RowMatrix<cd>(view));
    ASSERT_EQ(result.size(), 6);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(result[k], expected[k]);
    EXPECT_EQ(sub_permanents_fl(RowMatrix<double>(1, 0)), Eigen::VectorXd::Ones(1));
}

TEST(SubPermanents, OrdersFrom64AreRefused) {
    std::vector<double> out(66);
    const std::vector<double> a(65 * 64, 0.0);
    EXPECT_THROW(sub_permanents<double>(a.data(), 64, out.data()), std::invalid_argument);
    EXPECT_THROW(sub_permanents<double>(a.data(), -1, out.data()), std::invalid_argument);
    EXPECT_THROW(sub_permanents_fl(RowMatrix<double>::Zero(65, 64)), std::invalid_argument);
}

TEST(SubPermanents, StaleInterruptDoesNotStopTheDriver) {
    InterruptSignalHandler::interrupted = true;
    const Eigen::VectorXd result = sub_permanents_fl(RowMatrix<double>::Ones(4, 3));
    EXPECT_EQ(result, Eigen::VectorXd::Constant(4, 6.0));
}

TEST(SubPermanents, KernelStopsAtTheFlag) {
    const auto a = RowMatrix<cf>::Ones(3, 2).eval();
    std::vector<cf> out(3);
    InterruptSignalHandler::interrupted = true;
    try {
        sub_permanents<cf>(a.data(), 2, out.data());
        ADD_FAILURE() << "no exception";
    } catch (const KeyboardInterruptException& e) {
        EXPECT_STREQ(e.what(), "Process interrupted by user.");
    }
    EXPECT_TRUE(InterruptSignalHandler::interrupted.load());
    InterruptSignalHandler::interrupted = false;
}

// n = 40 takes 2^40 steps: only a SIGINT ends it, which also shows that a 64-bit walk neither
// stops early nor fails to start beyond 31 columns.
TEST(SubPermanents, SigintDuringTheDriverThrows) {
    std::mt19937 engine(8);
    const auto a = random_matrix<cd>(41, 40, engine);
    InterruptSignalHandler::interrupted = true;
    auto call = std::async(std::launch::async, [&] { return sub_permanents_cx(a); });
    while (InterruptSignalHandler::interrupted.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(call.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    std::raise(SIGINT);
    ASSERT_EQ(call.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    try {
        call.get();
        ADD_FAILURE() << "no exception";
    } catch (const KeyboardInterruptException& e) {
        EXPECT_STREQ(e.what(), "Process interrupted by user.");
    }
    InterruptSignalHandler::interrupted = false;
}

}  // namespace
