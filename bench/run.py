"""Timings of orbandile calls from Python, alone and side by side with peer libraries.

Usage: .venv/bin/python bench/run.py [name-filter]
       .venv/bin/python bench/run.py peers [permanents|distributions|samplers] [--peers PYTHON]
                                           [--before BUILD_DIR] [--max-n N]
       bash bench/run_permanents.sh      (creates the peer environment, then `peers permanents`)

       .venv/bin/python bench/run.py slos [--before BUILD_DIR]

Without `peers`, each case is a (name, setup, statement) triple timed with timeit.

`slos` times all_probabilities of SLOS_V2 and SLOS_V3 from Python at 8 photons in 16 modes and
10 in 20, a first query and a query with a new unitary, the returned list and its release
included, and gives each per link (the one-photon transitions of a whole pass, m C(m+n-1, n-1)).

`peers` times orbandile next to thewalrus and piquasso. Those live in an environment of their own
(`bash bench/peers_env.sh [DIR]` creates it and prints its python; they are never dependencies of
the module): their timings run in that python as a worker process, or in this process when they
are importable here. `--before` times a second orbandile build (the directory holding its
`python/` folder, e.g. main's build/release) in another worker, so that before and after come
from one run on a shared machine. Every row is timed in turn by every worker; ratios are the other
time over ours. Figures go to bench/README.md.
"""

import argparse
import importlib
import itertools
import json
import math
import os
import subprocess
import sys
import tempfile
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

LIBRARIES = ("orbandile", "thewalrus", "piquasso")


def best_time(call, budget=1.0, calls=3, long_call=5.0):
    """Best of at least `calls` calls and of as many as fit in `budget` seconds; a single call
    when one takes longer than `long_call`. Returns (seconds, value of the last call)."""
    best = float("inf")
    spent = 0.0
    count = 0
    value = None
    while count < calls or spent < budget:
        start = time.perf_counter()
        value = call()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        count += 1
        if elapsed > long_call:
            break
    return best, value


def compositions(m, n):
    """Occupations of m modes by n photons, in the order of all_probabilities (the first mode's
    count descending, then the next's)."""
    if m == 1:
        yield (n,)
        return
    for first in range(n, -1, -1):
        for rest in compositions(m - 1, n - first):
            yield (first,) + rest


# Handlers: each takes a request and returns (seconds, value); values are plain JSON.

def to_json(value):
    if isinstance(value, complex):
        return [value.real, value.imag]
    return float(value)


def orbandile_permanent(request, a):
    import orbandile as ob
    function = ob.permanent_cx if request["kind"] == "cx" else ob.permanent_fl
    saved = ob.Config.compute_max_thread_count
    ob.Config.compute_max_thread_count = request["threads"]
    try:
        seconds, value = best_time(lambda: function(a, request["algorithm"]))
    finally:
        ob.Config.compute_max_thread_count = saved
    return seconds, to_json(value)


def orbandile_distribution(request, u):
    import numpy as np
    import orbandile as ob
    backend = getattr(ob, request["backend"])
    m, n = request["m"], request["n"]
    state = ob.FockState([1] * n + [0] * (m - n))
    if request["mode"] == "first":
        def call():
            simulator = backend()
            simulator.set_unitary(u)
            simulator.set_input_state(state)
            return simulator.all_probabilities()
    else:
        # Compiled for one unitary; every call brings another one of the same size.
        simulator = backend()
        simulator.set_unitary(np.eye(m, dtype=complex))
        simulator.set_input_state(state)
        simulator.all_probabilities()
        unitaries = itertools.cycle([u, u.conj()])

        def call():
            simulator.set_unitary(next(unitaries))
            return simulator.all_probabilities()
    seconds, probabilities = best_time(call)
    return seconds, list(probabilities) if request.get("values") else None


def thewalrus_permanent(request, a):
    import numpy as np
    from thewalrus import perm
    perm(np.ascontiguousarray(a[:4, :4]), method="bbfg")  # numba compiles per array type
    seconds, value = best_time(lambda: perm(a, method="bbfg"))
    return seconds, to_json(complex(value) if request["kind"] == "cx" else value)


def thewalrus_distribution(request, u):
    """One bbfg permanent per output state: |perm(U[t, s])|^2 / t! for the input |1,...,1,0...>."""
    import numpy as np
    from thewalrus import perm
    m, n = request["m"], request["n"]
    columns = u[:, :n]
    outputs = list(compositions(m, n))
    rows = [np.repeat(np.arange(m), t) for t in outputs]
    scale = [1.0 / math.prod(math.factorial(c) for c in t) for t in outputs]
    perm(columns[rows[0]], method="bbfg")  # numba compiles per array type, before timing

    def call():
        return [abs(perm(columns[r], method="bbfg")) ** 2 * f for r, f in zip(rows, scale)]
    seconds, probabilities = best_time(call)
    return seconds, probabilities if request.get("values") else None


def piquasso_permanent(request, a):
    import numpy as np
    from piquasso._math.permanent import permanent
    ones = np.ones(a.shape[0], dtype=np.int32)
    matrix = a.astype(np.complex128)
    permanent(np.ascontiguousarray(matrix[:4, :4]), ones[:4], ones[:4])
    seconds, value = best_time(lambda: permanent(matrix, ones, ones))
    return seconds, to_json(complex(value))


def piquasso_distribution(request, u):
    """The Fock-basis probabilities of the simulator named in the request: SamplingSimulator
    (passive optics, from permanents) or PureFockSimulator (the interferometer on the Fock
    space)."""
    import numpy as np
    import piquasso as pq
    m, n = request["m"], request["n"]
    simulator_class = getattr(pq, request["simulator"])

    def run(unitary):
        with pq.Program() as program:
            pq.Q() | pq.StateVector([1] * n + [0] * (m - n))
            pq.Q(*range(m)) | pq.Interferometer(unitary)
        simulator = simulator_class(d=m, config=pq.Config(cutoff=n + 1))
        return simulator.execute(program).state.fock_probabilities

    run(np.eye(m, dtype=complex))  # compiles for this size, before timing
    seconds, _ = best_time(lambda: run(u))
    return seconds, None


def per_sample_time(draw, threads=1, budget=0.5):
    """Seconds per sample of draw(count): one small batch sizes a batch of about `budget`
    seconds, which is then timed (best of 3)."""
    count = max(threads, 1)
    start = time.perf_counter()
    draw(count)
    estimate = (time.perf_counter() - start) / count
    count = max(count, min(200_000, int(budget / max(estimate, 1e-9))))
    seconds, _ = best_time(lambda: draw(count), budget=0.0, calls=3)
    return seconds / count


def orbandile_sampling(request, u):
    """Clifford2017 samples per call of `samples`, or draws from SLOS_V3's exact distribution
    (computed for every batch, then numpy's choice over it)."""
    import numpy as np
    import orbandile as ob
    m, n = request["m"], request["n"]
    state = ob.FockState([1] * n + [0] * (m - n))
    saved = ob.Config.compute_max_thread_count, ob.Config.use_single_precision
    ob.Config.compute_max_thread_count = request.get("threads", 1)
    ob.Config.use_single_precision = request.get("single", False)
    try:
        if request.get("exact"):
            rng = np.random.default_rng(1)

            def draw(count):
                backend = ob.SLOS_V3()
                backend.set_unitary(u)
                backend.set_input_state(state)
                p = np.asarray(backend.all_probabilities())
                return rng.choice(len(p), size=count, p=p / p.sum())
            seconds, _ = best_time(lambda: draw(1000), calls=3)
            return seconds / 1000, None
        sampler = ob.Clifford2017()
        sampler.set_unitary(u)
        sampler.set_input_state(state)
        sampler.sample()
        return per_sample_time(sampler.samples, request.get("threads", 1)), None
    finally:
        ob.Config.compute_max_thread_count, ob.Config.use_single_precision = saved


def piquasso_sampling(request, u):
    """PassiveSimulator's Clifford & Clifford sampler (ParticleNumberMeasurement), on one thread
    or on every thread through its dask option."""
    import piquasso as pq
    m, n = request["m"], request["n"]
    with pq.Program() as program:
        pq.Q() | pq.StateVector([1] * n + [0] * (m - n))
        pq.Q(*range(m)) | pq.Interferometer(u)
        pq.Q(*range(m)) | pq.ParticleNumberMeasurement()
    simulator = pq.PassiveSimulator(d=m, config=pq.Config(use_dask=request.get("dask", False)))
    simulator.execute(program, shots=1)  # compiles, before timing
    threads = os.cpu_count() if request.get("dask") else 1
    return per_sample_time(lambda count: simulator.execute(program, shots=count), threads,
                           budget=2.0), None


HANDLERS = {
    ("orbandile", "sampling"): orbandile_sampling,
    ("piquasso", "sampling"): piquasso_sampling,
    ("orbandile", "permanent"): orbandile_permanent,
    ("orbandile", "distribution"): orbandile_distribution,
    ("thewalrus", "permanent"): thewalrus_permanent,
    ("thewalrus", "distribution"): thewalrus_distribution,
    ("piquasso", "permanent"): piquasso_permanent,
    ("piquasso", "distribution"): piquasso_distribution,
}


def available():
    found = []
    for name in LIBRARIES:
        try:
            importlib.import_module(name)
            found.append(name)
        except ImportError:
            pass
    return found


def handle(request):
    import numpy as np
    matrix = np.load(request["matrix"])
    try:
        seconds, value = HANDLERS[request["library"], request["op"]](request, matrix)
    except Exception as error:  # a peer that fails on one size leaves the rest of the table
        return {"error": f"{type(error).__name__}: {error}"}
    return {"seconds": seconds, "value": value}


def worker():
    """Serves requests, one JSON line each, on stdin; answers on stdout."""
    import warnings
    warnings.simplefilter("ignore")
    out = sys.stdout
    sys.stdout = sys.stderr  # libraries that print keep the protocol clean
    out.write(json.dumps({"available": available()}) + "\n")
    out.flush()
    for line in sys.stdin:
        out.write(json.dumps(handle(json.loads(line))) + "\n")
        out.flush()


class LocalWorker:
    def __init__(self, libraries):
        self.libraries = libraries

    def call(self, request):
        return handle(request)

    def close(self):
        pass


class ProcessWorker:
    def __init__(self, python, pythonpath=None):
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        if pythonpath:
            env["PYTHONPATH"] = pythonpath
        self.process = subprocess.Popen([python, os.path.abspath(__file__), "--worker"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                        env=env)
        hello = self.process.stdout.readline()
        self.libraries = json.loads(hello)["available"] if hello else []

    def call(self, request):
        self.process.stdin.write(json.dumps(request) + "\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def haar_unitary(m, rng):
    import numpy as np
    z = (rng.normal(size=(m, m)) + 1j * rng.normal(size=(m, m))) / math.sqrt(2)
    q, r = np.linalg.qr(z)
    return q * (np.diag(r) / np.abs(np.diag(r)))


def milliseconds_text(result):
    if result is None:
        return ""
    if "error" in result:
        return "error"
    return f"{result['seconds'] * 1e3:.4g}"


def ratio_text(numerator, denominator):
    if not numerator or not denominator or "error" in numerator or "error" in denominator:
        return ""
    return f"{numerator['seconds'] / denominator['seconds']:.1f}"


def print_row(cells, widths):
    print(" ".join(f"{c:>{w}}" for c, w in zip(cells, widths)), flush=True)


def side_by_side(title, header, rows, columns, ratios, extra=None):
    """Times every column of every row and prints the table as it goes. `columns` are
    (label, worker, request); `ratios` are (label, numerator label, denominator label)."""
    print(f"\n{title}")
    labels = [label for label, _, _ in columns] + [label for label, _, _ in ratios]
    widths = [max(len(h), 8) for h in header] + [max(len(label), 8) for label in labels]
    if extra:
        widths.append(max(len(extra[0]), 8))
    print_row(header + labels + ([extra[0]] if extra else []), widths)
    for row_cells, row_request, skip in rows:
        results = {}
        for label, worker, request in columns:
            if skip(label):
                continue
            results[label] = worker.call({**row_request, **request})
        cells = row_cells + [milliseconds_text(results.get(label)) for label, _, _ in columns]
        cells += [ratio_text(results.get(a), results.get(b)) for _, a, b in ratios]
        if extra:
            cells.append(extra[1](results))
        print_row(cells, widths)
        for label, result in results.items():
            if "error" in result:
                print(f"    {label}: {result['error']}")


def largest_relative_difference(results):
    values = [r["value"] for r in results.values() if r and "value" in r]
    if len(values) < 2:
        return ""
    numbers = [complex(*v) if isinstance(v, list) else complex(v) for v in values]
    reference = numbers[0]
    return f"{max(abs(v - reference) for v in numbers) / abs(reference):.1e}"


def largest_probability_difference(results, ours, theirs):
    import numpy as np
    a, b = results.get(ours), results.get(theirs)
    if not a or not b or a.get("value") is None or b.get("value") is None:
        return ""
    return f"{np.max(np.abs(np.array(a['value']) - np.array(b['value']))):.1e}"


def sub_and_estimates(rng):
    """orbandile's other permanent entry points, which the peers have no counterpart of."""
    import orbandile as ob
    saved = ob.Config.compute_max_thread_count
    ob.Config.compute_max_thread_count = 0
    print("\nsub_permanents_cx, all threads (ms)")
    for n in range(16, 25, 2):
        a = rng.normal(size=(n + 1, n)) + 1j * rng.normal(size=(n + 1, n))
        seconds, _ = best_time(lambda: ob.sub_permanents_cx(a))
        print(f"{n + 1:>3}x{n:<3} {seconds * 1e3:9.4g}", flush=True)
    a = rng.normal(size=(50, 50)) + 1j * rng.normal(size=(50, 50))
    for n_iter in (10_000, 100_000):
        seconds, _ = best_time(lambda: ob.estimate_permanent_cx(a, n_iter))
        print(f"estimate_permanent_cx 50x50, {n_iter} samples, all threads: {seconds * 1e3:.4g} ms")
    ob.Config.compute_max_thread_count = saved


def permanent_tables(workers, rng, save, cores, max_n):
    ours, before_worker, peer_worker, has = workers
    glynn_1 = {"library": "orbandile", "algorithm": "glynn", "threads": 1}
    ryser_1 = {"library": "orbandile", "algorithm": "ryser", "threads": 1}
    ryser_all = {"library": "orbandile", "algorithm": "ryser", "threads": 0}
    ryser = f"ryser {cores}"
    for kind in ("cx", "fl"):
        columns = [("glynn 1", ours, glynn_1), ("ryser 1", ours, ryser_1), (ryser, ours, ryser_all)]
        ratios = [(f"r1/r{cores}", "ryser 1", ryser)]
        if before_worker:
            columns += [("old glynn 1", before_worker, glynn_1),
                        (f"old {ryser}", before_worker, ryser_all)]
            ratios += [("old/new g1", "old glynn 1", "glynn 1"),
                       (f"old/new r{cores}", f"old {ryser}", ryser)]
        if has("thewalrus"):
            columns.append(("thewalrus", peer_worker, {"library": "thewalrus"}))
            ratios += [("tw/glynn 1", "thewalrus", "glynn 1"), (f"tw/{ryser}", "thewalrus", ryser)]
        if has("piquasso") and kind == "cx":
            columns.append(("piquasso", peer_worker, {"library": "piquasso"}))
            ratios.append((f"pq/{ryser}", "piquasso", ryser))
        rows = []
        for n in [8, 12, 16, 20, 24, 26, 28]:
            if n > max_n:
                continue
            a = rng.normal(size=(n, n))
            if kind == "cx":
                a = a + 1j * rng.normal(size=(n, n))
            # Peers at n = 28 would take minutes.
            skip = (lambda label, n=n: n > 26 and label in ("thewalrus", "piquasso"))
            request = {"op": "permanent", "kind": kind, "matrix": save(a, f"{kind}{n}")}
            rows.append(([str(n)], request, skip))
        side_by_side(f"permanent_{kind} (thewalrus: perm, method bbfg; piquasso: _math.permanent)",
                     ["n"], rows, columns, ratios, ("max rel. diff", largest_relative_difference))


def distribution_table(workers, rng, save):
    ours, before_worker, peer_worker, has = workers
    columns = []
    for backend in ("SLOS_V2", "SLOS_V3"):
        for mode, short in (("first", "first"), ("new unitary", "new U")):
            columns.append((f"{backend[-2:]} {short}", ours,
                            {"library": "orbandile", "backend": backend, "mode": mode}))
    ratios = []
    if before_worker:
        for backend in ("SLOS_V2", "SLOS_V3"):
            label = f"old {backend[-2:]} first"
            columns.append((label, before_worker,
                            {"library": "orbandile", "backend": backend, "mode": "first"}))
            ratios.append((f"old/new {backend[-2:]}", label, f"{backend[-2:]} first"))
    if has("thewalrus"):
        columns.append(("tw per output", peer_worker, {"library": "thewalrus"}))
        ratios += [("tw/V2 first", "tw per output", "V2 first"),
                   ("tw/V3 first", "tw per output", "V3 first"),
                   ("tw/V3 new U", "tw per output", "V3 new U")]
    if has("piquasso"):
        columns += [("pq sampling", peer_worker,
                     {"library": "piquasso", "simulator": "SamplingSimulator"}),
                    ("pq pure fock", peer_worker,
                     {"library": "piquasso", "simulator": "PureFockSimulator"})]
        ratios += [("pq s/V3 first", "pq sampling", "V3 first"),
                   ("pq f/V3 first", "pq pure fock", "V3 first")]
    rows = []
    for m, n in [(8, 4), (12, 6), (16, 8)]:
        outputs = math.comb(m + n - 1, n)
        u = haar_unitary(m, rng)
        request = {"op": "distribution", "m": m, "n": n, "matrix": save(u, f"u{m}"),
                   "values": outputs <= 20000}
        # piquasso's pure-state Fock simulator holds the interferometer on the whole Fock space
        # up to the cutoff: it runs out of memory at 16 modes and 8 photons.
        skip = (lambda label, outputs=outputs: outputs > 20_000 and label == "pq pure fock")
        rows.append(([str(m), str(n), str(outputs)], request, skip))
    side_by_side("all_probabilities of |1,...,1,0,...,0> (n photons in m modes), one thread; "
                 "V2/V3: SLOS_V2/SLOS_V3, first query on a new object and query with a new "
                 "unitary; tw: one thewalrus bbfg permanent per output; pq: piquasso's "
                 "SamplingSimulator and PureFockSimulator", ["m", "n", "outputs"], rows, columns,
                 ratios, ("max |dp| V3-tw", lambda results: largest_probability_difference(
                     results, "V3 first", "tw per output")))


def sampler_table(workers, rng, save, cores):
    ours, before_worker, peer_worker, has = workers
    columns = [("C 1", ours, {"threads": 1}), ("C 2", ours, {"threads": 2}),
               (f"C {cores}", ours, {"threads": cores}),
               ("C 1 sp", ours, {"threads": 1, "single": True}),
               (f"C {cores} sp", ours, {"threads": cores, "single": True}),
               ("V3 exact", ours, {"exact": True})]
    columns = [(label, worker, {"library": "orbandile", **r}) for label, worker, r in columns]
    ratios = [(f"C1/C{cores}", "C 1", f"C {cores}")]
    if has("piquasso"):
        columns += [("pq 1", peer_worker, {"library": "piquasso"}),
                    (f"pq {cores}", peer_worker, {"library": "piquasso", "dask": True})]
        ratios += [("pq1/C1", "pq 1", "C 1"), (f"pq{cores}/C{cores}", f"pq {cores}", f"C {cores}")]
    if before_worker:
        columns.append(("old C 1", before_worker, {"library": "orbandile", "threads": 1}))
        ratios.append(("old/new C1", "old C 1", "C 1"))
    rows = []
    for n, m in [(4, 4), (4, 16), (6, 6), (6, 36), (8, 8), (8, 64), (10, 100), (12, 12), (12, 144),
                 (14, 196), (16, 256), (20, 256)]:
        outputs = math.comb(m + n - 1, n)
        request = {"op": "sampling", "n": n, "m": m, "matrix": save(haar_unitary(m, rng), f"s{n}_{m}")}
        # piquasso takes seconds per sample from n = 14 on; the exact distribution is for small
        # spaces only.
        skip = (lambda label, n=n, outputs=outputs: (label.startswith("pq") and n > 14)
                or (label == "V3 exact" and outputs > 2_000_000))
        rows.append(([str(n), str(m), str(outputs)], request, skip))
    side_by_side(f"boson samples of |1,...,1,0,...,0> (n photons in m modes), ms per sample; C: "
                 f"Clifford2017 on 1, 2 and {cores} threads, sp in single precision; V3 exact: "
                 "SLOS_V3's distribution and numpy's choice, per sample of a batch of 1000; pq: "
                 "piquasso's PassiveSimulator on one thread and with dask", ["n", "m", "outputs"],
                 rows, columns, ratios)


def peers(parts, peers_python, before, max_n):
    import numpy as np
    ours = LocalWorker(available())
    if "orbandile" not in ours.libraries:
        sys.exit("orbandile is not importable: build it with bash scripts/build.sh")
    local_peers = [name for name in ours.libraries if name != "orbandile"]
    if peers_python:
        peer_worker = ProcessWorker(peers_python)
    elif local_peers:
        peer_worker = ours
    else:
        peer_worker = None
        print("no peer library: bash bench/peers_env.sh prints the python to pass with --peers")
    before_worker = None
    if before:
        module = os.path.join(os.path.abspath(before), "python")
        before_worker = ProcessWorker(sys.executable, module)
        if "orbandile" not in before_worker.libraries:
            sys.exit(f"no orbandile module under {before}/python")
    has = lambda name: peer_worker is not None and name in peer_worker.libraries
    cores = os.cpu_count()
    rng = np.random.default_rng(2024)
    print(f"{cores} hardware threads; times in ms, best of 3 calls or more (one call when it "
          "takes over 5 s); ratios are the other time over ours")
    print("peers: " + (", ".join(n for n in peer_worker.libraries if n != "orbandile")
                       if peer_worker else "none") + (f"; before: {before}" if before else ""))

    with tempfile.TemporaryDirectory() as folder:
        def save(matrix, name):
            path = os.path.join(folder, name + ".npy")
            np.save(path, matrix)
            return path

        workers = (ours, before_worker, peer_worker, has)
        if "permanents" in parts:
            permanent_tables(workers, rng, save, cores, max_n)
            sub_and_estimates(rng)
        if "distributions" in parts:
            distribution_table(workers, rng, save)
        if "samplers" in parts:
            sampler_table(workers, rng, save, cores)

    for worker_ in (peer_worker, before_worker):
        if worker_ is not None and worker_ is not ours:
            worker_.close()


def slos_links(before):
    import numpy as np
    workers = [("", LocalWorker(available()))]
    if before:
        worker_ = ProcessWorker(sys.executable, os.path.join(os.path.abspath(before), "python"))
        if "orbandile" not in worker_.libraries:
            sys.exit(f"no orbandile module under {before}/python")
        workers.append(("before ", worker_))
    rng = np.random.default_rng(2024)
    print("all_probabilities from Python, one thread, best of 3 calls or more (one call when it "
          "takes over 5 s): ms, and ns per link")
    widths = [4, 4, 12, 20, 12, 12, 10]
    print_row(["m", "n", "links", "build", "query", "ms", "ns/link"], widths)
    with tempfile.TemporaryDirectory() as folder:
        for m, n in [(16, 8), (20, 10)]:
            path = os.path.join(folder, f"u{m}.npy")
            np.save(path, haar_unitary(m, rng))
            links = m * math.comb(m + n - 1, n - 1)
            for label, worker_ in workers:
                for backend in ("SLOS_V2", "SLOS_V3"):
                    for mode in ("first", "new unitary"):
                        result = worker_.call({"op": "distribution", "library": "orbandile",
                                               "backend": backend, "mode": mode, "m": m, "n": n,
                                               "matrix": path, "values": False})
                        per_link = ("" if "error" in result
                                    else f"{result['seconds'] * 1e9 / links:.2f}")
                        print_row([str(m), str(n), str(links), label + backend, mode,
                                   milliseconds_text(result), per_link], widths)
    for _, worker_ in workers[1:]:
        worker_.close()


def main(pattern=""):
    for name, setup, statement in CASES:
        if pattern not in name:
            continue
        timer = timeit.Timer(statement, setup)
        loops, _ = timer.autorange()
        best = min(timer.repeat(repeat=5, number=loops)) / loops
        print(f"{name:40s} {best * 1e6:12.3f} us")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--worker"]:
        worker()
    elif sys.argv[1:2] == ["peers"]:
        parser = argparse.ArgumentParser(prog="run.py peers")
        parser.add_argument("parts", nargs="*", metavar="permanents|distributions|samplers")
        parser.add_argument("--peers", help="python of the peer environment (bench/peers_env.sh)")
        parser.add_argument("--before", help="another orbandile build directory to time as well")
        parser.add_argument("--max-n", type=int, default=26, help="largest permanent order")
        arguments = parser.parse_args(sys.argv[2:])
        parts = arguments.parts or ["permanents", "distributions", "samplers"]
        if not set(parts) <= {"permanents", "distributions", "samplers"}:
            parser.error(f"unknown part in {parts}")
        peers(parts, arguments.peers, arguments.before, arguments.max_n)
    elif sys.argv[1:2] == ["slos"]:
        parser = argparse.ArgumentParser(prog="run.py slos")
        parser.add_argument("--before", help="another orbandile build directory to time as well")
        slos_links(parser.parse_args(sys.argv[2:]).before)
    else:
        main(*sys.argv[1:2])
