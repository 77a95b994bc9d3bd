"""The long calls of the module and the calls whose size is refused before they allocate, each
with its set-up and a short call on the same objects that must succeed afterwards; and how to run
one in a fresh interpreter, with Ctrl-C sent at a chosen moment or under an address-space limit.
Shared by test_interrupt_long_calls.py, the hostile package and bench/interrupt_latency.py."""
import dataclasses
import os
import resource
import signal
import subprocess
import sys
import textwrap
import time

from interrupt import SIGINT_REACHES_PYTHON

HERE = os.path.dirname(os.path.abspath(__file__))

PREAMBLE = f"""
import os, signal, struct, sys, time
# A threaded BLAS spins against the other jobs of a loaded machine: haar(800) takes seconds.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
sys.path.insert(0, {HERE!r})
import numpy as np, orbandile as ob
from haar import haar_unitary

def haar(m, seed=0):
    return haar_unitary(m, seed)

def layered(layers, reflectivity=0.5):
    inner = b"\\x0a\\x01d\\x10" + bytes([layers]) + b"\\x19" + struct.pack("<d", reflectivity)
    return b"\\x0a" + bytes([len(inner)]) + inner

def backend(cls, u, state=None):
    b = cls()
    b.set_unitary(u)
    if state is not None:
        b.set_input_state(ob.FockState(state))
    return b

def svd(m, n):
    return ob.SVDistribution({{ob.StateVector(ob.FockState([1] * n + [0] * (m - n))): 1}})

def strong(cls, m, detectors=None):
    sim = ob.StrongSimulator(backend(cls, haar(m)))
    if detectors is not None:
        sim.set_detectors(detectors)
    return sim
"""


@dataclasses.dataclass(frozen=True)
class LongCall:
    setup: str
    call: str
    after: str  # short calls on the same objects; they set ok
    # The size check refuses it on a machine with less memory than the call needs.
    may_refuse: bool = False


def _all_probabilities(cls):
    return LongCall(f"b = backend(ob.{cls}, haar(20), [1] * 10 + [0] * 10)", "b.all_probabilities()",
                    "b.set_input_state(ob.FockState([1, 1] + [0] * 18)); ok = len(b.all_probabilities()) == 210")


def _strong(cls, m, n, detectors=""):
    return LongCall(f"sim = strong(ob.{cls}, {m}{detectors})", f"sim.probs_svd(svd({m}, {n}))",
                    f"ok = len(sim.probs_svd(svd({m}, 1))) > 0")


LONG_CALLS = {
    "StrongSimulator SLOS m=18 n=9": _strong("SLOS", 18, 9),
    "StrongSimulator SLAP m=18 n=9": _strong("SLAP", 18, 9),
    "StrongSimulator SLOS m=20 n=10": _strong("SLOS", 20, 10),
    "StrongSimulator SLOS_V2, 8-layer detectors, 3 photons": _strong("SLOS_V2", 4, 3, ", [layered(8)] * 4"),
    "StrongSimulator SLOS, 8-layer detectors, 2 photons": _strong("SLOS", 4, 2, ", [layered(8)] * 4"),
    "StrongSimulator SLOS, 8-layer detectors, 3 photons": _strong("SLOS", 4, 3, ", [layered(8)] * 4"),
    "StrongSimulator SLOS, 8-layer detectors, 4 photons": _strong("SLOS", 4, 4, ", [layered(8)] * 4"),
    "SLAP.all_probabilities": _all_probabilities("SLAP"),
    "SLOS.all_probabilities": _all_probabilities("SLOS"),
    "SLOS_V2.all_probabilities": _all_probabilities("SLOS_V2"),
    "SLAPSampler.sampling": LongCall("s = ob.SLAPSampler(); s.set_unitary(haar(24))",
                                     "s.sampling(ob.FockState([1] * 12 + [0] * 12), 10**8)",
                                     "ok = sum(s.sampling(ob.FockState([1, 1] + [0] * 22), 100)) == 100"),
    "RectangularDecomposer.decompose": LongCall("d = ob.RectangularDecomposer(); u = haar(800)", "d.decompose(u)",
                                                "ok = len(d.decompose(haar(4))) > 0"),
    "SourceSampler.generate_samples": LongCall(
        "s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)", "s.generate_samples(2 * 10**7)",
        "ok = len(s.generate_samples(5)) == 5"),
    "Source.generate_distribution": LongCall(
        "s = ob.Source(0.9, 0.03, 0.8)", "s.generate_distribution(ob.FockState([1] * 11))",
        "ok = len(s.generate_distribution(ob.FockState([1, 1]))) > 1", may_refuse=True),
}


@dataclasses.dataclass(frozen=True)
class TooLarge:
    setup: str
    call: str
    size: str  # what the refusal names
    after: str


TOO_LARGE = {
    "Clifford2017.samples": TooLarge(
        "s = ob.Clifford2017(); s.set_unitary(haar(4)); s.set_input_state(ob.FockState([1, 1, 0, 0]))",
        "s.samples(2**32 - 1)", "4294967295 samples", "ok = len(s.samples(10)) == 10"),
    "SourceSampler.generate_samples": TooLarge(
        "s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)",
        "s.generate_samples(4 * 10**7)", "40000000 samples", "ok = len(s.generate_samples(10)) == 10"),
    "SourceSampler.generate_separated_samples": TooLarge(
        "s = ob.Source(0.9, 0.03, 0.8).create_sampler(ob.FockState([1] * 8), 0)",
        "s.generate_separated_samples(2**31 - 1)", "2147483647 samples",
        "ok = len(s.generate_separated_samples(10)) == 10"),
    "Source.generate_distribution": TooLarge(
        "s = ob.Source(0.9, 0.03, 0.8)", "s.generate_distribution(ob.FockState([1] * 12))",
        "The 2.44e+08 states of the source's mixture",
        "ok = len(s.generate_distribution(ob.FockState([1] * 4))) == 625"),
    "Source.generate_distribution of one mode": TooLarge(
        "s = ob.Source(0.9, 0.03, 0.8)", "s.generate_distribution(ob.FockState([16, 0]))",
        "The 4.29e+09 states of the source's mixture",
        "ok = len(s.generate_distribution(ob.FockState([1, 0]))) == 5"),
    "Source.create_simple_iterator": TooLarge(
        "s = ob.Source(0.9, 0.03, 0.8, 0.1)", "s.create_simple_iterator(ob.FockState([128, 128]))",
        "events of the iterator's table",
        "ok = s.create_simple_iterator(ob.FockState([2, 1])).physical_perf > 0"),
    "layered detector": TooLarge(
        "sim = strong(ob.SLOS_V2, 1, [layered(8)])",
        "sim.probs_svd(ob.SVDistribution({ob.StateVector(ob.FockState([5])): 1}))",
        "states of 5 photons behind 8 beam-splitter layers", "ok = len(sim.probs_svd(svd(1, 1))) == 1"),
}

# The simulator's progress reports end a call with their own text once the flag is set.
INTERRUPTED = ("Process interrupted by user.", "Cancel requested.")


def _block(code, indent):
    return textwrap.indent(textwrap.dedent(code).strip(), " " * indent)


def interrupted_call_code(case):
    """The child's side: set-up, the call, then the answer's time against the parent's sending
    time (read from stdin, both on the system-wide monotonic clock), the after-call, and a later
    Ctrl-C that must reach Python."""
    refusal = ("except ValueError as e:\n    signal.signal(signal.SIGINT, note)\n"
               "    outcome = f'refused: {e}'\n") if case.may_refuse else ""
    return PREAMBLE + f"""
noted = []
def note(*_):
    noted.append(time.monotonic())

stage = "set-up"
print("setting up", flush=True)
try:
{_block(case.setup, 4)}
    stage = "call"
    print("ready", flush=True)
{_block(case.call, 4)}
    # From here on a Ctrl-C is one sent after the call ended.
    signal.signal(signal.SIGINT, note)
    outcome = "returned"
except KeyboardInterrupt as e:
    signal.signal(signal.SIGINT, note)
    outcome = f"interrupted in the {{stage}}: {{e}}"
{refusal}answered = time.monotonic()
sent = float(sys.stdin.readline())
while not outcome.startswith("interrupted") and answered < sent and not noted and time.monotonic() < sent + 30:
    time.sleep(0.01)
signal.signal(signal.SIGINT, signal.default_int_handler)
print("answer", repr(outcome), answered - sent, flush=True)
if stage == "set-up":
{_block(case.setup, 4)}
{_block(case.after, 0)}
print("next:", bool(ok), flush=True)
""" + SIGINT_REACHES_PYTHON


@dataclasses.dataclass
class Answer:
    outcome: str = "no answer"  # returned, refused: ..., interrupted in the set-up/call: ...
    latency: float = None  # seconds from SIGINT to the answer; negative when the call ended first
    next_ok: bool = False
    python_interrupted: bool = False
    status: int = None
    stderr: str = ""

    def problems(self, bound):
        """What is wrong with the answer, in words; empty when nothing is."""
        found = []
        if self.status != 0:
            found.append(f"exit status {self.status}")
        call_ended = self.outcome == "returned" or self.outcome == "interrupted in the call: "
        if not (call_ended or self.outcome.startswith(("refused: ", "interrupted in the set-up: "))
                or self.outcome.removeprefix("interrupted in the call: ") in INTERRUPTED):
            found.append(f"answered {self.outcome!r}")
        if self.latency is not None and self.latency > bound:
            lost = ": the call did not see the signal" if self.outcome == "returned" else ""
            found.append(f"answered {self.latency:.2f} s after SIGINT, more than {bound} s{lost}")
        if not self.next_ok:
            found.append("the next call on the same objects failed")
        if not self.python_interrupted:
            found.append("a later SIGINT did not reach Python")
        return found

    def __str__(self):
        latency = "?" if self.latency is None else f"{self.latency:.3f} s"
        return (f"{self.outcome} ({latency} after SIGINT), next call {'ok' if self.next_ok else 'failed'}, "
                f"later SIGINT {'reached' if self.python_interrupted else 'did not reach'} Python"
                + (f", exit status {self.status}\n{self.stderr[-2000:]}" if self.status else ""))


def interrupt(name, phase="call", delay=1.0, timeout=120):
    """Runs LONG_CALLS[name] in a fresh interpreter and sends SIGINT delay seconds after it starts
    the set-up (phase "set-up") or the call (phase "call")."""
    process = subprocess.Popen([sys.executable, "-c", interrupted_call_code(LONG_CALLS[name])],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    answer = Answer()
    try:
        wanted = "setting up\n" if phase == "set-up" else "ready\n"
        while (line := process.stdout.readline()) not in (wanted, ""):
            pass
        time.sleep(delay)
        process.send_signal(signal.SIGINT)
        sent = time.monotonic()
        output, answer.stderr = process.communicate(f"{sent!r}\n", timeout=timeout)
        answer.status = process.returncode
    except subprocess.TimeoutExpired:
        process.kill()
        output, answer.stderr = process.communicate()
        answer.outcome = f"no answer in {timeout} s"
    for line in output.splitlines():
        if line.startswith("answer "):
            outcome, latency = line.removeprefix("answer ").rsplit(" ", 1)
            answer.outcome, answer.latency = eval(outcome), float(latency)  # repr of a str
        answer.next_ok |= line == "next: True"
        answer.python_interrupted |= line == "python interrupted"
    return answer


def unhindered(name, cap):
    """Seconds LONG_CALLS[name] runs in a fresh interpreter when nothing stops it, or None when it
    runs past cap seconds (it is then killed)."""
    case = LONG_CALLS[name]
    code = PREAMBLE + textwrap.dedent(case.setup) + "\nprint('ready', flush=True)\nstart = time.monotonic()\n" + \
        f"try:\n{_block(case.call, 4)}\nexcept ValueError:\n    pass\nprint(time.monotonic() - start)\n"
    process = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        process.stdout.readline()
        output, _ = process.communicate(timeout=cap + 1)
        seconds = float(output.split()[-1])
        return seconds if seconds <= cap else None
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def sanitized():
    """True in a run under the address sanitizer, which reserves terabytes of address space: an
    address-space limit cannot be set there."""
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def limit_address_space(limit):
    """A preexec_fn that sets the child's address-space limit, as ulimit -v does."""
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def refused_under_limit(name, limit):
    """Runs TOO_LARGE[name] in a fresh interpreter under an address-space limit of limit bytes;
    returns its exit status, what it printed and its error output."""
    case = TOO_LARGE[name]
    code = PREAMBLE + textwrap.dedent(case.setup) + f"""
start = time.monotonic()
try:
{_block(case.call, 4)}
    print("returned")
except ValueError as e:
    print("refused", time.monotonic() - start < 5, e)
{_block(case.after, 0)}
print("next:", bool(ok))
"""
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300,
                            preexec_fn=limit_address_space(limit))
    return result.returncode, result.stdout.splitlines(), result.stderr
