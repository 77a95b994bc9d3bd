"""The settings of a campaign, from the environment, and what counts as an accepted answer."""

import os

SEED = int(os.environ.get("ORBANDILE_HOSTILE_SEED", "20240613"))
COUNT = int(os.environ.get("ORBANDILE_HOSTILE_COUNT", "3000"))
TIMEOUT = float(os.environ.get("ORBANDILE_HOSTILE_TIMEOUT", "10"))
JOBS = int(os.environ.get("ORBANDILE_HOSTILE_JOBS", "1"))
BATCH = 1000  # cases per worker process; a crash or a hang ends a worker early

ACCEPTED = (TypeError, ValueError, RuntimeError, IndexError, OverflowError, KeyError)
