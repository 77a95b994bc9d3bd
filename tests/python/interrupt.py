"""Ctrl-C sent to a long call in a fresh interpreter."""
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
