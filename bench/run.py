"""Side-by-side timings of orbandile calls from Python.

Usage: .venv/bin/python bench/run.py [name-filter]
       bash bench/run_permanents.sh      (the permanent table, next to thewalrus)

Each case is a (name, setup, statement) triple timed with timeit; the permanent table times
orbandile's permanents against an independent library when it is importable. Figures go to
bench/README.md.
"""

import os
import sys
import time
import timeit

CASES = [
    ("set_seed", "import orbandile as ob", "ob.set_seed(1)"),
    ("config read", "import orbandile as ob", "ob.Config.compute_max_thread_count"),
    ("FockState from list", "import orbandile as ob", "ob.FockState([1, 0, 2, 1])"),
    ("FockState from text", "import orbandile as ob", "ob.FockState('|1,0,2,1>')"),
    ("FockState hash", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "hash(s)"),
    ("FockState tensor product", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "s * s"),
    ("FockState iteration", "import orbandile as ob; s = ob.FockState([1, 0, 2, 1])", "list(s)"),
    ("permanent_cx 8x8 call", "import numpy as np, orbandile as ob; a = np.ones((8, 8), complex)",
     "ob.permanent_cx(a)"),
    ("sub_permanents_cx 9x8 call", "import numpy as np, orbandile as ob; a = np.ones((9, 8), complex)",
     "ob.sub_permanents_cx(a)"),
    ("SLOS all_probabilities 12 modes 4 photons",
     "import numpy as np, orbandile as ob; s = ob.SLOS(); s.set_unitary(np.eye(12));"
     " f = ob.FockState([1] * 4 + [0] * 8)",
     "s.set_input_state(f); s.all_probabilities()"),
]


def best_time(call, budget=1.0):
    """Best of a few calls, fewer when one call is long."""
    best = float("inf")
    spent = 0.0
    while spent < budget or best == float("inf"):
        start = time.perf_counter()
        call()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        if elapsed > budget / 3:
            break
    return best


def permanent_table():
    import numpy as np
    import orbandile as ob
    try:
        from thewalrus import perm
    except ImportError:
        perm = None
        print("thewalrus is not importable: run bash bench/run_permanents.sh for the comparison")

    cores = os.cpu_count()
    rng = np.random.default_rng(2024)
    saved = ob.Config.compute_max_thread_count
    reference_limit = 26
    print(f"{cores} hardware threads; times in seconds; reference up to n = {reference_limit}")
    for kind in ("cx", "fl"):
        function = ob.permanent_cx if kind == "cx" else ob.permanent_fl
        if perm is not None:
            perm(rng.normal(size=(4, 4)) + (1j if kind == "cx" else 0))  # compile before timing
        print(f"\npermanent_{kind}")
        print(f"{'n':>3} {'glynn 1':>9} {'ryser 1':>9} {'ryser 2':>9} {f'ryser {cores}':>9} {'thewalrus':>10}"
              f" {'x glynn 1':>10} {f'x ryser {cores}':>10}")
        for n in range(12, 29, 2):
            a = rng.normal(size=(n, n))
            if kind == "cx":
                a = a + 1j * rng.normal(size=(n, n))
            times = []
            for ptype, count in (("glynn", 1), ("ryser", 1), ("ryser", 2), ("ryser", 0)):
                ob.Config.compute_max_thread_count = count
                times.append(best_time(lambda: function(a, ptype)))
            line = f"{n:>3} " + " ".join(f"{t:9.4f}" for t in times)
            if perm is not None and n <= reference_limit:
                reference = best_time(lambda: perm(a))
                line += f" {reference:10.4f} {reference / times[0]:10.1f} {reference / times[3]:10.1f}"
            print(line, flush=True)
    ob.Config.compute_max_thread_count = 0
    print("\nsub_permanents_cx")
    for n in range(16, 25, 2):
        a = rng.normal(size=(n + 1, n)) + 1j * rng.normal(size=(n + 1, n))
        print(f"{n + 1:>3}x{n:<3} {best_time(lambda: ob.sub_permanents_cx(a)):9.4f}", flush=True)
    a = rng.normal(size=(50, 50)) + 1j * rng.normal(size=(50, 50))
    for n_iter in (10_000, 100_000):
        elapsed = best_time(lambda: ob.estimate_permanent_cx(a, n_iter))
        print(f"\nestimate_permanent_cx 50x50, {n_iter} samples, {cores} threads: {elapsed:.4f}")
    ob.Config.compute_max_thread_count = saved


def main(pattern=""):
    for name, setup, statement in CASES:
        if pattern not in name:
            continue
        timer = timeit.Timer(statement, setup)
        loops, _ = timer.autorange()
        best = min(timer.repeat(repeat=5, number=loops)) / loops
        print(f"{name:40s} {best * 1e6:12.3f} us")
    if pattern and pattern in "permanent table":
        permanent_table()


if __name__ == "__main__":
    main(*sys.argv[1:2])
