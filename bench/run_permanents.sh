#!/usr/bin/env bash
# Times the permanents next to thewalrus's perm (and piquasso's where it installs). The peers go
# into a benchmark environment of their own (build/bench-venv), never into the project's
# dependencies.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
compgen -G "build/release/python/orbandile*.so" >/dev/null || bash scripts/build.sh
peers="$(bash bench/peers_env.sh)"
exec .venv/bin/python bench/run.py peers permanents --peers "$peers" "$@"
