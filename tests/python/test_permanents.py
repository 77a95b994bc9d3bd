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
