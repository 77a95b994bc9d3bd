#include "simulators/source.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "fockspace/product_kernels.h"
#include "runtime/background_release.h"
#include "runtime/interrupt_signal_handler.h"
#include "runtime/memory_limit.h"
#include "states/basic_state.h"
#include "states/noisy_fock_state.h"
#include "states/state_vector.h"

namespace {

using Code = FockState::code_t;
using Tags = std::vector<unsigned char>;

// The one-mode state of n photons, built on its code so that n is bounded by the code alone.
FockState one_mode_state(std::size_t n) {
    Code code(n);
    std::fill_n(code.mutable_data(), n, 0);
    return FockState(1, std::move(code));
}

// log(0!) .. log(n!): the multinomial weights stay finite for any photon count.
std::vector<double> log_factorials(int n) {
    std::vector<double> lf(static_cast<std::size_t>(n) + 1, 0.0);
    for (int k = 2; k <= n; ++k)
        lf[static_cast<std::size_t>(k)] = lf[static_cast<std::size_t>(k) - 1] + std::log(k);
    return lf;
}

// log(p^k), 0 for k = 0 whatever p.
double log_power(double p, int k) {
    return k == 0 ? 0.0 : k * std::log(p);
}

// How many events the nested loops can visit, capped: the vectors grow past it as they fill.
std::size_t reserved_events(int n, int depth) {
    double count = 1.0;
    for (int k = 1; k <= depth; ++k) count = count * (n + k) / k;
    return static_cast<std::size_t>(std::min(count, double(1 << 20)));
}

// How many events the nested loops of a table keep for n expected positions: splits of the
// positions over the kinds of one photon (`singles` of them with a non-zero probability, at most
// two) and of two photons (`pairs`, at most two), the rest empty (none when `no_empty`), with at
// least `filter` photons.
double table_events(int n, int singles, int pairs, bool no_empty, int filter) {
    // Ways to spread s positions over k kinds: 1 for one kind, s + 1 for two.
    const auto ways = [](double s, int kinds) {
        return kinds == 0 ? (s == 0 ? 1.0 : 0.0) : kinds == 1 ? 1.0 : s + 1.0;
    };
    double count = 0.0;
    for (int s1 = 0; s1 <= n; ++s1) {
        const double w1 = ways(s1, singles);
        if (w1 == 0.0) continue;
        // The pair positions s2 run over [lo, hi]; their ways summed in closed form.
        double lo = std::max(0.0, std::ceil((filter - s1) / 2.0));
        const double hi = n - s1;
        if (no_empty) lo = std::max(lo, hi);
        if (pairs == 0) lo = std::max(lo, 0.0);
        const double top = pairs == 0 ? 0.0 : hi;
        if (lo > top) continue;
        const double w2 = pairs == 0   ? 1.0
                          : pairs == 1 ? top - lo + 1
                                       : (top - lo + 1) * (lo + top + 2) / 2;
        count += w1 * w2;
    }
    return count;
}

}  // namespace

Source::Source(double emission_probability, double multiphoton_component,
               double indistinguishability, double losses, bool g2_distinguishable)
    : emission_probability_(emission_probability),
      multiphoton_component_(multiphoton_component),
      indistinguishability_(indistinguishability),
      losses_(losses),
      g2_distinguishable_(g2_distinguishable) {
    // Written as "not inside" so that NaN fails them too.
    const double e = emission_probability, g = multiphoton_component;
    if (!(e > 0.0 && e <= 1.0))
        throw std::invalid_argument("emission_probability must be in (0;1]");
    if (!(g >= 0.0 && g <= 1.0))
        throw std::invalid_argument("multiphoton_component must be in [0,1]");
    if (e * g > 0.5)
        throw std::invalid_argument(
            "emission_probability * g2 higher than 0.5 can not be computed");
    if (!(indistinguishability >= 0.0 && indistinguishability <= 1.0))
        throw std::invalid_argument("indistinguishability must be in [0,1]");
    if (!(losses >= 0.0 && losses < 1.0)) throw std::invalid_argument("losses must be in [0,1)");

    // p2 is the smaller root of g = 2·p2 / (p1 + 2·p2)² with p1 + p2 = e.
    const double p2 = g > 0.0 ? (1.0 - e * g - std::sqrt(1.0 - 2.0 * e * g)) / g : 0.0;
    const double p1 = e - p2;
    const double t = 1.0 - losses;
    prob_two_photons_ = t * t * p2;
    prob_noise_photon_ = (1.0 - t) * t * p2;
    prob_signal_photon_ = t * p1 + (1.0 - t) * t * p2;
    prob_no_photon_ = 1.0 - (prob_noise_photon_ + prob_signal_photon_ + prob_two_photons_);
    prob_distinguishable_ = 1.0 - std::sqrt(indistinguishability);
}

bool Source::operator==(Source const& other) const {
    return emission_probability_ == other.emission_probability_ &&
           multiphoton_component_ == other.multiphoton_component_ &&
           indistinguishability_ == other.indistinguishability_ && losses_ == other.losses_ &&
           g2_distinguishable_ == other.g2_distinguishable_;
}

bool Source::is_partially_distinguishable() const {
    return indistinguishability_ != 1.0 || (g2_distinguishable_ && multiphoton_component_ > 0.0);
}

bool Source::is_perfect() const {
    return emission_probability_ == 1.0 && multiphoton_component_ == 0.0 &&
           indistinguishability_ == 1.0 && losses_ == 0.0;
}

void Source::insert_state(StateVectorDistribution& d, std::vector<unsigned char> tags, double p,
                          double threshold) {
    if (!(p > threshold)) return;
    Code::check_size(tags.size());
    NoisyFockState state(one_mode_state(tags.size()), tags, true);
    d.set(StateVector(BasicState(std::move(state))), p);
}

void Source::insert_state(StateVectorDistribution& d, int photons, double p, double threshold) {
    if (!(p > threshold)) return;
    d.set(StateVector(BasicState(one_mode_state(static_cast<std::size_t>(photons)))), p);
}

StateVectorDistribution Source::_generate_one_photon_distribution(double prob_threshold,
                                                                  std::uint8_t& tag_counter) const {
    StateVectorDistribution d;
    insert_state(d, 0, prob_no_photon_, prob_threshold);
    if (!is_partially_distinguishable()) {
        insert_state(d, 1, prob_signal_photon_ + prob_noise_photon_, prob_threshold);
        insert_state(d, 2, prob_two_photons_, prob_threshold);
        return d;
    }

    // Refused rather than wrapped: a wrapped tag would make two distinguishable photons
    // interfere.
    const int used = g2_distinguishable_ ? 2 : 1;
    if (tag_counter + used > 255) throw_too_many_noise_tags();
    const auto b = static_cast<unsigned char>(tag_counter + 1);
    const auto a = static_cast<unsigned char>(tag_counter + 2);
    tag_counter = static_cast<std::uint8_t>(tag_counter + used);

    const double x = prob_distinguishable_, ps = prob_signal_photon_, pn = prob_noise_photon_,
                 p2 = prob_two_photons_;
    if (g2_distinguishable_) {
        insert_state(d, Tags{b}, x * ps + pn, prob_threshold);
        insert_state(d, Tags{0}, (1 - x) * ps, prob_threshold);
        insert_state(d, Tags{0, a}, (1 - x) * p2, prob_threshold);
        insert_state(d, Tags{b, a}, x * p2, prob_threshold);
    } else {
        insert_state(d, Tags{b}, x * ps, prob_threshold);
        insert_state(d, Tags{0}, (1 - x) * ps + pn, prob_threshold);
        insert_state(d, Tags{0, 0}, (1 - x) * p2, prob_threshold);
        insert_state(d, Tags{0, b}, x * p2, prob_threshold);
    }
    return d;
}

StateVectorDistribution Source::probability_distribution(int n, double prob_threshold,
                                                         std::uint8_t& tag_counter) const {
    if (n == 0 || is_perfect())
        return StateVectorDistribution(
            StateVector(BasicState(one_mode_state(static_cast<std::size_t>(n)))));
    if (n == 1) return _generate_one_photon_distribution(prob_threshold, tag_counter);

    std::vector<StateVectorDistribution> photons;
    photons.reserve(static_cast<std::size_t>(n));
    StateVectorDistribution result;
    for (int i = 0; i < n; ++i) {
        photons.push_back(_generate_one_photon_distribution(prob_threshold, tag_counter));
        result.n_max() += photons.back().n_max();
    }
    // The seed is the one-mode vacuum even when the threshold emptied a photon's distribution:
    // the merge then keeps nothing.
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(result.map());
        MathUtils::inner_merge(photons, result.map(), StateVector(BasicState(FockState(1))), 1.0,
                               prob_threshold);
    }
    return result;
}

void Source::check_distribution_fits(FockState const& expected_input, double threshold) const {
    // A positive threshold may prune any share of the mixture: only an uncut one is weighed.
    if (threshold > 0.0 || is_perfect()) return;
    // Each entry is a node of the distribution's map holding a one-term state vector, whose own
    // map holds a node and its buckets; noisy states keep their tags apart.
    const int photons = expected_input.n();
    const double entry_bytes =
        sizeof(std::pair<const StateVector, double>) + 2 * sizeof(void*) + 64.0 +
        sizeof(std::pair<const BasicState, std::complex<double>>) + 2 * sizeof(void*) +
        (is_partially_distinguishable() ? 32.0 : 0.0) +
        static_cast<double>(FockState::code_t::heap_bytes(static_cast<std::size_t>(photons)));
    // Each photon multiplies the entries by at most 5 (its outcomes alone, or the tag sets of a
    // mode of several): below the bound the exact count would cost more than the mixture itself.
    if (std::pow(5.0, photons) * entry_bytes <= MemoryLimit::unchecked_bytes) return;
    std::uint8_t scratch = 0;
    const auto one_photon =
        static_cast<double>(_generate_one_photon_distribution(threshold, scratch).size());
    // The entries of a mode of several photons differ at least by the tags their photons carry
    // apart from the common group's 0: none, b (a distinguishable photon) or, with
    // distinguishable additional photons, a and both.
    const double x = prob_distinguishable_, ps = prob_signal_photon_, pn = prob_noise_photon_,
                 p2 = prob_two_photons_, p0 = prob_no_photon_;
    const auto kept = [threshold](double p) { return p > threshold; };
    int tag_sets = 1;
    if (is_partially_distinguishable()) {
        const bool none = kept(p0) || kept((1 - x) * ps + (g2_distinguishable_ ? 0.0 : pn)) ||
                          (!g2_distinguishable_ && kept((1 - x) * p2));
        tag_sets = g2_distinguishable_
                       ? none + kept(x * ps + pn) + kept((1 - x) * p2) + kept(x * p2)
                       : none + (kept(x * ps) || kept(x * p2));
        tag_sets = std::max(tag_sets, 1);
    }
    double entries = 1.0;
    for (int n : expected_input.to_vect()) {
        if (n == 1) entries *= one_photon;
        if (n >= 2) entries *= std::pow(static_cast<double>(tag_sets), n);
    }
    MemoryLimit::check_fits(entries * entry_bytes,
                            fmt::format("The {:.3g} states of the source's mixture", entries));
}

StateVectorDistribution Source::generate_distribution(FockState const& expected_input,
                                                      double prob_threshold) const {
    check_distribution_fits(expected_input, prob_threshold);
    std::uint8_t tag_counter = 0;
    std::vector<StateVectorDistribution> modes;
    modes.reserve(static_cast<std::size_t>(expected_input.m()));
    for (int n : expected_input.to_vect())
        modes.push_back(probability_distribution(n, prob_threshold, tag_counter));
    StateVectorDistribution result = tensor_product(modes, prob_threshold);
    result.normalize();
    return result;
}

SamplerProbTable Source::_compute_sampler_prob_table(int n, int min_photons_filter) const {
    const double ps = prob_signal_photon_, pn = prob_noise_photon_, p2 = prob_two_photons_,
                 p0 = prob_no_photon_;
    const std::vector<double> lf = log_factorials(n);
    const auto log_fact = [&](int k) { return lf[static_cast<std::size_t>(k)]; };

    // Each event keeps its counts, its log-weight, its weight and the distribution's two values.
    const double event_bytes = sizeof(SourceSampler::Event) + 4.0 * sizeof(double);
    const double events =
        table_events(n, (ps > 0) + (pn > 0), p2 > 0, !(p0 > 0), min_photons_filter);
    MemoryLimit::check_fits(events * event_bytes,
                            fmt::format("The {:.3g} events of the sampler's table", events));

    SamplerProbTable table;
    std::vector<double> log_weights;
    table.events.reserve(reserved_events(n, 3));
    log_weights.reserve(table.events.capacity());
    InterruptSignalHandler::Poll poll;
    for (int a = 0; a <= (ps > 0 ? n : 0); ++a)
        for (int b = 0; b <= (pn > 0 ? n - a : 0); ++b)
            for (int c = 0; c <= (p2 > 0 ? n - a - b : 0); ++c) {
                poll();
                const int d = n - a - b - c;
                if (a + b + 2 * c < min_photons_filter || (p0 <= 0 && d != 0)) continue;
                table.events.push_back({a, b, c});
                log_weights.push_back(log_fact(n) - log_fact(a) - log_fact(b) - log_fact(c) -
                                      log_fact(d) + log_power(ps, a) + log_power(pn, b) +
                                      log_power(p2, c) + log_power(p0, d));
            }

    // Relative to the largest, the weights cannot all underflow.
    const double largest =
        log_weights.empty() ? 0.0 : *std::max_element(log_weights.begin(), log_weights.end());
    std::vector<double> weights;
    weights.reserve(log_weights.size());
    for (double w : log_weights) {
        table.physical_perf += std::exp(w);
        weights.push_back(std::exp(w - largest));
    }
    table.event_distribution = std::discrete_distribution<int>(weights.begin(), weights.end());
    table.zpp = std::pow(p0, n);
    table.min_photons_filter = min_photons_filter;
    return table;
}

IteratorProbTable Source::_compute_iterator_prob_table(int n, int min_photons_filter) const {
    const double x = prob_distinguishable_, ps = prob_signal_photon_, pn = prob_noise_photon_,
                 p2 = prob_two_photons_, p0 = prob_no_photon_;
    const double q0 = (1 - x) * ps + (g2_distinguishable_ ? 0.0 : pn);
    const double q1 = x * ps + (g2_distinguishable_ ? pn : 0.0);
    const double q2 = (1 - x) * p2;
    const double q3 = x * p2;
    const std::vector<double> lf = log_factorials(n);
    const auto log_fact = [&](int k) { return lf[static_cast<std::size_t>(k)]; };

    // Events of at most one photon in the common group are merged: at most 3 (n + 1)^2 of them.
    const double event_bytes = sizeof(IteratorEvent) + sizeof(double);
    const double merged = 3.0 * (n + 1.0) * (n + 1.0);
    const double events = std::max(0.0, table_events(n, (q0 > 0) + (q1 > 0), (q2 > 0) + (q3 > 0),
                                                     !(p0 > 0), min_photons_filter) -
                                            merged);
    MemoryLimit::check_fits(events * event_bytes,
                            fmt::format("The {:.3g} events of the iterator's table", events));

    IteratorProbTable table;
    table.events.reserve(reserved_events(n, 4));
    table.probabilities.reserve(table.events.capacity());
    // Events with at most one photon in the common group give the same group lists as the
    // all-distinguishable event they are rewritten to; each stands for `factor` arrangements of it.
    std::map<IteratorEvent, double> rewritten;
    InterruptSignalHandler::Poll poll;
    for (int i = 0; i <= (q0 > 0 ? n : 0); ++i)
        for (int j = 0; j <= (q1 > 0 ? n - i : 0); ++j)
            for (int k = 0; k <= (q2 > 0 ? n - i - j : 0); ++k)
                for (int l = 0; l <= (q3 > 0 ? n - i - j - k : 0); ++l) {
                    poll();
                    const int d = n - i - j - k - l;
                    if (i + j + 2 * k + 2 * l < min_photons_filter || (p0 <= 0 && d != 0)) continue;
                    double p = std::pow(q0, i) * std::pow(q1, j) * std::pow(q2, k) *
                               std::pow(q3, l) * std::pow(p0, d);
                    table.physical_perf +=
                        std::exp(log_fact(n) - log_fact(i) - log_fact(j) - log_fact(k) -
                                 log_fact(l) - log_fact(d) + log_power(q0, i) + log_power(q1, j) +
                                 log_power(q2, k) + log_power(q3, l) + log_power(p0, d));
                    if (g2_distinguishable_ && i + k <= 1) {
                        if (i == 1) p *= j + 1;
                        if (k == 1) p *= l + 1;
                        rewritten[{0, i + j, 0, k + l}] += p;
                    } else if (!g2_distinguishable_ && k == 0 && i + l <= 1) {
                        if (i == 1) p *= j + 1;
                        rewritten[{0, i + j, 0, l}] += p;
                    } else {
                        table.events.push_back({i, j, k, l});
                        table.probabilities.push_back(p);
                    }
                }
    for (auto const& [event, p] : rewritten) {
        table.events.push_back(event);
        table.probabilities.push_back(p);
    }
    for (double p : table.probabilities) table.max_p = std::max(table.max_p, p);
    table.min_photons_filter = min_photons_filter;
    return table;
}

SourceSampler Source::create_sampler(FockState const& expected_input,
                                     int min_photons_filter) const {
    return SourceSampler(_compute_sampler_prob_table(expected_input.n(), min_photons_filter),
                         expected_input, indistinguishability_,
                         g2_distinguishable_ && multiphoton_component_ > 0.0, is_perfect());
}

SimpleSourceIterator Source::create_simple_iterator(FockState const& expected_input,
                                                    int min_photons_filter) const {
    return SimpleSourceIterator(
        _compute_iterator_prob_table(expected_input.n(), min_photons_filter), expected_input,
        g2_distinguishable_ && multiphoton_component_ > 0.0, prob_distinguishable_ > 0.0);
}
