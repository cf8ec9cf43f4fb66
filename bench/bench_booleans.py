"""Boolean benchmark: quorvalind, pycsg (the same BSP algorithm in pure
Python) and manifold3d side by side, on the same input meshes, timed as
whole Python calls.

    python bench/bench_booleans.py [--large] [--cases C1,C3] [--no-pycsg]

C1  box [0,2]^3 minus a 64-segment cylinder r 0.5, h 3 moved by (1, 1, -0.5)
C2  sphere 64 x 32 fused with the same sphere moved by (0.5, 0.3, 0.2)
C3  the same pair cut
C4  sphere 128 x 64 intersected with a torus (1, 0.4, 128 segments); --large
C5  fuse_all of a 3 x 3 grid of 64-segment cylinders r 0.5, h 1, 0.8 apart

Each (case, engine) runs in a child process, so that its peak memory (the
growth of the resident-set peak over what the inputs already took) is its
own. With a module built with -DQUORVALIND_COUNT_CLASSIFICATIONS=ON the
table also shows vertex classifications and nanoseconds per
classification. manifold3d evaluates lazily, so its timing includes
getting the result mesh out; it may use several threads.
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
REPS = {  # (quorvalind, manifold3d, pycsg); pycsg is about 10^4 times slower
    "C1": (201, 201, 5), "C2": (7, 21, 1), "C3": (7, 21, 1), "C4": (1, 11, 0), "C5": (51, 51, 1),
}


def inputs(case):
    """The operation and its operands as (vertices, triangles) arrays, taken
    from the module's own builders, so every engine gets the same triangles."""
    import quorvalind as q
    from quorvalind import Pnt, Trsf
    from solid_shapes import mesh_arrays

    def at(solid, x, y, z):
        return q.builder.transform(solid, Trsf.translation(Pnt(x, y, z)))

    if case == "C1":
        pair = [q.prim.make_box(Pnt(0, 0, 0), 2, 2, 2), at(q.prim.make_cylinder(0.5, 3), 1, 1, -0.5)]
        return "cut", [mesh_arrays(s) for s in pair]
    if case in ("C2", "C3"):
        s = q.prim.make_sphere(1.0)
        return ("fuse" if case == "C2" else "cut"), [mesh_arrays(s), mesh_arrays(at(s, 0.5, 0.3, 0.2))]
    if case == "C4":
        pair = [q.prim.make_sphere(1.0, q.prim.MeshParams(128, 64)),
                q.prim.make_torus(1.0, 0.4, q.prim.MeshParams(128))]
        return "common", [mesh_arrays(s) for s in pair]
    cyl = q.prim.make_cylinder(0.5, 1.0)
    return "fuse_all", [mesh_arrays(at(cyl, 0.8 * i, 0.8 * j, 0)) for i in range(3) for j in range(3)]


def runner(engine, op, shapes):
    """A no-argument callable doing the whole operation, and a volume getter."""
    import numpy as np
    if engine == "quorvalind":
        import quorvalind as q
        from solid_shapes import to_solid
        solids = [to_solid(v, t) for v, t in shapes]
        if op == "fuse_all":
            return (lambda: q.algo.fuse_all(solids)), (lambda r: r.volume())
        fn = getattr(q.algo, op)
        return (lambda: fn(solids[0], solids[1])), (lambda r: r.volume())
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
        return go, (lambda r: r.volume())
    from csg.core import CSG
    from csg.geom import Polygon, Vertex
    objs = [CSG.fromPolygons([Polygon([Vertex(list(map(float, v[i]))) for i in tri])
                              for tri in t]) for v, t in shapes]

    def volume(r):
        total = 0.0
        for p in r.toPolygons():
            a = p.vertices[0].pos
            for k in range(1, len(p.vertices) - 1):
                b, c = p.vertices[k].pos, p.vertices[k + 1].pos
                total += a.dot(b.cross(c))
        return total / 6.0

    if op == "fuse_all":
        def go():
            acc = objs[0]
            for o in objs[1:]:
                acc = acc.union(o)
            return acc
        return go, volume
    method = {"cut": "subtract", "fuse": "union", "common": "intersect"}[op]
    return (lambda: getattr(objs[0], method)(objs[1])), volume


def worker(case, engine, reps):
    op, shapes = inputs(case)
    go, volume = runner(engine, op, shapes)
    bench = sys.modules.get("quorvalind._bench") if engine == "quorvalind" else None
    baseline = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    count = None
    if bench is not None:
        before = bench.classification_count()
        result = go()
        count = bench.classification_count() - before
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        result = go()
        times.append(time.perf_counter() - t0)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(json.dumps({"times": times, "peak_kib": peak - baseline, "count": count,
                      "volume": volume(result)}))


def measure(case, engine, reps):
    # numpy is imported for the meshes; keep its BLAS threads from spinning
    # beside the engine being timed.
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    proc = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", case, engine,
                           str(reps)], capture_output=True, text=True, env=env)
    if proc.returncode != 0:
        return {"error": proc.stderr.strip().splitlines()[-1] if proc.stderr.strip() else "failed"}
    return json.loads(proc.stdout.strip().splitlines()[-1])


def fmt_time(s):
    return f"{s * 1e3:10.3f} ms" if s < 10 else f"{s:10.2f} s "


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--large", action="store_true", help="also run C4")
    ap.add_argument("--cases", default=",".join(CASES))
    ap.add_argument("--no-pycsg", action="store_true")
    ap.add_argument("--worker", nargs=3, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.worker:
        worker(args.worker[0], args.worker[1], int(args.worker[2]))
        return
    engines = ["quorvalind", "manifold3d"] + ([] if args.no_pycsg else ["pycsg"])
    print(f"{'case':4} {'engine':11} {'median':>13} {'min':>13} {'vs quorvalind':>13} "
          f"{'peak mem':>10} {'volume':>14} {'classifications':>16} {'ns/class':>9}")
    for case in args.cases.split(","):
        if case == "C4" and not args.large:
            continue
        rows = {}
        for k, engine in enumerate(engines):
            reps = REPS[case][k]
            if reps == 0:
                continue
            rows[engine] = measure(case, engine, reps)
        base = statistics.median(rows["quorvalind"]["times"]) if "times" in rows["quorvalind"] else None
        for engine, r in rows.items():
            if "error" in r:
                print(f"{case:4} {engine:11} error: {r['error']}")
                continue
            med, low = statistics.median(r["times"]), min(r["times"])
            ratio = f"{med / base:12.2f}x" if base else ""
            cls = f"{r['count']:16d} {low * 1e9 / r['count']:9.2f}" if r.get("count") else ""
            print(f"{case:4} {engine:11} {fmt_time(med)} {fmt_time(low)} {ratio:>13} "
                  f"{r['peak_kib'] / 1024:7.1f} MiB {r['volume']:14.9f} {cls}")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
