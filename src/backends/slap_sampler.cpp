#include "backends/slap_sampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <random>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "backends/fock_state_indexing.h"
#include "backends/slap.h"
#include "backends/slap_computer.h"
#include "backends/slap_computer_unrolled.h"
#include "backends/walker_sampler.h"
#include "runtime/combinatorics.h"
#include "runtime/config.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/rng.h"

namespace Backend {

namespace {

// The draws are the ones a seed is known to reproduce: a distribution built for each, also where
// the outcome is certain, so that every draw takes from the engine what it always did.
// Probabilities that rounding puts outside [0, 1] are brought back; 0 / 0 (what is left of a
// total that rounding has used up) counts as 0.
int draw_binomial(int trials, double p) {
    p = p > 0 ? std::min(p, 1.0) : 0.0;
    return std::binomial_distribution<int>(trials, p)(RNG::rng);
}

}  // namespace

void SLAPSampler::setUnitary(Matrix unitary) {
    check_finite(unitary);
    if (unitary.rows() != unitary.cols() || !is_unitary(unitary, config.unitary_check_precision))
        throw std::runtime_error("Matrix is not unitary");
    unitary_ = std::move(unitary);
    m_ = static_cast<int>(unitary_.cols());
}

void SLAPSampler::setInputState(FockState input_state) {
    input_state_ = std::move(input_state);
    n_ = input_state_.n();
}

std::vector<int> const& SLAPSampler::generateSamples(FockState const& input_state, int count) {
    if (count < 0)
        throw std::invalid_argument(
            fmt::format("The number of samples must be at least 0, not {}", count));
    if (m_ == 0) throw std::runtime_error("The unitary must be set before sampling");
    if (input_state.m() != m_)
        throw std::runtime_error(fmt::format(
            "Matrix/input state sizes mismatch: {} input modes for a unitary of {} modes",
            input_state.m(), m_));
    if (input_state.n() > max_photons)
        throw std::runtime_error(fmt::format("SLAPSampler draws up to {} photons, not {}",
                                             max_photons, input_state.n()));
    const auto size = MathUtils::comb(static_cast<unsigned>(input_state.n() + m_ - 1),
                                      static_cast<unsigned>(input_state.n()));
    if (static_cast<unsigned long long>(size) > counts_.max_size())
        throw std::length_error(fmt::format("{} output states do not fit in memory", size));

    setInputState(input_state);
    sample_count_ = count;
    // Zeroed a block at a time: billions of outputs take seconds to clear.
    counts_.clear();
    counts_.reserve(static_cast<std::size_t>(size));
    InterruptSignalHandler::Poll poll(1);
    for (std::size_t left = static_cast<std::size_t>(size); left > 0;) {
        poll();
        const std::size_t block = std::min<std::size_t>(left, std::size_t{1} << 20);
        counts_.insert(counts_.end(), block, 0);
        left -= block;
    }
    if (n_ == 0) {
        counts_[0] = sample_count_;
        return counts_;
    }
    if (n_ <= SLAP::unrolled_photons)
        walkTree<SLAPComputer_unrolled>();
    else
        walkTree<SLAPComputer>();
    return counts_;
}

template <typename Computer>
void SLAPSampler::walkTree() {
    const std::vector<long long> combinations = prepareCombinations(m_, n_);
    const std::size_t stride = std::size_t{1} << n_;
    branch_counts_.assign(static_cast<std::size_t>(m_) * stride, 0);
    branch_counts_[stride - 1] = sample_count_;
    level_counts_.assign(static_cast<std::size_t>(n_) * static_cast<std::size_t>(m_), 0);
    mode_weights_.assign(static_cast<std::size_t>(m_), 0.0);
    const Matrix r = repeatColumns(unitary_, input_state_);
    Computer computer(n_);
    computer.start(input_state_.prodnfact());

    dispatchSamples(n_, 0, computer.table(), r);
    std::vector<int> state(static_cast<std::size_t>(m_), 0);
    if (n_ == 1) {
        collect(state, combinations);
        return;
    }
    WalkerSampler walker(m_, n_, level_counts_);
    InterruptSignalHandler::Poll poll(256);
    while (!walker.complete()) {
        poll();
        if (!walker.flag()) {
            const int mode = walker.getMode();
            const int degree = walker.getDegree();
            computer.update(r.row(mode).data(), walker.getState()[static_cast<std::size_t>(mode)],
                            degree);
            dispatchSamples(n_ - degree, mode, computer.table(), r);
        }
        if (walker.isOnLeaf()) {
            state = walker.getState();
            collect(state, combinations);
        }
        walker.computeNextNode();
    }
}

void SLAPSampler::collect(std::vector<int>& state, std::vector<long long> const& combinations) {
    for (int i = 0; i < m_; ++i) {
        int& branch = branch_counts_[static_cast<std::size_t>(i) << n_];
        if (branch == 0) continue;
        ++state[static_cast<std::size_t>(i)];
        counts_[static_cast<std::size_t>(getIndexFromFockState(state, n_, combinations))] += branch;
        --state[static_cast<std::size_t>(i)];
        branch = 0;
    }
}

void SLAPSampler::dispatchSamples(int k, int mode, std::vector<std::complex<double>> const& c,
                                  Matrix const& r) {
    const int t = n_ - k;
    std::fill_n(level_counts_.begin() + static_cast<std::ptrdiff_t>(t) * m_, m_, 0);
    const unsigned full = (1u << n_) - 1;
    const std::size_t base = static_cast<std::size_t>(mode) << n_;
    for (unsigned subset = (1u << k) - 1; subset <= full && subset != 0;) {
        int& branch = branch_counts_[base + subset];
        int left = branch;
        branch = 0;
        // Each photon of the subset equally likely: 1/k of the samples, then (1/k) / (1 - 1/k) of
        // the rest, and so on; the running q keeps the rounding a seed has always given.
        const double share = 1.0 / k;
        double q = 1.0;
        for (unsigned photons = subset; left > 0 && photons != 0; photons &= photons - 1) {
            const int j = std::countr_zero(photons);
            int v = left;
            if ((photons & (photons - 1)) != 0) {
                v = draw_binomial(left, share / q);
                q -= share;
            }
            left -= v;
            if (v > 0) sendToModes(v, subset & ~(1u << j), t, c, r);
        }
        // The next subset with as many photons.
        const unsigned s = subset | (subset - 1);
        subset = (s + 1) | (((~s & (s + 1)) - 1) >> (std::countr_zero(subset) + 1));
    }
}

void SLAPSampler::sendToModes(int v, unsigned rest, int t,
                              std::vector<std::complex<double>> const& c, Matrix const& r) {
    // The weight of mode i is |coefficient the child i would hold for `rest`|^2; the node's own
    // normalisation is common to all i.
    double total = 0;
    int last = -1;
    for (int i = 0; i < m_; ++i) {
        std::complex<double> a = 0;
        for (unsigned free = ~rest & ((1u << n_) - 1); free != 0; free &= free - 1) {
            const int p = std::countr_zero(free);
            a += r(i, p) * c[rest | (1u << p)];
        }
        const double w = std::norm(a);
        mode_weights_[static_cast<std::size_t>(i)] = w;
        total += w;
        if (w > 0) last = i;
    }
    // Weights all 0 (a branch reached by rounding alone): any mode keeps the count whole.
    if (last < 0 || !std::isfinite(total)) {
        std::fill(mode_weights_.begin(), mode_weights_.end(), 1.0);
        total = m_;
        last = m_ - 1;
    }
    const std::size_t child_level = static_cast<std::size_t>(t) * static_cast<std::size_t>(m_);
    auto send = [&](int i, int g) {
        branch_counts_[(static_cast<std::size_t>(i) << n_) + rest] += g;
        level_counts_[child_level + static_cast<std::size_t>(i)] += g;
    };
    if (m_ < v) {
        // A draw for every mode but the last, even with no sample left. The rest goes to the last
        // mode, or, if rounding left samples past the last weighted one, to that one.
        for (int i = 0; i + 1 < m_; ++i) {
            const double w = mode_weights_[static_cast<std::size_t>(i)];
            const int g = draw_binomial(v, w / total);
            send(i, g);
            v -= g;
            total -= w;
        }
        send(mode_weights_[static_cast<std::size_t>(m_ - 1)] > 0 ? m_ - 1 : last, v);
    } else {
        std::discrete_distribution<int> modes(mode_weights_.begin(), mode_weights_.end());
        for (; v > 0; --v) send(modes(RNG::rng), 1);
    }
}

}  // namespace Backend
