#!/usr/bin/env bash
# Builds the wheel, checks that the extension uses only the stable ABI,
# installs the wheel into a fresh venv and runs the pytest suite, stubtest
# and mypy --strict of the examples against that install (not the build tree).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
work="$(mktemp -d /tmp/quorvalind-wheel.XXXXXX)"
trap 'rm -rf "$work"' EXIT

"$PY" -m pip install -q abi3audit
"$PY" -m pip wheel -q "$root" -w "$work/dist" --no-deps
shopt -s nullglob
wheels=("$work"/dist/quorvalind-*.whl)
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
"$vpy" -m pip install -q --upgrade pip >/dev/null 2>&1 || true
"$vpy" -m pip install -q -r "$root/tests/requirements.txt" mypy
"$vpy" -m pip install -q "$wheel"

cd "$work"
"$vpy" -c "import quorvalind, sys; assert quorvalind.__file__.startswith(sys.prefix), quorvalind.__file__"
"$vpy" -m mypy.stubtest quorvalind
"$vpy" -m mypy --strict --cache-dir "$work/mypy_cache" "$root/examples"
"$vpy" -m pytest -q -p no:cacheprovider "$root/tests/python"
