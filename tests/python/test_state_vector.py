import copy
import math
import operator
import os

import pytest

import orbandile as ob
from orbandile import AnnotatedFockState, FockState, NoisyFockState, StateVector

R2 = 1 / math.sqrt(2)


def amplitudes(sv):
    """The stored components, keyed by kind and text so that the iteration order does not matter."""
    return {(type(s).__name__, str(s)): a for s, a in sv.unnormalized_iterator()}


def perfect(*terms):
    return {("FockState", text): a for text, a in terms}


@pytest.fixture
def sv():
    return 0.1 * StateVector([0, 1]) + 0.2 * StateVector([1, 0])


def test_empty_vector():
    empty = StateVector()
    assert (empty.m, len(empty), empty.is_normalized, str(empty), repr(empty)) == (0, 0, False, "|>", "|>")
    assert not empty
    assert list(empty) == []
    assert empty.is_normalized


@pytest.mark.parametrize("build", [
    lambda: StateVector([1, 0, 1, 0]),
    lambda: StateVector("|1,0,1,0>"),
    lambda: StateVector(FockState("|1,0,1,0>")),
    lambda: StateVector(fock_state=FockState([1, 0, 1, 0])),
])
def test_constructors_agree(build):
    v = build()
    assert v == StateVector(FockState("|1,0,1,0>"))
    assert amplitudes(v) == perfect(("|1,0,1,0>", 1))
    assert (v.m, v.n, v.is_normalized) == (4, {2}, False)


@pytest.mark.parametrize("state, kind", [
    (FockState([1, 0]), FockState),
    (NoisyFockState("|{0},0>"), NoisyFockState),
    (AnnotatedFockState("|{a:1},0>"), AnnotatedFockState),
])
def test_states_keep_their_kind(state, kind):
    text = str(state)
    for v in (StateVector(state), StateVector(text)):
        assert amplitudes(v) == {(kind.__name__, text): 1}
        assert type(v[0]) is kind and v[0] == state
    assert str(state) == text  # the argument is copied, not taken over


@pytest.mark.parametrize("args, error, message", [
    (("|1,x>",), ValueError, None),
    (("|{0},{a:0}>",), RuntimeError, "Cannot initialise noisy FockState from simple or annotated Fock state."),
    (([1, 300],), RuntimeError, "invalid photon count '300' for mode 1"),
    (([1, 2**40],), TypeError, None),
    ((None,), TypeError, None),
    ((1.5,), TypeError, None),
])
def test_constructor_errors(args, error, message):
    with pytest.raises(error) as info:
        StateVector(*args)
    if message:
        assert str(info.value) == message


def test_item_access():
    noisy = NoisyFockState("|{0},0>")
    f = FockState([1, 0])
    v = StateVector(noisy)
    v.normalize()
    assert noisy in v and f not in v
    assert v[f] == 0j
    assert len(v) == 2 and f in v and not v.is_normalized
    assert v[noisy] == 1 + 0j
    assert {str(v[0]), str(v[1])} == {"|{0},0>", "|1,0>"}
    three = StateVector([1, 0]) + StateVector([0, 1]) + StateVector([2, 0])
    with pytest.raises(RuntimeError, match=r"^Out of bounds component \(pos=5, size=3\)$"):
        three[5]
    for key in (-1, "|1,0>", [1, 0]):
        with pytest.raises(TypeError):
            three[key]


def test_iterators(sv):
    fresh = copy.copy(sv)
    assert [(str(s), a) for s, a in sorted(fresh.unnormalized_iterator(), key=lambda p: str(p[0]))] == [
        ("|0,1>", 0.1 + 0j), ("|1,0>", 0.2 + 0j)]
    assert not fresh.is_normalized
    assert sorted(str(s) for s in fresh.keys()) == ["|0,1>", "|1,0>"]
    assert not fresh.is_normalized
    assert sorted((str(s), a) for s, a in ((s, a.real) for s, a in sv)) == [
        ("|0,1>", 0.4472135954999579), ("|1,0>", 0.8944271909999159)]
    assert sv.is_normalized


@pytest.mark.parametrize("start", [
    lambda v: iter(v),
    lambda v: v.unnormalized_iterator(),
    lambda v: v.keys(),
])
def test_iterators_survive_changes_and_keep_the_vector(start):
    v = StateVector([1, 0]) + StateVector([0, 1])
    before = [str(k) for k in v.keys()]
    it = start(v)
    first = next(it)
    for i in range(50):  # enough insertions to rehash the map
        v[FockState([i, 1])]
    v *= FockState([1])
    del v
    rest = list(it)
    items = [first] + rest
    assert [str(x[0] if isinstance(x, tuple) else x) for x in items] == before
    assert type(iter(it)) is type(it)


# Each expression against the amplitudes it must store, written out independently.
@pytest.mark.parametrize("expression, expected, m", [
    (lambda: StateVector([1, 0]) + StateVector([0, 1]), perfect(("|1,0>", 1), ("|0,1>", 1)), 2),
    (lambda: StateVector([1, 0]) + NoisyFockState("|{0},0>"),
     {("FockState", "|1,0>"): 1, ("NoisyFockState", "|{0},0>"): 1}, 2),
    (lambda: FockState([0, 1]) + StateVector([1, 0]), perfect(("|1,0>", 1), ("|0,1>", 1)), 2),
    (lambda: StateVector([1, 0]) - StateVector([1, 0]), perfect(("|1,0>", 0)), 2),
    (lambda: StateVector([1, 0]) - FockState([0, 1]), perfect(("|1,0>", 1), ("|0,1>", -1)), 2),
    (lambda: FockState([0, 1]) - 2j * StateVector([1, 0]), perfect(("|1,0>", -2j), ("|0,1>", 1)), 2),
    (lambda: -(StateVector([1, 0]) * 2j), perfect(("|1,0>", -2j)), 2),
    (lambda: StateVector([1, 0]) * 2, perfect(("|1,0>", 2)), 2),
    (lambda: StateVector([1, 0]) * 2.5, perfect(("|1,0>", 2.5)), 2),
    (lambda: StateVector([1, 0]) * (1 - 1j), perfect(("|1,0>", 1 - 1j)), 2),
    (lambda: 3 * StateVector([1, 0]), perfect(("|1,0>", 3)), 2),
    (lambda: 0.5 * StateVector([1, 0]), perfect(("|1,0>", 0.5)), 2),
    (lambda: 1j * StateVector([1, 0]), perfect(("|1,0>", 1j)), 2),
    (lambda: StateVector([1, 0]) * 2**40, perfect(("|1,0>", 2.0**40)), 2),
    (lambda: (StateVector([1, 0]) + StateVector([0, 1])) * FockState([2]),
     perfect(("|1,0,2>", 1), ("|0,1,2>", 1)), 3),
    (lambda: FockState([2]) * (StateVector([1, 0]) + 2 * StateVector([0, 1])),
     perfect(("|2,1,0>", 1), ("|2,0,1>", 2)), 3),
    (lambda: NoisyFockState("|{1}>") * StateVector([1]),
     {("NoisyFockState", "|{1},{0}>"): 1}, 2),
    (lambda: (StateVector([1]) + 1j * StateVector([0])) * (StateVector([2]) - StateVector([0])),
     perfect(("|1,2>", 1), ("|1,0>", -1), ("|0,2>", 1j), ("|0,0>", -1j)), 2),
    (lambda: (StateVector([1]) + StateVector([0])) ** 2,
     perfect(("|1,1>", 1), ("|1,0>", 1), ("|0,1>", 1), ("|0,0>", 1)), 2),
    (lambda: StateVector([1, 0]) * StateVector(), {}, 2),
    (lambda: StateVector() * StateVector([1, 0]), perfect(("|1,0>", 1)), 2),
    (lambda: StateVector() + StateVector([1, 0]), perfect(("|1,0>", 1)), 2),
])
def test_arithmetic(expression, expected, m):
    v = expression()
    assert type(v) is StateVector
    assert amplitudes(v) == expected
    assert v.m == m


def test_arithmetic_errors(sv):
    with pytest.raises(RuntimeError, match="^The mode count in both StateVectors is different$"):
        sv += StateVector()
    with pytest.raises(RuntimeError, match="^The mode count in both StateVectors is different$"):
        sv - FockState([1])
    with pytest.raises(ValueError, match="^Power must be at least 1$"):
        sv ** 0
    with pytest.raises(ValueError, match="^Power must be at least 1$"):
        sv ** 2**32
    for bad in (lambda: sv ** -1, lambda: sv ** 1.5, lambda: pow(sv, 2, 3), lambda: 1 + sv,
                lambda: sv + 1, lambda: sv - "x", lambda: sv * "x", lambda: "x" * sv):
        with pytest.raises(TypeError):
            bad()
    assert (sv == 1) is False and (sv != 1) is True


def test_in_place_operators_rebind(sv):
    a = sv
    sv += StateVector([0, 1])
    assert a is not sv and a != sv
    assert amplitudes(sv) == perfect(("|0,1>", 1.1), ("|1,0>", 0.2))
    assert amplitudes(a) == perfect(("|0,1>", 0.1), ("|1,0>", 0.2))  # a state vector never changes

    sv.normalize()
    b = sv
    sv *= 1
    assert sv.is_normalized and b is not sv
    sv *= 1.0
    sv *= 1 + 0j
    assert sv.is_normalized
    b = sv
    sv *= 2
    assert not sv.is_normalized and b == sv and b.is_normalized

    v = StateVector([1, 0])
    v -= FockState([0, 1])
    v *= 2j
    v *= FockState([1])
    assert amplitudes(v) == perfect(("|1,0,1>", 2j), ("|0,1,1>", -2j))
    w = v
    v *= StateVector([0])  # no in-place tensor product with a vector: __mul__ runs
    assert v.m == 4 and w.m == 3


@pytest.mark.parametrize("key, in_place, plain, other", [
    (FockState([1, 0]), operator.imul, operator.mul, FockState([2])),
    (NoisyFockState("|{1},0>"), operator.imul, operator.mul, FockState([2])),
    (NoisyFockState("|{1},0>"), operator.imul, operator.mul, NoisyFockState("|{2}>")),
    (AnnotatedFockState("|{a:1},0>"), operator.imul, operator.mul, FockState([2])),
    (AnnotatedFockState("|{a:1},0>"), operator.imul, operator.mul, NoisyFockState("|{2}>")),
    (AnnotatedFockState("|{a:1},0>"), operator.imul, operator.mul, AnnotatedFockState("|{b:1}>")),
    (StateVector([1, 0]), operator.iadd, operator.add, StateVector([0, 1])),
    (StateVector([1, 0]), operator.iadd, operator.add, NoisyFockState("|0,{1}>")),
    (StateVector([1, 0]), operator.isub, operator.sub, StateVector([0, 1])),
    (StateVector([1, 0]), operator.isub, operator.sub, FockState([0, 1])),
    (StateVector([1, 0]), operator.imul, operator.mul, FockState([2])),
    (StateVector([1, 0]), operator.imul, operator.mul, 3),
    (StateVector([1, 0]), operator.imul, operator.mul, 0.5),
    (StateVector([1, 0]), operator.imul, operator.mul, 2j),
])
def test_in_place_operators_leave_dict_keys_intact(key, in_place, plain, other):
    before = copy.deepcopy(key)
    table, members, h = {key: "kept"}, {key}, hash(key)
    result = in_place(key, other)
    expected = plain(before, other)
    assert result is not key and type(result) is type(expected)
    assert str(result) == str(expected) and result == expected
    assert key == before and str(key) == str(before) and hash(key) == h
    if isinstance(key, StateVector):
        assert amplitudes(key) == amplitudes(before) and amplitudes(result) == amplitudes(expected)
    assert table[before] == "kept" and before in members and list(table) == [before]


@pytest.mark.parametrize("state", [
    FockState([1, 0]), NoisyFockState("|{1},0>"), AnnotatedFockState("|{a:1},0>"),
])
def test_state_arithmetic_gives_state_vectors(state):
    key = (type(state).__name__, str(state))
    for product, amplitude in ((state * 2, 2), (2 * state, 2), (state * 2.0, 2), (2.0 * state, 2),
                               (state * 2j, 2j), (2j * state, 2j), (state * 2**40, 2.0**40)):
        assert type(product) is StateVector and amplitudes(product) == {key: amplitude}
    assert amplitudes(-state) == {key: -1}
    assert amplitudes(state - state) == {key: 0}
    for other in (FockState([0, 1]), NoisyFockState("|0,{0}>"), AnnotatedFockState("|0,{b:2}>")):
        other_key = (type(other).__name__, str(other))
        assert amplitudes(state + other) == {key: 1, other_key: 1}
        assert amplitudes(state - other) == {key: 1, other_key: -1}
    s = state
    s *= 3
    assert type(s) is StateVector and str(state) == key[1]
    with pytest.raises(TypeError):
        state + 1


def test_noisy_and_perfect_states_are_different_keys():
    v = NoisyFockState("|{0},0>") + FockState([1, 0])
    assert len(v) == 2 and v.n == {1}


def test_measure():
    v = StateVector("|0,1,1>") + StateVector("|1,1,0>")
    result = v.measure([0])
    assert v.is_normalized
    assert sorted(str(k) for k in result) == ["|0>", "|1>"]
    for outcome, (p, rest) in result.items():
        assert type(outcome) is FockState and type(p) is float and type(rest) is StateVector
        assert p == pytest.approx(0.5, abs=1e-15)
        assert not rest.is_normalized and rest.m == 2
        expected = "|1,1>" if outcome == FockState([0]) else "|1,0>"
        assert amplitudes(rest).keys() == {("FockState", expected)}
        assert amplitudes(rest)[("FockState", expected)] == pytest.approx(R2, abs=1e-15)

    noisy = StateVector(NoisyFockState("|{0},{1},0>")) + AnnotatedFockState("|{a:0},{b:1},0>")
    result = noisy.measure([2, 0, 2])
    assert list(result) == [FockState([1, 0])]
    p, rest = result[FockState([1, 0])]
    assert p == pytest.approx(1) and amplitudes(rest) == perfect(("|1>", pytest.approx(2 * R2)))


def test_measure_refuses_mixed_mode_counts():
    v = StateVector([1, 0])
    assert v[FockState([1, 0, 0])] == 0
    with pytest.raises(ValueError):
        v.measure([0])


def test_sampling(sv):
    ob.set_seed(5)
    drawn = [sv.sample() for _ in range(20)] + sv.samples(20)
    ob.set_seed(5)
    assert [sv.sample() for _ in range(20)] + sv.samples(20) == drawn
    assert {str(s) for s in drawn} == {"|0,1>", "|1,0>"}
    assert sv.samples(0) == []

    noisy = StateVector(NoisyFockState("|{2},0>"))
    sample = noisy.sample()
    noisy *= FockState([1])
    assert type(sample) is NoisyFockState and str(sample) == "|{2},0>"
    assert [str(s) for s in noisy.samples(3)] == ["|{2},0,{0}>"] * 3

    with pytest.raises(TypeError):
        sv.samples(-1)
    for empty in (StateVector(), StateVector([1, 0]) - StateVector([1, 0])):
        with pytest.raises(RuntimeError):
            empty.sample()
        with pytest.raises(RuntimeError):
            empty.samples(2)
        assert empty.samples(0) == []


@pytest.mark.parametrize("amplitude, text", [
    (1, "|1,0>"), (3, "|1,0>"), (-2, "-1*|1,0>"), (1j, "I*|1,0>"), (-1j, "-1I*|1,0>"),
    (1 + 1j, "(0.707+0.707I)*|1,0>"), (1e-13, "|>"),
])
def test_text(amplitude, text):
    v = amplitude * StateVector([1, 0])
    assert str(v) == repr(v) == text
    assert not v.is_normalized


def test_two_component_text():
    v = StateVector([1, 0]) - StateVector([0, 1])
    assert str(v) in ("0.707*|1,0>-0.707*|0,1>", "-0.707*|0,1>+0.707*|1,0>")


def test_hash_and_copies(sv):
    h = hash(sv)
    assert hash(sv) == h and h >= 0
    assert hash(3 * sv) == h == hash(copy.deepcopy(sv))
    sv.normalize()
    assert hash(sv) == h
    assert len({sv, 2 * sv, StateVector([1, 0])}) == 2

    c, d = copy.copy(sv), copy.deepcopy(sv, {})
    assert c is not sv and c.is_normalized and c == sv == d
    c *= FockState([1])
    d[FockState([2, 0])]
    assert sv.m == 2 and len(sv) == 2


def in_doc(method, text):
    """Method docstrings follow the signature line the binding layer writes."""
    return text in method.__doc__


def test_properties_and_docstrings():
    v = 0.1 * StateVector([0, 1]) + 0.2 * StateVector([2, 0]) + 0.5 * StateVector([1, 0])
    assert v.n == {1, 2} and v.m == 2
    cls = StateVector
    assert cls.__doc__.startswith("State vector is a superposition of Fock states")
    assert cls.n.__doc__ == (
        ":return: A set of all different photon count in the states composing the vector\n\n"
        ">>> import orbandile as ob\n"
        ">>> sv = 0.1*ob.StateVector([0,1]) + 0.2*ob.StateVector([2,0]) + 0.5*ob.StateVector([1,0])\n"
        ">>> print(sv.n)\n{1, 2}\n")
    assert cls.m.__doc__.startswith(":return: The number of modes in the state\n\n>>> import orbandile as ob\n")
    assert cls.is_normalized.__doc__ == (
        ":return: `True` if the state vector remained unchanged since the previous normalisation, "
        "`False` otherwise.")
    assert in_doc(cls.__iter__,
        "Iterates over (state, amplitude) composing the state vector after normalising the amplitudes.\n\n"
        ">>> import orbandile as ob\n"
        ">>> sv = 0.1*ob.StateVector([0,1]) + 0.2*ob.StateVector([1,0])\n"
        ">>> for state, amplitude in sv:\n>>>     print(state, amplitude)\n"
        "|0,1> (0.4472135954999579+0j)\n|1,0> (0.8944271909999159+0j)\n")
    assert in_doc(cls.unnormalized_iterator, "|0,1> (0.1+0j)\n|1,0> (0.2+0j)\n")
    assert in_doc(cls.keys, 
        "Iterates over the states composing the state vector without normalising the amplitudes")
    assert in_doc(cls.normalize, "Normalize the amplitudes")
    assert in_doc(cls.sample, 
        "Retrieve one sample following the normalised probability amplitudes\n\n:return: The sampled state\n")
    assert in_doc(cls.samples, 
        "Generate an ordered list of samples following the normalised probability amplitudes\n\n"
        ":param count: The number of expected samples\n:return: A list of samples of size `count`\n")
    assert "Measure the state on a set of modes, actually collapsing part of the wave function." in cls.measure.__doc__
    assert ("mesurement results, with their probability and the remaining state vector"
            in cls.measure.__doc__)


def test_zero_vector_warning_goes_to_the_user_channel(run_python):
    code = """
        import orbandile as ob
        ob.logging.initialize()
        ob.logging.enable_console()
        ob.logging.set_level(ob.logging.level.off)
        v = ob.StateVector()
        assert list(v) == [] and v.is_normalized
        (ob.StateVector([1, 0]) * 0).normalize()
        ob.logging.set_level(ob.logging.level.off, ob.logging.channel.user)
        (ob.StateVector([1]) * 0).normalize()
    """
    result = run_python(code, env={k: v for k, v in os.environ.items() if k != "SPDLOG_LEVEL"})
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["[warning] Unable to normalize an object with only null components"] * 2
