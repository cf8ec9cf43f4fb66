#!/usr/bin/env bash
# Installs the geometry core as a CMake package into a temporary prefix,
# builds examples/cpp/box_minus_cylinder against it with find_package, runs
# it, and checks the binary STL it writes: 84 + 50 * triangle count bytes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d /tmp/quorvalind-cpp.XXXXXX)"
trap 'rm -rf "$work"' EXIT
gen=()
if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi

cmake -S "$root" -B "$work/core" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DQUORVALIND_BUILD_MODULE=OFF -DQUORVALIND_BUILD_TESTS=OFF -DQUORVALIND_INSTALL_CORE=ON
cmake --build "$work/core" -j2
cmake --install "$work/core" --prefix "$work/prefix"

# Only the core's headers are installed, not the binding layer's.
test -f "$work/prefix/include/quorvalind/gp/pnt.h"
test ! -e "$work/prefix/include/quorvalind/lib"

example="$root/examples/cpp/box_minus_cylinder"
cmake -S "$example" -B "$work/example" "${gen[@]}" -DCMAKE_PREFIX_PATH="$work/prefix"
cmake --build "$work/example" -j2
"$work/example/box_minus_cylinder" "$work/part.stl"

size=$(stat -c %s "$work/part.stl")
count=$(od -An -t u4 -j 80 -N 4 "$work/part.stl" | tr -d ' ')
expected=$((84 + 50 * count))
echo "part.stl: $count triangles, $size bytes"
if [ "$count" -eq 0 ] || [ "$size" -ne "$expected" ]; then
  echo "binary STL size $size, expected $expected for $count triangles" >&2
  exit 1
fi
