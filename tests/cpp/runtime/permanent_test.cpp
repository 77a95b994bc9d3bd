#include "runtime/permanent.h"

#include <bit>
#include <cmath>
#include <complex>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "test_support.h"

#include "permanent_reference.h"
#include "runtime/config.h"

namespace {

using cd = std::complex<double>;
using PermanentReference::brute_force;
using PermanentReference::exact_permanent;
using PermanentReference::factorial;
using PermanentReference::haar_matrix;
using PermanentReference::precise_permanent;
using PermanentReference::random_matrix;
using PermanentReference::sylvester_hadamard;

using test_support::ThreadCount;

constexpr std::uint32_t minus_one = 4294967295u;  // -1 as stored from Python

long long perm(const RowMatrix<long long>& a, const std::string& ptype) {
    return permanent_in(a, ptype);
}
double perm(const RowMatrix<double>& a, const std::string& ptype) {
    return permanent_fl(a, ptype);
}
cd perm(const RowMatrix<cd>& a, const std::string& ptype) {
    return permanent_cx(a, ptype);
}

template <typename T>
void expect_close(T got, T expected, double scale) {
    EXPECT_LE(std::abs(got - expected), 1e-12 * scale)
        << "got " << got << ", expected " << expected;
}

// Every path against the definition, for every order up to 8 and thread counts around the
// number of subsets.
class PermanentAgainstDefinition : public ::testing::TestWithParam<int> {};

TEST_P(PermanentAgainstDefinition, IntegerRyserIsExactForEveryThreadCount) {
    std::mt19937 engine(100 + GetParam());
    const auto a = random_matrix<long long>(GetParam(), GetParam(), engine);
    const long long expected = brute_force(a);
    for (std::uint32_t threads : {0u, 1u, 2u, 3u, 5u, 70u, 300u, minus_one}) {
        ThreadCount scope(threads);
        EXPECT_EQ(perm(a, ""), expected) << threads << " threads";
        EXPECT_EQ(perm(a, "ryser"), expected) << threads << " threads";
    }
}

template <typename T>
void check_floating(int n, unsigned seed) {
    std::mt19937 engine(seed);
    const auto a = random_matrix<T>(n, n, engine);
    const T expected = brute_force(a);
    const double scale = std::max(1.0, PermanentReference::magnitude_scale(a));
    expect_close(permanentGlynn<T>(a), expected, scale);
    for (std::uint32_t threads : {0u, 1u, 2u, 3u, 5u, 70u, 300u, minus_one}) {
        ThreadCount scope(threads);
        expect_close(perm(a, ""), expected, scale);
        expect_close(perm(a, "ryser"), expected, scale);
        expect_close(perm(a, "glynn"), expected, scale);
    }
}

TEST_P(PermanentAgainstDefinition, RealGlynnAndRyser) {
    check_floating<double>(GetParam(), 200 + GetParam());
}

TEST_P(PermanentAgainstDefinition, ComplexGlynnAndRyser) {
    check_floating<cd>(GetParam(), 300 + GetParam());
}

TEST_P(PermanentAgainstDefinition, RyserRangesAddUpWhateverTheSplit) {
    const int n = GetParam();
    if (n == 0) {
        // Only the empty subset, whose product over no rows is 1.
        EXPECT_EQ(permanentRyserRange<long long>(nullptr, 0, 1, 0), 1);
        return;
    }
    std::mt19937 engine(400 + n);
    const auto a = random_matrix<long long>(n, n, engine);
    const unsigned long total = 1ul << n;
    long long sum = 0;
    for (unsigned long from = 1; from < total; from += 3)
        sum += permanentRyserRange<long long>(a.data(), from, std::min(from + 3, total), n);
    EXPECT_EQ(sum, brute_force(a));
    EXPECT_EQ(permanentRyserRange<long long>(a.data(), 5, 5, n), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, PermanentAgainstDefinition, ::testing::Range(0, 9));

// Ryser's unhalved row sums drift over 2^n Gray-code updates and its terms are large, so in
// double precision its own relative error reaches about 1e-9 at n = 20 on such matrices.
TEST(Permanent, GlynnAgreesWithRyserOnLargerComplexMatrices) {
    for (int n : {9, 12, 14, 16, 18, 20})
        for (unsigned seed = 0; seed < 3; ++seed) {
            std::mt19937 engine(1000 * n + seed);
            const auto a = random_matrix<cd>(n, n, engine);
            const cd glynn = permanent_cx(a, "glynn");
            const cd ryser = permanent_cx(a, "ryser");
            EXPECT_LE(std::abs(glynn - ryser), (n <= 16 ? 1e-10 : 1e-8) * std::abs(ryser))
                << "n = " << n;
        }
}

TEST(Permanent, KnownValues) {
    RowMatrix<long long> ones2 = RowMatrix<long long>::Ones(2, 2),
                         ones3 = RowMatrix<long long>::Ones(3, 3);
    RowMatrix<long long> zero_row{{1, 2, 3}, {0, 0, 0}, {4, 5, 6}};
    RowMatrix<long long> small{{1, 2}, {3, 4}};
    for (std::uint32_t threads : {1u, 8u}) {
        ThreadCount scope(threads);
        EXPECT_EQ(perm(ones2, ""), 2);
        EXPECT_EQ(perm(ones3, ""), 6);
        EXPECT_EQ(perm(zero_row, ""), 0);
        EXPECT_EQ(perm(small, ""), 10);
        EXPECT_DOUBLE_EQ(perm(RowMatrix<double>(small.cast<double>()), ""), 10.0);
        EXPECT_EQ(perm(RowMatrix<cd>(small.cast<cd>()), ""), cd(10.0, 0.0));
        EXPECT_DOUBLE_EQ(perm(RowMatrix<double>{{-2.5}}, ""), -2.5);
        EXPECT_EQ(perm(RowMatrix<cd>{{cd(1.5, -2.0)}}, ""), cd(1.5, -2.0));
    }
}

TEST(Permanent, EmptyMatrixHasPermanentOneOnEveryPath) {
    for (std::uint32_t threads : {0u, 1u, 2u, 3u, 64u, minus_one}) {
        ThreadCount scope(threads);
        for (const std::string ptype : {"", "ryser", "glynn"}) {
            EXPECT_EQ(perm(RowMatrix<double>(0, 0), ptype), 1.0);
            EXPECT_EQ(perm(RowMatrix<cd>(0, 0), ptype), cd(1.0));
            if (ptype != "glynn") {
                EXPECT_EQ(perm(RowMatrix<long long>(0, 0), ptype), 1);
            }
        }
    }
}

TEST(Permanent, IntegerResultsWrapModulo64Bits) {
    std::mt19937 engine(700);
    std::uniform_int_distribution<long long> entry(-(1ll << 40), 1ll << 40);
    RowMatrix<long long> a(6, 6);
    for (auto& x : a.reshaped()) x = entry(engine);
    const long long expected = brute_force(a);
    for (std::uint32_t threads : {1u, 3u, 64u}) {
        ThreadCount scope(threads);
        EXPECT_EQ(permanent_in(a), expected);
    }
}

TEST(Permanent, NonSquareMatrixIsRefusedOnEveryPath) {
    for (std::uint32_t threads : {0u, 1u, 4u}) {
        ThreadCount scope(threads);
        for (const std::string ptype : {"", "glynn", "ryser", "other"}) {
            EXPECT_THROW(perm(RowMatrix<long long>(2, 3), ptype), std::runtime_error);
            EXPECT_THROW(perm(RowMatrix<double>(2, 3), ptype), std::runtime_error);
            try {
                perm(RowMatrix<cd>(3, 2), ptype);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Input should have size [N,N]");
            }
        }
    }
}

TEST(Permanent, IntegersHaveNoGlynn) {
    const RowMatrix<long long> a{{1, 2}, {3, 4}};
    try {
        permanent_in(a, "glynn");
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Cannot use Glynn for int");
    }
    // Anything but the exact lower-case name, and the thread counts that pick Glynn for
    // floating-point matrices, run Ryser.
    for (const std::string ptype : {"Glynn", "GLYNN", " glynn", "ryser", "x"})
        EXPECT_EQ(permanent_in(a, ptype), 10);
    ThreadCount scope(1);
    EXPECT_EQ(permanent_in(a), 10);
}

TEST(Permanent, RyserRefusesOrdersBeyondItsCounter) {
    const RowMatrix<double> a = RowMatrix<double>::Zero(64, 64);
    ThreadCount scope(4);
    EXPECT_THROW(permanent_fl(a, "ryser"), std::invalid_argument);
    EXPECT_THROW(permanent_in(RowMatrix<long long>::Zero(64, 64)), std::invalid_argument);
    EXPECT_THROW(permanent_cx(RowMatrix<cd>::Zero(70, 70)), std::invalid_argument);
}

// Glynn at order 64 used to run for ever where Ryser refused: every kind now stops at the same
// order, whatever picks it.
struct OrderCase {
    const char* ptype;
    std::uint32_t threads;
    const char* kind;
};

class OrdersBeyondTheCounter : public ::testing::TestWithParam<OrderCase> {};

TEST_P(OrdersBeyondTheCounter, AreRefusedByEveryKind) {
    const auto& c = GetParam();
    ThreadCount scope(c.threads);
    const std::string message = fmt::format(
        "Cannot compute the permanent of a 64x64 matrix with {}: the order must be below 64",
        c.kind);
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { permanent_fl(RowMatrix<double>::Ones(64, 64), c.ptype); }, message);
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { permanent_cx(RowMatrix<cd>::Ones(64, 64), c.ptype); }, message);
    if (std::string(c.kind) == "Ryser")
        test_support::expect_throw_message<std::invalid_argument>(
            [&] { permanent_in(RowMatrix<long long>::Ones(64, 64), c.ptype); }, message);
}

INSTANTIATE_TEST_SUITE_P(Table, OrdersBeyondTheCounter,
                         ::testing::Values(OrderCase{"glynn", 4, "Glynn"},
                                           OrderCase{"", 1, "Glynn"}, OrderCase{"", 2, "Glynn"},
                                           OrderCase{"", 0, "Ryser"}, OrderCase{"", 1000, "Ryser"},
                                           OrderCase{"ryser", 1, "Ryser"}));

TEST(Permanent, NullDataIsRefusedOnTheRyserPath) {
    const Eigen::Map<const RowMatrix<double>> null(nullptr, 2, 2);
    try {
        permanent_fl(null, "ryser");
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "A is null");
    }
}

TEST(Permanent, StridedViewsAreReadThroughTheirStride) {
    std::mt19937 engine(800);
    const auto big = random_matrix<cd>(7, 9, engine);
    const RowMatrix<cd> block = big.block(1, 2, 5, 5);
    const MatrixView<cd> view = big.block(1, 2, 5, 5);
    ASSERT_EQ(view.outerStride(), 9);
    const cd expected = brute_force(block);
    for (const std::string ptype : {"glynn", "ryser"})
        expect_close(permanent_cx(view, ptype), expected, 1e3);
}

TEST(Permanent, ComplexOfRealMatrixMatchesReal) {
    std::mt19937 engine(900);
    const auto a = random_matrix<double>(7, 7, engine);
    const RowMatrix<cd> c = a.cast<cd>();
    for (const std::string ptype : {"glynn", "ryser"}) {
        const cd z = permanent_cx(c, ptype);
        EXPECT_EQ(z.imag(), 0.0);
        EXPECT_DOUBLE_EQ(z.real(), permanent_fl(a, ptype));
    }
}

// Small matrices run as one task whatever the thread count; large ones use every thread.
TEST(Permanent, RyserTaskCountFollowsTheWork) {
    for (std::size_t threads : {1u, 2u, 8u, 300u}) {
        std::size_t previous = 1;
        for (unsigned n = 0; n < 64; ++n) {
            const std::size_t tasks = ryser_task_count(n, threads);
            EXPECT_GE(tasks, previous) << "n = " << n;
            EXPECT_LE(tasks, threads) << "n = " << n;
            previous = tasks;
        }
        EXPECT_EQ(ryser_task_count(12, threads), 1u);
        EXPECT_EQ(ryser_task_count(63, threads), threads);
    }
    EXPECT_EQ(ryser_task_count(20, 0), 1u);
}

// Several tasks against one, where the split matters: permanents of all-ones matrices are
// exact in integers, and the tasks add the same blocks in the same order as one task does, so
// doubles agree bit for bit whatever the thread count and however the blocks were shared out.
TEST(Permanent, RyserGivesTheSameValueOnOneTaskAsOnSeveral) {
    ASSERT_EQ(ryser_task_count(20, 8), 8u);
    const RowMatrix<long long> ones = RowMatrix<long long>::Ones(20, 20);
    std::mt19937 engine(1100);
    const auto reals = random_matrix<double>(20, 20, engine);
    const auto complexes = random_matrix<cd>(20, 20, engine);
    long long single = 0;
    double single_real = 0;
    cd single_complex;
    {
        ThreadCount scope(1);
        single = permanent_in(ones);
        single_real = permanent_fl(reals, "ryser");
        single_complex = permanent_cx(complexes, "ryser");
    }
    EXPECT_EQ(single, 2432902008176640000ll);  // 20!
    for (std::uint32_t threads : {3u, 8u, 100u}) {
        ThreadCount scope(threads);
        for (int repeat = 0; repeat < 3; ++repeat) {
            EXPECT_EQ(permanent_in(ones), single) << threads << " threads";
            EXPECT_EQ(permanent_fl(reals, "ryser"), single_real) << threads << " threads";
            EXPECT_EQ(permanent_cx(complexes, "ryser"), single_complex) << threads << " threads";
        }
    }
}

// dec2idxarr along a Gray-code walk keeps the sorted list of set bits and names the one column
// that changed.
class Dec2IdxArr : public ::testing::TestWithParam<unsigned long> {};

TEST_P(Dec2IdxArr, FollowsGrayCodeWalk) {
    const unsigned long from = GetParam();
    std::vector<int> list(12, 0);
    int change = 99;
    unsigned long previous = from ^ (from >> 1);
    int count = dec2idxarr(list, change, previous, 0);
    EXPECT_EQ(change, 0);
    for (unsigned long k = from + 1; k < from + 300; ++k) {
        const unsigned long code = k ^ (k >> 1);
        count = dec2idxarr(list, change, code, count);
        ASSERT_EQ(count, std::popcount(code));
        std::vector<int> bits;
        for (int j = 0; j < 12; ++j)
            if (code >> j & 1) bits.push_back(j);
        ASSERT_EQ(std::vector<int>(list.begin(), list.begin() + count), bits);
        // From an empty list the call rebuilds it and reports no single change.
        const int column = std::countr_zero(code ^ previous);
        const int expected = previous == 0 ? 0 : code >> column & 1 ? column + 1 : -(column + 1);
        ASSERT_EQ(change, expected) << "k = " << k;
        previous = code;
    }
}

INSTANTIATE_TEST_SUITE_P(Starts, Dec2IdxArr, ::testing::Values(0ul, 1ul, 37ul, 1000ul));

TEST(Dec2IdxArrEdges, EmptyAndUnchangedCodes) {
    std::vector<int> list{4, 7, 0};
    int change = 5;
    EXPECT_EQ(dec2idxarr(list, change, 0, 0), 0);
    EXPECT_EQ(change, 0);
    EXPECT_EQ(dec2idxarr(list, change, 0, 2), 0);
    EXPECT_EQ(list[0], 4);
    EXPECT_EQ(dec2idxarr(list, change, (1ul << 4) | (1ul << 7), 2), 2);
    EXPECT_EQ(change, 0);
}

}  // namespace

namespace {

// Accuracy at the largest orders CI affords, against exact values (all-ones: n!; the
// Sylvester-Hadamard matrix of order 16: integer Ryser) and long double Glynn (Haar matrices:
// unitary for complex, orthogonal for real). Values are the same on every thread count.
enum class Family { ones, hadamard, haar };

struct AccuracyCase {
    Family family;
    int n;
    const char* ptype;
    bool complex;
    double bound;  // on the relative error
};

std::ostream& operator<<(std::ostream& out, const AccuracyCase& c) {
    const char* family[] = {"ones", "hadamard", "haar"};
    return out << family[static_cast<int>(c.family)] << " " << c.n << " " << c.ptype
               << (c.complex ? " complex" : " real");
}

template <typename T>
RowMatrix<T> family_matrix(Family family, int n) {
    std::mt19937 engine(static_cast<unsigned>(n));
    switch (family) {
        case Family::ones:
            return RowMatrix<T>::Ones(n, n);
        case Family::hadamard:
            return sylvester_hadamard<T>(n);
        default:
            return haar_matrix<T>(n, engine);
    }
}

template <typename T>
std::complex<long double> reference(Family family, int n) {
    static std::map<std::pair<Family, int>, std::complex<long double>> known;
    const auto key = std::make_pair(family, n);
    if (const auto it = known.find(key); it != known.end()) return it->second;
    std::complex<long double> value;
    if (family == Family::ones)
        value = factorial(n);
    else if (family == Family::hadamard)
        value = static_cast<long double>(exact_permanent(sylvester_hadamard<long long>(n)));
    else
        value = precise_permanent(family_matrix<T>(family, n));
    return known[key] = value;
}

template <typename T>
double relative_error(const AccuracyCase& c) {
    ThreadCount scope(8);
    const RowMatrix<T> a = family_matrix<T>(c.family, c.n);
    const std::complex<long double> expected = reference<T>(c.family, c.n);
    std::complex<long double> got;
    if constexpr (std::is_same_v<T, cd>)
        got = permanent_cx(a, c.ptype);
    else
        got = permanent_fl(a, c.ptype);
    return static_cast<double>(std::abs(got - expected) / std::abs(expected));
}

class PermanentAccuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(PermanentAccuracy, RelativeErrorStaysWithinItsBound) {
    const AccuracyCase& c = GetParam();
    EXPECT_LE(c.complex ? relative_error<cd>(c) : relative_error<double>(c), c.bound);
}

// Relative errors of a Gray-code Ryser with one running sum in double on the all-ones matrices
// of orders 15 ... 24 (exact below): Ryser's lanes may lose at most twice as much.
constexpr double one_sum_ryser[] = {4.305e-10, 9.929e-10, 1.006e-08, 6.014e-09, 6.344e-08,
                                    2.555e-07, 1.066e-06, 2.720e-06, 6.240e-06, 1.858e-05};

std::vector<AccuracyCase> accuracy_cases() {
    std::vector<AccuracyCase> cases;
    for (bool complex : {false, true}) {
        for (int n = 12; n <= 24; ++n) {
            cases.push_back({Family::ones, n, "glynn", complex, n < 15 ? 0.0 : 4e-8});
            cases.push_back(
                {Family::ones, n, "ryser", complex, n < 15 ? 0.0 : 2 * one_sum_ryser[n - 15]});
        }
        for (const char* ptype : {"glynn", "ryser"})
            cases.push_back({Family::hadamard, 16, ptype, complex, 1e-15});
        cases.push_back({Family::haar, 12, "glynn", complex, 1e-13});
        cases.push_back({Family::haar, 16, "glynn", complex, 2e-11});
        cases.push_back({Family::haar, 20, "glynn", complex, 5e-11});
        cases.push_back({Family::haar, 12, "ryser", complex, 1e-12});
        cases.push_back({Family::haar, 16, "ryser", complex, complex ? 2e-11 : 2e-12});
        cases.push_back({Family::haar, 20, "ryser", complex, complex ? 5e-10 : 1e-12});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, PermanentAccuracy, ::testing::ValuesIn(accuracy_cases()));

// The integer kernel is exact where the value fits: the Sylvester-Hadamard matrix of order 16.
TEST(Permanent, IntegerRyserIsExactOnHadamard) {
    const auto h = sylvester_hadamard<long long>(16);
    EXPECT_EQ(static_cast<__int128>(permanent_in(h)), exact_permanent(h));
}

}  // namespace
