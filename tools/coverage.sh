#!/usr/bin/env bash
# Line and branch coverage of src/ by the test suite. Builds with
# -DQUORLIN_COVERAGE=ON into BUILD (default build-cov), runs every test from
# zeroed counters and prints, per file of src/, the lines and then the
# branches the tests reached. A report only: it fails only when the build or
# a test fails. Needs gcovr (apt-get install gcovr).
# Usage: tools/coverage.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-cov}
command -v gcovr >/dev/null || { echo "$0: gcovr not found (apt-get install gcovr)" >&2; exit 1; }
cmake -S . -B "$build" -DQUORLIN_COVERAGE=ON -DQUORLIN_TESTS=ON -DQUORLIN_SANITIZE=OFF \
  -DQUORLIN_FUZZ=OFF -DQUORLIN_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
# Counts add up across runs; each report counts one run of the suite.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
# Branches of the exception paths the compiler adds to every call, and of
# code it can prove unreachable, are not the source's own decisions.
report=(gcovr --root . --object-directory "$build" --filter 'src/' -j"$(nproc)"
        --exclude-throw-branches --exclude-unreachable-branches)
"${report[@]}"
"${report[@]}" --branches
