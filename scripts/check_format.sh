#!/usr/bin/env bash
# Checks that the C++ files of src/, tests/cpp/ and bench/ are formatted with the repository's
# .clang-format; with --fix, formats them in place instead.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
mapfile -t files < <(find src tests/cpp bench -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
if [ "${1:-}" = "--fix" ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
fi
