"""Weld throughput and the raw-buffer round trip.

Usage: python bench/bench_foundation.py [--vertices N]

The weld runs in the C++ benchmark program (it is not exposed to Python on
its own); this script builds it with CMake into build/bench.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

import quorvalind as q

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def soup(n_vertices):
    """A triangle soup of about n_vertices vertices (each triangle its own three)."""
    cells = int((n_vertices / 6) ** 0.5)
    verts = []
    tris = []
    h = 0.001
    for i in range(cells):
        for j in range(cells):
            a = (i * h, j * h, 0.0)
            b = ((i + 1) * h, j * h, 0.0)
            c = ((i + 1) * h, (j + 1) * h, 0.0)
            d = (i * h, (j + 1) * h, 0.0)
            for tri in ((a, b, c), (a, c, d)):
                base = len(verts) // 3
                for p in tri:
                    verts.extend(p)
                tris.extend((base, base + 1, base + 2))
    return verts, tris


def median_time(fn, reps):
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def weld_bench(n_vertices):
    build = os.path.join(ROOT, "build", "bench")
    exe = os.path.join(build, "weld_bench")
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DQUORVALIND_BUILD_BENCH=ON",
                        "-DQUORVALIND_BUILD_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, stdout=subprocess.DEVNULL)
    # Incremental: always measures the current sources.
    subprocess.run(["cmake", "--build", build, "--target", "weld_bench", "-j2"],
                   check=True, stdout=subprocess.DEVNULL)
    out = subprocess.run([exe, str(n_vertices)], check=True, capture_output=True, text=True)
    return out.stdout.strip()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vertices", type=int, default=1_000_000)
    ap.add_argument("--reps", type=int, default=5)
    args = ap.parse_args()

    print(weld_bench(args.vertices))

    verts, tris = soup(args.vertices)
    n = len(verts) // 3

    def round_trip():
        s = q.solid_from_mesh(verts, tris)
        s.mesh().vertices_flat()

    s = q.solid_from_mesh(verts, tris)
    m = s.mesh()
    t_build = median_time(lambda: q.solid_from_mesh(verts, tris), args.reps)
    t_mesh = median_time(s.mesh, args.reps)
    t_flat = median_time(m.vertices_flat, args.reps)
    t_all = median_time(round_trip, args.reps)
    print(f"round trip of {n} vertices ({len(tris) // 3} triangles), medians of {args.reps}:")
    print(f"  solid_from_mesh  {t_build * 1e3:8.1f} ms")
    print(f"  Solid.mesh()     {t_mesh * 1e3:8.1f} ms")
    print(f"  vertices_flat()  {t_flat * 1e3:8.1f} ms")
    print(f"  all three        {t_all * 1e3:8.1f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
