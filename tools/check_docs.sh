#!/usr/bin/env bash
# Renders the docs pictures afresh (from the installed module) into a
# scratch folder and checks that every picture the pages show was produced.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
PY="${PYTHON:-python3}"
out="$(mktemp -d /tmp/quorvalind-docs.XXXXXX)"
trap 'rm -rf "$out"' EXIT
cd /tmp
"$PY" "$root/docs/render.py" "$out"
missing=0
for ref in $(grep -oh 'img/[a-z_]*\.png' "$root"/docs/*.md "$root/README.md" | sort -u); do
  if [ ! -s "$out/${ref#img/}" ]; then
    echo "not rendered: $ref" >&2
    missing=1
  fi
  if [ ! -f "$root/docs/$ref" ]; then
    echo "not committed: $ref" >&2
    missing=1
  fi
done
exit $missing
