#!/usr/bin/env bash
# Builds the extension module (no tests, no benchmarks) and runs the quick-start example.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/build.sh --module
exec .venv/bin/python examples/quickstart.py
