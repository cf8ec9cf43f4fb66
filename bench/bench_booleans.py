"""Boolean benchmark: quorvalind (its fast engine, and its literal engine
where the module is a benchmark build), pycsg (the same BSP algorithm in
pure Python) and manifold3d side by side, on the same input meshes, timed
as whole Python calls.

    python bench/bench_booleans.py [--large] [--cases C1,C3] [--no-pycsg] [--one-core]
    python bench/bench_booleans.py --scale [--literal-max 128] [--plot FILE] [--one-core]

C1  box [0,2]^3 minus a 64-segment cylinder r 0.5, h 3 moved by (1, 1, -0.5)
C2  sphere 64 x 32 fused with the same sphere moved by (0.5, 0.3, 0.2)
C3  the same pair cut
C4  sphere 128 x 64 intersected with a torus (1, 0.4, 128 segments); --large
C5  fuse_all of a 3 x 3 grid of 64-segment cylinders r 0.5, h 1, 0.8 apart

--scale fuses spheres of 32 x 16 up to 512 x 256 segments with a copy moved
by (0.5, 0.3, 0.2), on both engines and manifold3d (the literal engine up to
--literal-max segments: it grows with the square of the size), prints the
table and writes a log-log plot (matplotlib) as a PNG.

Each (case, engine) runs in a child process, so that its peak memory (the
growth of the resident-set peak over what the inputs already took) is its
own. The triangles column counts the result's triangles: the BSP engines
leave the faces cut into every piece the tree splits them into, and each
piece costs time, so it puts the timings beside manifold3d's in proportion;
ns/tri is the median time per result triangle and "per tri" its ratio to
manifold3d's. The "simplified" rows time the boolean followed by
quorvalind.extras.simplify (the result then has about manifold3d's
triangles), and a line after each case gives simplify's share.
The "quorvalind" rows use every core the module finds; the "1-thread" rows
run the same call with QUORVALIND_THREADS=1, so one table shows both.
--one-core pins every child process (manifold3d's too) to a single CPU.

With a module built with -DQUORVALIND_COUNT_CLASSIFICATIONS=ON (the
benchmark build) the table also shows vertex classifications and
nanoseconds per classification, and the literal engine is timed too,
through the benchmark build's private module; ordinary builds have no
switch. manifold3d evaluates lazily, so its timing includes getting the
result mesh out; it may use several threads.
"""
import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

CASES = ["C1", "C2", "C3", "C4", "C5"]
ENGINES = ["quorvalind", "1-thread", "simplified", "literal", "manifold3d", "pycsg"]
REPS_COLUMN = {"quorvalind": 0, "1-thread": 0, "simplified": 0, "literal": 1, "manifold3d": 2,
               "pycsg": 3}
REPS = {  # quorvalind (and 1-thread, simplified), literal, manifold3d, pycsg; pycsg is ~10^4 times slower
    "C1": (201, 201, 201, 5), "C2": (21, 3, 21, 1), "C3": (21, 3, 21, 1), "C4": (5, 0, 11, 0),
    "C5": (51, 51, 51, 1),
}
SCALE = [32, 64, 128, 256, 512]  # segments; latitude bands are half as many


def inputs(case):
    """The operands as (vertices, triangles) arrays, made once per process."""
    from solid_shapes import box, cylinder, moved, sphere, torus
    if case == "C1":
        return "cut", [box(0, 0, 0, 2, 2, 2), moved(cylinder(64, 0.5, 3), offset=(1, 1, -0.5))]
    if case in ("C2", "C3"):
        s = sphere(64, 32, 1.0)
        return ("fuse" if case == "C2" else "cut"), [moved(s), moved(s, offset=(0.5, 0.3, 0.2))]
    if case == "C4":
        return "common", [moved(sphere(128, 64, 1.0)), moved(torus(128, 1.0, 0.4))]
    if case.startswith("S"):
        s = sphere(int(case[1:]), int(case[1:]) // 2, 1.0)
        return "fuse", [moved(s), moved(s, offset=(0.5, 0.3, 0.2))]
    grid = [moved(cylinder(64, 0.5, 1.0), offset=(0.8 * i, 0.8 * j, 0))
            for i in range(3) for j in range(3)]
    return "fuse_all", grid


def runner(engine, op, shapes):
    """A no-argument callable doing the whole operation, and a getter of the
    result's volume and triangle count."""
    import numpy as np
    if engine in ("quorvalind", "1-thread", "literal", "simplified"):
        import quorvalind as q
        bench = sys.modules.get("quorvalind._bench")
        if engine == "literal":
            if bench is None:
                raise SystemExit("the literal engine needs a benchmark build "
                                 "(-DQUORVALIND_COUNT_CLASSIFICATIONS=ON)")
            bench.use_literal_engine(True)
        from solid_shapes import to_solid
        solids = [to_solid(v, t) for v, t in shapes]
        def summary(r):
            return r.volume(), r.mesh().num_triangles
        if op == "fuse_all":
            boolean = lambda: q.algo.fuse_all(solids)  # noqa: E731
        else:
            fn = getattr(q.algo, op)
            boolean = lambda: fn(solids[0], solids[1])  # noqa: E731
        if engine == "simplified":
            from quorvalind.extras import simplify
            return (lambda: simplify(boolean())), summary
        return boolean, summary
    if engine == "manifold3d":
        import manifold3d as m3d
        ms = [m3d.Manifold(m3d.Mesh64(vert_properties=np.asarray(v, dtype=np.float64),
                                      tri_verts=np.asarray(t, dtype=np.uint64)))
              for v, t in shapes]
        if op == "fuse_all":
            def go():
                r = m3d.Manifold.batch_boolean(ms, m3d.OpType.Add)
                r.to_mesh()
                return r
        else:
            binop = {"cut": lambda a, b: a - b, "fuse": lambda a, b: a + b,
                     "common": lambda a, b: a ^ b}[op]

            def go():
                r = binop(ms[0], ms[1])
                r.to_mesh()
                return r
        return go, (lambda r: (r.volume(), r.num_tri()))
    from csg.core import CSG
    from csg.geom import Polygon, Vertex
    objs = [CSG.fromPolygons([Polygon([Vertex(list(map(float, v[i]))) for i in tri])
                              for tri in t]) for v, t in shapes]

    def summary(r):
        total = 0.0
        triangles = 0
        for p in r.toPolygons():
            a = p.vertices[0].pos
            for k in range(1, len(p.vertices) - 1):
                b, c = p.vertices[k].pos, p.vertices[k + 1].pos
                total += a.dot(b.cross(c))
                triangles += 1
        return total / 6.0, triangles

    if op == "fuse_all":
        def go():
            acc = objs[0]
            for o in objs[1:]:
                acc = acc.union(o)
            return acc
        return go, summary
    method = {"cut": "subtract", "fuse": "union", "common": "intersect"}[op]
    return (lambda: getattr(objs[0], method)(objs[1])), summary


def worker(case, engine, reps):
    if os.environ.get("BENCH_ONE_CORE"):
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    op, shapes = inputs(case)
    go, summary = runner(engine, op, shapes)
    bench = (sys.modules.get("quorvalind._bench")
             if engine in ("quorvalind", "1-thread", "literal") else None)
    baseline = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    count = None
    times = []
    if bench is not None:
        before = bench.classification_count()
        t0 = time.perf_counter()
        result = go()
        first = time.perf_counter() - t0
        count = bench.classification_count() - before
        if reps == 1:  # a long case: the counted run is the timed one
            times.append(first)
            reps = 0
    for _ in range(reps):
        t0 = time.perf_counter()
        result = go()
        times.append(time.perf_counter() - t0)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    volume, triangles = summary(result)
    print(json.dumps({"times": times, "peak_kib": peak - baseline, "count": count,
                      "volume": volume, "triangles": triangles}))


def measure(case, engine, reps, one_core=False):
    env = dict(os.environ)
    if engine == "1-thread":
        env["QUORVALIND_THREADS"] = "1"
    if one_core:
        env["BENCH_ONE_CORE"] = "1"
    proc = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", case, engine,
                           str(reps)], capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        return {"error": proc.stderr.strip().splitlines()[-1] if proc.stderr.strip() else "failed"}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def fmt_time(s):
    return f"{s * 1e3:10.3f} ms" if s < 10 else f"{s:10.2f} s "


def table(case, engines, reps_of, one_core=False):
    """Measures one case on every engine; prints its rows; returns them."""
    rows = {}
    for engine in engines:
        reps = reps_of(engine)
        if reps:
            rows[engine] = measure(case, engine, reps, one_core)
    peer = rows.get("manifold3d", {})
    base = statistics.median(peer["times"]) if "times" in peer else None
    # Time per result triangle: every piece the boolean cuts is output, so
    # this is the fair unit between engines whose results differ in size.
    peer_per_tri = base / peer["triangles"] if base and peer.get("triangles") else None
    for engine, r in rows.items():
        if "error" in r:
            print(f"{case:4} {engine:11} error: {r['error']}")
            continue
        med, low = statistics.median(r["times"]), min(r["times"])
        ratio = f"{med / base:12.2f}x" if base else ""
        per_tri = med / r["triangles"] if r["triangles"] else float("nan")
        per_ratio = f"{per_tri / peer_per_tri:8.2f}x" if peer_per_tri else ""
        cls = f"{r['count']:16d} {low * 1e9 / r['count']:9.2f}" if r.get("count") else ""
        print(f"{case:4} {engine:11} {fmt_time(med)} {fmt_time(low)} {ratio:>13} "
              f"{per_tri * 1e9:9.1f} {per_ratio:>9} "
              f"{r['peak_kib'] / 1024:7.1f} MiB {r['volume']:14.9f} {r['triangles']:9d} {cls}")
    own, simp = rows.get("quorvalind", {}), rows.get("simplified", {})
    if "times" in own and "times" in simp:
        b, bs = statistics.median(own["times"]), statistics.median(simp["times"])
        print(f"{case:4} simplify after the boolean: {(bs - b) * 1e3:.3f} ms, "
              f"{100 * (bs - b) / b:.0f}% of the boolean")
    sys.stdout.flush()
    return rows


HEADER = (f"{'case':4} {'engine':11} {'median':>13} {'min':>13} {'vs manifold3d':>13} "
          f"{'ns/tri':>9} {'per tri':>9} "
          f"{'peak mem':>10} {'volume':>14} {'triangles':>9} {'classifications':>16} {'ns/class':>9}")


def scale(args):
    print(HEADER)
    results = {}
    for n in map(int, args.sizes.split(",")):
        def reps_of(engine):
            if engine == "literal":
                return 1 if n <= args.literal_max else 0
            if engine == "pycsg":
                return 0
            if engine == "manifold3d":
                return 5
            if n > args.fast_max:
                return 0
            return 5 if n <= 64 else 1
        results[n] = table(f"S{n}", ["quorvalind", "1-thread", "literal", "manifold3d"], reps_of,
                           args.one_core)
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is missing: no plot (pip install matplotlib)")
        return
    fig, ax = plt.subplots(figsize=(6.4, 4.8))
    labels = {"quorvalind": "quorvalind (fast engine)",
              "1-thread": "quorvalind (fast engine, one thread)",
              "literal": "quorvalind (literal engine)", "manifold3d": "manifold3d"}
    for engine, label in labels.items():
        pts = [(2 * n * (n // 2 - 1), statistics.median(r[engine]["times"]))
               for n, r in results.items() if "times" in r.get(engine, {})]
        if pts:
            ax.loglog([p[0] for p in pts], [p[1] for p in pts], "o-", label=label)
    ax.set_xlabel("triangles per sphere")
    ax.set_ylabel("fuse, whole Python call (s)")
    ax.set_title("Sphere fused with a shifted copy")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(args.plot, dpi=100)
    print(f"plot written to {args.plot}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--large", action="store_true", help="also run C4")
    ap.add_argument("--cases", default=",".join(CASES))
    ap.add_argument("--no-pycsg", action="store_true")
    ap.add_argument("--scale", action="store_true", help="the sphere size series and its plot")
    ap.add_argument("--sizes", default=",".join(map(str, SCALE)),
                    help="sphere segment counts that --scale runs")
    ap.add_argument("--literal-max", type=int, default=128,
                    help="largest sphere (segments) that --scale runs on the literal engine")
    ap.add_argument("--fast-max", type=int, default=512,
                    help="largest sphere (segments) that --scale runs on the fast engine")
    ap.add_argument("--plot", default="bench_booleans_scale.png", help="PNG written by --scale")
    ap.add_argument("--one-core", action="store_true",
                    help="pin every child process to one CPU")
    ap.add_argument("--worker", nargs=3, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.worker:
        worker(args.worker[0], args.worker[1], int(args.worker[2]))
        return
    if args.scale:
        scale(args)
        return
    engines = [e for e in ENGINES if not (e == "pycsg" and args.no_pycsg)]
    print(HEADER)
    for case in args.cases.split(","):
        if case == "C4" and not args.large:
            continue
        table(case, engines, lambda engine: REPS[case][REPS_COLUMN[engine]], args.one_core)


if __name__ == "__main__":
    main()
