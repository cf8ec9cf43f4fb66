"""Soak test: every entry point of tests/python/leak_harness.py called many
times (100,000 by default), on its success path and on its failure paths,
while resident memory and the reference counts of the argument objects are
watched.

    python tools/soak.py [--calls N] [--only SUBSTRING]

Prints one line per entry point (time per call, resident-memory change) and
exits non-zero if resident memory grew by more than --max-growth-mib over the
whole run (after a warm-up), any argument's reference count moved, or an
entry point left the path (success or failure) it is listed for.
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))
from leak_harness import ARGS, ENTRY_POINTS, FAILING, refcounts, rss_bytes, run  # noqa: E402


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--calls", type=int, default=100_000)
    ap.add_argument("--only", default="")
    ap.add_argument("--max-growth-mib", type=float, default=4.0)
    opts = ap.parse_args(argv[1:])
    entries = {k: f for k, f in ENTRY_POINTS.items() if opts.only in k}
    if not entries:
        print(f"no entry point matches {opts.only!r}", file=sys.stderr)
        return 2

    # Warm-up: caches, free lists and the allocator's arenas settle first.
    for f in entries.values():
        run(f, min(opts.calls, 2000))
    refs = refcounts()
    start = rss_bytes()
    wrong_path = []
    print(f"{'entry point':34s} {'calls':>8s} {'failed':>8s} {'us/call':>9s} {'RSS MiB':>9s}")
    for name, f in entries.items():
        before = rss_bytes()
        t0 = time.perf_counter()
        failed = run(f, opts.calls)
        dt = time.perf_counter() - t0
        grown = (rss_bytes() - before) / 2**20
        if failed != (opts.calls if name in FAILING else 0):
            wrong_path.append(name)
        print(f"{name:34s} {opts.calls:8d} {failed:8d} {1e6 * dt / opts.calls:9.2f} {grown:+9.2f}",
              flush=True)
    total = (rss_bytes() - start) / 2**20
    moved = [(i, r, n) for i, (r, n) in enumerate(zip(refs, refcounts())) if r != n]
    print(f"resident memory: {start / 2**20:.1f} MiB after warm-up, {total:+.2f} MiB over the run")
    print(f"argument reference counts moved: {moved if moved else 'none'} (of {len(ARGS)})")
    print(f"entry points off their listed path: {wrong_path if wrong_path else 'none'}")
    ok = total <= opts.max_growth_mib and not moved and not wrong_path
    print("soak: OK" if ok else "soak: FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
