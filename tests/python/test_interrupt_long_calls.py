"""Ctrl-C during the long calls of the back-ends, samplers, sources and simulators, and the calls
whose size is refused before they allocate."""
import subprocess
import sys
import textwrap

import pytest

from interrupt import run_and_interrupt

SETUP = """
    import math, os, signal, struct, time
    import numpy as np, orbandile as ob

    def haar(m, seed=0):
        rng = np.random.default_rng(seed)
        q, r = np.linalg.qr(rng.normal(size=(m, m)) + 1j * rng.normal(size=(m, m)))
        return q * (np.diag(r) / abs(np.diag(r)))

    def layered(layers, reflectivity=0.5):
        inner = b"\\x0a\\x01d\\x10" + bytes([layers]) + b"\\x19" + struct.pack("<d", reflectivity)
        return b"\\x0a" + bytes([len(inner)]) + inner

    def backend(cls, u, state=None):
        b = cls()
        b.set_unitary(u)
        if state is not None:
            b.set_input_state(ob.FockState(state))
        return b

    def svd(m, n):
        return ob.SVDistribution({ob.StateVector(ob.FockState([1] * n + [0] * (m - n))): 1})

    def strong(cls, m, detectors=None):
        sim = ob.StrongSimulator(backend(cls, haar(m)))
        if detectors is not None:
            sim.set_detectors(detectors)
        return sim
"""

# name: (set-up, the long call, short calls on the same objects that must then succeed and set ok)
CASES = {
    "StrongSimulator SLOS": ("sim = strong(ob.SLOS, 18)", "sim.probs_svd(svd(18, 9))",
                             "ok = len(sim.probs_svd(svd(18, 2))) == 171"),
    "StrongSimulator SLAP": ("sim = strong(ob.SLAP, 18)", "sim.probs_svd(svd(18, 9))",
                             "ok = len(sim.probs_svd(svd(18, 2))) == 171"),
    "StrongSimulator SLOS_V2 layered detectors": (
        "sim = strong(ob.SLOS_V2, 4, [layered(8)] * 4)", "sim.probs_svd(svd(4, 3))",
        "ok = len(sim.probs_svd(svd(4, 1))) > 0"),
    "SLAP.all_probabilities": ("b = backend(ob.SLAP, haar(20), [1] * 10 + [0] * 10)",
                               "b.all_probabilities()",
                               "b.set_input_state(ob.FockState([1, 1] + [0] * 18)); ok = len(b.all_probabilities()) == 210"),
    "SLOS.all_probabilities": ("b = backend(ob.SLOS, haar(20), [1] * 10 + [0] * 10)",
                               "b.all_probabilities()",
                               "b.set_input_state(ob.FockState([1, 1] + [0] * 18)); ok = len(b.all_probabilities()) == 210"),
    "SLOS_V2.all_probabilities": ("b = backend(ob.SLOS_V2, haar(20), [1] * 10 + [0] * 10)",
                                  "b.all_probabilities()",
                                  "b.set_input_state(ob.FockState([1, 1] + [0] * 18)); ok = len(b.all_probabilities()) == 210"),
    "SLAPSampler.sampling": ("s = ob.SLAPSampler(); s.set_unitary(haar(24))",
                             "s.sampling(ob.FockState([1] * 12 + [0] * 12), 10**8)",
                             "ok = sum(s.sampling(ob.FockState([1, 1] + [0] * 22), 100)) == 100"),
    "RectangularDecomposer.decompose": ("d = ob.RectangularDecomposer(); u = haar(800)",
                                        "d.decompose(u)", "ok = len(d.decompose(haar(4))) > 0"),
    "SourceSampler.generate_samples": ("s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)",
                                       "s.generate_samples(2 * 10**7)", "ok = len(s.generate_samples(5)) == 5"),
    "Source.generate_distribution": ("s = ob.Source(0.9, 0.03, 0.8)",
                                     "s.generate_distribution(ob.FockState([1] * 10))",
                                     "ok = len(s.generate_distribution(ob.FockState([1, 1]))) > 1"),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_ctrl_c_ends_the_call_and_leaves_the_objects_usable(name):
    setup, call, after = CASES[name]
    code = textwrap.dedent(SETUP) + textwrap.dedent(f"""
        {setup}
        print("ready", flush=True)
        try:
            {call}
            print("returned", flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
        {after}
        print("next:", bool(ok), flush=True)
        try:
            os.kill(os.getpid(), signal.SIGINT)
            time.sleep(5)
            print("not interrupted")
        except KeyboardInterrupt:
            print("python interrupted")
    """)
    # A loose bound: the calls answer within a fraction of a second, and ran on for tens of
    # seconds (a progress report or the end of the call) before they polled.
    lines = run_and_interrupt(code, delay=1.0, within=10)
    # The simulator's progress reports end a call with their own text once the flag is set.
    assert lines[0] in ("interrupted: Process interrupted by user.", "interrupted: Cancel requested.")
    assert lines[1:] == ["next: True", "python interrupted"]


# name: (set-up, a call whose size is refused, a short call that must then succeed and set ok)
TOO_LARGE = {
    "Clifford2017.samples": (
        "s = ob.Clifford2017(); s.set_unitary(haar(4)); s.set_input_state(ob.FockState([1, 1, 0, 0]))",
        "s.samples(2**32 - 1)", "4294967295 samples", "ok = len(s.samples(10)) == 10"),
    "SourceSampler.generate_samples": (
        "s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)",
        "s.generate_samples(4 * 10**7)", "40000000 samples", "ok = len(s.generate_samples(10)) == 10"),
    "SourceSampler.generate_separated_samples": (
        "s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)",
        "s.generate_separated_samples(2**31 - 1)", "2147483647 samples",
        "ok = len(s.generate_separated_samples(10)) == 10"),
    "Source.generate_distribution": (
        "s = ob.Source(0.9, 0.03, 0.8)", "s.generate_distribution(ob.FockState([1] * 12))",
        "The 2.44e+08 states of the source's mixture",
        "ok = len(s.generate_distribution(ob.FockState([1] * 4))) == 625"),
    "Source.generate_distribution of one mode": (
        "s = ob.Source(0.9, 0.03, 0.8)", "s.generate_distribution(ob.FockState([16, 0]))",
        "The 4.29e+09 states of the source's mixture",
        "ok = len(s.generate_distribution(ob.FockState([1, 0]))) == 5"),
    "Source.create_simple_iterator": (
        "s = ob.Source(0.9, 0.03, 0.8, 0.1)", "s.create_simple_iterator(ob.FockState([128, 128]))",
        "events of the iterator's table",
        "ok = s.create_simple_iterator(ob.FockState([2, 1])).physical_perf > 0"),
    "layered detector": (
        "sim = strong(ob.SLOS_V2, 1, [layered(8)])", "sim.probs_svd(svd5)",
        "states of 5 photons behind 8 beam-splitter layers", "ok = len(sim.probs_svd(svd(1, 1))) == 1"),
}


@pytest.mark.parametrize("name", sorted(TOO_LARGE))
def test_a_call_beyond_the_memory_limit_is_refused_at_once(name):
    setup, call, size, after = TOO_LARGE[name]
    code = textwrap.dedent(SETUP) + textwrap.dedent(f"""
        svd5 = ob.SVDistribution({{ob.StateVector(ob.FockState([5])): 1}})
        {setup}
        start = time.monotonic()
        try:
            {call}
            print("returned")
        except ValueError as e:
            print("refused", time.monotonic() - start < 5, e)
        {after}
        print("next:", bool(ok))
    """)

    def limit_address_space():
        import resource
        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))

    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300,
                            preexec_fn=limit_address_space)
    assert result.returncode == 0, result.stderr
    refusal, next_call = result.stdout.splitlines()
    assert refusal.startswith("refused True ") and size in refusal
    assert refusal.endswith("GB of memory available")
    assert next_call == "next: True"
