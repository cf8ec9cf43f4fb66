"""Chained booleans: quorvalind (each step followed by simplify) and
manifold3d side by side, in one run, on the same input meshes.

    python bench/bench_chain.py [--holes 100] [--pins 64] [--reps 3]

H   a 100 x 100 x 5 plate with a 10 x 10 grid of holes (64-segment
    cylinders r 2), cut one at a time
HF  the same holes fused into one solid first (one at a time, simplify
    after each), then cut in one go
P   a 100 x 100 x 5 plate with an 8 x 8 grid of pins (64-segment cylinders
    r 2, 10 high) fused on one at a time

Prints, per case and engine, the median time of the whole chain, the
result's triangles and volume, and quorvalind's ratios to manifold3d.
manifold3d evaluates a chain lazily: its time is that of building the
expression and getting the final mesh out.
"""
import argparse
import math
import statistics
import time

import numpy as np

import quorvalind as q
from quorvalind.extras import simplify

SEGMENTS = 64


def grid(n, size=100.0):
    k = math.isqrt(n)
    step = size / k
    return [(step * (i + 0.5), step * (j + 0.5)) for i in range(k) for j in range(k)][:n]


def cylinder(r, h, x, y, z):
    c = q.make_cylinder(r, h, q.MeshParams(SEGMENTS, 32))
    return q.transform(c, q.Trsf.translation(q.Pnt(x, y, z)))


def plate():
    return q.make_box(q.Pnt(0, 0, 0), 100, 100, 5)


def ours(case, n):
    p = plate()
    if case == "H":
        for x, y in grid(n):
            p = simplify(q.cut(p, cylinder(2, 7, x, y, -1)))
        return p
    if case == "HF":
        holes = None
        for x, y in grid(n):
            c = cylinder(2, 7, x, y, -1)
            holes = c if holes is None else simplify(q.fuse(holes, c))
        return simplify(q.cut(p, holes))
    for x, y in grid(n):
        p = simplify(q.fuse(p, cylinder(2, 10, x, y, 4)))
    return p


def to_manifold(solid):
    import manifold3d as m3d
    m = solid.mesh()
    v = np.array(m.vertices_flat(), dtype=np.float64).reshape(-1, 3)
    t = np.array(m.triangles_flat(), dtype=np.uint64).reshape(-1, 3)
    return m3d.Manifold(m3d.Mesh64(vert_properties=v, tri_verts=t))


def peer(case, n):
    import manifold3d as m3d
    # Inputs converted from the same meshes, outside the timing.
    p = to_manifold(plate())
    if case == "P":
        tools = [to_manifold(cylinder(2, 10, x, y, 4)) for x, y in grid(n)]
    else:
        tools = [to_manifold(cylinder(2, 7, x, y, -1)) for x, y in grid(n)]

    def go():
        r = p
        if case == "H":
            for c in tools:
                r = r - c
        elif case == "HF":
            r = r - m3d.Manifold.batch_boolean(tools, m3d.OpType.Add)
        else:
            for c in tools:
                r = r + c
        r.to_mesh()
        return r
    return go


def timed(fn, reps):
    times, result = [], None
    for _ in range(reps):
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--holes", type=int, default=100)
    ap.add_argument("--pins", type=int, default=64)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--cases", default="H,HF,P")
    args = ap.parse_args()
    print(f"{'case':4} {'n':>4} | {'quorvalind s':>12} {'tris':>7} | {'manifold3d s':>12} {'tris':>7} |"
          f" {'time x':>7} {'tris x':>6} | volume rel diff")
    for case in args.cases.split(","):
        n = args.pins if case == "P" else args.holes
        t_ours, r_ours = timed(lambda: ours(case, n), args.reps)
        t_peer, r_peer = timed(peer(case, n), max(args.reps, 5))
        tri_ours, tri_peer = r_ours.mesh().num_triangles, r_peer.num_tri()
        dv = abs(r_ours.volume() - r_peer.volume()) / r_peer.volume()
        print(f"{case:4} {n:>4} | {t_ours:12.3f} {tri_ours:7d} | {t_peer:12.4f} {tri_peer:7d} |"
              f" {t_ours / t_peer:7.1f} {tri_ours / tri_peer:6.2f} | {dv:.1e}", flush=True)


if __name__ == "__main__":
    main()
