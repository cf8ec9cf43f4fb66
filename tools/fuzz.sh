#!/usr/bin/env bash
# Runs the atheris fuzz target tests/fuzz/fuzz_mesh.py for a bounded time
# (FUZZ_SECONDS, default 180) against the extension rebuilt with clang's
# libFuzzer coverage instrumentation and AddressSanitizer, so the search is
# guided by the C++ code's own edges. Without clang and libFuzzer it fails:
# fuzzing Python-level coverage only would pass while testing little.
#
# The search starts from the committed seeds in tests/fuzz/corpus; new
# inputs go to build/fuzz-corpus (FUZZ_CORPUS), which a later run on the same
# tree reads too. Copy the worthwhile ones into tests/fuzz/corpus by hand
# (small files, after `-merge=1`).
#   FUZZ_SECONDS=3600 bash tools/fuzz.sh     # longer, by hand
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
seconds="${FUZZ_SECONDS:-180}"
build="$root/build/fuzz"
seeds="$root/tests/fuzz/corpus"
corpus="${FUZZ_CORPUS:-$root/build/fuzz-corpus}"
artifacts="$root/build/fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found (apt-get install clang)" >&2
  exit 1
fi
probe="$(mktemp /tmp/quorvalind-fuzz-probe.XXXXXX)"
trap 'rm -f "$probe"' EXIT
if ! echo 'int main() { return 0; }' |
  clang++ -fsanitize=fuzzer-no-link,address -x c++ - -o "$probe" >/dev/null 2>&1; then
  echo "fuzz: clang++ cannot build with -fsanitize=fuzzer-no-link,address (libFuzzer runtime missing)" >&2
  exit 1
fi
atheris_dir="$("$PY" -c 'import atheris; print(atheris.path())')" || {
  echo "fuzz: atheris is not installed for $PY ($PY -m pip install atheris)" >&2
  exit 1
}
if [ ! -f "$atheris_dir/asan_with_fuzzer.so" ]; then
  echo "fuzz: atheris has no asan_with_fuzzer.so in $atheris_dir" >&2
  exit 1
fi
if [ -z "$(ls -A "$seeds")" ]; then
  echo "fuzz: no seeds in $seeds" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVALIND_BUILD_TESTS=OFF -DQUORVALIND_INSTALL_CORE=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer" \
  -DPython_EXECUTABLE="$(command -v "$PY")"
cmake --build "$build" -j2
echo "fuzzing the instrumented extension (native coverage) for ${seconds}s from $(ls "$seeds" | wc -l) seeds"
cd /tmp
LD_PRELOAD="$atheris_dir/asan_with_fuzzer.so" ASAN_OPTIONS=detect_leaks=0 \
  PYTHONPATH="$build" "$PY" "$root/tests/fuzz/fuzz_mesh.py" \
  -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
  -artifact_prefix="$artifacts" "$corpus" "$seeds"
