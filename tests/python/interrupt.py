"""Ctrl-C sent to a long call in a fresh interpreter, and Ctrl-C reaching Python afterwards."""
import signal
import subprocess
import sys
import textwrap
import time


def run_and_interrupt(code, delay=0.5, within=2.0):
    """Runs code in a new interpreter and sends it SIGINT delay seconds after it prints "ready".
    Checks that it then ends within `within` seconds (no check when None) and with exit status 0,
    and returns the lines it printed after "ready"."""
    process = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stdout=subprocess.PIPE,
                               text=True)
    try:
        assert process.stdout.readline() == "ready\n"
        time.sleep(delay)
        process.send_signal(signal.SIGINT)
        sent = time.monotonic()
        output, _ = process.communicate(timeout=60)
        if within is not None:
            assert time.monotonic() - sent < within
    finally:
        process.kill()
    assert process.returncode == 0
    return output.splitlines()


# The module catches SIGINT only while a long call runs: afterwards a Ctrl-C must reach Python
# again, as KeyboardInterrupt, and not be swallowed by a handler left behind.
SIGINT_REACHES_PYTHON = """
import os as _os, signal as _signal, time as _time
try:
    _os.kill(_os.getpid(), _signal.SIGINT)
    _time.sleep(5)
    print("not interrupted", flush=True)
except KeyboardInterrupt:
    print("python interrupted", flush=True)
"""


def then_sigint_reaches_python(code):
    """code, then a Ctrl-C to the interpreter itself, which prints "python interrupted" when it
    reaches Python (and "not interrupted" when it does not)."""
    return textwrap.dedent(code) + SIGINT_REACHES_PYTHON
