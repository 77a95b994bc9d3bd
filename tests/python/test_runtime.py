import os
import sys

import pytest

import orbandile as ob
from interrupt import run_and_interrupt, then_sigint_reaches_python


def test_module_attributes():
    assert ob.__doc__ == "Optimized C++ classes and functions"
    assert ob.__version__ == "1.4.2"


def test_reimport_returns_cached_module():
    del sys.modules["orbandile"]
    import orbandile as again
    assert again is ob
    sys.modules["orbandile"] = ob


def test_config_defaults(run_python):
    result = run_python("""
        import orbandile as ob
        print(ob.Config.use_single_precision, ob.Config.compute_max_thread_count, ob.Config.unitary_check_precision)
    """)
    assert result.stdout.split() == ["False", "0", "1e-06"]


@pytest.mark.parametrize("value, expected", [(4, 4), (-1, 4294967295), (0, 0), (2**31 - 1, 2**31 - 1)])
def test_config_thread_count(restore_config, value, expected):
    ob.Config.compute_max_thread_count = value
    assert ob.Config.compute_max_thread_count == expected


@pytest.mark.parametrize("value", [2.0, 2**31, 4294967296, -2**31 - 1, "3", None])
def test_config_thread_count_refuses(restore_config, value):
    with pytest.raises(TypeError):
        ob.Config.compute_max_thread_count = value


def test_config_precision_and_single_precision(restore_config):
    ob.Config.use_single_precision = 1
    assert ob.Config.use_single_precision is True
    ob.Config.use_single_precision = None
    assert ob.Config.use_single_precision is False
    ob.Config.unitary_check_precision = 1e-4
    assert ob.Config.unitary_check_precision == 1e-4
    ob.Config.unitary_check_precision = 3
    assert ob.Config.unitary_check_precision == 3.0
    assert ob.Config.__doc__.startswith("Orbandile global configuration")


@pytest.mark.parametrize("cls", [ob.Config, ob.logging])
def test_runtime_classes_have_no_constructor(cls):
    with pytest.raises(TypeError):
        cls()


def test_logging_enumerations():
    assert int(ob.logging.level.off) == 6
    assert [int(getattr(ob.logging.level, n)) for n in ("debug", "info", "warn", "err", "critical")] == [1, 2, 3, 4, 5]
    assert ob.logging.channel(2) == ob.logging.channel.user
    assert not hasattr(ob.logging, "debug_level")
    assert ob.logging.level.info != ob.logging.channel.resources
    with pytest.raises(TypeError):
        ob.logging.set_level(None)


def test_set_seed_reproduces_and_refuses_out_of_range():
    ob.set_seed(42)
    ob.set_seed(0)
    ob.set_seed(4294967295)
    for bad in (-1, 4294967296, 1.5):
        with pytest.raises(TypeError):
            ob.set_seed(bad)


def test_logging_console_forms(run_python):
    result = run_python("""
        import orbandile as ob
        ob.logging.info("before initialize")
        ob.logging.initialize()
        ob.logging.info("console still off")
        ob.logging.enable_console()
        ob.logging.info("a {} b {0}")
        ob.logging.warn("to user", ob.logging.channel.user)
        ob.logging.set_level(ob.logging.level.err)
        ob.logging.info("general now at err")
        ob.logging.info("resources still at info", ob.logging.channel.resources)
        ob.logging.initialize("other.log", ob.logging.level.debug)
        ob.logging.disable_console()
        ob.logging.critical("console off again")
    """, env={k: v for k, v in os.environ.items() if k != "SPDLOG_LEVEL"})
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "[info] a {} b {0}",
        "[warning] to user",
        "[info] resources still at info",
        "[error] initialize was already called before, ignoring this call",
    ]


def test_logging_initial_level_and_environment(run_python):
    code = """
        import orbandile as ob
        ob.logging.initialize("", ob.logging.level.debug)
        ob.logging.enable_console()
        ob.logging.debug("general debug")
        ob.logging.debug("user debug", ob.logging.channel.user)
    """
    env = {k: v for k, v in os.environ.items() if k != "SPDLOG_LEVEL"}
    assert run_python(code, env).stdout.splitlines() == ["[debug] general debug", "[debug] user debug"]
    env["SPDLOG_LEVEL"] = "User=warn"
    assert run_python(code, env).stdout.splitlines() == ["[debug] general debug"]


def test_logging_file(run_python, tmp_path):
    path = tmp_path / "orbandile.log"
    result = run_python(f"""
        import orbandile as ob
        ob.logging.initialize({str(path)!r})
        ob.logging.info("not yet")
        ob.logging.enable_file()
        ob.logging.info("general line")
        ob.logging.warn("user line", ob.logging.channel.user)
    """)
    assert result.returncode == 0, result.stderr
    lines = path.read_text().splitlines()
    assert [line[25:] for line in lines] == [" [I] general line", "U[W] user line"]


def test_logging_unopenable_file_raises_then_recovers(run_python, tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("")
    result = run_python(f"""
        import orbandile as ob
        try:
            ob.logging.initialize({str(blocker / "x.log")!r})
        except RuntimeError:
            print("raised")
        ob.logging.initialize()
        ob.logging.enable_console()
        ob.logging.info("works")
    """)
    assert result.stdout.splitlines() == ["raised", "[info] works"]


def test_sigint_after_import_still_interrupts_python(run_python):
    result = run_python(then_sigint_reaches_python("""
        import orbandile
    """))
    assert result.stdout.strip() == "python interrupted"


def test_logging_refuses_values_outside_the_enumerations(run_python):
    # Before and after initialize: each refusal is a ValueError, never a crash or a stray read.
    result = run_python("""
        import orbandile as ob
        L = ob.logging
        calls = [
            lambda: L.info("x", L.channel(1000000)),
            lambda: L.warn("x", L.channel(3)),
            lambda: L.debug("x", L.channel(2**32 - 1)),
            lambda: L.set_level(L.level.info, L.channel(3)),
            lambda: L.set_level(L.level(7)),
            lambda: L.set_level(L.level(-1), L.channel.user),
        ]
        def run_all():
            for call in calls:
                try:
                    call()
                    print("accepted")
                except ValueError as e:
                    print("ValueError", e)
        run_all()
        try:
            L.initialize("", L.level(100))
        except ValueError as e:
            print("ValueError", e)
        L.initialize()
        L.enable_console()
        run_all()
        L.info("still works", L.channel.user)
    """, env={k: v for k, v in os.environ.items() if k != "SPDLOG_LEVEL"})
    assert result.returncode == 0, result.stderr
    channels = "the channels are 0 (general), 1 (resources) and 2 (user)"
    levels = "the levels run from 0 (trace) to 6 (off)"
    refusals = [f"ValueError invalid logging channel 1000000: {channels}",
                f"ValueError invalid logging channel 3: {channels}",
                f"ValueError invalid logging channel 4294967295: {channels}",
                f"ValueError invalid logging channel 3: {channels}",
                f"ValueError invalid logging level 7: {levels}",
                f"ValueError invalid logging level -1: {levels}"]
    assert result.stdout.splitlines() == [
        *refusals, f"ValueError invalid logging level 100: {levels}", *refusals, "[info] still works"]


# An instance of each class of the module, and of the iterator types its methods return. A class
# missing here (one without a constructor, or a new one) is pickled as a bare cls.__new__(cls).
PICKLE_SUBJECTS = {
    "Annotation": "ob.Annotation('a:1')",
    "ParsedBasicState": "ob.ParsedBasicState('|1,0>')",
    "AnnotatedFockState": "ob.AnnotatedFockState('|{a:1},0>')",
    "ModeIterator": "iter(ob.FockState([1, 0]))",
    "FockState": "ob.FockState([1])",
    "NoisyFockState": "ob.NoisyFockState('|{0},1>')",
    "StateVector": "ob.StateVector(ob.FockState([1]))",
    "FSMask": "ob.FSMask(2, 1, ['  '])",
    "FSArray": "ob.FSArray(2, 1)",
    "FSMap": "ob.FSMap(ob.FSArray(2, 1), ob.FSArray(2, 0), True)",
    "SLOS_V2": "ob.SLOS_V2()",
    "SLOS_V3": "ob.SLOS_V3()",
    "SLOS": "ob.SLOS()",
    "BSCount": "ob.BSCount({ob.FockState([1]): 2})",
    "KeysView": "ob.BSCount({ob.FockState([1]): 2}).keys()",
    "ValuesView": "ob.BSCount({ob.FockState([1]): 2}).values()",
    "ItemsView": "ob.BSCount({ob.FockState([1]): 2}).items()",
    "BSSamples": "ob.BSSamples()",
    "FSDistribution": "ob.FSDistribution(ob.FockState([1]))",
    "FSFunction": "ob.FSFunction()",
    "SVDistribution": "ob.SVDistribution()",
    "iter(Annotation)": "iter(ob.Annotation('a:1'))",
    "iter(StateVector)": "iter(ob.StateVector(ob.FockState([1])))",
    "iter(FSArray)": "iter(ob.FSArray(2, 1))",
    "iter(BSCount)": "iter(ob.BSCount())",
    "iter(BSSamples)": "iter(ob.BSSamples())",
    "iter(FSDistribution)": "iter(ob.FSDistribution(ob.FockState([1])))",
}
PICKLED_ENUMERATIONS = {"logging.level": "ob.logging.level.warn", "logging.channel": "ob.logging.channel.user"}


def module_classes(namespace=ob, prefix=""):
    for name, value in vars(namespace).items():
        if isinstance(value, type) and value.__module__ == "orbandile":
            yield prefix + name
            yield from module_classes(value, f"{prefix}{name}.")


def pickle_subjects():
    subjects = {name: PICKLE_SUBJECTS.get(name, f"ob.{name}.__new__(ob.{name})")
                for name in module_classes() if name not in PICKLED_ENUMERATIONS}
    return {**subjects, **{name: code for name, code in PICKLE_SUBJECTS.items() if "(" in name}}


@pytest.mark.parametrize("name", sorted(pickle_subjects()))
def test_no_instance_pickles_at_any_protocol(run_python, name):
    # Protocols 0 and 1 used to abort the interpreter: only a subprocess lets that fail the test.
    result = run_python(f"""
        import pickle
        import orbandile as ob
        x = {pickle_subjects()[name]}
        print(type(x).__name__)
        for protocol in range(6):
            try:
                pickle.dumps(x, protocol)
                print(protocol, "pickled")
            except TypeError as e:
                print(protocol, e)
    """)
    assert result.returncode == 0, result.stderr
    type_name, *lines = result.stdout.splitlines()
    qualified = "iterator" if type_name == "iterator" else f"orbandile.{name}"
    message = f"cannot pickle '{qualified}' object"
    assert lines == [f"{protocol} {message}" for protocol in range(6)]


@pytest.mark.parametrize("name", sorted(pickle_subjects()))
def test_direct_reduce_calls_refuse_like_pickle(run_python, name):
    # object.__reduce__ reduces at protocol 0, which used to abort the interpreter as well.
    result = run_python(f"""
        import orbandile as ob
        x = {pickle_subjects()[name]}
        print(type(x).__name__)
        for reduce in [x.__reduce__] + [lambda p=p: x.__reduce_ex__(p) for p in range(6)]:
            try:
                reduce()
                print("reduced")
            except TypeError as e:
                print(e)
    """)
    assert result.returncode == 0, result.stderr
    type_name, *lines = result.stdout.splitlines()
    qualified = "iterator" if type_name == "iterator" else f"orbandile.{name}"
    assert lines == [f"cannot pickle '{qualified}' object"] * 7


@pytest.mark.parametrize("name", sorted(PICKLED_ENUMERATIONS))
def test_enumerations_pickle_at_every_protocol(run_python, name):
    assert name in set(module_classes())
    result = run_python(f"""
        import copy, pickle
        import orbandile as ob
        for x in ({PICKLED_ENUMERATIONS[name]}, ob.{name}(7)):
            for protocol in range(6):
                y = pickle.loads(pickle.dumps(x, protocol))
                print(type(y) is type(x) and y == x and int(y) == int(x))
            print(copy.copy(x) == x, copy.deepcopy(x) == x)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True"] * 16


def test_sigint_reaches_python_after_overlapping_long_calls(run_python):
    # Thread 2 starts while thread 1 runs and ends last: the interpreter's handler must come back.
    result = run_python(then_sigint_reaches_python("""
        import threading, time
        import numpy as np
        import orbandile as ob
        ends = {}
        first_started = threading.Event()
        def run(name, n, after):
            if after is not None:
                after.wait()
                time.sleep(0.05)
            ends[name, "start"] = time.monotonic()
            if after is None:
                first_started.set()
            ob.sub_permanents_fl(np.full((n + 1, n), 0.5))
            ends[name, "end"] = time.monotonic()
        # The second call starts once the first is under way, and has three times its work.
        threads = [threading.Thread(target=run, args=("first", 26, None)),
                   threading.Thread(target=run, args=("second", 27, first_started))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print("overlapped", ends["second", "start"] < ends["first", "end"] < ends["second", "end"])
    """))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["overlapped True", "python interrupted"]


# Enumerations and estimates that could run for hours; each must stop at Ctrl-C within a moment.
LONG_CALLS = {
    "partition": "ob.FockState([40]).partition([4] * 10)",
    "FSArray": "ob.FSArray(40, 12, ob.FSMask(40, 12, ['*' * 40]))",
    "estimate_permanent_cx": "ob.estimate_permanent_cx(np.ones((20, 20), dtype=complex), 2**31)",
}


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_sigint_interrupts_long_calls(name):
    code = then_sigint_reaches_python(f"""
        import numpy as np, orbandile as ob
        print("ready", flush=True)
        try:
            {LONG_CALLS[name]}
            print("finished", flush=True)
        except KeyboardInterrupt as e:
            print("interrupted:", e, flush=True)
        # The flag the interruption left set stops neither native code that no scope covers (a
        # masked SLOS walks 12376 states) nor the next long call, which clears it.
        slos = ob.SLOS()
        slos.set_unitary(np.eye(12, dtype=complex))
        slos.set_input_state(ob.FockState([1] * 6 + [0] * 6))
        slos.set_mask(ob.FSMask(12, 6, ["*" * 12]))
        print(len(slos.all_probabilities()), flush=True)
        print(len(ob.FockState([2, 2]).partition([2, 2])),
              ob.FSArray(12, 6, ob.FSMask(12, 6, ["*" * 12])).count(),
              ob.estimate_permanent_fl(np.eye(3), 10000), flush=True)
    """)
    assert run_and_interrupt(code) == ["interrupted: Process interrupted by user.", "12376",
                                       "3 12376 (1.0, 0.0)", "python interrupted"]


def test_instances_made_by_new_alone_refuse_use(run_python):
    # cls.__new__(cls) skips __init__: the instance has no value to read, for the classes and for
    # the iterator types the module makes on first use.
    result = run_python("""
        import orbandile as ob
        made = [ob.FSDistribution({ob.FockState([1]): 1.0}), ob.StateVector([1]), ob.FockState([1]),
                ob.BSCount(), ob.BSSamples(), ob.Annotation("a:1"), ob.FSArray(2, 1)]
        types = [type(iter(x)) for x in made]
        types += [t for t in vars(ob).values() if isinstance(t, type) and hasattr(t, "__copy__")]
        for t in types:
            x = t.__new__(t)
            for use in ("__copy__", "__next__", "__len__", "__str__", "__hash__"):
                if callable(vars(t).get(use)):
                    try:
                        getattr(x, use)()
                    except TypeError as e:
                        assert "never initialised" in str(e), (t, use, e)
                    else:
                        raise AssertionError(f"{t.__name__}.{use} used an uninitialised value")
        print("ok")
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["ok"]
