"""A case: one call, a chain of two, iteration while mutating, or calls from several threads;
built from its seed and index alone, run with the checks that make a finding."""

import collections
import dataclasses
import random
import threading

import numpy as np

import orbandile as ob
from config_state import saved_config
from long_calls import LONG_CALLS, interrupt

from .cost import arrays_in, too_costly
from .discovery import CLASS_NAMES, COMMON_BASE, ENTRIES, ENTRY_BY_KEY, Entry
from .generator import SELF, Gen, HostileError
from .settings import ACCEPTED, INTERRUPT_BOUND, INTERRUPT_SHARE, TIMEOUT
from .templates import signature_templates, templates_of


@dataclasses.dataclass
class Step:
    entry: Entry
    receiver: object
    args: tuple
    kwargs: dict
    text: str
    uninitialised: bool = False

    @property
    def key(self):
        return self.entry.key.removesuffix("#again")


def spoil(g, args):
    """Replaces one argument or a few, drops or adds one; a third of the calls keep the template."""
    args = list(args)
    if g.chance(0.33):
        return args, {}
    if args:
        positions = range(len(args)) if g.chance(0.2) else [g.rng.randrange(len(args))]
        for i in positions:
            args[i] = g.choice([g.hostile, g.hostile, g.hostile, g.any_value, lambda: SELF])()
    if not args or g.chance(0.1):
        args.append(g.hostile())
    elif g.chance(0.1):
        args.pop()
    kwargs = {}
    if g.chance(0.05):
        kwargs[g.choice(["x", "self", "m", "fs", "value", "ptype", "count"])] = g.hostile()
    return args, kwargs


def make_step(g, entry, receiver=None):
    uninitialised = False
    if receiver is None:
        if entry.kind in ("method", "getter", "setter"):
            receiver = g.instance(entry.owner)
            if entry.owner is not COMMON_BASE and isinstance(receiver, entry.owner) and g.chance(0.02):
                receiver = g.note(entry.owner.__new__(entry.owner), f"{entry.owner.__qualname__}.__new__()")
                uninitialised = True
        else:
            receiver = entry.owner
    # The explicit templates read the receiver, which an uninitialised one cannot give.
    templates = signature_templates(entry) if uninitialised else templates_of(entry)
    try:
        args = g.choice(templates)(g, receiver) if templates else ()
    except Exception:
        args = ()  # the receiver does not fit the template (an uninitialised one, say)
    args, kwargs = spoil(g, args)
    args = tuple(receiver if a is SELF else a for a in args)
    owner = "ob" if entry.owner is ob else g.describe(receiver) if entry.kind in ("method", "getter", "setter") \
        else entry.owner.__qualname__
    shown = [g.describe(a) if a is not receiver else "self" for a in args]
    shown += [f"{k}={g.describe(v)}" for k, v in kwargs.items()]
    if entry.kind in ("getter", "static_getter"):
        text = f"{owner}.{entry.name}"
    elif entry.kind in ("setter", "static_setter"):
        text = f"{owner}.{entry.name} = {', '.join(shown)}"
    elif entry.kind == "init":
        text = f"{owner}({', '.join(shown)})"
    else:
        text = f"{owner}.{entry.name}({', '.join(shown)})"
    return Step(entry, receiver, args, kwargs, text, uninitialised)


def run_step(step):
    e, r = step.entry, step.receiver
    if e.kind == "function":
        return getattr(ob, e.name)(*step.args, **step.kwargs)
    if e.kind == "init":
        return e.owner(*step.args, **step.kwargs)
    if e.kind in ("getter", "static_getter"):
        if e.kind == "getter" and (step.args or step.kwargs):
            prop = vars(e.owner)[e.name]
            return prop.fget(r, *step.args, **step.kwargs)
        return getattr(r, e.name)
    if e.kind in ("setter", "static_setter"):
        if e.kind == "setter" and (len(step.args) != 1 or step.kwargs):
            prop = vars(e.owner)[e.name]
            return prop.fset(r, *step.args, **step.kwargs)
        return setattr(r, e.name, step.args[0] if step.args else None)
    return getattr(r, e.name)(*step.args, **step.kwargs)


MUTATORS = {
    "AnnotatedFockState.inject_annotation",  # documented to annotate the state in place
}
IMMUTABLE = (ob.FockState, ob.NoisyFockState, ob.AnnotatedFockState, ob.Annotation)


def fingerprint(value):
    if isinstance(value, IMMUTABLE):
        try:
            return hash(value), str(value)
        except Exception:
            return None
    return None


@dataclasses.dataclass
class Case:
    index: int
    text: str
    steps: list  # [Step]; a case is a sequence of steps (threads: steps run together)
    threaded: bool = False
    skipped: str = None
    interrupted: tuple = None  # (long call, "set-up" or "call", seconds into it before SIGINT)


def entries_of(cls):
    return [e for e in ENTRIES if e.owner is cls and e.kind in ("method", "getter", "setter")]


ITERATION_METHODS = ("__iter__", "items", "keys", "values", "unnormalized_iterator")


def build_case(seed, index):
    g = Gen(random.Random(f"{seed}:{index}"))
    roll = g.rng.random()
    steps = []
    threaded = False
    if roll < 0.02:
        # A few calls on one shared object, from several threads at once.
        threaded = True
        cls = g.choice([ob.FSFunction, ob.BSSamples, ob.BSCount, ob.SVDistribution, ob.StateVector,
                        ob.FSDistribution, ob.SLOS, ob.SLOS_V3, ob.SLAP])
        shared = g.instance(cls)
        for _ in range(g.rng.randint(3, 6)):
            steps.append(make_step(g, g.choice(entries_of(cls)), shared))
        if g.chance(0.5):
            steps.append(make_step(g, ENTRY_BY_KEY[g.choice(["permanent_fl", "sub_permanents_cx"])]))
    elif roll < 0.10:
        # Iterate while mutating the container.
        cls = g.choice([ob.FSFunction, ob.BSSamples, ob.BSCount, ob.SVDistribution, ob.StateVector,
                        ob.FSDistribution, ob.FockState, ob.Annotation, ob.FSArray, ob.AnnotatedFockState])
        container = g.instance(cls)
        method = g.choice([m for m in ITERATION_METHODS if hasattr(cls, m)])
        steps.append(make_step(g, ENTRY_BY_KEY[f"{CLASS_NAMES[cls]}.{method}"], container))
        steps[-1] = dataclasses.replace(steps[-1], args=(), kwargs={},
                                        text=f"it = {g.describe(container)}.{method}()")
        for _ in range(g.rng.randint(1, 6)):
            if g.chance(0.5):
                steps.append(Step(None, None, (), {}, "next(it)"))
            else:
                steps.append(make_step(g, g.choice(entries_of(cls)), container))
        steps.append(Step(None, None, (), {}, "list(it)"))
    elif roll > 1 - INTERRUPT_SHARE:
        return interrupt_case(g, index)
    else:
        entry = g.choice(ENTRIES)
        steps.append(make_step(g, entry))
        if g.chance(0.3):
            steps.append(Step(None, None, (), {}, "then"))  # a call on the result, chosen at run time
    case = Case(index, "; ".join(s.text for s in steps if s.text != "then"), steps, threaded)
    for step in steps:
        if step.entry is not None and not case.skipped:
            case.skipped = "costly" if too_costly(step) else None
    case.gen = g
    return case


def interrupt_case(g, index):
    """Ctrl-C during the set-up of a long call, as it starts, or in its middle."""
    name = g.choice(sorted(LONG_CALLS))
    moment = g.choice(["set-up", "start", "middle"])
    phase, delay = {"set-up": ("set-up", g.rng.uniform(0, 0.3)), "start": ("call", g.rng.uniform(0, 0.05)),
                    "middle": ("call", g.rng.uniform(0.1, 1.0))}[moment]
    text = f"Ctrl-C {delay:.3f} s into the {moment} of {name}: {LONG_CALLS[name].call}"
    return Case(index, text, [], interrupted=(name, phase, delay))


class Finding(Exception):
    pass


def check_exception(exc, from_next=False):
    """Raises Finding when an exception is outside the documented set."""
    if isinstance(exc, HostileError):
        return
    if isinstance(exc, StopIteration) and from_next:
        return
    message = str(exc)
    bad = (not isinstance(exc, ACCEPTED) or isinstance(exc, UnicodeError)
           or type(exc) is RuntimeError and message.startswith("Caught an unknown exception"))
    if bad:
        raise Finding(f"{type(exc).__name__}: {message[:300]}")


def run_case(case):
    """Runs a case; returns the latency of its answer to Ctrl-C, for the cases that send one."""
    if case.interrupted:
        name, phase, delay = case.interrupted
        # The child is ended before the worker would count as hung.
        answer = interrupt(name, phase, delay, timeout=0.8 * TIMEOUT)
        problems = answer.problems(INTERRUPT_BOUND)
        if problems:
            raise Finding("; ".join(problems) + ": " + str(answer))
        return max(answer.latency, 0)
    with saved_config():
        if case.threaded:
            run_threaded(case)
        else:
            run_sequence(case)


class ArrayGuard:
    """Notices a write to a read-only array argument, or to the memory around a view."""

    def __init__(self, array):
        owner = array
        while isinstance(owner.base, np.ndarray):
            owner = owner.base
        self.array, self.writeable = array, array.flags.writeable
        self.owner = owner if owner.flags.c_contiguous and owner.dtype != object else None
        if self.owner is None:
            return
        self.before = self.raw().copy()
        self.inside = np.zeros(self.before.size, bool)
        if array.size:
            offsets = np.array(array.__array_interface__["data"][0] - owner.__array_interface__["data"][0])
            for length, stride in zip(array.shape, array.strides):
                offsets = np.add.outer(offsets, np.arange(length) * stride)
            covered = (offsets.reshape(-1, 1) + np.arange(array.itemsize)).reshape(-1)
            self.inside[covered[(covered >= 0) & (covered < self.inside.size)]] = True

    def raw(self):
        return self.owner.reshape(-1).view(np.uint8)

    def check(self):
        if self.owner is None:
            return
        changed = self.raw() != self.before
        if (changed & ~self.inside).any():
            raise Finding(f"wrote outside the {self.array.shape} view it was given")
        if changed.any() and not self.writeable:
            raise Finding("wrote to a read-only array")


OUTCOMES = collections.Counter()  # (entry key, "ok" or the exception's type), per worker


def call_checked(step):
    before = None if step.uninitialised else fingerprint(step.receiver)
    arg_prints = [] if step.uninitialised else [(a, fingerprint(a)) for a in step.args]
    guards = [ArrayGuard(a) for a in arrays_in(step.args)]
    try:
        result = run_step(step)
        OUTCOMES[step.key, "ok"] += 1
    except BaseException as exc:  # noqa: B036 -- KeyboardInterrupt and SystemExit are findings too
        OUTCOMES[step.key, type(exc).__name__] += 1
        check_exception(exc, from_next=step.entry.name == "__next__")
        result = None
    for guard in guards:
        guard.check()
    if before is not None and step.key not in MUTATORS and fingerprint(step.receiver) != before:
        raise Finding(f"the receiver changed: {before[1]} became {fingerprint(step.receiver)[1]}")
    for a, p in arg_prints:
        if p is not None and fingerprint(a) != p:
            raise Finding(f"an argument changed: {p[1]} became {fingerprint(a)[1]}")
    return result


def run_sequence(case):
    it = None
    result = None
    for step in case.steps:
        if step.text == "then":
            then_on_result(case, result)
        elif step.text == "next(it)":
            try:
                next(it)
            except BaseException as exc:  # noqa: B036
                check_exception(exc, from_next=True)
        elif step.text == "list(it)":
            try:
                for _, _ in zip(range(1000), it):
                    pass
            except BaseException as exc:  # noqa: B036
                check_exception(exc, from_next=True)
        else:
            result = call_checked(step)
            if step.text.startswith("it = "):
                it = iter(result) if result is not None else iter(())


def then_on_result(case, result):
    """One more call, on the result of the previous one when it is an object of the module."""
    cls = type(result)
    if cls in CLASS_NAMES or hasattr(result, "__next__"):
        g = case.gen
        if hasattr(result, "__next__"):
            try:
                for _, _ in zip(range(100), result):
                    pass
            except BaseException as exc:  # noqa: B036
                check_exception(exc, from_next=True)
            return
        g.note(result, "result")
        step = make_step(g, g.choice(entries_of(cls)), result)
        case.text += "; then " + step.text
        if too_costly(step):
            return
        call_checked(step)


def run_threaded(case):
    errors = []
    barrier = threading.Barrier(len(case.steps))

    def work(step):
        try:
            barrier.wait()
            call_checked(step)
        except BaseException as exc:  # noqa: B036
            errors.append(exc)

    threads = [threading.Thread(target=work, args=(s,)) for s in case.steps]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for exc in errors:
        if isinstance(exc, Finding):
            raise exc
        check_exception(exc)

