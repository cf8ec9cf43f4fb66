"""Primitive builders and the STL writers, side by side with numpy-stl and trimesh.

Usage: python bench/bench_prim_io.py [--reps N]

Times, as medians of N runs in one process on the same inputs:
  make_sphere with 1024 x 512 segments and make_torus with 1024 (target < 0.5 s);
  write_binary_stl of the sphere (about 1M triangles) against numpy-stl saving
  the same triangles to an in-memory file (target: at least 3x faster);
  write_ascii_stl of the sphere against trimesh's ASCII STL export of the same
  mesh (target: faster).
Peers are timed on their export step only; building their mesh objects from
the module's buffers is not counted.
"""
import argparse
import io
import statistics
import sys
import time

import numpy as np

import quorvalind as q


def median_time(fn, reps):
    times = []
    for _ in range(reps):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def arrays(mesh):
    vertices = np.array(mesh.vertices_flat(), dtype=np.float64).reshape(-1, 3)
    faces = np.array(mesh.triangles_flat(), dtype=np.int64).reshape(-1, 3)
    return vertices, faces


def row(table, what, ours, peer=None, peer_name="", target=""):
    ratio = f"{peer / ours:6.2f}x" if peer is not None else ""
    peer_txt = f"{peer * 1e3:9.1f} ms" if peer is not None else ""
    table.append((what, f"{ours * 1e3:9.1f} ms", peer_name, peer_txt, ratio, target))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--reps", type=int, default=5)
    args = ap.parse_args()
    reps = args.reps
    table = []

    sphere_mp = q.MeshParams(1024, 512)
    torus_mp = q.MeshParams(1024)
    t_sphere = median_time(lambda: q.prim.make_sphere(1.0, sphere_mp), reps)
    t_torus = median_time(lambda: q.prim.make_torus(2.0, 0.5, torus_mp), reps)
    row(table, "make_sphere 1024x512", t_sphere, target="< 500 ms")
    row(table, "make_torus 1024", t_torus, target="< 500 ms")

    mesh = q.prim.make_sphere(1.0, sphere_mp).mesh()
    vertices, faces = arrays(mesh)
    n = mesh.num_triangles

    t_bin = median_time(lambda: q.io.write_binary_stl(mesh), reps)
    try:
        from stl import mesh as stl_mesh
        from stl import Mode

        data = np.zeros(n, dtype=stl_mesh.Mesh.dtype)
        data["vectors"] = vertices[faces]
        peer_mesh = stl_mesh.Mesh(data)

        def numpy_stl_save():
            peer_mesh.save("sphere.stl", fh=io.BytesIO(), mode=Mode.BINARY)

        t_peer = median_time(numpy_stl_save, reps)
        row(table, f"write_binary_stl {n} tri", t_bin, t_peer, "numpy-stl", ">= 3x")
    except ImportError as e:
        row(table, f"write_binary_stl {n} tri", t_bin, peer_name=f"numpy-stl missing: {e}")

    t_ascii = median_time(lambda: q.io.write_ascii_stl(mesh, "sphere"), reps)
    try:
        import trimesh
        from trimesh.exchange.stl import export_stl_ascii

        tm = trimesh.Trimesh(vertices=vertices, faces=faces, process=False)
        t_peer = median_time(lambda: export_stl_ascii(tm), reps)
        row(table, f"write_ascii_stl {n} tri", t_ascii, t_peer, "trimesh", "> 1x")
    except ImportError as e:
        row(table, f"write_ascii_stl {n} tri", t_ascii, peer_name=f"trimesh missing: {e}")

    print(f"medians of {reps} runs (ratio = peer time / quorvalind time)")
    header = ("operation", "quorvalind", "peer", "peer time", "ratio", "target")
    widths = [max(len(str(r[i])) for r in table + [header]) for i in range(len(header))]
    for r in [header] + table:
        print("  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
