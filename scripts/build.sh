#!/usr/bin/env bash
# Builds the native library, the extension module, the C++ tests and the benchmarks into
# build/release, and points .venv at the module. With --asan, also builds the C++ tests
# with the address and undefined-behaviour sanitizers into build/asan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
# Cache hits across clones of the repository (CI builds a fresh clone each time).
export CCACHE_BASEDIR="$root"
py=.venv/bin/python
pybind11_dir=$("$py" -m pybind11 --cmakedir)

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -Dpybind11_DIR="$pybind11_dir" -DPython_EXECUTABLE="$root/$py" "$@" >/dev/null
}

configure build/release
cmake --build build/release -j "$jobs"

site=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
echo "$root/build/release/python" >"$site/orbandile-dev.pth"

if [ "${1:-}" = "--asan" ]; then
    # -O1 is the sanitizers' usual level: it keeps reports readable and halves the build time.
    configure build/asan -DORBANDILE_SANITIZE=ON -DORBANDILE_PYTHON=OFF -DORBANDILE_BENCH=OFF \
        -DCMAKE_CXX_FLAGS_RELEASE=-O1
    cmake --build build/asan -j "$jobs"
fi
