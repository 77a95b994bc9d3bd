"""How fast each long call of the module answers Ctrl-C: for every call of tests/python/long_calls.py,
how long it runs when nothing stops it (up to a cap), then the time from SIGINT, sent about a
second into the call, to the KeyboardInterrupt, over a few tries; printed as a markdown table.
Every run is a fresh interpreter with the module the current PYTHONPATH finds.

    PYTHONPATH=build/release/python .venv/bin/python bench/interrupt_latency.py [--cap 30] [filter]
"""
import argparse
import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

from long_calls import LONG_CALLS, interrupt, unhindered  # noqa: E402


def row(name, cap, tries, delay):
    seconds = unhindered(name, cap)
    answers = [interrupt(name, delay=delay) for _ in range(tries)]
    latencies = [a.latency for a in answers if a.outcome.startswith("interrupted in the call")]
    others = sorted({a.outcome for a in answers if not a.outcome.startswith("interrupted in the call")})
    latency = (f"{statistics.median(latencies) * 1e3:.0f} ms, {max(latencies) * 1e3:.0f} ms"
               if latencies else "")
    if others:
        latency += ("; " if latency else "") + ", ".join(o.replace("returned", "returned before SIGINT")
                                                         for o in others)
    ok = all(a.next_ok and a.python_interrupted and a.status == 0 for a in answers)
    ran = f"> {cap:g} s" if seconds is None else f"{seconds:.2f} s"
    return f"| {name} | {ran} | {latency} | {'yes' if ok else 'no'} |"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("filter", nargs="?", default="", help="runs the calls whose name contains this")
    parser.add_argument("--cap", type=float, default=30, help="seconds a call may run unhindered")
    parser.add_argument("--tries", type=int, default=3)
    parser.add_argument("--delay", type=float, default=1.0, help="seconds into the call before SIGINT")
    options = parser.parse_args()
    print("| call | runs unhindered | latency after SIGINT (median, max) | next call ok |")
    print("|---|---|---|---|")
    for name in LONG_CALLS:
        if options.filter in name:
            print(row(name, options.cap, options.tries, options.delay), flush=True)


if __name__ == "__main__":
    main()
