#!/usr/bin/env bash
# Checks the include rule between the areas and the formatting, builds everything and runs every
# test: the C++ tests, the same tests under the sanitizers, and the Python tests.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
python3 scripts/check_includes.py
bash scripts/setup.sh --tests
bash scripts/check_format.sh
bash scripts/build.sh --asan
jobs=$(nproc)
ctest --test-dir build/release -j "$jobs" --output-on-failure
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/asan -j "$jobs" --output-on-failure
.venv/bin/python -m pytest -q tests/python
