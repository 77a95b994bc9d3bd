#pragma once

#include <cmath>

#include "runtime/combinatorics.h"

namespace Detector {

// C(n, k)·p^k·(1 − p)^(n − k) for 0 ≤ k ≤ n, the coefficient taken exactly from
// MathUtils::comb while n ≤ 61. Beyond, the coefficient may not fit 64 bits or even a double, so
// the terms are combined in logarithms.
inline double binomial_term(int n, int k, double p) {
    const double pk = std::pow(p, k);
    const double qk = std::pow(1.0 - p, n - k);
    if (n <= 61)
        return static_cast<double>(
                   MathUtils::comb(static_cast<unsigned>(n), static_cast<unsigned>(k))) *
               pk * qk;
    const int t = k < n - k ? k : n - k;
    double log_c = 0.0;
    for (int i = 1; i <= t; ++i) log_c += std::log(static_cast<double>(n - t + i) / i);
    if (pk == 0.0 || qk == 0.0) return 0.0;
    if (p > 0.0 && p < 1.0) return std::exp(log_c + k * std::log(p) + (n - k) * std::log1p(-p));
    return std::exp(log_c) * pk * qk;
}

}  // namespace Detector
