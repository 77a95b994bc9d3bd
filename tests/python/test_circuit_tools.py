"""CircuitOptimizer and RectangularDecomposer: circuits cross as bytes of the schema's Circuit message,
written and read here by circuit_bytes and checked against unitaries computed with numpy."""

import math
import textwrap

import numpy as np
import pytest

import orbandile as ob
from circuit_bytes import beam_splitter, circuit, mesh, phase_shifter, read_circuit, unitary_of
from interrupt import run_and_interrupt


def haar(n, seed):
    rng = np.random.default_rng(seed)
    q, r = np.linalg.qr(rng.normal(size=(n, n)) + 1j * rng.normal(size=(n, n)))
    return np.ascontiguousarray(q * (np.diag(r) / abs(np.diag(r))))


def infidelity(u, target, kept):
    s = sum(np.vdot(target[:, j], u[:, j]) for j in kept)
    return 1 - abs(s) ** 2 / len(kept) ** 2


# ---------------------------------------------------------------------------------------------
# CircuitOptimizer

RX1 = np.array([[math.cos(0.5), 1j * math.sin(0.5)], [1j * math.sin(0.5), math.cos(0.5)]])


def test_optimizer_fits_rx_and_returns_the_fitted_circuit():
    opt = ob.CircuitOptimizer(RX1, circuit(2, [beam_splitter(0, "theta")]), random_seed=1)
    assert opt.fidelity == 0.0
    fitted = opt.optimize()
    assert isinstance(fitted, bytes)
    assert opt.fidelity > 1 - 1e-6
    (kind, mode, values), = read_circuit(fitted)[2]
    assert (kind, mode) == (0, 0)
    assert math.remainder(values[0] - 1.0, 2 * math.pi) == pytest.approx(0, abs=2e-3)
    assert 1 - infidelity(unitary_of(fitted), RX1, [0, 1]) == pytest.approx(opt.fidelity, abs=1e-12)


@pytest.mark.parametrize("empty_modes", [[], [2], [0, 3]])
def test_optimizer_fits_a_mesh_on_the_kept_modes(empty_modes):
    target = haar(4, 7)
    template, _ = mesh(4)
    opt = ob.CircuitOptimizer(target, template, empty_modes, 5)
    fitted = opt.optimize(8)
    kept = [j for j in range(4) if j not in empty_modes]
    assert infidelity(unitary_of(fitted), target, kept) < 1e-6
    # The template keeps its variables: the optimiser runs again, with a first guess too.
    opt.optimize(2)
    _, count = mesh(4)
    opt.optimize([0.1] * count)
    assert opt.fidelity > 1 - 1e-6


def test_optimizer_seeds_its_trials_and_draws_once_from_the_thread_generator():
    target, (template, _) = haar(3, 1), mesh(3)

    def second_optimiser_result(first_seed):
        ob.set_seed(3)
        ob.CircuitOptimizer(target, template, random_seed=first_seed)
        return ob.CircuitOptimizer(target, template).optimize(1)

    # Given a seed or not, a construction takes one draw from the thread's generator.
    assert second_optimiser_result(5) == second_optimiser_result(None)
    ob.set_seed(3)
    assert ob.CircuitOptimizer(target, template).optimize(1) != second_optimiser_result(None)
    # Only the low 32 bits of the seed count.
    assert (ob.CircuitOptimizer(target, template, random_seed=2**32 + 9).optimize(1)
            == ob.CircuitOptimizer(target, template, random_seed=9).optimize(1))


def test_an_empty_first_guess_runs_one_descent_from_a_random_start():
    template = circuit(2, [beam_splitter(0, "theta")])
    guessed = ob.CircuitOptimizer(RX1, template, random_seed=4)
    drawn = ob.CircuitOptimizer(RX1, template, random_seed=4)
    assert guessed.optimize([]) == drawn.optimize(1)
    assert guessed.fidelity == drawn.fidelity > 1 - 1e-6


def test_optimizer_errors():
    template = circuit(2, [beam_splitter(0, "theta")])
    opt = ob.CircuitOptimizer(RX1, template)
    with pytest.raises(RuntimeError, match="^Circuit optimizer: No trial converged.$"):
        opt.optimize(0)
    assert opt.fidelity == 0.0
    with pytest.raises(RuntimeError, match="^First guess size does not match the number of parameters$"):
        opt.optimize([0.1, 0.2])
    with pytest.raises(TypeError):
        opt.optimize(-1)
    with pytest.raises(TypeError):
        opt.set_max_eval_per_trial(-1)
    opt.set_threshold(0.0)
    opt.set_max_time_per_trial(10)
    opt.set_max_eval_per_trial(100)
    opt.optimize([0.3])


def test_optimizer_returns_a_circuit_when_no_trial_beats_fitness_one():
    # Rx(t) stays orthogonal to Z.
    opt = ob.CircuitOptimizer(np.diag([1, -1]).astype(complex), circuit(2, [beam_splitter(0, "t")]))
    assert len(read_circuit(opt.optimize(2))[2]) == 1
    assert opt.fidelity == 0.0


@pytest.mark.parametrize("target, template, message", [
    (RX1, b"\xff\xff", "Could not parse serialized content"),
    (RX1, circuit(3, [beam_splitter(0, "t")]), "Template interferometer and reference unitary size mismatch!"),
    (np.eye(2, 3, dtype=complex), circuit(2, [beam_splitter(0, "t")]), "Reference must be a unitary matrix"),
    (RX1, circuit(2, [beam_splitter(0, "t", phases=("p", 0.0, 0.0, 0.0))]),
     "Cannot process a component with several variables"),
    (RX1, circuit(2, [phase_shifter(0, "x"), phase_shifter(1, "x")]),
     "Cannot process variable 'x' shared by several components"),
])
def test_optimizer_refuses_templates(target, template, message):
    with pytest.raises(RuntimeError, match=f"^{message}"):
        ob.CircuitOptimizer(target, template)


@pytest.mark.parametrize("target", [5 * np.ones((2, 2), dtype=complex),
                                    np.array([[1, 0], [0, np.inf]], dtype=complex),
                                    np.array([[np.nan, 0], [0, 1]], dtype=complex),
                                    np.array([[1, 0], [0, 1.01]], dtype=complex)],
                         ids=["fives", "inf", "nan", "stretched"])
def test_optimizer_refuses_a_target_that_is_not_unitary(target):
    # The fidelity would leave [0, 1]: 19.6 for the fives.
    with pytest.raises(RuntimeError, match="^Reference must be a unitary matrix$"):
        ob.CircuitOptimizer(target, circuit(2, [beam_splitter(0, "t")]))


@pytest.mark.parametrize("mode", [5, 2, -1])
def test_optimizer_refuses_empty_modes_outside_the_circuit(mode):
    with pytest.raises(ValueError, match=f"^Empty mode {mode} is outside the 2 modes of the circuit$"):
        ob.CircuitOptimizer(RX1, circuit(2, [beam_splitter(0, "t")]), empty_modes=[mode])
    assert ob.CircuitOptimizer(RX1, circuit(2, [beam_splitter(0, "t")]), empty_modes=[1, 1]).optimize(1)


def test_optimizer_takes_the_target_only_as_complex128_c_contiguous():
    template = circuit(2, [beam_splitter(0, "t")])
    for bad in (RX1.astype(np.complex64), np.asfortranarray(RX1), RX1.tolist(),
                RX1.real.copy()):
        with pytest.raises(TypeError):
            ob.CircuitOptimizer(bad, template)
    with pytest.raises(TypeError):
        ob.CircuitOptimizer(RX1, template, random_seed=-1)
    # A str is taken as its UTF-8 bytes.
    ob.CircuitOptimizer(RX1, template.decode("ascii")).optimize([1.0])


def test_sigint_interrupts_optimize_and_the_next_call_runs():
    template, _ = mesh(8)
    code = textwrap.dedent(f"""
        import numpy as np, orbandile as ob
        opt = ob.CircuitOptimizer(np.array({haar(8, 1).tolist()!r}), {template!r}, random_seed=1)
        opt.set_threshold(-1)
        print("ready", flush=True)
        try:
            opt.optimize(100000)
            print("finished", flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
        opt.set_threshold(1e-6)
        opt.optimize(1)
        print("again", flush=True)
    """)
    assert run_and_interrupt(code, within=None) == ["interrupted: Process interrupted by user.",
                                                    "again"]


# ---------------------------------------------------------------------------------------------
# RectangularDecomposer


@pytest.mark.parametrize("n", [1, 2, 3, 5, 8])
def test_decomposer_rebuilds_the_target(n):
    target = haar(n, n)
    d = ob.RectangularDecomposer(1e-10)
    mesh_bytes = d.decompose(target)
    assert mesh_bytes == d.get_interferometer() == d.get_interferometer(False)
    name, m, components = read_circuit(mesh_bytes)
    assert (name, m, len(components)) == ("Rectangular interferometer", n, 2 * n * (n - 1))
    full = d.get_interferometer(True)
    ob.set_seed(n)
    again = d.decompose(target, True)
    ob.set_seed(n)
    assert d.decompose(target, True) == again  # PRAXIS's steps come from the thread's generator
    assert read_circuit(full)[0] == "Rectangular interferometer with phase correction"
    assert np.linalg.norm(unitary_of(full) - target) < 1e-4
    assert np.allclose(abs(unitary_of(mesh_bytes)), abs(target), atol=1e-4)


def test_decomposer_precision_and_errors():
    assert ob.RectangularDecomposer().get_precision() == 1e-6
    d = ob.RectangularDecomposer(1e-3)
    assert d.get_precision() == 0.001
    with pytest.raises(RuntimeError, match="^RectangularDecomposer must be computed before giving the resulting interferometer$"):
        d.get_interferometer()
    with pytest.raises(RuntimeError, match="^Rectangular decomposition only works for unitary matrices$"):
        d.decompose(np.eye(2, 3, dtype=complex))
    with pytest.raises(RuntimeError, match="^Rectangular decomposition only works for unitary matrices$"):
        d.decompose(2 * np.eye(2, dtype=complex))
    for bad in (np.eye(2, dtype=np.complex64), np.eye(2).tolist(), np.eye(2)):
        with pytest.raises(TypeError):
            d.decompose(bad)
    kept = d.decompose(haar(3, 0))
    d.set_precision(-1.0)
    assert d.get_precision() == -1.0
    with pytest.raises(RuntimeError, match="^RectangularDecomposer: decomposition failed$"):
        d.decompose(haar(4, 0))
    assert d.get_interferometer() == kept
