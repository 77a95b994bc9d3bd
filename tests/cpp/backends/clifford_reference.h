#pragma once

#include <cmath>
#include <map>
#include <vector>

#include "backend_reference.h"
#include "fockspace/sample_containers.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"
#include "test_support.h"

// Checks of boson samples against the exact output distribution.
namespace clifford_reference {

using backend_reference::factorials;
using backend_reference::reference_permanent;
using test_support::Counts;

// |Perm(U[t,s])|² / (s! t!) for every output t of the input s.
inline std::map<FockState, double> exact_distribution(Matrix const& u, FockState const& input) {
    std::map<FockState, double> p;
    const Counts s = input.to_vect();
    for (auto const& t : test_support::all_counts(input.m(), input.n()))
        p[FockState(t)] = std::norm(reference_permanent(u, t, s)) / (factorials(s) * factorials(t));
    return p;
}

struct ChiSquare {
    double statistic = 0;
    int degrees = 0;
    // About a one-in-a-million tail: the test seeds are fixed, this only keeps the bound honest.
    double bound() const { return degrees + 7.0 * std::sqrt(2.0 * degrees) + 10.0; }
};

// Pearson's statistic; outputs expected fewer than 5 times are pooled into one cell. A sample
// outside the distribution's support, or too many in a pool of improbable outputs, counts as a
// huge deviation.
inline ChiSquare chi_square(std::map<FockState, double> const& p, BSSamples const& samples) {
    std::map<FockState, double> seen;
    double outside = 0;
    for (auto const& s : samples) {
        if (p.count(s))
            seen[s] += 1;
        else
            outside += 1;
    }
    const double total = static_cast<double>(samples.size());
    ChiSquare result;
    double pooled_expected = 0, pooled_seen = 0;
    int cells = 0;
    for (auto const& [state, probability] : p) {
        const double expected = probability * total;
        const double observed = seen.count(state) ? seen.at(state) : 0.0;
        if (expected < 5) {
            pooled_expected += expected;
            pooled_seen += observed;
            continue;
        }
        result.statistic += (observed - expected) * (observed - expected) / expected;
        ++cells;
    }
    if (pooled_expected >= 5) {
        result.statistic +=
            (pooled_seen - pooled_expected) * (pooled_seen - pooled_expected) / pooled_expected;
        ++cells;
    } else if (pooled_seen > pooled_expected + 6 * std::sqrt(pooled_expected) + 3) {
        // Too few expected for a cell of their own: a Poisson bound instead.
        outside += 1;
    }
    result.statistic += outside * 1e9;
    result.degrees = cells - 1;
    return result;
}

}  // namespace clifford_reference
