"""Hostile input to every bound callable of ``orbandile``: the tests of the ``hostile`` package.

Environment: ORBANDILE_HOSTILE_COUNT, ORBANDILE_HOSTILE_SEED, ORBANDILE_HOSTILE_TIMEOUT,
ORBANDILE_HOSTILE_JOBS, ORBANDILE_HOSTILE_INTERRUPT_BOUND (see ``hostile/__init__.py``). Run as a script, the file prints every
finding of a long campaign, or replays one case:

    python tests/python/test_hostile_input.py --count 100000 --jobs 4
    python tests/python/test_hostile_input.py --replay SEED:INDEX
"""

import random

import pytest

from hostile.cli import main
from hostile.discovery import ENTRIES, ENTRY_BY_KEY
from hostile.generator import Gen, UnknownType
from hostile.runner import campaign, format_finding
from hostile.settings import COUNT, JOBS, SEED
from hostile.templates import templates_of
from long_calls import sanitized


def test_every_callable_gets_arguments_of_its_types():
    """A new entry point with a parameter type the generator does not know fails here."""
    g = Gen(random.Random(0))
    missing = []
    for entry in ENTRIES:
        for template in templates_of(entry):
            try:
                receiver = entry.owner if entry.kind not in ("method", "getter", "setter") else g.instance(entry.owner)
                template(g, receiver)
            except UnknownType as e:
                missing.append(f"{entry.key}: {e}")
    assert not missing, "types without a generator:\n" + "\n".join(missing)


def test_discovery_reaches_every_kind_of_entry_point():
    keys = set(ENTRY_BY_KEY)
    for key in ["permanent_fl", "FockState.__init__", "FockState.__imul__", "FockState.m", "Config.use_single_precision=",
                "logging.set_level", "logging.level.__setstate__", "FSFunction.__setitem__", "*.__reduce__",
                "SVDistribution.tensor_product", "ModeIterator.__next__", "BSCount.items"]:
        assert key in keys
    assert len(ENTRIES) > 350


def check_campaign(seed, count, address_limit=None):
    report = campaign(seed, count, JOBS, address_limit=address_limit)
    summary = report.summary(seed)
    print(summary)
    assert not report.findings, summary + "\n\n" + "\n\n".join(map(format_finding, report.findings))


def test_hostile_calls():
    check_campaign(SEED, COUNT)


@pytest.mark.skipif(sanitized(), reason="the address sanitizer reserves terabytes of address space")
def test_hostile_calls_under_an_address_space_limit():
    """As under ulimit -v: a size beyond the limit is refused with a ValueError, never a
    MemoryError or an abort (thread-local data or a thread stack that cannot be mapped)."""
    check_campaign(SEED + 1, COUNT // 3, address_limit=4 << 30)


if __name__ == "__main__":
    main()
