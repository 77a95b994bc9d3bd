#include "backends/slap_steiner_walker.h"

#include <algorithm>
#include <complex>
#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <utility>
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

// Rows per degree 0 ... n - 1 of each group, and its work W(n).
struct GroupFigures {
    int n;
    std::vector<int> rows_per_degree;
    long long work;
};

const std::vector<GroupFigures> group_figures = {
    {2, {1, 1}, 4},
    {3, {1, 1, 2}, 45},
    {4, {1, 1, 2, 3}, 376},
    {5, {1, 1, 2, 2, 4}, 1975},
    {6, {1, 1, 2, 3, 3, 6}, 11946},
    {7, {1, 1, 2, 3, 3, 4, 7}, 58702},
    {8, {1, 1, 2, 3, 3, 4, 7, 10}, 304144},
    {9, {1, 1, 2, 3, 3, 4, 6, 8, 15}, 1560195},
    {10, {1, 1, 2, 3, 3, 4, 5, 7, 11, 18}, 8055070},
    {11, {1, 1, 2, 3, 3, 4, 5, 6, 10, 14, 23}, 39311327},
    {12, {1, 1, 2, 3, 3, 4, 4, 6, 9, 13, 21, 32}, 198495804},
    {13, {1, 1, 2, 3, 3, 4, 5, 6, 7, 11, 15, 24, 42}, 1016769403},
    {14, {1, 1, 2, 3, 3, 4, 4, 6, 6, 10, 13, 22, 31, 52}, 4816964530},
};

// Every shape of degree 0 ... n as its multiplicities c_1 ... c_n, with the shapes it is raised
// from and to, and its cost N d C(n, d).
struct Shapes {
    int n;
    std::vector<Counts> shapes;
    std::map<Counts, std::size_t> index;
    std::vector<int> degree;
    std::vector<long long> cost;
    std::vector<std::vector<std::size_t>> parents, children;

    explicit Shapes(int n_) : n(n_) {
        Counts c(static_cast<std::size_t>(n), 0);
        std::function<void(int, int)> fill = [&](int left, int largest) {
            if (left == 0) {
                shapes.push_back(c);
                return;
            }
            for (int k = std::min(left, largest); k >= 1; --k) {
                ++c[static_cast<std::size_t>(k - 1)];
                fill(left - k, k);
                --c[static_cast<std::size_t>(k - 1)];
            }
        };
        for (int d = 0; d <= n; ++d) fill(d, d);
        const auto factorial = [](int k) {
            long long f = 1;
            for (int i = 2; i <= k; ++i) f *= i;
            return f;
        };
        for (std::size_t i = 0; i < shapes.size(); ++i) {
            index[shapes[i]] = i;
            int d = 0, parts = 0;
            long long vectors = factorial(n);
            for (int k = 1; k <= n; ++k) {
                const int ck = shapes[i][static_cast<std::size_t>(k - 1)];
                d += k * ck;
                parts += ck;
                vectors /= factorial(ck);
            }
            vectors /= factorial(n - parts);
            degree.push_back(d);
            cost.push_back(d == 0 ? 0
                                  : vectors * d *
                                        static_cast<long long>(MathUtils::comb(
                                            static_cast<unsigned>(n), static_cast<unsigned>(d))));
        }
        parents.resize(shapes.size());
        children.resize(shapes.size());
        for (std::size_t i = 0; i < shapes.size(); ++i)
            for (int b = 1; b <= n && degree[i] < n; ++b) {
                if (b > 1 && shapes[i][static_cast<std::size_t>(b - 2)] == 0) continue;
                const std::size_t child = index.at(raised(shapes[i], b));
                parents[child].push_back(i);
                children[i].push_back(child);
            }
    }

    // One part b - 1 of c raised to b (for b = 1, a new part 1).
    static Counts raised(Counts c, int b) {
        if (b > 1) --c[static_cast<std::size_t>(b - 2)];
        ++c[static_cast<std::size_t>(b - 1)];
        return c;
    }
};

Counts multiplicities(Backend::SteinerRow const& row, int n) {
    return Counts(row.begin() + 1, row.begin() + n + 1);
}

std::vector<int> raise_list(Backend::SteinerRow const& row, int n) {
    return std::vector<int>(row.begin() + n + 1, row.end());
}

Counts shape(std::vector<int> const& parts, int n) {
    Counts c(static_cast<std::size_t>(n), 0);
    for (int k : parts) ++c[static_cast<std::size_t>(k - 1)];
    return c;
}

// Invariants of every group: the empty shape raises 1; every row but the root and every partition
// of n is the child of exactly one row and target; every child below n has a row, and every target
// b > 1 names a part b - 1 of its row. Row counts per degree and W as listed.
TEST(SteinerTablesTest, GroupsMeetTheInvariants) {
    ASSERT_EQ(data_steiner.size(), 13u);
    std::size_t total = 0;
    for (auto const& figures : group_figures) {
        const int n = figures.n;
        auto const& group = data_steiner[static_cast<std::size_t>(n - 2)];
        total += group.size();
        std::map<Counts, std::vector<int>> rows;
        std::vector<int> per_degree(static_cast<std::size_t>(n), 0);
        for (auto const& row : group) {
            ASSERT_GT(row.size(), static_cast<std::size_t>(n) + 1) << "n " << n;
            const Counts c = multiplicities(row, n);
            int parts = 0, degree = 0;
            for (int k = 1; k <= n; ++k) {
                parts += c[static_cast<std::size_t>(k - 1)];
                degree += k * c[static_cast<std::size_t>(k - 1)];
            }
            EXPECT_EQ(row[0], n - parts);
            ASSERT_LT(degree, n);
            ++per_degree[static_cast<std::size_t>(degree)];
            EXPECT_TRUE(rows.emplace(c, raise_list(row, n)).second)
                << "n " << n << ": a shape has two rows";
        }
        EXPECT_EQ(per_degree, figures.rows_per_degree) << "n " << n;
        EXPECT_EQ(Backend::steinerWork(group, n), figures.work) << "n " << n;
        const Counts empty(static_cast<std::size_t>(n), 0);
        ASSERT_TRUE(rows.count(empty));
        EXPECT_EQ(rows[empty], std::vector<int>{1});
        std::map<Counts, int> parents;
        for (auto const& [c, raises] : rows)
            for (int b : raises) {
                ASSERT_TRUE(b >= 1 && b <= n) << "n " << n << " b " << b;
                if (b > 1) {
                    ASSERT_GT(c[static_cast<std::size_t>(b - 2)], 0) << "n " << n;
                }
                const Counts child = Shapes::raised(c, b);
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
    EXPECT_EQ(total, 642u);
}

// The least W of any group that meets the invariants, by a sweep over the degrees: best[T] is the
// least work of the rows up to degree d when T is the set of rows of degree d.
long long least_work(Shapes const& s) {
    constexpr long long none = std::numeric_limits<long long>::max() / 4;
    std::vector<std::vector<std::size_t>> levels(static_cast<std::size_t>(s.n) + 1);
    std::vector<std::size_t> bit(s.shapes.size());
    for (std::size_t i = 0; i < s.shapes.size(); ++i) {
        auto& level = levels[static_cast<std::size_t>(s.degree[i])];
        bit[i] = level.size();
        level.push_back(i);
    }
    std::vector<long long> best = {none, 0};  // the root is a row
    for (int d = 0; d < s.n; ++d) {
        auto const& level = levels[static_cast<std::size_t>(d)];
        auto const& next = levels[static_cast<std::size_t>(d) + 1];
        const std::size_t sets = std::size_t{1} << level.size();
        const std::size_t next_sets = std::size_t{1} << next.size();
        std::vector<long long> covering(next_sets, none);
        for (std::size_t rows = 0; rows < sets; ++rows) {
            std::size_t covered = 0;
            for (std::size_t j = 0; j < level.size(); ++j)
                if (rows >> j & 1)
                    for (std::size_t child : s.children[level[j]])
                        covered |= std::size_t{1} << bit[child];
            covering[covered] = std::min(covering[covered], best[rows]);
        }
        if (d == s.n - 1) return covering[next_sets - 1];  // every leaf has a parent
        // A set of rows may take its parents from any rows that cover a superset.
        for (std::size_t j = 0; j < next.size(); ++j)
            for (std::size_t t = 0; t < next_sets; ++t)
                if (!(t >> j & 1))
                    covering[t] = std::min(covering[t], covering[t | std::size_t{1} << j]);
        best.assign(next_sets, none);
        for (std::size_t t = 0; t < next_sets; ++t) {
            if (covering[t] == none) continue;
            long long work = covering[t];
            for (std::size_t j = 0; j < next.size(); ++j)
                if (t >> j & 1) work += s.cost[next[j]];
            best[t] = work;
        }
    }
    return none;
}

TEST(SteinerTablesTest, GroupsUpToEightPhotonsHaveTheLeastWork) {
    for (int n = 2; n <= 8; ++n)
        EXPECT_EQ(Backend::steinerWork(data_steiner[static_cast<std::size_t>(n - 2)], n),
                  least_work(Shapes(n)))
            << "n " << n;
}

// No row can be dropped, and none replaced by a cheaper shape, with every other row and every
// leaf still raised from some row.
TEST(SteinerTablesTest, NoSingleRowLowersTheWork) {
    for (int n = 2; n <= 14; ++n) {
        const Shapes s(n);
        std::vector<char> row(s.shapes.size(), 0);
        for (auto const& r : data_steiner[static_cast<std::size_t>(n - 2)])
            row[s.index.at(multiplicities(r, n))] = 1;
        std::vector<int> row_parents(s.shapes.size(), 0);
        for (std::size_t i = 0; i < s.shapes.size(); ++i)
            for (std::size_t p : s.parents[i]) row_parents[i] += row[p];
        const auto needed = [&](std::size_t i) { return row[i] || s.degree[i] == n; };
        for (std::size_t v = 1; v < s.shapes.size(); ++v) {
            if (!row[v]) continue;
            bool droppable = true;
            for (std::size_t c : s.children[v])
                if (needed(c) && row_parents[c] < 2) droppable = false;
            EXPECT_FALSE(droppable) << "n " << n << ": row " << v << " can be dropped";
            for (std::size_t u = 1; u < s.shapes.size(); ++u) {
                if (row[u] || s.degree[u] == n || s.cost[u] >= s.cost[v]) continue;
                bool raised = false;
                for (std::size_t p : s.parents[u]) raised = raised || (row[p] && p != v);
                if (!raised) continue;
                bool replaceable = true;
                for (std::size_t c : s.children[v]) {
                    if (c == u || !needed(c)) continue;
                    const bool from_u = std::find(s.children[u].begin(), s.children[u].end(), c) !=
                                        s.children[u].end();
                    if (row_parents[c] - 1 + (from_u ? 1 : 0) < 1) replaceable = false;
                }
                EXPECT_FALSE(replaceable) << "n " << n << ": row " << v << " by " << u;
            }
        }
    }
}

// Rows the walk's visit order depends on: shape (parts), then the raise list in push order.
struct TellingRow {
    int n;
    std::vector<int> parts;
    std::vector<int> raises;
};

TEST(SteinerTablesTest, TellingRows) {
    std::vector<TellingRow> cases = {
        {7, {3}, {4}},
        {7, {4, 2}, {1, 3, 5}},
        {7, {2, 2}, {1}},
        {8, {2, 2, 2, 1}, {1, 2, 3}},
        {8, {4}, {5}},
        {11, {8, 2}, {1, 9, 3}},
        {13, {8, 2, 2}, {1, 9, 3}},
        {13, {5, 4, 1, 1, 1}, {1, 2, 5, 6}},
        {14, {10, 2, 1}, {1, 2, 3, 11}},
        {14, {8, 3, 2}, {1, 9, 3, 4}},
        {14, {10, 3}, {11}},
        {14, {8, 1, 1, 1, 1, 1}, {1, 9, 2}},
    };
    for (int n = 2; n <= 14; ++n) {
        cases.push_back({n, {}, {1}});
        cases.push_back({n, {1}, {1, 2}});
        cases.push_back({n, std::vector<int>(static_cast<std::size_t>(n - 1), 1), {1, 2}});
    }
    for (auto const& [n, parts, raises] : cases) {
        std::map<Counts, std::vector<int>> rows;
        for (auto const& row : data_steiner[static_cast<std::size_t>(n - 2)])
            rows[multiplicities(row, n)] = raise_list(row, n);
        const auto found = rows.find(shape(parts, n));
        ASSERT_NE(found, rows.end()) << "n " << n;
        EXPECT_EQ(found->second, raises) << "n " << n;
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

double update_cost(int n, int d) {
    return d *
           static_cast<double>(MathUtils::comb(static_cast<unsigned>(n), static_cast<unsigned>(d)));
}

// The naive walk's internal work: C(m + d - 1, d) nodes of each degree d < n.
double naive_work(int m, int n) {
    double work = 0;
    for (int d = 1; d < n; ++d)
        work +=
            update_cost(n, d) * static_cast<double>(MathUtils::comb(
                                    static_cast<unsigned>(m + d - 1), static_cast<unsigned>(d)));
    return work;
}

// Internal nodes weighted by their update cost d C(n, d): for m = n the walk's sum is W(n), about
// 11 % of the naive walk's for n = 14.
TEST(SLAPSteinerWalkerTest, InternalWorkOfTheWalk) {
    for (auto const& figures : group_figures) {
        const int n = figures.n;
        SLAPSteinerWalker walker(n, n);
        double work = 0;
        std::vector<char> seen(walker.getFinalSize(), 0);
        long long leaves = 0;
        while (!walker.complete()) {
            if (walker.isOnLeaf()) {
                ++leaves;
                ++seen[walker.getResultIndex()];
            } else
                work += update_cost(n, walker.getDegree());
            walker.computeNextNode();
        }
        EXPECT_EQ(work, static_cast<double>(figures.work)) << "n " << n;
        EXPECT_EQ(leaves, static_cast<long long>(seen.size())) << "n " << n;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), static_cast<std::ptrdiff_t>(seen.size()))
            << "n " << n;
        if (n >= 5) {
            EXPECT_LT(work, naive_work(n, n)) << "n " << n;
        }
    }
    EXPECT_NEAR(static_cast<double>(group_figures.back().work) / naive_work(14, 14), 0.106, 0.001);
}

// With more modes than photons, wide shapes weigh more: about 28 % of the naive work for n = 14
// photons in m = 28 modes, from the occupation vectors of each row's shape in m modes.
TEST(SLAPSteinerWalkerTest, InternalWorkWithTwiceTheModes) {
    const int n = 14, m = 28;
    double work = 0;
    for (auto const& row : data_steiner[static_cast<std::size_t>(n - 2)]) {
        int d = 0, parts = 0;
        double arrangements = 1;  // of the parts among themselves
        for (int k = 1; k <= n; ++k) {
            const int ck = row[static_cast<std::size_t>(k)];
            d += k * ck;
            for (int i = 1; i <= ck; ++i) arrangements *= static_cast<double>(++parts) / i;
        }
        if (d == 0) continue;
        work += update_cost(n, d) * arrangements *
                static_cast<double>(
                    MathUtils::comb(static_cast<unsigned>(m), static_cast<unsigned>(parts)));
    }
    EXPECT_NEAR(work / naive_work(m, n), 0.282, 0.001);
}

// Every state a leaf exactly once, at its natural index.
TEST(SLAPSteinerWalkerTest, EveryStateIsALeafOnce) {
    for (int n = 2; n <= 14; ++n)
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

// The back-end with the Steiner option against itself without: amplitudes and probabilities, on
// inputs of one photon per mode and bunched ones, up to 14 photons.
struct BackEndCase {
    int m;
    Counts input;
};

class SteinerBackEndTest : public ::testing::TestWithParam<BackEndCase> {};

TEST_P(SteinerBackEndTest, SameAsWithoutTheOption) {
    auto const& [m, input] = GetParam();
    std::mt19937 engine(static_cast<unsigned>(m * 31 + FockState(input).n()));
    Backend::SLAP plain;
    plain.setUnitary(haar_unitary(m, engine));
    plain.setInputState(FockState(input));
    Backend::SLAP steiner = plain;
    steiner.setSteiner(true);
    const auto expected = plain.getAmplitudes();
    const auto actual = steiner.getAmplitudes();
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_NEAR(std::abs(actual[i] - expected[i]), 0.0, 1e-12) << "output " << i;
    const auto expected_probabilities = plain.computeProbabilities();
    const auto probabilities = steiner.computeProbabilities();
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_NEAR(probabilities[i], expected_probabilities[i], 1e-12) << "output " << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, SteinerBackEndTest,
                         ::testing::Values(BackEndCase{5, {2, 0, 1, 1, 1}},
                                           BackEndCase{7, {1, 1, 1, 1, 1, 1, 1}},
                                           BackEndCase{9, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
                                           BackEndCase{10, {3, 0, 2, 1, 0, 1, 1, 1, 1, 0}},
                                           BackEndCase{11, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
                                           BackEndCase{8, {2, 1, 1, 1, 1, 2, 3, 1}},
                                           BackEndCase{6, {3, 2, 2, 2, 2, 2}},
                                           BackEndCase{5, {4, 3, 3, 2, 2}}));

// Many modes: the index table of the leaves must not overflow where the walk never reads it.
TEST(SLAPSteinerWalkerTest, ManyModes) {
    std::mt19937 engine(12);
    for (auto [m, counts] :
         {std::pair{68, Counts{0, 1, 1}}, {70, Counts{3}}, {40, Counts{1, 1, 1, 1, 1}}}) {
        const Matrix u = haar_unitary(m, engine);
        counts.resize(static_cast<std::size_t>(m), 0);
        Backend::SLAP plain;
        plain.setUnitary(u);
        plain.setInputState(FockState(counts));
        Backend::SLAP steiner = plain;
        steiner.setSteiner(true);
        const auto expected = plain.getAmplitudes();
        const auto actual = steiner.getAmplitudes();
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_NEAR(std::abs(actual[i] - expected[i]), 0.0, 1e-12)
                << "m " << m << " output " << i;
    }
}

}  // namespace
