#!/usr/bin/env python3
"""Checks the include rule between the areas of src/.

The areas stand on floors, lowest first, in FLOORS below. Each folder src/<area>/ has a README.md
whose "Uses:" paragraph names, in backticks, the areas its files may include besides their own
(`runtime/`, `states/`, ...); only areas of lower floors may be named, never a sibling on the
same floor, and each one named must be included by some file of src/<area>/ or tests/cpp/<area>/.
A file of src/<area>/ or of tests/cpp/<area>/ that includes "<other>/..." for an area not named
there breaks the rule, and so does a "../" include or a pybind11 include outside src/python/.
Exits 1 listing every violation.
"""

import re
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SRC = ROOT / "src"
TESTS = ROOT / "tests" / "cpp"
BENCH = ROOT / "bench"
BINDINGS = "python"
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}

INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
USES = re.compile(r"^Uses:(.*?)(?:\n\s*\n|\Z)", re.MULTILINE | re.DOTALL)
AREA_NAME = re.compile(r"`([a-z0-9_]+)/`")

# Lowest first. Moving an area to another floor is a decision of design, made here on purpose.
FLOORS = [
    {"runtime"},
    {"states"},
    {"fockspace"},
    {"circuits", "detectors", "backends"},
    {"serialisation"},
    {"simulators"},
    {BINDINGS},
]
FLOOR = {area: level for level, areas in enumerate(FLOORS) for area in areas}


def read_rules(errors):
    """The areas each area may include, from the "Uses:" paragraph of its README."""
    rules = {}
    for folder in sorted(p for p in SRC.iterdir() if p.is_dir()):
        readme = folder / "README.md"
        if not readme.is_file():
            errors.append(f"{readme.relative_to(ROOT)}: missing; it names what {folder.name}/ uses")
            rules[folder.name] = set()
            continue
        found = USES.findall(readme.read_text())
        if len(found) != 1:
            errors.append(f"{readme.relative_to(ROOT)}: needs exactly one 'Uses:' paragraph")
            rules[folder.name] = set()
            continue
        rules[folder.name] = set(AREA_NAME.findall(found[0]))
    for area, uses in rules.items():
        for other in sorted(uses - rules.keys()):
            errors.append(f"src/{area}/README.md: names `{other}/`, which is no area of src/")
    return rules


def check_floors(rules, errors):
    """Every area has a floor, and its "Uses:" line names lower floors only."""
    for area, uses in sorted(rules.items()):
        if area not in FLOOR:
            errors.append(f"src/{area}/: no floor for it in FLOORS of scripts/check_includes.py")
            continue
        for other in sorted(uses & FLOOR.keys()):
            if FLOOR[other] >= FLOOR[area]:
                where = "on the same floor as" if FLOOR[other] == FLOOR[area] else "above"
                errors.append(f"src/{area}/README.md: names `{other}/`, {where} {area}/ (FLOORS of "
                              "scripts/check_includes.py)")


def sources(folder):
    return sorted(p for p in folder.rglob("*") if p.suffix in SOURCE_SUFFIXES and p.is_file())


def check_file(path, area, rules, errors, included=None):
    """Checks the includes of one file, and adds the areas it includes to included."""
    allowed = rules.get(area, set()) | {area}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        target = match.group(1)
        where = f"{path.relative_to(ROOT)}:{number}"
        head = target.split("/", 1)[0]
        if included is not None and head in rules:
            included.add(head)
        if head in ("pybind11", "Python.h") and area != BINDINGS:
            errors.append(f"{where}: {target} outside src/{BINDINGS}/")
        elif ".." in target.split("/"):
            errors.append(f'{where}: "{target}" climbs out of its folder; name the area instead')
        elif area is not None and head in rules and head not in allowed:
            floor = FLOOR.get(head, -1) - FLOOR.get(area, -1)
            why = " (on the same floor)" if floor == 0 else " (a floor above)" if floor > 0 else ""
            errors.append(f"{where}: {area}/ may not include {target}{why} (src/{area}/README.md)")


def main():
    errors = []
    rules = read_rules(errors)
    check_floors(rules, errors)
    for area in rules:
        included = set()
        paths = sources(SRC / area) + (sources(TESTS / area) if (TESTS / area).is_dir() else [])
        for path in paths:
            check_file(path, area, rules, errors, included)
        for other in sorted(rules[area] - included - {area}):
            errors.append(f"src/{area}/README.md: names `{other}/`, which no file of {area}/ includes")
    # Shared test helpers and benchmarks span areas; only the pybind11 rule applies to them.
    for path in [p for p in TESTS.glob("*") if p.suffix in SOURCE_SUFFIXES] + sources(BENCH):
        check_file(path, None, rules, errors)
    for error in errors:
        print(error, file=sys.stderr)
    if errors:
        print(f"check_includes: {len(errors)} violation(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
