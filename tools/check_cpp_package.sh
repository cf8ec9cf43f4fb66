#!/usr/bin/env bash
# Installs the geometry core as a CMake package into a temporary prefix,
# builds examples/cpp/box_minus_cylinder against it with find_package, runs
# it, and checks the binary STL it writes: 84 + 50 * triangle count bytes.
# QUORVALIND_CORE_BUILD=DIR installs from that already built tree (CI: the
# C++ test build of tools/test.sh) instead of building the core again.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d /tmp/quorvalind-cpp.XXXXXX)"
trap 'rm -rf "$work"' EXIT
gen=()
if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi

core="${QUORVALIND_CORE_BUILD:-}"
if [ -z "$core" ]; then
  core="$work/core"
  cmake -S "$root" -B "$core" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DQUORVALIND_BUILD_MODULE=OFF -DQUORVALIND_BUILD_TESTS=OFF -DQUORVALIND_INSTALL_CORE=ON \
    -DQUORVALIND_WERROR=ON
fi
cmake --build "$core" -j2 --target quorvalind_core
cmake --install "$core" --prefix "$work/prefix"

# The public umbrella headers and what they include, nothing else: no
# binding layer, no tree internals, no test or benchmark switches.
inc="$work/prefix/include"
for h in quorvalind values builders booleans writers; do
  test -f "$inc/quorvalind/$h.h"
done
test -f "$inc/quorvalind/gp/pnt.h"
for private in lib bsp/polygon.h bsp/node.h bsp/reuse.h bsp/csg.h tess/triangulate_detail.h \
  simplify serial; do
  if [ -e "$inc/quorvalind/$private" ]; then
    echo "private header installed: $private" >&2
    exit 1
  fi
done
if grep -rlE 'QUORVALIND_(COUNT_CLASSIFICATIONS|SCALAR_CLASSIFY)|gtest|FRIEND_TEST' "$inc"; then
  echo "installed headers carry test or benchmark switches" >&2
  exit 1
fi
echo "installed headers: $(cd "$inc/quorvalind" && find . -name '*.h' | sort | tr '\n' ' ')"
# Each public header compiles on its own.
for h in "$inc"/quorvalind/*.h; do
  echo "#include \"quorvalind/$(basename "$h")\"" |
    g++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$inc" -I"$inc/quorvalind" -x c++ -
done

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
