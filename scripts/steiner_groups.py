#!/usr/bin/env python3
"""Builds the shape trees of the Steiner walk and prints them as rows of the initialiser of
`data_steiner` in src/backends/steiner_tables.cpp (by default n = 7 ... 14; the groups up to 6
come out as the same sets of rows as the stored ones, in another order).

A tree over shapes (partitions of the photons placed so far) is a set of rows: the empty shape,
and shapes that each have a parent row, such that every partition of n has a parent row. A row
of degree d costs N d C(n, d) coefficient updates, N its occupation vectors in n modes; the
search takes the set of least total cost. The row count of each degree and a few rows (shape and
raise list, in order) are fixed inputs, those of the tables the walker was designed with; within
them the cost is least (for n = 14 the least cost without the fixed counts is 0.02 % lower).
Ties are broken by the least sum of shape indices, so the output is reproducible.

Offline tool, not part of the build: it needs SciPy (its HiGHS integer programming), which the
project itself does not use. Run it with a Python that has SciPy:

    python3 scripts/steiner_groups.py > /tmp/groups.inc    # a few minutes
"""

import argparse
import math
import sys

# Rows per degree 0 ... n - 1.
ROWS_PER_DEGREE = {
    2: [1, 1],
    3: [1, 1, 2],
    4: [1, 1, 2, 3],
    5: [1, 1, 2, 2, 4],
    6: [1, 1, 2, 3, 3, 6],
    7: [1, 1, 2, 3, 3, 4, 7],
    8: [1, 1, 2, 3, 3, 4, 7, 10],
    9: [1, 1, 2, 3, 3, 4, 6, 8, 15],
    10: [1, 1, 2, 3, 3, 4, 5, 7, 11, 18],
    11: [1, 1, 2, 3, 3, 4, 5, 6, 10, 14, 23],
    12: [1, 1, 2, 3, 3, 4, 4, 6, 9, 13, 21, 32],
    13: [1, 1, 2, 3, 3, 4, 5, 6, 7, 11, 15, 24, 42],
    14: [1, 1, 2, 3, 3, 4, 4, 6, 6, 10, 13, 22, 31, 52],
}

# Fixed rows beyond ( ): 1, (1): 1, 2 and (1, ..., 1) of degree n - 1: 1, 2, which every group
# has. A fixed row raises exactly these targets, in this order.
FIXED_ROWS = {
    7: {(3,): [4], (4, 2): [1, 3, 5], (2, 2): [1]},
    8: {(2, 2, 2, 1): [1, 2, 3], (4,): [5]},
    11: {(8, 2): [1, 9, 3]},
    13: {(8, 2, 2): [1, 9, 3], (5, 4, 1, 1, 1): [1, 2, 5, 6]},
    14: {
        (10, 2, 1): [1, 2, 3, 11],
        (8, 3, 2): [1, 9, 3, 4],
        (10, 3): [11],
        (8, 1, 1, 1, 1, 1): [1, 9, 2],
    },
}


def fixed_rows(n):
    rows = {(): [1], (1,): [1, 2], (1,) * (n - 1): [1, 2]}
    rows.update(FIXED_ROWS.get(n, {}))
    return rows


def partitions(d, largest=None):
    """Partitions of d, parts largest first, in descending lexicographic order."""
    largest = d if largest is None else largest
    if d == 0:
        yield ()
        return
    for k in range(min(d, largest), 0, -1):
        for rest in partitions(d - k, k):
            yield (k,) + rest


def multiplicities(shape, n):
    c = [0] * (n + 1)
    for part in shape:
        c[part] += 1
    c[0] = n - len(shape)
    return c


def cost(shape, n):
    d = sum(shape)
    if d == 0:
        return 0
    vectors = math.factorial(n)
    for k in multiplicities(shape, n):
        vectors //= math.factorial(k)
    return vectors * d * math.comb(n, d)


def raised(shape, b):
    parts = list(shape)
    if b == 1:
        parts.append(1)
    else:
        parts[parts.index(b - 1)] = b
    return tuple(sorted(parts, reverse=True))


class Shapes:
    """Every shape of degree 0 ... n, with its parents and children by target."""

    def __init__(self, n):
        self.n = n
        # The walker's order: by degree, then ascending lexicographic order, largest part first.
        self.shapes = [s for d in range(n + 1) for s in reversed(list(partitions(d)))]
        self.index = {s: i for i, s in enumerate(self.shapes)}
        self.parents = {s: [] for s in self.shapes}
        self.children = {s: [] for s in self.shapes}
        for s in self.shapes:
            if sum(s) == n:
                continue
            for b in sorted({1} | {part + 1 for part in s}):
                child = raised(s, b)
                self.children[s].append((child, b))
                self.parents[child].append((s, b))
        self.inner = [s for s in self.shapes if sum(s) < n]
        self.leaves = [s for s in self.shapes if sum(s) == n]


def choose_rows(shapes, n):
    """The rows: least cost, then least sum of shape indices, under the fixed inputs."""
    import numpy as np
    from scipy.optimize import Bounds, LinearConstraint, milp
    from scipy.sparse import lil_matrix

    inner = shapes.inner
    column = {s: i for i, s in enumerate(inner)}
    fixed = fixed_rows(n)
    excluded = {}  # child -> rows that may not be its parent
    lower = np.zeros(len(inner))
    for s, targets in fixed.items():
        lower[column[s]] = 1
        for child, b in shapes.children[s]:
            if b not in targets:
                excluded.setdefault(child, set()).add(s)

    needed = inner[1:] + shapes.leaves
    a = lil_matrix((len(needed) + n + 1, len(inner)))
    lo, hi = [], []
    for r, s in enumerate(needed):
        # A row needs a parent row; a leaf needs one always.
        if sum(s) < n:
            a[r, column[s]] = -1
        for parent, _ in shapes.parents[s]:
            if parent not in excluded.get(s, ()):
                a[r, column[parent]] += 1
        lo.append(0 if sum(s) < n else 1)
        hi.append(np.inf)
    for d in range(n):
        for s in inner:
            if sum(s) == d:
                a[len(needed) + d, column[s]] = 1
        lo.append(ROWS_PER_DEGREE[n][d])
        hi.append(ROWS_PER_DEGREE[n][d])
    work = np.array([cost(s, n) for s in inner], dtype=float)
    for d in range(len(inner)):
        a[len(needed) + n, d] = work[d]
    lo.append(-np.inf)
    hi.append(np.inf)

    def solve(objective, lo, hi):
        result = milp(
            objective,
            constraints=[LinearConstraint(a.tocsr(), lo, hi)],
            integrality=np.ones(len(inner)),
            bounds=Bounds(lower, np.ones(len(inner))),
            options={"mip_rel_gap": 0},
        )
        if result.x is None:
            sys.exit(f"n = {n}: {result.message}")
        return [s for s, x in zip(inner, result.x) if x > 0.5]

    least = sum(cost(s, n) for s in solve(work, lo, hi))
    hi[-1] = least + 0.5
    rows = solve(np.array([shapes.index[s] for s in inner], dtype=float), lo, hi)
    assert sum(cost(s, n) for s in rows) == least
    return rows


def raise_lists(shapes, n, rows):
    """Each row's targets. A child with several parent rows takes the cheapest; between equals,
    the one with the smallest target above 1, the new mode last. Fixed rows keep their own."""
    fixed = fixed_rows(n)
    lists = {s: list(fixed.get(s, [])) for s in rows}
    in_rows = set(rows)
    for child in [s for s in rows if s != ()] + shapes.leaves:
        candidates = [
            (parent, b)
            for parent, b in shapes.parents[child]
            if parent in in_rows and (parent not in fixed or b in fixed[parent])
        ]
        if any(parent in fixed for parent, _ in candidates):
            continue
        parent, b = min(candidates, key=lambda pb: (cost(pb[0], n), pb[1] == 1, pb[1]))
        lists[parent].append(b)
    for s in rows:
        if s not in fixed:
            lists[s].sort()
    return lists


def check(shapes, n, rows, lists):
    """The invariants, and that no single row (dropped or replaced) lowers the cost."""
    in_rows = set(rows)
    parents = {}
    for s in rows:
        for b in lists[s]:
            assert b == 1 or b - 1 in s, (n, s, b)
            child = raised(s, b)
            assert sum(child) == n or child in in_rows, (n, s, b)
            parents[child] = parents.get(child, 0) + 1
    for s in [s for s in rows if s != ()] + shapes.leaves:
        assert parents.get(s) == 1, (n, s)
    assert len(parents) == len(rows) - 1 + len(shapes.leaves)

    count = {s: sum(p in in_rows for p, _ in shapes.parents[s]) for s in shapes.shapes}

    def needed(s):
        return s in in_rows or sum(s) == n

    for v in rows[1:]:
        assert not all(not needed(c) or count[c] >= 2 for c, _ in shapes.children[v]), (n, v)
        for u in shapes.inner:
            if u in in_rows or cost(u, n) >= cost(v, n):
                continue
            if not any(p in in_rows and p != v for p, _ in shapes.parents[u]):
                continue
            of_u = {c for c, _ in shapes.children[u]}
            assert not all(
                c == u or not needed(c) or count[c] - 1 + (c in of_u) >= 1
                for c, _ in shapes.children[v]
            ), (n, v, u)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--first", type=int, default=7)
    parser.add_argument("--last", type=int, default=14)
    args = parser.parse_args()
    for n in range(args.first, args.last + 1):
        shapes = Shapes(n)
        rows = sorted(choose_rows(shapes, n), key=shapes.index.get)
        lists = raise_lists(shapes, n, rows)
        check(shapes, n, rows, lists)
        work = sum(cost(s, n) for s in rows)
        print(f"    // n = {n}: {len(rows)} rows, W = {work}")
        print("    {")
        for s in rows:
            row = multiplicities(s, n) + lists[s]
            print("        {" + ", ".join(map(str, row)) + "},")
        print("    },")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
