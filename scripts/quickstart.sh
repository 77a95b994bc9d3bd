#!/usr/bin/env bash
# Builds everything and runs the quick-start example.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/build.sh
exec .venv/bin/python examples/quickstart.py
