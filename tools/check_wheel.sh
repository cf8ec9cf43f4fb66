#!/usr/bin/env bash
# Builds the wheel (warnings as errors), checks that the extension uses only
# the stable ABI and that the wheel holds what it should, installs it into a
# fresh venv with nothing else and runs stubtest and mypy --strict of the
# examples against that install (not the build tree). The pytest suite runs
# against the same wheel in tools/test.sh: with WHEEL_OUT=DIR the wheel is
# kept there for it,
#   WHEEL_OUT=build/wheel bash tools/check_wheel.sh
#   QUORVALIND_WHEEL=$(ls build/wheel/*.whl) bash tools/test.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
work="$(mktemp -d /tmp/quorvalind-wheel.XXXXXX)"
trap 'rm -rf "$work"' EXIT
dist="${WHEEL_OUT:-$work/dist}"
rm -rf "$dist"

"$PY" -m pip install -q abi3audit
"$PY" -m pip wheel -q "$root" -w "$dist" --no-deps -Ccmake.define.QUORVALIND_WERROR=ON
shopt -s nullglob
wheels=("$dist"/quorvalind-*.whl)
if [ "${#wheels[@]}" -ne 1 ]; then
  echo "expected one quorvalind wheel, found ${#wheels[@]}" >&2
  exit 1
fi
wheel="${wheels[0]}"
case "$(basename "$wheel")" in
  *-cp39-abi3-*) ;;
  *) echo "wheel is not tagged cp39-abi3: $(basename "$wheel")" >&2; exit 1 ;;
esac
echo "wheel: $(basename "$wheel") ($(stat -c %s "$wheel") bytes)"
"$PY" -m abi3audit --strict --summary "$wheel"

# The wheel must hold the extension and the stubs, and nothing of the C++ package.
"$PY" - "$wheel" <<'PYEOF'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
stubs = {"__init__", "gp", "topods", "mesh", "prim", "builder", "algo", "io", "errors", "extras"}
missing = [s for s in sorted(stubs) if f"quorvalind-stubs/{s}.pyi" not in names]
stray = [n for n in names if n.endswith((".h", ".a", ".cmake"))]
if "quorvalind.abi3.so" not in names or missing or stray:
    sys.exit(f"wheel contents wrong: missing stubs {missing}, stray files {stray}")
PYEOF

"$PY" -m venv "$work/venv"
vpy="$work/venv/bin/python"
# mypy, and dask for the example that can hand its work to a cluster.
"$vpy" -m pip install -q mypy "dask[distributed]" "$wheel"

cd "$work"
"$vpy" -c "import quorvalind, sys; assert quorvalind.__file__.startswith(sys.prefix), quorvalind.__file__"
"$vpy" -m mypy.stubtest quorvalind
"$vpy" -m mypy --strict --cache-dir "$work/mypy_cache" "$root/examples"
