#pragma once

#include <complex>
#include <string>
#include <utility>
#include <vector>

#include "states/any_fs_utils.h"
#include "states/basic_state.h"
#include "states/state_vector.h"

// State vectors written as (state text, amplitude) terms, for the tests of the states and of the
// distributions built from them.
namespace state_vector_terms {

using cd = std::complex<double>;
using Terms = std::vector<std::pair<std::string, cd>>;

inline BasicState bs(const std::string& text) {
    return AnyFSUtils::parse(text);
}

// Terms added one after the other with +=, so that zero amplitudes are skipped as the sum does.
inline StateVector sv(const Terms& terms) {
    StateVector v;
    for (const auto& [text, a] : terms) v += bs(text) * a;
    return v;
}

}  // namespace state_vector_terms
