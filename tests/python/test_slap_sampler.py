import copy
import math

import numpy as np
import pytest

import orbandile as ob
from orbandile import SLAP, SLAPSampler, FockState
from haar import haar_unitary


SPLITTER = np.array([[1, 1], [1, -1]]) / np.sqrt(2)


def test_histogram_of_a_splitter():
    sampler = SLAPSampler()
    sampler.set_unitary(SPLITTER)
    first = sampler.sampling(FockState([1, 1]), 1000)
    assert isinstance(first, list) and len(first) == 3 and sum(first) == 1000
    assert first[1] == 0
    second = sampler.sampling(FockState([1, 1]), 1000)
    assert second is not first and sum(second) == 1000


def test_matches_slap_probabilities_and_reproduces_under_a_seed():
    u = haar_unitary(4, 3)
    state = FockState([1, 0, 1, 1])
    sampler = SLAPSampler()
    sampler.set_unitary(u)
    ob.set_seed(11)
    counts = sampler.sampling(state, 10**6)
    slap = SLAP()
    slap.set_unitary(u)
    slap.set_input_state(state)
    distance = 0.5 * np.abs(np.array(counts) / 10**6 - np.array(slap.all_probabilities())).sum()
    assert distance < 0.01
    copied, deep = copy.copy(sampler), copy.deepcopy(sampler)
    for other in (sampler, copied, deep):
        ob.set_seed(11)
        assert other.sampling(state, 10**6) == counts


@pytest.mark.parametrize("call, error, message", [
    (lambda s: s.sampling(FockState([1, 1]), -1), ValueError,
     "The number of samples must be at least 0, not -1"),
    (lambda s: s.set_unitary(np.array([[1, 1], [0, 1]])), RuntimeError, "Matrix is not unitary"),
    (lambda s: s.sampling(FockState([1, 0, 0]), 3), RuntimeError, "Matrix/input state sizes mismatch"),
    (lambda s: s.sampling(FockState([2]), 3), RuntimeError,
     "^Matrix/input state sizes mismatch: 1 input modes for a unitary of 2 modes$"),
    (lambda s: s.sampling(FockState([]), 3), RuntimeError,
     "^Matrix/input state sizes mismatch: 0 input modes for a unitary of 2 modes$"),
    (lambda s: s.sampling(FockState([1, 1]), 2**31), OverflowError,
     "^The number of samples must be at most 2147483647, not 2147483648$"),
    (lambda s: s.sampling(FockState([1, 1]), 2**70), OverflowError,
     "^The number of samples must be at most 2147483647, not 1180591620717411303424$"),
    (lambda s: s.sampling(FockState([1, 1]), -2**40), ValueError,
     "^The number of samples must be at least 0, not -1099511627776$"),
    (lambda s: s.sampling(FockState([1, 1]), 3.0), TypeError, "incompatible"),
    (lambda s: s.set_unitary([[1, np.nan], [0, 1]]), ValueError,
     r"^Matrix holds a value that is not finite: \(nan\+0j\) at row 0, column 1$"),
    (lambda s: s.sampling(None, 3), TypeError, "incompatible"),
])
def test_refusals(call, error, message):
    sampler = SLAPSampler()
    sampler.set_unitary(SPLITTER)
    with pytest.raises(error, match=message):
        call(sampler)
    assert sum(sampler.sampling(FockState([2, 0]), 5)) == 5


@pytest.mark.parametrize("m, photons", [(66, [0, 2]), (68, [1, 1]), (256, [0, 1, 1]), (256, [2])])
def test_many_modes(m, photons):
    """The index table's far corner exceeds 64 bits from 68 modes and photons on; it is never read."""
    state = FockState(photons + [0] * (m - len(photons)))
    sampler = SLAPSampler()
    sampler.set_unitary(np.eye(m))
    counts = sampler.sampling(state, 10)
    assert len(counts) == math.comb(m + 1, 2)
    # The identity keeps the input: its index among the states of two photons in natural order.
    modes = [i for i, c in enumerate(state) for _ in range(c)]
    pairs = [(a, b) for a in range(m) for b in range(a, m)]
    assert counts[pairs.index(tuple(modes))] == 10 and sum(counts) == 10


def test_unset_unitary_is_refused():
    with pytest.raises(RuntimeError, match="The unitary must be set before sampling"):
        SLAPSampler().sampling(FockState([1]), 1)
