#include "fockspace/fs_array.h"

#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/keyboard_interrupt_exception.h"
#include "test_support.h"

using test_support::all_counts;
using test_support::Counts;
using test_support::expect_throw_message;

namespace {

std::vector<FockState> states_of(std::vector<Counts> const& counts) {
    std::vector<FockState> states;
    for (auto const& c : counts) states.emplace_back(c);
    return states;
}

double factorial_product(FockState const& s) {
    double f = 1;
    for (int c : s.to_vect())
        for (int k = 2; k <= c; ++k) f *= k;
    return f;
}

}  // namespace

namespace {

struct SpaceCase {
    const char* name;
    int m;
    int n;
    std::optional<FsMask> mask;
};

}  // namespace

class FsArraySpace : public testing::TestWithParam<SpaceCase> {};

// Brute-force reference: every count vector in descending lexicographic order, filtered by the
// mask, must come out of lazy iteration, buffer iteration, indexing and find_idx alike.
TEST_P(FsArraySpace, EnumeratesTheFilteredSpaceInNaturalOrder) {
    const auto& c = GetParam();
    std::vector<FockState> expected;
    std::vector<FockState> rejected;
    for (auto const& s : states_of(all_counts(c.m, c.n)))
        (!c.mask || c.mask->match(s, true) ? expected : rejected).push_back(s);

    const FsArray array(c.m, c.n, c.mask);
    ASSERT_EQ(array.count(), expected.size());
    EXPECT_EQ(array.size(), expected.size() * static_cast<std::size_t>(c.n));

    std::vector<FockState> lazy(array.begin(), array.end());
    EXPECT_EQ(lazy, expected);
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(*FsArray::const_iterator(&array, static_cast<unsigned long long>(k)),
                  expected[k]);

    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(array[k], expected[k]);
        EXPECT_EQ(array.find_idx(expected[k]), k);
        EXPECT_EQ(*array.find(expected[k]), expected[k]);
    }
    for (auto const& s : rejected) {
        EXPECT_EQ(array.find_idx(s), fs_npos) << s;
        EXPECT_TRUE(array.find(s) == array.end());
    }
    std::vector<FockState> buffered(array.begin(), array.end());
    EXPECT_EQ(buffered, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Spaces, FsArraySpace,
    testing::Values(
        SpaceCase{"M1N4", 1, 4, {}}, SpaceCase{"M3N2", 3, 2, {}}, SpaceCase{"M4N3", 4, 3, {}},
        SpaceCase{"M5N4", 5, 4, {}}, SpaceCase{"M2N10", 2, 10, {}}, SpaceCase{"M3N9", 3, 9, {}},
        SpaceCase{"Vacuum", 4, 0, {}}, SpaceCase{"OneStar", 3, 3, FsMask(3, 3, std::string("1**"))},
        SpaceCase{"TwoConditions", 4, 3, FsMask(4, 3, std::list<std::string>{"1*0*", "**2*"})},
        SpaceCase{"LargerMaskBudget", 3, 2, FsMask(3, 3, std::string("1**"))},
        SpaceCase{"UnboundedMode", 3, 4, FsMask(3, 4, std::string("1*1"), std::vector<int>{0})},
        SpaceCase{"NinePhotonsMasked", 3, 9, FsMask(3, 9, std::string("*3*"))},
        SpaceCase{"MaskRejectsAll", 3, 2, FsMask(3, 2, std::string("300"))},
        SpaceCase{"MaskedVacuum", 2, 0, FsMask(2, 0, std::string("1*"))}),
    [](const testing::TestParamInfo<SpaceCase>& info) { return std::string(info.param.name); });

TEST(FsArray, ThreeModesTwoPhotons) {
    const FsArray array(3, 2);
    EXPECT_EQ(array.count(), 6u);
    EXPECT_EQ(array.size(), 12u);
    const std::vector<FockState> expected =
        states_of({{2, 0, 0}, {1, 1, 0}, {1, 0, 1}, {0, 2, 0}, {0, 1, 1}, {0, 0, 2}});
    EXPECT_EQ(std::vector<FockState>(array.begin(), array.end()), expected);
    EXPECT_EQ(array.find_idx(FockState(Counts{0, 1, 1})), 4u);
    const unsigned char* code = array.get_buffer(4);
    EXPECT_EQ(code[0], 1);
    EXPECT_EQ(code[1], 2);
}

TEST(FsArray, CountsAreBinomials) {
    // C(m+n-1, n) against a Pascal table.
    std::vector<std::vector<unsigned long long>> pascal(40, std::vector<unsigned long long>(40, 0));
    for (std::size_t i = 0; i < 40; ++i) {
        pascal[i][0] = 1;
        for (std::size_t j = 1; j <= i; ++j) pascal[i][j] = pascal[i - 1][j - 1] + pascal[i - 1][j];
    }
    for (int m = 1; m <= 20; ++m)
        for (int n = 0; n <= 19; ++n)
            EXPECT_EQ(FsArray(m, n).count(),
                      pascal[static_cast<std::size_t>(m + n - 1)][static_cast<std::size_t>(n)])
                << m << " " << n;
}

TEST(FsArray, CountsOfOneOrTwoModesTakeNoWalkOverThePhotons) {
    constexpr int n = std::numeric_limits<int>::max();
    EXPECT_EQ(FsArray(1, n).count(), 1u);
    EXPECT_EQ(FsArray(2, n).count(), 2147483648u);
    EXPECT_EQ(FsArray(2, n).size(), 2147483648ull * 2147483647ull);
}

TEST(FsArray, DegenerateSpaces) {
    const FsArray vacuum(3, 0);
    EXPECT_EQ(vacuum.count(), 1u);
    EXPECT_EQ(vacuum.size(), 0u);
    EXPECT_EQ(vacuum.find_idx(FockState(3)), 0u);
    EXPECT_EQ(vacuum.find_idx(FockState(Counts{1, 0, 0})), fs_npos);
    EXPECT_EQ(vacuum[0], FockState(3));

    const FsArray no_modes(0, 2);
    EXPECT_EQ(no_modes.count(), 0u);
    EXPECT_TRUE(no_modes.begin() == no_modes.end());
    EXPECT_EQ(no_modes.find_idx(FockState(0)), fs_npos);

    const FsArray none(3, 2, FsMask(3, 2, std::string("300")));
    EXPECT_EQ(none.count(), 0u);
    EXPECT_EQ(none.find_idx(FockState(Counts{2, 0, 0})), fs_npos);
    expect_throw_message<std::out_of_range>([&] { none[0]; }, "index too large");
    expect_throw_message<std::out_of_range>([&] { none.get_buffer(0); }, "index too large");
}

TEST(FsArray, Errors) {
    expect_throw_message<std::runtime_error>([] { FsArray(256, 256); },
                                             "FsArray overflow with m=256 n=256");
    expect_throw_message<std::runtime_error>([] { FsArray(11, 218); },
                                             "FsArray overflow with m=11 n=218");
    // Checked before a masked walk, which could not end otherwise.
    expect_throw_message<std::runtime_error>(
        [] { FsArray(256, 256, FsMask(256, 256, std::string(256, '1'))); },
        "FsArray overflow with m=256 n=256");

    const FsArray array(3, 2);
    expect_throw_message<std::invalid_argument>(
        [&] {
            array.find_idx(FockState(Counts{1, 1}));
        },
        "incorrect fock state");
    expect_throw_message<std::invalid_argument>([&] { array.find(FockState(4)); },
                                                "incorrect fock state");
    EXPECT_EQ(array.find_idx(FockState(Counts{1, 1, 1})), fs_npos);
    EXPECT_TRUE(array.find(FockState(Counts{1, 1, 1})) == array.end());
    expect_throw_message<std::out_of_range>([&] { array[6]; }, "index too large");
    expect_throw_message<std::out_of_range>([&] { *array.end(); }, "index too large");

    // A mask of other modes fails in the walk that counts the masked space.
    expect_throw_message<std::runtime_error>(
        [] { FsArray(3, 2, FsMask(2, 2, std::string("1*"))); },
        "FsMask::match(): incoherent sizes: FsMask m = 2 / FockState m = 3");
    // Spaces no state can represent fail when their states are made.
    expect_throw_message<std::runtime_error>([] { FsArray(300, 1).generate(); },
                                             "Fock state size is capped from 0 to 256 modes");
    expect_throw_message<std::runtime_error>([] { FsArray(2, -1)[0]; },
                                             "Fock state number of photons is capped to 256");
}

TEST(FsArray, IncrementStopsAtTheEnd) {
    const FsArray array(2, 1);
    auto it = array.begin();
    ++it;
    ++it;
    EXPECT_TRUE(it == array.end());
    ++it;
    EXPECT_TRUE(it == array.end());
    const FsArray other(2, 1);
    EXPECT_TRUE(other.end() != array.end());
}

TEST(FsArray, NormCoefsScaleByFactorials) {
    const FsArray array(2, 3);
    std::vector<std::complex<double>> c(4, {1.0, -2.0});
    EXPECT_EQ(array.norm_coefs(c.data()), 4u);
    const double f[] = {6, 2, 2, 6};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(c[i].real(), std::sqrt(f[i]));
        EXPECT_DOUBLE_EQ(c[i].imag(), -2 * std::sqrt(f[i]));
    }

    const FsArray big(4, 9, FsMask(4, 9, std::string("**2*")));
    std::vector<std::complex<double>> d(big.count(), 1.0);
    big.norm_coefs(d.data());
    for (unsigned long long i = 0; i < big.count(); ++i)
        EXPECT_NEAR(d[i].real(), std::sqrt(factorial_product(big[i])), 1e-9 * d[i].real())
            << big[i];

    const FsArray vacuum(2, 0);
    std::complex<double> v{3, 4};
    vacuum.norm_coefs(&v);
    EXPECT_EQ(v, std::complex<double>(3, 4));
}

TEST(FsArray, CopyOfGeneratedArrayGivesSameStates) {
    const FsArray array(3, 3, FsMask(3, 3, std::string("1**")));
    array.generate();
    const FsArray copy(array);
    EXPECT_EQ(copy.count(), 3u);
    EXPECT_EQ(std::vector<FockState>(copy.begin(), copy.end()),
              std::vector<FockState>(array.begin(), array.end()));
    for (unsigned long long k = 0; k < copy.count(); ++k) EXPECT_EQ(copy.find_idx(array[k]), k);
}

// States above 8 photons do not fit inline: whatever leaves the array must own its bytes, since
// it may outlive the array. Run under the sanitizer build to catch reads of freed bytes. The
// states are initialised straight from the calls, as a copy or a move would detach them anyway.
TEST(FsArray, StatesOfNinePhotonsOutliveTheArray) {
    auto array = std::make_unique<FsArray>(2, 9);
    auto lazy_it = ++array->begin();
    FockState from_lazy_iterator = *lazy_it;
    array->generate();
    FockState indexed = (*array)[3];
    FockState found = *array->find(FockState(Counts{0, 9}));
    auto buffer_it = array->begin();
    FockState from_buffer_iterator = *buffer_it;
    array.reset();
    for (auto const* s : {&from_lazy_iterator, &indexed, &found, &from_buffer_iterator}) {
        EXPECT_FALSE(s->code().is_borrowed());
        EXPECT_EQ(s->n(), 9);
    }
    EXPECT_EQ(from_lazy_iterator.to_str(), "|8,1>");
    EXPECT_EQ(indexed.to_str(), "|6,3>");
    EXPECT_EQ(found.to_str(), "|0,9>");
    EXPECT_EQ(from_buffer_iterator.to_str(), "|9,0>");
}

// A masked space is walked in full to count it, to generate it and to seek an iterator: each walk
// stops at Ctrl-C and leaves the array as it was.
TEST(FsArray, CtrlCStopsTheWalksOverTheSpace) {
    const std::string stars(14, '*');
    const FsArray all(14, 7, FsMask(14, 7, stars));
    const FsArray last(14, 7, FsMask(14, 7, std::string(13, '0') + "7"));
    ASSERT_EQ(all.count(), 77520u);
    ASSERT_EQ(last.count(), 1u);
    {
        test_support::CtrlC ctrl_c;
        const std::string message = "Process interrupted by user.";
        expect_throw_message<KeyboardInterruptException>(
            [] { FsArray(20, 10, FsMask(20, 10, std::string(20, '*'))); }, message);
        expect_throw_message<KeyboardInterruptException>([&] { all.generate(); }, message);
        expect_throw_message<KeyboardInterruptException>(
            [&] { FsArray::const_iterator(&all, 70000ull); }, message);
        expect_throw_message<KeyboardInterruptException>([&] { last.begin(); }, message);
    }
    // Outside any scope a leftover flag stops nothing.
    InterruptSignalHandler::interrupted = true;
    EXPECT_EQ(FsArray(14, 7, FsMask(14, 7, stars)).count(), 77520u);
    Counts seventh(14, 0);
    seventh[13] = 7;
    EXPECT_EQ(*last.begin(), FockState(seventh));
    EXPECT_EQ(all.find_idx(all[77519]), 77519u);
    InterruptSignalHandler::interrupted = false;
}
