import copy

import pytest

import orbandile as ob
from orbandile import Annotation, AnnotatedFockState, FockState, NoisyFockState
from equality import assert_distinct_values, assert_equal_values

CANNOT_INIT = "Cannot initialise annotated FockState from simple or noisy Fock state."


def test_empty_and_vacuum_states():
    empty = AnnotatedFockState()
    assert (empty.m, empty.n, len(empty), str(empty)) == (0, 0, 0, "|>")
    assert not empty
    vacuum = AnnotatedFockState(3)
    assert (vacuum.m, vacuum.n, str(vacuum), vacuum.has_annotations) == (3, 0, "|0,0,0>", False)
    assert vacuum


@pytest.mark.parametrize("args, text", [
    (([1, 0, 2], {0: ["P:H"], 2: ["a:0", "a:1"]}), "|{P:H},0,{a:0}{a:1}>"),
    (([3], {0: ["a:0"]}), "|{a:0}2>"),
    (([2], {0: ["b:0", "a:0"]}), "|{a:0}{b:0}>"),
    (([2], {0: ["a:1", "a:1"]}), "|2{a:1}>"),
    (([1, 0, 2], {0: ["lambda:625.2"]}), "|{lambda:625.2},0,2>"),
    (("|0, {lambda:625.2}, {lambda:625.3}>",), "|0,{lambda:625.2},{lambda:625.3}>"),
    ((b"|{a:0},1>",), "|{a:0},1>"),
    (("|{a:0},1>\0junk",), "|{a:0},1>"),
    ((ob.ParsedBasicState("|2{P:V}>"),), "|2{P:V}>"),
    (("|0,0>",), "|0,0>"),
    (([1, 0, 2],), "|1,0,2>"),
    (((1, 0, 2),), "|1,0,2>"),
    ((FockState([1, 0, 2]),), "|1,0,2>"),
    ((NoisyFockState("|{0}{1},{2}>"),), "|2,1>"),  # read as a sequence of counts
])
def test_constructors(args, text):
    state = AnnotatedFockState(*args)
    assert str(state) == text
    assert AnnotatedFockState(state) == state
    assert AnnotatedFockState(fs=state) is not state


def test_keyword_constructors():
    assert AnnotatedFockState(fs_vec=[1], mode_annotation={0: ["a:1"]}) == AnnotatedFockState("|{a:1}>")
    assert AnnotatedFockState(str="|{a:1}>") == AnnotatedFockState(parsed_bs=ob.ParsedBasicState("|{a:1}>"))
    assert AnnotatedFockState(fs_vec=[2, 0]) == AnnotatedFockState([2, 0])


@pytest.mark.parametrize("args, error, message", [
    (("|1,0>",), RuntimeError, CANNOT_INIT),
    (("|{0},{a:0}>",), RuntimeError, CANNOT_INIT),
    (("|1,x>",), ValueError, "Invalid character. Should be a digit.\n|1,x>\n  ^"),
    (([1], {0: ["a:0", "b:0"]}), ValueError, "invalid mode annotations"),
    (([1], {1: ["a:0"]}), ValueError, "invalid mode index"),
    (([1], {0: ["P:X"]}), ValueError, "invalid annotation (unknown polarization value: X)"),
    (([1, 300],), RuntimeError, "invalid photon count '300' for mode 1"),
    ((257,), RuntimeError, "Fock state size is capped from 0 to 256 modes"),
    (([1, 0, 2], {0: "lambda:625.2"}), TypeError, None),  # a bare text is not a list of texts
    ((None,), TypeError, None),
    ((2**40,), TypeError, None),
    ((1.5,), TypeError, None),
])
def test_constructor_errors(args, error, message):
    with pytest.raises(error) as info:
        AnnotatedFockState(*args)
    if message is not None:
        assert str(info.value) == message


def test_indexing_iteration_and_slices():
    state = AnnotatedFockState("|{a:0},0,{b:1}{c:2}>")
    assert [state[k] for k in range(3)] == [1, 0, 2] == list(state)
    with pytest.raises(IndexError, match="^invalid mode$"):
        state[-1]
    assert state[-1:] == state.slice(2, 3, 1) == AnnotatedFockState("|{b:1}{c:2}>")
    assert state[::2] == state.slice(0, 3, 2) == AnnotatedFockState("|{a:0},{b:1}{c:2}>")
    assert state[1:2] == AnnotatedFockState(1)
    assert state[2:1].m == 0
    with pytest.raises(ValueError):
        state[::0]
    for call in (lambda: state[0:2:-1], lambda: state.slice(0, 2, -1), lambda: state.slice(0, 2, 0),
                 lambda: state[::-1], lambda: state.slice(2, 0, -1)):
        with pytest.raises(ValueError, match="^slice step must be positive$"):
            call()


def test_iterator_keeps_its_state_alive():
    it = iter(AnnotatedFockState("|2{a:0},{b:1}>"))
    assert iter(it) is it
    assert list(it) == [2, 1]
    with pytest.raises(StopIteration):
        next(it)


def test_set_slice():
    state = AnnotatedFockState("|{a:0},{b:1},0>")
    other = AnnotatedFockState("|{c:2}>")
    expected = AnnotatedFockState("|{a:0},{c:2},0>")
    assert state.set_slice(slice(1, 2), other) == state.set_slice(other, 1, 2) == expected
    assert state.set_slice(slice(1, 2), FockState([1])) == AnnotatedFockState("|{a:0},1,0>")
    assert state.set_slice(NoisyFockState("|{4}>"), 1, 2) == AnnotatedFockState("|{a:0},{_:4},0>")
    assert state.set_slice(slice(-1, None), NoisyFockState("|{4}>")) == AnnotatedFockState("|{a:0},{b:1},{_:4}>")
    assert state.set_slice(FockState(), 2, 1) == state
    with pytest.raises(RuntimeError, match="^set_slice does not support step!=1$"):
        state.set_slice(slice(0, 2, 2), other)
    with pytest.raises(ValueError, match="^invalid FockState to replace in slice$"):
        state.set_slice(AnnotatedFockState([0, 0]), 1, 2)
    with pytest.raises(TypeError):
        state.set_slice(other=other, start=1, end=2)


def test_remove_modes():
    state = AnnotatedFockState("|{a:0},{b:1},{c:2}>")
    assert state.remove_modes([1]) == AnnotatedFockState("|{a:0},{c:2}>")
    assert state.remove_modes(modes=(2, 0, 2)) == AnnotatedFockState("|{b:1}>")
    assert state.remove_modes([]) == state
    with pytest.raises(RuntimeError, match="^Mode index to remove out of bound$"):
        state.remove_modes([3])
    for modes in ([256], [-1], "ab"):
        with pytest.raises(TypeError):
            state.remove_modes(modes)


def test_products_and_powers_promote_the_operand():
    state = AnnotatedFockState("|{a:0},1>")
    assert state * AnnotatedFockState("|{b:1}>") == AnnotatedFockState("|{a:0},1,{b:1}>")
    assert state * FockState([1]) == AnnotatedFockState("|{a:0},1,1>")
    assert state * NoisyFockState("|{3}>") == AnnotatedFockState("|{a:0},1,{_:3}>")
    assert state ** 2 == AnnotatedFockState("|{a:0},1,{a:0},1>")
    assert (state ** 0).m == 0
    for exponent in (-1, 1.5, "2"):
        with pytest.raises(TypeError):
            state ** exponent
    with pytest.raises(TypeError):
        state * [1]


def test_in_place_product_gives_a_new_object():
    state = AnnotatedFockState("|{a:0}>")
    alias = state
    state *= FockState([1])
    assert state is not alias and str(state) == "|{a:0},1>"
    state *= NoisyFockState("|{2}>")
    state *= AnnotatedFockState("|{b:0}>")
    assert str(state) == "|{a:0},1,{_:2},{b:0}>"
    state *= state
    assert str(state) == "|{a:0},1,{_:2},{b:0},{a:0},1,{_:2},{b:0}>"
    assert str(alias) == "|{a:0}>"  # states never change


def test_merge():
    a = AnnotatedFockState("|{a:0}>")
    assert str(a.merge(a)) == "|2{a:0}>"
    assert str(AnnotatedFockState("|{b:0}>").merge(a)) == "|{a:0}{b:0}>"
    assert str(a.merge(FockState([1]))) == "|{a:0}1>"
    assert str(a.merge(NoisyFockState("|{0}>"))) == "|{_:0}{a:0}>"
    with pytest.raises(RuntimeError, match="^Cannot merge fock states of different length$"):
        a.merge(FockState([1, 0]))
    with pytest.raises(TypeError):
        a.merge(other=a)


PERFECT, NOISY = FockState([1, 0]), NoisyFockState("|{0},0>")


@pytest.mark.parametrize("self, method, args, result", [
    (PERFECT, "__mul__", (AnnotatedFockState("|{a:1}>"),), "|1,0,{a:1}>"),
    (PERFECT, "merge", (AnnotatedFockState("|{a:1},0>"),), "|{a:1}1,0>"),
    (PERFECT, "set_slice", (slice(0, 1), AnnotatedFockState("|{a:1}>")), "|{a:1},0>"),
    (PERFECT, "set_slice", (AnnotatedFockState("|{a:1}>"), 1, 2), "|1,{a:1}>"),
    (PERFECT, "inject_annotation", (Annotation("a:1"),), "|{a:1},0>"),
    (NOISY, "__mul__", (AnnotatedFockState("|{a:1}>"),), "|{_:0},0,{a:1}>"),
    (NOISY, "merge", (AnnotatedFockState("|{a:1},0>"),), "|{_:0}{a:1},0>"),
    (NOISY, "set_slice", (slice(1, 2), AnnotatedFockState("|{a:1}>")), "|{_:0},{a:1}>"),
    (NOISY, "set_slice", (AnnotatedFockState("|{a:1}>"), 0, 1), "|{a:1},0>"),
])
def test_other_kinds_promote_to_annotated(self, method, args, result):
    before = str(self)
    out = getattr(self, method)(*args)
    assert isinstance(out, AnnotatedFockState)
    assert str(out) == result
    assert str(self) == before


def test_other_kinds_keep_their_own_products():
    assert isinstance(PERFECT.inject_annotation(3), NoisyFockState)
    assert not isinstance(PERFECT * PERFECT, AnnotatedFockState)
    with pytest.raises(RuntimeError, match="^Can't inject annotation in a NoisyFockState$"):
        NOISY.inject_annotation(Annotation("a:1"))
    noisy = NoisyFockState("|{0}>")
    alias = noisy
    noisy *= AnnotatedFockState("|{a:0}>")  # no in-place form: rebinds to the product
    assert isinstance(noisy, AnnotatedFockState) and isinstance(alias, NoisyFockState)


def test_annotation_queries():
    state = AnnotatedFockState([3, 1], {0: ["b:0", "a:0"]})
    assert [str(a) for a in state.get_mode_annotations(0)] == ["a:0", "b:0", ""]
    assert [str(state.get_photon_annotation(n)) for n in range(4)] == ["a:0", "b:0", "", ""]
    assert isinstance(state.get_photon_annotation(0), Annotation)
    with pytest.raises(IndexError, match="^invalid mode$"):
        state.get_mode_annotations(2)
    with pytest.raises(IndexError, match="^photon index out of range$"):
        state.get_photon_annotation(4)
    assert state.has_annotations and not state.has_polarization
    assert (state.photon2mode(3), state.mode2photon(1), state.prodnfact()) == (1, 3, 6.0)
    with pytest.raises(IndexError, match="^photon index out of range$"):
        state.photon2mode(4)
    with pytest.raises(IndexError, match="^mode index out of range$"):
        state.mode2photon(2)


def test_dropping_annotations():
    state = AnnotatedFockState("|3{a:0},0,{b:0}1>")
    assert isinstance(state.clear_annotations(), FockState)
    assert state.clear_annotations() == FockState([3, 0, 2])
    assert state.threshold_detection() == FockState([1, 0, 1])
    assert state.threshold_detection(threshold=2) == FockState([2, 0, 2])
    with pytest.raises(ValueError, match="^detections must be positive$"):
        state.threshold_detection(0)
    assert state.__str__(show_annotations=False) == "|3,0,2>"
    assert repr(state) == str(state) == state.__str__(True)


def test_inject_annotation_changes_the_object():
    state = AnnotatedFockState([2, 0, 1])
    alias = state
    assert state.inject_annotation(Annotation("P:H")) is None
    assert str(alias) == "|2{P:H},0,{P:H}>"
    assert alias.has_annotations and alias.has_polarization
    state.inject_annotation(annot=Annotation("a:0,b:1+2j"))
    assert str(state) == "|2{a:0,b:(1,2)},0,{a:0,b:(1,2)}>"


def test_equality_and_hash_across_constructions():
    tagged = NoisyFockState(FockState([2, 1]), [10, 9, 3])
    built = [
        AnnotatedFockState("|{_:10}{_:9},{_:3}>"),
        AnnotatedFockState([2, 1], {0: ["_:9", "_:10"], 1: ["_:3"]}),
        AnnotatedFockState([0, 0]).merge(tagged),
        AnnotatedFockState(2).set_slice(slice(0, 2), tagged),
        AnnotatedFockState() * tagged,
        FockState([0, 0]).merge(AnnotatedFockState(2).merge(tagged)),
    ]
    assert_equal_values(*built)

    one_way = AnnotatedFockState([2], {0: ["a:0"]})
    more = AnnotatedFockState("|{a:0}{b:0}>")
    assert_distinct_values(one_way, more)
    plain = AnnotatedFockState([1, 0, 2])
    assert not plain == FockState([1, 0, 2])
    assert plain != FockState([1, 0, 2])
    # An empty entry counts on an occupied mode only: a photon-free mode carries no annotation.
    assert AnnotatedFockState([1, 0], {0: []}) != AnnotatedFockState([1, 0])
    # A group of 0 photons in the text gives its mode no annotation.
    assert_equal_values(AnnotatedFockState("|0{a:1}1,{b:1}>"), AnnotatedFockState("|1,{b:1}>"))
    assert AnnotatedFockState([1, 0], {1: []}) == AnnotatedFockState([1, 0])
    with pytest.raises(TypeError):
        plain < plain


def test_copies_are_independent():
    state = AnnotatedFockState("|{a:0},1>")
    for duplicate in (copy.copy(state), copy.deepcopy(state)):
        assert_equal_values(duplicate, state)
        assert duplicate is not state
        duplicate.inject_annotation(Annotation("b:1"))
        assert str(state) == "|{a:0},1>"


def test_class_is_standalone_and_closed():
    state = AnnotatedFockState([1])
    assert not isinstance(state, FockState) and not isinstance(FockState([1]), AnnotatedFockState)
    with pytest.raises(AttributeError):
        state.m = 2
    with pytest.raises(AttributeError):
        state.extra = 1
    assert AnnotatedFockState.__doc__.startswith(
        "\nAn annotated Fock state aims at being a general descriptor of a state.")
    assert AnnotatedFockState.__doc__.endswith("\n")


@pytest.mark.parametrize("state", [FockState([1, 0, 2]), NoisyFockState("|{0},0,{1}{2}>"),
                                   AnnotatedFockState("|{a:0},0,{b:1}{c:2}>")], ids=lambda s: type(s).__name__)
@pytest.mark.parametrize("key", [slice(None, None, -1), slice(2, 0, -1), slice(0, 2, -1), slice(1, 1, -1)])
def test_negative_steps_raise_for_every_state_kind(state, key):
    with pytest.raises(ValueError, match="^slice step must be positive$"):
        state[key]
    with pytest.raises(ValueError, match="^slice step must be positive$"):
        state.slice(key.start or 0, key.stop if key.stop is not None else state.m, key.step)
    assert state[2:1].m == 0


@pytest.mark.parametrize("a, b", [
    (lambda: AnnotatedFockState("|0{a:1},{b:1}>"), lambda: AnnotatedFockState("|0,{b:1}>")),
    (lambda: AnnotatedFockState([0, 1], {0: [], 1: ["b:1"]}), lambda: AnnotatedFockState("|0,{b:1}>")),
    (lambda: AnnotatedFockState([0, 0], {1: []}), lambda: AnnotatedFockState(2)),
    (lambda: AnnotatedFockState("|{a:1},0{b:1}>")[1:], lambda: AnnotatedFockState(1)),
    (lambda: AnnotatedFockState("|0{a:1},{b:1}>").merge(FockState([2, 0])), lambda: AnnotatedFockState("|2,{b:1}>")),
], ids=["zero times an annotation", "empty list", "vacuum", "slice", "merge"])
def test_photon_free_modes_carry_no_annotation(a, b):
    a, b = a(), b()
    assert str(a) == str(b)
    assert_equal_values(a, b)
    assert a.has_annotations == b.has_annotations
