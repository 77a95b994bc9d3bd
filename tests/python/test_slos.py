import copy
import math

import numpy as np
import pytest

import orbandile as ob
from orbandile import SLOS, SLOS_V2, SLOS_V3, FockState, FSArray, FSMask
from numpy_layouts import misaligned
from haar import haar_unitary
from natural_order import natural_order

BACKENDS = [SLOS, SLOS_V2, SLOS_V3]
PREDICATE_BACKENDS = [SLOS_V2, SLOS_V3]


def submatrix(u, s, t):
    rows = [j for j, c in enumerate(s) for _ in range(c)]
    cols = [k for k, c in enumerate(t) for _ in range(c)]
    return u[np.ix_(rows, cols)]


def factorials(counts):
    return math.prod(math.factorial(c) for c in counts)


def backend(u, state, mask=None, cls=SLOS):
    slos = cls()
    slos.set_unitary(u)
    slos.set_input_state(FockState(list(state)))
    if mask is not None:
        slos.set_mask(mask)
    return slos


@pytest.mark.parametrize("cls, amplitude", [
    (SLOS, 0.5), (SLOS_V2, math.sqrt(0.5)), (SLOS_V3, math.sqrt(0.5))])
def test_hong_ou_mandel(cls, amplitude):
    slos = backend(np.array([[1, 1], [1, -1]]) / np.sqrt(2), [1, 1], cls=cls)
    assert slos.all_probabilities() == pytest.approx([0.5, 0, 0.5], abs=1e-15)
    amplitudes = slos.all_amplitudes()
    assert all(isinstance(a, complex) for a in amplitudes)
    assert amplitudes == pytest.approx([amplitude, 0, -amplitude], abs=1e-15)


@pytest.mark.parametrize("cls", BACKENDS)
@pytest.mark.parametrize("m, t, mask", [
    (4, (1, 2, 0, 1), None),
    (5, (1, 0, 1, 0, 1), None),
    (4, (0, 2, 1, 0), ["1   ", "  0 "]),
])
def test_probabilities_are_squared_permanents(cls, m, t, mask):
    u = haar_unitary(m, sum(t) + m)
    n = sum(t)
    outputs = natural_order(m, n)
    if mask is not None:
        outputs = [s for s in outputs if FSMask(m, n, mask).match(FockState(list(s)), False)]
    slos = backend(u, t, None if mask is None else FSMask(m, n, mask), cls)
    probabilities = slos.all_probabilities()
    amplitudes = slos.all_amplitudes()
    assert len(probabilities) == len(amplitudes) == len(outputs) > 0
    for s, p, a in zip(outputs, probabilities, amplitudes):
        permanent = ob.permanent_cx(submatrix(u, s, t))
        assert p == pytest.approx(abs(permanent) ** 2 / (factorials(s) * factorials(t)), abs=1e-10)
        # SLOS keeps the layer value Perm / s!, the others the amplitude.
        scale = 1 if cls is SLOS else math.sqrt(factorials(s) / factorials(t))
        assert a == pytest.approx(permanent / factorials(s) * scale, abs=1e-10)
    if mask is None:
        assert sum(probabilities) == pytest.approx(1, abs=1e-10)


@pytest.mark.parametrize("cls", BACKENDS)
def test_distribution_holds_every_output_state_with_its_probability(cls):
    slos = backend(np.array([[1, 1], [1, -1]]) / np.sqrt(2), [1, 1], cls=cls)
    distribution = slos.distribution()
    assert isinstance(distribution, ob.FSFunction)
    assert len(distribution) == 3  # the zero probability of |1,1> included
    assert FockState([1, 1]) in distribution
    expected = dict(zip((FockState(list(s)) for s in natural_order(2, 2)), slos.all_probabilities()))
    assert distribution == ob.FSFunction(expected)


@pytest.mark.parametrize("cls", BACKENDS)
def test_mask_is_set_and_removed(cls):
    slos = backend(haar_unitary(3, 1), [1, 1, 0], cls=cls)
    assert len(slos.all_probabilities()) == 6
    slos.set_mask(FSMask(3, 2, ["1  "]))
    assert len(slos.all_probabilities()) == 2
    slos.set_mask(None)
    assert len(slos.all_probabilities()) == 6
    with pytest.raises(TypeError):
        slos.set_mask("1  ")


@pytest.mark.parametrize("cls", BACKENDS)
@pytest.mark.parametrize("u", [
    [[1, 0], [0, 1]],
    np.eye(2, dtype=int),
    np.eye(2),
    np.eye(2, dtype=np.complex64),
])
def test_set_unitary_converts_what_numpy_can_read(cls, u):
    slos = backend(u, [1, 1], cls=cls)
    assert slos.all_probabilities() == pytest.approx([0, 1, 0])


def test_sizes_mismatch_reaches_python_as_runtime_error():
    slos = backend(np.eye(2), [0, 0, 1])
    for query in (slos.all_amplitudes, slos.all_probabilities):
        with pytest.raises(RuntimeError, match="^Matrix/input state sizes mismatch$"):
            query()
    slos.set_unitary(np.ones(3))
    slos.set_input_state(FockState([1]))
    with pytest.raises(RuntimeError, match="sizes mismatch"):
        slos.all_amplitudes()


@pytest.mark.parametrize("cls", BACKENDS)
@pytest.mark.parametrize("make_copy", [copy.copy, copy.deepcopy, lambda s: s.__deepcopy__({})])
def test_copies_are_independent(cls, make_copy):
    slos = backend(haar_unitary(3, 2), [1, 0, 1], FSMask(3, 2, [" 1 ", "2  "]), cls)
    before = slos.all_amplitudes()
    duplicate = make_copy(slos)
    assert type(duplicate) is cls and duplicate is not slos
    assert duplicate.all_amplitudes() == before
    duplicate.set_input_state(FockState([2, 0, 0]))
    duplicate.set_mask(None)
    assert len(duplicate.all_amplitudes()) == 6
    assert slos.all_amplitudes() == before


@pytest.mark.parametrize("cls", BACKENDS)
def test_deepcopy_memo_must_be_a_dict(cls):
    with pytest.raises(TypeError):
        cls().__deepcopy__([])


@pytest.mark.parametrize("name", ["set_post_select", "set_backward", "get_index", "get_states"])
def test_slos_has_no_methods_of_the_later_back_ends(name):
    with pytest.raises(AttributeError):
        getattr(SLOS(), name)


@pytest.mark.parametrize("cls", PREDICATE_BACKENDS)
def test_states_and_indices_follow_the_mask(cls):
    slos = backend(haar_unitary(3, 4), [1, 0, 1], cls=cls)
    slos.all_probabilities()
    states = slos.get_states()
    assert type(states) is ob.BSSamples
    assert [list(s) for s in states][:2] == [[2, 0, 0], [1, 1, 0]]
    assert len(states) == 6
    assert slos.get_index(FockState([0, 1, 1])) == 4
    slos.set_mask(FSMask(3, 2, ["1  "]))
    slos.all_probabilities()
    assert len(slos.get_states()) == 2
    assert slos.get_index(FockState([1, 0, 1])) == 1
    assert slos.get_index(FockState([0, 1, 1])) is None
    assert slos.get_index(FockState([1, 0])) is None
    assert slos.get_index(FockState([1, 0, 0])) is None
    with pytest.raises(TypeError):
        slos.get_index(None)


@pytest.mark.parametrize("cls", PREDICATE_BACKENDS)
def test_both_directions_agree(cls):
    forward = backend(haar_unitary(4, 5), [1, 1, 0, 1], cls=cls)
    backward = backend(haar_unitary(4, 5), [1, 1, 0, 1], cls=cls)
    assert backward.set_backward(True) is None
    backward.set_backward(bool=np.True_)
    assert backward.all_amplitudes() == pytest.approx(forward.all_amplitudes(), abs=1e-12)


@pytest.mark.parametrize("cls", PREDICATE_BACKENDS)
def test_a_rectangular_matrix_maps_one_photon_to_its_column(cls):
    u = np.array([[0.1, 0.2], [0.3j, 0.4], [0.5, 0.6]])
    slos = backend(u, [1, 0], cls=cls)
    assert slos.all_amplitudes() == pytest.approx(list(u[:, 0]))
    assert len(slos.get_states()) == 3


@pytest.mark.parametrize("cls, state", [
    (SLOS_V2, [1, 0, 0]), (SLOS_V2, [0, 0, 1]), (SLOS_V3, [0, 0, 1])])
def test_inputs_beyond_the_columns_raise_at_computation(cls, state):
    slos = backend(np.eye(2), state, cls=cls)
    for query in (slos.all_amplitudes, slos.all_probabilities):
        with pytest.raises(RuntimeError, match="^Matrix/input state sizes mismatch$"):
            query()


def test_zero_photons_on_the_predicate_back_ends():
    v2 = backend(np.eye(3), [0, 0, 0], FSMask(3, 0, ["1  "]), SLOS_V2)
    assert v2.all_amplitudes() == []
    v3 = backend(np.eye(3), [0, 0, 0], FSMask(3, 0, ["1  "]), SLOS_V3)
    assert v3.all_amplitudes() == [1]
    assert SLOS_V2().all_amplitudes() == SLOS_V3().all_amplitudes() == [1]


def test_all_prob_normalize_output_scales_in_place():
    fsa = FSArray(2, 3, FSMask(2, 3, ["3 ", "2 ", "0 "]))
    c = np.ones(3)
    assert ob.all_prob_normalize_output(c, fsa) is None
    assert c.tolist() == [6, 2, 6]
    column = np.full((3, 1), 0.5)
    ob.all_prob_normalize_output(column, fsa)
    assert column.ravel().tolist() == [3, 1, 3]
    empty = np.zeros(0)
    ob.all_prob_normalize_output(c=empty, fsa=fsa)
    shorter = np.ones(2)
    ob.all_prob_normalize_output(shorter, fsa)
    assert shorter.tolist() == [6, 2]


def test_all_prob_normalize_output_refuses_a_longer_vector_untouched():
    c = np.ones(5)
    with pytest.raises(IndexError, match="^index too large$"):
        ob.all_prob_normalize_output(c, FSArray(2, 3))
    assert c.tolist() == [1] * 5


def read_only(a):
    a.flags.writeable = False
    return a


@pytest.mark.parametrize("c", [
    np.ones(4, dtype=np.float32),
    read_only(np.ones(4)),
    [1.0, 1.0, 1.0, 1.0],
    np.ones(8)[::2],
    np.ones(4, dtype=complex),
    np.ones((4, 1), order="F")[::-1],
    np.ones((2, 2)),
    np.array(1.0),
    np.ones((4, 1, 1)),
    misaligned(np.ones(4), writeable=False),
    misaligned(np.ones(4, dtype=np.float32)),
])
def test_all_prob_normalize_output_refuses_what_it_cannot_scale_in_place(c):
    before = np.array(c, copy=True)
    with pytest.raises(TypeError):
        ob.all_prob_normalize_output(c, FSArray(2, 3))
    assert np.array_equal(np.asarray(c), before)


@pytest.mark.parametrize("shape", [(4,), (4, 1)])
def test_all_prob_normalize_output_refuses_a_misaligned_vector(shape):
    c = misaligned(np.ones(shape))
    with pytest.raises(ValueError, match="^a misaligned float64 array cannot be written in place"):
        ob.all_prob_normalize_output(c, FSArray(2, 3))
    assert c.tolist() == np.ones(shape).tolist()
