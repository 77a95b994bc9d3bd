#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numeric>
#include <random>
#include <type_traits>
#include <vector>

#include "runtime/matrix.h"

// Independent references for the permanent tests: the definition, a sum over all permutations.
namespace PermanentReference {

template <typename T>
T brute_force(const RowMatrix<T>& a) {
    const int n = static_cast<int>(a.rows());
    std::vector<int> sigma(n);
    std::iota(sigma.begin(), sigma.end(), 0);
    if constexpr (std::is_same_v<T, long long>) {
        std::uint64_t sum = 0;  // wraps modulo 2^64 like the kernels
        do {
            std::uint64_t product = 1;
            for (int i = 0; i < n; ++i) product *= static_cast<std::uint64_t>(a(i, sigma[i]));
            sum += product;
        } while (std::next_permutation(sigma.begin(), sigma.end()));
        return static_cast<long long>(sum);
    } else {
        T sum(0);
        do {
            T product(1);
            for (int i = 0; i < n; ++i) product *= a(i, sigma[i]);
            sum += product;
        } while (std::next_permutation(sigma.begin(), sigma.end()));
        return sum;
    }
}

template <typename T>
RowMatrix<T> random_matrix(int rows, int cols, std::mt19937& engine) {
    RowMatrix<T> a(rows, cols);
    if constexpr (std::is_same_v<T, long long>) {
        std::uniform_int_distribution<long long> entry(-4, 4);
        for (auto& x : a.reshaped()) x = entry(engine);
    } else {
        std::normal_distribution<double> entry(0.0, 1.0);
        for (auto& x : a.reshaped()) {
            if constexpr (std::is_same_v<T, double>)
                x = entry(engine);
            else
                x = T(entry(engine), entry(engine));
        }
    }
    return a;
}

// Sum of the magnitudes of all terms, the scale against which rounding errors are measured.
template <typename T>
double magnitude_scale(const RowMatrix<T>& a) {
    const RowMatrix<double> magnitudes = a.cwiseAbs().template cast<double>();
    return brute_force<double>(magnitudes);
}

// n! as a long double, exact up to n = 25 (its odd part fits the 64-bit significand).
inline long double factorial(int n) {
    long double f = 1;
    for (int i = 2; i <= n; ++i) f *= i;
    return f;
}

// The Sylvester-Hadamard matrix of order n (a power of two): entry (i, j) is (-1)^popcount(i & j).
template <typename T>
RowMatrix<T> sylvester_hadamard(int n) {
    RowMatrix<T> h(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            h(i, j) = std::popcount(static_cast<unsigned>(i & j)) % 2 == 0 ? T(1) : T(-1);
    return h;
}

// The exact permanent of a small integer matrix, by Ryser's formula in 128-bit integers with
// every row sum formed afresh.
inline __int128 exact_permanent(const RowMatrix<long long>& a) {
    const int n = static_cast<int>(a.rows());
    __int128 total = 0;
    for (unsigned long subset = 1; subset < 1ul << n; ++subset) {
        __int128 product = 1;
        for (int i = 0; i < n; ++i) {
            long long sum = 0;
            for (int j = 0; j < n; ++j)
                if (subset >> j & 1ul) sum += a(i, j);
            product *= sum;
        }
        total += (n - std::popcount(subset)) % 2 == 0 ? product : -product;
    }
    return total;
}

// A Haar-random unitary (T complex) or orthogonal (T real) matrix: Gaussian columns
// orthonormalised twice by Gram-Schmidt in long double, then rounded.
template <typename T>
RowMatrix<T> haar_matrix(int n, std::mt19937& engine) {
    using L = std::complex<long double>;
    std::normal_distribution<double> entry(0.0, 1.0);
    std::vector<std::vector<L>> columns;
    for (int j = 0; j < n; ++j) {
        std::vector<L> v(n);
        for (auto& x : v) {
            const double re = entry(engine);
            x = std::is_same_v<T, double> ? L(re) : L(re, entry(engine));
        }
        for (int pass = 0; pass < 2; ++pass)
            for (const auto& u : columns) {
                L dot = 0;
                for (int i = 0; i < n; ++i) dot += std::conj(u[i]) * v[i];
                for (int i = 0; i < n; ++i) v[i] -= dot * u[i];
            }
        long double norm = 0;
        for (const L& x : v) norm += std::norm(x);
        for (L& x : v) x /= std::sqrt(norm);
        columns.push_back(std::move(v));
    }
    RowMatrix<T> a(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            if constexpr (std::is_same_v<T, double>)
                a(i, j) = static_cast<double>(columns[j][i].real());
            else
                a(i, j) = T(static_cast<double>(columns[j][i].real()),
                            static_cast<double>(columns[j][i].imag()));
        }
    return a;
}

// Glynn's formula in long double with compensated sums and the row sums formed afresh every
// 4096 sign vectors: some 1e-15 relative or better up to n = 20, the reference for matrices
// without a closed form.
template <typename T>
std::complex<long double> precise_permanent(const RowMatrix<T>& a) {
    using L = std::complex<long double>;
    const int n = static_cast<int>(a.rows());
    if (n == 0) return 1;
    const auto at = [&a](int i, int j) { return L(std::complex<double>(a(i, j))); };
    std::vector<L> r(n);
    long double sum[2] = {0, 0}, error[2] = {0, 0};
    const auto add = [&](int part, long double x) {
        const long double s = sum[part] + x;
        const long double x_part = s - sum[part];
        error[part] += (sum[part] - (s - x_part)) + (x - x_part);
        sum[part] = s;
    };
    unsigned long code = 0;
    for (unsigned long k = 0; k < 1ul << (n - 1); ++k) {
        if (k % 4096 == 0) {
            code = k ^ (k >> 1);
            for (int i = 0; i < n; ++i) {
                r[i] = 0;
                for (int j = 0; j < n; ++j) r[i] += code >> j & 1ul ? -at(i, j) : at(i, j);
            }
        } else {
            const int column = std::countr_zero(k);
            code ^= 1ul << column;
            const long double step = code >> column & 1ul ? -2 : 2;
            for (int i = 0; i < n; ++i) r[i] += step * at(i, column);
        }
        L product = 1;
        for (int i = 0; i < n; ++i) product *= r[i];
        if (std::popcount(code) % 2 == 1) product = -product;
        add(0, product.real());
        add(1, product.imag());
    }
    const long double scale = std::ldexp(1.0L, n - 1);
    return {(sum[0] + error[0]) / scale, (sum[1] + error[1]) / scale};
}

// Gray-code Ryser in double with one running sum and products from left to right, the plain
// walk that the lane kernels are measured against.
template <typename T>
T one_sum_ryser(const RowMatrix<T>& a) {
    const int n = static_cast<int>(a.rows());
    std::vector<T> r(n, T(0));
    T sum(0);
    unsigned long code = 0;
    for (unsigned long k = 1; k < 1ul << n; ++k) {
        const int column = std::countr_zero(k);
        code ^= 1ul << column;
        const bool add = code >> column & 1ul;
        for (int i = 0; i < n; ++i) r[i] += add ? a(i, column) : -a(i, column);
        T product = r[0];
        for (int i = 1; i < n; ++i) product *= r[i];
        if ((n - std::popcount(code)) % 2 == 1)
            sum -= product;
        else
            sum += product;
    }
    return sum;
}

}  // namespace PermanentReference
