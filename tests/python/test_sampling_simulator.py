import collections
import copy
import math
import threading
import time
import types

import numpy as np
import pytest

import orbandile as ob
from orbandile import (Clifford2017, FockState, NoisyFockState, PostSelect, SamplingSimulator,
                       Source, StateVector, SVDistribution)
from interrupt import run_and_interrupt

SPLITTER = np.array([[1, 1], [1, -1]]) / np.sqrt(2)


def simulator(u):
    c = Clifford2017()
    c.set_unitary(u)
    return SamplingSimulator(c)


def svd(entries):
    return SVDistribution({StateVector(s): p for s, p in entries.items()})


def test_a_new_simulator_reads_its_initial_values():
    s = simulator(np.eye(2))
    assert (s.keep_heralds, s.differentiate_perf, s.min_photons_filter) == (True, False, 0)
    assert s.heralds == {} and s.progress_callback is None and s.callback_interval == 1.0
    assert s.get_physical_perf() == 1.0 and s.get_logical_perf() == 1.0
    with pytest.raises(TypeError):
        SamplingSimulator(None)


def test_heralds_are_a_sorted_copy_and_bad_ones_change_nothing():
    s = simulator(np.eye(2))
    s.heralds = {3: 1, 0: 2}
    h = s.heralds
    assert list(h.items()) == [(0, 2), (3, 1)]
    h[1] = 1
    assert s.heralds == {0: 2, 3: 1}
    for bad in ({0: 256}, {-1: 0}, {0: 1.0}, {256: 1}):
        with pytest.raises(TypeError):
            s.heralds = bad
    assert s.heralds == {0: 2, 3: 1}
    s.heralds = {0: 0, 255: 255}


class Mode:
    """A mode number that Python tells apart from the int of the same value."""

    def __init__(self, mode):
        self.mode = mode

    def __index__(self):
        return self.mode


@pytest.mark.parametrize("make", [lambda: simulator(np.eye(2)),
                                  lambda: ob.StrongSimulator(ob.SLOS())], ids=["sampling", "strong"])
def test_a_herald_mapping_naming_one_mode_twice_is_refused(make):
    s = make()
    s.heralds = {Mode(3): 1}
    assert s.heralds == {3: 1}
    for twice in ({Mode(0): 1, 0: 2}, {Mode(1): 0, Mode(1): 0},
                  types.MappingProxyType({2: 1, Mode(2): 1})):
        with pytest.raises(ValueError, match=r"^Herald mode \d is given more than once$"):
            s.heralds = twice
    assert s.heralds == {3: 1}
    with pytest.raises(TypeError):
        s.heralds = {0: 256}
    assert s.heralds == {3: 1}


def test_postselect_is_the_simulators_own_and_refuses_none():
    s = simulator(np.eye(2))
    with pytest.raises(TypeError):
        s.postselect = None
    given = PostSelect("[0] == 1")
    s.postselect = given
    given.shift_modes(1)
    assert s.postselect == PostSelect("[0] == 1")
    own = s.postselect
    own.shift_modes(1)
    assert s.postselect == PostSelect("[1] == 1")
    s.postselect = PostSelect()
    assert s.postselect == PostSelect()


@pytest.mark.parametrize("seconds, read", [(0.0015, 0.001), (2, 2.0), (0.0009, 0.0), (-1.5, -1.5)])
def test_the_interval_is_kept_in_whole_milliseconds(seconds, read):
    s = simulator(np.eye(2))
    s.callback_interval = seconds
    assert s.callback_interval == read


def test_the_shot_limit_is_required_but_may_be_none():
    s = simulator(np.eye(2))
    d = svd({FockState([1, 0]): 1.0})
    with pytest.raises(TypeError):
        s.samples(d, 5)
    assert len(s.samples(d, 5, None)) == 5
    assert len(s.samples(d, -5, None)) == 0
    assert isinstance(s.samples(d, 3, 2), ob.BSSamples)


def test_detectors_come_from_serialized_strings_and_are_counted_by_samples():
    s = simulator(np.eye(3))
    s.set_detectors(["", b""])
    with pytest.raises(ValueError, match=r"^State length \(3\) and detector count \(2\) do not match$"):
        s.samples(svd({FockState([1, 0, 0]): 1.0}), 5, None)
    with pytest.raises(ValueError, match=r"^State length \(3\) and detector count \(2\) do not match$"):
        s.samples(Source(0.9), FockState([1, 0, 0]), 5, None)
    with pytest.raises(RuntimeError, match="^Could not parse serialized content$"):
        s.set_detectors(["", b"\xff", ""])
    with pytest.raises(TypeError):
        s.set_detectors(b"")
    s.set_detectors(("", "", ""))
    assert len(s.samples(svd({FockState([1, 0, 0]): 1.0}), 5, None)) == 5
    s.set_detectors([])
    assert len(s.samples(svd({FockState([1, 0, 0]): 1.0}), 5, None)) == 5


@pytest.mark.parametrize("state, message", [
    (StateVector(FockState([1, 0])) + StateVector(FockState([0, 1])),
     "^Noisy sampling does not support superposed states, got "),
    (StateVector(ob.AnnotatedFockState("|{a:1},0>")), "^AnnotatedFockStates can't be simulated$"),
])
def test_inputs_that_cannot_be_sampled_are_refused(state, message):
    s = simulator(np.eye(2))
    with pytest.raises(ValueError, match=message):
        s.samples(SVDistribution({state: 1.0}), 5, None)


def test_the_simulator_shares_its_sampler_and_deep_copies_do_not():
    c = Clifford2017()
    c.set_unitary(np.eye(2))
    s = SamplingSimulator(c)
    s.heralds = {1: 0}
    shallow, deep = copy.copy(s), copy.deepcopy(s)
    d = svd({FockState([1, 0]): 1.0})
    # A swap set on the shared sampler sends the photon onto the herald mode.
    c.set_unitary(np.array([[0, 1], [1, 0]]))
    assert len(s.samples(d, 10, 20)) == 0 and len(shallow.samples(d, 10, 20)) == 0
    assert [str(x) for x in deep.samples(d, 3, None)] == ["|1,0>"] * 3
    assert deep.heralds == {1: 0}


def test_a_failing_progress_callable_raises_its_own_error():
    s = simulator(np.eye(3))
    s.postselect = PostSelect("[0] < 3")
    s.callback_interval = 0.001

    def callback(progress, message):
        if progress > 0:
            raise ValueError("stop here")
        return False

    s.progress_callback = callback
    with pytest.raises(ValueError, match="stop here"):
        s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 2_000_000_000, None)


def test_a_cancelling_callable_returns_what_is_done_and_the_next_run_starts_afresh():
    s = simulator(np.eye(3))
    s.postselect = PostSelect("[0] < 3")
    s.callback_interval = 0.001
    calls = []
    s.progress_callback = lambda p, m: calls.append(p) or len(calls) == 2
    first = s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 2_000_000_000, None)
    assert len(first) < 2_000_000_000 and calls[-1] == 1.0
    s.progress_callback = None
    assert len(s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 50, None)) == 50
    assert s.progress_callback is None


@pytest.mark.parametrize("setup, call", [
    ("", "s.samples(d, 10**9, None)"),
    ("s.postselect = ob.PostSelect('[0] < 30')", "s.samples(d, 10**9, None)"),
    ("s.postselect = ob.PostSelect('[0] < 30')", "s.samples(ob.Source(0.99), state, 10**9, None)"),
], ids=["perfect", "noisy", "source"])
def test_ctrl_c_returns_what_is_done_on_every_path_and_not_the_next_run(setup, call):
    # 20 photons keep every task inside a sub-permanent most of the time.
    lines = run_and_interrupt(f"""
        import numpy as np, orbandile as ob
        q, _ = np.linalg.qr(np.random.default_rng(0).normal(size=(40, 40)) + 0j)
        c = ob.Clifford2017()
        c.set_unitary(q)
        s = ob.SamplingSimulator(c)
        {setup}
        state = ob.FockState([1] * 20 + [0] * 20)
        d = ob.SVDistribution({{ob.StateVector(state): 1.0}})
        print("ready", flush=True)
        try:
            print("returned", len({call}), flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
        c.set_unitary(np.eye(40))
        print(len({call.replace("10**9", "3")}), flush=True)
    """)
    assert lines[0].startswith("returned ") and int(lines[0].split()[1]) < 10**9
    assert lines[1:] == ["3"]


def changing_everything(s, c):
    s.heralds = {2: 0}
    s.heralds = {}
    s.keep_heralds = True
    s.postselect.merge(PostSelect("[1] == 1"))
    s.postselect = PostSelect("[0] == 0")
    s.min_photons_filter = 3
    s.set_detectors(["", "", ""])
    c.set_unitary(np.eye(2))
    s.progress_callback = None


def started_with(s):
    s.heralds = {2: 0}
    s.keep_heralds = False
    s.postselect = PostSelect("[0] == 1")
    s.callback_interval = 0.001


# A run keeps the settings it started with, whoever changes them while the tasks work; the next
# run takes the changes.
def test_settings_changed_by_the_callable_apply_to_the_next_run(restore_config):
    ob.Config.compute_max_thread_count = 3
    c = Clifford2017()
    c.set_unitary(np.eye(3))
    s = SamplingSimulator(c)
    started_with(s)
    calls = []

    def callback(progress, message):
        calls.append(progress)
        changing_everything(s, c)
        return False

    s.progress_callback = callback
    samples = s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 100_000, None)
    assert len(samples) == 100_000 and {str(x)[:2] for x in samples} == {"|1"}
    assert all(x.m == 2 for x in samples) and len(calls) >= 2
    assert s.progress_callback is None and s.heralds == {}
    with pytest.raises(RuntimeError, match="^Matrix/input state sizes mismatch$"):
        s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 10, None)


def test_settings_changed_by_another_thread_apply_to_the_next_run(restore_config):
    ob.Config.compute_max_thread_count = 3
    c = Clifford2017()
    c.set_unitary(np.eye(3))
    s = SamplingSimulator(c)
    started_with(s)
    done = threading.Event()

    def meddle():
        while not done.is_set():
            s.heralds = {2: 0}
            s.postselect.merge(PostSelect("[1] < 3"))
            s.postselect = PostSelect("[0] == 1")
            s.progress_callback = None
            s.progress_callback = lambda p, m: time.sleep(0.0005) or False

    s.progress_callback = lambda p, m: time.sleep(0.0005) or False
    meddler = threading.Thread(target=meddle)
    meddler.start()
    try:
        samples = s.samples(Source(0.9, 0.03, 0.8), FockState([1, 1, 0]), 200_000, None)
    finally:
        done.set()
        meddler.join()
    assert len(samples) == 200_000 and all(x.m == 2 and str(x)[:2] == "|1" for x in samples)


def test_a_stored_callable_reads_back_as_a_new_callable():
    s = simulator(np.eye(2))
    f = lambda p, m: p > 0.25  # noqa: E731
    s.progress_callback = f
    g = s.progress_callback
    assert g is not f and g(0.5, "x") is True and g(0.1, "x") is False


# Two distinguishable photons on a balanced splitter leave one per mode half of the time; the
# herald on mode 1 keeps only the outputs with exactly one photon there.
def test_noisy_heralded_samples_follow_the_exact_probabilities(restore_config):
    ob.Config.compute_max_thread_count = 2
    s = simulator(SPLITTER)
    s.heralds = {1: 1}
    s.differentiate_perf = True
    d = SVDistribution({StateVector(NoisyFockState("|{0},{1}>")): 1.0})
    samples = s.samples(d, 4000, None)
    assert len(samples) == 4000 and all(str(x) == "|1,1>" for x in samples)
    # Outputs |2,0>, |1,1>, |0,2> with 1/4, 1/2, 1/4: the herald accepts one half.
    assert s.get_physical_perf() == 1.0
    assert abs(s.get_logical_perf() - 0.5) < 6 * math.sqrt(0.25 / 8000)
    s.keep_heralds = False
    counts = collections.Counter(str(x) for x in s.samples(d, 100, None))
    assert counts == {"|1>": 100}


def test_noisy_heralded_post_selected_samples_follow_the_strong_simulator(restore_config):
    rng = np.random.default_rng(11)
    q, r = np.linalg.qr(rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4)))
    u = q * (np.diag(r) / abs(np.diag(r)))
    source, expected = Source(0.9, 0.03, 0.8), FockState([1, 1, 1, 0])

    def configured(sim):
        sim.heralds = {3: 0}
        sim.postselect = PostSelect("[0] < 2")
        sim.keep_heralds = False
        sim.min_photons_filter = 1
        return sim

    backend = ob.SLOS_V3()
    backend.set_unitary(u)
    strong = configured(ob.StrongSimulator(backend))
    exact = {str(s): p for s, p in strong.probs_svd(source, expected).items()}
    sampling = configured(simulator(u))
    ob.Config.compute_max_thread_count = 1
    ob.set_seed(5)
    n = 200_000
    counts = collections.Counter(str(s) for s in sampling.samples(source, expected, n, None))
    assert sum(counts.values()) == n and set(counts) <= set(exact)
    for state, p in exact.items():
        assert abs(counts[state] / n - p) <= 6 * math.sqrt(p * (1 - p) / n) + 1e-12, state
    assert sum(abs(counts[s] / n - p) for s, p in exact.items()) / 2 < 0.01
    assert sampling.get_physical_perf() == pytest.approx(strong.get_physical_perf(), abs=1e-9)
    assert sampling.get_logical_perf() == pytest.approx(strong.get_logical_perf(), abs=5e-3)
