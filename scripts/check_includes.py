#!/usr/bin/env python3
"""Checks the include rule between the areas of src/.

Each folder src/<area>/ has a README.md whose "Uses:" paragraph names, in backticks, the areas its
files may include besides their own (`runtime/`, `states/`, ...). A file of src/<area>/ or of
tests/cpp/<area>/ that includes "<other>/..." for an area not named there breaks the rule, and so
does a "../" include or a pybind11 include outside src/python/. Exits 1 listing every violation.
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


def find_cycle(rules):
    """Areas that reach themselves through the "Uses:" lines, as a path, or None."""
    done = set()

    def visit(area, path):
        if area in path:
            return path[path.index(area):] + [area]
        if area in done:
            return None
        for other in sorted(rules.get(area, set()) - {area}):
            cycle = visit(other, path + [area])
            if cycle:
                return cycle
        done.add(area)
        return None

    for area in sorted(rules):
        cycle = visit(area, [])
        if cycle:
            return cycle
    return None


def sources(folder):
    return sorted(p for p in folder.rglob("*") if p.suffix in SOURCE_SUFFIXES and p.is_file())


def check_file(path, area, rules, errors):
    allowed = rules.get(area, set()) | {area}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        target = match.group(1)
        where = f"{path.relative_to(ROOT)}:{number}"
        head = target.split("/", 1)[0]
        if head in ("pybind11", "Python.h") and area != BINDINGS:
            errors.append(f"{where}: {target} outside src/{BINDINGS}/")
        elif ".." in target.split("/"):
            errors.append(f'{where}: "{target}" climbs out of its folder; name the area instead')
        elif area is not None and head in rules and head not in allowed:
            errors.append(f"{where}: {area}/ may not include {target} (src/{area}/README.md)")


def main():
    errors = []
    rules = read_rules(errors)
    cycle = find_cycle(rules)
    if cycle:
        loop = " -> ".join(f"{area}/" for area in cycle)
        errors.append(f"src/*/README.md: the 'Uses:' lines run in a circle: {loop}")
    for area in rules:
        for path in sources(SRC / area):
            check_file(path, area, rules, errors)
        if (TESTS / area).is_dir():
            for path in sources(TESTS / area):
                check_file(path, area, rules, errors)
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
