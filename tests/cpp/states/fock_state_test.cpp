#include "states/fock_state.h"

#include <algorithm>
#include <functional>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "states/parsed_basic_state.h"

namespace {

using Counts = std::vector<int>;

FockState fs(Counts counts) {
    return FockState(counts);
}

std::vector<unsigned char> code_of(FockState const& s) {
    return {s.code().begin(), s.code().end()};
}

using test_support::expect_throw_message;

using test_support::all_counts;

}  // namespace

namespace {

struct ConstructorErrorCase {
    const char* name;
    std::function<void()> build;
    const char* message;
};

}  // namespace

class FockStateConstructorError : public testing::TestWithParam<ConstructorErrorCase> {};

TEST_P(FockStateConstructorError, ThrowsRuntimeErrorWithMessage) {
    expect_throw_message<std::runtime_error>(GetParam().build, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FockStateConstructorError,
    testing::Values(
        ConstructorErrorCase{"Modes257", [] { FockState(257); },
                             "Fock state size is capped from 0 to 256 modes"},
        ConstructorErrorCase{"NegativeModes", [] { FockState(-1); },
                             "Fock state size is capped from 0 to 256 modes"},
        ConstructorErrorCase{"PairModes", [] { FockState(300, 1); },
                             "Fock state size is capped from 0 to 256 modes"},
        ConstructorErrorCase{"Photons257", [] { FockState(3, 257); },
                             "Fock state number of photons is capped to 256"},
        ConstructorErrorCase{"NegativePhotons", [] { FockState(3, -1); },
                             "Fock state number of photons is capped to 256"},
        ConstructorErrorCase{"PhotonsWithoutModes", [] { FockState(0, 2); },
                             "cannot place 2 photons in a Fock state of 0 modes"},
        ConstructorErrorCase{"CountTooLarge",
                             [] {
                                 fs({1, 300});
                             },
                             "invalid photon count '300' for mode 1"},
        ConstructorErrorCase{"NegativeCount", [] { fs({-1}); },
                             "invalid photon count '-1' for mode 0"},
        // Counts are checked in index order before their sum.
        ConstructorErrorCase{"FirstBadCountWins",
                             [] {
                                 fs({200, 100, -3, 999});
                             },
                             "invalid photon count '-3' for mode 2"},
        ConstructorErrorCase{"SumTooLarge",
                             [] {
                                 fs({200, 100});
                             },
                             "Fock state number of photons is capped to 256"},
        ConstructorErrorCase{"VectorTooLong", [] { fs(Counts(257, 0)); },
                             "Fock state size is capped from 0 to 256 modes"},
        ConstructorErrorCase{"LengthBeforeCounts", [] { fs(Counts(257, -1)); },
                             "Fock state size is capped from 0 to 256 modes"},
        ConstructorErrorCase{"TextCountTooLarge", [] { FockState(std::string("|1,300>")); },
                             "invalid photon count '300' for mode 1"},
        ConstructorErrorCase{"TextTooManyPhotons", [] { FockState(std::string("|200,100>")); },
                             "Fock state number of photons is capped to 256"},
        ConstructorErrorCase{
            "TextWithTags", [] { FockState(std::string("|{0}>")); },
            "Cannot initialise simple FockState from noisy or annotated Fock state."},
        ConstructorErrorCase{
            "TextWithEmptyTaggedMode", [] { FockState(std::string("|1,0{1}>")); },
            "Cannot initialise simple FockState from noisy or annotated Fock state."},
        ConstructorErrorCase{
            "TextWithAnnotations", [] { FockState(std::string("|{a:1},0>")); },
            "Cannot initialise simple FockState from noisy or annotated Fock state."},
        // Counts are checked before the tags.
        ConstructorErrorCase{"ParsedCountsFirst", [] { FockState(ParsedBasicState("|{0},300>")); },
                             "invalid photon count '300' for mode 1"}),
    [](const testing::TestParamInfo<ConstructorErrorCase>& info) { return info.param.name; });

TEST(FockState, LimitsAreInclusive) {
    EXPECT_EQ(FockState(256).m(), 256);
    const FockState full(256, 256);
    EXPECT_EQ(full.n(), 256);
    EXPECT_EQ(full[0], 256);
    EXPECT_EQ(fs(Counts(256, 1)).n(), 256);
    EXPECT_EQ(FockState(0, 0), FockState());
}

TEST(FockState, EmptyStatesAreEqual) {
    const FockState empty = fs({});
    EXPECT_EQ(empty.m(), 0);
    EXPECT_EQ(empty.n(), 0);
    EXPECT_EQ(empty.to_str(), "|>");
    EXPECT_EQ(empty, FockState());
    EXPECT_EQ(empty, FockState(0));
    EXPECT_EQ(FockState(3).to_str(), "|0,0,0>");
}

TEST(FockState, AccessorsReadTheCode) {
    const FockState s = fs({1, 0, 2});
    EXPECT_EQ(s.to_str(), "|1,0,2>");
    EXPECT_EQ(code_of(s), (std::vector<unsigned char>{0, 2, 2}));
    EXPECT_EQ(s.m(), 3);
    EXPECT_EQ(s.n(), 3);
    EXPECT_EQ(s.photon2mode(1), 2);
    EXPECT_EQ(s.mode2photon(0), 0);
    EXPECT_EQ(s.mode2photon(2), 1);
    EXPECT_EQ(s.mode2photon(1), -1);
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 2);
    EXPECT_EQ(s.to_vect(), (Counts{1, 0, 2}));
    expect_throw_message<std::out_of_range>([&] { (void)s[3]; }, "invalid mode");
    expect_throw_message<std::out_of_range>([&] { (void)s[-1]; }, "invalid mode");
    expect_throw_message<std::out_of_range>([&] { s.photon2mode(3); }, "photon index out of range");
    expect_throw_message<std::out_of_range>([&] { s.photon2mode(-1); },
                                            "photon index out of range");
    expect_throw_message<std::out_of_range>([&] { s.mode2photon(-1); }, "mode index out of range");
    expect_throw_message<std::out_of_range>([&] { s.mode2photon(3); }, "mode index out of range");
}

TEST(FockState, TextGivesTheSameStateAsCounts) {
    const std::vector<std::pair<std::string, Counts>> cases{{"|1,0,2>", {1, 0, 2}},
                                                            {"  |  1 , 0 ,2 >  ", {1, 0, 2}},
                                                            {"|>", {}},
                                                            {"| >", {}},
                                                            {"|1 2>", {2}},
                                                            {"|9,0>", {9, 0}}};
    for (const auto& [text, counts] : cases) {
        EXPECT_EQ(FockState(text), fs(counts)) << text;
        EXPECT_EQ(FockState(ParsedBasicState(text.c_str())), fs(counts)) << text;
    }
    EXPECT_EQ(FockState(std::string("|1,0,2>")).hash(), 0xcd5d99c015f881e1ULL);
    expect_throw_message<std::invalid_argument>(
        [] { FockState(std::string("|1,x>")); },
        "Invalid character. Should be a digit.\n|1,x>\n  ^");
    EXPECT_THROW(FockState(std::string("1>")), std::invalid_argument);
}

TEST(FockState, ToVectReusesTheCallersVector) {
    std::vector<int> out{7, 7, 7, 7, 7, 7};
    fs({0, 3, 1}).to_vect(out);
    EXPECT_EQ(out, (Counts{0, 3, 1}));
    FockState().to_vect(out);
    EXPECT_TRUE(out.empty());
}

TEST(FockState, TextFormAndFormatSpecifications) {
    const FockState s = fs({12, 0, 3});
    EXPECT_EQ(fmt::format("{}", s), "|12,0,3>");
    EXPECT_EQ(fmt::format("{:h}", s), "|12,0,3>");
    std::ostringstream os;
    os << s;
    EXPECT_EQ(os.str(), "|12,0,3>");
    expect_throw_message<fmt::format_error>([&] { (void)fmt::format(fmt::runtime("{:x}"), s); },
                                            "invalid format for FockState x}");
    expect_throw_message<fmt::format_error>([&] { (void)fmt::format(fmt::runtime("{:hh}"), s); },
                                            "invalid format for FockState hh}");
}

TEST(FockState, IncrementWalksTheNaturalOrder) {
    FockState s(3, 2);
    std::vector<std::string> seen{s.to_str()};
    while (s.increment()) seen.push_back(s.to_str());
    EXPECT_EQ(seen, (std::vector<std::string>{"|2,0,0>", "|1,1,0>", "|1,0,1>", "|0,2,0>", "|0,1,1>",
                                              "|0,0,2>"}));
    EXPECT_EQ(s, fs({2, 0, 0}));

    FockState vacuum(4);
    EXPECT_FALSE(vacuum.increment());
    EXPECT_EQ(vacuum, FockState(4));
}

class FockStateNaturalOrder : public testing::TestWithParam<std::pair<int, int>> {};

// Against a brute-force enumeration; 9 and more photons exercise the owned heap code.
TEST_P(FockStateNaturalOrder, MatchesDescendingCountOrder) {
    const auto [m, n] = GetParam();
    const std::vector<Counts> expected = all_counts(m, n);
    FockState s(m, n);
    std::size_t i = 0;
    FockState previous;
    do {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(s.to_vect(), expected[i]) << i;
        if (i > 0) {
            EXPECT_LT(previous, s);
        }
        previous = s;
        ++i;
    } while (s.increment());
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(s, FockState(m, n));
}

INSTANTIATE_TEST_SUITE_P(Sizes, FockStateNaturalOrder,
                         testing::Values(std::pair{1, 3}, std::pair{2, 1}, std::pair{3, 2},
                                         std::pair{4, 8}, std::pair{4, 9}, std::pair{3, 12},
                                         std::pair{5, 4}));

TEST(FockState, OrderComparesModesThenPhotonsThenCode) {
    struct Case {
        FockState smaller, larger;
    };
    const std::vector<Case> cases{
        {fs({1}), fs({0, 0})},     // fewer modes first, whatever the photons
        {fs({0, 0}), fs({1, 0})},  // fewer photons first
        {fs({2, 0}), fs({1, 1})},  // photons in lower modes first
        {fs({1, 1}), fs({0, 2})},    {fs({9, 0}), fs({8, 1})},  // heap codes
        {FockState(), FockState(1)},
    };
    for (const auto& [a, b] : cases) {
        SCOPED_TRACE(a.to_str() + " < " + b.to_str());
        EXPECT_LT(a.spaceship(b), 0);
        EXPECT_GT(b.spaceship(a), 0);
        EXPECT_TRUE(a < b && a <= b && b > a && b >= a);
        EXPECT_FALSE(a == b || b < a || a >= b);
        EXPECT_TRUE(a != b);
        EXPECT_EQ(a.spaceship(a), 0);
        EXPECT_TRUE(a <= a && a >= a);
    }
}

TEST(FockState, HashReproducesKnownValues) {
    EXPECT_EQ(fs({1, 0, 2}).hash(), 0xcd5d99c015f881e1ULL);
    EXPECT_EQ(FockState().hash(), 0xd53e17e9696627e0ULL);
    EXPECT_EQ(fs({9, 0}).hash(), 0xa3b8abfa9e1bdc0dULL);
    EXPECT_EQ(std::hash<FockState>{}(fs({1, 0, 2})), 0xcd5d99c015f881e1ULL);
}

TEST(FockState, HashSeparatesTheStatesOfASpace) {
    std::unordered_set<FockState> seen;
    std::unordered_set<std::uint64_t> hashes;
    FockState s(5, 4);
    do {
        seen.insert(s);
        hashes.insert(s.hash());
    } while (s.increment());
    EXPECT_EQ(seen.size(), 70u);
    EXPECT_EQ(hashes.size(), 70u);
    // Same code, different mode count.
    EXPECT_NE(fs({1, 0}).hash(), fs({1, 0, 0}).hash());
}

class FockStateStorage : public testing::TestWithParam<int> {};

// 8 photons stay inline; from 9 the code is an owned array. Both behave the same.
TEST_P(FockStateStorage, CopiesAndMovesKeepTheValue) {
    const int n = GetParam();
    const FockState s = fs({n - 3, 1, 2});
    EXPECT_EQ(s.code().is_inline(), n <= 8);
    EXPECT_EQ(s.code().is_owned(), n > 8);
    EXPECT_EQ(s.code().word(),
              n <= 8 ? static_cast<std::uint32_t>(n) : (static_cast<std::uint32_t>(n) | 0x2000u));

    FockState copy = s;
    EXPECT_EQ(copy, s);
    EXPECT_EQ(copy.hash(), s.hash());
    if (n > 8) {
        EXPECT_NE(copy.data(), s.data());
    }

    FockState moved = std::move(copy);
    EXPECT_EQ(moved, s);
    EXPECT_EQ(copy.m(), 0);  // NOLINT(bugprone-use-after-move): a moved-from state is empty
    EXPECT_EQ(copy.n(), 0);

    FockState assigned(2, 1);
    assigned = moved;
    EXPECT_EQ(assigned, s);
    assigned = assigned;
    EXPECT_EQ(assigned, s);
    assigned = FockState(1, 1);
    EXPECT_EQ(assigned, fs({1}));
    assigned = std::move(moved);
    EXPECT_EQ(assigned, s);
    EXPECT_EQ(assigned.to_str(), fmt::format("|{},1,2>", n - 3));
}

INSTANTIATE_TEST_SUITE_P(PhotonCounts, FockStateStorage, testing::Values(3, 8, 9, 40));

TEST(FockState, BorrowedCodeIsDetachedByCopyMoveAndIncrement) {
    const std::vector<unsigned char> bytes{0, 0, 0, 0, 1, 1, 1, 2, 2, 3};  // |4,3,2,1>
    auto borrowed = [&] {
        return FockState(4, FockState::code_t::borrow(bytes.data(), bytes.size()));
    };

    const FockState view = borrowed();
    EXPECT_TRUE(view.code().is_borrowed());
    EXPECT_EQ(view.data(), bytes.data());
    EXPECT_EQ(view, fs({4, 3, 2, 1}));
    EXPECT_EQ(view.hash(), fs({4, 3, 2, 1}).hash());

    const FockState copy = view;
    EXPECT_TRUE(copy.code().is_owned());
    EXPECT_EQ(copy, view);

    FockState source = borrowed();
    const FockState moved = std::move(source);
    EXPECT_TRUE(moved.code().is_owned());
    EXPECT_EQ(moved, view);

    FockState assigned;
    assigned = borrowed();
    EXPECT_TRUE(assigned.code().is_owned());
    EXPECT_EQ(assigned, view);

    FockState cursor = borrowed();
    EXPECT_TRUE(cursor.increment());
    EXPECT_TRUE(cursor.code().is_owned());
    EXPECT_EQ(cursor, fs({4, 3, 1, 2}));
    EXPECT_EQ(bytes, (std::vector<unsigned char>{0, 0, 0, 0, 1, 1, 1, 2, 2, 3}));

    // Short codes are copied inline rather than borrowed.
    const FockState small(4, FockState::code_t::borrow(bytes.data() + 5, 5));
    EXPECT_TRUE(small.code().is_inline());
    EXPECT_EQ(small, fs({0, 2, 2, 1}));
}

TEST(FockState, BufferTakingConstructorKeepsTheBuffer) {
    FockState::code_t code(10);
    std::fill_n(code.mutable_data(), 10, 1);
    const unsigned char* bytes = code.data();
    const FockState s(2, std::move(code));
    EXPECT_EQ(code.word(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(s.data(), bytes);
    EXPECT_EQ(s, fs({0, 10}));
}

TEST(FockState, CodeBufferRejectsMoreThan8191Bytes) {
    EXPECT_EQ(FockState::code_t(8191).size(), 8191u);
    EXPECT_THROW(FockState::code_t(8192), std::runtime_error);
}
