"""Ctrl-C while the strong simulator multiplies the results of groups of distinguishable photons,
whose products grow as the outcomes to the power of the groups."""
import pytest

from interrupt import run_and_interrupt, then_sigint_reaches_python

CODE = """
    import numpy as np, orbandile as ob

    rng = np.random.default_rng(0)
    q, r = np.linalg.qr(rng.normal(size=(16, 16)) + 1j * rng.normal(size=(16, 16)))
    u = q * (np.diag(r) / abs(np.diag(r)))

    def simulator():
        b = ob.SLOS()
        b.set_unitary(u)
        sim = ob.StrongSimulator(b)
        sim.use_vector_cache = {vector_cache}
        sim.rel_precision = 1e-12
        return sim

    def distinguishable(n):
        text = "|" + ",".join(["{{%d}}" % (i + 1) for i in range(n)] + ["0"] * (16 - n)) + ">"
        return ob.SVDistribution({{ob.StateVector(ob.NoisyFockState(text)): 1}})

    def as_dict(d):
        return {{str(s): p for s, p in d.items()}}

    sim = simulator()
    print("ready", flush=True)
    try:
        sim.probs_svd(distinguishable(7))  # about 4 s unhindered, all of it in the products
        print("returned", flush=True)
    except KeyboardInterrupt as e:
        print("interrupted:", e, flush=True)
    # The same groups again, fewer of them: nothing the interrupted call left may leak in.
    print("next:", as_dict(sim.probs_svd(distinguishable(5))) ==
          as_dict(simulator().probs_svd(distinguishable(5))), flush=True)
"""


@pytest.mark.parametrize("vector_cache", [False, True])
def test_ctrl_c_ends_the_products_and_the_next_call_matches_a_fresh_simulator(vector_cache):
    code = then_sigint_reaches_python(CODE.format(vector_cache=vector_cache))
    # A loose bound against a hang: the products ran on for seconds before they polled.
    lines = run_and_interrupt(code, delay=1.0, within=10)
    assert lines == ["interrupted: Process interrupted by user.", "next: True", "python interrupted"]
