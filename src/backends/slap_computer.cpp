#include "backends/slap_computer.h"

#include <bit>
#include <cmath>

#include "runtime/instruction_set.h"

namespace Backend {

namespace {

constexpr int batch_size = 4;

// A complex value as a vector of its two parts: one sum of x * re(p) and one of x * im(p) per
// coefficient, recombined at the end, take two vector multiply-adds per term.
typedef double Pair __attribute__((vector_size(16)));

[[gnu::always_inline]] inline Pair load(const double* x) {
    Pair v;
    __builtin_memcpy(&v, x, sizeof v);
    return v;
}

// (sum x re(p), sum x im(p)) -> scale * sum x p, written to c.
[[gnu::always_inline]] inline void store(double* c, Pair by_re, Pair by_im, double scale) {
    c[0] = (by_re[0] - by_im[1]) * scale;
    c[1] = (by_re[1] + by_im[0]) * scale;
}

// Real arithmetic: it departs from std::complex's only for infinite factors.
//
// A leaf reads the n subsets of one photon: c[0] = scale * sum over j of row[j] c[{j}].
[[gnu::always_inline]] inline void leaf(SLAPComputer::Step const& s) {
    const double* p = s.row;
    double* c = s.table;
    Pair by_re = {0, 0}, by_im = {0, 0};
    for (int j = 0; j < s.n; ++j) {
        const Pair x = load(c + (std::uint64_t{2} << j));
        by_re += x * p[2 * j];
        by_im += x * p[2 * j + 1];
    }
    store(c, by_re, by_im, s.scale);
}

// c[S] = scale * sum over the photons j outside S of row[j] c[S + j], for each S of the batch.
// Every subset of the batch has the same d photons outside it.
[[gnu::always_inline]] inline void sum_batch(SLAPComputer::Step const& s,
                                             std::uint64_t const* batch) {
    const double* p = s.row;
    double* c = s.table;
    const std::uint64_t full = (std::uint64_t{1} << s.n) - 1;
    std::uint64_t free[batch_size];
    Pair by_re[batch_size], by_im[batch_size];
    for (int b = 0; b < batch_size; ++b) {
        free[b] = full & ~batch[b];
        by_re[b] = Pair{0, 0};
        by_im[b] = Pair{0, 0};
    }
    for (int t = 0; t < s.d; ++t)
        for (int b = 0; b < batch_size; ++b) {
            // free[b] keeps d - t photons: never 0 here.
            const auto j = static_cast<std::uint64_t>(__builtin_ctzll(free[b]));
            free[b] &= free[b] - 1;
            const Pair x = load(c + 2 * (batch[b] | (std::uint64_t{1} << j)));
            by_re[b] += x * p[2 * j];
            by_im[b] += x * p[2 * j + 1];
        }
    for (int b = 0; b < batch_size; ++b) store(c + 2 * batch[b], by_re[b], by_im[b], s.scale);
}

// The subsets of n - d photons in increasing order, by batches: the sums of a batch are
// independent, so they overlap in the pipeline. A short batch repeats its last subset, which only
// writes the same value twice.
[[gnu::always_inline]] inline void update_kernel(SLAPComputer::Step const& s) {
    const int size = s.n - s.d;
    if (size == 0) {
        leaf(s);
        return;
    }
    const std::uint64_t full = (std::uint64_t{1} << s.n) - 1;
    std::uint64_t batch[batch_size];
    std::uint64_t subset = (std::uint64_t{1} << size) - 1;
    int filled = 0;
    for (;;) {
        batch[filled++] = subset;
        // The next subset with as many photons.
        const std::uint64_t t = subset | (subset - 1);
        subset = (t + 1) | (((~t & (t + 1)) - 1) >> (std::countr_zero(subset) + 1));
        const bool last = subset > full;
        if (filled == batch_size || last) {
            for (int b = filled; b < batch_size; ++b) batch[b] = batch[filled - 1];
            sum_batch(s, batch);
            filled = 0;
        }
        if (last) return;
    }
}

void update_baseline(SLAPComputer::Step const& s) {
    update_kernel(s);
}

ORBANDILE_TARGET_AVX2 void update_avx2(SLAPComputer::Step const& s) {
    update_kernel(s);
}

ORBANDILE_TARGET_AVX512 void update_avx512(SLAPComputer::Step const& s) {
    update_kernel(s);
}

}  // namespace

SLAPComputer::SLAPComputer(int n)
    : n_(n), table_(std::size_t{1} << n), inverse_roots_(static_cast<std::size_t>(n) + 1) {
    for (int k = 1; k <= n; ++k) inverse_roots_[static_cast<std::size_t>(k)] = 1 / std::sqrt(k);
    switch (InstructionSet::selected_isa()) {
        case InstructionSet::Isa::avx512:
            kernel_ = &update_avx512;
            break;
        case InstructionSet::Isa::avx2:
            kernel_ = &update_avx2;
            break;
        default:
            kernel_ = &update_baseline;
    }
}

void SLAPComputer::start(double input_factorials) {
    table_.back() = 1 / std::sqrt(input_factorials);
}

}  // namespace Backend
