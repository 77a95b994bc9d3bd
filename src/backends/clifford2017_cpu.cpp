#include "backends/clifford2017_cpu.h"

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"
#include "runtime/sub_permanents.h"

namespace Backend {

void check_clifford_photons(long long n) {
    if (n > max_clifford_photons)
        throw std::runtime_error(fmt::format("Cannot sample {} photons: at most {} are supported",
                                             n, max_clifford_photons));
}

Matrix prepared_matrix(Matrix const& unitary, FockState const& input) {
    if (unitary.rows() != input.m() || unitary.cols() != unitary.rows())
        throw std::runtime_error("Matrix/input state sizes mismatch");
    check_clifford_photons(input.n());
    Matrix us(input.n(), input.m());
    const unsigned char* modes = input.data();
    for (int j = 0; j < input.n(); ++j) us.row(j) = unitary.col(modes[j]).transpose();
    return us;
}

namespace {

template <typename Real>
double squared_modulus(std::complex<Real> const& x) {
    // Widened first: in single precision the squares of a large sample's amplitudes underflow.
    const double re = x.real();
    const double im = x.imag();
    return re * re + im * im;
}

}  // namespace

template <typename P>
void Clifford2017CPU<P>::AllocatedResources::set_n(int n) {
    const auto size = static_cast<std::size_t>(n);
    sampled_modes.resize(size);
    sub_matrix.resize(n > 1 ? size * (size - 1) : 0);
    sub_permanents.resize(size);
    row_index.resize(size);
}

template <typename P>
void Clifford2017CPU<P>::AllocatedResources::set_m(int m) {
    amplitudes.resize(m);
    weights.resize(static_cast<std::size_t>(m));
}

template <typename P>
void Clifford2017CPU<P>::load(Matrix const& us) {
    check_clifford_photons(us.rows());
    if (us.cols() > FockState::max_modes)
        throw std::runtime_error(
            fmt::format("Fock state size is capped from 0 to {} modes", FockState::max_modes));
    m_ = static_cast<int>(us.cols());
    n_ = static_cast<int>(us.rows());
    resources_.set_m(m_);
    resources_.set_n(n_);
    prepared_ = us.template cast<Complex>();
    us_ = prepared_;
}

template <typename P>
void Clifford2017CPU<P>::setPreparedMatrix(Matrix const& us) {
    load(us);
}

template <typename P>
void Clifford2017CPU<P>::setUnitaryMatrix(Matrix const& unitary, FockState const& input) {
    load(prepared_matrix(unitary, input));
}

template <typename P>
void Clifford2017CPU<P>::shuffle_rows() {
    auto& index = resources_.row_index;
    std::iota(index.begin(), index.end(), 0);
    std::shuffle(index.begin(), index.end(), RNG::rng);
    for (int r = 0; r < n_; ++r) us_.row(index[r]) = prepared_.row(r);
}

// The draw of std::discrete_distribution<int> (weights normalised by their sum, cumulated, the
// last set to 1, then the first not below one canonical double), on the runner's own storage
// instead of a distribution built, and allocated, for every photon.
template <typename P>
int Clifford2017CPU<P>::draw_mode() {
    auto& w = resources_.weights;
    if (w.size() < 2) return 0;
    const double sum = std::accumulate(w.begin(), w.end(), 0.0);
    if (!(sum > 0) || !std::isfinite(sum))
        throw std::runtime_error(
            "Clifford2017: the mode weights of a photon do not sum to a number");
    for (double& x : w) x /= sum;
    std::partial_sum(w.begin(), w.end(), w.begin());
    w.back() = 1.0;
    const double u = std::generate_canonical<double, std::numeric_limits<double>::digits>(RNG::rng);
    return static_cast<int>(std::lower_bound(w.begin(), w.end(), u) - w.begin());
}

template <typename P>
FockState Clifford2017CPU<P>::sample() {
    if (n_ == 0) return FockState(m_);
    shuffle_rows();
    auto& r = resources_;
    for (int k = 0; k < m_; ++k) r.weights[k] = squared_modulus(us_(0, k));
    r.sampled_modes[0] = draw_mode();
    for (int i = 2; i <= n_; ++i) {
        const int columns = i - 1;
        Complex* b = r.sub_matrix.data();
        for (int j = 0; j < i; ++j)
            for (int c = 0; c < columns; ++c) b[j * columns + c] = us_(j, r.sampled_modes[c]);
        sub_permanents<Complex>(b, columns, r.sub_permanents.data());
        const Eigen::Map<const Eigen::Matrix<Complex, Eigen::Dynamic, 1>> s(r.sub_permanents.data(),
                                                                            i);
        // Amplitude k is the permanent of the step's matrix with mode k's column added, expanded
        // along that column.
        r.amplitudes.noalias() = us_.topRows(i).transpose() * s;
        for (int k = 0; k < m_; ++k) r.weights[k] = squared_modulus(r.amplitudes[k]);
        r.sampled_modes[i - 1] = draw_mode();
    }
    return reconstructState(r.sampled_modes.begin(), r.sampled_modes.end(), m_);
}

template <typename P>
void Clifford2017CPU<P>::generateSamplesLoop(std::atomic<std::uint32_t>& counter,
                                             RunnerOutput& out) {
    for (;;) {
        std::uint32_t left = counter.load();
        do {
            if (left == 0 || InterruptSignalHandler::is_interrupted()) return;
        } while (!counter.compare_exchange_weak(left, left - 1));
        out.states.push_back(sample());
        out.finished.fetch_add(1);
    }
}

template class Clifford2017CPU<SinglePrecision>;
template class Clifford2017CPU<DoublePrecision>;

}  // namespace Backend
