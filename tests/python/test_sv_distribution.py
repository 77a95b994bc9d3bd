import copy
import math

import pytest

import orbandile as ob
from orbandile import AnnotatedFockState, FockState, FSDistribution, NoisyFockState, StateVector, SVDistribution

MODES = "Number of modes is not consistent"
EMPTY = "Unable to sample from empty distribution"
NULL = "Unable to normalize an object with only null components"


def S(*counts):
    return FockState(list(counts))


def V(*counts):
    return StateVector(S(*counts))


def as_dict(d):
    return dict(d.items())


SUPERPOSITION = V(1, 0) + V(0, 3)


def test_empty_distribution():
    d = SVDistribution()
    assert (len(d), d.m, d.n_max, str(d), repr(d)) == (0, None, 0, "{\n}", "{\n}")
    assert SVDistribution.__doc__.startswith("State vector distribution holding pure states")


@pytest.mark.parametrize("arg, entries, m, n_max", [
    (S(1, 0, 1), {V(1, 0, 1): 1.0}, 3, 2),
    (NoisyFockState("|{0},0>"), {StateVector(NoisyFockState("|{0},0>")): 1.0}, 2, 1),
    (AnnotatedFockState("|{a:1},{b:2}>"), {StateVector(AnnotatedFockState("|{a:1},{b:2}>")): 1.0}, 2, 2),
    (SUPERPOSITION, {SUPERPOSITION: 1.0}, 2, 3),
    ({S(1, 0): 0.5, NoisyFockState("|0,{0}{0}>"): -0.5, S(0, 0): 0.0},
     {V(1, 0): 0.5, StateVector(NoisyFockState("|0,{0}{0}>")): -0.5, V(0, 0): 0.0}, 2, 2),
    ({SUPERPOSITION: 0.2, V(1, 1): 0.8}, {SUPERPOSITION: 0.2, V(1, 1): 0.8}, 2, 3),
    ({}, {}, None, 0),
    (FSDistribution({S(2, 0): 1.0, S(0, 1): 3.0}), {V(2, 0): 0.25, V(0, 1): 0.75}, 2, 2),
])
def test_constructors(arg, entries, m, n_max):
    d = SVDistribution(arg)
    assert (as_dict(d), d.m, d.n_max) == (entries, m, n_max)
    copied = SVDistribution(d)
    assert (as_dict(copied), copied.n_max) == (entries, n_max)


def test_basic_state_and_its_vector_address_the_same_entry():
    d = SVDistribution(S(1, 0, 1))
    assert d[S(1, 0, 1)] == d[V(1, 0, 1)] == 1.0
    assert S(1, 0, 1) in d and V(1, 0, 1) in d and S(1, 1, 0) not in d
    assert d[S(0, 1, 0)] == 0.0 and d[V(0, 1, 0)] == 0.0 and len(d) == 1
    assert d.get(V(0, 1, 0)) is None and d.get(V(0, 1, 0), 0.3) == 0.3 and d.get(V(1, 0, 1)) == 1.0
    with pytest.raises(TypeError):
        d.get(S(1, 0, 1))
    with pytest.raises(TypeError):
        3 in d


@pytest.mark.parametrize("edit", [
    lambda d: SVDistribution({S(1, 0): 0.5, S(1, 0, 0): 0.5}),
    lambda d: SVDistribution({V(1, 0): 0.5, V(1, 0, 0): 0.5}),
    lambda d: d.__setitem__(S(1), 0.2),
    lambda d: d.__setitem__(V(1, 0, 0), 0.2),
    lambda d: d.add(S(1), 0.0),
    lambda d: d.add(V(5), 0.5),
])
def test_mode_check(edit):
    d = SVDistribution(V(0, 1))
    with pytest.raises(ValueError, match=MODES):
        edit(d)
    assert (as_dict(d), d.n_max) == ({V(0, 1): 1.0}, 1)


def test_add_and_set():
    d = SVDistribution()
    d.add(V(1, 0), 0.2)
    d.add(S(1, 0), 0.2)
    assert d[V(1, 0)] == pytest.approx(0.4)
    d.add(SUPERPOSITION, 1e-16)
    d.add(SUPERPOSITION, -0.5)
    assert (len(d), d.n_max) == (1, 3)
    d[S(0, 0)] = 0.0
    assert len(d) == 2 and "|0,0>: 0" in str(d)
    assert d == copy.copy(d) == copy.deepcopy(d) == SVDistribution(d)
    assert d != SVDistribution({V(1, 0): d[V(1, 0)]})
    d[S(1, 0)] = -2.0
    assert d[V(1, 0)] == -2.0


def test_delete():
    d = SVDistribution({SUPERPOSITION: 0.5, V(1, 1): 0.5})
    with pytest.raises(KeyError, match=r"\|2,0>"):
        del d[S(2, 0)]
    with pytest.raises(KeyError) as error:
        del d[V(2, 0)]
    assert error.value.args[0] == str(V(2, 0))
    del d[S(1, 1)]
    del d[SUPERPOSITION]
    assert (len(d), d.m, d.n_max) == (0, None, 3)


def test_equality_and_hash():
    a = SVDistribution({V(1, 0): 0.5, V(0, 1): 0.5})
    assert a == SVDistribution({V(0, 1): 0.5, V(1, 0): 0.5})
    assert a != SVDistribution({V(1, 0): 0.5, V(0, 2): 0.5})
    assert a != SVDistribution({V(1, 0): 0.5})
    # A NaN, which would never match, cannot enter a distribution.
    with pytest.raises(ValueError):
        SVDistribution({V(1, 0): math.nan})
    assert not (a == 3) and a != 3
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(TypeError):
        a * 2.0


def test_normalize():
    d = SVDistribution({V(1, 0): 1.0, V(0, 1): -1.0})
    assert d.normalize() is None
    assert as_dict(d) == {V(1, 0): 0.5, V(0, 1): -0.5}


def test_normalize_null_warns(run_python):
    result = run_python("""
        import orbandile as ob
        ob.logging.initialize()
        ob.logging.enable_console()
        d = ob.SVDistribution({ob.StateVector(ob.FockState([1])): 0.0})
        assert d.normalize() is None
        assert dict(d.items()) == {ob.StateVector(ob.FockState([1])): 0.0}
        ob.SVDistribution().normalize()
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"[warning] {NULL}"] * 2


def product_keys(d, state, state_first):
    sv = state if isinstance(state, StateVector) else StateVector(state)
    return {(sv * k if state_first else k * sv): p for k, p in d.items()}


@pytest.mark.parametrize("state, photons", [
    (S(1, 0), 1), (NoisyFockState("|{0},{1}>"), 2), (AnnotatedFockState("|{a:1},0>"), 1), (SUPERPOSITION, 3)])
def test_products_with_states(state, photons):
    d = SVDistribution({V(1): 0.25, V(0): 0.75})
    for result, state_first in ((d * state, False), (state * d, True)):
        assert as_dict(result) == product_keys(d, state, state_first)
        assert result.n_max == 1 + photons
    same = d
    d *= state
    assert d is same and as_dict(same) == product_keys(SVDistribution({V(1): 0.25, V(0): 0.75}), state, False)


def test_products_of_distributions():
    a = SVDistribution({V(1): 0.5, V(0): 0.5})
    b = SVDistribution({V(2, 0): 0.5, SUPERPOSITION: 0.5})
    expected = {k1 * k2: p1 * p2 for k1, p1 in a.items() for k2, p2 in b.items()}
    assert as_dict(a * b) == expected and (a * b).n_max == 4
    assert as_dict(SVDistribution.tensor_product(a, b)) == expected
    assert as_dict(SVDistribution.tensor_product(svd1=a, svd2=b, prob_threshold=0.3)) == {}
    assert SVDistribution.tensor_product(a, b, 0.3).n_max == 4
    assert as_dict(SVDistribution.tensor_product([a, b, a], prob_threshold=0.1)) == {
        k * x: p * q for k, p in expected.items() for x, q in a.items()}
    assert as_dict(SVDistribution.tensor_product(distributions=[a])) == as_dict(a)
    assert len(SVDistribution() * b) == 0 and (SVDistribution() * b).n_max == 0
    other = a
    a *= b
    assert a is other and as_dict(other) == expected and other.n_max == 4


def test_power():
    d = SVDistribution({V(1): 0.5, V(0): 0.5})
    assert len(d ** 0) == 0 and (d ** 0).n_max == 0
    assert d ** 1 == d and d ** 3 == d * d * d and (d ** 3).n_max == 3
    for bad in (-1, 2.0):
        with pytest.raises(TypeError):
            d ** bad


def test_sample_leaves_out_the_empty_state():
    empty = V(0, 0)
    d = SVDistribution({empty: 0.5, V(1, 1): 0.5})
    samples = d.sample(5)
    assert samples == [V(1, 1)] * 5 and all(isinstance(s, StateVector) for s in samples)
    assert as_dict(d) == {empty: 0.5, V(1, 1): 0.5}
    ob.set_seed(3)
    assert set(d.sample(200, non_null=False)) == {empty, V(1, 1)}
    # Empty noisy states and superpositions containing the empty state are drawn like any other.
    noisy = SVDistribution({StateVector(NoisyFockState("|0,0>")): 1.0})
    assert noisy.sample(2) == [StateVector(NoisyFockState("|0,0>"))] * 2


def test_sample_leaves_every_entry_in_place():
    d = SVDistribution({V(0, 0): 0.4})
    for i in range(1, 8):
        d[V(i, 1)] = 0.1
    before = list(d.items())
    d.sample(10)
    assert list(d.items()) == before


@pytest.mark.parametrize("d, non_null", [
    (SVDistribution(), True), (SVDistribution(), False), (SVDistribution({V(0, 0): 1.0}), True)])
def test_sample_errors_restore_the_distribution(d, non_null):
    before = as_dict(d)
    with pytest.raises(RuntimeError, match=EMPTY):
        d.sample(3, non_null)
    assert as_dict(d) == before
    with pytest.raises(TypeError):
        d.sample(-1)


def test_sample_frequencies():
    d = SVDistribution({V(1, 0): 1.0, V(0, 1): 3.0, SUPERPOSITION: 4.0})
    ob.set_seed(12345)
    samples = d.sample(20000)
    for key, p in ((V(1, 0), 1 / 8), (V(0, 1), 3 / 8), (SUPERPOSITION, 1 / 2)):
        sigma = math.sqrt(20000 * p * (1 - p))
        assert abs(samples.count(key) - 20000 * p) < 5 * sigma
    ob.set_seed(12345)
    assert d.sample(20000) == samples


def test_iterators_survive_edits():
    d = SVDistribution({V(1, 0): 0.25, V(0, 1): 0.75})
    assert sorted(d.values()) == [0.25, 0.75]
    assert set(d.keys()) == set(iter(d)) == {V(1, 0), V(0, 1)}
    items = d.items()
    keys = iter(d)
    for i in range(50):
        d[V(i, 2)] = 0.1
    del d[V(1, 0)]
    assert len(list(items)) == 2 and len(list(keys)) == 2
    for key in list(d.keys()):
        del d[key]
    assert len(d) == 0


@pytest.mark.parametrize("bad", [math.inf, -math.inf, math.nan])
@pytest.mark.parametrize("edit", [
    lambda d, bad: SVDistribution({V(0, 1): bad}),
    lambda d, bad: SVDistribution({S(0, 1): bad}),
    lambda d, bad: d.__setitem__(V(0, 1), bad),
    lambda d, bad: d.__setitem__(S(0, 1), bad),
    lambda d, bad: d.add(V(0, 1), bad),
    lambda d, bad: d.add(S(0, 1), bad),
])
def test_probabilities_must_be_finite(edit, bad):
    d = SVDistribution({V(1, 0): 0.5})
    with pytest.raises(ValueError, match=r"Probabilities must be finite, got -?(inf|nan) for \|0,1>"):
        edit(d, bad)
    assert (as_dict(d), d.n_max) == ({V(1, 0): 0.5}, 1)


def test_overflowing_sums_and_products_are_refused():
    d = SVDistribution({V(1): 1e200, V(0): 1.0})
    for product in (lambda: d * d, lambda: d ** 2, lambda: SVDistribution.tensor_product([d, d]),
                    lambda: SVDistribution.tensor_product(d, d)):
        with pytest.raises(ValueError, match="Probabilities must be finite, got inf"):
            product()
    with pytest.raises(ValueError, match="finite"):
        d *= d
    d[V(1)] = 1.5e308
    with pytest.raises(ValueError, match="finite"):
        d.add(V(1), 0.5e308)
    assert as_dict(d) == {V(1): 1.5e308, V(0): 1.0}
    d[V(0)] = -0.5e308
    d.normalize()
    assert as_dict(d) == {V(1): 0.75, V(0): -0.25}


@pytest.mark.parametrize("entries, non_null", [
    ({V(1, 0): 0.5, V(0, 1): -0.5}, True),
    ({V(1, 0): 0.5, V(0, 1): -0.5}, False),
    ({V(1, 0): 0.0}, True),
    ({V(0, 0): 0.5, V(1, 0): 0.0}, True),
    ({V(0, 0): 0.5, V(1, 0): 0.5, V(0, 1): -1.0}, True),
])
def test_sample_refuses_weights_that_define_no_draw(entries, non_null):
    d = SVDistribution(entries)
    before = list(d.items())
    for count in (0, 3):
        with pytest.raises(RuntimeError, match="Unable to sample from weights"):
            d.sample(count, non_null)
    assert list(d.items()) == before


def test_products_of_many_factors(run_python):
    result = run_python("""
        from orbandile import FockState, StateVector, SVDistribution
        d = SVDistribution(FockState([]))
        expected = {StateVector(FockState([])): 1.0}
        assert dict((d ** 100000).items()) == expected
        assert dict(SVDistribution.tensor_product([d] * 100000).items()) == expected
    """)
    assert result.returncode == 0, result.stderr
