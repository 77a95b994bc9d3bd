#pragma once

#include <algorithm>
#include <complex>
#include <iterator>
#include <vector>

#include <Eigen/Core>

#include "backends/i_clifford_runner.h"
#include "runtime/matrix.h"
#include "states/code_buffer.h"
#include "states/fock_state.h"

namespace Backend {

// Precision tags of the runners.
struct SinglePrecision {
    using Real = float;
};
struct DoublePrecision {
    using Real = double;
};

// The largest photon count a runner samples: the last step takes the sub-permanents of an
// n x (n-1) matrix, and those stop at 63 columns.
inline constexpr int max_clifford_photons = 64;

// std::runtime_error when n exceeds max_clifford_photons, before anything is sized for them.
void check_clifford_photons(long long n);

// U_S: for each mode of the input in increasing order, one row per photon in it, equal to that
// mode's column of the unitary. std::runtime_error "Matrix/input state sizes mismatch" unless the
// unitary is square with the input's mode count.
Matrix prepared_matrix(Matrix const& unitary, FockState const& input);

// The state of m modes with one photon in each listed mode.
template <typename It>
FockState reconstructState(It first, It last, int m) {
    const auto n = static_cast<std::size_t>(std::distance(first, last));
    CodeBuffer_t<unsigned char, true> code(n);
    unsigned char* bytes = code.mutable_data();
    for (std::size_t j = 0; first != last; ++first, ++j)
        bytes[j] = static_cast<unsigned char>(*first);
    std::sort(bytes, bytes + n);
    return FockState(m, std::move(code));
}

// The Clifford & Clifford (2017) sampler on the CPU, in the precision P. Each sample takes the
// photons in a fresh random order (a shuffle of the rows of U_S) and draws their output modes one
// after the other: the weight of mode k for photon i is the squared modulus of the permanent of
// the first i rows of U_S on the modes already drawn and k, expanded along k's column, so that
// one pass of sub-permanents serves all m modes.
template <typename P>
class Clifford2017CPU final : public ICliffordRunner {
  public:
    using Real = typename P::Real;
    using Complex = std::complex<Real>;

    // Scratch space sized at preparation and reused by every sample.
    struct AllocatedResources {
        // Output mode drawn for each row of U_S.
        std::vector<int> sampled_modes;
        // The matrix of one step: rows 0 .. i-1 of U_S on the modes drawn so far, packed.
        std::vector<Complex> sub_matrix;
        std::vector<Complex> sub_permanents;
        // Unnormalised amplitudes of the next photon in each mode, then their weights.
        Eigen::Matrix<Complex, Eigen::Dynamic, 1> amplitudes;
        std::vector<double> weights;
        // Where each row of the prepared matrix goes in this sample's order.
        std::vector<int> row_index;

        void set_n(int n);
        void set_m(int m);
    };

    FockState sample() override;
    void generateSamplesLoop(std::atomic<std::uint32_t>& counter, RunnerOutput& out) override;
    void setUnitaryMatrix(Matrix const& unitary, FockState const& input) override;
    void setPreparedMatrix(Matrix const& us) override;

  private:
    void load(Matrix const& us);
    void shuffle_rows();
    int draw_mode();

    AllocatedResources resources_;
    // U_S as prepared, and in the row order of the current sample. Each order is drawn afresh
    // from the prepared one, so a sample depends on the engine's state alone and seeded runs
    // repeat.
    RowMatrix<Complex> prepared_;
    RowMatrix<Complex> us_;
    int m_ = 0;
    int n_ = 0;
};

extern template class Clifford2017CPU<SinglePrecision>;
extern template class Clifford2017CPU<DoublePrecision>;

}  // namespace Backend
