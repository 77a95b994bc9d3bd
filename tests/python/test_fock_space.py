import gc
import itertools
import math

import numpy as np
import pytest

import orbandile as ob
from orbandile import FockState, FSArray, FSMap, FSMask
from numpy_layouts import misaligned
from natural_order import natural_order as natural_counts


def natural_order_states(m, n):
    return [FockState(list(c)) for c in natural_counts(m, n)]


def permanent(a):
    k = a.shape[0]
    return sum(math.prod(a[i, p[i]] for i in range(k)) for p in itertools.permutations(range(k)))


def test_npos_is_the_largest_64_bit_index():
    assert ob.npos == 2**64 - 1


@pytest.mark.parametrize("state, allow_missing, expected", [
    ([1, 0, 1], True, True),
    ([1, 0, 1], False, True),
    ([1, 0, 0], False, False),
    ([1, 0, 0], True, True),
    ([2, 0, 0], True, False),
])
def test_mask_docstring_example(state, allow_missing, expected):
    mask = FSMask(3, 2, ["101"])
    assert mask.match(FockState(state), allow_missing) is expected
    assert mask.match(FockState(state), allow_missing=allow_missing) is expected
    if allow_missing:
        assert mask.match(FockState(state)) is expected


def test_mask_conditions_and_unbounded_modes_take_any_sequence():
    assert FSMask(2, 3, ("1*", "*1")).match(FockState([1, 2]), False)
    assert FSMask(2, 3, {"1*"}, [0]).match(FockState([3, 0]), False)
    assert FSMask(2, 3, (c for c in ["1*"]), (0,)).match(FockState([3, 0]), False)
    assert not FSMask(2, 3, ["1*"], [1]).match(FockState([3, 0]), False)


@pytest.mark.parametrize("args, error, message", [
    ((3, 2, []), ValueError, "FsMask: empty condition list"),
    ((3, 2, ["101", "10"]), ValueError, "Inconsistent condition length"),
    ((3, 2, ["1010"], [0]), ValueError, "Inconsistent condition length"),
    ((3, 2, "101"), TypeError, None),
    ((3, 2, b"101"), TypeError, None),
    ((2**31, 2, ["1"]), TypeError, None),
])
def test_mask_constructor_errors(args, error, message):
    with pytest.raises(error) as info:
        FSMask(*args)
    if message:
        assert str(info.value) == message


def test_mask_match_errors():
    mask = FSMask(3, 2, ["***"])
    with pytest.raises(RuntimeError, match=r"^FsMask::match\(\): incoherent sizes: FsMask m = 3 / FockState m = 2$"):
        mask.match(FockState([1, 1]))
    with pytest.raises(TypeError):
        mask.match(None)


def test_docstrings():
    assert FSMask.__doc__.startswith("``FSMask`` handles a list of simple conditions")
    assert "\n                     * If it's a space \" \" and a star \"*\"" in FSMask.__doc__
    assert FSMask.__doc__.endswith("can exceed the number specified in the conditions.\n")
    assert "\n:return: ``True`` if the Fock state matches any of the conditions in the list, ``False`` otherwise.\n" \
        in FSMask.match.__doc__
    assert ">>>       mask.match(ob.FockState([1, 0, 0]), allow_missing=False),\n" in FSMask.match.__doc__
    assert FSArray.__doc__.startswith("``FsArray`` allows to iterate on the Fock space of any given size.")
    assert FSArray.__doc__.endswith(":param mask: Optional ``FsMask`` to hide part of the Fock space\n")
    assert FSArray.find.__doc__.rstrip("\n").endswith("Find index of a state in Galvorne natural order.\n\n"
                                         ":param fs: A Fock state\n:return: The index of the Fock state")
    assert FSArray.generate.__doc__.rstrip("\n").endswith(
        "Create a contiguous buffer containing all Fock states in the represented space.")


@pytest.mark.parametrize("m, n", [(1, 3), (3, 2), (4, 3), (2, 9), (3, 0)])
def test_array_lists_the_natural_order_states(m, n):
    expected = natural_order_states(m, n)
    array = FSArray(m, n)
    assert array.count() == len(expected) == math.comb(m + n - 1, n)
    assert list(array) == expected
    assert [array[i] for i in range(array.count())] == expected
    assert [array.find(s) for s in expected] == list(range(len(expected)))
    assert list(array) == expected


def test_masked_array_keeps_its_own_copy_of_the_mask():
    mask = FSMask(3, 3, ["1**"])
    array = FSArray(3, 3, mask)
    del mask
    gc.collect()
    assert list(array) == [FockState([1, 2, 0]), FockState([1, 1, 1]), FockState([1, 0, 2])]
    assert array.count() == 3
    assert array.find(FockState([2, 1, 0])) == ob.npos
    assert FSArray(3, 3, None).count() == 10


def test_array_find_and_index():
    array = FSArray(3, 2)
    assert array.find(FockState([0, 0, 2])) == 5
    assert array.find(FockState([0, 1, 1])) == 4
    assert array.find(FockState([1, 1, 1])) == ob.npos
    with pytest.raises(ValueError, match="^incorrect fock state$"):
        array.find(FockState([0, 2]))
    with pytest.raises(IndexError, match="^index too large$"):
        FSArray(2, 1)[2]
    with pytest.raises(TypeError):
        FSArray(2, 1)[-1]
    with pytest.raises(TypeError):
        array.find(None)


def test_array_properties_and_sizes():
    array = FSArray(2, 3)
    assert (array.size(), array.m, array.n) == (12, 2, 3)
    with pytest.raises(AttributeError):
        array.m = 4
    with pytest.raises(AttributeError):
        array.n = 4
    array.generate()
    assert array.size() == 12
    with pytest.raises(RuntimeError, match=r"^FsArray overflow with m=256 n=256$"):
        FSArray(256, 256)


def test_states_of_nine_photons_outlive_their_array():
    array = FSArray(2, 9)
    iterator = iter(array)
    next(iterator)
    lazy = next(iterator)
    array.generate()
    indexed = array[3]
    iterated = list(array)
    del array
    gc.collect()
    assert lazy == FockState([8, 1])
    assert str(indexed) == "|6,3>"
    assert iterated[-1] == FockState([0, 9])
    assert next(iterator) == FockState([7, 2])  # the iterator keeps the array alive


def test_norm_coefs_scale_in_place():
    coefs = np.ones(4, dtype=np.complex128)
    assert FSArray(2, 3).norm_coefs(coefs) is None
    np.testing.assert_allclose(coefs, np.sqrt([6, 2, 2, 6]))
    square = np.full((2, 2), 1 - 1j)
    FSArray(2, 3).norm_coefs(square)
    np.testing.assert_allclose(square.ravel(), np.sqrt([6, 2, 2, 6]) * (1 - 1j))


@pytest.mark.parametrize("coefs, error", [
    (np.ones(4), TypeError),
    (np.ones(4, dtype=np.complex64), TypeError),
    (np.ones(3, dtype=np.complex128), ValueError),
    (np.ones(8, dtype=np.complex128)[::2], TypeError),
    (np.ones((4, 2), dtype=np.complex128)[:, :1], TypeError),
    (np.ones((2, 2), dtype=np.complex128, order="F"), TypeError),
    (np.array(1 + 0j), TypeError),
    (np.ones((2, 2, 1), dtype=np.complex128), TypeError),
    (misaligned(np.ones(4, dtype=np.complex128)), ValueError),  # a copy would lose the writes
    (misaligned(np.ones(4, dtype=np.complex128), writeable=False), TypeError),
    (misaligned(np.ones(4)), TypeError),
])
def test_norm_coefs_refuse_arrays_it_cannot_write_whole(coefs, error):
    before = coefs.copy()
    with pytest.raises(error):
        FSArray(2, 3).norm_coefs(coefs)
    np.testing.assert_array_equal(coefs, before)


def test_norm_coefs_refuse_read_only_arrays():
    coefs = np.ones(4, dtype=np.complex128)
    coefs.flags.writeable = False
    with pytest.raises(TypeError):
        FSArray(2, 3).norm_coefs(coefs)


def test_map_links_two_layers():
    fs_map = FSMap(FSArray(2, 2), FSArray(2, 1))
    gc.collect()  # the map keeps both arrays alive
    assert [[fs_map.get(i, k) for k in range(2)] for i in range(2)] == [[0, 1], [1, 2]]
    assert (fs_map.count(), fs_map.size(), fs_map.m, fs_map.n) == (2, 4, 2, 1)
    with pytest.raises(IndexError, match="^mode id too large$"):
        fs_map.get(0, 2)
    with pytest.raises(IndexError, match="^mode id too large$"):
        fs_map.get(2, 2)
    with pytest.raises(IndexError, match="^idx too large$"):
        fs_map.get(2, 0)
    with pytest.raises(TypeError):
        fs_map.get(-1, 0)


@pytest.mark.parametrize("m, n, generate", [(3, 3, False), (4, 2, True), (2, 10, False)])
def test_map_against_find(m, n, generate):
    larger, smaller = FSArray(m, n), FSArray(m, n - 1)
    fs_map = FSMap(larger, smaller, generate)
    for i, state in enumerate(smaller):
        for k in range(m):
            counts = list(state)
            counts[k] += 1
            assert fs_map.get(i, k) == larger.find(FockState(counts))


def test_masked_map_has_no_link_to_masked_states():
    fs_map = FSMap(FSArray(2, 2, FSMask(2, 2, ["1*"])), FSArray(2, 1))
    assert [[fs_map.get(i, k) for k in range(2)] for i in range(2)] == [[ob.npos, 0], [0, ob.npos]]


@pytest.mark.parametrize("current, parent", [((2, 2), (3, 1)), ((2, 2), (2, 0)), ((2, 1), (2, 2))])
def test_map_refuses_arrays_that_are_not_consecutive_layers(current, parent):
    with pytest.raises(ValueError):
        FSMap(FSArray(*current), FSArray(*parent))


def test_slos_layers_give_normalised_permanents():
    m, inputs = 3, [0, 1, 1]
    rng = np.random.default_rng(5)
    u = rng.normal(size=(m, m)) + 1j * rng.normal(size=(m, m))
    layers = [FSArray(m, n) for n in range(len(inputs) + 1)]
    maps = [FSMap(layers[n], layers[n - 1]) for n in range(1, len(layers))]
    amplitudes = np.ones(1, dtype=np.complex128)
    for fs_map, k in zip(maps, inputs):
        out = np.full(layers[fs_map.n + 1].count(), np.nan, dtype=np.complex128)
        fs_map.compute_slos_layer(u, m, k, out, amplitudes)
        amplitudes = out
    layers[-1].norm_coefs(amplitudes)
    for state, amplitude in zip(layers[-1], amplitudes):
        rows = [j for j in range(m) for _ in range(state[j])]
        expected = permanent(u[np.ix_(rows, inputs)]) / math.sqrt(math.prod(math.factorial(c) for c in state))
        assert amplitude == pytest.approx(expected, abs=1e-12)


def test_slos_layer_converts_u_and_in():
    fs_map = FSMap(FSArray(3, 1), FSArray(3, 0))
    out = np.zeros(3, dtype=np.complex128)
    fs_map.compute_slos_layer(np.eye(3), 3, 0, out, np.ones(1))
    np.testing.assert_array_equal(out, [1, 0, 0])
    strided = np.eye(6, dtype=np.complex128)[::2, ::2]
    fs_map.compute_slos_layer(strided, 3, 2, out, np.ones(1, dtype=np.complex128))
    np.testing.assert_array_equal(out, [0, 0, 1])


@pytest.mark.parametrize("u, m, k, out, inp, error", [
    (np.eye(2), 2, 0, np.zeros(2, complex), np.ones(2), ValueError),   # out shorter than the larger layer
    (np.eye(2), 2, 0, np.zeros(3, complex), np.ones(3), ValueError),   # in longer than the smaller layer
    (np.eye(2)[:1], 2, 0, np.zeros(3, complex), np.ones(2), ValueError),  # U smaller than m x m
    (np.eye(3), 3, 0, np.zeros(3, complex), np.ones(2), ValueError),   # m is not the map's
    (np.eye(2), 2, 2, np.zeros(3, complex), np.ones(2), ValueError),   # k is not a mode
    (np.eye(2), 2, -1, np.zeros(3, complex), np.ones(2), TypeError),
    (np.eye(2), 2, 0, np.zeros(3), np.ones(2), TypeError),
    (np.eye(2), 2, 0, np.zeros(6, complex)[::2], np.ones(2), TypeError),
    # Every dimension counts, not only the rows.
    (np.eye(2), 2, 0, np.zeros((6, 4), complex)[:, :0], np.ones(2), ValueError),
    (np.eye(2), 2, 0, np.zeros((3, 2), complex), np.ones(2), ValueError),
    (np.eye(2), 2, 0, np.zeros((1, 3), complex), np.ones(2), ValueError),
    (np.eye(2), 2, 0, np.zeros(3, complex), np.ones((2, 4), complex)[:, :0], ValueError),
    (np.eye(2), 2, 0, np.zeros(3, complex), np.ones((2, 2)), ValueError),
    (np.ones((2, 3)), 2, 0, np.zeros(3, complex), np.ones(2), ValueError),
    (np.ones(4), 2, 0, np.zeros(3, complex), np.ones(2), ValueError),
    (np.eye(2), -2, 0, np.zeros(3, complex), np.ones(2), ValueError),
    # Layouts and dimensions the binding layer refuses.
    (np.eye(2), 2, 0, np.zeros((3, 1), complex, order="F")[::-1], np.ones(2), TypeError),
    (np.eye(2), 2, 0, np.array(0j), np.ones(2), TypeError),
    (np.eye(2), 2, 0, np.zeros((3, 1, 1), complex), np.ones(2), TypeError),
    (np.eye(2), 2, 0, np.zeros(3, complex), np.ones((2, 1, 1)), TypeError),
    (np.ones((2, 2, 1)), 2, 0, np.zeros(3, complex), np.ones(2), TypeError),
    (np.array(1.0), 2, 0, np.zeros(3, complex), np.ones(2), TypeError),
    (np.eye(2), 2, 0, misaligned(np.zeros(3, complex), writeable=False), np.ones(2), TypeError),
    (np.eye(2), 2, 0, misaligned(np.zeros(3, complex)), np.ones(2), ValueError),
])
def test_slos_layer_refuses_arrays_it_would_overrun(u, m, k, out, inp, error):
    fs_map = FSMap(FSArray(2, 2), FSArray(2, 1))
    before = out.copy()
    with pytest.raises(error):
        fs_map.compute_slos_layer(u, m, k, out, inp)
    np.testing.assert_array_equal(out, before)


def test_slos_layer_writes_nothing_past_a_view_without_columns():
    base = np.zeros((6, 4), dtype=np.complex128)
    with pytest.raises(ValueError, match="^out must be a vector or a single column, not a 6x0 matrix$"):
        FSMap(FSArray(3, 1), FSArray(3, 0)).compute_slos_layer(np.eye(3), 3, 0, base[:, :0], np.ones(1))
    assert not base.any()


def test_slos_layer_reads_misaligned_inputs_from_aligned_copies():
    fs_map = FSMap(FSArray(3, 2), FSArray(3, 1))
    u = np.arange(9).reshape(3, 3) * (1 + 1j)
    inp = np.array([1, 2j, 3])
    expected = np.empty(6, dtype=np.complex128)
    fs_map.compute_slos_layer(u, 3, 1, expected, inp)
    for writeable in (True, False):
        out = np.empty(6, dtype=np.complex128)
        fs_map.compute_slos_layer(misaligned(u, writeable), 3, 1, out, misaligned(inp, writeable))
        np.testing.assert_array_equal(out, expected)
    with pytest.raises(ValueError, match="^a misaligned complex128 array cannot be written in place"):
        fs_map.compute_slos_layer(u, 3, 1, misaligned(expected), inp)
