import collections
import copy
import math

import pytest

import orbandile as ob
from orbandile import BSCount, BSSamples, FockState, FSArray, FSDistribution, FSFunction

EMPTY = "Unable to normalize an empty distribution"
MODES = "Number of modes is not consistent"


def S(*counts):
    return FockState(list(counts))


def as_dict(container):
    return dict(container.items())


# FSDistribution construction

def test_constructors():
    assert as_dict(FSDistribution(S(1, 0))) == {S(1, 0): 1.0}
    d = FSDistribution({S(1, 0): 3, S(0, 1): 1, S(2, 0): -1})
    assert as_dict(d) == {S(1, 0): 0.75, S(0, 1): 0.25}
    assert as_dict(FSDistribution(bsd=d)) == as_dict(d)
    assert as_dict(FSDistribution(BSCount({S(1, 0): 3, S(0, 1): 1}))) == {S(1, 0): 0.75, S(0, 1): 0.25}
    assert as_dict(FSDistribution(FSArray(2, 1), [0.2, 0.2])) == {S(1, 0): 0.5, S(0, 1): 0.5}
    assert as_dict(FSDistribution(fsa=FSArray(2, 1), probs=(x for x in [0.0, 2.0]))) == {S(0, 1): 1.0}
    f = FSFunction({S(1, 0): 3.0, S(0, 1): -1.0})
    assert as_dict(FSDistribution(bsf=f)) == {S(1, 0): 1.0}
    assert len(f) == 2


@pytest.mark.parametrize("args, kwargs, error, message", [
    (({},), {}, RuntimeError, EMPTY),
    (({S(1, 0): 1.0, S(1, 0, 0): 1.0},), {}, ValueError, MODES),
    ((FSArray(2, 1), [0.0, 0.0]), {}, RuntimeError, "Unable to normalize an object with only null components"),
    ((FSArray(2, 1), [1.0]), {}, ValueError, "Number of states is not consistent with number of probabilities"),
    ((FSFunction({S(1, 0): -1.0}),), {}, RuntimeError, EMPTY),
    ((), {}, TypeError, None),
    ((), {"fsd": FSDistribution(S(1))}, TypeError, None),
    (({ob.NoisyFockState(S(1, 0)): 1.0},), {}, TypeError, None),
])
def test_constructor_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        FSDistribution(*args, **kwargs)
    if message is not None:
        assert str(info.value) == message


# FSDistribution reading

def test_item_access_checks_the_mode_count():
    d = FSDistribution({S(1, 0): 1.0, S(0, 1): 3.0})
    assert d[S(0, 1)] == 0.75 and d[S(2, 0)] == 0.0
    assert S(1, 0) in d and S(2, 0) not in d
    for read in (lambda: d[S(1)], lambda: S(1) in d):
        with pytest.raises(ValueError, match=MODES):
            read()
    assert (len(d), d.m) == (2, 2)
    assert list(d) == list(d.keys()) == [k for k, _ in d.items()]
    assert list(d.values()) == [v for _, v in d.items()]


def test_text_form_and_copies():
    d = FSDistribution(S(1, 0, 2))
    assert str(d) == repr(d) == "{\n\t|1,0,2>: 1\n}"
    assert copy.copy(d) == d and copy.deepcopy(d) == d and copy.copy(d) is not d
    with pytest.raises(TypeError):
        hash(d)


def test_move_to_function_empties_the_distribution():
    d = FSDistribution({S(1, 0): 1.0, S(0, 1): 1.0})
    f = d.to_function()
    assert isinstance(f, FSFunction) and f == d and len(d) == 2
    moved = d.move_to_function()
    assert moved == f
    assert (len(d), d.m, d[S(5, 5, 5)], str(d)) == (0, None, 0.0, "{\n}")
    with pytest.raises(RuntimeError, match="Unable to sample from empty distribution"):
        d.sample(0)
    with pytest.raises(RuntimeError, match="bad optional access"):
        d.group_modes_simplification(2)


def test_iterators_survive_changes_of_the_distribution():
    d = FSDistribution({S(1, 0): 0.5, S(0, 1): 0.3, S(1, 1): 0.2})
    items = d.items()
    first = next(items)
    d.trim(0.25)
    rest = list(items)
    assert len(rest) == 2 and first not in rest
    keys = iter(d)
    d.move_to_function()
    assert len(list(keys)) <= 2


# Sampling

def test_sample_leaves_out_the_vacuum_by_default():
    d = FSDistribution({S(0, 0): 0.5, S(1, 0): 0.5})
    samples = d.sample(3)
    assert isinstance(samples, BSSamples) and list(samples) == [S(1, 0)] * 3
    assert len(d.sample(0)) == 0
    ob.set_seed(11)
    assert S(0, 0) in set(d.sample(100, non_null=False))
    with pytest.raises(RuntimeError, match="Unable to sample from empty distribution"):
        FSDistribution(S(0, 0)).sample(3)
    with pytest.raises(TypeError):
        d.sample(-1)


def test_sample_frequencies_and_reproducibility():
    probabilities = {S(0, 0): 0.1, S(1, 0): 0.2, S(0, 1): 0.3, S(1, 1): 0.4}
    d = FSDistribution(probabilities)
    count = 100000
    ob.set_seed(2024)
    samples = d.sample(count, non_null=True)
    seen = collections.Counter(samples)
    assert seen[S(0, 0)] == 0
    for state, p in probabilities.items():
        if state == S(0, 0):
            continue
        expected = p / 0.9
        sigma = math.sqrt(expected * (1 - expected) / count)
        assert abs(seen[state] / count - expected) < 5 * sigma
    ob.set_seed(2024)
    assert list(d.sample(1000)) == list(samples)[:1000]


# FSDistribution operations

def test_products_and_powers():
    a = FSDistribution({S(1, 0): 0.5, S(0, 1): 0.5})
    b = FSDistribution({S(1): 0.25, S(0): 0.75})
    product = a * b
    assert product == FSDistribution.tensor_product(a, b)
    assert as_dict(product) == {S(1, 0, 1): 0.125, S(1, 0, 0): 0.375, S(0, 1, 1): 0.125, S(0, 1, 0): 0.375}
    assert as_dict(FSDistribution.tensor_product(bsd1=a, bsd2=a, merge_modes=True)) == \
        {S(2, 0): 0.25, S(1, 1): 0.5, S(0, 2): 0.25}
    with pytest.raises(RuntimeError, match=EMPTY):
        FSDistribution.tensor_product(a, a, prob_threshold=0.3)
    assert as_dict(a * S(1)) == {S(1, 0, 1): 0.5, S(0, 1, 1): 0.5}
    assert as_dict(S(1) * a) == {S(1, 1, 0): 0.5, S(1, 0, 1): 0.5}
    assert FSDistribution.list_tensor_product([a, b]) == product
    assert as_dict(FSDistribution.list_tensor_product([a, a, a], merge_modes=True)) == \
        pytest.approx({S(3, 0): 0.125, S(2, 1): 0.375, S(1, 2): 0.375, S(0, 3): 0.125})
    assert as_dict(FSDistribution.list_tensor_product([])) == {FockState(): 1.0}
    assert as_dict(a ** 0) == {FockState(): 1.0}
    assert a ** 1 == a and a ** 2 == a * a
    with pytest.raises(TypeError):
        a ** -1
    with pytest.raises(TypeError):
        a * 2.0
    assert (a == 3, a != 3, a == "a") == (False, True, False)


def test_comparison_with_functions_agrees_in_both_orders():
    d = FSDistribution({S(1, 0): 0.5, S(0, 1): 0.5})
    f = FSFunction({S(1, 0): 0.5, S(0, 1): 0.5, S(1, 1): 0.0})
    assert d == f and f == d and not d != f and not f != d
    f[S(1, 1)] = 0.25
    assert d != f and f != d


def test_simplifications_and_trims():
    d = FSDistribution({S(2, 0, 1): 0.25, S(1, 0, 1): 0.25, S(0, 3, 0): 0.5})
    assert as_dict(d.photon_threshold_simplification(photon_threshold=1)) == {S(1, 0, 1): 0.5, S(0, 1, 0): 0.5}
    assert as_dict(d.group_modes_simplification(2)) == {S(2, 1): 0.25, S(1, 1): 0.25, S(3, 0): 0.5}
    with pytest.raises(ValueError, match="group_size must be positive"):
        d.group_modes_simplification(group_size=0)

    t = FSDistribution({S(1, 0): 0.5, S(0, 1): 0.3, S(1, 1): 0.2})
    with pytest.raises(RuntimeError, match=EMPTY):
        t.trim(0.5)
    assert len(t) == 3
    with pytest.raises(RuntimeError, match=EMPTY):
        t.trim_relative(1.0)
    assert len(t) == 3
    assert t.trim_relative(relative_threshold=0.5) is None
    assert as_dict(t) == {S(1, 0): pytest.approx(0.625), S(0, 1): pytest.approx(0.375)}
    assert t.trim(threshold=0.5) is None
    assert as_dict(t) == {S(1, 0): 1.0}


def test_distribution_docstrings():
    assert FSDistribution.__doc__.startswith("Fock state distribution holding measured states")
    assert FSDistribution.__doc__.endswith("the probability vector working with parameter `fsa`\n")
    assert FSDistribution.m.__doc__ == ":return: The number of modes of all states in the distribution"
    assert FSDistribution.trim.__doc__.endswith(FSFunction.trim.__doc__.split("\n", 2)[2])
    doc = FSDistribution.tensor_product.__doc__
    assert "same size).\n" + " " * 20 + "Apply a standard" in doc
    assert FSFunction.move_to_distribution.__doc__


# FSFunction

def test_function_constructors():
    f = FSFunction()
    assert (len(f), f.m, str(f)) == (0, None, "{\n}")
    g = FSFunction({S(1, 0): 0.0, S(0, 1): -2.0})
    assert as_dict(g) == {S(1, 0): 0.0, S(0, 1): -2.0}
    assert as_dict(FSFunction(bsf=g)) == as_dict(g)
    with pytest.raises(ValueError, match=MODES):
        FSFunction({S(1, 0): 1.0, S(1, 0, 0): 1.0})
    h = FSFunction(FSArray(3, 1), [0.0, -1.0, 2.0])
    assert as_dict(h) == {S(1, 0, 0): 0.0, S(0, 1, 0): -1.0, S(0, 0, 1): 2.0}
    assert len(FSFunction(fsa=FSArray(2, 1), values=[math.nan, 1.0])) == 1
    with pytest.raises(ValueError, match="Number of states is not consistent with number of probabilities"):
        FSFunction(FSArray(3, 1), [1.0])
    d = FSDistribution(S(1))
    assert as_dict(FSFunction(bsd=d)) == {S(1): 1.0} and len(d) == 1


def test_function_items():
    f = FSFunction()
    f[S(1, 0)] = 0.0
    assert S(1, 0) not in f
    f[S(1, 0)] = 0.5
    f[S(0, 1)] = -0.25
    f[S(0, 1)] = -0.0  # a zero removes the entry
    assert f[S(1, 0)] == 0.5 and f[S(0, 1)] == 0.0 and S(0, 1) not in f and len(f) == 1
    f[S(0, 1)] = 0.0
    assert S(0, 1) not in f and len(f) == 1
    for access in (lambda: f[S(1)], lambda: S(1) in f, lambda: f.__setitem__(S(1), 1.0),
                   lambda: f.__delitem__(S(1))):
        with pytest.raises(ValueError, match=MODES):
            access()
    assert f.__delitem__(S(1, 0)) == 1 and f.__delitem__(S(1, 0)) == 0
    del f[S(1, 0)]
    assert len(f) == 0


def test_function_equality_ignores_zero_entries():
    f = FSFunction({S(1, 0): 0.5, S(0, 1): 0.0})
    g = FSFunction({S(1, 0): 0.5})
    assert f == g and len(f) != len(g)
    assert (f == 3, f != 3) == (False, True)
    with pytest.raises(TypeError):
        hash(f)


def test_function_arithmetic():
    f = FSFunction({S(1, 0): 1.0, S(0, 1): -2.0})
    alias = f
    doubled = f * 2
    assert as_dict(doubled) == {S(1, 0): 2.0, S(0, 1): -4.0} and f[S(1, 0)] == 1.0
    assert 2 * f == doubled and f * True == f
    assert as_dict(-f) == {S(1, 0): -1.0, S(0, 1): 2.0}
    assert as_dict(f / 4) == {S(1, 0): 0.25, S(0, 1): -0.5}
    assert as_dict(f / 0.0)[S(1, 0)] == math.inf
    f *= 2
    assert f is alias and f == doubled
    f /= 2
    assert f is alias and f[S(1, 0)] == 1.0
    g = FSFunction({S(0, 1): 2.0, S(2, 0): 1.0})
    assert as_dict(f + g) == {S(1, 0): 1.0, S(0, 1): 0.0, S(2, 0): 1.0}
    assert as_dict(f - g) == {S(1, 0): 1.0, S(0, 1): -4.0, S(2, 0): -1.0}
    f += g
    assert f is alias and len(f) == 3
    f -= g
    assert f is alias and f == FSFunction({S(1, 0): 1.0, S(0, 1): -2.0})
    with pytest.raises(TypeError):
        f + 1.0
    f += FSFunction({S(1): 1.0})
    with pytest.raises(ValueError, match=MODES):
        f.to_distribution()


def test_function_products_with_states_and_distributions():
    f = FSFunction({S(1, 0): 0.5, S(0, 1): -1.0})
    d = FSDistribution(S(1))
    assert as_dict(f * S(1)) == {S(1, 0, 1): 0.5, S(0, 1, 1): -1.0}
    assert as_dict(S(1) * f) == {S(1, 1, 0): 0.5, S(1, 0, 1): -1.0}
    for product in (f * d, d * f):
        assert isinstance(product, FSFunction)
    assert as_dict(f * d) == as_dict(f * S(1)) and as_dict(d * f) == as_dict(S(1) * f)
    assert f * f == FSFunction.tensor_product(f, f)
    assert as_dict(FSFunction.tensor_product(f, f, merge_modes=True)) == {S(2, 0): 0.25, S(1, 1): -1.0, S(0, 2): 1.0}
    assert as_dict(FSFunction.tensor_product(f, f, prob_threshold=0.5)) == {S(1, 0, 0, 1): -0.5, S(0, 1, 1, 0): -0.5, S(0, 1, 0, 1): 1.0}
    assert len(FSFunction.list_tensor_product([])) == 0 and len(f ** 0) == 0
    assert f ** 1 == f
    # List products prune by magnitude, as the pairwise products do.
    assert FSFunction.list_tensor_product([f, f], merge_modes=True) == FSFunction.tensor_product(f, f, True)
    p = FSFunction({S(1, 0): 0.5, S(0, 1): 2.0})
    assert FSFunction.list_tensor_product([p, p], True) == FSFunction.tensor_product(p, p, True)


def test_function_conversions_to_distributions():
    f = FSFunction({S(1, 0): 3.0, S(0, 1): -1.0})
    assert as_dict(f.to_distribution()) == {S(1, 0): 1.0} and len(f) == 2
    assert as_dict(f.move_to_distribution()) == {S(1, 0): 1.0} and len(f) == 0
    g = FSFunction({S(1, 0): -1.0})
    with pytest.raises(RuntimeError, match=EMPTY):
        g.to_distribution()
    assert len(g) == 1
    with pytest.raises(RuntimeError, match=EMPTY):
        g.move_to_distribution()
    assert as_dict(g) == {S(1, 0): -1.0}
    h = FSFunction({S(1, 0): 1.0, S(0, 1): math.inf})
    with pytest.raises(ValueError, match="finite"):
        h.move_to_distribution()
    assert len(h) == 2
    mixed = FSFunction({S(1, 0): 1.0})
    mixed += FSFunction({S(1): 1.0})
    with pytest.raises(ValueError, match=MODES):
        mixed.move_to_distribution()
    assert len(mixed) == 2


def test_function_trim_and_iterators_after_changes():
    f = FSFunction({S(2, 0): -0.5, S(1, 1): -0.6, S(0, 2): 0.1})
    f.trim(threshold=0.5)
    assert as_dict(f) == {S(1, 1): -0.6}
    g = FSFunction({S(1, 0): 1.0, S(0, 1): 2.0, S(1, 1): 3.0})
    keys = iter(g)
    next(keys)
    for s in list(g):
        del g[s]
    g[S(2, 0)] = 5.0
    assert len(list(keys)) == 2


# Values a distribution refuses, and sums that overflow

@pytest.mark.parametrize("bad", [math.inf, -math.inf, math.nan])
@pytest.mark.parametrize("build", [
    lambda bad: FSDistribution({S(1, 0): bad, S(0, 1): 1.0}),
    lambda bad: FSDistribution(FSArray(2, 1), [bad, 1.0]),
    lambda bad: FSDistribution(FSFunction({S(1, 0): bad, S(0, 1): 1.0})),
    lambda bad: FSFunction({S(1, 0): bad, S(0, 1): 1.0}).to_distribution(),
])
def test_distributions_refuse_values_that_are_not_finite(build, bad):
    with pytest.raises(ValueError, match=r"Probabilities must be finite, got -?(inf|nan) for \|1,0>"):
        build(bad)


def test_distributions_normalise_values_whose_sum_overflows():
    expected = {S(1, 0): 0.5, S(0, 1): 0.5}
    assert as_dict(FSDistribution({S(1, 0): 1e308, S(0, 1): 1e308})) == expected
    assert as_dict(FSDistribution(FSArray(2, 1), [1e308, 1e308])) == expected
    assert as_dict(FSFunction({S(1, 0): 1.5e308, S(0, 1): 0.5e308}).to_distribution()) == \
        {S(1, 0): 0.75, S(0, 1): 0.25}


# Products of many factors and signed values

def test_products_of_many_factors(run_python):
    result = run_python("""
        from orbandile import FockState, FSDistribution, FSFunction
        d = FSDistribution(FockState([]))
        assert dict((d ** 100000).items()) == {FockState([]): 1.0}
        assert dict(FSDistribution.list_tensor_product([d] * 100000).items()) == {FockState([]): 1.0}
        f = FSFunction({FockState([]): 1.0})
        assert dict((f ** 100000).items()) == {FockState([]): 1.0}
        assert dict(FSFunction.list_tensor_product([f] * 100000, True).items()) == {FockState([]): 1.0}
    """)
    assert result.returncode == 0, result.stderr


@pytest.mark.parametrize("factors, threshold", [
    ([{S(1): -1.0, S(0): 1.0}, {S(1): -1.0}], 0.0),
    ([{S(1): -2.0, S(0): 0.5}, {S(1): 0.25, S(0): -4.0}, {S(1): -1.0}], 1.0),
    ([{S(1): -1.0, S(0): 2.0}, {S(1): 0.0}], 0.0),
    ([{S(1): -1.0, S(0): 2.0}, {S(1): 0.0}], 0.5),
])
def test_function_list_products_keep_what_the_pairwise_products_keep(factors, threshold):
    functions = [FSFunction(f) for f in factors]
    expected = functions[0]
    for f in functions[1:]:
        expected = FSFunction.tensor_product(expected, f)
    kept = {s: v for s, v in expected.items() if abs(v) >= threshold}
    assert as_dict(FSFunction.list_tensor_product(functions, prob_threshold=threshold)) == kept
    if len(functions) == 2:
        assert as_dict(FSFunction.tensor_product(*functions, prob_threshold=threshold)) == kept


def test_function_powers_keep_negative_terms():
    f = FSFunction({S(1, 0): 0.5, S(0, 1): -2.0})
    assert f ** 3 == f * f * f and len(f ** 3) == 8

