#!/usr/bin/env bash
# Times the permanents next to thewalrus's perm. thewalrus goes into a benchmark environment of
# its own (build/bench-venv), never into the project's dependencies.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
compgen -G "build/release/python/orbandile*.so" >/dev/null || bash scripts/build.sh
venv=build/bench-venv
if [ ! -x "$venv/bin/python" ]; then
    python3 -m venv "$venv"
    "$venv/bin/python" -m pip install -q numpy thewalrus
fi
PYTHONPATH="$root/build/release/python" exec "$venv/bin/python" bench/run.py "permanent table"
