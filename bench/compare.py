"""Runs the same Google Benchmark cases of two orbandile_bench binaries, one case after the other
in turn, so that both see the same load on a shared machine, and prints their medians.

Usage: python3 bench/compare.py BEFORE AFTER FILTER [--repetitions N] [--min-time SECONDS]
                                 [--rounds R] [--cpu CORE]

FILTER is a --benchmark_filter regular expression; cases that only one binary registers are run
on that one. Times are medians of N repetitions in ms: real time for the cases that use it
(".../real_time"), CPU time for the others, as their rate counters do; ns/update is the inverse
of the row_updates counter of the permanent benchmarks. With R rounds each case runs before,
after, before, after, ... and the figure is the lowest of the R medians, the one a burst of
other work disturbed least. --cpu pins both binaries to one core (taskset), so that several
comparisons can share a machine without moving between cores.
"""

import argparse
import json
import re
import subprocess


def listed(binary, pattern):
    out = subprocess.run([binary, "--benchmark_list_tests=true", f"--benchmark_filter={pattern}"],
                         capture_output=True, text=True, check=True).stdout
    return [line.strip() for line in out.splitlines() if line.strip()]


def median(binary, name, repetitions, min_time, cpu):
    exact = "^" + re.sub(r"([.^$|()\[\]{}*+?\\])", r"\\\1", name) + "$"
    pin = ["taskset", "-c", str(cpu)] if cpu is not None else []
    out = subprocess.run(pin + [binary, f"--benchmark_filter={exact}",
                          f"--benchmark_repetitions={repetitions}",
                          "--benchmark_report_aggregates_only=true",
                          f"--benchmark_min_time={min_time}", "--benchmark_format=json"],
                         capture_output=True, text=True, check=True).stdout
    for run in json.loads(out)["benchmarks"]:
        if run.get("aggregate_name") == "median" or repetitions == 1:
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run["time_unit"]]
            # The time the case's rate counters use: real time where it asks for it, else CPU.
            time = run["real_time"] if name.endswith("/real_time") else run["cpu_time"]
            updates = run.get("row_updates")
            return time * scale, (1e9 / updates if updates else None)
    return None, None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("filter")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--min-time", type=float, default=0.2)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--cpu", type=int)
    arguments = parser.parse_args()
    before_names = set(listed(arguments.before, arguments.filter))
    after_names = listed(arguments.after, arguments.filter)
    names = after_names + sorted(before_names - set(after_names))
    print(f"{'case':40} {'before ms':>11} {'after ms':>11} {'ratio':>7} "
          f"{'before ns/update':>17} {'after ns/update':>16}")
    for name in names:
        rounds = [[], []]
        for _ in range(arguments.rounds):
            for side, (binary, has) in enumerate(((arguments.before, name in before_names),
                                                  (arguments.after, name in after_names))):
                if has:
                    rounds[side].append(median(binary, name, arguments.repetitions,
                                               arguments.min_time, arguments.cpu))
        (before, before_ns), (after, after_ns) = (min(r, key=lambda v: v[0]) if r else (None, None)
                                                  for r in rounds)
        text = lambda v, f: format(v, f) if v is not None else ""
        ratio = before / after if before and after else None
        print(f"{name:40} {text(before, '11.4g')} {text(after, '11.4g')} {text(ratio, '7.2f')} "
              f"{text(before_ns, '17.3f')} {text(after_ns, '16.3f')}", flush=True)


if __name__ == "__main__":
    main()
