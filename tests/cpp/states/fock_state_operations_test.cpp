#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "states/fock_state.h"

namespace {

using Counts = std::vector<int>;

FockState fs(Counts counts) {
    return FockState(counts);
}

using test_support::expect_throw_message;

// A state of `photons` photons in one mode, built past the constructors' limit by merging.
FockState crowded(int photons) {
    FockState s(1);
    for (int left = photons; left > 0; left -= std::min(left, 256))
        s = s.merge(FockState(1, std::min(left, 256)));
    return s;
}

// Random states, many of them with heap codes (more than 8 photons).
std::vector<Counts> random_counts(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::vector<Counts> states;
    for (int i = 0; i < count; ++i) {
        Counts c(std::uniform_int_distribution<std::size_t>(0, 6)(rng));
        for (int& v : c) v = std::uniform_int_distribution<int>(0, 5)(rng);
        states.push_back(c);
    }
    return states;
}

double factorial(int k) {
    return std::tgamma(k + 1.0);
}

}  // namespace

// Every operation against the same operation done on per-mode counts.
TEST(FockStateOperations, MatchCountReferences) {
    const std::vector<Counts> states = random_counts(7, 60);
    for (std::size_t i = 0; i < states.size(); ++i) {
        const Counts& a = states[i];
        const Counts& b = states[(i * 7 + 3) % states.size()];
        const FockState s = fs(a);
        SCOPED_TRACE(s.to_str());

        Counts product = a;
        product.insert(product.end(), b.begin(), b.end());
        EXPECT_EQ((s * fs(b)).to_vect(), product);
        FockState in_place = s;
        in_place *= fs(b);
        EXPECT_EQ(in_place.to_vect(), product);

        for (unsigned k : {0u, 1u, 3u}) {
            Counts power;
            for (unsigned j = 0; j < k; ++j) power.insert(power.end(), a.begin(), a.end());
            EXPECT_EQ(s.pow(k).to_vect(), power) << k;
        }

        Counts same_width = b;
        same_width.resize(a.size(), 2);
        Counts sum = a;
        for (std::size_t k = 0; k < a.size(); ++k) sum[k] += same_width[k];
        EXPECT_EQ(s.merge(fs(same_width)).to_vect(), sum);

        for (int t : {1, 2, 4}) {
            Counts capped = a;
            for (int& v : capped) v = std::min(v, t);
            EXPECT_EQ(s.threshold_detection(t).to_vect(), capped) << t;
            if (t == 1) {
                EXPECT_EQ(s.threshold_detection().to_vect(), capped);
            }
        }

        double prod = 1.0;
        for (int v : a) prod *= factorial(v);
        EXPECT_DOUBLE_EQ(s.prodnfact(), prod);

        const int m = static_cast<int>(a.size());
        for (int start = -m - 1; start <= m + 1; ++start) {
            for (int end = -m - 1; end <= m + 1; ++end) {
                const int from = std::max(start < 0 ? start + m : start, 0);
                const int to = std::clamp(end < 0 ? end + m : end, 0, m);
                for (int step : {1, 2, 3}) {
                    Counts sliced;
                    for (int k = from; k < to; k += step)
                        sliced.push_back(a[static_cast<std::size_t>(k)]);
                    const FockState result = s.slice(start, end, step);
                    EXPECT_EQ(result.to_vect(), sliced) << start << ":" << end << ":" << step;
                    EXPECT_EQ(result.m(), static_cast<int>(sliced.size()));
                }
                if (from < to) {
                    Counts replacement(static_cast<std::size_t>(to - from));
                    for (std::size_t k = 0; k < replacement.size(); ++k)
                        replacement[k] = static_cast<int>(k % 3);
                    Counts replaced(a.begin(), a.begin() + from);
                    replaced.insert(replaced.end(), replacement.begin(), replacement.end());
                    replaced.insert(replaced.end(), a.begin() + to, a.end());
                    EXPECT_EQ(s.set_slice(fs(replacement), start, end).to_vect(), replaced)
                        << start << ":" << end;
                } else {
                    EXPECT_EQ(s.set_slice(FockState(), start, end), s) << start << ":" << end;
                }
            }
        }

        if (m > 0) {
            const std::vector<unsigned char> removed{static_cast<unsigned char>(m - 1), 0, 0};
            Counts kept;
            for (int k = 0; k < m; ++k)
                if (k != 0 && k != m - 1) kept.push_back(a[static_cast<std::size_t>(k)]);
            EXPECT_EQ(s.remove_modes(removed).to_vect(), kept);
        }
        EXPECT_EQ(s.remove_modes({}), s);
    }
}

TEST(FockStateOperations, TensorProductAndPower) {
    EXPECT_EQ(fs({1, 0}) * fs({0, 2}), fs({1, 0, 0, 2}));
    EXPECT_EQ(fs({1, 1}) * fs({0, 0}), fs({1, 1, 0, 0}));
    EXPECT_EQ(FockState() * fs({2}), fs({2}));
    EXPECT_EQ(fs({2}) * FockState(), fs({2}));
    EXPECT_EQ(fs({1, 0}).pow(3), fs({1, 0, 1, 0, 1, 0}));
    EXPECT_EQ(fs({0, 1}).pow(2), fs({0, 1, 0, 1}));
    EXPECT_EQ(fs({3, 1}).pow(0).to_str(), "|>");
    EXPECT_EQ(FockState().pow(4000000000u), FockState());
    EXPECT_EQ(fs({5, 4}) * fs({0, 1}), fs({5, 4, 0, 1}));  // inline times inline gives a heap code

    FockState self = fs({2, 1});
    self *= self;
    EXPECT_EQ(self, fs({2, 1, 2, 1}));
}

TEST(FockStateOperations, ResultsAreCappedAt8191Photons) {
    const FockState big = crowded(8000);
    EXPECT_EQ(big.n(), 8000);
    EXPECT_EQ(FockState(1, 200).pow(40).n(), 8000);
    EXPECT_THROW(FockState(1, 200).pow(41), std::runtime_error);
    EXPECT_EQ((big * FockState(1, 191)).n(), 8191);
    EXPECT_THROW(big * FockState(1, 192), std::runtime_error);
    EXPECT_EQ(big.merge(FockState(1, 191)).n(), 8191);
    EXPECT_THROW(big.merge(FockState(1, 192)), std::runtime_error);

    FockState target = big;
    EXPECT_THROW(target *= FockState(1, 192), std::runtime_error);
    EXPECT_EQ(target, big);  // unchanged by the failed product
}

TEST(FockStateOperations, ResultsAreCappedAt256Modes) {
    const std::string message = "Fock state size is capped from 0 to 256 modes";
    EXPECT_EQ((FockState(200) * FockState(56)).m(), 256);
    expect_throw_message<std::runtime_error>([] { FockState(200) * FockState(57); }, message);
    expect_throw_message<std::runtime_error>([] { FockState(200, 1) * FockState(57, 1); }, message);
    EXPECT_EQ(FockState(16, 1).pow(16).m(), 256);
    expect_throw_message<std::runtime_error>([] { FockState(16, 1).pow(17); }, message);
    expect_throw_message<std::runtime_error>([] { FockState(1).pow(4000000000u); }, message);
    // 256 modes hold mode 255: the shifted codes must not wrap.
    const FockState last = FockState(255) * fs({3});
    EXPECT_EQ(last[255], 3);
    EXPECT_EQ(last.n(), 3);
}

TEST(FockStateOperations, Merge) {
    EXPECT_EQ(fs({1, 0, 2}).merge(fs({0, 1, 1})), fs({1, 1, 3}));
    expect_throw_message<std::runtime_error>(
        [] {
            fs({1, 2}).merge(fs({1, 0, 0}));
        },
        "Cannot merge fock states of different length");
    // Mode counts are compared before the size.
    expect_throw_message<std::runtime_error>([] { crowded(8000).merge(FockState(2, 200)); },
                                             "Cannot merge fock states of different length");
    FockState other = fs({1, 2});
    EXPECT_EQ(FockState(4).merge(std::move(other)), fs({1, 2}));
    EXPECT_EQ(fs({1, 0}).merge(fs({0, 3})), fs({1, 3}));
    FockState rvalue = fs({0, 3});
    EXPECT_EQ(fs({1, 0}).merge(std::move(rvalue)), fs({1, 3}));
    EXPECT_THROW(fs({1, 0}).merge(fs({1})), std::runtime_error);
}

TEST(FockStateOperations, ThresholdDetection) {
    const FockState s = fs({3, 0, 1});
    EXPECT_EQ(s.threshold_detection(), fs({1, 0, 1}));
    EXPECT_EQ(s.threshold_detection(2), fs({2, 0, 1}));
    EXPECT_EQ(s.threshold_detection(5), s);
    EXPECT_EQ(fs({9, 4}).threshold_detection(3), fs({3, 3}));
    expect_throw_message<std::invalid_argument>([&] { s.threshold_detection(0); },
                                                "detections must be positive");
    expect_throw_message<std::invalid_argument>([&] { s.threshold_detection(-2); },
                                                "detections must be positive");
}

TEST(FockStateOperations, Prodnfact) {
    EXPECT_EQ(fs({2, 0, 3}).prodnfact(), 12.0);
    EXPECT_EQ(FockState(2).prodnfact(), 1.0);
    EXPECT_EQ(FockState().prodnfact(), 1.0);
    EXPECT_NEAR(FockState(1, 170).prodnfact() / 7.257415615307994e306, 1.0, 1e-12);
    expect_throw_message<std::overflow_error>([] { FockState(1, 171).prodnfact(); },
                                              "overflow error in FockState::prodnfact()");
}

TEST(FockStateOperations, CheckSliceNormalisesBounds) {
    struct Case {
        int start, end, step;
        int start_out, end_out, modes, photons;
    };
    const FockState s = fs({1, 2, 3, 4});
    for (const Case& c : std::vector<Case>{{0, 4, 1, 0, 4, 4, 10},
                                           {-2, 4, 1, 2, 4, 2, 7},
                                           {-9, -1, 1, 0, 3, 3, 6},
                                           {1, 4, 2, 1, 4, 2, 6},
                                           {3, 1, 1, 3, 1, 0, 0},
                                           {6, 10, 1, 6, 4, 0, 0},
                                           {0, 10, 3, 0, 4, 2, 5}}) {
        int start = c.start, end = c.end, modes = -1, photons = -1;
        s._check_slice(start, end, c.step, modes, photons);
        EXPECT_EQ(std::vector<int>({start, end, modes, photons}),
                  std::vector<int>({c.start_out, c.end_out, c.modes, c.photons}))
            << c.start << ":" << c.end << ":" << c.step;
    }
}

TEST(FockStateOperations, SliceSetSliceAndRemoveModes) {
    const FockState s = fs({1, 2, 3, 4});
    EXPECT_EQ(s.slice(0, 4, 2), fs({1, 3}));
    EXPECT_EQ(s.slice(1, 4, 2), fs({2, 4}));
    EXPECT_EQ(s.slice(-2, 4, 1), fs({3, 4}));
    EXPECT_EQ(s.slice(3, 1, 1).m(), 0);
    EXPECT_EQ(s.slice(0, 10, 1), s);
    EXPECT_EQ(fs({0, 0, 5}).slice(0, 2, 1), FockState(2));

    EXPECT_EQ(s.set_slice(fs({0, 5}), 1, 3), fs({1, 0, 5, 4}));
    EXPECT_EQ(s.set_slice(FockState(), 2, 2), s);
    EXPECT_EQ(s.set_slice(FockState(), 3, 1), s);
    EXPECT_EQ(fs({0, 2}).set_slice(fs({0}), 1, 2), FockState(2));
    expect_throw_message<std::invalid_argument>([&] { s.set_slice(fs({1}), 1, 3); },
                                                "invalid FockState to replace in slice");
    expect_throw_message<std::invalid_argument>([&] { s.set_slice(fs({1}), 3, 1); },
                                                "invalid FockState to replace in slice");

    EXPECT_EQ(s.remove_modes({2, 0, 2}), fs({2, 4}));
    EXPECT_EQ(fs({1, 2, 3}).remove_modes({1, 1}), fs({1, 3}));
    EXPECT_EQ(fs({1, 2, 3}).remove_modes({1, 0, 1}), fs({3}));
    expect_throw_message<std::runtime_error>(
        [] {
            fs({1, 2, 3}).remove_modes({3});
        },
        "Mode index to remove out of bound");
    expect_throw_message<std::runtime_error>(
        [] {
            fs({200, 0, 0}).merge(fs({0, 100, 0})).remove_modes({2});
        },
        "Fock state number of photons is capped to 256");
}

TEST(FockStateOperations, NonPositiveStepsAreRejected) {
    const FockState s = fs({1, 2, 3});
    for (int step : {0, -1}) {
        expect_throw_message<std::invalid_argument>([&] { s.slice(0, 3, step); },
                                                    "slice step must be positive");
        expect_throw_message<std::invalid_argument>([&] { s.slice(3, 0, step); },
                                                    "slice step must be positive");
        int start = 0, end = 3, modes = 0, photons = 0;
        EXPECT_THROW(s._check_slice(start, end, step, modes, photons), std::invalid_argument);
    }
}

// 8 photons stay inline, 9 use a heap code: each operation must give the same counts either way.
TEST(FockStateOperations, HeapCodesBehaveLikeInlineCodes) {
    for (int n : {8, 9}) {
        SCOPED_TRACE(n);
        const FockState s = fs({n - 4, 0, 3, 1});
        EXPECT_EQ((s * fs({1, 1})).to_vect(), (Counts{n - 4, 0, 3, 1, 1, 1}));
        EXPECT_EQ(s.pow(2).to_vect(), (Counts{n - 4, 0, 3, 1, n - 4, 0, 3, 1}));
        EXPECT_EQ(s.merge(s).to_vect(), (Counts{2 * n - 8, 0, 6, 2}));
        EXPECT_EQ(s.threshold_detection(2).to_vect(), (Counts{2, 0, 2, 1}));
        EXPECT_EQ(s.slice(0, 4, 2).to_vect(), (Counts{n - 4, 3}));
        EXPECT_EQ(s.set_slice(fs({2}), 1, 2).to_vect(), (Counts{n - 4, 2, 3, 1}));
        EXPECT_EQ(s.remove_modes({1}).to_vect(), (Counts{n - 4, 3, 1}));
        EXPECT_EQ(s.prodnfact(), factorial(n - 4) * 6.0);
        FockState grown = s;
        grown *= s;
        EXPECT_EQ(grown, s * s);
    }
}
