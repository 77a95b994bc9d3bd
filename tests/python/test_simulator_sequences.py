"""Both simulators under seeded random sequences of setters and queries, each query checked against
a plain model: the distribution from naive permanents of the unitary in force, with the detectors,
heralds and post-selection in force applied by hand, or the error the call must raise. A setting
changed between two calls must reach the second, and one left behind by a change on the other
side (detectors or heralds for modes that are gone, a back-end of another size) must be refused
cleanly."""
import copy
import math
import os
import random

import numpy as np
import pytest

import orbandile as ob
from orbandile import SLOS, SLOS_V2, SLOS_V3, SLAP, Clifford2017, FockState, PostSelect, SVDistribution
from haar import haar_unitary
from strong_reference import DETECTORS, POSTSELECTIONS, reference, state_vector
from test_backend_sequences import MISMATCH, Model as BackendModel, Refusal, expect

BACKENDS = [SLOS, SLOS_V2, SLOS_V3, SLAP]
# Sequences per simulator; scripts/fuzz.sh runs many more under the sanitizers, from its own seed.
SEQUENCES = int(os.environ.get("ORBANDILE_SEQUENCE_COUNT", "25"))
BASE_SEED = int(os.environ.get("ORBANDILE_FUZZ_SEED", "0"))
STEPS = 40
EMPTY = "^(No .*|Unable to normalize an empty distribution)$"
SAMPLES, SHOTS = 40, 400


# ---------------------------------------------------------------------------------------------
# Edges


THRESHOLD = DETECTORS["threshold"][0]


@pytest.mark.parametrize("cls", [SLOS_V2, SLOS_V3])
@pytest.mark.parametrize("rows", [2, 4])
@pytest.mark.parametrize("settings, state", [
    ({}, ob.StateVector(FockState([1, 0, 1]))),
    ({}, ob.StateVector(ob.NoisyFockState("|{1},0,{2}>"))),
    ({}, ob.StateVector(FockState([1, 0, 1])) + ob.StateVector(FockState([0, 1, 1]))),
    # Without a herald mask the selection would read mode 2 of two-mode outputs.
    ({"detectors": [THRESHOLD] * 3, "heralds": {2: 0}, "differentiate_perf": True}, ob.StateVector(FockState([1, 0, 1]))),
], ids=["perfect", "noisy", "superposed", "heralded"])
def test_outputs_of_another_mode_count_than_the_input_are_refused(cls, rows, settings, state):
    backend = cls()
    backend.set_unitary(haar_unitary(4, 3)[:rows, :3])
    sim = ob.StrongSimulator(backend)
    for name, value in settings.items():
        if name == "detectors":
            sim.set_detectors(value)
        else:
            setattr(sim, name, value)
    with pytest.raises(ValueError, match=rf"^The back-end gives outputs of {rows} modes for an input of 3 modes; "
                                         "the simulator needs a square unitary$"):
        sim.probs_svd(SVDistribution({state: 1.0}))
    backend.set_unitary(haar_unitary(3, 3))
    assert sum(sim.probs_svd(SVDistribution({state: 1.0})).values()) == pytest.approx(1.0)


# ---------------------------------------------------------------------------------------------
# The model


class Model:
    """What a simulator holds, as plain values: the unitary in force, the input and every setting."""

    def __init__(self, cls):
        self.cls = cls  # the back-end's class, or Clifford2017 for the sampling simulator
        self.backend = BackendModel(SLAP if cls is Clifford2017 else cls)  # refusals of set_unitary
        self.entries = []  # [(p, [(amplitude, {tag: counts})])], tag 0 for a perfect state
        self.m = 0
        self.heralds = {}
        self.detectors = []  # names in DETECTORS
        self.postselect = None  # an entry of POSTSELECTIONS
        self.min_photons = 0
        self.differentiate_perf = False
        self.keep_heralds = True
        self.use_vector_cache = False
        self.u = np.zeros((0, 0))  # what the simulator's back-end holds
        self.shared = True  # whether that back-end is the one the sequence sets unitaries on

    def set_unitary(self, u):
        self.backend.set_unitary(u)  # raises the Refusal of the back-end's setter
        if self.shared:
            self.u = u

    def experiment(self):
        return {"m": self.m, "u": self.u, "entries": self.entries, "heralds": self.heralds,
                "postselect": self.postselect, "detectors": self.detectors, "min_photons": self.min_photons,
                "differentiate_perf": self.differentiate_perf, "keep_heralds": self.keep_heralds}

    def behaviour(self):
        kinds = set(self.detectors)
        if kinds <= {"perfect"}:
            return 0
        if kinds == {"threshold"}:
            return 1
        return 3 if kinds & {"lossy", "two_wires", "layered"} else 2

    def photons(self, components):
        return max(sum(sum(c) for c in groups.values()) for _, groups in components)

    def input_fraction(self):
        """The input probability with enough photons for the filter and the heralds."""
        minimum = self.min_photons + sum(self.heralds.values())
        if not self.entries:
            return 0.0
        total = sum(p for p, _ in self.entries)
        return sum(p for p, c in self.entries if self.photons(c) >= minimum) / total

    def use_mask(self):
        free = {k for k, c in self.heralds.items() if c == 0 and k < len(self.detectors)
                and self.detectors[k] in ("lossy", "two_wires")}  # the detectors that lose photons
        return bool(set(self.heralds) - free) and not (self.behaviour() != 0 and self.differentiate_perf)

    def strong_answer(self):
        """The reference's (distribution, acceptance, kept), or the Refusal of probs_svd."""
        m, (rows, cols) = self.m if self.entries else -1, self.u.shape
        if self.detectors and len(self.detectors) != m:
            raise Refusal(ValueError, rf"^State length \({m}\) and detector count \({len(self.detectors)}\) do not match$")
        if self.heralds and max(self.heralds) >= m >= 0:
            raise Refusal(ValueError, rf"^Herald on mode {max(self.heralds)} is out of the input's {m} modes$")
        if self.input_fraction() == 0:
            raise Refusal(RuntimeError, EMPTY)  # the back-end is never asked
        if cols != m or (self.cls is SLOS and rows != cols):
            raise Refusal(RuntimeError, MISMATCH)
        if rows != cols:
            outputs = rf"The back-end gives outputs of {rows} modes for an input of {m} modes; the simulator needs " \
                "a square unitary$"
            if self.heralds and self.use_mask():
                # The herald mask, written over the input's modes, is refused by the back-end unless
                # a part without photons, which the mask never meets, comes first.
                raise Refusal((RuntimeError, ValueError), r"^(FsMask::match\(\): incoherent sizes|" + outputs + ")")
            raise Refusal(ValueError, "^" + outputs)
        expected = reference(self.experiment())
        if expected is RuntimeError:
            raise Refusal(RuntimeError, EMPTY)
        return expected

    def perfect_sampling(self):
        return (not self.heralds and self.postselect is None and self.behaviour() == 0 and len(self.entries) == 1
                and len(self.entries[0][1]) == 1 and list(self.entries[0][1][0][1]) == [0])

    def sampling_answer(self):
        """("perfect" | "none" | "noisy", the reference's answer or None), or the Refusal of samples."""
        m, cols = self.m if self.entries else -1, self.u.shape[1]
        if self.detectors and len(self.detectors) != m:
            raise Refusal(ValueError, rf"^State length \({m}\) and detector count \({len(self.detectors)}\) do not match$")
        if self.perfect_sampling():
            if self.photons(self.entries[0][1]) == 0:
                return "perfect", ({(0,) * m: 1.0}, 1.0, 1.0)  # the sampler never looks at the unitary
            if cols != m:
                raise Refusal(RuntimeError, MISMATCH)
            # The perfect path applies no photon filter.
            return "perfect", reference(dict(self.experiment(), min_photons=0))
        if self.input_fraction() == 0:
            return "none", None
        if cols != m:
            raise Refusal(RuntimeError, MISMATCH)
        if self.heralds and max(self.heralds) >= m:
            raise Refusal(ValueError, rf"^Herald mode {max(self.heralds)} is outside the {m} modes of the input$")
        return "noisy", reference(self.experiment())


# ---------------------------------------------------------------------------------------------
# Random steps


def random_unitary(rng, model):
    # Mostly the size in force, so that the input, heralds and detectors keep fitting.
    m = model.u.shape[0] if model.u.shape[0] and rng.random() < 0.75 else rng.randint(1, 4)
    u = haar_unitary(m, rng.randrange(10**6))
    roll = rng.random()
    if roll < 0.06 and model.cls in (SLAP, Clifford2017):
        u = u * 1.5  # not unitary: refused, the last unitary stays (the SLOS back-ends take it)
    elif roll < 0.12 and m > 1:
        u = u[:, :m - 1] if rng.random() < 0.5 else u[:m - 1, :]  # outputs of another mode count
    return u


def random_counts(rng, m, n):
    counts = [0] * m
    for _ in range(n):
        counts[rng.randrange(m)] += 1
    return tuple(counts)


def random_input(rng, model, superposed):
    """m and entries as the reference takes them: perfect, noisy and (for the strong simulator)
    superposed states, of the unitary's input mode count mostly."""
    m = max(1, model.u.shape[1] + rng.choice([0] * 8 + [-1, 1]))
    if rng.random() < 0.03:
        return m, []
    entries, seen, size = [], set(), rng.choice([1, 1, 2])
    while len(entries) < size:
        kind = rng.choice(["fock", "noisy", "superposed"] if superposed else ["fock", "fock", "noisy"])
        terms = rng.randint(2, 3) if kind == "superposed" else 1
        components = []
        for _ in range(terms):
            n = rng.randint(0, 3)
            if kind == "noisy":
                groups = {}
                for _ in range(n):
                    tag = rng.randint(1, 2)
                    counts = list(groups.get(tag, (0,) * m))
                    counts[rng.randrange(m)] += 1
                    groups[tag] = tuple(counts)
                groups = groups or {0: (0,) * m}
            else:
                groups = {0: random_counts(rng, m, n)}
            components.append((complex(rng.gauss(0, 1), rng.gauss(0, 1)) if terms > 1 else 1.0, groups))
        key = frozenset(str(sorted(g.items())) for _, g in components)
        if key in seen or len(key) < len(components):
            continue
        seen.add(key)
        entries.append((rng.uniform(0.1, 1.0), components))
    return m, entries


def input_distribution(m, entries):
    return SVDistribution({state_vector(m, components): p for p, components in entries})


def random_heralds(rng, model):
    m = max(model.m, 1) + (rng.random() < 0.15)  # now and then past the last mode
    modes = rng.sample(range(m), min(rng.randint(1, 2), m))
    return {k: rng.choice([0, 0, 1, 1, 2]) for k in modes}


def random_detectors(rng, model):
    count = max(0, model.m + rng.choice([0] * 8 + [-1, 1]))
    return [rng.choice(list(DETECTORS)) for _ in range(count)]


# ---------------------------------------------------------------------------------------------
# Queries


def check_strong(sim, model, log):
    svd = input_distribution(model.m, model.entries)
    try:
        final, acceptance, kept = model.strong_answer()
    except Refusal as refusal:
        with pytest.raises(refusal.error, match=refusal.pattern):
            sim.probs_svd(svd)
        log.append("refused")
        return
    out = {tuple(s): p for s, p in sim.probs_svd(svd).items()}
    assert out.keys() <= final.keys()
    for s, p in final.items():
        assert out.get(s, 0.0) == pytest.approx(p, abs=1e-9), s
    assert sim.get_physical_perf() * sim.get_logical_perf() == pytest.approx(acceptance, abs=1e-9)
    if model.differentiate_perf or not any(DETECTORS[d][2] for d in model.detectors):
        assert sim.get_physical_perf() == pytest.approx(kept, abs=1e-9)


def bound(p, n):
    """Six standard deviations of a frequency of n draws, and some room for small n."""
    p = min(max(p, 0.0), 1.0)
    return 6 * math.sqrt(p * (1 - p) / n) + 0.02


def check_sampling(sim, model, log):
    svd = input_distribution(model.m, model.entries)
    try:
        path, expected = model.sampling_answer()
    except Refusal as refusal:
        with pytest.raises(refusal.error, match=refusal.pattern):
            sim.samples(svd, SAMPLES, SHOTS)
        log.append("refused")
        return
    samples = sim.samples(svd, SAMPLES, SHOTS)
    log.append(f"{path}: {len(samples)} samples")
    if path == "none":
        assert len(samples) == 0
        # Filtered out, every input is a physical loss; an empty input loses nothing.
        assert sim.get_physical_perf() == pytest.approx(0.0 if model.entries else 1.0, abs=1e-12)
        assert sim.get_logical_perf() == 1.0
        return
    if expected is RuntimeError:  # nothing passes: every shot is spent in vain
        assert len(samples) == 0
        assert sim.get_logical_perf() == 0.0 or sim.get_physical_perf() == 0.0
        return
    final, acceptance, kept = expected
    support = {s for s, p in final.items() if p > 1e-12}
    width = model.m - (len(model.heralds) if not model.keep_heralds else 0)
    for s in samples:
        assert s.m == width
        assert tuple(s) in support, s
    if path == "perfect":
        assert len(samples) == SAMPLES
        assert (sim.get_physical_perf(), sim.get_logical_perf()) == (1.0, 1.0)
        return
    physical, logical = sim.get_physical_perf(), sim.get_logical_perf()
    assert 0 <= physical <= 1 and 0 <= logical <= 1
    if model.behaviour() == 0:
        # No detection: every shot of an input with enough photons counts physically.
        assert physical == pytest.approx(model.input_fraction(), abs=1e-9)
    if model.behaviour() == 0 or model.differentiate_perf or not model.heralds:
        tried = round(len(samples) / logical) if logical > 0 else 0
        if tried >= 30:
            assert abs(logical - acceptance / kept) <= bound(acceptance / kept, tried)
        if model.behaviour() != 0 and tried >= 30:
            shots = tried / (physical / model.input_fraction())
            assert abs(physical - kept) <= bound(kept / model.input_fraction(), shots)


# ---------------------------------------------------------------------------------------------
# Sequences


def set_unitary(rng, backend, model, log):
    u = random_unitary(rng, model)
    log.append(f"set_unitary({u.shape}, unitary={np.allclose(u.conj().T @ u, np.eye(u.shape[1]))})")
    try:
        model.set_unitary(u)
        refusal = None
    except Refusal as r:
        refusal = r
    expect(refusal, lambda: backend.set_unitary(u))


def run_sequence(cls, seed):
    rng = random.Random(seed)
    model = Model(cls)
    backend = cls()
    first = haar_unitary(rng.randint(1, 3), rng.randrange(10**6))
    backend.set_unitary(first)
    model.set_unitary(first)
    model.m, model.entries = random_input(rng, model, cls is not Clifford2017)
    if cls is Clifford2017:
        sim = ob.SamplingSimulator(backend)
    else:
        sim = ob.StrongSimulator(backend)
        sim.rel_precision = 1e-13
    log = []

    def step():
        nonlocal sim
        roll = rng.random()
        if roll < 0.14:
            set_unitary(rng, backend, model, log)
        elif roll < 0.28:
            model.m, model.entries = random_input(rng, model, cls is not Clifford2017)
            log.append(f"input {model.m} modes {model.entries}")
        elif roll < 0.38:
            model.heralds = {} if rng.random() < 0.3 else random_heralds(rng, model)
            log.append(f"heralds = {model.heralds}")
            sim.heralds = model.heralds
        elif roll < 0.48:
            model.detectors = [] if rng.random() < 0.25 else random_detectors(rng, model)
            log.append(f"set_detectors({model.detectors})")
            sim.set_detectors([DETECTORS[d][0] for d in model.detectors])
        elif roll < 0.55:
            model.postselect = None if rng.random() < 0.3 else rng.choice(POSTSELECTIONS)
            log.append(f"postselect = {model.postselect and model.postselect[0]}")
            sim.postselect = PostSelect() if model.postselect is None else PostSelect(model.postselect[0])
        elif roll < 0.61:
            model.min_photons = rng.choice([0, 0, 0, 1, 2])
            log.append(f"min_photons_filter = {model.min_photons}")
            sim.min_photons_filter = model.min_photons
        elif roll < 0.66:
            model.keep_heralds = rng.random() < 0.5
            log.append(f"keep_heralds = {model.keep_heralds}")
            sim.keep_heralds = model.keep_heralds
        elif roll < 0.71:
            model.differentiate_perf = rng.random() < 0.5
            log.append(f"differentiate_perf = {model.differentiate_perf}")
            sim.differentiate_perf = model.differentiate_perf
        elif roll < 0.74 and cls is not Clifford2017:
            model.use_vector_cache = rng.random() < 0.5
            log.append(f"use_vector_cache = {model.use_vector_cache}")
            sim.use_vector_cache = model.use_vector_cache
        elif roll < 0.78:
            # A deep copy owns a clone of the back-end: later unitaries no longer reach it.
            how = rng.choice(["copy", "copy", "deepcopy"])
            log.append(how)
            sim = getattr(copy, how)(sim)
            model.shared = model.shared and how == "copy"
        else:
            log.append("query")
            (check_sampling if cls is Clifford2017 else check_strong)(sim, model, log)

    for _ in range(STEPS):
        try:
            step()
        except BaseException as e:
            raise AssertionError(f"seed {seed}: " + "; ".join(log)) from e


@pytest.mark.parametrize("cls", BACKENDS + [Clifford2017], ids=lambda c: c.__name__)
@pytest.mark.parametrize("seed", range(SEQUENCES))
def test_sequences_of_setters_and_queries_follow_the_model(cls, seed, restore_config):
    # One task from a seeded thread: a sampling sequence draws the same samples every time.
    restore_config.compute_max_thread_count = 1
    index = (BACKENDS + [Clifford2017]).index(cls)
    ob.set_seed((BASE_SEED + seed) * 31 + index)
    run_sequence(cls, (BASE_SEED + seed) * 7919 + index)
