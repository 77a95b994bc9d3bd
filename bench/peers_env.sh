#!/usr/bin/env bash
# Creates, or completes, the environment of the peer libraries that `bench/run.py peers` times
# next to orbandile: thewalrus, and piquasso where it installs. It is never a dependency of the
# module. Safe to run again: it installs only what is missing. Prints the environment's python.
# Usage: bash bench/peers_env.sh [DIR]   (default: build/bench-venv)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="${1:-$root/build/bench-venv}"
if [ ! -x "$venv/bin/python" ]; then
    python3 -m venv "$venv"
fi
py="$venv/bin/python"
if ! "$py" -c "import numpy, thewalrus" 2>/dev/null; then
    "$py" -m pip install -q numpy thewalrus >&2
fi
if ! "$py" -c "import piquasso" 2>/dev/null; then
    "$py" -m pip install -q piquasso >&2 || echo "piquasso does not install here; run.py goes on without it" >&2
fi
echo "$py"
