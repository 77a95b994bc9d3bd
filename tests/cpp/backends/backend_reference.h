#pragma once

#include <algorithm>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include <Eigen/QR>

#include "haar_unitary.h"
#include "runtime/matrix.h"
#include "runtime/permanent.h"
#include "states/fock_state.h"
#include "test_support.h"

// Independent references for the strong-simulation back-ends.
namespace backend_reference {

using test_support::Counts;
using cx = std::complex<double>;

using test_support::haar_unitary;

inline Matrix beam_splitter() {
    Matrix u(2, 2);
    u << 1, 1, 1, -1;
    return u / std::sqrt(2.0);
}

inline double factorials(Counts const& counts) {
    double f = 1;
    for (int c : counts)
        for (int k = 2; k <= c; ++k) f *= k;
    return f;
}

// Perm(U[s,t]): row j repeated s_j times, column k repeated t_k times.
inline cx reference_permanent(Matrix const& u, Counts const& s, Counts const& t) {
    std::vector<int> rows;
    std::vector<int> cols;
    for (std::size_t j = 0; j < s.size(); ++j) rows.insert(rows.end(), s[j], static_cast<int>(j));
    for (std::size_t k = 0; k < t.size(); ++k) cols.insert(cols.end(), t[k], static_cast<int>(k));
    if (rows.empty()) return 1.0;
    Matrix sub(rows.size(), cols.size());
    for (std::size_t a = 0; a < rows.size(); ++a)
        for (std::size_t b = 0; b < cols.size(); ++b) sub(a, b) = u(rows[a], cols[b]);
    // Glynn on the calling thread: the default may start threads for every small matrix.
    return permanent_cx(sub, "glynn");
}

// The membership rule of a mask on complete states, written independently of FsMask.
inline bool accepted(Counts const& counts, std::vector<std::string> const& conditions,
                     std::vector<int> const& unbounded) {
    for (auto const& condition : conditions) {
        bool ok = true;
        for (std::size_t j = 0; j < counts.size() && ok; ++j) {
            const char c = condition[j];
            if (c < '0' || c > 'O') continue;
            const bool lower_only = std::find(unbounded.begin(), unbounded.end(),
                                              static_cast<int>(j)) != unbounded.end();
            ok = lower_only ? counts[j] >= c - '0' : counts[j] == c - '0';
        }
        if (ok) return true;
    }
    return false;
}

inline std::vector<FockState> states(std::vector<Counts> const& counts) {
    std::vector<FockState> result;
    for (auto const& c : counts) result.emplace_back(c);
    return result;
}

}  // namespace backend_reference
