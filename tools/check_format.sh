#!/usr/bin/env bash
# Checks that every tracked C++ file (src/, include/, tests/, bench/,
# examples/) is laid out as .clang-format says; lists the files that are not
# and fails. The formatter is pinned, because its layout changes between
# releases: clang-format from PyPI at CLANG_FORMAT_VERSION.
#   python3 -m pip install clang-format==23.1.5
#   bash tools/check_format.sh          # check
#   bash tools/check_format.sh --fix    # rewrite the files in place
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
PY="${PYTHON:-python3}"
want="${CLANG_FORMAT_VERSION:-23.1.5}"

# The PyPI package's binary, found through the interpreter so that no PATH
# entry (or a system clang-format of another release) decides.
cf="$("$PY" -c 'import clang_format; print(clang_format.get_executable("clang-format"))' \
  2>/dev/null || true)"
if [ -z "$cf" ] || [ ! -x "$cf" ]; then
  echo "clang-format $want is not installed for $PY: $PY -m pip install clang-format==$want" >&2
  exit 1
fi
have="$("$cf" --version | sed -n 's/.*clang-format version \([0-9.]*\).*/\1/p')"
if [ "$have" != "$want" ]; then
  echo "clang-format $have found, $want wanted: $PY -m pip install clang-format==$want" >&2
  exit 1
fi

mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$cf" -i --style=file "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  if ! "$cf" --style=file --dry-run --Werror "$f" >/dev/null 2>&1; then bad+=("$f"); fi
done
if [ "${#bad[@]}" -ne 0 ]; then
  echo "${#bad[@]} of ${#files[@]} files are not formatted (bash tools/check_format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format says"
