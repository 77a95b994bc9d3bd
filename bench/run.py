"""Side-by-side timings of orbandile calls from Python.

Usage: .venv/bin/python bench/run.py [name-filter]

Each case is a (name, setup, statement) triple timed with timeit; figures go to bench/README.md.
"""

import sys
import timeit

CASES = [
    ("set_seed", "import orbandile as ob", "ob.set_seed(1)"),
    ("config read", "import orbandile as ob", "ob.Config.compute_max_thread_count"),
    ("FockState from list", "import orbandile as ob", "ob.FockState([1, 0, 2, 1])"),
    ("FockState from text", "import orbandile as ob", "ob.FockState('|1,0,2,1>')"),
    ("FockState hash", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "hash(s)"),
    ("FockState tensor product", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "s * s"),
    ("FockState iteration", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "list(s)"),
]


def main(pattern=""):
    for name, setup, statement in CASES:
        if pattern not in name:
            continue
        timer = timeit.Timer(statement, setup)
        loops, _ = timer.autorange()
        best = min(timer.repeat(repeat=5, number=loops)) / loops
        print(f"{name:40s} {best * 1e6:12.3f} us")


if __name__ == "__main__":
    main(*sys.argv[1:2])
