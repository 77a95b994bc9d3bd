#include "backends/slos_v3_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <immintrin.h>

#include "runtime/instruction_set.h"

namespace Backend::SlosV3Kernels {

namespace {

using cd = std::complex<double>;

// One layer of the pass in plain real arithmetic: without the checks of std::complex's
// multiplication, which only change a product whose naive parts are both NaN. Such a product
// leaves a NaN in the layer, and the caller then redoes the layer with the full semantics.
// Force-inlined into one copy per instruction set. Backward, a group sums its links into its own
// entry of `next` (pull); forward, it adds its entry of `current` to the entries its links reach
// (push).
template <typename T, bool Backward>
[[gnu::always_inline]] inline void layer_pass(typename SlosMap_t<T>::Layer const& layer,
                                              const double* __restrict column,
                                              const double* __restrict current,
                                              double* __restrict next) {
    const T* ends = layer.ends.data();
    const std::uint8_t* modes = layer.modes.data();
    const std::uint8_t* sizes = layer.group_sizes.data();
    const std::size_t groups = layer.group_sizes.size();
    std::size_t l = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t end = l + sizes[g] + 1;
        if constexpr (Backward) {
            double re = 0.0, im = 0.0;
            for (; l < end; ++l) {
                const double* c = column + 2 * modes[l];
                const double* x = current + 2 * static_cast<std::size_t>(ends[l]);
                re += c[0] * x[0] - c[1] * x[1];
                im += c[0] * x[1] + c[1] * x[0];
            }
            next[2 * g] = re;
            next[2 * g + 1] = im;
        } else {
            const double xr = current[2 * g], xi = current[2 * g + 1];
            for (; l < end; ++l) {
                const double* c = column + 2 * modes[l];
                double* y = next + 2 * static_cast<std::size_t>(ends[l]);
                y[0] += c[0] * xr - c[1] * xi;
                y[1] += c[0] * xi + c[1] * xr;
            }
        }
    }
}

template <typename T>
[[gnu::always_inline]] inline bool layer_kernel(typename SlosMap_t<T>::Layer const& layer,
                                                bool backward, const double* column,
                                                const double* current, double* next,
                                                std::size_t count) {
    if (backward)
        layer_pass<T, true>(layer, column, current, next);
    else
        layer_pass<T, false>(layer, column, current, next);
    bool nan = false;
    for (std::size_t i = 0; i < 2 * count; ++i) nan |= std::isnan(next[i]);
    return nan;
}

template <typename T>
bool layer_baseline(typename SlosMap_t<T>::Layer const& layer, bool backward, const double* column,
                    const double* current, double* next, std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

template <typename T>
ORBANDILE_TARGET_AVX2 bool layer_avx2(typename SlosMap_t<T>::Layer const& layer, bool backward,
                                      const double* column, const double* current, double* next,
                                      std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

template <typename T>
ORBANDILE_TARGET_AVX512 bool layer_avx512(typename SlosMap_t<T>::Layer const& layer, bool backward,
                                          const double* column, const double* current, double* next,
                                          std::size_t count) {
    return layer_kernel<T>(layer, backward, column, current, next, count);
}

// The same layer with std::complex arithmetic throughout, in the same order.
template <typename T>
void layer_complex(typename SlosMap_t<T>::Layer const& layer, bool backward, const cd* column,
                   const cd* current, cd* next) {
    std::size_t l = 0;
    for (std::size_t g = 0; g < layer.group_sizes.size(); ++g) {
        const std::size_t end = l + layer.group_sizes[g] + 1;
        if (backward) {
            cd sum(0.0);
            for (; l < end; ++l) sum += column[layer.modes[l]] * current[layer.ends[l]];
            next[g] = sum;
        } else {
            for (; l < end; ++l) next[layer.ends[l]] += column[layer.modes[l]] * current[g];
        }
    }
}
// The tail links of the states of one class, S links each (a fixed trip count).
template <int S>
[[gnu::always_inline]] inline void tail_class(const double* u, const double* y, double* z,
                                              const std::uint16_t* states,
                                              const std::uint16_t* from, const std::uint8_t* modes,
                                              std::size_t count, int s) {
    const int size = S > 0 ? S : s;
    for (std::size_t i = 0; i < count; ++i, from += size, modes += size) {
        double re = 0.0, im = 0.0;
        for (int l = 0; l < size; ++l) {
            const double* c = u + 2 * modes[l];
            const double* x = y + 2 * from[l];
            re += c[0] * x[0] - c[1] * x[1];
            im += c[0] * x[1] + c[1] * x[0];
        }
        z[2 * states[i]] = re;
        z[2 * states[i] + 1] = im;
    }
}

// tail_class<S> for the class sizes listed, the general loop (which also writes the zeros of
// the class without links) for the others.
template <int... S>
[[gnu::always_inline]] inline void tail_class_of(std::integer_sequence<int, S...>, const double* u,
                                                 const double* y, double* z,
                                                 const std::uint16_t* states,
                                                 const std::uint16_t* from,
                                                 const std::uint8_t* modes, std::size_t count,
                                                 int s) {
    if (!((s == S && (tail_class<S>(u, y, z, states, from, modes, count, s), true)) || ...))
        tail_class<0>(u, y, z, states, from, modes, count, s);
}

// Writes every output of the run with the sum over its tail links.
[[gnu::always_inline]] inline void tail_pass(DensePass const& p, DenseLinks::TailLayer const& tail,
                                             std::size_t yi, double* z) {
    const double* u = p.column + 2 * p.links.head;
    const double* y = p.current + 2 * yi;
    std::size_t begin = 0, link = 0;
    for (std::size_t s = 0; s < tail.classes.size(); ++s) {
        const std::size_t end = tail.classes[s];
        const std::uint16_t* states = tail.states.data() + begin;
        const std::uint16_t* from = tail.sources.data() + link;
        const std::uint8_t* modes = tail.modes.data() + link;
        const std::size_t count = end - begin;
        tail_class_of(std::integer_sequence<int, 1, 2, 3, 4, 5, 6>{}, u, y, z, states, from, modes,
                      count, static_cast<int>(s));
        link += count * s;
        begin = end;
    }
}

bool dense_run_baseline(DensePass const& p, int c, std::size_t zi, std::size_t yi, int sources,
                        double head_scale) {
    DenseLinks::TailLayer const& tail = p.links.tails[static_cast<std::size_t>(c)];
    const std::size_t len = tail.size();
    double* z = p.next + 2 * zi;
    tail_pass(p, tail, yi, z);
    bool nan = false;
    for (std::size_t i = 0; i < len; ++i) {
        double re = z[2 * i], im = z[2 * i + 1];
        for (int s = 0; s < sources; ++s) {
            const double* u = p.column + 2 * p.modes[static_cast<std::size_t>(s)];
            const double* x = p.current + 2 * (static_cast<std::ptrdiff_t>(zi + i) +
                                               p.distances[static_cast<std::size_t>(s)]);
            re += u[0] * x[0] - u[1] * x[1];
            im += u[0] * x[1] + u[1] * x[0];
        }
        if (p.last) {
            const double scale = head_scale * tail.scales[i];
            re *= scale;
            im *= scale;
        }
        nan |= std::isnan(re) || std::isnan(im);
        z[2 * i] = re;
        z[2 * i + 1] = im;
        if (p.probabilities) p.probabilities[zi + i] = re * re + im * im;
    }
    return nan;
}

// Four outputs per register: their tail links gathered record by record, then their head
// sources, which are aligned runs met once per group; a masked last group for the remainder.
// The outputs go to memory once, finished.
// S head sources, or any number for S = -1: with S fixed, the column's entries of the head
// modes stay in registers across the run.
template <int S>
ORBANDILE_TARGET_AVX512 [[gnu::always_inline]] inline bool dense_run_avx512_t(
    DensePass const& p, int c, std::size_t zi, std::size_t yi, int sources, double head_scale) {
    DenseLinks::TailLayer const& tail = p.links.tails[static_cast<std::size_t>(c)];
    DenseLinks::TailLanes const& lanes = p.links.lanes[static_cast<std::size_t>(c)];
    const std::size_t len = tail.size();
    // Null when the last layer writes probabilities only.
    double* z = p.next ? p.next + 2 * zi : nullptr;
    const double* y = p.current + 2 * yi;
    const int count = S >= 0 ? S : sources;
    constexpr std::size_t held = S >= 0 ? static_cast<std::size_t>(S) : 256;
    std::array<const double*, held> x;
    constexpr std::size_t registers = S > 0 ? static_cast<std::size_t>(S) : 1;
    __m512d u_re[registers], u_im[registers];
    std::array<const double*, S >= 0 ? 0 : held> u;
    for (int s = 0; s < count; ++s) {
        const auto i = static_cast<std::size_t>(s);
        x[i] = p.current + 2 * (static_cast<std::ptrdiff_t>(zi) + p.distances[i]);
        const double* pair = p.pairs + 4 * p.modes[i];
        if constexpr (S >= 0) {
            u_re[i] = _mm512_set1_pd(pair[0]);
            u_im[i] = _mm512_set1_pd(pair[3]);
        } else {
            u[i] = pair;
        }
    }
    const __m512d re_low = _mm512_loadu_pd(p.tail_re.data());
    const __m512d re_high = _mm512_loadu_pd(p.tail_re.data() + 8);
    const __m512d im_low = _mm512_loadu_pd(p.tail_im.data());
    const __m512d im_high = _mm512_loadu_pd(p.tail_im.data() + 8);
    const __m512d ones = _mm512_set1_pd(1.0);
    const __m512i duplicate = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i reals = _mm512_set_epi64(6, 4, 2, 0, 6, 4, 2, 0);
    const __m512i imaginaries = _mm512_set_epi64(7, 5, 3, 1, 7, 5, 3, 1);
    const __m512d head = _mm512_set1_pd(head_scale);
    const std::uint32_t* offsets = lanes.offsets.data();
    const char* base = reinterpret_cast<const char*>(y);
    const std::uint8_t* modes = lanes.modes.data();
    std::size_t record = 0;
    __mmask8 nan = 0;
    for (std::size_t i = 0, g = 0; i < len; i += 4, ++g) {
        const std::size_t left = len - i;
        const __mmask8 mask = left >= 4 ? __mmask8(0xFF) : __mmask8((1u << (2 * left)) - 1);
        // u x = (re, re) x + (-im, im) (x.im, x.re): the sums of the products by (re, re) and
        // by (im, im) apart, swapped and signed once per group.
        __m512d acc = _mm512_setzero_pd();
        __m512d acc_im = _mm512_setzero_pd();
        for (const std::size_t end = lanes.ends[g]; record < end; ++record) {
            // Four loads rather than a gather, which costs more than them on recent cores.
            const std::uint32_t* at = offsets + 4 * record;
            const __m256d low = _mm256_insertf128_pd(
                _mm256_castpd128_pd256(_mm_loadu_pd(reinterpret_cast<const double*>(base + at[0]))),
                _mm_loadu_pd(reinterpret_cast<const double*>(base + at[1])), 1);
            const __m256d high = _mm256_insertf128_pd(
                _mm256_castpd128_pd256(_mm_loadu_pd(reinterpret_cast<const double*>(base + at[2]))),
                _mm_loadu_pd(reinterpret_cast<const double*>(base + at[3])), 1);
            const __m512d v = _mm512_maskz_insertf64x4(0xFF, _mm512_castpd256_pd512(low), high, 1);
            const __m512i mode = _mm512_maskz_cvtepu8_epi64(
                0xFF, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(modes + 8 * record)));
            acc = _mm512_fmadd_pd(_mm512_permutex2var_pd(re_low, mode, re_high), v, acc);
            acc_im = _mm512_fmadd_pd(_mm512_permutex2var_pd(im_low, mode, im_high), v, acc_im);
        }
        for (int s = 0; s < count; ++s) {
            const auto k = static_cast<std::size_t>(s);
            const __m512d v = _mm512_maskz_loadu_pd(mask, x[k] + 2 * i);
            if constexpr (S >= 0) {
                acc = _mm512_fmadd_pd(u_re[k], v, acc);
                acc_im = _mm512_fmadd_pd(u_im[k], v, acc_im);
            } else {
                acc = _mm512_fmadd_pd(_mm512_set1_pd(u[k][0]), v, acc);
                acc_im = _mm512_fmadd_pd(_mm512_set1_pd(u[k][3]), v, acc_im);
            }
        }
        // The full-mask form: the plain one starts from an undefined register.
        acc = _mm512_fmaddsub_pd(ones, acc, _mm512_maskz_permute_pd(0xFF, acc_im, 0x55));
        const auto four = static_cast<__mmask8>(left >= 4 ? 0xF : (1u << left) - 1);
        if (p.last) {
            const __m512d scales = _mm512_maskz_permutexvar_pd(
                0xFF, duplicate,
                _mm512_castpd256_pd512(_mm256_maskz_loadu_pd(four, tail.scales.data() + i)));
            acc = _mm512_mul_pd(acc, _mm512_mul_pd(head, scales));
        }
        nan |= _mm512_mask_cmp_pd_mask(mask, acc, acc, _CMP_UNORD_Q);
        if (z) _mm512_mask_storeu_pd(z + 2 * i, mask, acc);
        if (p.probabilities) {
            // re² + im², the same two products and one sum as the scalar form; both terms
            // permuted, so that no product is fused into the sum.
            const __m512d squares = _mm512_mul_pd(acc, acc);
            const __m512d sums =
                _mm512_add_pd(_mm512_maskz_permutexvar_pd(0xFF, reals, squares),
                              _mm512_maskz_permutexvar_pd(0xFF, imaginaries, squares));
            _mm512_mask_storeu_pd(p.probabilities + zi + i, four, sums);
        }
    }
    return nan != 0;
}

// dense_run_avx512_t<S> for the source counts listed, the general run for the others.
template <int... S>
ORBANDILE_TARGET_AVX512 [[gnu::always_inline]] inline bool dense_run_avx512_of(
    std::integer_sequence<int, S...>, DensePass const& p, int c, std::size_t zi, std::size_t yi,
    int sources, double head_scale) {
    bool nan = false;
    if (((sources == S && (nan = dense_run_avx512_t<S>(p, c, zi, yi, sources, head_scale), true)) ||
         ...))
        return nan;
    return dense_run_avx512_t<-1>(p, c, zi, yi, sources, head_scale);
}

// Up to eight head sources get a copy of the run with their column entries in registers.
ORBANDILE_TARGET_AVX512 bool dense_run_avx512(DensePass const& p, int c, std::size_t zi,
                                              std::size_t yi, int sources, double head_scale) {
    return dense_run_avx512_of(std::make_integer_sequence<int, 9>{}, p, c, zi, yi, sources,
                               head_scale);
}

// re² + im² of two amplitudes, the same two products and one sum as the scalar form; both
// terms are permuted, so that no product is fused into the sum.
ORBANDILE_TARGET_AVX2 inline __m128d squared_sums(__m256d squares) {
    return _mm_add_pd(_mm256_castpd256_pd128(_mm256_permute4x64_pd(squares, 0x08)),
                      _mm256_castpd256_pd128(_mm256_permute4x64_pd(squares, 0x0D)));
}

ORBANDILE_TARGET_AVX2 bool dense_run_avx2(DensePass const& p, int c, std::size_t zi, std::size_t yi,
                                          int sources, double head_scale) {
    DenseLinks::TailLayer const& tail = p.links.tails[static_cast<std::size_t>(c)];
    const std::size_t len = tail.size();
    double* z = p.next + 2 * zi;
    tail_pass(p, tail, yi, z);
    std::array<const double*, 256> x;
    std::array<const double*, 256> u;
    for (int s = 0; s < sources; ++s) {
        const auto i = static_cast<std::size_t>(s);
        x[i] = p.current + 2 * (static_cast<std::ptrdiff_t>(zi) + p.distances[i]);
        u[i] = p.pairs + 4 * p.modes[i];
    }
    __m256d nan = _mm256_setzero_pd();
    std::size_t i = 0;
    for (; i + 2 <= len; i += 2) {
        __m256d acc = _mm256_loadu_pd(z + 2 * i);
        for (int s = 0; s < sources; ++s) {
            const auto k = static_cast<std::size_t>(s);
            const __m256d v = _mm256_loadu_pd(x[k] + 2 * i);
            acc = _mm256_fmadd_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(u[k])), v,
                                  acc);
            acc = _mm256_fmadd_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(u[k] + 2)),
                                  _mm256_permute_pd(v, 0x5), acc);
        }
        if (p.last) {
            const double* scales = tail.scales.data() + i;
            acc = _mm256_mul_pd(acc, _mm256_set_pd(head_scale * scales[1], head_scale * scales[1],
                                                   head_scale * scales[0], head_scale * scales[0]));
        }
        nan = _mm256_or_pd(nan, _mm256_cmp_pd(acc, acc, _CMP_UNORD_Q));
        _mm256_storeu_pd(z + 2 * i, acc);
        if (p.probabilities) {
            const __m256d squares = _mm256_mul_pd(acc, acc);
            _mm_storeu_pd(p.probabilities + zi + i, squared_sums(squares));
        }
    }
    bool last_nan = false;
    if (i < len) {
        __m128d acc = _mm_loadu_pd(z + 2 * i);
        for (int s = 0; s < sources; ++s) {
            const auto k = static_cast<std::size_t>(s);
            const __m128d v = _mm_loadu_pd(x[k] + 2 * i);
            acc = _mm_fmadd_pd(_mm_loadu_pd(u[k]), v, acc);
            acc = _mm_fmadd_pd(_mm_loadu_pd(u[k] + 2), _mm_permute_pd(v, 0x1), acc);
        }
        if (p.last) acc = _mm_mul_pd(acc, _mm_set1_pd(head_scale * tail.scales[i]));
        last_nan = _mm_movemask_pd(_mm_cmpunord_pd(acc, acc)) != 0;
        _mm_storeu_pd(z + 2 * i, acc);
        if (p.probabilities) {
            const __m128d squares = _mm_mul_pd(acc, acc);
            p.probabilities[zi + i] = _mm_cvtsd_f64(
                _mm_add_sd(_mm_unpacklo_pd(squares, squares), _mm_unpackhi_pd(squares, squares)));
        }
    }
    return last_nan || _mm256_movemask_pd(nan) != 0;
}
}  // namespace

template <typename T>
void sweep_layer(typename SlosMap_t<T>::Layer const& layer, bool backward,
                 std::vector<cd> const& column, std::vector<cd> const& current,
                 std::vector<cd>& next) {
    // As (re, im) pairs.
    const auto* u = reinterpret_cast<const double*>(column.data());
    const auto* x = reinterpret_cast<const double*>(current.data());
    auto* y = reinterpret_cast<double*>(next.data());
    bool nan;
    switch (InstructionSet::selected_isa()) {
        case InstructionSet::Isa::avx512:
            nan = layer_avx512<T>(layer, backward, u, x, y, next.size());
            break;
        case InstructionSet::Isa::avx2:
            nan = layer_avx2<T>(layer, backward, u, x, y, next.size());
            break;
        default:
            nan = layer_baseline<T>(layer, backward, u, x, y, next.size());
    }
    if (!nan) return;
    if (!backward) std::fill(next.begin(), next.end(), cd(0.0));
    layer_complex<T>(layer, backward, column.data(), current.data(), next.data());
}

template void sweep_layer<unsigned char>(SlosMap_t<unsigned char>::Layer const&, bool,
                                         std::vector<cd> const&, std::vector<cd> const&,
                                         std::vector<cd>&);
template void sweep_layer<unsigned short>(SlosMap_t<unsigned short>::Layer const&, bool,
                                          std::vector<cd> const&, std::vector<cd> const&,
                                          std::vector<cd>&);
template void sweep_layer<unsigned int>(SlosMap_t<unsigned int>::Layer const&, bool,
                                        std::vector<cd> const&, std::vector<cd> const&,
                                        std::vector<cd>&);
template void sweep_layer<unsigned long>(SlosMap_t<unsigned long>::Layer const&, bool,
                                         std::vector<cd> const&, std::vector<cd> const&,
                                         std::vector<cd>&);

RunKernel selected_dense_run() {
    switch (InstructionSet::selected_isa()) {
        case InstructionSet::Isa::avx512:
            return dense_run_avx512;
        case InstructionSet::Isa::avx2:
            return dense_run_avx2;
        default:
            return dense_run_baseline;
    }
}

// The same run with std::complex arithmetic throughout, each output summed in the same order.
bool dense_run_complex(DensePass const& p, int c, std::size_t zi, std::size_t yi, int sources,
                       double head_scale) {
    DenseLinks::TailLayer const& tail = p.links.tails[static_cast<std::size_t>(c)];
    const auto* column = reinterpret_cast<const cd*>(p.column);
    const auto* current = reinterpret_cast<const cd*>(p.current);
    cd* z = reinterpret_cast<cd*>(p.next) + zi;
    std::size_t begin = 0, link = 0;
    for (std::size_t s = 0; s < tail.classes.size(); ++s) {
        for (; begin < tail.classes[s]; ++begin) {
            cd sum(0.0);
            for (std::size_t l = 0; l < s; ++l, ++link)
                sum += column[p.links.head + tail.modes[link]] * current[yi + tail.sources[link]];
            z[tail.states[begin]] = sum;
        }
    }
    for (std::size_t i = 0; i < tail.size(); ++i) {
        cd sum = z[i];
        for (int s = 0; s < sources; ++s)
            sum += column[p.modes[static_cast<std::size_t>(s)]] *
                   current[static_cast<std::ptrdiff_t>(zi + i) +
                           p.distances[static_cast<std::size_t>(s)]];
        if (p.last) sum *= head_scale * tail.scales[i];
        z[i] = sum;
    }
    return false;
}
// The states zi ... of k photons over modes j ... m-1 after shared occupations of the modes
// before j. Their blocks by the occupation a of mode j line up with the blocks of the previous
// layer's states yi ..., so a head link of mode j is one fixed distance for a whole block.
bool descend(DensePass& p, RunKernel run, int j, int k, std::size_t zi, std::size_t yi, int sources,
             double head_scale) {
    if (k == 0 || j == p.links.head) return run(p, k, zi, yi, sources, head_scale);
    const int rest = p.m - j;
    bool nan = false;
    for (int c = 0; c <= k; ++c) {
        const int a = k - c;
        int below = sources;
        if (a > 0) {
            p.distances[static_cast<std::size_t>(sources)] =
                static_cast<std::ptrdiff_t>(yi) - static_cast<std::ptrdiff_t>(zi);
            p.modes[static_cast<std::size_t>(sources)] = j;
            ++below;
        }
        const std::size_t z_offset = c > 0 ? p.links.count(rest, c - 1) : 0;
        const std::size_t y_offset = c > 1 ? p.links.count(rest, c - 2) : 0;
        nan |= descend(p, run, j + 1, c, zi + z_offset, yi + y_offset, below,
                       head_scale * p.links.factorial_roots[static_cast<std::size_t>(a)]);
    }
    return nan;
}
}  // namespace Backend::SlosV3Kernels
