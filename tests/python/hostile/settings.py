"""The settings of a campaign, from the environment, and what counts as an accepted answer."""

import os

SEED = int(os.environ.get("ORBANDILE_HOSTILE_SEED", "20240613"))
COUNT = int(os.environ.get("ORBANDILE_HOSTILE_COUNT", "3000"))
TIMEOUT = float(os.environ.get("ORBANDILE_HOSTILE_TIMEOUT", "10"))
JOBS = int(os.environ.get("ORBANDILE_HOSTILE_JOBS", "1"))
# Three cases in two thousand send Ctrl-C to one of the long calls, in a fresh interpreter.
INTERRUPT_SHARE = 0.0015
# Seconds from SIGINT to the answer; loose, for a loaded machine and the sanitizers' slower code.
INTERRUPT_BOUND = float(os.environ.get("ORBANDILE_HOSTILE_INTERRUPT_BOUND", "2"))
BATCH = 1000  # cases per worker process; a crash or a hang ends a worker early

ACCEPTED = (TypeError, ValueError, RuntimeError, IndexError, OverflowError, KeyError)
