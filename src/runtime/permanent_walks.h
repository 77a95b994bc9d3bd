#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <numeric>
#include <vector>

#include "runtime/instruction_set.h"
#include "runtime/permanent_lanes.h"

// The Gray-code walks of Glynn's and Ryser's formulas. Their variants for the three instruction
// sets are each a large share of the whole build, so each set has a file of its own
// (permanent_walks_<set>.cpp) and a parallel build compiles them side by side.
namespace Permanents {

// RowSums seen by a walk through the interface of RegisterSums, for matrices too large for it.
template <int Bytes, typename T>
class MemorySums {
  public:
    static constexpr int bytes = Bytes;
    using V = typename Permanents::Native<typename RowSums<T>::Real, Bytes>::V;

    [[gnu::always_inline]] inline explicit MemorySums(RowSums<T>& sums) : sums_(sums) {}
    [[gnu::always_inline]] inline void add(std::size_t col) { sums_.template add<Bytes>(col); }
    [[gnu::always_inline]] inline void subtract(std::size_t col) {
        sums_.template subtract<Bytes>(col);
    }
    [[gnu::always_inline]] inline void fold(V& re, V& im) const {
        sums_.template fold<Bytes>(re, im);
    }
    [[gnu::always_inline]] inline T product() const { return sums_.template product<Bytes>(); }

  private:
    RowSums<T>& sums_;
};

// Runs `walk` with the row sums `r` in registers up to 4 blocks (32 rows of doubles), which covers
// every order a Gray-code walk finishes in reasonable time, and in memory beyond.
template <int Bytes, typename T, typename Walk>
[[gnu::always_inline]] inline T with_sums(RowSums<T>& r, const Walk& walk) {
    using Real = typename RowSums<T>::Real;
    switch (r.size() / Permanents::lanes<Real>) {
        case 1:
            return walk.template run<RegisterSums<Bytes, 1, T>>(r);
        case 2:
            return walk.template run<RegisterSums<Bytes, 2, T>>(r);
        case 3:
            return walk.template run<RegisterSums<Bytes, 3, T>>(r);
        case 4:
            return walk.template run<RegisterSums<Bytes, 4, T>>(r);
        default:
            return walk.template run<MemorySums<Bytes, T>>(r);
    }
}

// The terms J ... Group::size-1 of a group: before term J > 0 the walk flips column
// countr_zero(J), the same in every group; `flip` knows whether that adds or subtracts it.
template <int J, typename Sums, typename Group, typename Flip>
[[gnu::always_inline]] inline void group_terms(Sums& r, Group& group, Flip& flip) {
    if constexpr (J > 0) flip.template apply<std::countr_zero(static_cast<unsigned>(J))>(r);
    alignas(Sums::bytes) typename Sums::V re, im;
    r.fold(re, im);
    group.template push<J>(re, im);
    if constexpr (J + 1 < Group::size) group_terms<J + 1>(r, group, flip);
}

// Signs of the terms of a group that starts with a + term, then alternates.
template <typename Group>
[[gnu::always_inline]] inline void alternating_signs(typename Group::V& signs) {
    for (int j = 0; j < Group::size; ++j)
        signs[j] = j % 2 == 0 ? typename Group::Real(1) : -typename Group::Real(1);
}

// The walks take their row sums over only once their own buffers exist: vector registers do not
// survive a call, and sums that live across one are kept in memory for the whole walk.
template <typename T>
struct GlynnWalk {
    std::size_t n;

    // Flips of the columns below log2 of the group size, which repeat in every group.
    template <int Low>
    struct LowFlips {
        bool plus[Low];
        template <int Column, typename Sums>
        [[gnu::always_inline]] inline void apply(Sums& r) {
            if (plus[Column])
                r.subtract(Column);
            else
                r.add(Column);
            plus[Column] = !plus[Column];
        }
    };

    template <typename Sums>
    [[gnu::always_inline]] inline T run(RowSums<T>& row_sums) const {
        // Glynn's terms are smaller next to their sum than Ryser's, and its lanes add them
        // plainly, at full speed.
        using Group = LaneGroup<Sums::bytes, T, false>;
        constexpr int low = std::countr_zero(static_cast<unsigned>(Group::size));
        if (n - 1 < static_cast<std::size_t>(low)) return run_by_term<Sums>(row_sums);
        // The sign vectors run in groups of Group::size, which flip the columns below `low` in
        // a fixed pattern; a group's first term flips the next column of the reflected Gray code
        // over columns low ... n-2, which focus pointers give in constant time. Column n-1 keeps
        // its + sign.
        const std::size_t high = n - 1 - static_cast<std::size_t>(low);
        std::vector<unsigned char> plus(n, 1);
        std::vector<std::size_t> focus(high + 1);
        std::iota(focus.begin(), focus.end(), std::size_t{0});
        Sums r(row_sums);
        Group group;
        LowFlips<low> flips;
        std::fill(std::begin(flips.plus), std::end(flips.plus), true);
        alignas(Sums::bytes) typename Group::V signs;
        alternating_signs<Group>(signs);
        for (;;) {
            group_terms<0>(r, group, flips);
            group.accumulate();
            const std::size_t j = focus[0];
            focus[0] = 0;
            if (j == high) break;
            focus[j] = focus[j + 1];
            focus[j + 1] = j + 1;
            const std::size_t s = j + static_cast<std::size_t>(low);
            if (plus[s])
                r.subtract(s);
            else
                r.add(s);
            plus[s] = !plus[s];
        }
        return group.total(signs);
    }

    // One term at a time, for matrices with fewer columns than a group needs.
    template <typename Sums>
    [[gnu::always_inline]] inline T run_by_term(RowSums<T>& row_sums) const {
        // Focus pointers give the next column of the reflected Gray code over columns 0 ... n-2
        // in constant time; column n-1 keeps its + sign.
        std::vector<unsigned char> plus(n, 1);
        std::vector<std::size_t> focus(n);
        std::iota(focus.begin(), focus.end(), std::size_t{0});
        Sums r(row_sums);
        T accumulator = r.product();
        std::size_t s = 0;
        for (;;) {
            if (plus[s]) {
                plus[s] = 0;
                r.subtract(s);
            } else {
                plus[s] = 1;
                r.add(s);
            }
            const T p = r.product();
            if (s == 0) {
                accumulator -= p;
                s = focus[1];
                focus[1] = 1;
                if (s >= n - 1) break;
            } else {
                accumulator += p;
                focus[s] = focus[s + 1];
                focus[s + 1] = s + 1;
                s = 0;
            }
        }
        return accumulator;
    }
};

// Row sums of Ryser's subsets in three parts, each formed with no more than a few roundings: the
// columns of the low five bits of the Gray code from a table of all their subsets, those of the
// next six bits from another, and the columns above summed afresh whenever they change, every
// 2048 subsets. Adding and subtracting columns in place along the walk would instead pile up the
// rounding errors of all its steps in the sums. Padding rows of the high part hold 1 and those
// of the tables 0, so that the padding rows of every row sum hold 1.
template <typename T>
class RyserTables {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;
    static constexpr unsigned low_bits = 5;
    static constexpr unsigned mid_bits = 6;
    static constexpr unsigned high_bit = low_bits + mid_bits;

    RyserTables(const T* data, unsigned int n)
        : columns_(data, n, n, n),
          n_(n),
          stride_(columns_.stride()),
          low_re_(stride_ << std::min(n, low_bits), Real(0)),
          low_im_(complex ? low_re_.size() : 0, Real(0)),
          mid_re_(stride_ << std::min(n - std::min(n, low_bits), mid_bits), Real(0)),
          mid_im_(complex ? mid_re_.size() : 0, Real(0)) {
        fill(low_re_, low_im_, 0);
        fill(mid_re_, mid_im_, low_bits);
    }

    unsigned int n() const { return n_; }
    std::size_t stride() const { return stride_; }
    const Real* low_re(unsigned x) const { return low_re_.data() + x * stride_; }
    const Real* low_im(unsigned x) const { return low_im_.data() + x * stride_; }
    const Real* mid_re(unsigned x) const { return mid_re_.data() + x * stride_; }
    const Real* mid_im(unsigned x) const { return mid_im_.data() + x * stride_; }

    // Sums of the columns high_bit + c for the set bits c of `code`, in ascending order.
    void high(unsigned long code, Real* re, Real* im) const {
        for (std::size_t i = 0; i < stride_; ++i) {
            re[i] = i < n_ ? Real(0) : Real(1);
            if constexpr (complex) im[i] = Real(0);
        }
        for (; code != 0; code &= code - 1) {
            const std::size_t col = high_bit + static_cast<unsigned>(std::countr_zero(code));
            Permanents::update<16, false>(re, columns_.re(col), stride_);
            if constexpr (complex) Permanents::update<16, false>(im, columns_.im(col), stride_);
        }
    }

  private:
    // Entry x of a table: the sum of the columns first + c for the set bits c of x.
    void fill(BlockVector<Real>& re, BlockVector<Real>& im, unsigned first) {
        const std::size_t entries = re.size() / stride_;
        for (std::size_t x = 1; x < entries; ++x)
            for (unsigned long rest = x; rest != 0; rest &= rest - 1) {
                const std::size_t col = first + static_cast<unsigned>(std::countr_zero(rest));
                Permanents::update<16, false>(re.data() + x * stride_, columns_.re(col), stride_);
                if constexpr (complex)
                    Permanents::update<16, false>(im.data() + x * stride_, columns_.im(col),
                                                  stride_);
            }
    }

    ColumnTable<T> columns_;
    unsigned int n_;
    std::size_t stride_;
    BlockVector<Real> low_re_, low_im_, mid_re_, mid_im_;
};

// The row sums of a window of subsets but their low part, `Blocks` whole blocks kept in vector
// variables, which live in registers as far as the register file holds them. Products are formed
// in the order of RowSums::fold.
template <int Bytes, int Blocks, typename T>
class LayeredSums {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;
    static constexpr int bytes = Bytes;
    using V = typename Native<Real, Bytes>::V;

    // Row sums per table entry, known here so that entries sit at constant offsets.
    static constexpr std::size_t stride = Blocks * lanes<Real>;

    [[gnu::always_inline]] inline explicit LayeredSums(std::size_t) {}

    [[gnu::always_inline]] inline void set(const Real* high_re, const Real* high_im,
                                           const Real* mid_re, const Real* mid_im) {
        alignas(Bytes) V a, b;
#pragma GCC unroll 32
        for (int m = 0; m < M; ++m) {
            load(a, high_re + m * N);
            load(b, mid_re + m * N);
            re_[m] = a + b;
            if constexpr (complex) {
                load(a, high_im + m * N);
                load(b, mid_im + m * N);
                im_[m] = a + b;
            }
        }
    }

    // The partial products of the row sums with the low part `low` added, one per lane.
    [[gnu::always_inline]] inline void fold(const Real* low_re, const Real* low_im, V& out_re,
                                            V& out_im) const {
        alignas(Bytes) V pr[K], c, xr;
        [[maybe_unused]] alignas(Bytes) V pi[K], xi;
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) {
            load(c, low_re + k * N);
            pr[k] = re_[k] + c;
            if constexpr (complex) {
                load(c, low_im + k * N);
                pi[k] = im_[k] + c;
            }
        }
#pragma GCC unroll 8
        for (int b = 1; b < Blocks; ++b)
#pragma GCC unroll 8
            for (int k = 0; k < K; ++k) {
                const int m = b * K + k;
                load(c, low_re + m * N);
                xr = re_[m] + c;
                if constexpr (complex) {
                    load(c, low_im + m * N);
                    xi = im_[m] + c;
                    complex_multiply(pr[k], pi[k], xr, xi);
                } else {
                    pr[k] *= xr;
                }
            }
        multiply_halves<complex, K>(pr, pi);
        out_re = pr[0];
        if constexpr (complex) out_im = pi[0];
    }

  private:
    static constexpr int N = Native<Real, Bytes>::width;
    static constexpr int K = static_cast<int>(lanes<Real>) / N;
    static constexpr int M = Blocks * K;

    // Vector types bind to references at their natural alignment.
    alignas(Bytes) V re_[M];
    alignas(Bytes) V im_[complex ? M : 1];
};

// LayeredSums in memory, for matrices too large for registers.
template <int Bytes, typename T>
class LayeredMemorySums {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;
    static constexpr int bytes = Bytes;
    using V = typename Native<Real, Bytes>::V;

    static constexpr std::size_t stride = 0;  // known only at run time

    explicit LayeredMemorySums(std::size_t size)
        : size_(size), re_(size), im_(complex ? size : 0), r_re_(size), r_im_(complex ? size : 0) {}

    [[gnu::always_inline]] inline void set(const Real* high_re, const Real* high_im,
                                           const Real* mid_re, const Real* mid_im) {
        sum(re_.data(), high_re, mid_re);
        if constexpr (complex) sum(im_.data(), high_im, mid_im);
    }

    [[gnu::always_inline]] inline void fold(const Real* low_re, const Real* low_im, V& out_re,
                                            V& out_im) {
        sum(r_re_.data(), re_.data(), low_re);
        if constexpr (complex) {
            sum(r_im_.data(), im_.data(), low_im);
            complex_fold<Bytes>(r_re_.data(), r_im_.data(), size_, out_re, out_im);
        } else {
            real_fold<Bytes>(r_re_.data(), size_, out_re);
        }
    }

  private:
    [[gnu::always_inline]] inline void sum(Real* __restrict out, const Real* __restrict a,
                                           const Real* __restrict b) const {
        alignas(Bytes) V x, y;
        for (std::size_t i = 0; i < size_; i += Native<Real, Bytes>::width) {
            load(x, a + i);
            load(y, b + i);
            x += y;
            store(out + i, x);
        }
    }

    std::size_t size_;
    BlockVector<Real> re_, im_, r_re_, r_im_;
};

// Ryser's terms of the subsets with Gray-code index in [from, to), window after window of the
// 2^low_bits subsets that share their high and mid columns. Term k carries Ryser's sign
// (-1)^(n-|S|) = (-1)^(n+k), as |S| changes by one at every step, so lane j of a group, which
// only ever holds terms with the parity of j, takes its sign at the end.
template <typename T>
struct RyserWalk {
    const RyserTables<T>& tables;
    unsigned long from, to;

    static constexpr unsigned low_bits = RyserTables<T>::low_bits;
    static constexpr unsigned long window = 1ul << low_bits;
    using Real = typename Scalar<T>::Real;

    // The low table, read through locals rather than the tables' members at every term.
    struct Low {
        const Real* re;
        const Real* im;
        std::size_t stride;
    };

    template <typename Sums>
    [[gnu::always_inline]] inline T run() const {
        using Group = LaneGroup<Sums::bytes, T, true>;
        constexpr unsigned high_bit = RyserTables<T>::high_bit;
        const std::size_t stride = tables.stride();
        const Low low{tables.low_re(0), tables.low_im(0), stride};
        Sums r(stride);
        BlockVector<Real> high_re(stride), high_im(Scalar<T>::complex ? stride : 0);
        Group group;
        const unsigned long first = from / window * window;
        unsigned long high = 0;
        for (unsigned long k = first; k < to; k += window) {
            const unsigned long code = k ^ (k >> 1);
            if (k == first || code >> high_bit != high) {
                high = code >> high_bit;
                tables.high(high, high_re.data(), high_im.data());
            }
            const unsigned mid =
                static_cast<unsigned>(code >> low_bits) & ((1u << RyserTables<T>::mid_bits) - 1);
            r.set(high_re.data(), high_im.data(), tables.mid_re(mid), tables.mid_im(mid));
            // Bit low_bits - 1 of the code is bit low_bits of k xor bit low_bits - 1.
            const bool odd = k >> low_bits & 1u;
            if (k >= from && to - k >= window) {
                if (odd)
                    window_terms<false, true, 0>(r, group, low, k);
                else
                    window_terms<false, false, 0>(r, group, low, k);
            } else {
                if (odd)
                    window_terms<true, true, 0>(r, group, low, k);
                else
                    window_terms<true, false, 0>(r, group, low, k);
            }
        }
        alignas(Sums::bytes) typename Group::V signs;
        for (int j = 0; j < Group::size; ++j)
            signs[j] = (tables.n() + static_cast<unsigned>(j)) % 2 == 0 ? Real(1) : -Real(1);
        return group.total(signs);
    }

    // Terms k + Term ... k + window - 1; in a window that the range cuts (`Partial`), terms
    // outside it are pushed as products of zero. `Odd`: bit low_bits of k, which flips the top
    // bit of the low part.
    template <bool Partial, bool Odd, int Term, typename Sums, typename Group>
    [[gnu::always_inline]] inline void window_terms(Sums& r, Group& group, const Low& low,
                                                    unsigned long k) const {
        constexpr int J = Term % Group::size;
        constexpr std::size_t x =
            static_cast<std::size_t>(Term ^ (Term >> 1)) ^ (Odd ? window / 2 : 0);
        alignas(Sums::bytes) typename Sums::V re{}, im{};
        bool inside = true;
        if constexpr (Partial) inside = k + Term >= from && k + Term < to;
        if (inside) {
            const std::size_t offset = x * (Sums::stride != 0 ? Sums::stride : low.stride);
            r.fold(low.re + offset, low.im + offset, re, im);
        }
        group.template push<J>(re, im);
        if constexpr (J + 1 == Group::size) group.accumulate();
        if constexpr (Term + 1 < static_cast<int>(window))
            window_terms<Partial, Odd, Term + 1>(r, group, low, k);
    }
};

// Runs `walk` with its row sums in registers up to 4 blocks (32 rows of doubles), which covers
// every order a Gray-code walk finishes in reasonable time, and in memory beyond.
template <int Bytes, typename T>
[[gnu::always_inline]] inline T with_layered_sums(const RyserWalk<T>& walk) {
    using Real = typename Scalar<T>::Real;
    switch (walk.tables.stride() / Permanents::lanes<Real>) {
        case 1:
            return walk.template run<LayeredSums<Bytes, 1, T>>();
        case 2:
            return walk.template run<LayeredSums<Bytes, 2, T>>();
        case 3:
            return walk.template run<LayeredSums<Bytes, 3, T>>();
        case 4:
            return walk.template run<LayeredSums<Bytes, 4, T>>();
        default:
            return walk.template run<LayeredMemorySums<Bytes, T>>();
    }
}

// The walks compiled for each instruction set; T is double or std::complex<double> for Glynn,
// and long long too for Ryser.
template <typename T>
T glynn_baseline(RowSums<T>& r, std::size_t n);
template <typename T>
ORBANDILE_TARGET_AVX2 T glynn_avx2(RowSums<T>& r, std::size_t n);
template <typename T>
ORBANDILE_TARGET_AVX512 T glynn_avx512(RowSums<T>& r, std::size_t n);
template <typename T>
T ryser_baseline(const RyserWalk<T>& walk);
template <typename T>
ORBANDILE_TARGET_AVX2 T ryser_avx2(const RyserWalk<T>& walk);
template <typename T>
ORBANDILE_TARGET_AVX512 T ryser_avx512(const RyserWalk<T>& walk);

}  // namespace Permanents
