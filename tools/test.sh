#!/usr/bin/env bash
# Installs what the tests need, installs the module, and runs every test:
# the C++ unit tests through CTest and pytest against the installed module.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
PY="${PYTHON:-python3}"

if [ ! -f /usr/include/gtest/gtest.h ]; then
  apt-get update -q
  apt-get install -y -q libgtest-dev
fi
# admesh, Debian's STL checker, reads the written files in the reader tests.
if ! command -v admesh >/dev/null 2>&1; then
  apt-get update -q
  apt-get install -y -q admesh
fi
"$PY" -m pip install -q --upgrade pip >/dev/null 2>&1 || true
"$PY" -m pip install -q -r tests/requirements.txt
# The gmsh wheel needs a few X and GL libraries at import time.
if ! "$PY" -c "import gmsh" >/dev/null 2>&1; then
  apt-get update -q
  apt-get install -y -q libglu1-mesa libxcursor1 libxft2 libxinerama1 libxrender1 libgl1
fi

"$PY" -m pip install -q "$root"

cmake -S "$root" -B "$root/build/test" -DQUORVALIND_BUILD_TESTS=ON -DQUORVALIND_BUILD_MODULE=OFF
cmake --build "$root/build/test" -j2
ctest --test-dir "$root/build/test" --output-on-failure

# Run from outside the source tree so that the installed module is imported.
cd /tmp
"$PY" -m pytest -q -p no:cacheprovider "$root/tests/python"
