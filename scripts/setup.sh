#!/usr/bin/env bash
# Installs what the build needs: Debian packages when missing, and the .venv with the Python
# dependencies. With --tests, also what only the tests, the benchmarks and the format check need
# (GoogleTest, Google Benchmark, clang-format). Idempotent and quick when everything is already
# there.
#
#   scripts/setup.sh [--tests]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

debian_packages=(
    build-essential cmake ninja-build ccache pkg-config python3-dev python3-venv
    libeigen3-dev libprotobuf-dev protobuf-compiler libspdlog-dev libfmt-dev libnlopt-cxx-dev
    libpcre2-dev
)
if [ "${1:-}" = "--tests" ]; then
    debian_packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang-format)
fi
missing=()
for pkg in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
stamp=.venv/.requirements.sha
want=$(sha256sum scripts/requirements.txt | cut -d' ' -f1)
if [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    .venv/bin/python -m pip install -q --upgrade pip
    .venv/bin/python -m pip install -q -r scripts/requirements.txt
    echo "$want" >"$stamp"
fi
