import subprocess
import sys
import textwrap

import pytest

from config_state import saved_config


@pytest.fixture
def run_python():
    """Runs a snippet in a fresh interpreter (for process-wide state such as logging and SIGINT)."""

    def run(code, env=None):
        return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                              text=True, timeout=60, env=env)

    return run


@pytest.fixture
def restore_config():
    """ob.Config, whose settings are put back as they were when the test ends."""
    with saved_config() as config:
        yield config
