#pragma once

#include <algorithm>
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

}  // namespace PermanentReference
