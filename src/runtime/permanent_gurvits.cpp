#include "runtime/permanent_gurvits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>

#include "runtime/config.h"
#include "runtime/instruction_set.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/parallel.h"
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
    Permanents::BlockVector<Real> re;
    Permanents::BlockVector<Real> im;
};

// Dot product in `lanes` partial sums combined by a fixed tree, an order fixed by the padding
// alone, so results do not depend on where the data happen to be allocated.
template <int Bytes>
[[gnu::always_inline]] inline double dot(const double* __restrict row, const double* __restrict x,
                                         std::size_t size) {
    using V = typename Permanents::Native<double, Bytes>::V;
    constexpr int N = Permanents::Native<double, Bytes>::width;
    constexpr int K = static_cast<int>(lanes) / N;
    V partial[K], a, b;
    for (int k = 0; k < K; ++k) partial[k] = V{};
    for (std::size_t i = 0; i < size; i += lanes)
        for (int k = 0; k < K; ++k) {
            Permanents::load(a, row + i + k * N);
            Permanents::load(b, x + i + k * N);
            partial[k] += a * b;
        }
    for (int half = K / 2; half > 0; half /= 2)
        for (int k = 0; k < half; ++k) partial[k] += partial[k + half];
    return Permanents::reduce_sum<double, N>(partial[0]);
}

template <int Bytes, typename T>
[[gnu::always_inline]] inline std::pair<T, double> sample(const PaddedRows<T>& rows,
                                                          unsigned int samples) {
    std::uniform_int_distribution<int> coin(0, 1);
    Permanents::BlockVector<double> x(rows.stride, 0.0);
    T sum(0);
    double squares = 0.0;
    // A sample costs about n^2 operations: poll every 2^16 of them or so.
    InterruptSignalHandler::Poll poll(
        static_cast<std::uint32_t>(std::max<std::size_t>(1, 65536 / (rows.n * rows.n + 1))));
    for (unsigned int s = 0; s < samples; ++s) {
        poll();
        double sign = 1.0;
        for (std::size_t j = 0; j < rows.n; ++j) {
            x[j] = coin(RNG::rng) == 0 ? -1.0 : 1.0;
            sign *= x[j];
        }
        T g(sign);
        for (std::size_t i = 0; i < rows.n; ++i) {
            const std::size_t offset = i * rows.stride;
            if constexpr (PaddedRows<T>::complex)
                g *= T(dot<Bytes>(rows.re.data() + offset, x.data(), rows.stride),
                       dot<Bytes>(rows.im.data() + offset, x.data(), rows.stride));
            else
                g *= dot<Bytes>(rows.re.data() + offset, x.data(), rows.stride);
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
std::pair<T, double> sample_baseline(const PaddedRows<T>& rows, unsigned int samples) {
    return sample<16>(rows, samples);
}
template <typename T>
ORBANDILE_TARGET_AVX2 std::pair<T, double> sample_avx2(const PaddedRows<T>& rows,
                                                       unsigned int samples) {
    return sample<32>(rows, samples);
}
template <typename T>
ORBANDILE_TARGET_AVX512 std::pair<T, double> sample_avx512(const PaddedRows<T>& rows,
                                                           unsigned int samples) {
    return sample<64>(rows, samples);
}

// Runs on a task thread whose engine Parallel::run_seeded has reseeded.
template <typename T>
std::pair<T, double> permanentGurvits_task(const PaddedRows<T>& rows, unsigned int samples) {
    switch (InstructionSet::selected_isa()) {
        case InstructionSet::Isa::avx512:
            return sample_avx512(rows, samples);
        case InstructionSet::Isa::avx2:
            return sample_avx2(rows, samples);
        default:
            return sample_baseline(rows, samples);
    }
}

template <typename T>
std::pair<T, double> estimate(const MatrixView<T>& matrix, unsigned int n_iter) {
    InterruptSignalHandler::ScopedHandler handler;
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
    const auto results = Parallel::run_seeded(
        shares.size(), [&](std::size_t i) { return permanentGurvits_task<T>(rows, shares[i]); });

    T sum(0);
    double squares = 0.0;
    for (const auto& [s, q] : results) {
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
