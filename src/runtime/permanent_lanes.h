#pragma once

#include <algorithm>
#include <atomic>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

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

// Lanes of one 64-byte block.
template <typename R>
constexpr std::size_t lanes = 64 / sizeof(R);

template <typename R>
std::size_t padded_size(std::size_t rows) {
    return (rows + lanes<R> - 1) / lanes<R> * lanes<R>;
}

enum class Isa { baseline, avx2, avx512 };

// The widest instruction set of this processor that the kernels have a variant for.
inline Isa detected_isa() {
    static const Isa isa = []() {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2") &&
            __builtin_cpu_supports("fma"))
            return Isa::avx512;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Isa::avx2;
        return Isa::baseline;
    }();
    return isa;
}

// The variant the kernels run: the detected one, or a narrower one that tests and benchmarks
// select to exercise every variant on one machine.
inline std::atomic<Isa>& isa_limit() {
    static std::atomic<Isa> limit{Isa::avx512};
    return limit;
}

inline Isa selected_isa() {
    return std::min(detected_isa(), isa_limit().load(std::memory_order_relaxed));
}

#define ORBANDILE_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define ORBANDILE_TARGET_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx2,fma")))

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
        H lr, li, hr, hi;
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
        H low, high;
        split<N>(v, low, high, std::make_index_sequence<N / 2>{});
        low *= high;
        return reduce_real<R, N / 2>(low);
    }
}

// Product of `size` (a multiple of lanes<R>) complex values, one partial product per lane of a
// block; the block's vectors are then combined like lanes j and j + lanes/2 of a single one.
template <int Bytes, typename R>
[[gnu::always_inline]] inline std::complex<R> complex_product(const R* __restrict re,
                                                              const R* __restrict im,
                                                              std::size_t size) {
    using V = typename Native<R, Bytes>::V;
    constexpr int N = Native<R, Bytes>::width;
    constexpr int K = static_cast<int>(lanes<R>) / N;
    V pr[K], pi[K], c, d;
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
    R out_re, out_im;
    reduce_complex<R, N>(pr[0], pi[0], out_re, out_im);
    return {out_re, out_im};
}

template <int Bytes, typename R>
[[gnu::always_inline]] inline R real_product(const R* __restrict r, std::size_t size) {
    using V = typename Native<R, Bytes>::V;
    constexpr int N = Native<R, Bytes>::width;
    constexpr int K = static_cast<int>(lanes<R>) / N;
    V p[K], c;
    for (int k = 0; k < K; ++k) load(p[k], r + k * N);
    for (std::size_t i = lanes<R>; i < size; i += lanes<R>)
        for (int k = 0; k < K; ++k) {
            load(c, r + i + k * N);
            p[k] *= c;
        }
    for (int half = K / 2; half > 0; half /= 2)
        for (int k = 0; k < half; ++k) p[k] *= p[k + half];
    return reduce_real<R, N>(p[0]);
}

// sums ± column over `size` values, a multiple of lanes<R>.
template <int Bytes, bool minus, typename R>
[[gnu::always_inline]] inline void update(R* __restrict sums, const R* __restrict column,
                                          std::size_t size) {
    using V = typename Native<R, Bytes>::V;
    constexpr std::size_t N = Native<R, Bytes>::width;
    V s, c;
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
    std::vector<Real> re_;
    std::vector<Real> im_;
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

    template <int Bytes>
    [[gnu::always_inline]] inline T product() const {
        if constexpr (complex)
            return complex_product<Bytes>(re_.data(), im_.data(), size_);
        else
            return static_cast<T>(real_product<Bytes>(re_.data(), size_));
    }

private:
    const ColumnTable<T>& table_;
    std::size_t size_;
    std::vector<Real> re_;
    std::vector<Real> im_;
};

}  // namespace Permanents
