#include "fockspace/fs_map.h"

#include <complex>
#include <list>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

using test_support::Counts;
using test_support::expect_throw_message;

namespace {

using Complex = std::complex<double>;

FockState add_photon(FockState const& s, int mode) {
    Counts counts = s.to_vect();
    ++counts[static_cast<std::size_t>(mode)];
    return FockState(counts);
}

// Permanent by the sum over all permutations.
Complex permanent(std::vector<std::vector<Complex>> const& a) {
    std::vector<int> p(a.size());
    std::iota(p.begin(), p.end(), 0);
    Complex total = 0;
    do {
        Complex term = 1;
        for (std::size_t i = 0; i < a.size(); ++i) term *= a[i][static_cast<std::size_t>(p[i])];
        total += term;
    } while (std::next_permutation(p.begin(), p.end()));
    return total;
}

}  // namespace

namespace {

struct LinkCase {
    const char* name;
    int m;
    int n;  // photons of the larger array
    std::optional<FsMask> larger_mask;
    std::optional<FsMask> smaller_mask;
};

}  // namespace

class FsMapLinks : public testing::TestWithParam<LinkCase> {};

// Reference: the linked index of (row r, mode j) is the larger array's index of state r plus a
// photon in mode j, found by binary search.
TEST_P(FsMapLinks, LinkEveryStateToItsOnePhotonSuccessors) {
    const auto& c = GetParam();
    const FsArray larger(c.m, c.n, c.larger_mask);
    const FsArray smaller(c.m, c.n - 1, c.smaller_mask);
    const FsMap lazy(larger, smaller, false);
    ASSERT_EQ(lazy.count(), smaller.count());
    EXPECT_EQ(lazy.m(), c.m);
    EXPECT_EQ(lazy.n(), c.n - 1);
    const FsMap eager(larger, smaller, true);
    unsigned long long links = 0;
    for (unsigned long long r = 0; r < smaller.count(); ++r)
        for (int j = 0; j < c.m; ++j) {
            const unsigned long long expected = larger.find_idx(add_photon(smaller[r], j));
            ASSERT_EQ(lazy.get(r, j), expected) << smaller[r] << " + mode " << j;
            ASSERT_EQ(eager.get(r, j), expected);
            links += expected != fs_npos;
        }
    if (!c.larger_mask && !c.smaller_mask) {
        EXPECT_EQ(links, smaller.count() * static_cast<unsigned long long>(c.m));
    }
    lazy.generate();
    for (unsigned long long r = 0; r < smaller.count(); ++r)
        for (int j = 0; j < c.m; ++j) ASSERT_EQ(lazy.get(r, j), eager.get(r, j));
}

INSTANTIATE_TEST_SUITE_P(
    Layers, FsMapLinks,
    testing::Values(LinkCase{"M2N2", 2, 2, {}, {}}, LinkCase{"M3N1", 3, 1, {}, {}},
                    LinkCase{"M4N3", 4, 3, {}, {}}, LinkCase{"M5N4", 5, 4, {}, {}},
                    LinkCase{"M2N10", 2, 10, {}, {}}, LinkCase{"M3N9", 3, 9, {}, {}},
                    LinkCase{"MaskedLarger", 4, 3, FsMask(4, 3, std::string("1***")), {}},
                    LinkCase{"MaskedBoth", 4, 3, FsMask(4, 3, std::string("*2**")),
                             FsMask(4, 3, std::string("*2**"))},
                    LinkCase{"MaskedSmaller", 3, 3, {}, FsMask(3, 2, std::string("0**"))},
                    LinkCase{"MaskedAwayVacuum", 3, 1, {}, FsMask(3, 0, std::string("1**"))},
                    LinkCase{"MaskedNinePhotons", 3, 9, FsMask(3, 9, std::string("*4*")),
                             FsMask(3, 9, std::string("*4*"))},
                    LinkCase{"M1N4", 1, 4, {}, {}},
                    LinkCase{"MaskedOnePhoton", 4, 1, FsMask(4, 1, std::string("*0**")), {}},
                    // A mask that keeps every state leaves positions and indices equal.
                    LinkCase{"MaskKeepingAll", 4, 3, FsMask(4, 3, std::string("****")),
                             FsMask(4, 3, std::string("****"))},
                    // Two-byte links, and masks that keep unrelated, scattered states.
                    LinkCase{"DifferentMasksWide", 10, 4,
                             FsMask(10, 4, std::list<std::string>{"*0********", "*******1**"}),
                             FsMask(10, 3, std::list<std::string>{"****0*****", "0*1*******"})}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

TEST(FsMap, TwoModesTwoPhotons) {
    const FsArray a2(2, 2), a1(2, 1);
    const FsMap map(a2, a1, false);
    EXPECT_EQ(map.width(), 1);
    EXPECT_EQ(map.size(), 4u);
    EXPECT_EQ(map.get(0, 0), 0u);
    EXPECT_EQ(map.get(0, 1), 1u);
    EXPECT_EQ(map.get(1, 0), 1u);
    EXPECT_EQ(map.get(1, 1), 2u);
    EXPECT_EQ(FsMap::version, 1);
}

TEST(FsMap, MaskedOutSumStatesHaveNoLink) {
    const FsArray larger(2, 2, FsMask(2, 2, std::string("1*")));  // |1,1> only
    const FsArray smaller(2, 1);
    const FsMap map(larger, smaller, false);
    EXPECT_EQ(map.get(0, 0), fs_npos);
    EXPECT_EQ(map.get(0, 1), 0u);
    EXPECT_EQ(map.get(1, 0), 0u);
    EXPECT_EQ(map.get(1, 1), fs_npos);
}

namespace {

struct WidthCase {
    int m;
    int n;
    int width;
};

}  // namespace

class FsMapWidth : public testing::TestWithParam<WidthCase> {};

// The all-0xFF pattern must stay distinct from every index: 254 states fit one byte, 255 do not.
TEST_P(FsMapWidth, NarrowestWidthHoldsEveryIndex) {
    const auto& c = GetParam();
    const FsArray larger(c.m, c.n), smaller(c.m, c.n - 1);
    const FsMap map(larger, smaller, false);
    EXPECT_EQ(map.width(), c.width) << larger.count();
    EXPECT_EQ(map.size(), static_cast<unsigned long long>(c.width) * smaller.count() *
                              static_cast<unsigned long long>(c.m));
    std::mt19937 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        const unsigned long long r = rng() % smaller.count();
        const int j = static_cast<int>(rng() % static_cast<unsigned>(c.m));
        ASSERT_EQ(map.get(r, j), larger.find_idx(add_photon(smaller[r], j)));
    }
    // The last link holds the highest index, the one closest to the no-link pattern.
    EXPECT_EQ(map.get(smaller.count() - 1, c.m - 1), larger.count() - 1);
}

INSTANTIATE_TEST_SUITE_P(Widths, FsMapWidth,
                         testing::Values(WidthCase{254, 1, 1}, WidthCase{255, 1, 2},
                                         WidthCase{256, 2, 2}, WidthCase{30, 5, 3}));

TEST(FsMap, Errors) {
    const FsArray a2(2, 2), a1(2, 1), b1(3, 1), a0(2, 0);
    const FsMap map(a2, a1, false);
    expect_throw_message<std::out_of_range>([&] { map.get(0, 2); }, "mode id too large");
    expect_throw_message<std::out_of_range>([&] { map.get(0, -1); }, "mode id too large");
    expect_throw_message<std::out_of_range>([&] { map.get(2, 0); }, "idx too large");
    expect_throw_message<std::out_of_range>([&] { map.get(2, 2); }, "mode id too large");

    // Arrays that do not make two consecutive layers of one space would be read past their ends.
    EXPECT_THROW(FsMap(a2, b1, true), std::invalid_argument);
    EXPECT_THROW(FsMap(a2, a0, true), std::invalid_argument);
    EXPECT_THROW(FsMap(a1, a2, true), std::invalid_argument);
    EXPECT_THROW(FsMap(a2, a2, true), std::invalid_argument);
    EXPECT_THROW(FsMap(a0, FsArray(2, -1), true), std::invalid_argument);
}

TEST(FsMap, SlosLayerFromVacuumWithIdentity) {
    const int m = 4;
    const FsArray a1(m, 1), a0(m, 0);
    const FsMap map(a1, a0, false);
    std::vector<Complex> U(m * m, 0.0);
    for (int i = 0; i < m; ++i) U[static_cast<std::size_t>(i * m + i)] = 1.0;
    const Complex in[1] = {1.0};
    std::vector<Complex> out(4, Complex(7, 7));
    map.compute_slos_layer(U.data(), m, 0, out.data(), out.size(), in, 1);
    EXPECT_EQ(out, (std::vector<Complex>{1.0, 0.0, 0.0, 0.0}));
}

// Placing the input photons one layer at a time sums every assignment of them to the output
// photons once per ordering of equal output photons: Perm(U[s,t]) / s!, which the array's
// normalisation turns into Perm(U[s,t]) / sqrt(s!).
TEST(FsMap, SlosLayersGiveNormalisedPermanents) {
    const int m = 4;
    const std::vector<int> input_modes = {0, 2, 2};  // |1,0,2,0>
    std::mt19937 rng(11);
    std::normal_distribution<double> normal;
    std::vector<Complex> U(m * m);
    for (auto& u : U) u = {normal(rng), normal(rng)};

    std::vector<FsArray> layers;
    for (int n = 0; n <= 3; ++n) layers.emplace_back(m, n);
    std::vector<Complex> amplitudes{1.0};
    for (int n = 1; n <= 3; ++n) {
        const FsMap map(layers[static_cast<std::size_t>(n)],
                        layers[static_cast<std::size_t>(n - 1)], false);
        std::vector<Complex> out(layers[static_cast<std::size_t>(n)].count());
        map.compute_slos_layer(U.data(), m,
                               static_cast<unsigned>(input_modes[static_cast<std::size_t>(n - 1)]),
                               out.data(), out.size(), amplitudes.data(), amplitudes.size());
        amplitudes = out;
    }
    layers[3].norm_coefs(amplitudes.data());

    for (unsigned long long i = 0; i < layers[3].count(); ++i) {
        const FockState s = layers[3][i];
        std::vector<int> rows;
        for (int j = 0; j < m; ++j)
            for (int c = 0; c < s[j]; ++c) rows.push_back(j);
        std::vector<std::vector<Complex>> sub(3, std::vector<Complex>(3));
        for (std::size_t a = 0; a < 3; ++a)
            for (std::size_t b = 0; b < 3; ++b)
                sub[a][b] = U[static_cast<std::size_t>(rows[a] * m + input_modes[b])];
        double s_fact = 1;
        for (int c : s.to_vect())
            for (int k = 2; k <= c; ++k) s_fact *= k;
        EXPECT_NEAR(std::abs(amplitudes[i] - permanent(sub) / std::sqrt(s_fact)), 0.0, 1e-12) << s;
    }
}

TEST(FsMap, SlosLayerRejectsSizesThatReachPastItsVectors) {
    const FsArray a2(2, 2), a1(2, 1);
    const FsMap map(a2, a1, false);
    const std::vector<Complex> U(4, 1.0), in(2, 1.0);
    std::vector<Complex> out(3);
    EXPECT_THROW(map.compute_slos_layer(U.data(), 2, 0, out.data(), 2, in.data(), 2),
                 std::invalid_argument);
    EXPECT_THROW(map.compute_slos_layer(U.data(), 2, 0, out.data(), 3, in.data(), 3),
                 std::invalid_argument);
    EXPECT_THROW(map.compute_slos_layer(U.data(), 3, 0, out.data(), 3, in.data(), 2),
                 std::invalid_argument);
    EXPECT_THROW(map.compute_slos_layer(U.data(), 2, 2, out.data(), 3, in.data(), 2),
                 std::invalid_argument);
    // A shorter in vector propagates only its states; a longer out vector is zeroed past the links.
    std::vector<Complex> longer(5, 9.0);
    map.compute_slos_layer(U.data(), 2, 1, longer.data(), 5, in.data(), 1);
    EXPECT_EQ(longer, (std::vector<Complex>{1.0, 1.0, 0.0, 0.0, 0.0}));
}

TEST(NStrFunctors, HashAndCompareTheirLengthOnly) {
    const unsigned char a[] = {1, 2, 3, 0, 9};
    const unsigned char b[] = {1, 2, 3, 0, 8};
    EXPECT_EQ(NStrHash{0}(a), 5381u);
    EXPECT_EQ(NStrHash{1}(a), 5381u * 33 + 1);
    EXPECT_EQ(NStrHash{4}(a), NStrHash{4}(b));
    EXPECT_NE(NStrHash{5}(a), NStrHash{5}(b));
    EXPECT_EQ(NStrHash{-1}(a), NStrHash{3}(a));
    EXPECT_TRUE(NStrCompare{4}(a, b));
    EXPECT_FALSE(NStrCompare{5}(a, b));
}
