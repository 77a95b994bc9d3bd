"""Runs cases in worker subprocesses, by batches: a crash or a hang ends a worker, and the next
one starts after the case that ended it."""

import collections
import dataclasses
import json
import os
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import traceback
import warnings

from .cases import OUTCOMES, Finding, build_case, run_case
from .settings import BATCH, TIMEOUT


def worker(seed, start, stop, fd):
    """Runs cases start..stop-1 and reports each on the pipe fd, one JSON line per event."""
    out = os.fdopen(fd, "w", buffering=1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)  # logging writes to stdout
    warnings.simplefilter("ignore")  # numpy's casting warnings
    for index in range(start, stop):
        out.write(json.dumps({"i": index, "begin": "(building the case)"}) + "\n")
        try:
            case = build_case(seed, index)
        except Exception as exc:
            out.write(json.dumps({"i": index, "end": "finding", "case": "(building the case)",
                                  "what": "harness: " + "".join(traceback.format_exception(exc))[-800:]}) + "\n")
            continue
        if case.skipped:
            out.write(json.dumps({"i": index, "skip": case.skipped}) + "\n")
            continue
        out.write(json.dumps({"i": index, "begin": case.text}) + "\n")
        try:
            latency = run_case(case)
            out.write(json.dumps({"i": index, "end": "ok", "latency": latency}) + "\n")
        except Finding as finding:
            out.write(json.dumps({"i": index, "end": "finding", "case": case.text, "what": str(finding)}) + "\n")
        except BaseException as exc:  # noqa: B036 -- an error of the harness itself
            out.write(json.dumps({"i": index, "end": "finding", "case": case.text,
                                  "what": "harness: " + "".join(traceback.format_exception(exc))[-800:]}) + "\n")
    out.write(json.dumps({"outcomes": [[k, v, n] for (k, v), n in OUTCOMES.items()]}) + "\n")
    out.write(json.dumps({"done": True}) + "\n")
    out.close()


@dataclasses.dataclass
class Report:
    findings: list = dataclasses.field(default_factory=list)
    ran: int = 0
    skipped: collections.Counter = dataclasses.field(default_factory=collections.Counter)
    outcomes: collections.Counter = dataclasses.field(default_factory=collections.Counter)
    latencies: list = dataclasses.field(default_factory=list)  # seconds from Ctrl-C to the answer

    def merge(self, other):
        self.findings += other.findings
        self.ran += other.ran
        self.skipped += other.skipped
        self.outcomes += other.outcomes
        self.latencies += other.latencies

    def summary(self, seed):
        interrupted = (f", {len(self.latencies)} interrupted long calls answered within "
                       f"{max(self.latencies):.3f} s" if self.latencies else "")
        return (f"{self.ran} cases run, skipped: {dict(self.skipped)}{interrupted}, "
                f"{len(self.findings)} findings (seed {seed})")


def run_range(seed, start, stop, report, timeout, address_limit=None):
    """Runs cases start..stop-1 in successive workers; a crash or a hang ends a worker, the next
    one starts after the case that ended it. address_limit (bytes) limits the workers' address
    space, as ulimit -v does."""
    # The directory above the package, where the workers import it from.
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    with tempfile.TemporaryDirectory(prefix="hostile-") as scratch:  # for the log files of logging
        run_workers(seed, start, stop, report, timeout, here, scratch, address_limit)


def run_workers(seed, start, stop, report, timeout, here, scratch, address_limit):
    while start < stop:
        read_fd, write_fd = os.pipe()
        log = tempfile.TemporaryFile()
        # Set by the worker itself: a preexec_fn is not safe with the threads of several jobs.
        limit = (f"import resource; resource.setrlimit(resource.RLIMIT_AS, ({address_limit}, {address_limit})); "
                 if address_limit else "")
        code = (f"{limit}import sys; sys.path.insert(0, {here!r}); import hostile.runner as h; "
                f"h.worker({seed}, {start}, {min(stop, start + BATCH)}, {write_fd})")
        process = subprocess.Popen([sys.executable, "-c", code], pass_fds=(write_fd,), stdout=log, stderr=log,
                                   stdin=subprocess.DEVNULL, cwd=scratch)
        os.close(write_fd)
        lines = queue.Queue()

        def pump(fd=read_fd):
            with os.fdopen(fd) as pipe:
                for line in pipe:
                    lines.put(line)
            lines.put(None)

        threading.Thread(target=pump, daemon=True).start()
        current, done = None, False
        while True:
            try:
                line = lines.get(timeout=timeout)
            except queue.Empty:
                process.kill()
                process.wait()
                report.findings.append(finding_record(seed, current, "hang", f"no answer in {timeout} s"))
                start = current["i"] + 1
                break
            if line is None:
                process.wait()
                if done:
                    start = min(stop, start + BATCH)
                else:
                    log.seek(0)
                    tail = crash_report(log.read().decode(errors="replace"))
                    status = process.returncode
                    what = (f"killed by {signal.Signals(-status).name}" if status < 0 else f"exit status {status}")
                    report.findings.append(finding_record(seed, current, "crash", what + "\n" + tail))
                    start = (current["i"] + 1) if current else stop
                break
            event = json.loads(line)
            if event.get("done"):
                done = True
            elif "outcomes" in event:
                report.outcomes.update({(k, v): n for k, v, n in event["outcomes"]})
            elif "skip" in event:
                report.skipped[event["skip"]] += 1
            elif "begin" in event:
                current = event
            elif event.get("end") == "finding":
                report.ran += 1
                report.findings.append(finding_record(seed, {"i": event["i"], "begin": event["case"]},
                                                      "exception", event["what"]))
            else:
                report.ran += 1
                if event.get("latency") is not None:
                    report.latencies.append(event["latency"])
        log.close()


def crash_report(output):
    """A sanitizer's report from its first line, else the end of what the worker printed."""
    start = min((i for i in (output.find("ERROR: AddressSanitizer"), output.find("runtime error:")) if i >= 0),
                default=-1)
    if start >= 0:
        start = output.rfind("\n", 0, start) + 1
        return output[start:start + 2500]
    return output[-1500:]


def finding_record(seed, current, kind, what):
    index = current["i"] if current else None
    return {"seed": seed, "index": index, "kind": kind, "case": current["begin"] if current else "?",
            "what": what.strip()}


def campaign(seed, count, jobs=1, timeout=TIMEOUT, address_limit=None):
    report = Report()
    if jobs <= 1:
        run_range(seed, 0, count, report, timeout, address_limit)
        return report
    chunk = -(-count // jobs)
    reports = [Report() for _ in range(jobs)]
    threads = [threading.Thread(target=run_range, args=(seed, j * chunk, min(count, (j + 1) * chunk), reports[j],
                                                         timeout, address_limit)) for j in range(jobs)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in reports:
        report.merge(r)
    return report


def format_finding(f):
    return (f"[{f['kind']}] {f['case']}\n    {f['what']}\n"
            f"    replay: python tests/python/test_hostile_input.py --replay {f['seed']}:{f['index']}")

