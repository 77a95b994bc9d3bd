"""What both simulators make of their inputs alike: the input distribution, zero vectors and the
detector settings."""
import math
import struct

import numpy as np
import pytest

import orbandile as ob
from strong_reference import layered_bytes, ppnr_bytes


def strong(u):
    backend = ob.SLOS_V2()
    backend.set_unitary(u)
    sim = ob.StrongSimulator(backend)
    return sim, sim.probs_svd


def sampling(u):
    sampler = ob.Clifford2017()
    sampler.set_unitary(u)
    sim = ob.SamplingSimulator(sampler)
    return sim, lambda svd: sim.samples(svd, 2000, None)


SIMULATORS = [strong, sampling]


@pytest.fixture(params=SIMULATORS, ids=lambda f: f.__name__)
def make(request):
    return request.param


def fock(*counts):
    return ob.StateVector(ob.FockState(list(counts)))


def test_unnormalised_weights_are_read_as_their_proportions(make):
    sim, run = make(np.eye(3))
    sim.heralds = {2: 0}  # not a perfect experiment: the sampler draws shot by shot
    samples = run(ob.SVDistribution({fock(1, 0, 0): 1, fock(0, 1, 0): 1}))
    assert sim.get_physical_perf() == pytest.approx(1.0)
    assert sim.get_logical_perf() == pytest.approx(1.0)
    if make is strong:
        assert {str(s): p for s, p in samples.items()} == pytest.approx({"|1,0,0>": 0.5, "|0,1,0>": 0.5})


def test_filtered_inputs_weigh_by_their_proportion_in_both(make):
    sim, run = make(np.eye(3))
    sim.min_photons_filter = 1
    run(ob.SVDistribution({fock(0, 0, 0): 0.2, fock(1, 0, 0): 0.6}))
    assert sim.get_physical_perf() == pytest.approx(0.75)


@pytest.mark.parametrize("weights, bad", [((-0.5, 1.5), "(-0.5|1.5)"), ((1.5, 0.5), "1.5"), ((0.5, -1e-300), "-1e-300")])
def test_probabilities_outside_zero_one_are_refused(make, weights, bad):
    sim, run = make(np.eye(3))
    svd = ob.SVDistribution({fock(1, 0, 0): weights[0], fock(0, 1, 0): weights[1]})
    with pytest.raises(ValueError, match=rf"Input probability {bad} of \|[01,]*> is not in \[0, 1\]"):
        run(svd)
    assert sim.get_physical_perf() == sim.get_logical_perf() == 1.0


def test_probabilities_that_sum_to_zero_are_refused(make):
    _, run = make(np.eye(3))
    with pytest.raises(ValueError, match="The input probabilities sum to 0"):
        run(ob.SVDistribution({fock(1, 0, 0): 0.0, fock(0, 1, 0): 0.0}))


@pytest.mark.parametrize("scale", [0, 0j, float("nan")])
def test_a_vector_without_norm_is_refused_not_simulated_as_its_state(make, scale):
    _, run = make(np.eye(3))
    vector = scale * fock(1, 0, 0)
    with pytest.raises(ValueError, match=r"Received a state vector of squared norm (0|nan) on \|1,0,0>"):
        run(ob.SVDistribution({vector: 1}))
    with pytest.raises(ValueError, match="squared norm 0"):
        run(ob.SVDistribution({fock(0, 1, 0): 0.5, 0 * fock(1, 0, 0) + 0 * fock(0, 0, 1): 0.5}))


def test_an_empty_distribution_with_detectors_names_its_mode_count(make):
    sim, run = make(np.eye(3))
    sim.set_detectors(["", "", ""])
    with pytest.raises(ValueError, match=r"^State length \(-1\) and detector count \(3\) do not match$"):
        run(ob.SVDistribution())


@pytest.mark.parametrize("detector, value", [
    (ppnr_bytes(0, 0, 2.0), "2"), (ppnr_bytes(0, 0, -1.0), "-1"), (ppnr_bytes(2, 1, float("nan")), "nan"),
    (ppnr_bytes(0, 0, float("inf")), "inf"), (layered_bytes(1, 2.0), "2"), (layered_bytes(2, -0.1), "-0.1"),
    (layered_bytes(1, float("nan")), "nan"),
])
def test_detector_probabilities_outside_zero_one_are_refused(make, detector, value):
    sim, _ = make(np.eye(2))
    sim.set_detectors(["", ppnr_bytes(0, 1, 1.0)])
    with pytest.raises(ValueError, match=rf"needs a (wire efficiency|reflectivity) in \[0, 1\], got {value}$"):
        sim.set_detectors(["", detector])
    sim.set_detectors(["", detector.replace(struct.pack("<d", float(value)), struct.pack("<d", 1.0))])


def test_strong_and_sampled_detection_agree():
    u = np.array([[1, 1], [1, -1]]) / math.sqrt(2)
    detectors = [ppnr_bytes(0, 0, 0.3), layered_bytes(1, 0.4)]
    svd = ob.SVDistribution({fock(1, 1): 1})
    (strong_sim, strong_run), (sampled_sim, sampled_run) = strong(u), sampling(u)
    for sim in (strong_sim, sampled_sim):
        sim.set_detectors(detectors)
        sim.min_photons_filter = 2
    strong_run(svd)
    ob.set_seed(7)
    sampled_run(svd)
    expected = strong_sim.get_physical_perf()
    # Two photons in, both seen: 0.5 on the lossy mode (η² for |2,0>), 0.5·0.48 for |0,2>.
    assert expected == pytest.approx(0.5 * 0.09 + 0.5 * 0.48)
    shots = 2000 / (sampled_sim.get_physical_perf() or 1)
    sigma = math.sqrt(expected * (1 - expected) / shots)
    assert abs(sampled_sim.get_physical_perf() - expected) < 6 * sigma
