#!/usr/bin/env bash
# Builds the core, its C++ tests and the module with the scalar plane
# classification (QUORVALIND_SCALAR_CLASSIFY: what a CPU without SSE2 runs)
# and holds it to the SSE2 build's results: the C++ tests, and the
# golden-bit digests of test_golden_bits.py against this build's module.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
build="$root/build/scalar"

cmake -S "$root" -B "$build" -DQUORVALIND_SCALAR_CLASSIFY=ON -DQUORVALIND_BUILD_TESTS=ON \
  -DQUORVALIND_WERROR=ON -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$(command -v "$PY")"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure

cd /tmp
export PYTHONPATH="$build"
"$PY" -c "import quorvalind, sys; assert quorvalind.__file__.startswith(sys.argv[1]), quorvalind.__file__" "$build"
"$PY" -m pytest -q -p no:cacheprovider "$root/tests/python/test_golden_bits.py"
