"""Both simulators against settings and back-ends that no longer fit each other."""
import pytest

import orbandile as ob
from orbandile import SLOS_V2, SLOS_V3, FockState, SVDistribution
from haar import haar_unitary
from strong_reference import DETECTORS


# ---------------------------------------------------------------------------------------------
# Edges


THRESHOLD = DETECTORS["threshold"][0]


@pytest.mark.parametrize("cls", [SLOS_V2, SLOS_V3])
@pytest.mark.parametrize("rows", [2, 4])
@pytest.mark.parametrize("settings, state", [
    ({}, ob.StateVector(FockState([1, 0, 1]))),
    ({}, ob.StateVector(ob.NoisyFockState("|{1},0,{2}>"))),
    ({}, ob.StateVector(FockState([1, 0, 1])) + ob.StateVector(FockState([0, 1, 1]))),
    # Without a herald mask the selection would read mode 2 of two-mode outputs.
    ({"detectors": [THRESHOLD] * 3, "heralds": {2: 0}, "differentiate_perf": True}, ob.StateVector(FockState([1, 0, 1]))),
], ids=["perfect", "noisy", "superposed", "heralded"])
def test_outputs_of_another_mode_count_than_the_input_are_refused(cls, rows, settings, state):
    backend = cls()
    backend.set_unitary(haar_unitary(4, 3)[:rows, :3])
    sim = ob.StrongSimulator(backend)
    for name, value in settings.items():
        if name == "detectors":
            sim.set_detectors(value)
        else:
            setattr(sim, name, value)
    with pytest.raises(ValueError, match=rf"^The back-end gives outputs of {rows} modes for an input of 3 modes; "
                                         "the simulator needs a square unitary$"):
        sim.probs_svd(SVDistribution({state: 1.0}))
    backend.set_unitary(haar_unitary(3, 3))
    assert sum(sim.probs_svd(SVDistribution({state: 1.0})).values()) == pytest.approx(1.0)
