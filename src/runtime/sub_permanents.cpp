#include "runtime/sub_permanents.h"

#include <bit>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "runtime/instruction_set.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/permanent_lanes.h"

namespace {

constexpr long long max_order = 63;

void check_order(long long n) {
    if (n < 0 || n > max_order)
        throw std::invalid_argument(fmt::format(
            "Cannot compute the sub-permanents of a {}x{} matrix: n must be below 64", n + 1, n));
}

template <typename T>
Eigen::Matrix<T, Eigen::Dynamic, 1> sub_permanents_driver(const MatrixView<T>& matrix) {
    InterruptSignalHandler::ScopedHandler handler;
    if (matrix.rows() != matrix.cols() + 1)
        throw std::runtime_error("Input should have size [N+1,N]");
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

namespace {

using InstructionSet::Isa;
using Permanents::lanes;
using Permanents::load;
using Permanents::Native;
using Permanents::store;

// Every sub-permanent leaves n rows of n columns, so the sign vectors d and -d give the same
// term: the walks keep column 0 at + and double the half they sum, half the steps of a walk over
// all sign vectors.
constexpr int fixed_first_sign = 2;

// The sign vectors split by their last log2(lanes) columns, one group per lane, and every lane
// walks the remaining columns in the same Gray-code order. A step then flips the same column in
// every lane in the same direction, so it is a few vector operations across lanes that form the
// same products, in the same order, as a walk over one sign vector at a time; each lane sums its
// own terms and the lanes are added at the end.
template <int Bytes, typename T>
[[gnu::always_inline]] inline void lane_walk(const T* a, int n, T* out) {
    using Real = typename Permanents::Scalar<T>::Real;
    using V = typename Native<Real, Bytes>::V;
    constexpr bool complex = Permanents::Scalar<T>::complex;
    constexpr int L = static_cast<int>(lanes<Real>);
    constexpr int N = Native<Real, Bytes>::width;
    constexpr int K = L / N;
    constexpr int split = std::countr_zero(static_cast<unsigned>(L));
    const int walked = n - split;
    const int rows = n + 1;

    const auto entry = [a, n](int i, int j) { return a[static_cast<std::size_t>(i) * n + j]; };
    const auto re = [](const T& x) {
        if constexpr (complex)
            return x.real();
        else
            return x;
    };
    const auto im = [](const T& x) {
        if constexpr (complex)
            return x.imag();
        else
            return Real(0);
    };

    // Rows of lanes: value (i, lane) at i * L + lane.
    using Permanents::BlockVector;
    BlockVector<Real> r_re(rows * L), r_im(rows * L), pre_re(rows * L), pre_im(rows * L);
    BlockVector<Real> acc_re(rows * L, Real(0)), acc_im(rows * L, Real(0));
    alignas(64) Real lane_sign[L];
    for (int l = 0; l < L; ++l)
        lane_sign[l] = std::popcount(static_cast<unsigned>(l)) & 1 ? Real(-1) : Real(1);
    for (int i = 0; i < rows; ++i) {
        Real sum_re(0), sum_im(0);
        for (int j = 0; j < walked; ++j) {
            sum_re += re(entry(i, j));
            sum_im += im(entry(i, j));
        }
        for (int l = 0; l < L; ++l) {
            Real lr = sum_re, li = sum_im;
            for (int t = 0; t < split; ++t) {
                const T x = entry(i, walked + t);
                if (l >> t & 1) {
                    lr -= re(x);
                    li -= im(x);
                } else {
                    lr += re(x);
                    li += im(x);
                }
            }
            r_re[i * L + l] = lr * Real(0.5);
            r_im[i * L + l] = li * Real(0.5);
        }
    }

    V sign[K], minus_sign[K];
    for (int k = 0; k < K; ++k) {
        load(sign[k], lane_sign + k * N);
        minus_sign[k] = -sign[k];
    }

    Real* const rr = r_re.data();
    Real* const ri = r_im.data();
    Real* const pr = pre_re.data();
    Real* const pi = pre_im.data();
    Real* const ar = acc_re.data();
    Real* const ai = acc_im.data();

    // Column 0 keeps its + sign: see fixed_first_sign.
    const std::uint64_t steps = std::uint64_t{1} << (walked - 1);
    std::uint64_t code = 0;
    bool minus = false;
    for (std::uint64_t step = 0;;) {
        InterruptSignalHandler::throw_if_interrupted();
        // Prefix products pre[k] = r[0] ... r[k] for k < n.
        for (int k = 0; k < K; ++k) {
            V cr, ci, xr, xi;
            load(cr, rr + k * N);
            if constexpr (complex) load(ci, ri + k * N);
            store(pr + k * N, cr);
            if constexpr (complex) store(pi + k * N, ci);
            for (int i = 1; i < n; ++i) {
                load(xr, rr + i * L + k * N);
                if constexpr (complex) {
                    load(xi, ri + i * L + k * N);
                    Permanents::complex_multiply(cr, ci, xr, xi);
                    store(pi + i * L + k * N, ci);
                } else {
                    cr *= xr;
                }
                store(pr + i * L + k * N, cr);
            }
        }
        // acc[k] gains the signed product of every row sum but r[k]: the prefix gives the rows
        // before k, and s the rows after it, built from the last row backwards.
        for (int k = 0; k < K; ++k) {
            const V& sg = minus ? minus_sign[k] : sign[k];
            V sr, si, xr, xi, qr, qi, t;
            load(sr, rr + n * L + k * N);
            sr *= sg;
            load(qr, pr + (n - 1) * L + k * N);
            load(t, ar + n * L + k * N);
            store(ar + n * L + k * N, t + sg * qr);
            if constexpr (complex) {
                load(si, ri + n * L + k * N);
                si *= sg;
                load(qi, pi + (n - 1) * L + k * N);
                load(t, ai + n * L + k * N);
                store(ai + n * L + k * N, t + sg * qi);
            }
            for (int i = n - 1; i >= 1; --i) {
                load(qr, pr + (i - 1) * L + k * N);
                load(xr, rr + i * L + k * N);
                load(t, ar + i * L + k * N);
                if constexpr (complex) {
                    load(qi, pi + (i - 1) * L + k * N);
                    load(xi, ri + i * L + k * N);
                    store(ar + i * L + k * N, t + (qr * sr - qi * si));
                    load(t, ai + i * L + k * N);
                    store(ai + i * L + k * N, t + (qr * si + qi * sr));
                    Permanents::complex_multiply(sr, si, xr, xi);
                } else {
                    store(ar + i * L + k * N, t + qr * sr);
                    sr *= xr;
                }
            }
            load(t, ar + k * N);
            store(ar + k * N, t + sr);
            if constexpr (complex) {
                load(t, ai + k * N);
                store(ai + k * N, t + si);
            }
        }

        if (++step == steps) break;
        const int column = std::countr_zero(step) + 1;
        code ^= std::uint64_t{1} << column;
        minus = !minus;
        const bool subtract = code >> column & 1u;
        for (int i = 0; i < rows; ++i) {
            const T x = entry(i, column);
            V cr, ci;
            const V dr = V{} + re(x), di = V{} + im(x);
            for (int k = 0; k < K; ++k) {
                load(cr, rr + i * L + k * N);
                store(rr + i * L + k * N, subtract ? cr - dr : cr + dr);
                if constexpr (complex) {
                    load(ci, ri + i * L + k * N);
                    store(ri + i * L + k * N, subtract ? ci - di : ci + di);
                }
            }
        }
    }
    for (int i = 0; i < rows; ++i) {
        Real sum_re(0), sum_im(0);
        for (int l = 0; l < L; ++l) {
            sum_re += acc_re[i * L + l];
            sum_im += acc_im[i * L + l];
        }
        if constexpr (complex)
            out[i] = T(fixed_first_sign * sum_re, fixed_first_sign * sum_im);
        else
            out[i] = fixed_first_sign * sum_re;
    }
}

template <typename T>
void lane_walk_baseline(const T* a, int n, T* out) {
    lane_walk<16>(a, n, out);
}
template <typename T>
ORBANDILE_TARGET_AVX2 void lane_walk_avx2(const T* a, int n, T* out) {
    lane_walk<32>(a, n, out);
}
template <typename T>
ORBANDILE_TARGET_AVX512 void lane_walk_avx512(const T* a, int n, T* out) {
    lane_walk<64>(a, n, out);
}

// The one-lane walk, for matrices with fewer columns than the lane split needs.
template <typename T>
void narrow_walk(const T* a, int n, T* out) {
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

    std::vector<Real> pre_re(rows), pre_im(rows), out_re(rows, Real(0)), out_im(rows, Real(0));
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

    const std::uint64_t steps = std::uint64_t{1} << (n - 1);
    std::uint64_t code = 0;
    bool minus = false;
    for (std::uint64_t step = 0;;) {
        InterruptSignalHandler::throw_if_interrupted();
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
        const int column = std::countr_zero(step) + 1;
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
            out[k] = T(fixed_first_sign * out_re[k], fixed_first_sign * out_im[k]);
        else
            out[k] = fixed_first_sign * out_re[k];
    }
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
    using Real = typename Permanents::Scalar<T>::Real;
    if (n <= std::countr_zero(static_cast<unsigned>(lanes<Real>))) return narrow_walk(a, n, out);
    switch (InstructionSet::selected_isa()) {
        case Isa::avx512:
            return lane_walk_avx512(a, n, out);
        case Isa::avx2:
            return lane_walk_avx2(a, n, out);
        default:
            return lane_walk_baseline(a, n, out);
    }
}

Eigen::VectorXd sub_permanents_fl(const MatrixView<double>& matrix) {
    return sub_permanents_driver<double>(matrix);
}

Eigen::VectorXcd sub_permanents_cx(const MatrixView<std::complex<double>>& matrix) {
    return sub_permanents_driver<std::complex<double>>(matrix);
}

template void sub_permanents<double>(const double*, int, double*);
template void sub_permanents<std::complex<double>>(const std::complex<double>*, int,
                                                   std::complex<double>*);
template void sub_permanents<std::complex<float>>(const std::complex<float>*, int,
                                                  std::complex<float>*);
