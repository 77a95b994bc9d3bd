#include "backends/steiner_tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>

#include "runtime/combinatorics.h"

namespace Backend {

namespace {

// A shape as its multiplicities c_1 ... c_n (index 0 unused).
using Shape = std::vector<int>;

int degree_of(Shape const& c) {
    int d = 0;
    for (std::size_t k = 1; k < c.size(); ++k) d += static_cast<int>(k) * c[k];
    return d;
}

int parts_of(Shape const& c) {
    int p = 0;
    for (std::size_t k = 1; k < c.size(); ++k) p += c[k];
    return p;
}

void partitions_of(int d, int largest, Shape& c, std::vector<Shape>& out) {
    if (d == 0) {
        out.push_back(c);
        return;
    }
    for (int k = std::min(d, largest); k >= 1; --k) {
        ++c[static_cast<std::size_t>(k)];
        partitions_of(d - k, k, c, out);
        --c[static_cast<std::size_t>(k)];
    }
}

double factorial(int k) {
    return std::tgamma(k + 1.0);
}

double shape_cost(Shape const& c, int n) {
    const int d = degree_of(c);
    if (d == 0) return 0;
    double vectors = factorial(n) / factorial(n - parts_of(c));
    for (std::size_t k = 1; k < c.size(); ++k) vectors /= factorial(c[k]);
    return vectors * d *
           static_cast<double>(MathUtils::comb(static_cast<unsigned>(n), static_cast<unsigned>(d)));
}

// The parent by target b: one part b lowered to b - 1.
Shape lowered(Shape c, int b) {
    --c[static_cast<std::size_t>(b)];
    if (b > 1) ++c[static_cast<std::size_t>(b - 1)];
    return c;
}

SteinerRow row_of(Shape const& c, int n, std::vector<int> const& raises) {
    SteinerRow row(static_cast<std::size_t>(n) + 1, 0);
    row[0] = n - parts_of(c);
    for (int k = 1; k <= n; ++k) row[static_cast<std::size_t>(k)] = c[static_cast<std::size_t>(k)];
    row.insert(row.end(), raises.begin(), raises.end());
    return row;
}

// Stored rows: c_0 ... c_n, then the raise list.
const std::vector<SteinerGroup> small_groups = {
    {{2, 0, 0, 1}, {1, 1, 0, 1, 2}},
    {{3, 0, 0, 0, 1}, {2, 1, 0, 0, 1, 2}, {1, 2, 0, 0, 1, 2}, {2, 0, 1, 0, 3}},
    {{4, 0, 0, 0, 0, 1},
     {3, 1, 0, 0, 0, 1, 2},
     {2, 2, 0, 0, 0, 1},
     {3, 0, 1, 0, 0, 1, 3},
     {2, 1, 1, 0, 0, 2},
     {3, 0, 0, 1, 0, 1, 4},
     {1, 3, 0, 0, 0, 1, 2}},
    {{5, 0, 0, 0, 0, 0, 1},
     {4, 1, 0, 0, 0, 0, 1, 2},
     {3, 2, 0, 0, 0, 0, 1},
     {4, 0, 1, 0, 0, 0, 3},
     {4, 0, 0, 1, 0, 0, 1, 4},
     {2, 3, 0, 0, 0, 0, 1, 2},
     {3, 1, 0, 1, 0, 0, 1, 2},
     {4, 0, 0, 0, 1, 0, 1, 5},
     {2, 2, 1, 0, 0, 0, 2},
     {1, 4, 0, 0, 0, 0, 1, 2}},
    {{6, 0, 0, 0, 0, 0, 0, 1},
     {5, 1, 0, 0, 0, 0, 0, 1, 2},
     {4, 2, 0, 0, 0, 0, 0, 1},
     {5, 0, 1, 0, 0, 0, 0, 1, 3},
     {4, 1, 1, 0, 0, 0, 0, 2},
     {5, 0, 0, 1, 0, 0, 0, 4},
     {3, 3, 0, 0, 0, 0, 0, 1},
     {5, 0, 0, 0, 1, 0, 0, 1, 5},
     {4, 0, 2, 0, 0, 0, 0, 1, 3},
     {2, 4, 0, 0, 0, 0, 0, 1, 2},
     {4, 1, 0, 0, 1, 0, 0, 1, 2},
     {5, 0, 0, 0, 0, 1, 0, 1, 6},
     {4, 0, 1, 1, 0, 0, 0, 1, 3},
     {3, 1, 2, 0, 0, 0, 0, 2},
     {2, 3, 1, 0, 0, 0, 0, 2, 3},
     {1, 5, 0, 0, 0, 0, 0, 1, 2}}};

std::vector<SteinerGroup> build_groups() {
    std::vector<SteinerGroup> groups = small_groups;
    for (int n = 7; n <= 14; ++n) groups.push_back(generateSteinerGroup(n));
    return groups;
}

}  // namespace

const std::vector<SteinerGroup> data_steiner = build_groups();

bool isSteinerCompatible(int n) {
    return n >= 2 && n <= 14;
}

SteinerGroup generateSteinerGroup(int n) {
    std::vector<Shape> shapes;  // by degree
    for (int d = 0; d <= n; ++d) {
        Shape c(static_cast<std::size_t>(n) + 1, 0);
        partitions_of(d, d, c, shapes);
    }
    std::map<Shape, std::size_t> index;
    for (std::size_t i = 0; i < shapes.size(); ++i) index[shapes[i]] = i;
    // parents[i]: (parent, target) pairs of shape i; children[i]: the shapes i is a parent of.
    std::vector<std::vector<std::pair<std::size_t, int>>> parents(shapes.size());
    std::vector<std::vector<std::size_t>> children(shapes.size());
    for (std::size_t i = 0; i < shapes.size(); ++i)
        for (int b = 1; b <= n; ++b)
            if (shapes[i][static_cast<std::size_t>(b)] > 0) {
                const std::size_t parent = index.at(lowered(shapes[i], b));
                parents[i].emplace_back(parent, b);
                children[parent].push_back(i);
            }
    // Every shape below n starts as a row; a shape is needed when it is a leaf or a row.
    std::vector<char> kept(shapes.size());
    std::vector<int> kept_parents(shapes.size(), 0);
    for (std::size_t i = 0; i < shapes.size(); ++i) kept[i] = degree_of(shapes[i]) < n;
    for (std::size_t i = 0; i < shapes.size(); ++i)
        for (auto const& [parent, b] : parents[i]) kept_parents[i] += kept[parent];

    // Most costly first: leaving a costly shape out saves the most. A row may go when every
    // needed child keeps another parent.
    std::vector<std::size_t> candidates;
    for (std::size_t i = 1; i < shapes.size(); ++i)
        if (kept[i]) candidates.push_back(i);
    std::stable_sort(candidates.begin(), candidates.end(), [&](std::size_t a, std::size_t b) {
        return shape_cost(shapes[a], n) > shape_cost(shapes[b], n);
    });
    for (bool changed = true; changed;) {
        changed = false;
        for (std::size_t s : candidates) {
            if (!kept[s]) continue;
            bool removable = true;
            for (std::size_t child : children[s]) {
                const bool needed = kept[child] || degree_of(shapes[child]) == n;
                if (needed && kept_parents[child] < 2) removable = false;
            }
            if (!removable) continue;
            kept[s] = 0;
            for (std::size_t child : children[s]) --kept_parents[child];
            changed = true;
        }
    }

    // Each needed shape takes its first kept parent, by ascending target.
    std::vector<std::vector<int>> raises(shapes.size());
    for (std::size_t i = 1; i < shapes.size(); ++i) {
        if (!kept[i] && degree_of(shapes[i]) < n) continue;
        for (auto const& [parent, b] : parents[i])
            if (kept[parent]) {
                raises[parent].push_back(b);
                break;
            }
    }
    SteinerGroup group;
    for (std::size_t i = 0; i < shapes.size(); ++i)
        if (kept[i]) {
            std::sort(raises[i].begin(), raises[i].end());
            group.push_back(row_of(shapes[i], n, raises[i]));
        }
    return group;
}

double steinerWork(SteinerGroup const& group, int n) {
    double work = 0;
    for (auto const& row : group) {
        Shape c(row.begin(), row.begin() + n + 1);
        c[0] = 0;
        work += shape_cost(c, n);
    }
    return work;
}

}  // namespace Backend
