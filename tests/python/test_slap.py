import copy
import math

import numpy as np
import pytest

import orbandile as ob
from orbandile import SLAP, ConfiguratorMap, FockState, FSMask
from haar import haar_unitary
from natural_order import natural_order
from strong_reference import feed_forward_matrix


def amplitude(u, s, t):
    """<s|U|t> from the permanent of U with row j repeated s_j times and column k t_k times."""
    rows = [j for j, c in enumerate(s) for _ in range(c)]
    cols = [k for k, c in enumerate(t) for _ in range(c)]
    permanent = ob.permanent_cx(np.ascontiguousarray(u[np.ix_(rows, cols)])) if rows else 1
    return permanent / math.sqrt(math.prod(map(math.factorial, s)) * math.prod(map(math.factorial, t)))


def slap(u, state, mask=None):
    backend = SLAP()
    backend.set_unitary(u)
    backend.set_input_state(FockState(list(state)))
    if mask is not None:
        backend.set_mask(mask)
    return backend


HALF = np.array([[1, 1j], [1j, 1]]) * 0.7071068


def test_docstring_example():
    backend = slap(HALF, [1, 1])
    amplitudes = backend.all_amplitudes()
    assert all(isinstance(a, complex) for a in amplitudes)
    assert amplitudes == pytest.approx([0.707106818813453j, 0, 0.707106818813453j], abs=1e-12)
    assert backend.all_probabilities() == pytest.approx([0.5, 0, 0.5], abs=1e-6)
    distribution = backend.distribution()
    assert isinstance(distribution, ob.FSFunction)
    assert len(distribution) == 3 and FockState([1, 1]) in distribution


@pytest.mark.parametrize("m, t, conditions", [
    (2, (2, 0), None),
    (4, (1, 2, 0, 1), None),
    (6, (1, 0, 1, 1, 0, 1), None),
    (5, (2, 0, 1, 0, 2), ["1  * ", "  0  "]),
    (6, (0, 1, 1, 1, 1, 1), ["0     ", " 2    ", "    11"]),
])
def test_amplitudes_are_permanents_in_natural_order(m, t, conditions):
    u = haar_unitary(m, sum(t) * 10 + m)
    n = sum(t)
    mask = None if conditions is None else FSMask(m, n, conditions)
    outputs = [s for s in natural_order(m, n) if mask is None or mask.match(FockState(list(s)), False)]
    backend = slap(u, t, mask)
    amplitudes = backend.all_amplitudes()
    assert len(amplitudes) == len(outputs) > 0
    assert amplitudes == pytest.approx([amplitude(u, s, t) for s in outputs], abs=1e-10)
    assert backend.all_probabilities() == pytest.approx([abs(a) ** 2 for a in amplitudes], abs=1e-12)
    if mask is None:
        assert sum(backend.all_probabilities()) == pytest.approx(1, abs=1e-10)


def brute_force(u, entries, t):
    """Per output: every entry's block (a configurator's by the output's own measured counts)
    extended by the identity and applied after U."""
    m = u.shape[0]
    result = []
    for s in natural_order(m, sum(t)):
        v = feed_forward_matrix(u, entries, s)
        result.append((s, amplitude(v, s, t)))
    return result


def configurator(first, last, configured, size, keys, seed):
    blocks = {tuple(k): haar_unitary(size, seed + i) for i, k in enumerate(keys)}
    return ConfiguratorMap(first, last, configured, blocks, haar_unitary(size, seed + 99))


@pytest.mark.parametrize("m, entries, conditions", [
    (4, lambda: [configurator(0, 0, 1, 3, [(1,), (2,)], 1)], None),
    (6, lambda: [configurator(0, 2, 3, 3, [(1, 0, 0), (0, 1, 1), (2, 0, 0)], 2)], None),
    (5, lambda: [configurator(0, 1, 2, 3, [(1, 0), (0, 1), (0, 0)], 3)], ["  0  "]),
    (6, lambda: [(haar_unitary(2, 4), 0), configurator(0, 0, 1, 2, [(1,)], 5),
                 configurator(1, 2, 3, 3, [(0, 1), (1, 0)], 6), (haar_unitary(2, 7), 4)], [" 0 0  ", "   1  "]),
])
def test_feed_forward_matches_brute_force(m, entries, conditions):
    entries = entries()
    u = haar_unitary(m, m)
    backend = SLAP()
    backend.set_unitary(u)
    for entry in entries:
        backend.add_feed_forward_config(entry)
    n = 3
    mask = None if conditions is None else FSMask(m, n, conditions)
    backend.set_mask(mask)
    for t in natural_order(m, n):
        backend.set_input_state(FockState(list(t)))
        expected = [a for s, a in brute_force(u, entries, t)
                    if mask is None or mask.match(FockState(list(s)), False)]
        assert backend.all_amplitudes() == pytest.approx(expected, abs=1e-10), t


def test_configurator_map_members():
    u, d = haar_unitary(2, 1), haar_unitary(2, 2)
    cm = ConfiguratorMap(0, 1, 2, {(0, 1): u}, d)
    assert (cm.first_measured_mode, cm.last_measured_mode, cm.first_configured_mode) == (0, 1, 2)
    assert not cm.is_default([0, 1]) and cm.is_default([1, 0]) and cm.is_default((1, 0))
    np.testing.assert_array_equal(cm[[1, 0]], d)
    np.testing.assert_array_equal(cm[(0, 1)], u)
    copied = cm[(0, 1)]
    copied[0, 0] = 7
    np.testing.assert_array_equal(cm[(0, 1)], u)
    ConfiguratorMap(0, 0, 1, {}, d)
    # Any mapping, read through its items.
    import types
    assert not ConfiguratorMap(0, 0, 1, types.MappingProxyType({(1,): u}), d).is_default([1])


def test_default_unitary_is_a_read_only_view_keeping_its_owner():
    d = haar_unitary(3, 3)
    view = ConfiguratorMap(0, 0, 1, {}, d).default_unitary
    assert view.dtype == np.complex128 and not view.flags.writeable and not view.flags.owndata
    with pytest.raises(ValueError):
        view[0, 0] = 1
    import gc
    gc.collect()
    np.testing.assert_array_equal(view, d)
    assert isinstance(view.base, ConfiguratorMap)


@pytest.mark.parametrize("args, message", [
    ((0, 1, 2, {(0,): np.eye(2)}, np.eye(2)), "^All measures must have a size of the number of modes$"),
    ((2, 1, 0, {}, np.eye(2)), "^The last configured mode must be greater or equal to the first measured mode$"),
    ((2, 1, 0, {(0,): np.eye(2)}, np.eye(2)), "^The last configured mode must be greater"),
])
def test_configurator_map_refusals(args, message):
    with pytest.raises(ValueError, match=message):
        ConfiguratorMap(*args)


def test_add_feed_forward_config_overloads_and_refusals():
    backend = SLAP()
    with pytest.raises(RuntimeError, match="^The main unitary must be set before setting feed-forward$"):
        backend.add_feed_forward_config(ConfiguratorMap(0, 0, 1, {}, np.eye(2)))
    backend.set_unitary(np.eye(4))
    backend.set_input_state(FockState([1, 0, 0, 0]))
    swap = np.array([[0, 1], [1, 0]])
    backend.add_feed_forward_config((swap, 0))
    assert backend.all_amplitudes() == [0, 1, 0, 0]
    backend.add_feed_forward_config([swap, 1])
    assert backend.all_amplitudes() == [0, 0, 1, 0]
    backend.reset_feed_forward()
    assert backend.all_amplitudes() == [1, 0, 0, 0]
    with pytest.raises(TypeError):
        backend.add_feed_forward_config((swap,))
    with pytest.raises(TypeError):
        backend.add_feed_forward_config(None)
    for refused, message in [
        ((np.ones((2, 2)), 0), "^Matrix is not unitary$"),
        ((np.eye(3)[:, :2], 0), "^Matrix is not unitary$"),
        ((swap, 3), "^Matrix is too big for the given circuit$"),
        (ConfiguratorMap(0, 0, 3, {}, np.eye(2)), "^Matrix is too big for the given circuit$"),
        (ConfiguratorMap(0, 0, 1, {(1,): np.eye(4)}, np.eye(2)), "^Matrix is too big for the given circuit$"),
        (ConfiguratorMap(0, 0, 1, {(1,): np.ones((2, 1))}, np.eye(2)), "^Matrix is too big for the given circuit$"),
        (ConfiguratorMap(-1, 0, 1, {}, np.eye(2)), "^Feed-forward mode -1 is outside the circuit of 4 modes$"),
    ]:
        with pytest.raises(RuntimeError, match=message):
            backend.add_feed_forward_config(refused)
    assert backend.all_amplitudes() == [1, 0, 0, 0]


SWAP = np.array([[0, 1], [1, 0]])


@pytest.mark.parametrize("entry", [
    (SWAP, 2),
    ConfiguratorMap(0, 0, 2, {}, SWAP),
    ConfiguratorMap(0, 0, 1, {(1,): np.eye(3)}, np.eye(1)),
    ConfiguratorMap(2, 2, 3, {}, np.eye(1)),
])
def test_a_unitary_too_small_for_a_feed_forward_entry_is_refused(entry):
    """The walk would read and write rows and counts past the smaller matrix."""
    backend = slap(np.eye(4), [1, 0, 0, 1])
    backend.add_feed_forward_config(entry)
    before = backend.all_probabilities()
    with pytest.raises(RuntimeError, match="^Matrix is too big for the given circuit$"):
        backend.set_unitary(np.eye(2))
    # Nothing changed: the 4-mode unitary and its results are kept.
    assert backend.all_probabilities() == before
    backend.set_input_state(FockState([1, 1]))
    with pytest.raises(RuntimeError, match="sizes mismatch"):
        backend.all_probabilities()
    backend.reset_feed_forward()
    backend.set_unitary(np.eye(2))
    assert backend.all_probabilities() == pytest.approx([0, 1, 0], abs=1e-15)


@pytest.mark.parametrize("entry, message", [
    # The block's rows are used by the walk before the outcome that chooses it is known.
    (ConfiguratorMap(0, 1, 1, {}, np.eye(2)), "^The first configured mode 1 must come after the last measured mode 1$"),
    (ConfiguratorMap(1, 1, 0, {(1,): SWAP}, np.eye(2)),
     "^The first configured mode 0 must come after the last measured mode 1$"),
    (ConfiguratorMap(0, 0, 1, {}, np.eye(2) * 1.1), "^Matrix is not unitary: the configurator's default unitary$"),
    (ConfiguratorMap(0, 0, 1, {(0,): SWAP, (2,): [[1, 1], [0, 1]]}, np.eye(2)),
     r"^Matrix is not unitary: the configurator's unitary for the measure \(2\)$"),
    (ConfiguratorMap(0, 1, 2, {(1, 0): np.ones((2, 2)) / 2}, np.eye(2)),
     r"^Matrix is not unitary: the configurator's unitary for the measure \(1, 0\)$"),
])
def test_configurators_that_break_the_walk_are_refused(entry, message):
    backend = slap(haar_unitary(4, 5), [1, 1, 0, 0])
    before = backend.all_probabilities()
    with pytest.raises(RuntimeError, match=message):
        backend.add_feed_forward_config(entry)
    assert backend.all_probabilities() == before and sum(before) == pytest.approx(1, abs=1e-12)


@pytest.mark.parametrize("later, message", [
    ((haar_unitary(2, 7), 1), "^The block on modes 1 to 2 acts on modes 1 to 1, measured by an earlier configurator$"),
    (ConfiguratorMap(0, 0, 1, {}, np.eye(3)), "^The block on modes 1 to 3 acts on modes 1 to 1"),
])
def test_blocks_acting_on_modes_an_earlier_configurator_measured_are_refused(later, message):
    """Those photons are counted: the walk would mix rows it used before the block was chosen
    (probabilities summed to 1.14)."""
    backend = slap(haar_unitary(4, 1), [1, 1, 0, 0])
    backend.add_feed_forward_config(ConfiguratorMap(1, 1, 2, {(1,): haar_unitary(2, 5)}, haar_unitary(2, 6)))
    before = backend.all_probabilities()
    with pytest.raises(RuntimeError, match=message):
        backend.add_feed_forward_config(later)
    assert backend.all_probabilities() == before and sum(before) == pytest.approx(1, abs=1e-12)


@pytest.mark.parametrize("u", [np.ones((2, 2)), np.eye(3)[:, :2], np.eye(3)[:2], np.eye(2) * 1.1])
def test_set_unitary_refuses_what_is_not_a_square_unitary(u):
    with pytest.raises(RuntimeError, match="^Matrix is not unitary$"):
        SLAP().set_unitary(u)


@pytest.mark.parametrize("u, state, error, message", [
    (None, [1], RuntimeError, "sizes mismatch"),
    (np.eye(2), [0, 0, 1], RuntimeError, "sizes mismatch"),
    (np.eye(3), [1, 1], RuntimeError, "^Matrix/input state sizes mismatch: 2 input modes for a unitary of 3 modes$"),
    (np.eye(3), [], RuntimeError, "^Matrix/input state sizes mismatch: 0 input modes for a unitary of 3 modes$"),
    (np.eye(2), [31, 0], RuntimeError, "^SLAP computes up to 30 photons, not 31$"),
])
def test_computations_outside_the_walk_are_refused(u, state, error, message):
    backend = SLAP()
    if u is not None:
        backend.set_unitary(u)
    backend.set_input_state(FockState(state))
    for query in (backend.all_amplitudes, backend.all_probabilities, backend.distribution):
        with pytest.raises(error, match=message):
            query()


def test_masks_and_the_vacuum():
    backend = slap(haar_unitary(3, 1), [1, 1, 0])
    backend.set_mask(FSMask(3, 2, ["1  "]))
    assert len(backend.all_probabilities()) == 2
    backend.set_mask(FSMask(3, 2, ["3  "]))
    assert backend.all_amplitudes() == [] and len(backend.distribution()) == 0
    backend.set_mask(None)
    assert len(backend.all_probabilities()) == 6
    backend.set_input_state(FockState([0, 0, 0]))
    backend.set_mask(FSMask(3, 0, ["1  "]))
    assert backend.all_amplitudes() == [1]
    with pytest.raises(TypeError):
        backend.set_mask("1  ")


@pytest.mark.parametrize("make_copy", [copy.copy, copy.deepcopy, lambda s: s.__deepcopy__({})])
def test_copies_are_independent(make_copy):
    backend = slap(haar_unitary(3, 2), [1, 0, 1], FSMask(3, 2, [" 1 ", "2  "]))
    backend.add_feed_forward_config(configurator(0, 0, 1, 2, [(1,)], 9))
    before = backend.all_amplitudes()
    duplicate = make_copy(backend)
    assert type(duplicate) is SLAP and duplicate.all_amplitudes() == before
    duplicate.reset_feed_forward()
    duplicate.set_mask(None)
    assert len(duplicate.all_amplitudes()) == 6
    assert backend.all_amplitudes() == before
    cm = ConfiguratorMap(0, 0, 1, {(1,): np.eye(2)}, np.eye(2))
    for twin in (copy.copy(cm), copy.deepcopy(cm)):
        assert twin is not cm and not twin.is_default([1])
    with pytest.raises(TypeError):
        backend.__deepcopy__([])


def test_registration_order_and_argument_names():
    assert [name for name in SLAP.__dict__ if not name.startswith("_") or name in (
        "__init__", "__copy__", "__deepcopy__")] == [
        "__init__", "__copy__", "__deepcopy__", "all_amplitudes", "all_probabilities", "distribution",
        "set_unitary", "set_input_state", "set_mask", "add_feed_forward_config", "reset_feed_forward"]
    names = list(vars(ob))
    assert names.index("SLOS") < names.index("ConfiguratorMap") < names.index("SLAP")
    backend = SLAP()
    backend.set_unitary(u=np.eye(1))
    backend.set_input_state(input_state=FockState([2]))
    assert backend.all_amplitudes() == pytest.approx([1], abs=1e-15)
