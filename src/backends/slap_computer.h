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
        // Real arithmetic: it departs from std::complex's only for infinite factors.
        const auto* p = reinterpret_cast<const double*>(row);
        auto* c = reinterpret_cast<double*>(table_.data());
        const std::uint64_t full = (std::uint64_t{1} << n_) - 1;
        const double scale = inverse_roots_[static_cast<std::size_t>(k)];
        const int size = n_ - d;
        std::uint64_t s = (std::uint64_t{1} << size) - 1;
        for (;;) {
            double re = 0, im = 0;
            for (std::uint64_t free = full & ~s; free != 0; free &= free - 1) {
                const int j = std::countr_zero(free);
                const double* x = c + 2 * (s | (std::uint64_t{1} << j));
                re += p[2 * j] * x[0] - p[2 * j + 1] * x[1];
                im += p[2 * j] * x[1] + p[2 * j + 1] * x[0];
            }
            c[2 * s] = re * scale;
            c[2 * s + 1] = im * scale;
            if (s == 0) return;
            // The next mask with as many bits.
            const std::uint64_t t = s | (s - 1);
            s = (t + 1) | (((~t & (t + 1)) - 1) >> (std::countr_zero(s) + 1));
            if (s > full) return;
        }
    }

    // The amplitude of the leaf just updated.
    std::complex<double> amplitude() const { return table_[0]; }

  private:
    int n_;
    std::vector<std::complex<double>> table_;
    std::vector<double> inverse_roots_;
};

}  // namespace Backend
