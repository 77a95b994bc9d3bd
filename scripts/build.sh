#!/usr/bin/env bash
# Builds into build/release and points .venv at the extension module there.
#
#   scripts/build.sh            the library, the module, the C++ tests and the benchmarks
#   scripts/build.sh --module   the library and the module only (what the examples need)
#   scripts/build.sh --asan     everything, then the C++ tests with the address and
#                               undefined-behaviour sanitizers into build/asan
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
mode=${1:-}
if [ "$mode" = "--module" ]; then
    bash scripts/setup.sh
    everything=OFF
else
    bash scripts/setup.sh --tests
    everything=ON
fi

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

# The options are named every time: the cache keeps them from the last run otherwise.
configure build/release -DORBANDILE_TESTS=$everything -DORBANDILE_BENCH=$everything
cmake --build build/release -j "$jobs"

site=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
echo "$root/build/release/python" >"$site/orbandile-dev.pth"

if [ "$mode" = "--asan" ]; then
    # -O1 is the sanitizers' usual level: it keeps reports readable and halves the build time.
    configure build/asan -DORBANDILE_SANITIZE=ON -DORBANDILE_PYTHON=OFF -DORBANDILE_TESTS=ON \
        -DORBANDILE_BENCH=OFF -DCMAKE_CXX_FLAGS_RELEASE=-O1
    cmake --build build/asan -j "$jobs"
fi
