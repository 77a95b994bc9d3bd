#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

// Building blocks of the Gray-code permanent kernels. Row sums live in padded arrays, real and
// imaginary parts apart, and products are split over `lanes` independent partial products, so
// that both the O(n) update and the O(n) product of every step vectorise and carry no long
// dependency chain. Padding rows hold a row sum of 1 and zero matrix entries, so they never
// change a product.
namespace Permanents {

constexpr std::size_t lanes = 8;

inline std::size_t padded_size(std::size_t rows) { return (rows + lanes - 1) / lanes * lanes; }

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

// The matrix stored column after column, each column padded to `stride()` rows.
template <typename T>
class ColumnTable {
public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;

    ColumnTable(const T* data, std::size_t rows, std::size_t cols, std::size_t outer_stride)
        : stride_(padded_size(rows)), re_(stride_ * cols, Real(0)), im_(complex ? stride_ * cols : 0, Real(0)) {
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
    const Real* im(std::size_t col) const { return complex ? im_.data() + col * stride_ : nullptr; }

private:
    std::size_t stride_;
    std::vector<Real> re_;
    std::vector<Real> im_;
};

// Row sums of a Gray-code walk over the columns of a ColumnTable.
template <typename T>
class RowSums {
public:
    using Real = typename Scalar<T>::Real;
    static constexpr bool complex = Scalar<T>::complex;

    RowSums(const ColumnTable<T>& table, std::size_t rows)
        : table_(table), size_(table.stride()), re_(size_, Real(1)), im_(complex ? size_ : 0, Real(0)) {
        for (std::size_t i = 0; i < rows; ++i) re_[i] = Real(0);
    }

    Real* re() { return re_.data(); }
    Real* im() { return im_.data(); }

    [[gnu::always_inline]] inline void add(std::size_t col) {
        update<false>(re_.data(), table_.re(col));
        if constexpr (complex) update<false>(im_.data(), table_.im(col));
    }

    [[gnu::always_inline]] inline void subtract(std::size_t col) {
        update<true>(re_.data(), table_.re(col));
        if constexpr (complex) update<true>(im_.data(), table_.im(col));
    }

    // Multiplies every real row sum (padding excluded) by `factor`.
    void scale(std::size_t rows, Real factor) {
        for (std::size_t i = 0; i < rows; ++i) {
            re_[i] *= factor;
            if constexpr (complex) im_[i] *= factor;
        }
    }

    [[gnu::always_inline]] inline T product() const {
        if constexpr (complex) {
            return complex_product(re_.data(), im_.data());
        } else {
            return static_cast<T>(real_product(re_.data()));
        }
    }

private:
    template <bool minus>
    [[gnu::always_inline]] inline void update(Real* __restrict sums, const Real* __restrict col) const {
        for (std::size_t i = 0; i < size_; ++i) {
            if constexpr (minus)
                sums[i] -= col[i];
            else
                sums[i] += col[i];
        }
    }

    [[gnu::always_inline]] inline Real real_product(const Real* __restrict r) const {
        Real p[lanes];
        for (std::size_t j = 0; j < lanes; ++j) p[j] = r[j];
        for (std::size_t i = lanes; i < size_; i += lanes)
            for (std::size_t j = 0; j < lanes; ++j) p[j] *= r[i + j];
        for (std::size_t w = lanes / 2; w > 0; w /= 2)
            for (std::size_t j = 0; j < w; ++j) p[j] *= p[j + w];
        return p[0];
    }

    [[gnu::always_inline]] inline T complex_product(const Real* __restrict re, const Real* __restrict im) const {
        Real pr[lanes], pi[lanes];
        for (std::size_t j = 0; j < lanes; ++j) {
            pr[j] = re[j];
            pi[j] = im[j];
        }
        for (std::size_t i = lanes; i < size_; i += lanes)
            for (std::size_t j = 0; j < lanes; ++j) {
                const Real a = pr[j], b = pi[j], c = re[i + j], d = im[i + j];
                pr[j] = a * c - b * d;
                pi[j] = a * d + b * c;
            }
        for (std::size_t w = lanes / 2; w > 0; w /= 2)
            for (std::size_t j = 0; j < w; ++j) {
                const Real a = pr[j], b = pi[j], c = pr[j + w], d = pi[j + w];
                pr[j] = a * c - b * d;
                pi[j] = a * d + b * c;
            }
        return T(pr[0], pi[0]);
    }

    const ColumnTable<T>& table_;
    std::size_t size_;
    std::vector<Real> re_;
    std::vector<Real> im_;
};

}  // namespace Permanents
