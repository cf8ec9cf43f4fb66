#!/usr/bin/env bash
# One boolean on a pair of ~100k-triangle solids (two 256 x 196 spheres,
# overlapping) under valgrind memcheck; fails on any memcheck error or a
# definite leak. Not part of CI: the tree build is quadratic in the triangles
# of each convex operand, so under memcheck it runs for about 100 minutes.
# By hand:
#   bash tools/valgrind_boolean.sh                 # the installed module
#   PYTHONPATH=build/dev bash tools/valgrind_boolean.sh
#   SPHERE_SEGMENTS="64 48" bash tools/valgrind_boolean.sh   # a quick pass
#
# The interpreter itself trips memcheck during start-up (the same errors for
# `python -c pass`), so those are recorded first as suppressions: what is
# left is what the boolean adds.
set -euo pipefail
PY="${PYTHON:-python3}"
read -r circle lat <<<"${SPHERE_SEGMENTS:-256 196}"
if ! command -v valgrind >/dev/null 2>&1; then
  apt-get update -q && apt-get install -y -q valgrind
fi
# The interpreter binary itself: a launcher script (pyenv, a venv shim) would
# be the process valgrind watches instead.
PY="$("$PY" -c 'import sys; print(sys.executable)')"
work="$(mktemp -d /tmp/quorvalind-valgrind.XXXXXX)"
# PYTHONMALLOC=malloc routes every Python allocation through malloc, so
# memcheck sees them all (the small-object allocator trips it otherwise).
export PYTHONMALLOC=malloc

valgrind --tool=memcheck --gen-suppressions=all --log-file="$work/baseline.log" "$PY" -c pass
# Keep the suppression blocks, without valgrind's line prefixes.
awk '/^\{/,/^\}/' "$work/baseline.log" > "$work/interpreter.supp"

status=0
valgrind --tool=memcheck --suppressions="$work/interpreter.supp" --error-exitcode=99 \
  --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --num-callers=30 --log-file="$work/boolean.log" \
  "$PY" - "$circle" "$lat" <<'PYEOF' || status=$?
import sys
import time
import quorvalind as q

mp = q.MeshParams(circle_segments=int(sys.argv[1]), lat_segments=int(sys.argv[2]))
a = q.make_sphere(1.0, mp)
b = q.transform(q.make_sphere(1.0, mp), q.Trsf.translation(q.Pnt(0.6, 0.3, 0.2)))
print("operands:", a.mesh(), b.mesh())
t0 = time.perf_counter()
r = q.cut(a, b)
print("cut:", r.mesh(), f"volume {r.volume():.6f}", f"{time.perf_counter() - t0:.1f} s")
PYEOF
grep -E "ERROR SUMMARY|definitely lost|suppressed:" "$work/boolean.log" || true
echo "logs: $work"
exit $status
