#pragma once

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
    // What one update needs, for the kernels.
    struct Step {
        const double* row;  // n complex values, as pairs of doubles
        double* table;      // 2^n complex values
        int n;
        int d;
        double scale;
    };

    // n is at most 30: the table holds 2^n entries.
    explicit SLAPComputer(int n);

    // Every photon still to place, weighted by 1 / sqrt(product of the input's factorials).
    void start(double input_factorials);

    // A node of degree d whose last photon went to a mode that now holds k photons; row[j] is the
    // amplitude of input photon j reaching that mode. d * C(n, d) complex multiply-adds.
    void update(std::complex<double> const* row, int k, int d) {
        kernel_(Step{reinterpret_cast<const double*>(row), reinterpret_cast<double*>(table_.data()),
                     n_, d, inverse_roots_[static_cast<std::size_t>(k)]});
    }

    // The amplitude of the leaf just updated.
    std::complex<double> amplitude() const { return table_[0]; }
    std::vector<std::complex<double>> const& table() const { return table_; }

  private:
    int n_;
    std::vector<std::complex<double>> table_;
    std::vector<double> inverse_roots_;
    // The update compiled for the widest instruction set available.
    void (*kernel_)(Step const&);
};

}  // namespace Backend
