#include "backends/slap_steiner_walker.h"

#include <complex>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slap.h"
#include "backends/slap_computer.h"
#include "backends/slap_computer_unrolled.h"
#include "backends/slap_walker.h"
#include "backends/steiner_tables.h"
#include "runtime/combinatorics.h"
#include "slap_walk.h"
#include "test_support.h"

namespace {

using namespace backend_reference;
using Backend::data_steiner;
using Backend::SLAPSteinerWalker;
using test_support::all_counts;

struct Visit {
    std::vector<Counts> nodes;
    std::vector<Counts> leaves;
    int internal = 0;
};

Visit visit(int m, int n) {
    Visit v;
    SLAPSteinerWalker walker(m, n);
    while (!walker.complete()) {
        v.nodes.push_back(walker.getState());
        if (walker.isOnLeaf())
            v.leaves.push_back(walker.getState());
        else
            ++v.internal;
        walker.computeNextNode();
    }
    return v;
}

TEST(SteinerTablesTest, Compatibility) {
    for (int n : {0, 1, 15}) EXPECT_FALSE(Backend::isSteinerCompatible(n)) << n;
    for (int n : {2, 14}) EXPECT_TRUE(Backend::isSteinerCompatible(n)) << n;
}

// Invariants of every group: the empty shape raises 1; every row but the root and every partition
// of n is the child of exactly one row and target; every child below n has a row, and every target
// b > 1 names a part b - 1 of its row.
TEST(SteinerTablesTest, GroupsMeetTheInvariants) {
    ASSERT_EQ(data_steiner.size(), 13u);
    const std::vector<std::size_t> stored_rows = {2, 4, 7, 10, 16};
    for (int n = 2; n <= 14; ++n) {
        auto const& group = data_steiner[static_cast<std::size_t>(n - 2)];
        if (n <= 6) {
            EXPECT_EQ(group.size(), stored_rows[static_cast<std::size_t>(n - 2)]);
        }
        std::map<Counts, std::vector<int>> rows;  // c_1 ... c_n -> raise list
        for (auto const& row : group) {
            ASSERT_GT(row.size(), static_cast<std::size_t>(n) + 1) << "n " << n;
            Counts c(row.begin() + 1, row.begin() + n + 1);
            int parts = 0;
            for (int k : c) parts += k;
            EXPECT_EQ(row[0], n - parts);
            EXPECT_TRUE(rows.emplace(c, std::vector<int>(row.begin() + n + 1, row.end())).second)
                << "n " << n << ": a shape has two rows";
        }
        const Counts empty(static_cast<std::size_t>(n), 0);
        ASSERT_TRUE(rows.count(empty));
        EXPECT_EQ(rows[empty], std::vector<int>{1});
        std::map<Counts, int> parents;
        for (auto const& [c, raises] : rows)
            for (int b : raises) {
                Counts child = c;
                if (b > 1) {
                    ASSERT_GT(c[static_cast<std::size_t>(b - 2)], 0) << "n " << n << " b " << b;
                    --child[static_cast<std::size_t>(b - 2)];
                }
                ++child[static_cast<std::size_t>(b - 1)];
                int degree = 0;
                for (int k = 1; k <= n; ++k) degree += k * child[static_cast<std::size_t>(k - 1)];
                if (degree < n) {
                    EXPECT_TRUE(rows.count(child)) << "n " << n << ": child without row";
                }
                ++parents[child];
            }
        for (auto const& [c, raises] : rows)
            if (c != empty) {
                EXPECT_EQ(parents[c], 1) << "n " << n;
            }
        int leaves = 0;
        for (auto const& [c, count] : parents) {
            EXPECT_EQ(count, 1) << "n " << n;
            int degree = 0;
            for (int k = 1; k <= n; ++k) degree += k * c[static_cast<std::size_t>(k - 1)];
            leaves += degree == n;
        }
        EXPECT_EQ(leaves, MathUtils::partitions(n, n)) << "n " << n;
    }
}

TEST(SLAPSteinerWalkerTest, VisitOrders) {
    const Visit three = visit(3, 3);
    EXPECT_EQ(three.nodes, (std::vector<Counts>{{1, 0, 0},
                                                {2, 0, 0},
                                                {3, 0, 0},
                                                {1, 1, 0},
                                                {2, 1, 0},
                                                {1, 2, 0},
                                                {1, 1, 1},
                                                {1, 0, 1},
                                                {2, 0, 1},
                                                {1, 0, 2},
                                                {0, 1, 0},
                                                {0, 2, 0},
                                                {0, 3, 0},
                                                {0, 1, 1},
                                                {0, 2, 1},
                                                {0, 1, 2},
                                                {0, 0, 1},
                                                {0, 0, 2},
                                                {0, 0, 3}}));
    const Visit two = visit(3, 2);
    EXPECT_EQ(two.nodes, (std::vector<Counts>{{1, 0, 0},
                                              {2, 0, 0},
                                              {1, 1, 0},
                                              {1, 0, 1},
                                              {0, 1, 0},
                                              {0, 2, 0},
                                              {0, 1, 1},
                                              {0, 0, 1},
                                              {0, 0, 2}}));
    EXPECT_EQ(visit(6, 6).internal, 311);
    // Fewer internal nodes than the naive walk's sum of C(m + d - 1, d) over d < n.
    for (int n = 5; n <= 9; ++n) {
        long long naive = 0;
        for (int d = 1; d < n; ++d)
            naive += MathUtils::comb(static_cast<unsigned>(n + d - 1), static_cast<unsigned>(d));
        EXPECT_LT(visit(n, n).internal, naive) << n;
    }
    const Visit five = visit(2, 5);
    EXPECT_EQ(five.leaves.size(), 6u);
    EXPECT_NE(std::find(five.nodes.begin(), five.nodes.end(), Counts{1, 1}), five.nodes.end());
    SLAPSteinerWalker none(0, 3);
    EXPECT_TRUE(none.complete());
    EXPECT_EQ(none.getFinalSize(), 0u);
}

// Every state a leaf exactly once, at its natural index.
TEST(SLAPSteinerWalkerTest, EveryStateIsALeafOnce) {
    for (int n = 2; n <= 8; ++n)
        for (int m = 1; m <= 6; ++m) {
            const std::vector<Counts> expected = all_counts(m, n);
            std::vector<int> seen(expected.size(), 0);
            SLAPSteinerWalker walker(m, n);
            while (!walker.complete()) {
                if (walker.isOnLeaf()) {
                    const std::size_t index = walker.getResultIndex();
                    ASSERT_LT(index, expected.size());
                    EXPECT_EQ(walker.getState(), expected[index]);
                    ++seen[index];
                }
                walker.computeNextNode();
            }
            EXPECT_EQ(seen, std::vector<int>(expected.size(), 1)) << "m " << m << " n " << n;
            EXPECT_EQ(walker.getFinalSize(), expected.size());
        }
}

template <typename Computer>
void expect_same_as_naive(Matrix const& u, FockState const& input) {
    const auto steiner = slap_walk::amplitudes<SLAPSteinerWalker, Computer>(u, input);
    const auto naive = slap_walk::amplitudes<Backend::SLAPWalkerNaive, Computer>(u, input);
    ASSERT_EQ(steiner.size(), naive.size());
    for (std::size_t i = 0; i < naive.size(); ++i)
        ASSERT_NEAR(std::abs(steiner[i] - naive[i]), 0.0, 1e-12)
            << "input " << input.to_str() << " output " << i;
}

// Every input up to 8 photons on up to 4 modes, every tenth on 5 and 6 modes; up to 14 photons
// on 2 modes, every seventh input on 3.
TEST(SLAPSteinerWalkerTest, AmplitudesEqualTheNaiveWalk) {
    std::mt19937 engine(6);
    for (int m = 1; m <= 6; ++m) {
        const Matrix u = haar_unitary(m, engine);
        for (int n = 2; n <= 8; ++n) {
            const auto inputs = all_counts(m, n);
            for (std::size_t i = 0; i < inputs.size(); i += m <= 4 ? 1 : 10) {
                Counts const& counts = inputs[i];
                if (n <= 4)
                    expect_same_as_naive<Backend::SLAPComputer_unrolled>(u, FockState(counts));
                expect_same_as_naive<Backend::SLAPComputer>(u, FockState(counts));
            }
        }
    }
    for (int m = 2; m <= 3; ++m) {
        const Matrix u = haar_unitary(m, engine);
        for (int n = 9; n <= 14; ++n) {
            const auto inputs = all_counts(m, n);
            for (std::size_t i = 0; i < inputs.size(); i += m == 2 ? 1 : 7)
                expect_same_as_naive<Backend::SLAPComputer>(u, FockState(inputs[i]));
        }
    }
}

TEST(SLAPSteinerWalkerTest, BackEndOption) {
    std::mt19937 engine(2);
    const Matrix u = haar_unitary(5, engine);
    Backend::SLAP plain;
    plain.setUnitary(u);
    plain.setInputState(FockState(Counts{2, 0, 1, 1, 1}));
    Backend::SLAP steiner = plain;
    steiner.setSteiner(true);
    const auto expected = plain.getAmplitudes();
    const auto actual = steiner.getAmplitudes();
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(std::abs(actual[i] - expected[i]), 0.0, 1e-12);
}

}  // namespace
