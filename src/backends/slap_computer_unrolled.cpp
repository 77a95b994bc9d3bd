#include "backends/slap_computer_unrolled.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <utility>

namespace Backend {

namespace {

// The masks below 2^k with j bits set, in increasing order.
template <int K, int J>
constexpr auto layer_masks() {
    constexpr std::size_t count = [] {
        std::size_t c = 0;
        for (unsigned s = 0; s < (1u << K); ++s) c += std::popcount(s) == J;
        return c;
    }();
    std::array<unsigned, count> masks{};
    std::size_t i = 0;
    for (unsigned s = 0; s < (1u << K); ++s)
        if (std::popcount(s) == J) masks[i++] = s;
    return masks;
}

// Real arithmetic, so that no library call checks for infinities in the hot loop.
template <unsigned S, int K>
[[gnu::always_inline]] inline std::complex<double> sum(std::complex<double> const* row,
                                                       Coefficients const& c) {
    double re = 0, im = 0;
    [&]<int... P>(std::integer_sequence<int, P...>) {
        (
            [&] {
                if constexpr (((S >> P) & 1u) == 0) {
                    const std::complex<double> a = row[P];
                    const std::complex<double> b = c[S | (1u << P)];
                    re += a.real() * b.real() - a.imag() * b.imag();
                    im += a.real() * b.imag() + a.imag() * b.real();
                }
            }(),
            ...);
    }
    (std::make_integer_sequence<int, K>{});
    return {re, im};
}

// A member never reads a mask it writes, so the order of the writes is free.
template <int K, int J>
void update_layer(std::complex<double> const* row, double x, Coefficients& c) {
    static constexpr auto masks = layer_masks<K, J>();
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((c[masks[I]] =
              [&] {
                  const std::complex<double> s = sum<masks[I], K>(row, c);
                  return std::complex<double>(s.real() / x, s.imag() / x);
              }()),
         ...);
    }
    (std::make_index_sequence<masks.size()>{});
}

template <int K, int J>
double update_layer_with_proba(std::complex<double> const* row, Coefficients& c) {
    static constexpr auto masks = layer_masks<K, J>();
    double total = 0;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                const std::complex<double> s = sum<masks[I], K>(row, c);
                c[masks[I]] = s;
                total += s.real() * s.real() + s.imag() * s.imag();
            }(),
            ...);
    }
    (std::make_index_sequence<masks.size()>{});
    return total;
}

}  // namespace

#define ORBANDILE_UNROLLED_LAYER(K, J)                                               \
    void update_coefficients_##K##_##J(std::complex<double> const* row, double x,    \
                                       Coefficients& c) {                            \
        update_layer<K, J>(row, x, c);                                               \
    }                                                                                \
    double update_coefficients_with_proba_##K##_##J(std::complex<double> const* row, \
                                                    Coefficients& c) {               \
        return update_layer_with_proba<K, J>(row, c);                                \
    }

ORBANDILE_UNROLLED_LAYER(1, 0)
ORBANDILE_UNROLLED_LAYER(2, 0)
ORBANDILE_UNROLLED_LAYER(2, 1)
ORBANDILE_UNROLLED_LAYER(3, 0)
ORBANDILE_UNROLLED_LAYER(3, 1)
ORBANDILE_UNROLLED_LAYER(3, 2)
ORBANDILE_UNROLLED_LAYER(4, 0)
ORBANDILE_UNROLLED_LAYER(4, 1)
ORBANDILE_UNROLLED_LAYER(4, 2)
ORBANDILE_UNROLLED_LAYER(4, 3)

#undef ORBANDILE_UNROLLED_LAYER

std::vector<std::vector<UpdateCoeffFunction>> create_update_coeff_function_group() {
    return {{},
            {update_coefficients_1_0},
            {update_coefficients_2_0, update_coefficients_2_1},
            {update_coefficients_3_0, update_coefficients_3_1, update_coefficients_3_2},
            {update_coefficients_4_0, update_coefficients_4_1, update_coefficients_4_2,
             update_coefficients_4_3}};
}

std::vector<std::vector<UpdateWithProbaFunction>> create_update_with_proba_function_group() {
    return {{},
            {update_coefficients_with_proba_1_0},
            {update_coefficients_with_proba_2_0, update_coefficients_with_proba_2_1},
            {update_coefficients_with_proba_3_0, update_coefficients_with_proba_3_1,
             update_coefficients_with_proba_3_2},
            {update_coefficients_with_proba_4_0, update_coefficients_with_proba_4_1,
             update_coefficients_with_proba_4_2, update_coefficients_with_proba_4_3}};
}

SLAPComputer_unrolled::SLAPComputer_unrolled(int n)
    : n_(n), table_(std::size_t{1} << n), roots_(static_cast<std::size_t>(n) + 1) {
    static constexpr Layer layers[5][4] = {
        {},
        {update_coefficients_1_0},
        {update_coefficients_2_0, update_coefficients_2_1},
        {update_coefficients_3_0, update_coefficients_3_1, update_coefficients_3_2},
        {update_coefficients_4_0, update_coefficients_4_1, update_coefficients_4_2,
         update_coefficients_4_3}};
    layers_.assign(layers[n], layers[n] + n);
    for (int k = 1; k <= n; ++k) roots_[static_cast<std::size_t>(k)] = std::sqrt(k);
}

void SLAPComputer_unrolled::start(double input_factorials) {
    table_.back() = 1 / std::sqrt(input_factorials);
}

}  // namespace Backend
