#!/usr/bin/env bash
# Runs the atheris fuzz target tests/fuzz/fuzz_mesh.py for a bounded time
# (FUZZ_SECONDS, default 180). With clang the extension is rebuilt with
# libFuzzer coverage instrumentation and AddressSanitizer, so the search is
# guided by the C++ code's own edges; without clang it falls back to the
# installed module and Python-level coverage only.
#   FUZZ_SECONDS=3600 bash tools/fuzz.sh     # longer, by hand
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
seconds="${FUZZ_SECONDS:-180}"
build="$root/build/fuzz"
corpus="${FUZZ_CORPUS:-$root/build/fuzz-corpus}"
artifacts="$root/build/fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"

"$PY" -m pip install -q atheris
# Without clang the search has no native coverage to follow, so get it.
if ! command -v clang++ >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1; then
  apt-get update -q && apt-get install -y -q clang || true
fi

args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus")
if command -v clang++ >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVALIND_BUILD_TESTS=OFF -DQUORVALIND_INSTALL_CORE=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address -fno-omit-frame-pointer" \
    -DPython_EXECUTABLE="$(command -v "$PY")"
  cmake --build "$build" -j2
  atheris_dir="$("$PY" -c 'import atheris; print(atheris.path())')"
  echo "fuzzing the instrumented extension (native coverage) for ${seconds}s"
  cd /tmp
  LD_PRELOAD="$atheris_dir/asan_with_fuzzer.so" ASAN_OPTIONS=detect_leaks=0 \
    PYTHONPATH="$build" "$PY" "$root/tests/fuzz/fuzz_mesh.py" "${args[@]}"
else
  echo "no clang: fuzzing the installed extension (Python-level coverage) for ${seconds}s"
  cd /tmp
  "$PY" "$root/tests/fuzz/fuzz_mesh.py" "${args[@]}"
fi
