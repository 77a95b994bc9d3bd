#pragma once

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace Backend {

// The coefficient table of a SLAP walk and its generic update. Entry S (a subset of the n input
// photons, as a bit mask) holds, after a node of degree d, the partial amplitude of placing the
// node's d photon slots with the photons outside S, for every S of n - d photons. A node reads
// only the entries of one more photon, which its parent wrote.
class SLAPComputer {
  public:
    // n is at most 30: the table holds 2^n entries.
    explicit SLAPComputer(int n)
        : n_(n), table_(std::size_t{1} << n), inverse_roots_(static_cast<std::size_t>(n) + 1) {
        for (int k = 1; k <= n; ++k) inverse_roots_[static_cast<std::size_t>(k)] = 1 / std::sqrt(k);
    }

    // Every photon still to place, weighted by 1 / sqrt(product of the input's factorials).
    void start(double input_factorials) { table_.back() = 1 / std::sqrt(input_factorials); }

    // A node of degree d whose last photon went to a mode that now holds k photons; row[j] is the
    // amplitude of input photon j reaching that mode. d * C(n, d) complex multiply-adds.
    void update(std::complex<double> const* row, int k, int d) {
        const double scale = inverse_roots_[static_cast<std::size_t>(k)];
        const std::uint64_t full = (std::uint64_t{1} << n_) - 1;
        const int size = n_ - d;
        if (size == 0) {
            leaf(row, scale);
            return;
        }
        // The subsets of `size` photons in increasing order, by batches: the sums of a batch are
        // independent, so they overlap in the pipeline. A short batch repeats its last subset,
        // which only writes the same value twice.
        std::uint64_t batch[batch_size];
        std::uint64_t s = (std::uint64_t{1} << size) - 1;
        int filled = 0;
        for (;;) {
            batch[filled++] = s;
            bool last = s == 0;
            if (!last) {
                const std::uint64_t t = s | (s - 1);
                s = (t + 1) | (((~t & (t + 1)) - 1) >> (std::countr_zero(s) + 1));
                last = s > full;
            }
            if (filled == batch_size || last) {
                for (int b = filled; b < batch_size; ++b) batch[b] = batch[filled - 1];
                sum_batch(row, batch, d, scale);
                filled = 0;
            }
            if (last) return;
        }
    }

    // The amplitude of the leaf just updated.
    std::complex<double> amplitude() const { return table_[0]; }

  private:
    static constexpr int batch_size = 4;

    // A leaf reads the n subsets of one photon: c[0] = scale * sum over j of row[j] c[{j}].
    void leaf(std::complex<double> const* row, double scale) {
        const auto* p = reinterpret_cast<const double*>(row);
        auto* c = reinterpret_cast<double*>(table_.data());
        double rr = 0, ii = 0, ri = 0, ir = 0;
        for (int j = 0; j < n_; ++j) {
            const double* x = c + (std::uint64_t{2} << j);
            rr += p[2 * j] * x[0];
            ii += p[2 * j + 1] * x[1];
            ri += p[2 * j] * x[1];
            ir += p[2 * j + 1] * x[0];
        }
        c[0] = (rr - ii) * scale;
        c[1] = (ri + ir) * scale;
    }

    // c[S] = scale * sum over the photons j outside S of row[j] c[S + j], for each S of the batch.
    // Real arithmetic: it departs from std::complex's only for infinite factors.
    void sum_batch(std::complex<double> const* row, std::uint64_t const* batch, int d,
                   double scale) {
        const auto* p = reinterpret_cast<const double*>(row);
        auto* c = reinterpret_cast<double*>(table_.data());
        const std::uint64_t full = (std::uint64_t{1} << n_) - 1;
        std::uint64_t free[batch_size];
        double rr[batch_size] = {}, ii[batch_size] = {}, ri[batch_size] = {}, ir[batch_size] = {};
        for (int b = 0; b < batch_size; ++b) free[b] = full & ~batch[b];
        // Every subset of the batch has the same d photons outside it.
        for (int t = 0; t < d; ++t)
            for (int b = 0; b < batch_size; ++b) {
                const int j = std::countr_zero(free[b]);
                free[b] &= free[b] - 1;
                const double* x = c + 2 * (batch[b] | (std::uint64_t{1} << j));
                rr[b] += p[2 * j] * x[0];
                ii[b] += p[2 * j + 1] * x[1];
                ri[b] += p[2 * j] * x[1];
                ir[b] += p[2 * j + 1] * x[0];
            }
        for (int b = 0; b < batch_size; ++b) {
            c[2 * batch[b]] = (rr[b] - ii[b]) * scale;
            c[2 * batch[b] + 1] = (ri[b] + ir[b]) * scale;
        }
    }

    int n_;
    std::vector<std::complex<double>> table_;
    std::vector<double> inverse_roots_;
};

}  // namespace Backend
