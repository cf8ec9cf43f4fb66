"""The six corpus operations on every mesh of ../shared/corpus, beside
manifold3d, as a table: volume error against manifold3d's result, openness
(|sum of area-weighted normals| / area), triangles in and out, and time
against manifold3d's.

    python bench/bench_corpus.py [--sizes 1,1000] [--jobs 2] [--json FILE]

Each case runs in a child process with a timeout (tests/python/corpus_ops.py).
"""
import argparse
import json
import os
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.join(HERE, "..", "tests", "python")
sys.path.insert(0, TESTS)

import corpus_ops  # noqa: E402


def one(name, op, size, timeout):
    cmd = [sys.executable, os.path.join(TESTS, "corpus_ops.py"), name, repr(size), op]
    try:
        p = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"name": name, "op": op, "size": size, "error": "timeout"}
    if p.returncode != 0:
        return {"name": name, "op": op, "size": size, "error": f"exit {p.returncode}"}
    return json.loads(p.stdout)[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--sizes", default="1,1000")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=float, default=600)
    ap.add_argument("--json")
    args = ap.parse_args()
    sizes = [float(s) for s in args.sizes.split(",")]
    cases = [(n, op, s) for s in sizes for n in corpus_ops.corpus_files()
             for op in corpus_ops.OPERATIONS]
    with ThreadPoolExecutor(args.jobs) as pool:
        rows = list(pool.map(lambda c: one(*c, args.timeout), cases))
    print(f"{'size':>5} {'mesh':<18} {'operation':<15} {'rel. vol. error':>15} "
          f"{'openness':>9} {'tris in':>7} {'tris out':>8} {'time x m3d':>10} digest")
    for r in rows:
        head = f"{r['size']:>5g} {r['name']:<18} {r['op']:<15}"
        if "error" in r:
            print(f"{head} {r['error']}")
            continue
        ref = r["manifold_volume"]
        err = (r["volume"] - ref) / ref if ref else r["volume"]
        ratio = r["seconds"] / max(r["manifold_seconds"], 1e-9)
        print(f"{head} {err:>15.3e} {r['openness']:>9.1e} {r['input_triangles']:>7} "
              f"{r['triangles']:>8} {ratio:>10.1f} {r['digest']}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
