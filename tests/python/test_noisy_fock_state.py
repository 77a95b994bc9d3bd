import copy

import pytest

import orbandile as ob
from orbandile import FockState, NoisyFockState, ParsedBasicState
from equality import assert_distinct_values, assert_equal_values


@pytest.fixture
def s():
    return NoisyFockState(FockState([1, 0, 2]), [0, 0, 1])


def test_empty_state():
    empty = NoisyFockState()
    assert (empty.m, empty.n, len(empty), str(empty)) == (0, 0, 0, "|>")
    assert not empty
    assert not empty.has_annotations
    vacuum = NoisyFockState("|0,0>")
    assert (vacuum.m, vacuum.n, str(vacuum)) == (2, 0, "|0,0>")
    assert vacuum and not vacuum.has_annotations


def test_fock_state_gives_tag_zero():
    state = NoisyFockState(FockState([1, 0, 2]))
    assert str(state) == "|{0},0,2{0}>"
    assert state.split_state() == {0: FockState([1, 0, 2])}


@pytest.mark.parametrize("build", [
    lambda: NoisyFockState(FockState([0, 2]), [1, 0]),
    lambda: NoisyFockState(FockState([0, 2]), [0, 1]),
    lambda: NoisyFockState(fs=FockState([0, 2]), noise=(1, 0)),
    lambda: NoisyFockState(FockState([0, 2]), (t for t in [1, 0])),
    lambda: NoisyFockState(FockState([0, 2]), {1, 0}),
    lambda: NoisyFockState("|0,{1}{0}>"),
    lambda: NoisyFockState(str="|0,{0}{1}>"),
    lambda: NoisyFockState(b"|0,{1}{0}>"),
    lambda: NoisyFockState(ParsedBasicState("|0,{1}{0}>")),
    lambda: NoisyFockState(nfs=NoisyFockState("|0,{1}{0}>")),
], ids=["given-order", "sorted", "keywords", "generator", "set", "text", "text-keyword", "bytes",
        "parsed", "copy"])
def test_equal_states_whatever_the_tag_order(build):
    state = build()
    reference = NoisyFockState(FockState([0, 2]), [0, 1])
    assert_equal_values(state, reference)
    assert str(state) == "|0,{0}{1}>"
    assert state.get_mode_annotations(1) == [0, 1]


def test_hash_value(s):
    assert s.__hash__() == 0x6b9ea42d22021903
    assert_equal_values(s, NoisyFockState("|{0},0,{0}{1}>"), NoisyFockState("|{0},0,{1}{0}>"))
    other_tags = NoisyFockState(FockState([1, 0, 2]), [1, 0, 0])
    assert_distinct_values(s, other_tags, FockState([1, 0, 2]))
    assert hash(other_tags) != hash(s)


@pytest.mark.parametrize("args, error, message", [
    ((FockState([1, 1]), [0]), ValueError, "Wrong noise size (expected 2)"),
    ((FockState([1, 1]), [0, 1, 2]), ValueError, "Wrong noise size (expected 2)"),
    ((FockState([1, 1]), [0, 256]), TypeError, None),
    ((FockState([1, 1]), [0, -1]), TypeError, None),
    ((FockState([1]), "a"), TypeError, None),
    (("|1,0>",), RuntimeError, "Cannot initialise noisy FockState from simple or annotated Fock state."),
    (("|{0},{a:1}>",), RuntimeError, "Cannot initialise noisy FockState from simple or annotated Fock state."),
    (("|{300}{50}>",), ValueError, "Invalid noise tag. Should be between 0 and 255.\n|{300}{50}>\n ^"),
    (("1>",), ValueError, None),
    ((None,), TypeError, None),
    ((3,), TypeError, None),
    ((FockState([1]), None), TypeError, None),
])
def test_constructor_errors(args, error, message):
    with pytest.raises(error) as info:
        NoisyFockState(*args)
    if message is not None:
        assert str(info.value) == message


def test_annotated_fock_state_is_not_accepted():
    with pytest.raises(TypeError):
        NoisyFockState(ob.AnnotatedFockState("|{a:1}>"))


def test_sizes_indexing_and_iteration(s):
    assert (len(s), s.m, s.n) == (3, 3, 3)
    assert list(s) == [1, 0, 2]
    assert s[2] == 2
    for bad in (3, -1):
        with pytest.raises(IndexError, match="^invalid mode$"):
            s[bad]
    assert s[-1:] == s.slice(2, 3, 1)
    assert str(s[-1:]) == "|{0}{1}>"
    assert s[::2] == s.slice(0, 3, 2)
    assert str(s[::2]) == "|{0},{0}{1}>"
    assert s[2:1] == NoisyFockState()


@pytest.mark.parametrize("call", [
    lambda s: s[::-1],
    lambda s: s[::0],
    lambda s: s.slice(0, 3, 0),
    lambda s: s.slice(0, 3, -1),
])
def test_slices_need_a_positive_step(s, call):
    with pytest.raises(ValueError):
        call(s)


def test_iterator_survives_an_in_place_product(s):
    it = iter(s)
    assert next(it) == 1
    s *= NoisyFockState("|{4},{4}>")
    assert list(it) == [0, 2]
    assert list(s) == [1, 0, 2, 1, 1]


def test_photons_and_modes(s):
    assert s.photon2mode(2) == 2
    with pytest.raises(IndexError, match="^photon index out of range$"):
        s.photon2mode(3)
    assert s.mode2photon(1) == -1
    assert s.mode2photon(2) == 1
    with pytest.raises(IndexError, match="^mode index out of range$"):
        s.mode2photon(3)
    assert s.prodnfact() == 2.0


def test_tag_queries(s):
    assert [s.get_photon_annotation(i) for i in range(3)] == [0, 0, 1]
    assert s.get_photon_annotation(n=2) == 1
    with pytest.raises(ValueError, match="^Photon mode index out of range$"):
        s.get_photon_annotation(3)
    with pytest.raises(TypeError):
        s.get_photon_annotation(256)
    assert s.get_mode_annotations(2) == [0, 1]
    assert s.get_mode_annotations(m=0) == [0]
    assert s.get_mode_annotations(1) == []
    assert s.get_mode_annotations(7) == []
    with pytest.raises(TypeError):
        s.get_mode_annotations(-1)


def test_separate_state(s):
    batches = s.separate_state()
    assert isinstance(batches, ob.BSSamples)
    assert list(batches) == [FockState([1, 0, 1]), FockState([0, 0, 1])]
    assert list(NoisyFockState(FockState([0, 0])).separate_state()) == [FockState([0, 0])]


def test_split_state(s):
    batches = s.split_state()
    assert batches == {0: FockState([1, 0, 1]), 1: FockState([0, 0, 1])}
    assert list(batches) == [0, 1]
    assert NoisyFockState(FockState([0, 0])).split_state() == {}
    assert NoisyFockState(FockState([1, 2]), [2, 0, 2]).split_state() == {0: FockState([0, 1]),
                                                                          2: FockState([1, 1])}


def test_annotation_interface(s):
    assert s.has_annotations
    assert not s.has_polarization
    for call in (lambda: s.inject_annotation(), lambda: s.inject_annotation(3),
                 lambda: s.inject_annotation(tag=3), lambda: s.inject_annotation("x", y=None)):
        with pytest.raises(RuntimeError, match="^Can't inject annotation in a NoisyFockState$"):
            call()
    cleared = s.clear_annotations()
    assert type(cleared) is FockState and cleared == FockState([1, 0, 2])
    assert s.threshold_detection() == FockState([1, 0, 1])
    assert s.threshold_detection(threshold=2) == FockState([1, 0, 2])
    with pytest.raises(ValueError, match="^detections must be positive$"):
        s.threshold_detection(0)
    assert str(s) == "|{0},0,{0}{1}>"


def test_set_slice(s):
    o = NoisyFockState("|{5},{6}>")
    assert s.set_slice(slice(0, 2), o) == s.set_slice(o, 0, 2)
    assert str(s.set_slice(o, 0, 2)) == "|{5},{6},{0}{1}>"
    assert s.set_slice(slice(-2, None), o) == s.set_slice(o, -2, 3)
    with pytest.raises(RuntimeError, match="^set_slice does not support step!=1$"):
        s.set_slice(slice(0, 2, 2), o)
    wrong = NoisyFockState("|{5}>")
    for call in (lambda: s.set_slice(slice(0, 2), wrong), lambda: s.set_slice(wrong, 0, 2)):
        with pytest.raises(ValueError, match="^invalid NoisyFockState to replace in slice$"):
            call()
    with pytest.raises(TypeError):
        s.set_slice(other=o, start=0, end=2)
    assert str(s) == "|{0},0,{0}{1}>"


def test_remove_modes(s):
    assert str(s.remove_modes([1])) == "|{0},{0}{1}>"
    assert str(s.remove_modes(modes=(2, 0, 2))) == "|0>"
    assert s.remove_modes([]) == s
    for bad in ([256], [-1]):
        with pytest.raises(TypeError):
            s.remove_modes(bad)
    with pytest.raises(RuntimeError, match="^Mode index to remove out of bound$"):
        s.remove_modes([5])


def test_merge(s):
    assert str(s.merge(NoisyFockState("|{2},0,{0}>"))) == "|{0}{2},0,2{0}{1}>"
    with pytest.raises(RuntimeError, match="^Cannot merge fock states of different length$"):
        s.merge(FockState([1]))
    with pytest.raises(TypeError):
        s.merge(other=s)


# Mixed operations between perfect and noisy states give noisy states, operands in the given order.
@pytest.mark.parametrize("call, text", [
    (lambda s: s * FockState([1]), "|{0},0,{0}{1},{0}>"),
    (lambda s: FockState([1]) * s, "|{0},{0},0,{0}{1}>"),
    (lambda s: s * NoisyFockState("|{7}>"), "|{0},0,{0}{1},{7}>"),
    (lambda s: s.merge(FockState([0, 1, 0])), "|{0},{0},{0}{1}>"),
    (lambda s: FockState([0, 1, 0]).merge(s), "|{0},{0},{0}{1}>"),
    (lambda s: FockState([2, 0, 0]).merge(s), "|3{0},0,{0}{1}>"),
    (lambda s: s.set_slice(slice(0, 1), FockState([2])), "|2{0},0,{0}{1}>"),
    (lambda s: s.set_slice(FockState([2]), 0, 1), "|2{0},0,{0}{1}>"),
    (lambda s: FockState([3, 3, 3]).set_slice(slice(1, 3), s[1:]), "|3{0},0,{0}{1}>"),
    (lambda s: FockState([3, 3, 3]).set_slice(s[1:], 1, 3), "|3{0},0,{0}{1}>"),
    (lambda s: FockState([3]).set_slice(slice(0, 0), NoisyFockState()), "|3{0}>"),
    (lambda s: FockState([2, 1]).inject_annotation(3), "|2{3},{3}>"),
    (lambda s: FockState([2, 1]).inject_annotation(tag=0), "|2{0},{0}>"),
])
def test_promotions_to_noisy_states(s, call, text):
    result = call(s)
    assert type(result) is NoisyFockState
    assert str(result) == text
    assert str(s) == "|{0},0,{0}{1}>"


def test_inject_annotation_keeps_the_perfect_state():
    state = FockState([2, 1])
    state.inject_annotation(3)
    assert type(state) is FockState and state == FockState([2, 1])
    for bad in (256, -1):
        with pytest.raises(TypeError):
            state.inject_annotation(bad)


def test_in_place_products(s):
    t = s
    s *= FockState([1])
    assert t is not s and s.m == 4 and str(s) == "|{0},0,{0}{1},{0}>"
    u = s
    s *= NoisyFockState("|{9}>")
    assert u is not s and str(s) == "|{0},0,{0}{1},{0},{9}>"
    s *= s
    assert s.m == 10
    assert str(t) == "|{0},0,{0}{1}>" and str(u) == "|{0},0,{0}{1},{0}>"  # states never change

    f = FockState([1])
    g = f
    f *= NoisyFockState("|{2}>")
    assert type(f) is NoisyFockState and str(f) == "|{0},{2}>"
    assert type(g) is FockState and g == FockState([1])


def test_failed_in_place_product_leaves_the_state_unchanged():
    full = NoisyFockState(FockState([256]), [5] * 256)
    big = full ** 31
    before = copy.copy(big)
    with pytest.raises(RuntimeError, match="^Fock state code is capped to 8191 photons$"):
        big *= full
    assert big == before and big.n == 7936
    wide = NoisyFockState(FockState([1] * 200))
    with pytest.raises(RuntimeError, match="^Fock state size is capped from 0 to 256 modes$"):
        wide *= FockState(100)
    assert wide.m == 200


def test_power(s):
    assert (s ** 2).m == 6 and str(s ** 2) == "|{0},0,{0}{1},{0},0,{0}{1}>"
    assert s ** 0 == NoisyFockState()
    for bad in (-1, 1.5, "2"):
        with pytest.raises(TypeError):
            s ** bad
    with pytest.raises(TypeError):
        pow(s, 2, 3)


def test_comparison(s):
    assert s == NoisyFockState("|{0},0,{0}{1}>")
    assert not s != NoisyFockState("|{0},0,{0}{1}>")
    assert s != NoisyFockState("|{0},0,2{0}>")
    assert not s == FockState([1, 0, 2]) and s != FockState([1, 0, 2])
    assert not FockState([1, 0, 2]) == s
    with pytest.raises(TypeError):
        s < s
    with pytest.raises(TypeError):
        s * "x"


def test_text_forms(s):
    assert str(s) == repr(s) == s.__str__(True) == s.__repr__() == "|{0},0,{0}{1}>"
    assert s.__str__(show_annotations=False) == "|1,0,2>"
    assert s.__repr__(False) == "|1,0,2>"
    assert s.__str__(None) == "|1,0,2>"
    assert str(NoisyFockState(FockState([3, 1]), [0, 1, 1, 7])) == "|{0}2{1},{7}>"


def test_copies(s):
    for c in (copy.copy(s), copy.deepcopy(s), s.__deepcopy__({})):
        assert_equal_values(c, s)
        assert c is not s
    c = copy.copy(s)
    c *= FockState([1])
    assert s.m == 3


def test_class_shape(s):
    assert NoisyFockState.__doc__.startswith(
        "\nA ``NoisyFockState`` is a collection of one or several batches of indistinguishable photons "
        "where the photons from different batches are distinguishable.")
    assert NoisyFockState.__doc__.endswith("|{0},0,{0}{1}>\n")
    assert not isinstance(s, FockState) and not isinstance(FockState(), NoisyFockState)
    with pytest.raises(AttributeError):
        s.extra = 1
    with pytest.raises(AttributeError):
        s.m = 4
