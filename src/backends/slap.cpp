#include "backends/slap.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <variant>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "backends/slap_computer.h"
#include "backends/slap_computer_unrolled.h"
#include "backends/slap_steiner_walker.h"
#include "backends/slap_walker.h"
#include "backends/slap_walker_filtered.h"
#include "backends/steiner_tables.h"
#include "fockspace/fs_array.h"
#include "runtime/combinatorics.h"
#include "runtime/config.h"
#include "runtime/interrupt_signal_handler.h"

namespace Backend {

namespace {

void check_unitary(Matrix const& u) {
    if (u.rows() != u.cols() || !is_unitary(u, config.unitary_check_precision))
        throw std::runtime_error("Matrix is not unitary");
}

void check_main_unitary(int m) {
    if (m == 0)
        throw std::runtime_error("The main unitary must be set before setting feed-forward");
}

// In 64 bits: a mode near the int limit plus a size must not wrap into the circuit.
void check_modes(long long first, long long size, int m) {
    if (first < 0)
        throw std::runtime_error(
            fmt::format("Feed-forward mode {} is outside the circuit of {} modes", first, m));
    if (first + size > m) throw std::runtime_error("Matrix is too big for the given circuit");
}

// Every block square and within a circuit of m modes, and the measured modes too: the walk reads
// their counts.
void check_configurator_modes(ConfiguratorMap const& cfg_map, int m) {
    auto check_block = [&](Matrix const& block) {
        if (block.rows() != block.cols())
            throw std::runtime_error("Matrix is too big for the given circuit");
        check_modes(cfg_map.first_configured_mode(), block.cols(), m);
    };
    check_block(cfg_map.default_unitary());
    for (auto const& [key, block] : cfg_map.cfg_map()) check_block(block);
    check_modes(
        cfg_map.first_measured_mode(),
        static_cast<long long>(cfg_map.last_measured_mode()) - cfg_map.first_measured_mode() + 1,
        m);
}

void check_entry_modes(FeedForwardEntry const& entry, int m) {
    if (auto const* fixed = std::get_if<FixedComponent>(&entry))
        check_modes(fixed->second, fixed->first.cols(), m);
    else
        check_configurator_modes(std::get<ConfiguratorMap>(entry), m);
}

// A block is chosen once the walk has placed every photon of the measured modes, and the rows
// the walk has used by then cannot change: the block must come after the measured modes.
void check_configurator_order(ConfiguratorMap const& cfg_map) {
    if (cfg_map.first_configured_mode() <= cfg_map.last_measured_mode())
        throw std::runtime_error(
            fmt::format("The first configured mode {} must come after the last measured mode {}",
                        cfg_map.first_configured_mode(), cfg_map.last_measured_mode()));
}

// The photons of measured modes are counted, gone: a later block acting on those modes would
// make rows the walk has already used depend on a block chosen after them.
void check_measured_modes_untouched(std::vector<FeedForwardEntry> const& entries, int first,
                                    Eigen::Index size) {
    if (size == 0) return;
    const long long last = first + static_cast<long long>(size) - 1;
    for (auto const& entry : entries)
        if (auto const* earlier = std::get_if<ConfiguratorMap>(&entry))
            if (first <= earlier->last_measured_mode() && last >= earlier->first_measured_mode())
                throw std::runtime_error(fmt::format(
                    "The block on modes {} to {} acts on modes {} to {}, measured by an earlier "
                    "configurator",
                    first, last, earlier->first_measured_mode(), earlier->last_measured_mode()));
}

Eigen::Index widest_block(ConfiguratorMap const& cfg_map) {
    Eigen::Index size = cfg_map.default_unitary().cols();
    for (auto const& [key, block] : cfg_map.cfg_map()) size = std::max(size, block.cols());
    return size;
}

// Blocks that are not unitary would make the walk's squared amplitudes no probabilities.
void check_configurator_unitaries(ConfiguratorMap const& cfg_map) {
    const double precision = config.unitary_check_precision;
    if (!is_unitary(cfg_map.default_unitary(), precision))
        throw std::runtime_error("Matrix is not unitary: the configurator's default unitary");
    for (auto const& [key, block] : cfg_map.cfg_map())
        if (!is_unitary(block, precision))
            throw std::runtime_error(fmt::format(
                "Matrix is not unitary: the configurator's unitary for the measure ({})",
                fmt::join(key, ", ")));
}

}  // namespace

Matrix repeatColumns(Matrix const& u, FockState const& input_state) {
    Matrix r(u.rows(), input_state.n());
    Eigen::Index j = 0;
    for (int mode = 0; mode < u.cols(); ++mode)
        for (int k = input_state[mode]; k > 0; --k) r.col(j++) = u.col(mode);
    return r;
}

std::shared_ptr<IProbBackend> SLAP::clone() const {
    return std::make_shared<SLAP>(*this);
}

void SLAP::setUnitary(Matrix unitary) {
    check_finite(unitary);
    check_unitary(unitary);
    for (auto const& entry : ff_entries_)
        check_entry_modes(entry, static_cast<int>(unitary.cols()));
    unitary_ = std::move(unitary);
    m_ = static_cast<int>(unitary_.cols());
    amplitudes_.clear();
}

void SLAP::setInputState(FockState const& input_state) {
    if (input_state == input_state_) return;
    input_state_ = input_state;
    n_ = input_state_.n();
    amplitudes_.clear();
}

void SLAP::setMask(std::optional<FsMask> mask) {
    if (mask == mask_) return;
    mask_ = std::move(mask);
    amplitudes_.clear();
}

void SLAP::setSteiner(bool steiner) {
    steiner_ = steiner;
}

void SLAP::resetFfMap() {
    ff_entries_.clear();
    amplitudes_.clear();
}

void SLAP::addFfMap(ConfiguratorMap const& cfg_map) {
    check_main_unitary(m_);
    check_configurator_modes(cfg_map, m_);
    check_configurator_order(cfg_map);
    check_measured_modes_untouched(ff_entries_, cfg_map.first_configured_mode(),
                                   widest_block(cfg_map));
    check_configurator_unitaries(cfg_map);
    ff_entries_.emplace_back(cfg_map);
    amplitudes_.clear();
}

void SLAP::addFfUnitary(FixedComponent const& component) {
    check_main_unitary(m_);
    check_unitary(component.first);
    check_modes(component.second, component.first.cols(), m_);
    check_measured_modes_untouched(ff_entries_, component.second, component.first.cols());
    ff_entries_.emplace_back(component);
    amplitudes_.clear();
}

std::vector<FockState> SLAP::getFockSpace() {
    if (n_ == 0) return {FockState(m_)};
    const FsArray states(m_, n_, mask_);
    std::vector<FockState> space;
    space.reserve(states.count());
    InterruptSignalHandler::Poll poll;
    for (auto it = states.begin(); it != states.end(); ++it) {
        poll();
        space.push_back(*it);
    }
    return space;
}

std::vector<std::complex<double>> const& SLAP::getAmplitudes() {
    if (amplitudes_.empty()) compute();
    return amplitudes_;
}

std::vector<double> SLAP::computeProbabilities() {
    if (amplitudes_.empty()) compute();
    std::vector<double> probabilities;
    probabilities.reserve(amplitudes_.size());
    for (auto const& a : amplitudes_) probabilities.push_back(std::norm(a));
    return probabilities;
}

FockSpaceFunction SLAP::computeProbabilityDistribution() {
    const std::vector<double> probabilities = computeProbabilities();
    if (n_ == 0) return FockSpaceFunction(FockState(m_), probabilities[0]);
    // The threshold below 0 keeps the states of probability 0.
    return FockSpaceFunction(FsArray(m_, n_, mask_), probabilities, -1.0);
}

void SLAP::compute() {
    amplitudes_.clear();
    // The input's modes are the unitary's columns, the vacuum's too, as for every back-end.
    if (input_state_.m() != m_)
        throw std::runtime_error(fmt::format(
            "Matrix/input state sizes mismatch: {} input modes for a unitary of {} modes",
            input_state_.m(), m_));
    if (n_ == 0) {
        amplitudes_.assign(1, 1.0);
        return;
    }
    // The table of 2^n coefficients must be addressable.
    if (n_ > max_photons)
        throw std::runtime_error(
            fmt::format("SLAP computes up to {} photons, not {}", max_photons, n_));
    try {
        if (mask_) {
            // The masked space may be a small part of the full one: grown as leaves come.
            walk<SLAPWalkerFiltered>();
        } else {
            const auto size =
                MathUtils::comb(static_cast<unsigned>(n_ + m_ - 1), static_cast<unsigned>(n_));
            if (static_cast<unsigned long long>(size) > amplitudes_.max_size())
                throw std::length_error(fmt::format("{} output states do not fit in memory", size));
            amplitudes_.resize(static_cast<std::size_t>(size));
            if (steiner_ && ff_entries_.empty() && isSteinerCompatible(n_))
                walk<SLAPSteinerWalker>();
            else
                walk<SLAPWalkerNaive>();
        }
    } catch (...) {
        amplitudes_.clear();
        throw;
    }
}

template <typename Walker>
void SLAP::walk() {
    // Up to 4 photons a node's update is a few straight-line terms.
    if (n_ <= unrolled_photons)
        walkTree<Walker, SLAPComputer_unrolled>();
    else
        walkTree<Walker, SLAPComputer>();
}

template <typename Walker, typename Computer>
void SLAP::walkTree() {
    static_assert(SLAPWalker<Walker>);
    UnitaryProvider provider(repeatColumns(unitary_, input_state_), ff_entries_);
    const bool feed_forward = provider.has_configurators();
    Computer computer(n_);
    computer.start(input_state_.prodnfact());
    Walker walker(m_, n_, mask_);
    const bool grow = amplitudes_.empty();
    // A node near the root updates up to 2^n coefficients: polled every few hundred nodes.
    InterruptSignalHandler::Poll poll(256);
    while (!walker.complete()) {
        poll();
        const int mode = walker.getMode();
        std::vector<int> const& state = walker.getState();
        if (feed_forward) provider.update_unitary(state, mode);
        computer.update(provider.current().row(mode).data(), state[static_cast<std::size_t>(mode)],
                        walker.getDegree());
        if (walker.isOnLeaf()) {
            const std::size_t index = walker.getResultIndex();
            if (grow && index >= amplitudes_.size()) amplitudes_.resize(index + 1);
            amplitudes_[index] = computer.amplitude();
        }
        walker.computeNextNode();
    }
    amplitudes_.resize(walker.getFinalSize());
    if (grow) amplitudes_.shrink_to_fit();
}

}  // namespace Backend
