#include "runtime/sub_permanents.h"

#include <bit>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/permanent_lanes.h"

namespace {

constexpr long long max_order = 63;

void check_order(long long n) {
    if (n < 0 || n > max_order)
        throw std::invalid_argument(
            fmt::format("Cannot compute the sub-permanents of a {}x{} matrix: n must be below 64", n + 1, n));
}

template <typename T>
Eigen::Matrix<T, Eigen::Dynamic, 1> sub_permanents_driver(const MatrixView<T>& matrix) {
    InterruptSignalHandler::ScopedHandler handler;
    if (matrix.rows() != matrix.cols() + 1) throw std::runtime_error("Input should have size [N+1,N]");
    const auto n = matrix.cols();
    check_order(n);
    RowMatrix<T> packed;
    const T* data = matrix.data();
    if (n > 0 && matrix.outerStride() != n) {
        packed = matrix;
        data = packed.data();
    }
    Eigen::Matrix<T, Eigen::Dynamic, 1> result(n + 1);
    sub_permanents<T>(data, static_cast<int>(n), result.data());
    return result;
}

}  // namespace

template <typename T>
void sub_permanents(const T* a, int n, T* out) {
    check_order(n);
    if (n == 0) {
        out[0] = T(1);
        return;
    }
    if (n == 1) {
        out[0] = a[1];
        out[1] = a[0];
        return;
    }
    using Permanents::Scalar;
    using Real = typename Scalar<T>::Real;
    constexpr bool complex = Scalar<T>::complex;
    const std::size_t rows = static_cast<std::size_t>(n) + 1;

    const Permanents::ColumnTable<T> table(a, rows, n, n);
    Permanents::RowSums<T> sums(table, rows);
    for (int j = 0; j < n; ++j) sums.add(j);
    sums.scale(rows, Real(0.5));
    const Real* r_re = sums.re();
    const Real* r_im = sums.im();

    // Prefix products up to row n-1 (the last one is never needed), and the results.
    std::vector<Real> pre_re(rows), pre_im(complex ? rows : 0), out_re(rows, Real(0)), out_im(complex ? rows : 0, Real(0));
    const auto prefix = [&] {
        pre_re[0] = r_re[0];
        if constexpr (complex) pre_im[0] = r_im[0];
        for (int k = 1; k < n; ++k) {
            if constexpr (complex) {
                pre_re[k] = pre_re[k - 1] * r_re[k] - pre_im[k - 1] * r_im[k];
                pre_im[k] = pre_re[k - 1] * r_im[k] + pre_im[k - 1] * r_re[k];
            } else {
                pre_re[k] = pre_re[k - 1] * r_re[k];
            }
        }
    };
    prefix();

    const std::uint64_t steps = std::uint64_t{1} << n;
    std::uint64_t code = 0;
    bool minus = false;
    for (std::uint64_t step = 0;;) {
        InterruptSignalHandler::throw_if_interrupted();
        // out[k] gains the signed product of every row sum but r[k]: the prefix gives the rows
        // before k, and s the rows after it, built from the last row backwards.
        const Real sign = minus ? Real(-1) : Real(1);
        Real s_re = sign * r_re[n];
        if constexpr (complex) {
            Real s_im = sign * r_im[n];
            out_re[n] += sign * pre_re[n - 1];
            out_im[n] += sign * pre_im[n - 1];
            for (int k = n - 1; k >= 1; --k) {
                out_re[k] += pre_re[k - 1] * s_re - pre_im[k - 1] * s_im;
                out_im[k] += pre_re[k - 1] * s_im + pre_im[k - 1] * s_re;
                const Real t = s_re * r_re[k] - s_im * r_im[k];
                s_im = s_re * r_im[k] + s_im * r_re[k];
                s_re = t;
            }
            out_re[0] += s_re;
            out_im[0] += s_im;
        } else {
            out_re[n] += sign * pre_re[n - 1];
            for (int k = n - 1; k >= 1; --k) {
                out_re[k] += pre_re[k - 1] * s_re;
                s_re *= r_re[k];
            }
            out_re[0] += s_re;
        }

        if (++step == steps) break;
        const int column = std::countr_zero(step);
        code ^= std::uint64_t{1} << column;
        minus = !minus;
        if (code >> column & 1u)
            sums.subtract(column);
        else
            sums.add(column);
        prefix();
    }
    for (std::size_t k = 0; k < rows; ++k) {
        if constexpr (complex)
            out[k] = T(out_re[k], out_im[k]);
        else
            out[k] = out_re[k];
    }
}

Eigen::VectorXd sub_permanents_fl(const MatrixView<double>& matrix) { return sub_permanents_driver<double>(matrix); }

Eigen::VectorXcd sub_permanents_cx(const MatrixView<std::complex<double>>& matrix) {
    return sub_permanents_driver<std::complex<double>>(matrix);
}

template void sub_permanents<double>(const double*, int, double*);
template void sub_permanents<std::complex<double>>(const std::complex<double>*, int, std::complex<double>*);
template void sub_permanents<std::complex<float>>(const std::complex<float>*, int, std::complex<float>*);
