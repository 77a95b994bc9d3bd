#pragma once

#include <bit>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/instruction_set.h"

// Building blocks of the Gray-code permanent kernels. Row sums live in arrays padded to whole
// 64-byte blocks, real and imaginary parts apart, and a product runs as one independent partial
// product per lane of a block, combined by a fixed tree at the end: the O(n) update and the O(n)
// product of every step vectorise and carry no long dependency chain. Padding rows hold a row
// sum of 1 and zero matrix entries, so they never change a product.
//
// The kernels are instantiated once per instruction set (`Bytes`: the native vector width) and
// chosen at run time; every helper taking native vectors is force-inlined so that no copy
// compiled for a wider instruction set can be shared with a narrower caller.
namespace Permanents {

template <typename T>
struct Scalar {
    static constexpr bool complex = false;
    using Real = T;
};
template <typename R>
struct Scalar<std::complex<R>> {
    static constexpr bool complex = true;
    using Real = R;
};
// Integers wrap modulo 2^64, which signed arithmetic cannot express without overflow.
template <>
struct Scalar<long long> {
    static constexpr bool complex = false;
    using Real = std::uint64_t;
};

// Storage of whole blocks starts on a cache line, so that no vector load straddles two lines.
template <typename R>
struct BlockAllocator {
    using value_type = R;
    BlockAllocator() = default;
    template <typename U>
    BlockAllocator(const BlockAllocator<U>&) {}
    R* allocate(std::size_t n) {
        return static_cast<R*>(::operator new (n * sizeof(R), std::align_val_t{64}));
    }
    void deallocate(R* p, std::size_t) { ::operator delete (p, std::align_val_t{64}); }
    template <typename U>
    bool operator==(const BlockAllocator<U>&) const {
        return true;
    }
};

template <typename R>
using BlockVector = std::vector<R, BlockAllocator<R>>;

// Lanes of one 64-byte block.
template <typename R>
constexpr std::size_t lanes = 64 / sizeof(R);

template <typename R>
std::size_t padded_size(std::size_t rows) {
    return (rows + lanes<R> - 1) / lanes<R> * lanes<R>;
}

template <typename R, int Bytes>
struct Native {
    // Unaligned in memory: blocks are read through plain pointers into vectors of R.
    typedef R V __attribute__((vector_size(Bytes), aligned(alignof(R))));
    static constexpr int width = Bytes / static_cast<int>(sizeof(R));
};

// Vectors only ever pass by reference here: a by-value vector would take the calling convention
// of the default instruction set.
template <typename V>
[[gnu::always_inline]] inline void load(V& v, const void* p) {
    std::memcpy(&v, p, sizeof(V));
}

template <typename R, typename V>
[[gnu::always_inline]] inline void store(R* p, const V& v) {
    std::memcpy(p, &v, sizeof(V));
}

template <typename V>
[[gnu::always_inline]] inline void complex_multiply(V& ar, V& ai, const V& br, const V& bi) {
    const V t = ar * br - ai * bi;
    ai = ar * bi + ai * br;
    ar = t;
}

// Multiplies K partial products pairwise, halving their count, into pr[0] (and pi[0]): the one
// order every fold of the products keeps, so that their results agree to the bit.
template <bool Complex, int K, typename V>
[[gnu::always_inline]] inline void multiply_halves(V* pr, V* pi) {
#pragma GCC unroll 8
    for (int half = K / 2; half > 0; half /= 2)
#pragma GCC unroll 8
        for (int k = 0; k < half; ++k) {
            if constexpr (Complex)
                complex_multiply(pr[k], pi[k], pr[k + half], pi[k + half]);
            else
                pr[k] *= pr[k + half];
        }
}

template <typename R, int N>
struct Half {
    typedef R V __attribute__((vector_size(N * sizeof(R) / 2), aligned(alignof(R))));
};

template <int N, typename H, typename V, std::size_t... I>
[[gnu::always_inline]] inline void split(const V& v, H& low, H& high, std::index_sequence<I...>) {
    low = H{v[I]...};
    high = H{v[I + N / 2]...};
}

// Tree over the lanes of one vector: lane j with lane j + N/2, and so on down to one lane.
template <typename R, int N, typename V>
[[gnu::always_inline]] inline void reduce_complex(const V& re, const V& im, R& out_re, R& out_im) {
    if constexpr (N == 2) {
        out_re = re[0] * re[1] - im[0] * im[1];
        out_im = re[0] * im[1] + im[0] * re[1];
    } else {
        using H = typename Half<R, N>::V;
        alignas(sizeof(H)) H lr, li, hr, hi;
        split<N>(re, lr, hr, std::make_index_sequence<N / 2>{});
        split<N>(im, li, hi, std::make_index_sequence<N / 2>{});
        complex_multiply(lr, li, hr, hi);
        reduce_complex<R, N / 2>(lr, li, out_re, out_im);
    }
}

template <typename R, int N, typename V>
[[gnu::always_inline]] inline R reduce_real(const V& v) {
    if constexpr (N == 2) {
        return v[0] * v[1];
    } else {
        using H = typename Half<R, N>::V;
        alignas(sizeof(H)) H low, high;
        split<N>(v, low, high, std::make_index_sequence<N / 2>{});
        low *= high;
        return reduce_real<R, N / 2>(low);
    }
}

template <typename R, int N, typename V>
[[gnu::always_inline]] inline R reduce_sum(const V& v) {
    if constexpr (N == 2) {
        return v[0] + v[1];
    } else {
        using H = typename Half<R, N>::V;
        alignas(sizeof(H)) H low, high;
        split<N>(v, low, high, std::make_index_sequence<N / 2>{});
        low += high;
        return reduce_sum<R, N / 2>(low);
    }
}

// Partial products of `size` (a multiple of lanes<R>) complex values, one per lane of a native
// vector: one per lane of a block first, then the block's vectors combined like lanes j and
// j + lanes/2 of a single one.
template <int Bytes, typename R, typename V = typename Native<R, Bytes>::V>
[[gnu::always_inline]] inline void complex_fold(const R* __restrict re, const R* __restrict im,
                                                std::size_t size, V& out_re, V& out_im) {
    constexpr int N = Native<R, Bytes>::width;
    constexpr int K = static_cast<int>(lanes<R>) / N;
    alignas(Bytes) V pr[K], pi[K], c, d;
    for (int k = 0; k < K; ++k) {
        load(pr[k], re + k * N);
        load(pi[k], im + k * N);
    }
    for (std::size_t i = lanes<R>; i < size; i += lanes<R>)
        for (int k = 0; k < K; ++k) {
            load(c, re + i + k * N);
            load(d, im + i + k * N);
            complex_multiply(pr[k], pi[k], c, d);
        }
    for (int half = K / 2; half > 0; half /= 2)
        for (int k = 0; k < half; ++k) complex_multiply(pr[k], pi[k], pr[k + half], pi[k + half]);
    out_re = pr[0];
    out_im = pi[0];
}

template <int Bytes, typename R, typename V = typename Native<R, Bytes>::V>
[[gnu::always_inline]] inline void real_fold(const R* __restrict r, std::size_t size, V& out) {
    constexpr int N = Native<R, Bytes>::width;
    constexpr int K = static_cast<int>(lanes<R>) / N;
    alignas(Bytes) V p[K], c;
    for (int k = 0; k < K; ++k) load(p[k], r + k * N);
    for (std::size_t i = lanes<R>; i < size; i += lanes<R>)
        for (int k = 0; k < K; ++k) {
            load(c, r + i + k * N);
            p[k] *= c;
        }
    for (int half = K / 2; half > 0; half /= 2)
        for (int k = 0; k < half; ++k) p[k] *= p[k + half];
    out = p[0];
}

// sums ± column over `size` values, a multiple of lanes<R>.
template <int Bytes, bool minus, typename R>
[[gnu::always_inline]] inline void update(R* __restrict sums, const R* __restrict column,
                                          std::size_t size) {
    using V = typename Native<R, Bytes>::V;
    constexpr std::size_t N = Native<R, Bytes>::width;
    alignas(Bytes) V s, c;
    for (std::size_t i = 0; i < size; i += N) {
        load(s, sums + i);
        load(c, column + i);
        if constexpr (minus)
            s -= c;
        else
            s += c;
        store(sums + i, s);
    }
}

// The matrix stored column after column, each column padded with zeros to `stride()` rows.
template <typename T>
class ColumnTable {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;

    ColumnTable(const T* data, std::size_t rows, std::size_t cols, std::size_t outer_stride)
        : stride_(padded_size<Real>(rows)),
          re_(stride_ * cols, Real(0)),
          im_(complex ? stride_ * cols : 0, Real(0)) {
        for (std::size_t i = 0; i < rows; ++i)
            for (std::size_t j = 0; j < cols; ++j) {
                const T value = data[i * outer_stride + j];
                if constexpr (complex) {
                    re_[j * stride_ + i] = value.real();
                    im_[j * stride_ + i] = value.imag();
                } else {
                    re_[j * stride_ + i] = static_cast<Real>(value);
                }
            }
    }

    std::size_t stride() const { return stride_; }
    const Real* re(std::size_t col) const { return re_.data() + col * stride_; }
    const Real* im(std::size_t col) const { return im_.data() + col * stride_; }

  private:
    std::size_t stride_;
    BlockVector<Real> re_;
    BlockVector<Real> im_;
};

// Row sums of a Gray-code walk over the columns of a ColumnTable, starting at zero.
template <typename T>
class RowSums {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;

    RowSums(const ColumnTable<T>& table, std::size_t rows)
        : table_(table),
          size_(table.stride()),
          re_(size_, Real(1)),
          im_(complex ? size_ : 0, Real(0)) {
        for (std::size_t i = 0; i < rows; ++i) re_[i] = Real(0);
    }

    std::size_t size() const { return size_; }
    Real* re() { return re_.data(); }
    Real* im() { return im_.data(); }
    const Real* re() const { return re_.data(); }
    const Real* im() const { return im_.data(); }
    const ColumnTable<T>& table() const { return table_; }

    template <int Bytes = 16>
    [[gnu::always_inline]] inline void add(std::size_t col) {
        update<Bytes, false>(re_.data(), table_.re(col), size_);
        if constexpr (complex) update<Bytes, false>(im_.data(), table_.im(col), size_);
    }

    template <int Bytes = 16>
    [[gnu::always_inline]] inline void subtract(std::size_t col) {
        update<Bytes, true>(re_.data(), table_.re(col), size_);
        if constexpr (complex) update<Bytes, true>(im_.data(), table_.im(col), size_);
    }

    // Multiplies the first `rows` row sums (padding excluded) by `factor`.
    void scale(std::size_t rows, Real factor) {
        for (std::size_t i = 0; i < rows; ++i) {
            re_[i] *= factor;
            if constexpr (complex) im_[i] *= factor;
        }
    }

    // The product's partial products, one per lane of a native vector (`im` only when complex).
    template <int Bytes, typename V>
    [[gnu::always_inline]] inline void fold(V& re, V& im) const {
        if constexpr (complex)
            complex_fold<Bytes>(re_.data(), im_.data(), size_, re, im);
        else
            real_fold<Bytes>(re_.data(), size_, re);
    }

    template <int Bytes>
    [[gnu::always_inline]] inline T product() const {
        alignas(Bytes) typename Native<Real, Bytes>::V re, im;
        fold<Bytes>(re, im);
        if constexpr (complex) {
            Real out_re, out_im;
            reduce_complex<Real, Native<Real, Bytes>::width>(re, im, out_re, out_im);
            return {out_re, out_im};
        } else {
            return static_cast<T>(reduce_real<Real, Native<Real, Bytes>::width>(re));
        }
    }

  private:
    const ColumnTable<T>& table_;
    std::size_t size_;
    BlockVector<Real> re_;
    BlockVector<Real> im_;
};

// A copy of RowSums of `Blocks` whole blocks kept in vector variables. Fully unrolled, they live
// in registers as far as the register file holds them, so a step loads only the column it adds
// and stores nothing. Products are formed in the same order as RowSums::product, so both give the
// same values.
template <int Bytes, int Blocks, typename T>
class RegisterSums {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;
    static constexpr int bytes = Bytes;
    using V = typename Native<Real, Bytes>::V;

    [[gnu::always_inline]] inline explicit RegisterSums(const RowSums<T>& sums)
        : column_re_(sums.table().re(0)),
          column_im_(sums.table().im(0)),
          stride_(sums.table().stride()) {
#pragma GCC unroll 32
        for (int m = 0; m < M; ++m) {
            load(re_[m], sums.re() + m * N);
            if constexpr (complex) load(im_[m], sums.im() + m * N);
        }
    }

    [[gnu::always_inline]] inline void add(std::size_t col) {
        update<false>(col);
    }
    [[gnu::always_inline]] inline void subtract(std::size_t col) {
        update<true>(col);
    }

    // The product's partial products, one per lane of a native vector, in the order of
    // RowSums::fold.
    [[gnu::always_inline]] inline void fold(V& out_re, V& out_im) const {
        alignas(Bytes) V pr[K];
        [[maybe_unused]] alignas(Bytes) V pi[K];
#pragma GCC unroll 8
        for (int k = 0; k < K; ++k) {
            pr[k] = re_[k];
            if constexpr (complex) pi[k] = im_[k];
        }
#pragma GCC unroll 8
        for (int b = 1; b < Blocks; ++b)
#pragma GCC unroll 8
            for (int k = 0; k < K; ++k) {
                if constexpr (complex)
                    complex_multiply(pr[k], pi[k], re_[b * K + k], im_[b * K + k]);
                else
                    pr[k] *= re_[b * K + k];
            }
        multiply_halves<complex, K>(pr, pi);
        out_re = pr[0];
        if constexpr (complex) out_im = pi[0];
    }

    [[gnu::always_inline]] inline T product() const {
        alignas(Bytes) V re, im;
        fold(re, im);
        if constexpr (complex) {
            Real out_re, out_im;
            reduce_complex<Real, N>(re, im, out_re, out_im);
            return {out_re, out_im};
        } else {
            return static_cast<T>(reduce_real<Real, N>(re));
        }
    }

  private:
    static constexpr int N = Native<Real, Bytes>::width;
    static constexpr int K = static_cast<int>(lanes<Real>) / N;
    static constexpr int M = Blocks * K;

    template <bool minus>
    [[gnu::always_inline]] inline void update(std::size_t col) {
        const std::size_t offset = col * stride_;
        alignas(Bytes) V c;
#pragma GCC unroll 32
        for (int m = 0; m < M; ++m) {
            load(c, column_re_ + offset + m * N);
            if constexpr (minus)
                re_[m] -= c;
            else
                re_[m] += c;
            if constexpr (complex) {
                load(c, column_im_ + offset + m * N);
                if constexpr (minus)
                    im_[m] -= c;
                else
                    im_[m] += c;
            }
        }
    }

    const Real* column_re_;
    const Real* column_im_;
    std::size_t stride_;
    // Vector types bind to references at their natural alignment.
    alignas(Bytes) V re_[M];
    alignas(Bytes) V im_[complex ? M : 1];
};

// Products over the lanes of one native vector for as many consecutive terms as it has lanes, at
// once: two terms' vectors give one vector of half their lanes each, lanes j and j + half of a
// term multiplied as in reduce_complex, so that each shuffle and multiply serves several terms
// instead of ever fewer lanes of one. Each lane sums the products of its terms.
//
// The lanes of a Gray-code walk hold terms of one sign each, whose sums grow far beyond the
// alternating sum they make together. `Compensated` floating-point lanes therefore keep the
// rounding error of every addition apart (Fast2Sum: exact while the lane's sum is the larger
// operand, as it soon is, and otherwise off by less than a rounding of the smaller one), and the
// total adds sums and errors with their signs (TwoSum): the sum comes out nearly as if the terms
// had been added exactly.
template <int Bytes, typename T, bool Compensated>
class LaneGroup {
  public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;
    using V = typename Native<Real, Bytes>::V;
    // Terms per group.
    static constexpr int size = Native<Real, Bytes>::width;
    // Sum type: integers add up modulo 2^64.
    using Sum = std::conditional_t<complex, T, Real>;

    // Term J (0 <= J < size) of the group, as folded partial products.
    template <int J>
    [[gnu::always_inline]] inline void push(const V& re, const V& im) {
        carry<0, J>(re, im);
    }

    // Adds the products of the group's terms, term J to lane J.
    [[gnu::always_inline]] inline void accumulate() {
        add(sum_re_, error_re_, out_re_);
        if constexpr (complex) add(sum_im_, error_im_, out_im_);
    }

    // The sum over the lanes, lane j taken times signs[j] (1 or -1).
    Sum total(const V& signs) const {
        const Real re = signed_total(sum_re_, error_re_, signs);
        if constexpr (complex)
            return {re, signed_total(sum_im_, error_im_, signs)};
        else
            return re;
    }

  private:
    static constexpr int levels = std::countr_zero(static_cast<unsigned>(size));
    using Index = std::conditional_t<sizeof(Real) == 8, long long, int>;
    typedef Index Mask __attribute__((vector_size(Bytes)));

    // Lane k of the vector pairing two vectors of S terms each (a's terms, then b's), each term
    // on N/S lanes: the low (or high) half of every term's lanes.
    static constexpr Index paired_lane(int k, int terms, bool high) {
        const int width = size / terms, half = width / 2, term = k / half, offset = k % half;
        return (term < terms ? 0 : size) + (term % terms) * width + offset + (high ? half : 0);
    }
    template <int Terms, bool High, typename Lanes = std::make_index_sequence<size>>
    struct Pairing;
    template <int Terms, bool High, std::size_t... K>
    struct Pairing<Terms, High, std::index_sequence<K...>> {
        static constexpr Mask mask{paired_lane(static_cast<int>(K), Terms, High)...};
    };

    // Binary carry: a term waits at the first level where its index has a zero bit.
    template <int Level, int J>
    [[gnu::always_inline]] inline void carry(const V& re, const V& im) {
        if constexpr (Level == levels) {
            out_re_ = re;
            if constexpr (complex) out_im_ = im;
        } else if constexpr ((J >> Level & 1) == 0) {
            pending_re_[Level] = re;
            if constexpr (complex) pending_im_[Level] = im;
        } else {
            constexpr int terms = 1 << Level;
            constexpr Mask low = Pairing<terms, false>::mask;
            constexpr Mask high = Pairing<terms, true>::mask;
            alignas(Bytes) V xr = __builtin_shuffle(pending_re_[Level], re, low);
            alignas(Bytes) const V yr = __builtin_shuffle(pending_re_[Level], re, high);
            if constexpr (complex) {
                alignas(Bytes) V xi = __builtin_shuffle(pending_im_[Level], im, low);
                alignas(Bytes) const V yi = __builtin_shuffle(pending_im_[Level], im, high);
                complex_multiply(xr, xi, yr, yi);
                carry<Level + 1, J>(xr, xi);
            } else {
                xr *= yr;
                carry<Level + 1, J>(xr, xr);
            }
        }
    }

    static constexpr bool exact = std::is_integral_v<Real>;

    [[gnu::always_inline]] inline static void add(V& sum, V& error, const V& term) {
        if constexpr (exact) {
            sum += term;
        } else {
            // A real product would otherwise be contracted with this addition into one fused
            // multiply-add, and sums of real matrices would differ from those of complex ones.
            alignas(Bytes) V x = term;
            if constexpr (!complex) __asm__("" : "+x"(x));
            if constexpr (Compensated) {
                const V s = sum + x;
                error += x - (s - sum);
                sum = s;
            } else {
                sum += x;
            }
        }
    }

    static Real signed_total(const V& sum, const V& error, const V& signs) {
        if constexpr (exact || !Compensated) {
            Real total(0);
            for (int j = 0; j < size; ++j) total += signs[j] * sum[j];
            return total;
        } else {
            Real total(0), errors(0);
            for (int j = 0; j < size; ++j) {
                const Real x = signs[j] * sum[j];
                const Real s = total + x;
                const Real x_part = s - total;
                errors += (total - (s - x_part)) + (x - x_part) + signs[j] * error[j];
                total = s;
            }
            // Past an overflow the errors are NaN; the plain sum says what IEEE arithmetic does.
            if (!std::isfinite(total)) return total;
            return total + errors;
        }
    }

    // Vector types bind to references at their natural alignment.
    alignas(Bytes) V pending_re_[levels];
    alignas(Bytes) V pending_im_[levels];
    alignas(Bytes) V out_re_, out_im_;
    alignas(Bytes) V sum_re_{}, sum_im_{};
    alignas(Bytes) V error_re_{}, error_im_{};
};

}  // namespace Permanents
