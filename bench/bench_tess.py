"""Face triangulation cost: outlines of 100, 500 and 2,000 points and plates
with 10, 50 and 200 holes.

Usage: python bench/bench_tess.py [--reps N]

Triangulation is not exposed to Python on its own, so the script times it
twice: bare, in the C++ benchmark program (built with CMake into build/bench
when missing), and through make_prism of the same face, which triangulates it
once and adds the caps, walls and weld. The peer, manifold3d, runs on the same
points: triangulate() for the bare cut, Manifold.extrude() for the prism.
"""
import argparse
import math
import os
import statistics
import subprocess
import sys
import time

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TAU = 6.283185307179586

try:
    import quorvalind as q
except ImportError:  # the C++ rows still run
    q = None
try:
    import manifold3d
except ImportError:
    manifold3d = None


# The same closed formulas as bench/tess_bench.cpp.
def circle(n, cx=0.0, cy=0.0, r=1.0, clockwise=False):
    return [(cx + r * math.cos(TAU * (n - i if clockwise else i) / n),
             cy + r * math.sin(TAU * (n - i if clockwise else i) / n)) for i in range(n)]


def star(n):
    return [((1.0 if i % 2 == 0 else 0.5) * math.cos(TAU * i / n),
             (1.0 if i % 2 == 0 else 0.5) * math.sin(TAU * i / n)) for i in range(n)]


def comb(teeth):
    t = float(teeth)
    p = [(0.0, 0.0), (2 * t - 1, 0.0)]
    for k in range(teeth - 1, -1, -1):
        x = 2.0 * k
        p += [(x + 1, 4.0), (x, 4.0)]
        if k > 0:
            p += [(x, 1.0), (x - 1, 1.0)]
    return p


def spiral(n):
    half = n // 2
    p = []
    for i in range(half):
        t = 3.0 * TAU * i / half
        p.append(((1.5 + t) * math.cos(t), (1.5 + t) * math.sin(t)))
    for i in range(half - 1, -1, -1):
        t = 3.0 * TAU * i / half
        p.append(((1.0 + t) * math.cos(t), (1.0 + t) * math.sin(t)))
    return p


def plate(holes):
    cols = 1
    while cols * cols < holes:
        cols += 1
    side = 2.0 * cols
    outer = [(0.0, 0.0), (side, 0.0), (side, side), (0.0, side)]
    hs = [circle(16, 2.0 * (i % cols) + 1.0, 2.0 * (i // cols) + 1.0, 0.6, clockwise=True)
          for i in range(holes)]
    return outer, hs


def cases():
    out = []
    for n in (100, 500, 2000):
        out.append((f"circle {n}", circle(n), []))
        out.append((f"star {n}", star(n), []))
        out.append((f"comb {n}", comb(n // 4), []))
        out.append((f"spiral {n}", spiral(n), []))
    for h in (10, 50, 200):
        outer, hs = plate(h)
        out.append((f"plate {h} holes", outer, hs))
    return out


def median_time(fn, reps):
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def cpp_rows(reps):
    build = os.path.join(ROOT, "build", "bench")
    exe = os.path.join(build, "tess_bench")
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DQUORVALIND_BUILD_BENCH=ON",
                    "-DQUORVALIND_BUILD_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "tess_bench", "-j2"],
                   check=True, stdout=subprocess.DEVNULL)
    out = subprocess.run([exe, str(reps)], check=True, capture_output=True, text=True).stdout
    rows = {}
    for line in out.splitlines()[1:]:
        # "  plate 10 holes        182 triangles       0.097 ms"
        parts = line.split()
        rows[" ".join(parts[:-4])] = float(parts[-2])
    return rows


def qv_face(outer, holes):
    wire = q.builder.make_polygon([q.Pnt(x, y, 0.0) for x, y in outer])
    hs = [q.builder.make_polygon([q.Pnt(x, y, 0.0) for x, y in h]) for h in holes]
    return q.builder.make_face_with_holes(wire, hs)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reps", type=int, default=7)
    args = ap.parse_args()
    reps = args.reps

    bare = cpp_rows(reps)
    have_prism = q is not None and hasattr(q, "prim") and hasattr(q.prim, "make_prism")
    print(f"medians of {reps}, milliseconds; ratio = manifold3d / quorvalind")
    print(f"{'face':<16} {'tris':>5} | {'triangulate':>11} {'m3d tri':>9} {'ratio':>6} |"
          f" {'make_prism':>10} {'m3d extrude':>11} {'ratio':>6}")
    for name, outer, holes in cases():
        t_bare = bare.get(name, float("nan"))
        tris = len(outer) - 2 + sum(len(h) + 2 for h in holes)
        t_mtri = t_mext = t_prism = float("nan")
        if manifold3d is not None:
            # manifold3d wants every contour counter-clockwise for area, holes clockwise.
            polys = [np.array(outer, dtype=np.float64)] + [np.array(h, dtype=np.float64) for h in holes]
            t_mtri = 1e3 * median_time(lambda: manifold3d.triangulate(polys), reps)
            t_mext = 1e3 * median_time(
                lambda: manifold3d.Manifold.extrude(manifold3d.CrossSection(polys), 1.0).num_tri(), reps)
        if have_prism:
            face = qv_face(outer, holes)
            v = q.Pnt(0.0, 0.0, 1.0)
            t_prism = 1e3 * median_time(lambda: q.prim.make_prism(face, v), reps)
        print(f"{name:<16} {tris:>5} | {t_bare:>11.3f} {t_mtri:>9.3f} {t_mtri / t_bare:>6.2f} |"
              f" {t_prism:>10.3f} {t_mext:>11.3f} {t_mext / t_prism:>6.2f}")
    if not have_prism:
        print("(make_prism not in this build of the module: prism columns left empty)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
