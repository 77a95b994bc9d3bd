"""The command line: a long campaign that prints every finding, or the replay of one case."""

import argparse
import collections
import json
import sys
import time

from .cases import build_case, run_case
from .discovery import ENTRIES
from .runner import campaign, format_finding
from .settings import COUNT, JOBS, SEED, TIMEOUT


def main():
    parser = argparse.ArgumentParser(description="hostile calls to every entry point of orbandile")
    parser.add_argument("--seed", type=int, default=SEED)
    parser.add_argument("--count", type=int, default=COUNT)
    parser.add_argument("--jobs", type=int, default=JOBS)
    parser.add_argument("--timeout", type=float, default=TIMEOUT)
    parser.add_argument("--address-limit", type=float, help="GiB of address space per worker, as ulimit -v")
    parser.add_argument("--replay", help="SEED:INDEX, runs one case in this process")
    parser.add_argument("--json", help="writes the findings to this file")
    parser.add_argument("--outcomes", action="store_true",
                        help="prints how often each entry point answered and with which exception")
    options = parser.parse_args()
    if options.replay:
        seed, index = map(int, options.replay.split(":"))
        case = build_case(seed, index)
        print(case.text, f"(skipped: {case.skipped})" if case.skipped else "", flush=True)
        latency = run_case(case)
        print("no finding" + (f", Ctrl-C answered in {latency:.3f} s" if latency is not None else ""))
        return
    started = time.monotonic()
    limit = int(options.address_limit * 2**30) if options.address_limit else None
    report = campaign(options.seed, options.count, options.jobs, options.timeout, limit)
    for f in report.findings:
        print(format_finding(f), end="\n\n")
    if options.outcomes:
        per_entry = collections.defaultdict(dict)
        for (key, outcome), n in report.outcomes.items():
            per_entry[key][outcome] = n
        for key in sorted(e.key.removesuffix("#again") for e in ENTRIES if "#again" not in e.key):
            outcomes = per_entry.get(key, {})
            print(f"{key:48} " + " ".join(f"{o}={n}" for o, n in sorted(outcomes.items(), key=lambda x: -x[1])))
    if options.json:
        with open(options.json, "w") as out:
            json.dump(report.findings, out, indent=1)
    print(f"{report.summary(options.seed)} in {time.monotonic() - started:.0f} s")
    sys.exit(1 if report.findings else 0)

