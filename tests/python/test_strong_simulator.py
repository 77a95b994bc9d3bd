import copy
import math

import numpy as np
import pytest

import orbandile as ob
from haar import haar_unitary
from strong_reference import (DETECTORS, POSTSELECTIONS, noisy_text, ppnr_bytes, random_component, reference,
                              state_vector)

BACKENDS = [ob.SLOS, ob.SLOS_V2, ob.SLOS_V3, ob.SLAP]
BS = np.array([[1, 1], [1, -1]]) / math.sqrt(2)


def simulator(backend_cls, u):
    backend = backend_cls()
    backend.set_unitary(u)
    return ob.StrongSimulator(backend), backend


def as_dict(fsd):
    return {str(s): p for s, p in fsd.items()}


def assert_close(actual, expected, tol=1e-9):
    actual, expected = as_dict(actual), {k: v for k, v in as_dict(expected).items() if v > 1e-14}
    assert set(actual) == set(expected)
    for k, v in expected.items():
        assert actual[k] == pytest.approx(v, abs=tol), k


def svd_of(*pairs):
    return ob.SVDistribution({sv: p for sv, p in pairs})


@pytest.fixture(params=BACKENDS, ids=lambda c: c.__name__)
def backend_cls(request):
    return request.param


def test_defaults():
    sim = ob.StrongSimulator(ob.SLOS())
    assert (sim.keep_heralds, sim.use_vector_cache, sim.differentiate_perf) == (True, False, False)
    assert (sim.rel_precision, sim.min_photons_filter, sim.heralds) == (1e-6, 0, {})
    assert sim.progress_callback is None and sim.callback_interval == 1.0
    assert sim.get_physical_perf() == sim.get_logical_perf() == 1.0


@pytest.mark.parametrize("bad", [None, ob.Clifford2017(), "SLOS"])
def test_refuses_what_is_not_a_backend(bad):
    with pytest.raises(TypeError):
        ob.StrongSimulator(bad)


def test_same_answers_over_all_backends():
    u = haar_unitary(4, 1)
    source = ob.Source(0.9, 0.02, 0.9, 0.1)
    svd = svd_of((ob.StateVector(ob.NoisyFockState("|{1},{1},0,{2}>")), 0.7),
                 (ob.StateVector(ob.FockState([0, 1, 1, 1])), 0.3))
    results = []
    for cls in BACKENDS:
        sim, _ = simulator(cls, u)
        sim.heralds = {3: 1}
        sim.postselect = ob.PostSelect("[0] < 2")
        results.append((sim.probs_svd(svd), sim.get_physical_perf(), sim.get_logical_perf(),
                        sim.probs_svd(source, ob.FockState([1, 1, 0, 1])), sim.get_logical_perf()))
    for other in results[1:]:
        assert_close(other[0], results[0][0])
        assert_close(other[3], results[0][3])
        assert other[1:3] == pytest.approx(results[0][1:3])
        assert other[4] == pytest.approx(results[0][4])


def test_perfect_input_is_the_backend_distribution(backend_cls):
    u = haar_unitary(3, 2)
    sim, backend = simulator(backend_cls, u)
    backend.set_input_state(ob.FockState([1, 0, 2]))
    assert_close(sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 0, 2])), 1.0))), backend.distribution())


def test_interference_needs_equal_tags(backend_cls):
    sim, _ = simulator(backend_cls, BS)
    r = 1 / math.sqrt(2)
    coherent = sim.probs_svd(svd_of((r * ob.StateVector(ob.FockState([1, 0])) + r * ob.StateVector(ob.FockState([0, 1])), 1)))
    assert as_dict(coherent) == pytest.approx({"|1,0>": 1.0})
    mixed = sim.probs_svd(svd_of((r * ob.StateVector("|{1},0>") + r * ob.StateVector("|0,{2}>"), 1)))
    assert as_dict(mixed) == pytest.approx({"|1,0>": 0.5, "|0,1>": 0.5})


def test_bunched_superposition_adds_physical_amplitudes(backend_cls):
    sim, _ = simulator(backend_cls, BS)
    r = 1 / math.sqrt(2)
    out = sim.probs_svd(svd_of((r * ob.StateVector(ob.FockState([1, 1])) + r * ob.StateVector(ob.FockState([2, 0])), 1)))
    # By hand: |1,1> gives (|2,0> - |0,2>)/√2, |2,0> gives |2,0>/2 + |1,1>/√2 + |0,2>/2.
    assert as_dict(out) == pytest.approx({"|2,0>": (3 + 2 * math.sqrt(2)) / 8, "|1,1>": 0.25,
                                          "|0,2>": (3 - 2 * math.sqrt(2)) / 8}, abs=1e-12)
    assert sim.get_logical_perf() == pytest.approx(1.0)


def test_distinguishable_photons_are_the_product_of_their_groups(backend_cls):
    u = haar_unitary(3, 3)
    sim, backend = simulator(backend_cls, u)

    def dist(counts):
        backend.set_input_state(ob.FockState(counts))
        return as_dict(backend.distribution())

    a, b = dist([1, 1, 0]), dist([0, 0, 1])
    expected = {}
    for s, p in a.items():
        for t, q in b.items():
            key = str(ob.FockState(s).merge(ob.FockState(t)))
            expected[key] = expected.get(key, 0) + p * q
    for vector_cache in (False, True):
        sim.use_vector_cache = vector_cache
        out = as_dict(sim.probs_svd(svd_of((ob.StateVector(ob.NoisyFockState("|{1},{1},{2}>")), 1))))
        assert out == pytest.approx(expected, abs=1e-9)


def test_heralds_and_post_selection_performances(backend_cls):
    u = haar_unitary(3, 4)
    sim, backend = simulator(backend_cls, u)
    backend.set_input_state(ob.FockState([1, 1, 1]))
    full = as_dict(backend.distribution())
    accepted = {s: p for s, p in full.items() if ob.FockState(s)[2] == 1 and ob.FockState(s)[0] != 2}
    mass = sum(accepted.values())
    sim.heralds = {2: 1}
    sim.postselect = ob.PostSelect("[0] != 2")
    sim.keep_heralds = False
    out = as_dict(sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 1, 1])), 1))))
    assert out == pytest.approx({str(ob.FockState(s)[0:2]): p / mass for s, p in accepted.items()}, abs=1e-9)
    assert sim.get_physical_perf() == pytest.approx(1.0)
    assert sim.get_logical_perf() == pytest.approx(mass)


def test_detectors_from_serialised_strings():
    sim, _ = simulator(ob.SLOS_V2, BS)
    sim.set_detectors((ppnr_bytes(0, 1, 1.0), ppnr_bytes(0, 1, 1.0)))  # threshold detectors
    sim.min_photons_filter = 1
    out = sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 1])), 1)))
    assert as_dict(out) == pytest.approx({"|1,0>": 0.5, "|0,1>": 0.5})
    sim.set_detectors(["", b""])  # perfect
    assert as_dict(sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 1])), 1)))) == pytest.approx(
        {"|2,0>": 0.5, "|0,2>": 0.5})
    with pytest.raises(RuntimeError, match="Could not parse serialized content"):
        sim.set_detectors([b"\xff"])
    with pytest.raises(TypeError):
        sim.set_detectors(b"")
    sim.set_detectors(["", "", ""])
    with pytest.raises(ValueError, match=r"State length \(2\) and detector count \(3\) do not match"):
        sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 1])), 1)))


@pytest.mark.parametrize("heralds, message", [
    ({2: 0}, "Herald on mode 2"),
    ({1: 33}, "more than 32 detected photons"),
])
def test_herald_faults_are_value_errors(heralds, message):
    sim, _ = simulator(ob.SLOS_V3, BS)
    sim.heralds = heralds
    with pytest.raises(ValueError, match=message):
        sim.probs_svd(svd_of((ob.StateVector(ob.FockState([34, 0])), 1)))
    if 2 in heralds:
        with pytest.raises(ValueError, match=message):
            sim.probs_svd(ob.Source(), ob.FockState([1, 0]))


def test_annotated_inputs_are_refused_in_both_paths():
    sim, _ = simulator(ob.SLOS, BS)
    r = 1 / math.sqrt(2)
    annotated = ob.StateVector(ob.AnnotatedFockState("|{a:0},0>"))
    superposed = r * ob.StateVector(ob.FockState([1, 0])) + r * ob.StateVector(ob.FockState([0, 1]))
    for svd in (svd_of((annotated, 1)), svd_of((annotated, 0.5), (superposed, 0.5))):
        with pytest.raises(ValueError, match="Got an annotated fock state, which can't be simulated"):
            sim.probs_svd(svd)


def test_lone_state_amplitude_does_not_weigh_its_input():
    sim, _ = simulator(ob.SLOS_V2, BS)
    r = 1 / math.sqrt(2)
    superposed = r * ob.StateVector(ob.FockState([1, 0])) + r * ob.StateVector(ob.FockState([0, 1]))
    out = sim.probs_svd(svd_of((0.5j * ob.StateVector(ob.FockState([1, 0])), 0.5), (superposed, 0.5)))
    assert as_dict(out) == pytest.approx({"|1,0>": 0.75, "|0,1>": 0.25})
    assert sim.get_logical_perf() == pytest.approx(1.0)


def test_progress_callback_and_cancellation():
    sim, _ = simulator(ob.SLOS_V2, haar_unitary(3, 5))
    calls = []
    sim.progress_callback = lambda p, m: calls.append((p, m))
    sim.callback_interval = 0
    svd = svd_of((ob.StateVector(ob.NoisyFockState("|{1},{2},{1}>")), 1))
    sim.probs_svd(svd)
    assert calls and {m for _, m in calls} <= {"Computing probability distributions...", "Recombining distributions..."}
    assert all(0 <= p <= 1 for p, _ in calls)
    sim.progress_callback = lambda p, m: True
    with pytest.raises(KeyboardInterrupt, match="Cancel requested."):
        sim.probs_svd(svd)
    sim.progress_callback = lambda p, m: False
    sim.probs_svd(svd)

    def boom(p, m):
        raise ZeroDivisionError("from the callback")

    sim.progress_callback = boom
    with pytest.raises(ZeroDivisionError, match="from the callback"):
        sim.probs_svd(svd)
    sim.progress_callback = lambda p, m: "yes"
    with pytest.raises(RuntimeError):
        sim.probs_svd(svd)
    sim.progress_callback = lambda p, m: None
    sim.probs_svd(svd)


def test_progress_callback_reads_back_a_new_callable():
    sim = ob.StrongSimulator(ob.SLOS())
    f = lambda p, m: p > 0.25  # noqa: E731
    sim.progress_callback = f
    g = sim.progress_callback
    assert g is not f and g(0.5, "x") is True and g(0.1, "x") is False
    sim.progress_callback = None
    assert sim.progress_callback is None
    with pytest.raises(TypeError):
        sim.progress_callback = 3


@pytest.mark.parametrize("seconds, back", [(0.0009, 0.0), (-1.5, -1.5), (2, 2.0)])
def test_callback_interval_in_whole_milliseconds(seconds, back):
    sim = ob.StrongSimulator(ob.SLOS())
    sim.callback_interval = seconds
    assert sim.callback_interval == back


@pytest.mark.parametrize("seconds", [float("nan"), float("inf"), 1e300])
def test_callback_interval_without_a_millisecond_count_is_refused(seconds):
    sim = ob.StrongSimulator(ob.SLOS())
    with pytest.raises(ValueError):
        sim.callback_interval = seconds
    assert sim.callback_interval == 1.0


@pytest.mark.parametrize("heralds", [{0: 1.0}, {256: 1}, {0: -1}, [(0, 1)]])
def test_bad_heralds_are_type_errors(heralds):
    sim = ob.StrongSimulator(ob.SLOS())
    sim.heralds = {1: 1}
    with pytest.raises(TypeError):
        sim.heralds = heralds
    assert sim.heralds == {1: 1}


def test_heralds_read_back_in_mode_order():
    sim = ob.StrongSimulator(ob.SLOS())
    sim.heralds = {2: 0, 1: 1}
    assert list(sim.heralds.items()) == [(1, 1), (2, 0)]
    sim.heralds = {0: 0, 255: 255}


def test_postselect_property_refers_to_the_simulator_member():
    sim, _ = simulator(ob.SLOS_V2, BS)
    ps = ob.PostSelect("[0] == 2")
    sim.postselect = ps
    ps.shift_modes(1)
    assert str(sim.postselect) != str(ps)
    view = sim.postselect
    view.shift_modes(1)
    assert str(sim.postselect) == str(view)
    with pytest.raises(TypeError):
        sim.postselect = None


def test_copy_shares_the_backend_deepcopy_clones_it():
    sim, backend = simulator(ob.SLOS, BS)
    shallow, deep = copy.copy(sim), copy.deepcopy(sim)
    backend.set_unitary(np.eye(2))
    svd = svd_of((ob.StateVector(ob.FockState([1, 0])), 1))
    assert as_dict(shallow.probs_svd(svd)) == pytest.approx({"|1,0>": 1.0})
    assert as_dict(deep.probs_svd(svd)) == pytest.approx({"|1,0>": 0.5, "|0,1>": 0.5})


def test_backend_outlives_its_python_object():
    backend = ob.SLAP()
    backend.set_unitary(BS)
    sim = ob.StrongSimulator(backend)
    del backend
    assert as_dict(sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 0])), 1)))) == pytest.approx(
        {"|1,0>": 0.5, "|0,1>": 0.5})


THRESHOLD, BLIND = ppnr_bytes(0, 1, 1.0), ppnr_bytes(0, 0, 0.0)
PASS = "No output passes the heralds and post-selection"


@pytest.mark.parametrize("u, counts, settings, message", [
    (np.eye(2), [1, 0], {"heralds": {1: 1}}, PASS),  # the herald mask leaves nothing
    (np.eye(2), [1, 0], {"heralds": {1: 1}, "differentiate_perf": True}, PASS),
    (BS, [1, 0], {"postselect": ob.PostSelect("[0] == 2")}, PASS),
    (BS, [1, 1], {"heralds": {0: 1}, "postselect": ob.PostSelect("[1] == 0"), "keep_heralds": False}, PASS),
    (BS, [1, 1], {"heralds": {0: 2}, "detectors": [THRESHOLD] * 2, "differentiate_perf": True},
     "No detected output holds enough photons"),  # two photons cannot show on threshold detectors
    (BS, [1, 1], {"heralds": {0: 2}, "detectors": [THRESHOLD] * 2},
     "No detected output holds enough photons and matches the heralds"),
    (BS, [1, 1], {"detectors": [BLIND] * 2, "min_photons_filter": 1}, "No detected output holds enough photons"),
])
def test_an_empty_result_names_what_emptied_it(backend_cls, u, counts, settings, message):
    sim, _ = simulator(backend_cls, u)
    for name, value in settings.items():
        if name == "detectors":
            sim.set_detectors(value)
        else:
            setattr(sim, name, value)
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        sim.probs_svd(svd_of((ob.StateVector(ob.FockState(counts)), 1)))
    with pytest.raises(RuntimeError, match=f"^{message}$"):
        sim.probs_svd(ob.Source(), ob.FockState(counts))


def test_nothing_left_raises():
    sim, _ = simulator(ob.SLOS_V2, BS)
    sim.min_photons_filter = 2
    with pytest.raises(RuntimeError, match="Unable to normalize an empty distribution"):
        sim.probs_svd(svd_of((ob.StateVector(ob.FockState([1, 0])), 1)))
    assert sim.get_physical_perf() == 0


# ---------------------------------------------------------------------------------------------
# Differential test: every back-end against the reference computed from permanents, on seeded
# random experiments.


def random_experiment(seed):
    rng = np.random.default_rng(seed)
    m = int(rng.integers(2, 5))
    entries, seen = [], set()
    for _ in range(int(rng.integers(1, 4))):
        kind = rng.choice(["fock", "noisy", "superposed", "superposed_noisy", "annotated"], p=[.25, .25, .2, .2, .1])
        if kind == "annotated":
            components = [(1.0, {"annotated": (1,) + (0,) * (m - 1)})]
        else:
            size = 1 if kind in ("fock", "noisy") else int(rng.integers(2, 4))
            components = [(complex(rng.normal(), rng.normal()), random_component(rng, m, "noisy" in kind))
                          for _ in range(size)]
        key = frozenset(noisy_text(g, m) for _, g in components)
        if key in seen or len(key) < len(components):
            continue
        seen.add(key)
        entries.append((float(rng.uniform(0.05, 1.0)), components))
    heralds = {}
    if rng.random() < 0.5:
        for mode in rng.choice(m, size=int(rng.integers(1, 3)), replace=False):
            heralds[int(mode)] = int(rng.integers(0, 3))
    return {
        "m": m, "u": haar_unitary(m, 1000 + seed), "entries": entries, "heralds": heralds,
        "postselect": POSTSELECTIONS[rng.integers(len(POSTSELECTIONS))] if rng.random() < 0.5 else None,
        "detectors": [str(d) for d in rng.choice(list(DETECTORS), size=m)] if rng.random() < 0.5 else [],
        "min_photons": int(rng.integers(0, 3)), "differentiate_perf": bool(rng.random() < 0.5),
        "keep_heralds": bool(rng.random() < 0.5), "use_vector_cache": bool(rng.random() < 0.5),
    }


def run(backend_cls, e):
    backend = backend_cls()
    backend.set_unitary(e["u"])
    sim = ob.StrongSimulator(backend)
    sim.rel_precision = 1e-13
    sim.heralds = e["heralds"]
    sim.min_photons_filter = e["min_photons"]
    sim.differentiate_perf, sim.keep_heralds = e["differentiate_perf"], e["keep_heralds"]
    sim.use_vector_cache = e["use_vector_cache"]
    if e["postselect"]:
        sim.postselect = ob.PostSelect(e["postselect"][0])
    sim.set_detectors([DETECTORS[d][0] for d in e["detectors"]])
    svd = ob.SVDistribution()
    for p, components in e["entries"]:
        if "annotated" in components[0][1]:
            svd[ob.StateVector(ob.AnnotatedFockState("|{a:0}" + ",0" * (e["m"] - 1) + ">"))] = p
        else:
            svd[state_vector(e["m"], components)] = p
    return sim, svd


@pytest.mark.parametrize("seed", range(60))
def test_every_backend_matches_the_permanent_reference(seed):
    e = random_experiment(seed)
    expected = reference(e)
    for cls in BACKENDS:
        sim, svd = run(cls, e)
        if isinstance(expected, type):
            with pytest.raises(expected):
                sim.probs_svd(svd)
            continue
        final, acceptance, kept = expected
        out = {tuple(s): p for s, p in sim.probs_svd(svd).items()}
        assert out.keys() <= final.keys(), cls.__name__
        for s, p in final.items():
            assert out.get(s, 0.0) == pytest.approx(p, abs=1e-9), (cls.__name__, s)
        assert sim.get_physical_perf() * sim.get_logical_perf() == pytest.approx(acceptance, abs=1e-9), cls.__name__
        if e["differentiate_perf"] or not any(DETECTORS[d][2] for d in e["detectors"]):
            assert sim.get_physical_perf() == pytest.approx(kept, abs=1e-9), cls.__name__
