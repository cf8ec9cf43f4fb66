#!/usr/bin/env bash
# Installs what the tests need, installs the module, and runs every test:
# the C++ unit tests through CTest and pytest against the installed module.
#   bash tools/test.sh                               # the module built from this tree
#   QUORVALIND_WHEEL=path/to.whl bash tools/test.sh  # that wheel instead (CI: the one
#                                                    # tools/check_wheel.sh built and checked)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
PY="${PYTHON:-python3}"
export PIP_DISABLE_PIP_VERSION_CHECK=1

"$PY" -m pip install -q -r tests/requirements.txt
# System packages, for a developer's machine: only what is missing, in one
# go (.ci/run installs them all up front). admesh, Debian's STL checker,
# reads the written files in the reader tests; the gmsh wheel needs a few X
# and GL libraries at import time.
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v admesh >/dev/null 2>&1 || missing+=(admesh)
"$PY" -c "import gmsh" >/dev/null 2>&1 ||
  missing+=(libglu1-mesa libxcursor1 libxft2 libxinerama1 libxrender1 libgl1)
if [ "${#missing[@]}" -ne 0 ]; then
  echo "installing missing system packages: ${missing[*]}"
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
fi

if [ -n "${QUORVALIND_WHEEL:-}" ]; then
  "$PY" -m pip install -q --force-reinstall --no-deps "$QUORVALIND_WHEEL"
else
  "$PY" -m pip install -q -Ccmake.define.QUORVALIND_WERROR=ON "$root"
fi

cmake -S "$root" -B "$root/build/test" -DQUORVALIND_BUILD_TESTS=ON -DQUORVALIND_BUILD_MODULE=OFF \
  -DQUORVALIND_WERROR=ON
cmake --build "$root/build/test" -j2
ctest --test-dir "$root/build/test" --output-on-failure

# Run from outside the source tree so that the installed module is imported.
cd /tmp
"$PY" -c "import quorvalind, sys; assert quorvalind.__file__.startswith(sys.prefix), quorvalind.__file__"
"$PY" -m pytest -q -p no:cacheprovider "$root/tests/python"
