"""The probability back-ends at their edges and under seeded random sequences of setters and
queries, each query checked against a plain model: the output states listed without the module,
amplitudes from naive permanents of the current matrix, or the error the call must raise."""
import copy
import itertools
import math
import os
import random

import numpy as np
import pytest

import orbandile as ob
from orbandile import SLOS, SLOS_V2, SLOS_V3, SLAP, ConfiguratorMap, FockState, FSMask
from haar import haar_unitary
from natural_order import natural_order
from strong_reference import feed_forward_matrix

BACKENDS = [SLOS, SLOS_V2, SLOS_V3, SLAP]
# Sequences per back-end; scripts/fuzz.sh runs many more under the sanitizers, from its own seed.
SEQUENCES = int(os.environ.get("ORBANDILE_SEQUENCE_COUNT", "25"))
BASE_SEED = int(os.environ.get("ORBANDILE_FUZZ_SEED", "0"))
STEPS = 40
MISMATCH = "^Matrix/input state sizes mismatch"


# ---------------------------------------------------------------------------------------------
# Edges: one rule for every back-end


@pytest.mark.parametrize("cls", BACKENDS)
@pytest.mark.parametrize("counts", [[], [0, 0], [0, 0, 0, 0], [1, 1], [0, 1, 0, 1]])
def test_an_input_of_another_mode_count_is_refused_the_vacuum_too(cls, counts):
    backend = cls()
    backend.set_unitary(np.eye(3))
    backend.set_input_state(FockState(counts))
    for query in (backend.all_amplitudes, backend.all_probabilities, backend.distribution):
        with pytest.raises(RuntimeError, match=MISMATCH):
            query()
    backend.set_input_state(FockState([0, 0, 0]))
    assert backend.all_amplitudes() == [1]
    assert dict(backend.distribution().items()) == {FockState([0, 0, 0]): 1}


NOT_FINITE = [
    (np.nan, r"\(nan\+0j\) at row 1, column 0"),
    (complex(0, -np.inf), r"\(0-infj\) at row 1, column 0"),
    (complex(np.inf, np.nan), r"\(inf\+nanj\) at row 1, column 0"),
]


@pytest.mark.parametrize("cls", BACKENDS + [ob.SLAPSampler, ob.Clifford2017])
@pytest.mark.parametrize("value, where", NOT_FINITE)
def test_a_unitary_that_is_not_finite_is_refused_when_set(cls, value, where):
    splitter = np.array([[1, 1], [1, -1]]) / np.sqrt(2)
    backend = cls()
    backend.set_unitary(splitter)
    u = splitter.astype(complex)
    u[1, 0] = value
    with pytest.raises(ValueError, match="^Matrix holds a value that is not finite: " + where + "$"):
        backend.set_unitary(u)
    # The splitter is still in force.
    state = FockState([1, 1])
    if cls is ob.SLAPSampler:
        assert backend.sampling(state, 50)[1] == 0
    elif cls is ob.Clifford2017:
        backend.set_input_state(state)
        assert all(s != state for s in backend.samples(20))
    else:
        backend.set_input_state(state)
        assert backend.all_probabilities() == pytest.approx([0.5, 0, 0.5], abs=1e-12)


# ---------------------------------------------------------------------------------------------
# The model


def permanent(a):
    n = a.shape[0]
    return sum(math.prod(a[i, p[i]] for i in range(n)) for p in itertools.permutations(range(n)))


def factorials(counts):
    return math.prod(math.factorial(c) for c in counts)


def amplitude(u, s, t):
    rows = [j for j, c in enumerate(s) for _ in range(c)]
    cols = [k for k, c in enumerate(t) for _ in range(c)]
    return permanent(u[np.ix_(rows, cols)]) / math.sqrt(factorials(s) * factorials(t))


def is_unitary(u):
    with np.errstate(invalid="ignore", over="ignore"):
        return u.shape[0] == u.shape[1] and np.allclose(u.conj().T @ u, np.eye(u.shape[1]), atol=1e-6)


class Refusal(Exception):
    """What a call must raise: the exception type and a pattern of its message."""

    def __init__(self, error, pattern):
        super().__init__(pattern)
        self.error, self.pattern = error, pattern


class Model:
    """What a back-end holds, as plain values, and what it must answer."""

    def __init__(self, cls):
        self.cls = cls
        self.u = np.zeros((0, 0), dtype=complex)
        self.t = []
        self.filter = None  # ("mask", FSMask, its mode count) or ("post", PostSelect, None)
        self.entries = []  # SLAP's feed-forward entries, a configurator with the outcomes it lists

    # Setters: raise the Refusal the back-end must raise, or take the value.

    def set_unitary(self, u):
        if not np.all(np.isfinite(u)):
            raise Refusal(ValueError, "^Matrix holds a value that is not finite")
        if self.cls is SLAP:
            if not is_unitary(u):
                raise Refusal(RuntimeError, "^Matrix is not unitary$")
            for entry, keys in self.entries:
                if not self.fits(entry, keys, u.shape[1]):
                    raise Refusal(RuntimeError, "^Matrix is too big for the given circuit$")
        self.u = u

    @staticmethod
    def blocks(entry, keys):
        return [entry.default_unitary] + [entry[list(k)] for k in keys]

    @staticmethod
    def fits(entry, keys, m):
        if isinstance(entry, ConfiguratorMap):
            return all(entry.first_configured_mode + len(b) <= m for b in Model.blocks(entry, keys)) \
                and entry.last_measured_mode < m
        block, first = entry
        return first + len(block) <= m

    def add_entry(self, entry, keys):
        m = self.u.shape[1]
        if m == 0:
            raise Refusal(RuntimeError, "^The main unitary must be set before setting feed-forward$")
        if isinstance(entry, ConfiguratorMap):
            if not self.fits(entry, keys, m):
                raise Refusal(RuntimeError, "^Matrix is too big for the given circuit$")
            if entry.first_configured_mode <= entry.last_measured_mode:
                raise Refusal(RuntimeError, "^The first configured mode .* must come after the last measured mode")
            self.check_measured_modes(entry.first_configured_mode, max(len(b) for b in self.blocks(entry, keys)))
            if not all(is_unitary(b) for b in self.blocks(entry, keys)):
                raise Refusal(RuntimeError, "^Matrix is not unitary: the configurator's")
        else:
            if not is_unitary(entry[0]):
                raise Refusal(RuntimeError, "^Matrix is not unitary$")
            if not self.fits(entry, keys, m):
                raise Refusal(RuntimeError, "^Matrix is too big for the given circuit$")
            self.check_measured_modes(entry[1], len(entry[0]))
        self.entries.append((entry, keys))

    def check_measured_modes(self, first, size):
        """A block may not act on modes an earlier configurator measures."""
        for earlier, _ in self.entries:
            if isinstance(earlier, ConfiguratorMap) and first <= earlier.last_measured_mode and \
                    first + size - 1 >= earlier.first_measured_mode:
                raise Refusal(RuntimeError, "^The block on modes .* measured by an earlier configurator$")

    # Queries.

    def matrix_for(self, s):
        """The matrix an output state sees: SLAP's feed-forward blocks, chosen by the output's own
        counts in the measured modes, applied after the unitary."""
        return feed_forward_matrix(self.u, [entry for entry, _ in self.entries], s)

    def answer(self):
        """(output states, amplitudes as the back-end stores them), or the Refusal of a query."""
        rows, cols = self.u.shape
        if len(self.t) != cols or (self.cls is SLOS and rows != cols):
            raise Refusal(RuntimeError, MISMATCH)
        n = sum(self.t)
        states = natural_order(rows, n)
        # SLAP and SLOS_V3 give the vacuum for no photons whatever the filter.
        if self.filter is not None and not (n == 0 and self.cls in (SLAP, SLOS_V3)):
            kind, f, modes = self.filter
            if kind == "mask":
                if modes != rows:
                    raise Refusal(RuntimeError, r"^FsMask::match\(\): incoherent sizes")
                states = [s for s in states if f.match(FockState(list(s)), True)]
            else:
                states = [s for s in states if f(FockState(list(s)))]
        values = [amplitude(self.matrix_for(s), s, self.t) for s in states]
        if self.cls is SLOS:  # the layer value, A(s) sqrt(t!/s!)
            values = [a * math.sqrt(factorials(self.t) / factorials(s)) for a, s in zip(values, states)]
        return states, values


# ---------------------------------------------------------------------------------------------
# Random steps


def random_matrix(rng, model):
    # Mostly the size in force, so that the input and the filter keep fitting.
    m = model.u.shape[0] if model.u.shape[0] and rng.random() < 0.6 else rng.randint(1, 4)
    u = haar_unitary(m, rng.randrange(10**6))
    roll = rng.random()
    if roll < 0.08:
        u = u.copy()
        u[rng.randrange(m), rng.randrange(m)] = rng.choice([np.nan, np.inf, complex(0, -np.inf)])
    elif roll < 0.16:
        u = u * 1.5  # not unitary: SLAP refuses it, the SLOS back-ends take any finite matrix
    elif roll < 0.22 and m > 1:
        u = u[:, :m - 1] if rng.random() < 0.5 else u[:m - 1, :]  # not square
    return u


def random_input(rng, model):
    m = model.u.shape[1]
    modes = max(0, m + rng.choice([0, 0, 0, 0, -1, 1]))
    n = rng.randint(0, 3) if modes else 0
    counts = [0] * modes
    for _ in range(n):
        counts[rng.randrange(modes)] += 1
    return counts


def random_mask(rng, model):
    m = max(model.u.shape[0] + rng.choice([0, 0, 0, 0, 1]), 1)
    n = sum(model.t) + rng.choice([0, 0, 0, 1, -1])
    conditions = ["".join(rng.choice("0 1 2 ") for _ in range(m)) for _ in range(rng.randint(1, 2))]
    return FSMask(m, max(n, 0), conditions), m, f"FSMask({m}, {max(n, 0)}, {conditions})"


def random_entry(rng, model):
    m = max(model.u.shape[1], 1)
    if rng.random() < 0.4:
        size = rng.randint(1, 2)
        block = haar_unitary(size, rng.randrange(10**6))
        if rng.random() < 0.1:
            block = block * 2
        return (block, rng.randint(0, m - 1)), None
    first = rng.randint(0, max(m - 2, 0))
    last = min(first + rng.randint(0, 1), m - 1)
    configured = last + 1 if rng.random() < 0.85 else rng.randint(0, last)
    size = rng.randint(1, 2)
    outcomes = [k for k in itertools.product(range(3), repeat=last - first + 1)]
    blocks = {k: haar_unitary(size, rng.randrange(10**6)) for k in rng.sample(outcomes, min(2, len(outcomes)))}
    if blocks and rng.random() < 0.1:
        blocks[next(iter(blocks))] = np.ones((size, size))
    default = haar_unitary(size, rng.randrange(10**6))
    return ConfiguratorMap(first, last, configured, blocks, default), list(blocks)


def expect(refusal, call):
    """Runs a setter whose model has just refused or taken the value."""
    if refusal is None:
        call()
        return
    with pytest.raises(refusal.error, match=refusal.pattern):
        call()


def check_queries(backend, model):
    try:
        states, values = model.answer()
    except Refusal as refusal:
        for query in (backend.all_amplitudes, backend.all_probabilities, backend.distribution):
            with pytest.raises(refusal.error, match=refusal.pattern):
                query()
        return
    amplitudes = backend.all_amplitudes()
    assert amplitudes == pytest.approx(values, abs=1e-9)
    probabilities = [abs(a) ** 2 for a in
                     (values if model.cls is not SLOS else
                      [v * math.sqrt(factorials(s) / factorials(model.t)) for v, s in zip(values, states)])]
    assert backend.all_probabilities() == pytest.approx(probabilities, abs=1e-9)
    distribution = backend.distribution()
    assert len(distribution) == len(states)
    for s, p in zip(states, probabilities):
        assert distribution[FockState(list(s))] == pytest.approx(p, abs=1e-9)
    if model.cls in (SLOS_V2, SLOS_V3):
        assert [list(s) for s in backend.get_states()] == [list(s) for s in states]
        for i, s in enumerate(states):
            assert backend.get_index(FockState(list(s))) == i


def run_sequence(cls, seed):
    rng = random.Random(seed)
    backend, model = cls(), Model(cls)
    log = []
    for _ in range(STEPS):
        roll = rng.random()
        if roll < 0.2:
            u = random_matrix(rng, model)
            log.append(f"set_unitary({u.shape}, finite={np.all(np.isfinite(u))}, unitary={is_unitary(u)})")
            try:
                model.set_unitary(u)
                refusal = None
            except Refusal as r:
                refusal = r
            expect(refusal, lambda: backend.set_unitary(u))
        elif roll < 0.4:
            counts = random_input(rng, model)
            log.append(f"set_input_state({counts})")
            backend.set_input_state(FockState(counts))
            model.t = counts
        elif roll < 0.5:
            # Masks are for a unitary's modes; before the first there is nothing to mask.
            if rng.random() < 0.3 or model.u.shape[0] == 0:
                log.append("set_mask(None)")
                backend.set_mask(None)
                model.filter = None
            else:
                mask, modes, text = random_mask(rng, model)
                log.append(f"set_mask({text})")
                backend.set_mask(mask)
                model.filter = ("mask", mask, modes)
        elif roll < 0.57 and cls in (SLOS_V2, SLOS_V3):
            expression = rng.choice([None, "[0] == 1", "[0] < 2", "[0,1] > 0", "[1] == 0 | [0] == 2"])
            if model.u.shape[0] == 0:
                expression = None  # as for masks: nothing to select from before the first unitary
            log.append(f"set_post_select({expression})")
            post = None if expression is None else ob.PostSelect(expression)
            backend.set_post_select(post)
            model.filter = None if post is None else ("post", copy.copy(post), None)
        elif roll < 0.6 and cls in (SLOS_V2, SLOS_V3):
            flag = rng.random() < 0.5
            log.append(f"set_backward({flag})")
            backend.set_backward(flag)
        elif roll < 0.68 and cls is SLAP:
            entry, keys = random_entry(rng, model)
            log.append(f"add_feed_forward_config({entry!r})")
            try:
                model.add_entry(entry, keys)
                refusal = None
            except Refusal as r:
                refusal = r
            expect(refusal, lambda: backend.add_feed_forward_config(entry))
        elif roll < 0.7 and cls is SLAP:
            log.append("reset_feed_forward()")
            backend.reset_feed_forward()
            model.entries = []
        elif roll < 0.75:
            log.append("copy")
            backend = rng.choice([copy.copy, copy.deepcopy])(backend)
        else:
            log.append("queries")
            try:
                check_queries(backend, model)
            except BaseException as e:
                raise AssertionError(f"seed {seed}: " + "; ".join(log)) from e


@pytest.mark.parametrize("cls", BACKENDS)
@pytest.mark.parametrize("seed", range(SEQUENCES))
def test_sequences_of_setters_and_queries_follow_the_model(cls, seed):
    run_sequence(cls, (BASE_SEED + seed) * 7919 + BACKENDS.index(cls))
