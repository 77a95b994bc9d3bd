#include "simulators/simulator_input.h"

#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "states/fock_state.h"
#include "states/noisy_fock_state.h"
#include "test_support.h"

namespace {

using simulators::normalized_input;
using cx = std::complex<double>;

StateVector fock(std::string const& text, cx amplitude = 1.0) {
    StateVector v{BasicState(FockState(text))};
    v.scale(amplitude);
    return v;
}

TEST(NormalizedInput, DividesByTheSumAndKeepsTheVectors) {
    StateVectorDistribution svd;
    const StateVector superposed = fock("|1,0>", 3.0) + fock("|0,2>", cx(0, 4));
    svd.set(fock("|1,0>"), 1.0);
    svd.set(superposed, 1.0);
    svd.set(StateVector(BasicState(NoisyFockState("|{1},{2}>"))), 0.5);
    const StateVectorDistribution out = normalized_input(svd);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_DOUBLE_EQ(out.get(fock("|1,0>")), 0.4);
    EXPECT_DOUBLE_EQ(out.get(superposed), 0.4);
    EXPECT_DOUBLE_EQ(out.get(StateVector(BasicState(NoisyFockState("|{1},{2}>")))), 0.2);
    // The amplitudes stay as given: each simulator reads them by its own rules.
    EXPECT_EQ(out.map().find(superposed)->first.at(BasicState(FockState("|0,2>"))), cx(0, 4));
    EXPECT_EQ(out.n_max(), svd.n_max());
}

TEST(NormalizedInput, AnEmptyDistributionStaysEmpty) {
    EXPECT_TRUE(normalized_input(StateVectorDistribution()).empty());
}

struct RefusedCase {
    const char* label;
    std::function<StateVectorDistribution()> make;
    const char* message;
};

void PrintTo(RefusedCase const& c, std::ostream* os) {
    *os << c.label;
}

// Written into the map directly: the distribution's own setters already refuse what is not
// finite.
StateVectorDistribution with(StateVector const& sv, double p) {
    StateVectorDistribution svd;
    svd.map()[sv] = p;
    return svd;
}

class NormalizedInputRefuses : public testing::TestWithParam<RefusedCase> {};

TEST_P(NormalizedInputRefuses, WithAMessageNamingTheValue) {
    test_support::expect_throw_message<std::invalid_argument>(
        [] { normalized_input(GetParam().make()); }, GetParam().message);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Inputs, NormalizedInputRefuses,
    testing::Values(
        RefusedCase{"negative", [] { return with(fock("|1,0>"), -0.5); },
                    "Input probability -0.5 of |1,0> is not in [0, 1]"},
        RefusedCase{"above_one", [] { return with(fock("|1,0>"), 1.5); },
                    "Input probability 1.5 of |1,0> is not in [0, 1]"},
        RefusedCase{"nan", [] { return with(fock("|1,0>"), nan); },
                    "Input probability nan of |1,0> is not in [0, 1]"},
        RefusedCase{"infinite", [] { return with(fock("|1,0>"), inf); },
                    "Input probability inf of |1,0> is not in [0, 1]"},
        RefusedCase{"all_zero", [] { return with(fock("|1,0>"), 0.0); },
                    "The input probabilities sum to 0"},
        RefusedCase{"empty_vector", [] { return with(StateVector(), 1.0); },
                    "Received empty state vector"},
        RefusedCase{"zero_vector", [] { return with(fock("|1,0,0>", 0.0), 1.0); },
                    "Received a state vector of squared norm 0 on |1,0,0>; it must be finite and "
                    "positive"},
        RefusedCase{"nan_vector", [] { return with(fock("|1,0>", nan), 1.0); },
                    "Received a state vector of squared norm nan on |1,0>; it must be finite and "
                    "positive"},
        RefusedCase{"overflowing_vector", [] { return with(fock("|2,0>", 1e300), 1.0); },
                    "Received a state vector of squared norm inf on |2,0>; it must be finite and "
                    "positive"}),
    [](testing::TestParamInfo<RefusedCase> const& info) { return std::string(info.param.label); });

}  // namespace
