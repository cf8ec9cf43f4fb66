#!/usr/bin/env bash
# Builds the module and the C++ tests with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs both suites against that build.
# Any sanitizer report aborts the process and fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
build="$root/build/sanitize"

cmake -S "$root" -B "$build" -DQUORVALIND_SANITIZE=ON -DQUORVALIND_BUILD_TESTS=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$(command -v "$PY")"
cmake --build "$build" -j2

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$build" --output-on-failure

cd /tmp
LD_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)" \
PYTHONMALLOC=malloc QUORVALIND_SANITIZED=1 PYTHONPATH="$build" \
  "$PY" -m pytest -q -p no:cacheprovider "$root/tests/python"
