#!/usr/bin/env bash
# Builds the extension module and the C++ tests with the address and undefined-behaviour
# sanitizers into build/fuzz and runs the parser fuzz tests, the back-ends' and the simulators'
# sequences of setters and queries (and the hostile-input test, when present) against the module,
# then the schema readers' fuzz test, longer than CI does.
#
#   scripts/fuzz.sh [PARSER_INPUTS] [HOSTILE_CALLS]
#
# PARSER_INPUTS (default 1000000) are spread evenly over the fuzzed text parsers, and as many
# again over the schema readers; HOSTILE_CALLS (default 100000) goes to the hostile-input test;
# ORBANDILE_SEQUENCE_COUNT (default 400) sequences run on each back-end and each simulator. The
# seed is random unless ORBANDILE_FUZZ_SEED is set; it is printed first, and a failure names it
# with its input.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

inputs=${1:-1000000}
hostile_calls=${2:-100000}
seed=${ORBANDILE_FUZZ_SEED:-$RANDOM$RANDOM}

bash scripts/setup.sh --tests
export CCACHE_BASEDIR="$root"
py=.venv/bin/python
# -O1 is the sanitizers' usual level: it keeps reports readable and halves the build time.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
    -DORBANDILE_SANITIZE=ON -DORBANDILE_PYTHON=ON -DORBANDILE_TESTS=ON -DORBANDILE_BENCH=OFF \
    -Dpybind11_DIR="$("$py" -m pybind11 --cmakedir)" -DPython_EXECUTABLE="$root/$py" >/dev/null
cmake --build build/fuzz -j "${ORBANDILE_JOBS:-4}"

# The interpreter is not instrumented, so the sanitizer runtime must be loaded before it, and
# the C++ runtime with it: loaded later by the module, its exceptions would miss the sanitizer's
# throw interceptor and abort. The interpreter never frees some of its memory, hence no leak
# report. PYTHONPATH puts the sanitized module ahead of the release one the .venv points at, also
# in the subprocesses tests start.
sanitized=(env LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    PYTHONPATH="$root/build/fuzz/python${PYTHONPATH:+:$PYTHONPATH}" "$py")
"${sanitized[@]}" -c 'import orbandile; assert "build/fuzz" in orbandile.__file__, orbandile.__file__'

parsers=$("${sanitized[@]}" -m pytest -q --collect-only tests/python/test_fuzz_parsers.py | grep -c '::')
export ORBANDILE_FUZZ_SEED=$seed
export ORBANDILE_FUZZ_COUNT=$(((inputs + parsers - 1) / parsers))
# Sanitized code runs several times slower: an input may take longer before it counts as a hang.
export ORBANDILE_FUZZ_SLOW=${ORBANDILE_FUZZ_SLOW:-10}
export ORBANDILE_HOSTILE_COUNT=$hostile_calls
# Its long calls poll less often per second of sanitized code: Ctrl-C may take longer to answer.
export ORBANDILE_HOSTILE_INTERRUPT_BOUND=${ORBANDILE_HOSTILE_INTERRUPT_BOUND:-5}
# Seeded sequences of setters and queries on each probability back-end and on both simulators.
export ORBANDILE_SEQUENCE_COUNT=${ORBANDILE_SEQUENCE_COUNT:-400}
tests=(tests/python/test_fuzz_parsers.py tests/python/test_backend_sequences.py
    tests/python/test_simulator_sequences.py)
[ -f tests/python/test_hostile_input.py ] && tests+=(tests/python/test_hostile_input.py)

echo "fuzz: seed $seed, $ORBANDILE_FUZZ_COUNT inputs for each of $parsers parsers" \
    "($((ORBANDILE_FUZZ_COUNT * parsers)) in all), $ORBANDILE_SEQUENCE_COUNT sequences on each" \
    "back-end and simulator${tests[3]:+, $hostile_calls hostile calls}"
start=$SECONDS
status=0
"${sanitized[@]}" -m pytest -q -p no:cacheprovider --durations=0 "${tests[@]}" || status=$?
echo "fuzz: $((SECONDS - start)) s, seed $seed, pytest status $status"

# The schema readers are fuzzed natively: no Python reader of circuits or detectors exists.
schema_filter='Readers/SchemaReaderFuzz.*'
readers=$(build/fuzz/orbandile_tests --gtest_list_tests --gtest_filter="$schema_filter" | grep -c '^  ')
reader_count=$(((inputs + readers - 1) / readers))
echo "fuzz: seed $seed, $reader_count inputs for each of $readers schema readers" \
    "($((reader_count * readers)) in all)"
start=$SECONDS
reader_status=0
ORBANDILE_FUZZ_COUNT=$reader_count ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build/fuzz/orbandile_tests --gtest_filter="$schema_filter" || reader_status=$?
echo "fuzz: $((SECONDS - start)) s, seed $seed, schema readers status $reader_status"
((status != 0)) || status=$reader_status
exit $status
