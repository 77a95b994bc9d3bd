"""Hostile input to every bound callable of ``orbandile``: the tests of the ``hostile`` package.

Environment: ORBANDILE_HOSTILE_COUNT, ORBANDILE_HOSTILE_SEED, ORBANDILE_HOSTILE_TIMEOUT,
ORBANDILE_HOSTILE_JOBS (see ``hostile/__init__.py``). Run as a script, the file prints every
finding of a long campaign, or replays one case:

    python tests/python/test_hostile_input.py --count 100000 --jobs 4
    python tests/python/test_hostile_input.py --replay SEED:INDEX
"""

import random

from hostile.cli import main
from hostile.discovery import ENTRIES, ENTRY_BY_KEY
from hostile.generator import Gen, UnknownType
from hostile.runner import campaign, format_finding
from hostile.settings import COUNT, JOBS, SEED
from hostile.templates import templates_of


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


def test_hostile_calls():
    report = campaign(SEED, COUNT, JOBS)
    summary = (f"{report.ran} cases run, skipped: {dict(report.skipped)}, "
               f"{len(report.findings)} findings (seed {SEED})")
    print(summary)
    assert not report.findings, summary + "\n\n" + "\n\n".join(map(format_finding, report.findings))


if __name__ == "__main__":
    main()
