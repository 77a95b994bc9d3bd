import os
import textwrap
import threading
import time

import numpy as np
import pytest

import orbandile as ob
from numpy_layouts import misaligned
from interrupt import run_and_interrupt

M = [[1, 2], [3, 4]]


def brute_force(a):
    from itertools import permutations
    n = len(a)
    return sum(np.prod([a[i][p[i]] for i in range(n)]) for p in permutations(range(n)))


def test_small_matrix_through_each_exact_function():
    result = ob.permanent_in(np.array(M, dtype=np.int64))
    assert result == 10 and type(result) is int
    result = ob.permanent_fl(np.array(M, dtype=np.float64))
    assert result == 10.0 and type(result) is float
    result = ob.permanent_cx(np.array(M, dtype=np.complex128))
    assert result == 10 + 0j and type(result) is complex


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


@pytest.mark.parametrize("function, argument", [
    (ob.permanent_in, np.array(M, dtype=np.int32)),
    (ob.permanent_in, M),
    (ob.permanent_in, np.array(M, dtype=np.int64).T),
    (ob.permanent_in, read_only(np.array(M, dtype=np.int64))),
    (ob.permanent_in, np.arange(8, dtype=np.int64).reshape(4, 2)[::2]),
    (ob.permanent_fl, M),
    (ob.permanent_fl, np.array(M, dtype=np.int64)),
    (ob.permanent_fl, np.array(M, dtype=np.float32)),
    (ob.permanent_fl, np.array(M, dtype=float).T),
    (ob.permanent_cx, M),
    (ob.permanent_cx, np.array(M, dtype=float)),
    (ob.estimate_permanent_fl, M),
    (ob.estimate_permanent_cx, np.array(M, dtype=float)),
    (ob.sub_permanents_fl, [[1.0], [2.0]]),
    (ob.sub_permanents_fl, np.ones((6, 2))[::2]),
    # An aligned copy is made of a misaligned array only where it would be used in place.
    (ob.permanent_in, misaligned(np.array(M, dtype=np.int64), writeable=False)),
    (ob.permanent_in, misaligned(np.array(M, dtype=np.int32))),
    (ob.permanent_fl, misaligned(np.array(M, dtype=np.float32))),
    (ob.permanent_cx, misaligned(np.array(M, dtype=float))),
    (ob.permanent_fl, misaligned(np.ones((2, 2, 2)))),
    (ob.permanent_fl, np.array(1.0)),
    (ob.permanent_in, np.ones((1, 1, 1), dtype=np.int64)),
    (ob.estimate_permanent_cx, np.array(1j)),
    (ob.sub_permanents_fl, misaligned(np.float64(1))),
    (ob.sub_permanents_cx, np.array(1j)),
])
def test_matrices_are_used_in_place_or_refused(function, argument):
    with pytest.raises(TypeError):
        function(argument)


def test_read_only_arrays_are_fine_except_for_integers():
    a = read_only(np.array(M, dtype=float))
    assert ob.permanent_fl(a) == 10.0
    assert ob.sub_permanents_fl(read_only(np.ones((3, 2)))).tolist() == [2.0, 2.0, 2.0]


@pytest.mark.parametrize("function, matrix", [
    (ob.permanent_in, np.array(M, dtype=np.int64)),
    (ob.permanent_fl, np.array(M, dtype=float)),
    (ob.permanent_cx, np.array(M) * (1 + 2j)),
    # The estimate of a diagonal matrix is exact whatever the draws.
    (ob.estimate_permanent_fl, np.diag([1.0, 2.0, 3.0])),
    (ob.estimate_permanent_cx, np.diag([1j, 2, 3])),
    (ob.sub_permanents_fl, np.arange(6.0).reshape(3, 2)),
    (ob.sub_permanents_cx, np.arange(6.0).reshape(3, 2) * 1j),
])
def test_misaligned_matrices_are_read_from_an_aligned_copy(function, matrix):
    expected = function(matrix)
    for writeable in ([True] if function is ob.permanent_in else [True, False]):
        argument = misaligned(matrix, writeable)
        np.testing.assert_array_equal(function(argument), expected)
        np.testing.assert_array_equal(argument, matrix)
    for kind in (["glynn", "ryser"] if function in (ob.permanent_fl, ob.permanent_cx) else []):
        assert function(misaligned(matrix), kind) == expected


def test_one_dimensional_arrays_are_columns():
    assert ob.permanent_fl(np.array([3.0])) == 3.0
    assert ob.sub_permanents_fl(np.array([1.0, 2.0])).tolist() == [2.0, 1.0]


def test_sub_permanents_cx_converts_anything_numpy_can():
    assert ob.sub_permanents_cx([[1], [2]]).tolist() == [2 + 0j, 1 + 0j]
    strided = np.arange(12.0).reshape(6, 2)[::2]
    assert ob.sub_permanents_cx(strided).tolist() == [76 + 0j, 8 + 0j, 4 + 0j]
    with pytest.raises(TypeError):
        ob.sub_permanents_cx(np.ones((2, 2, 2)))


def test_sub_permanent_results_take_over_the_native_vector():
    result = ob.sub_permanents_fl(np.ones((3, 2)))
    assert result.shape == (3,) and result.dtype == np.float64
    assert type(result.base).__name__ == "PyCapsule"
    complex_result = ob.sub_permanents_cx(np.ones((4, 3), dtype=complex))
    assert complex_result.dtype == np.complex128
    assert complex_result.tolist() == [6] * 4


@pytest.mark.parametrize("function, dtype", [
    (ob.permanent_in, np.int64), (ob.permanent_fl, float), (ob.permanent_cx, complex),
    (ob.estimate_permanent_fl, float), (ob.estimate_permanent_cx, complex)])
def test_non_square_matrices(function, dtype):
    with pytest.raises(RuntimeError, match=r"^Input should have size \[N,N\]$"):
        function(np.ones((2, 3), dtype=dtype))


@pytest.mark.parametrize("function, dtype", [(ob.sub_permanents_fl, float), (ob.sub_permanents_cx, complex)])
def test_sub_permanents_need_one_more_row_than_columns(function, dtype):
    with pytest.raises(RuntimeError, match=r"^Input should have size \[N\+1,N\]$"):
        function(np.ones((3, 3), dtype=dtype))


def test_glynn_is_refused_for_integers():
    with pytest.raises(ValueError, match="^Cannot use Glynn for int$"):
        ob.permanent_in(np.array(M, dtype=np.int64), "glynn")


def test_orders_beyond_the_counters_are_value_errors():
    with pytest.raises(ValueError):
        ob.permanent_fl(np.zeros((64, 64)), ptype="ryser")
    with pytest.raises(ValueError):
        ob.sub_permanents_fl(np.zeros((65, 64)))


@pytest.mark.parametrize("function, dtype", [(ob.permanent_fl, float), (ob.permanent_cx, complex)])
@pytest.mark.parametrize("ptype, count, kind", [
    ("glynn", 4, "Glynn"), ("", 1, "Glynn"), ("", 2, "Glynn"), ("", 0, "Ryser"), ("ryser", 1, "Ryser")])
def test_every_kind_refuses_orders_no_counter_holds(run_python, function, dtype, ptype, count, kind):
    # In a subprocess: Glynn at order 64 used to run for ever.
    result = run_python(f"""
        import numpy as np, orbandile as ob
        ob.Config.compute_max_thread_count = {count}
        for n in (64, 65, 200):
            try:
                ob.{function.__name__}(np.ones((n, n), dtype={dtype.__name__}), {ptype!r})
            except ValueError as e:
                print(e)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"Cannot compute the permanent of a {n}x{n} matrix with {kind}: the order must be below 64"
        for n in (64, 65, 200)]


@pytest.mark.parametrize("count", [0, 1, 2, 3, 5, 70, -1])
def test_integer_results_do_not_depend_on_the_thread_count(restore_config, count):
    a = np.random.default_rng(1).integers(-5, 6, size=(7, 7))
    restore_config.compute_max_thread_count = count
    assert ob.permanent_in(a) == ob.permanent_in(a, ptype="ryser") == round(brute_force(a.tolist()))


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads through /proc")
def test_thread_count_setting_is_a_maximum(restore_config):
    # 100000 threads once took seconds to start and then failed with "Resource temporarily
    # unavailable": the calls must run on no more threads than the hardware has.
    restore_config.compute_max_thread_count = 100000
    hardware = os.cpu_count()
    before = len(os.listdir("/proc/self/task"))
    peak = [before]
    results = []
    worker = threading.Thread(target=lambda: results.extend([
        ob.permanent_fl(np.eye(24), "ryser"),
        ob.permanent_in(np.eye(24, dtype=np.int64)),
        ob.estimate_permanent_fl(np.eye(30), 300000)]))
    worker.start()
    while worker.is_alive():
        peak.append(len(os.listdir("/proc/self/task")))
    worker.join()
    assert results == [1.0, 1, (1.0, 0.0)]
    assert max(peak) <= before + 1 + hardware


def test_algorithms_agree():
    a = np.random.default_rng(2).normal(size=(9, 9))
    assert ob.permanent_fl(a, ptype="glynn") == pytest.approx(ob.permanent_fl(a, ptype="ryser"), rel=1e-12)
    c = a + 1j * np.random.default_rng(3).normal(size=(9, 9))
    assert ob.permanent_cx(M=c, ptype="glynn") == pytest.approx(ob.permanent_cx(c, "ryser"), rel=1e-12)


@pytest.mark.parametrize("function, dtype, expected", [
    (ob.permanent_in, np.int64, 1), (ob.permanent_fl, float, 1.0), (ob.permanent_cx, complex, 1 + 0j)])
@pytest.mark.parametrize("count", [1, 3, 0])
def test_empty_matrix_has_permanent_one(restore_config, function, dtype, expected, count):
    restore_config.compute_max_thread_count = count
    assert function(np.zeros((0, 0), dtype=dtype)) == expected
    assert ob.estimate_permanent_fl(np.zeros((0, 0)), 5) == (1.0, 0.0)
    assert ob.sub_permanents_cx(np.zeros((1, 0))).tolist() == [1 + 0j]


def test_estimate_arguments():
    result = ob.estimate_permanent_fl(np.ones((3, 3)))
    assert type(result) is tuple and [type(x) for x in result] == [float, float]
    estimate, width = ob.estimate_permanent_cx(M=np.eye(3, dtype=complex), n_iter=10, ptype="anything")
    assert (estimate, width) == (1 + 0j, 0.0)
    for bad in (-1, 2.0, 2**32):
        with pytest.raises(TypeError):
            ob.estimate_permanent_fl(np.ones((2, 2)), bad)
    with pytest.raises(ValueError):
        ob.estimate_permanent_fl(np.ones((2, 2)), 0)


def test_seeded_estimates_repeat(restore_config):
    a = np.random.default_rng(4).normal(size=(6, 6)) + 1j
    restore_config.compute_max_thread_count = 3
    ob.set_seed(7)
    first = ob.estimate_permanent_cx(a, 999)
    ob.set_seed(7)
    assert ob.estimate_permanent_cx(a, 999) == first


def test_docstrings():
    assert ob.permanent_in.__doc__.endswith("Permanent of a square integer matrix\n")
    assert ob.sub_permanents_fl.__doc__.endswith("Permanent of n+1 (n,n) float number sub-array\n")
    assert ob.sub_permanents_cx.__doc__.endswith("Permanent of n+1 (n,n) complex number sub-array\n")
    for function in (ob.permanent_fl, ob.permanent_cx):
        assert "By default, Glynn method is used only when using 1 or 2 threads. Ryser is otherwise used." \
            in function.__doc__
        assert function.__doc__.rstrip("\n").endswith(
            "See also orbandile.Config to control how many CPU threads you allow you program to use.")
    assert ".. note:: Permanent estimate on complex values is accurate for norm, but not for angles." \
        in ob.estimate_permanent_cx.__doc__


def test_other_threads_run_during_a_long_permanent(restore_config):
    restore_config.compute_max_thread_count = 1
    a = np.random.default_rng(5).normal(size=(26, 26))
    window = []

    def compute():
        start = time.perf_counter()
        ob.permanent_fl(a, "glynn")
        window.extend([start, time.perf_counter()])

    worker = threading.Thread(target=compute)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    worker.join()
    start, end = window
    middle = [t for t in ticks if start + 0.25 * (end - start) < t < end - 0.25 * (end - start)]
    assert len(middle) > 100


def test_sigint_interrupts_sub_permanents():
    code = textwrap.dedent("""
        import numpy as np, orbandile as ob
        a = np.ones((31, 30), dtype=complex)
        print("ready", flush=True)
        try:
            ob.sub_permanents_cx(a)
            print("finished", flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
    """)
    assert run_and_interrupt(code, within=1.0) == ["interrupted: Process interrupted by user."]


# Accuracy of every exact kind against exact values and 40-digit references. The values do not
# depend on the thread count; Ryser runs on 8 threads to keep the largest orders quick.
def haar(n, seed, complex_entries):
    """A Haar-random unitary (or orthogonal) matrix in pure Python floats, the same everywhere:
    Gaussian columns orthonormalised twice by Gram-Schmidt."""
    import math
    import random
    rng = random.Random(seed)
    columns = []
    for _ in range(n):
        v = [complex(rng.gauss(0.0, 1.0), rng.gauss(0.0, 1.0)) if complex_entries
             else complex(rng.gauss(0.0, 1.0)) for _ in range(n)]
        for _ in range(2):
            for u in columns:
                dot = sum((x.conjugate() * y for x, y in zip(u, v)), 0j)
                v = [y - dot * x for x, y in zip(u, v)]
        norm = math.sqrt(sum(y.real * y.real + y.imag * y.imag for y in v))
        columns.append([y / norm for y in v])
    a = np.ascontiguousarray(np.array(columns).T)
    return a if complex_entries else a.real.copy()


# Permanents of haar(n, 1, complex_entries), by Glynn's formula in 60-digit decimal arithmetic.
HAAR_PERMANENTS = {
    (12, True): ("-4.337047631082962532261686222322300362017e-5", "-3.107961982322943478267044133963711000910e-5"),
    (12, False): ("2.626259964135364389611869380482937140296e-4", "0"),
    (16, True): ("-5.739793344407724602081729316441834102175e-6", "1.433537576508666968009000275060966670704e-5"),
    (16, False): ("1.004278858661375851559763562377339304481e-4", "0"),
    (20, True): ("-1.577734705032988397131678134349572668522e-6", "-8.817374567453856711128012500745381169621e-8"),
    (20, False): ("1.036982296952776911801551088253524803911e-5", "0"),
}

# Bounds on the relative error for haar(n, 1, complex_entries), a few times the errors measured.
HAAR_BOUNDS = {
    ("glynn", True): {12: 3e-13, 16: 3e-12, 20: 3e-12},
    ("glynn", False): {12: 2e-13, 16: 2e-13, 20: 1e-13},
    ("ryser", True): {12: 1e-11, 16: 2e-11, 20: 5e-11},
    ("ryser", False): {12: 5e-13, 16: 3e-13, 20: 5e-12},
}

# The permanent of the Sylvester-Hadamard matrix of order 16, by Ryser's formula in integers.
HADAMARD_16 = 50692096

# Relative errors of a Gray-code Ryser with one running sum in double on all-ones matrices of
# orders 15 ... 24 (exact below): Ryser may lose at most twice as much.
ONE_SUM_RYSER = [4.305e-10, 9.929e-10, 1.006e-08, 6.014e-09, 6.344e-08,
                 2.555e-07, 1.066e-06, 2.720e-06, 6.240e-06, 1.858e-05]


def sylvester_hadamard(n):
    return np.array([[(-1) ** bin(i & j).count("1") for j in range(n)] for i in range(n)])


def accuracy_cases():
    cases = []
    for function in (ob.permanent_fl, ob.permanent_cx):
        for ptype in ("glynn", "ryser"):
            for n in (12, 16, 18, 19, 20, 22, 24):
                if ptype == "ryser":
                    bound = 0.0 if n < 15 else 2 * ONE_SUM_RYSER[n - 15]
                else:
                    bound = 0.0 if n < 15 else 4e-8
                cases.append((function, ptype, "ones", n, bound))
            cases.append((function, ptype, "hadamard", 16, 1e-15))
            complex_entries = function is ob.permanent_cx
            for n in (12, 16, 20):
                cases.append((function, ptype, "haar", n, HAAR_BOUNDS[ptype, complex_entries][n]))
    return cases


@pytest.mark.parametrize("function, ptype, family, n, bound", accuracy_cases(),
                         ids=lambda x: getattr(x, "__name__", str(x)))
def test_relative_error_within_bound(restore_config, function, ptype, family, n, bound):
    from decimal import Decimal
    from math import factorial
    restore_config.compute_max_thread_count = 8
    complex_entries = function is ob.permanent_cx
    if family == "ones":
        a, expected = np.ones((n, n)), (Decimal(factorial(n)), Decimal(0))
    elif family == "hadamard":
        a, expected = sylvester_hadamard(n).astype(float), (Decimal(HADAMARD_16), Decimal(0))
    else:
        a = haar(n, 1, complex_entries)
        expected = tuple(Decimal(x) for x in HAAR_PERMANENTS[(n, complex_entries)])
    got = complex(function(a.astype(complex, order="C") if complex_entries else a, ptype))
    error = (Decimal(got.real) - expected[0], Decimal(got.imag) - expected[1])
    relative = ((error[0] ** 2 + error[1] ** 2) / (expected[0] ** 2 + expected[1] ** 2)).sqrt()
    assert relative <= Decimal(bound)


@pytest.mark.parametrize("n", [12, 16, 20, 24])
def test_integer_permanents_are_exact(restore_config, n):
    from math import factorial
    restore_config.compute_max_thread_count = 8
    # Modulo 2^64 once n! no longer fits.
    wrapped = (factorial(n) + 2 ** 63) % 2 ** 64 - 2 ** 63
    assert ob.permanent_in(np.ones((n, n), dtype=np.int64)) == wrapped
    assert ob.permanent_in(sylvester_hadamard(16).astype(np.int64)) == HADAMARD_16
