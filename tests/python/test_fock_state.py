import copy

import pytest

import orbandile as ob
from orbandile import FockState
from equality import assert_distinct_values, assert_equal_values


def test_empty_and_vacuum_states():
    empty = FockState()
    assert (empty.m, empty.n, len(empty), str(empty)) == (0, 0, 0, "|>")
    assert not empty
    vacuum = FockState(3)
    assert (str(vacuum), vacuum.n, repr(vacuum)) == ("|0,0,0>", 0, "|0,0,0>")
    assert vacuum


@pytest.mark.parametrize("args, error, message", [
    ((257,), RuntimeError, "Fock state size is capped from 0 to 256 modes"),
    ((-1,), RuntimeError, "Fock state size is capped from 0 to 256 modes"),
    (([1, 300],), RuntimeError, "invalid photon count '300' for mode 1"),
    (([200, 100],), RuntimeError, "Fock state number of photons is capped to 256"),
    (("|1,300>",), RuntimeError, "invalid photon count '300' for mode 1"),
    (("|{0},1>",), RuntimeError, "Cannot initialise simple FockState from noisy or annotated Fock state."),
    ((ob.ParsedBasicState("|{a:1}>"),), RuntimeError,
     "Cannot initialise simple FockState from noisy or annotated Fock state."),
    (("|1,x>",), ValueError, "Invalid character. Should be a digit.\n|1,x>\n  ^"),
    (("1>",), ValueError, None),
    ((2**40,), TypeError, None),
    ((None,), TypeError, None),
    ((1.5,), TypeError, None),
])
def test_constructor_errors(args, error, message):
    with pytest.raises(error) as info:
        FockState(*args)
    if message is not None:
        assert str(info.value) == message


def test_constructions_agree_and_hash_alike():
    states = [FockState([1, 0, 2]), FockState((1, 0, 2)), FockState(fs=FockState([1, 0, 2])),
              FockState(code=[1, 0, 2]), FockState("|1,0,2>"), FockState(str=" |1, 0,2> "),
              FockState(b"|1,0,2>"), FockState("|1,0,2>\0junk"), FockState(ob.ParsedBasicState("|1,0,2>")),
              FockState(parsed_bs=ob.ParsedBasicState("|1,0,2>"))]
    assert_equal_values(*states)
    assert FockState([1, 0, 2]).__hash__() == 0xcd5d99c015f881e1
    assert FockState().__hash__() == 0xd53e17e9696627e0
    assert FockState([9, 0]).__hash__() == 0xa3b8abfa9e1bdc0d


def test_states_are_dict_keys_and_set_members():
    counts = {FockState([1, 0]): 1}
    counts[FockState([1, 0])] += 1
    counts[FockState([0, 1])] = 5
    assert counts == {FockState([1, 0]): 2, FockState([0, 1]): 5}
    assert len({FockState([2]), FockState([2]), FockState([9, 1]), FockState([9, 1])}) == 2
    assert_distinct_values(FockState([2]), FockState([2, 0]), FockState([0, 2]), FockState([1, 1]), FockState())


def test_indexing_and_iteration():
    state = FockState([1, 0, 2])
    assert list(state) == [1, 0, 2]
    assert state[2] == 2
    for bad in (3, -1):
        with pytest.raises(IndexError, match="^invalid mode$"):
            state[bad]
    assert 2 in FockState([2, 0])
    assert 3 not in FockState([2, 0])


@pytest.mark.parametrize("key, expected", [
    (slice(-1, None), [2]),
    (slice(None, None, 2), [1, 2]),
    (slice(1, 10), [0, 2]),
    (slice(-10, 2), [1, 0]),
    (slice(2, 1), []),
])
def test_slices_follow_python_rules(key, expected):
    state = FockState([1, 0, 2])
    assert state[key] == FockState(expected)
    assert state[-1:] == state.slice(2, 3, 1)


@pytest.mark.parametrize("key", [slice(None, None, 0), slice(None, None, -1), slice(2, 0, -1)])
def test_slices_need_a_positive_step(key):
    with pytest.raises(ValueError):
        FockState([1, 0, 2])[key]


def test_positional_slice_and_set_slice():
    state = FockState([1, 2, 3, 4])
    assert state.slice(1, 4, 2) == FockState([2, 4])
    assert state.slice(-2, 4, 1) == FockState([3, 4])
    with pytest.raises(ValueError):
        state.slice(0, 4, 0)
    assert FockState([1, 0, 2]).set_slice(slice(0, 2), FockState([0, 0])) == FockState([0, 0, 2])
    assert state.set_slice(FockState([0, 5]), 1, 3) == FockState([1, 0, 5, 4])
    assert state.set_slice(FockState(), 3, 1) == state
    with pytest.raises(RuntimeError, match="^set_slice does not support step!=1$"):
        FockState([1, 0, 2]).set_slice(slice(0, 2, 2), FockState([1]))
    with pytest.raises(ValueError, match="^invalid FockState to replace in slice$"):
        FockState([1, 0, 2]).set_slice(FockState([5]), 0, 2)
    with pytest.raises(TypeError):
        state.set_slice(other=FockState([1]), start=0, end=1)


def test_products_powers_and_merge():
    assert FockState([1, 0]) * FockState([0, 2]) == FockState([1, 0, 0, 2])
    assert FockState([1, 0]) ** 2 == FockState([1, 0, 1, 0])
    assert (FockState([1, 0]) ** 0).m == 0
    for exponent in (-1, 1.5):
        with pytest.raises(TypeError):
            FockState([1]) ** exponent
    with pytest.raises(RuntimeError, match="^Fock state size is capped from 0 to 256 modes$"):
        FockState(200) * FockState(57)
    assert FockState([1, 0, 2]).merge(FockState([0, 1, 1])) == FockState([1, 1, 3])
    with pytest.raises(RuntimeError, match="^Cannot merge fock states of different length$"):
        FockState([1, 2]).merge(FockState([1, 0, 0]))
    with pytest.raises(TypeError):
        FockState([1]).merge(other=FockState([1]))
    with pytest.raises(TypeError):
        FockState([1]) * "x"


def test_in_place_product_gives_a_new_object():
    a = FockState([1])
    b = a
    a *= FockState([1])
    assert a is not b  # a state is hashable: it never changes
    assert str(a) == "|1,1>" and str(b) == "|1>"
    with pytest.raises(RuntimeError):
        a *= FockState(255)
    assert str(a) == "|1,1>"


def test_iterator_survives_in_place_product():
    state = FockState([3, 1])
    iterator = iter(state)
    assert next(iterator) == 3
    state *= FockState([4, 4, 4])
    assert list(iterator) == [1]
    assert next(iter(state)) == 3


def test_mode_iterator():
    iterator = iter(FockState([2, 0, 1]))
    assert iter(iterator) is iterator
    assert [next(iterator), next(iterator), next(iterator)] == [2, 0, 1]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(iterator)
    with pytest.raises(TypeError):
        ob.ModeIterator()


def test_photon_queries_and_thresholds():
    state = FockState([3, 0, 1])
    assert state.photon2mode(n=3) == 2
    assert state.mode2photon(mode=1) == -1
    assert state.mode2photon(2) == 3
    with pytest.raises(IndexError, match="^photon index out of range$"):
        state.photon2mode(4)
    with pytest.raises(IndexError, match="^mode index out of range$"):
        state.mode2photon(-1)
    assert state.prodnfact() == 6.0
    with pytest.raises(OverflowError, match=r"^overflow error in FockState::prodnfact\(\)$"):
        FockState([171]).prodnfact()
    assert state.threshold_detection() == FockState([1, 0, 1])
    assert state.threshold_detection(threshold=2) == FockState([2, 0, 1])
    with pytest.raises(ValueError, match="^detections must be positive$"):
        state.threshold_detection(0)


def test_remove_modes():
    state = FockState([1, 2, 3, 4])
    assert state.remove_modes(modes=[2, 0, 2]) == FockState([2, 4])
    assert state.remove_modes([]) == state
    with pytest.raises(RuntimeError, match="^Mode index to remove out of bound$"):
        state.remove_modes([4])
    with pytest.raises(TypeError):
        state.remove_modes([256])


def test_annotation_queries_answer_trivially():
    state = FockState([1, 1])
    assert state.clear_annotations() is state
    assert state.get_mode_annotations(99) is None
    assert state.get_photon_annotation(n=99) is None
    assert (state.has_annotations, state.has_polarization) == (False, False)


def test_value_semantics():
    state = FockState([1, 0, 2])
    for clone in (copy.copy(state), copy.deepcopy(state)):
        assert clone == state and clone is not state
    for name, value in (("m", 4), ("extra", 1)):
        with pytest.raises(AttributeError):
            setattr(state, name, value)
    with pytest.raises(TypeError):
        state < FockState([1])
    assert state != 3 and not state == 3


@pytest.mark.parametrize("photons", [8, 9])
def test_heap_codes_behave_like_inline_codes(photons):
    state = FockState([photons - 2, 2])
    assert list(state) == [photons - 2, 2]
    assert state == FockState(state) and hash(state) == hash(FockState([photons - 2, 2]))
    assert str(state * state) == f"|{photons - 2},2,{photons - 2},2>"
    assert state[1:] == FockState([2])
    assert state.threshold_detection(1) == FockState([1, 1])


def test_docstrings():
    assert FockState.__doc__.startswith("\nA ``FockState`` is an immutable container")
    assert FockState.m.__doc__ == ":return: The number of modes"
    assert "Creates a new state from ``self`` with a section replaced" in FockState.set_slice.__doc__


def test_partition_returns_bs_samples():
    ways = FockState([2, 0]).partition([1, 1])
    assert len(ways) == 1 and isinstance(ways[0], ob.BSSamples)
    assert list(ways[0]) == [FockState([1, 0]), FockState([1, 0])]
    splits = {tuple(str(s) for s in way) for way in FockState([1, 1, 1]).partition(vector=[2, 1])}
    assert splits == {("|1,1,0>", "|0,0,1>"), ("|1,0,1>", "|0,1,0>"), ("|0,1,1>", "|1,0,0>")}
