#include "runtime/permanent_gurvits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <future>
#include <random>
#include <stdexcept>

#include "runtime/config.h"
#include "runtime/permanent_lanes.h"
#include "runtime/rng.h"

namespace {

constexpr std::size_t lanes = Permanents::lanes<double>;

// The matrix row after row, each row padded with zeros to a multiple of `lanes`, real and
// imaginary parts apart. Shared read-only by the tasks.
template <typename T>
struct PaddedRows {
    using Real = typename Permanents::Scalar<T>::Real;
    static constexpr bool complex = Permanents::Scalar<T>::complex;

    explicit PaddedRows(const MatrixView<T>& matrix)
        : n(matrix.rows()),
          stride(Permanents::padded_size<double>(n)),
          re(n * stride, 0.0),
          im(complex ? n * stride : 0, 0.0) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                if constexpr (complex) {
                    re[i * stride + j] = matrix(i, j).real();
                    im[i * stride + j] = matrix(i, j).imag();
                } else {
                    re[i * stride + j] = matrix(i, j);
                }
            }
    }

    std::size_t n;
    std::size_t stride;
    std::vector<Real> re;
    std::vector<Real> im;
};

// Dot product in `lanes` partial sums, in an order fixed by the padding alone, so results do not
// depend on where the data happen to be allocated.
[[gnu::always_inline]] inline double dot(const double* __restrict row, const double* __restrict x,
                                         std::size_t size) {
    double partial[lanes] = {};
    for (std::size_t i = 0; i < size; i += lanes)
        for (std::size_t j = 0; j < lanes; ++j) partial[j] += row[i + j] * x[i + j];
    for (std::size_t w = lanes / 2; w > 0; w /= 2)
        for (std::size_t j = 0; j < w; ++j) partial[j] += partial[j + w];
    return partial[0];
}

template <typename T>
std::pair<T, double> permanentGurvits_task(const PaddedRows<T>& rows, unsigned int samples,
                                           std::uint32_t seed) {
    RNG::rng.seed(seed);
    std::uniform_int_distribution<int> coin(0, 1);
    std::vector<double> x(rows.stride, 0.0);
    T sum(0);
    double squares = 0.0;
    for (unsigned int sample = 0; sample < samples; ++sample) {
        double sign = 1.0;
        for (std::size_t j = 0; j < rows.n; ++j) {
            x[j] = coin(RNG::rng) == 0 ? -1.0 : 1.0;
            sign *= x[j];
        }
        T g(sign);
        for (std::size_t i = 0; i < rows.n; ++i) {
            const std::size_t offset = i * rows.stride;
            if constexpr (PaddedRows<T>::complex)
                g *= T(dot(rows.re.data() + offset, x.data(), rows.stride),
                       dot(rows.im.data() + offset, x.data(), rows.stride));
            else
                g *= dot(rows.re.data() + offset, x.data(), rows.stride);
        }
        sum += g;
        if constexpr (PaddedRows<T>::complex)
            squares += g.real() * g.real() + g.imag() * g.imag();
        else
            squares += g * g;
    }
    return {sum, squares};
}

template <typename T>
std::pair<T, double> estimate(const MatrixView<T>& matrix, unsigned int n_iter) {
    return permanentGurvits<T>(matrix, n_iter, static_cast<unsigned int>(max_thread_count()));
}

}  // namespace

std::vector<unsigned int> computeIterationPerThread(unsigned int n_iter, unsigned int t) {
    t = std::max(t, 1u);
    if (n_iter < t) return {n_iter};
    const unsigned int share = n_iter / t + (n_iter % t != 0);
    std::vector<unsigned int> shares(t);
    unsigned int remaining = n_iter;
    for (unsigned int i = 0; i + 1 < t; ++i) {
        shares[i] = std::min(share, remaining);
        remaining -= shares[i];
    }
    shares[t - 1] = remaining;
    return shares;
}

template <typename T>
std::pair<T, double> permanentGurvits(const MatrixView<T>& matrix, unsigned int n_iter,
                                      unsigned int threads) {
    if (matrix.rows() != matrix.cols()) throw std::runtime_error("Input should have size [N,N]");
    if (n_iter == 0) throw std::invalid_argument("n_iter must be at least 1");
    const PaddedRows<T> rows(matrix);
    const auto shares = computeIterationPerThread(n_iter, threads);
    const auto seeds = RNG::draw_task_seeds(shares.size());
    std::vector<std::future<std::pair<T, double>>> futures;
    futures.reserve(shares.size());
    for (std::size_t i = 0; i < shares.size(); ++i)
        futures.push_back(std::async(std::launch::async, permanentGurvits_task<T>, std::cref(rows),
                                     shares[i], seeds[i]));

    T sum(0);
    double squares = 0.0;
    for (auto& future : futures) {
        const auto [s, q] = future.get();
        sum += s;
        squares += q;
    }
    const double count = n_iter;
    const T mean = sum / count;
    double magnitude2;
    if constexpr (Permanents::Scalar<T>::complex)
        magnitude2 = mean.real() * mean.real() + mean.imag() * mean.imag();
    else
        magnitude2 = mean * mean;
    // Rounding can push the variance of a (nearly) constant estimator below zero.
    const double variance = std::max(squares / count - magnitude2, 0.0);
    return {mean, 2.58 * std::sqrt(variance / count)};
}

std::pair<double, double> estimate_permanent_fl(const MatrixView<double>& matrix,
                                                unsigned int n_iter, const std::string&) {
    return estimate<double>(matrix, n_iter);
}

std::pair<std::complex<double>, double> estimate_permanent_cx(
    const MatrixView<std::complex<double>>& matrix, unsigned int n_iter, const std::string&) {
    return estimate<std::complex<double>>(matrix, n_iter);
}

template std::pair<double, double> permanentGurvits<double>(const MatrixView<double>&, unsigned int,
                                                            unsigned int);
template std::pair<std::complex<double>, double> permanentGurvits<std::complex<double>>(
    const MatrixView<std::complex<double>>&, unsigned int, unsigned int);
