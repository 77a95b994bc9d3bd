import collections
import copy
import math

import numpy as np
import pytest

import orbandile as ob
from orbandile import Clifford2017, FockState
from haar import haar_unitary
from interrupt import run_and_interrupt, then_sigint_reaches_python

SPLITTER = np.array([[1, 1], [1, -1]]) / np.sqrt(2)


def sampler(u, state):
    s = Clifford2017()
    s.set_unitary(u)
    s.set_input_state(FockState(state))
    return s


def test_a_balanced_splitter_never_keeps_two_photons_apart():
    assert all(str(s) in ("|2,0>", "|0,2>") for s in sampler(SPLITTER, [1, 1]).samples(2000))


@pytest.mark.parametrize("single", [False, True])
def test_a_bunched_pair_splits_one_quarter_one_half_one_quarter(restore_config, single):
    ob.Config.use_single_precision = single
    ob.set_seed(7)
    count = 20000
    seen = collections.Counter(str(s) for s in sampler(SPLITTER, [2, 0]).samples(count))
    assert set(seen) == {"|2,0>", "|1,1>", "|0,2>"}
    for state, p in (("|2,0>", 0.25), ("|1,1>", 0.5), ("|0,2>", 0.25)):
        assert abs(seen[state] - p * count) < 6 * math.sqrt(count * p * (1 - p))


def test_frequencies_follow_the_permanents(restore_config):
    # A five-photon input on seven modes against SLOS, small cells pooled.
    ob.Config.compute_max_thread_count = 3
    ob.set_seed(11)
    u = haar_unitary(7, 3)
    s = [2, 0, 1, 0, 1, 1, 0]
    backend = ob.SLOS()
    backend.set_unitary(u)
    backend.set_input_state(FockState(s))
    exact = {str(k): v for k, v in backend.distribution().items()}
    count = 30000
    seen = collections.Counter(str(x) for x in sampler(u, s).samples(count))
    assert sum(seen.values()) == count and set(seen) <= set(exact)
    statistic, cells, pool_e, pool_o = 0.0, 0, 0.0, 0
    for state, p in exact.items():
        e = p * count
        if e < 5:
            pool_e, pool_o = pool_e + e, pool_o + seen[state]
        else:
            statistic += (seen[state] - e) ** 2 / e
            cells += 1
    statistic += (pool_o - pool_e) ** 2 / pool_e
    degrees = cells
    assert statistic < degrees + 7 * math.sqrt(2 * degrees) + 10


def test_one_thread_runs_repeat_from_the_seed(restore_config):
    ob.Config.compute_max_thread_count = 1
    s = sampler(haar_unitary(5, 1), [1, 1, 0, 1, 0])
    ob.set_seed(3)
    first = [str(x) for x in s.samples(100)] + [str(s.sample())]
    ob.set_seed(3)
    assert [str(x) for x in s.samples(100)] + [str(s.sample())] == first


def test_photonless_inputs_need_no_unitary():
    assert Clifford2017().sample() == FockState()
    samples = Clifford2017().samples(2)
    assert isinstance(samples, ob.BSSamples) and list(samples) == [FockState(), FockState()]


def test_sizes_must_agree():
    s = Clifford2017()
    s.set_input_state(FockState([1, 0]))
    with pytest.raises(RuntimeError, match="^Matrix/input state sizes mismatch$"):
        s.sample()
    s.set_unitary(np.eye(3))
    with pytest.raises(RuntimeError, match="^Matrix/input state sizes mismatch$"):
        s.samples(1)
    # Orthonormal columns pass the unitarity test, but a matrix that is not square is refused at once:
    # its third column does not exist.
    with pytest.raises(RuntimeError, match="^Matrix is not unitary$"):
        s.set_unitary(haar_unitary(3, 0)[:, :2])
    s.set_input_state(FockState([0, 0, 1]))
    assert s.sample() == FockState([0, 0, 1])


def test_a_matrix_that_is_not_unitary_leaves_the_previous_one():
    s = sampler(np.eye(2), [1, 0])
    with pytest.raises(RuntimeError, match="^Matrix is not unitary$"):
        s.set_unitary(np.array([[1, 0.5], [0, 1]], dtype=complex))
    assert s.sample() == FockState([1, 0])
    # Real arrays are converted to complex.
    s.set_unitary(np.array([[0.0, 1.0], [1.0, 0.0]]))
    assert s.sample() == FockState([0, 1])


@pytest.mark.parametrize("count", [-1, -2**70, 2.0, "3", None])
def test_counts_that_are_no_count_are_refused(count):
    with pytest.raises(TypeError):
        sampler(SPLITTER, [1, 1]).samples(count)


@pytest.mark.parametrize("count", [2**32, 2**40, 2**70, np.uint64(2**32)])
def test_counts_beyond_32_bits_name_the_limit(count):
    with pytest.raises(OverflowError, match=f"^The number of samples must be at most 4294967295, not {int(count)}$"):
        sampler(SPLITTER, [1, 1]).samples(count)


def test_counts_take_integer_indices():
    assert len(sampler(SPLITTER, [1, 1]).samples(np.int64(3))) == 3


def test_copies_are_independent():
    s = sampler(np.eye(2), [1, 0])
    assert s.sample() == FockState([1, 0])
    for c in (copy.copy(s), copy.deepcopy(s)):
        c.set_unitary(np.array([[0, 1], [1, 0]], dtype=complex))
        assert c.sample() == FockState([0, 1])
    assert s.sample() == FockState([1, 0])


def test_docstrings():
    assert Clifford2017.__doc__.startswith("Clifford & Clifford 2017 sampling back-end\n\n")
    assert "\n\nGenerate a list of samples.\n\n" in Clifford2017.samples.__doc__


@pytest.mark.parametrize("call", ["samples(10**8)", "sample()"])
def test_ctrl_c_stops_a_long_call_and_not_the_next(call):
    # 28 photons take seconds per sample: Ctrl-C reaches every task inside a sub-permanent, or
    # between two claims when the batch returns what is done.
    lines = run_and_interrupt(then_sigint_reaches_python(f"""
        import numpy as np, orbandile as ob
        q, _ = np.linalg.qr(np.random.default_rng(0).normal(size=(56, 56)) + 0j)
        s = ob.Clifford2017()
        s.set_unitary(q)
        s.set_input_state(ob.FockState([1] * 28 + [0] * 28))
        print("ready", flush=True)
        try:
            result = s.{call}
            print("returned", len(result) if isinstance(result, ob.BSSamples) else result, flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
        s.set_input_state(ob.FockState([1, 1] + [0] * 54))
        print(len(s.samples(3)), s.sample().n, flush=True)
    """))
    assert lines[0] == "interrupted: Process interrupted by user." or (
        call.startswith("samples") and lines[0].startswith("returned ") and int(lines[0].split()[1]) < 10**8)
    assert lines[1:] == ["3 2", "python interrupted"]
