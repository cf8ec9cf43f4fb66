"""Moving meshes out of and into the module: pickling against the flat
lists, and the flat byte arrays of quorvalind.extras against
vertices_flat() / triangles_flat() and solid_from_mesh.

    python bench/bench_transfer.py [--segments 1024]

pickle   C2's result (two 64 x 32 spheres fused, about 52,000 triangles):
         pickle.dumps / loads of the Solid (protocol 5) against pickling the
         two flat lists and rebuilding with solid_from_mesh.
arrays   a sphere of --segments x --segments/2 (1024: about 1 million
         triangles): mesh_buffers against the flat lists, each taken on to
         numpy arrays; solid_from_buffers (bytes, and numpy arrays) against
         solid_from_mesh with lists.

Medians of several runs, in one process; memory is not measured.
"""
import argparse
import os
import pickle
import statistics
import sys
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))

import quorvalind as q  # noqa: E402
from quorvalind.extras import mesh_buffers, solid_from_buffers  # noqa: E402


def median_seconds(f, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def c2_result():
    from solid_shapes import moved, sphere
    s = sphere(64, 32, 1.0)
    a, b = (q.solid_from_mesh(v.ravel().tolist(), t.ravel().tolist())
            for v, t in (moved(s), moved(s, offset=(0.5, 0.3, 0.2))))
    return q.fuse(a, b)


def row(label, seconds, size=None, base=None):
    ratio = f"{base / seconds:8.1f}x" if base else " " * 9
    size_text = f"{size / 2 ** 20:9.2f} MiB" if size is not None else " " * 13
    print(f"  {label:48s} {seconds * 1e3:10.2f} ms {size_text} {ratio}")


def bench_pickle(reps):
    solid = c2_result()
    m = solid.mesh()
    print(f"pickle: C2 result, {m.num_vertices} vertices, {m.num_triangles} triangles "
          f"(median of {reps})")
    data = pickle.dumps(solid, 5)
    lists = (m.vertices_flat(), m.triangles_flat())
    list_data = pickle.dumps(lists, 5)
    t_lists_dump = median_seconds(
        lambda: pickle.dumps((solid.mesh().vertices_flat(), solid.mesh().triangles_flat()), 5), reps)
    t_lists_load = median_seconds(lambda: q.solid_from_mesh(*pickle.loads(list_data)), reps)
    row("lists: mesh(), *_flat(), pickle.dumps", t_lists_dump, len(list_data))
    row("Solid: pickle.dumps", median_seconds(lambda: pickle.dumps(solid, 5), reps), len(data),
        t_lists_dump)
    row("lists: pickle.loads, solid_from_mesh", t_lists_load)
    row("Solid: pickle.loads", median_seconds(lambda: pickle.loads(data), reps), None,
        t_lists_load)


def bench_arrays(segments, reps):
    m = q.make_sphere(1.0, q.MeshParams(segments, segments // 2)).mesh()
    print(f"arrays: sphere {segments} x {segments // 2}, {m.num_vertices} vertices, "
          f"{m.num_triangles} triangles (median of {reps})")

    def lists_to_numpy():
        return (np.array(m.vertices_flat()).reshape(-1, 3),
                np.array(m.triangles_flat(), dtype=np.uint64).reshape(-1, 3))

    def buffers_to_numpy():
        v, t = mesh_buffers(m)
        return np.frombuffer(v, "<f8").reshape(-1, 3), np.frombuffer(t, "<u8").reshape(-1, 3)

    t_flat = median_seconds(lambda: (m.vertices_flat(), m.triangles_flat()), reps)
    row("out: vertices_flat() + triangles_flat()", t_flat)
    row("out: mesh_buffers()", median_seconds(lambda: mesh_buffers(m), reps), None, t_flat)
    t_np = median_seconds(lists_to_numpy, reps)
    row("out to numpy: flat lists, np.array", t_np)
    row("out to numpy: mesh_buffers, np.frombuffer", median_seconds(buffers_to_numpy, reps),
        None, t_np)

    vl, tl = m.vertices_flat(), m.triangles_flat()
    vb, tb = mesh_buffers(m)
    va, ta = buffers_to_numpy()
    t_in = median_seconds(lambda: q.solid_from_mesh(vl, tl), reps)
    row("in: solid_from_mesh(lists)", t_in)
    row("in: solid_from_buffers(bytes)", median_seconds(lambda: solid_from_buffers(vb, tb), reps),
        None, t_in)
    row("in: solid_from_buffers(numpy arrays)",
        median_seconds(lambda: solid_from_buffers(va, ta), reps), None, t_in)
    row("in: solid_from_mesh(numpy arrays .tolist())",
        median_seconds(lambda: q.solid_from_mesh(va.ravel().tolist(), ta.ravel().tolist()), reps))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--segments", type=int, default=1024)
    ap.add_argument("--reps", type=int, default=7)
    args = ap.parse_args()
    print(f"{'':50s} {'median':>13s} {'size':>13s} {'speed-up':>9s}")
    bench_pickle(args.reps * 3)
    bench_arrays(args.segments, args.reps)


if __name__ == "__main__":
    main()
