import copy
import gc
import math
import re

import numpy as np
import pytest

import orbandile as ob
from orbandile import BSSamples, FockState, NoisyFockState, SimpleSourceIterator, Source, SourceSampler, StateVector


def S(*counts):
    return FockState(list(counts))


def test_default_source_is_perfect():
    s = Source()
    assert s.is_perfect and not s.partially_distinguishable
    assert (s.emission_probability, s.multiphoton_component, s.indistinguishability, s.losses,
            s.is_g2_distinguishable) == (1.0, 0.0, 1.0, 0.0, True)
    assert Source.__doc__.startswith("Definition of a source\n")


def test_imperfect_source():
    s = Source(0.9, 0.03, 0.8)
    assert not s.is_perfect and s.partially_distinguishable
    assert not Source(0.9, 0.03, 1, g2_distinguishable=False).partially_distinguishable


@pytest.mark.parametrize("kwargs, message", [
    ({"emission_probability": 0}, "emission_probability must be in (0;1]"),
    ({"emission_probability": math.nan}, "emission_probability must be in (0;1]"),
    ({"multiphoton_component": 1.5}, "multiphoton_component must be in [0,1]"),
    ({"emission_probability": 1, "multiphoton_component": 0.6},
     "emission_probability * g2 higher than 0.5 can not be computed"),
    ({"indistinguishability": math.nan}, "indistinguishability must be in [0,1]"),
    ({"losses": 1}, "losses must be in [0,1)"),
    ({"losses": -math.inf, "indistinguishability": 2}, "indistinguishability must be in [0,1]"),
])
def test_refused_parameters(kwargs, message):
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        Source(**kwargs)


def test_equality_copies_and_hash():
    s = Source(0.9, 0.03, 0.8, 0.1, False)
    assert Source(1, 0) == Source(1.0, 0.0)
    assert not (Source() == 1) and Source() != 1
    assert s != Source(0.9, 0.03, 0.8, 0.1, True)
    assert copy.deepcopy(s) == s and copy.copy(s) == s and copy.copy(s) is not s
    with pytest.raises(TypeError):
        hash(Source())
    with pytest.raises(TypeError):
        s.__deepcopy__([])


class Truthy:
    def __bool__(self):
        return True


@pytest.mark.parametrize("flag, expected", [(None, False), (np.bool_(True), True), (np.bool_(False), False),
                                            (0, False), (Truthy(), True)])
def test_g2_distinguishable_takes_truth_values(flag, expected):
    assert Source(0.9, 0.1, 0.9, 0, flag).is_g2_distinguishable is expected


def test_partially_distinguishable_two_photons():
    x = 1 - math.sqrt(0.5)
    d = Source(1, 0, 0.5, 0, False).generate_distribution(S(1, 1))
    assert isinstance(d, ob.SVDistribution) and len(d) == 4
    expected = {"|{0},{0}>": 0.5, "|{1},{0}>": x * (1 - x), "|{0},{2}>": x * (1 - x), "|{1},{2}>": x * x}
    for text, p in expected.items():
        assert d[StateVector(NoisyFockState(text))] == pytest.approx(p, abs=1e-15)


def test_generate_distribution_threshold_and_tags():
    s = Source(0.9, 0.05, 0.8, 0.1)
    assert sum(s.generate_distribution(S(1, 2), 1e-3).values()) == pytest.approx(1.0)
    assert len(s.generate_distribution(S(1, 2), 1e-3)) < len(s.generate_distribution(S(1, 2)))
    with pytest.raises(RuntimeError, match="More than 255 distinguishable photons"):
        Source(1, 0, 0.5).generate_distribution(FockState([1] * 256), 0.5)


def test_sampler_of_a_perfect_source():
    sampler = Source().create_sampler(S(1, 0, 1), 1)
    assert isinstance(sampler, SourceSampler)
    assert sampler.generate_samples(3) == [NoisyFockState(S(1, 0, 1))] * 3
    separated = sampler.generate_separated_samples(2)
    assert [type(x) for x in separated] == [BSSamples] * 2 and list(separated[0]) == [S(1, 0, 1)]
    assert (sampler.zpp, sampler.physical_perf, sampler.expected_input) == (0.0, 1.0, S(1, 0, 1))
    assert sampler.min_photons_filter == 1.0 and isinstance(sampler.min_photons_filter, float)


def test_sampler_of_an_imperfect_source():
    ob.set_seed(7)
    source = Source(0.9, 0.03, 0.8)
    sampler = source.create_sampler(S(1, 0, 1), 1)
    assert sampler.zpp == pytest.approx(source.generate_distribution(S(1, 0, 1))[StateVector(S(0, 0, 0))])
    assert sampler.physical_perf == pytest.approx(1 - sampler.zpp)
    for state in sampler.generate_samples(50):
        assert isinstance(state, NoisyFockState) and 1 <= state.n <= 4 and state.m == 3
    for groups in sampler.generate_separated_samples(50):
        assert sum(g.n for g in groups) >= 1
    clone = copy.deepcopy(sampler)
    ob.set_seed(3)
    first = sampler.generate_samples(20)
    ob.set_seed(3)
    assert clone.generate_samples(20) == first


def test_sampler_without_any_event():
    sampler = Source(0.9, 0.03, 0.8).create_sampler(S(1, 0), 3)
    assert sampler.generate_samples(0) == [] and sampler.generate_separated_samples(0) == []
    with pytest.raises(IndexError):
        sampler.generate_samples(1)
    with pytest.raises(IndexError):
        sampler.generate_separated_samples(1)
    with pytest.raises(ValueError):
        sampler.generate_samples(-1)


@pytest.mark.parametrize("n", [1.0, 2**31, "1", None])
def test_sample_count_must_be_a_32_bit_integer(n):
    sampler = Source().create_sampler(S(1))
    with pytest.raises(TypeError):
        sampler.generate_samples(n)
    with pytest.raises(TypeError):
        Source().create_sampler(S(1), n)


@pytest.mark.parametrize("cls", [SourceSampler, SimpleSourceIterator])
def test_no_constructor(cls):
    with pytest.raises(TypeError, match=": No constructor defined!$"):
        cls()


def test_iterator_values():
    m = 0.7
    it = Source(1, 0, m, 0, False).create_simple_iterator(S(1, 1))
    values = list(it)
    assert [(list(g), p) for g, p in values] == [
        ([S(1, 1)], pytest.approx(m)), ([S(1, 0), S(0, 1), S(0, 0)], pytest.approx(1 - m))]
    assert [type(g) for g, _ in values] == [BSSamples] * 2
    assert list(it) == values  # iterating again gives the same tuples
    assert (it.max_p, it.physical_perf, it.min_photons_filter, it.expected_input) == (
        pytest.approx(m), pytest.approx(1.0), 0.0, S(1, 1))


def test_iterator_sums_to_the_physical_performance():
    it = Source(0.9, 0.1, 0.6, 0.2).create_simple_iterator(S(1, 2, 1), 2)
    assert sum(p for _, p in it) == pytest.approx(it.physical_perf, abs=1e-14)
    assert it.min_photons_filter == 2.0


def test_iteration_ends_for_good():
    iterator = iter(Source().create_simple_iterator(S(1)))
    next(iterator)
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(iterator)


def test_iterator_keeps_its_source_iterator_alive():
    it = Source(0.9, 0.1, 0.6, 0.2).create_simple_iterator(S(1, 1))
    expected = list(it)
    python_iterator = iter(it)
    del it
    gc.collect()
    assert list(python_iterator) == expected


def test_threshold():
    it = Source(0.9, 0.1, 0.6, 0.2).create_simple_iterator(S(1, 1))
    everything = list(it)
    it.prob_threshold = 1e-3
    assert it.prob_threshold == 1e-3
    kept = list(it)
    assert 0 < len(kept) < len(everything) and all(p >= 1e-3 for _, p in kept)
    assert it.physical_perf == pytest.approx(1.0)
    it.prob_threshold = it.max_p * 1.5
    assert list(it) == []
    # Read again at each event: a threshold written mid-walk cuts the events that follow.
    it.prob_threshold = 0
    walk = iter(it)
    next(walk)
    it.prob_threshold = 2
    rest = list(walk)
    assert all(p == everything[0][1] for _, p in rest) and len(rest) < len(everything) - 1


@pytest.mark.parametrize("cls, member", [(Source, "is_perfect"), (SourceSampler, "zpp"),
                                         (SimpleSourceIterator, "max_p")])
def test_uninitialised_instances_refuse_use(cls, member):
    with pytest.raises(TypeError):
        getattr(cls.__new__(cls), member)
