"""Soak test: every entry point called many times (100,000 by default), on
its success path and on its failure paths, while resident memory and the
reference counts of the argument objects are watched.

    python tools/soak.py [--calls N] [--only SUBSTRING]

Prints one line per entry point (time per call, resident-memory change) and
exits non-zero if resident memory grew by more than --max-growth-mib over the
whole run (after a warm-up) or any argument's reference count moved.
"""
import argparse
import copy
import pickle
import sys
import time

import quorvalind as q
import quorvalind.extras as extras
from quorvalind.errors import InternalFaultError


def rss_bytes():
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * 4096


class BadLen:
    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        return self.items[i]


class RaisingFloat:
    def __float__(self):
        raise ValueError("no float")


# Argument objects shared by every call; their reference counts must not move.
P, O = q.Pnt(1, 2, 3), q.Pnt(-1, 0.5, 2)
AX = q.Ax1(P, O)
T = q.Trsf.rotation(AX, 0.3)
TET_V = [0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]
TET_T = [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]
TET = q.solid_from_mesh(TET_V, TET_T)
TET2 = q.transform(TET, q.Trsf.translation(q.Pnt(0.25, 0.25, 0.25)))
MESH = TET.mesh()
FAULTY = q.solid_from_mesh([0, 0, 0], [0, 1, 2])
FAULTY_MESH = FAULTY.mesh()
MP = q.MeshParams(8, 4)
SQUARE = [q.Pnt(0, 0, 0), q.Pnt(1, 0, 0), q.Pnt(1, 1, 0), q.Pnt(0, 1, 0)]
HOLE = [q.Pnt(0.25, 0.25, 0), q.Pnt(0.25, 0.75, 0), q.Pnt(0.75, 0.75, 0), q.Pnt(0.75, 0.25, 0)]
WIRE = q.make_polygon(SQUARE)
HOLE_WIRE = q.make_polygon(HOLE)
HOLES = [HOLE_WIRE]
FACE = q.make_face_with_holes(WIRE, HOLES)
PROFILE = q.make_polygon([q.Pnt(1, 0, 0), q.Pnt(2, 0, 0), q.Pnt(2, 0, 1)])
SOLIDS = [TET, TET2]
BAD_SOLIDS = [TET, TET2, "x"]
BAD_POINTS = BadLen(SQUARE + [5])
NAN = float("nan")
PICKLED = TET.__reduce__()[1][0]
BUFFERS = extras.mesh_buffers(MESH)
ARGS = [P, O, AX, T, TET_V, TET_T, TET, TET2, MESH, FAULTY, FAULTY_MESH, MP, SQUARE, HOLE, WIRE,
        HOLE_WIRE, HOLES, FACE, PROFILE, SOLIDS, BAD_SOLIDS, BAD_POINTS, PICKLED, BUFFERS]

ENTRY_POINTS = {
    # gp
    "Pnt": lambda: q.Pnt(1, 2, z=3),
    "Pnt bad": lambda: q.Pnt(1, "y", 3),
    "Pnt raising __float__": lambda: q.Pnt(RaisingFloat(), 0, 0),
    "Pnt members": lambda: (P.x, P.y, P.z, P.norm(), P.as_tuple(), repr(P), q.Pnt.origin()),
    "Pnt.dot/cross/distance": lambda: (P.dot(O), P.cross(o=O), P.distance(O)),
    "Pnt.dot bad": lambda: P.dot((1, 2, 3)),
    "Ax1": lambda: (q.Ax1(P, direction=O).direction, q.Ax1.oz().location),
    "Ax1 missing": lambda: q.Ax1(P),
    "Trsf builders": lambda: (q.Trsf.translation(P), q.Trsf.rotation(AX, 0.3),
                              q.Trsf.scale_uniform(2), q.Trsf.scale_xyz(1, 2, 3)),
    "Trsf.then/apply_point": lambda: T.then(T).apply_point(P),
    "Trsf no constructor": lambda: q.Trsf(),
    "Trsf.rotation bad": lambda: q.Trsf.rotation(P, 1),
    # topods, mesh
    "Vertex": lambda: q.Vertex(P).point,
    "solid_from_mesh": lambda: q.solid_from_mesh(TET_V, TET_T),
    "solid_from_mesh bad element": lambda: q.solid_from_mesh(TET_V, [0, 1, -1]),
    "solid_from_mesh str": lambda: q.solid_from_mesh("abc", TET_T),
    "Solid members": lambda: (TET.volume(), TET.mesh(), repr(TET)),
    "Solid index fault": FAULTY.volume,
    "TriMesh members": lambda: (MESH.num_vertices, MESH.num_triangles, MESH.volume(),
                                MESH.vertices_flat(), MESH.triangles_flat(), repr(MESH)),
    "TriMesh index fault": FAULTY_MESH.volume,
    # prim
    "MeshParams": lambda: q.MeshParams(lat_segments=5).circle_segments,
    "MeshParams overflow": lambda: q.MeshParams(8, -1),
    "make_box": lambda: q.make_box(P, 1, 2, 3),
    "make_box_centered_xy": lambda: q.make_box_centered_xy(P, 1, 2, 3),
    "make_box NaN": lambda: q.make_box(P, NAN, 1, 1),
    "make_cylinder": lambda: q.make_cylinder(1, 2, MP),
    "make_cone": lambda: q.make_cone(1, 0.5, 2, mp=MP),
    "make_sphere": lambda: q.make_sphere(1, MP),
    "make_sphere bad mp": lambda: q.make_sphere(1, mp=5),
    "make_torus": lambda: q.make_torus(2, 1, MP),
    "make_torus huge": lambda: q.make_torus(2, 1, q.MeshParams(2**64 - 1, 2**64 - 1)),
    "make_prism": lambda: q.make_prism(FACE, P),
    "make_revol": lambda: q.make_revol(PROFILE, q.Ax1.oz(), 1.0, MP),
    "make_revol bad": lambda: q.make_revol(PROFILE, AX, "x"),
    # builder
    "make_polygon": lambda: q.make_polygon(SQUARE),
    "make_polygon bad len": lambda: q.make_polygon(BAD_POINTS),
    "make_face": lambda: q.make_face(WIRE),
    "make_face_with_holes": lambda: q.make_face_with_holes(WIRE, HOLES),
    "make_face_with_holes bad": lambda: q.make_face_with_holes(WIRE, [WIRE, 1]),
    "transform": lambda: q.transform(TET, T),
    "transform bad": lambda: q.transform(TET, P),
    # algo
    "cut": lambda: q.cut(TET, TET2),
    "fuse": lambda: q.fuse(TET, TET2),
    "common": lambda: q.common(TET, TET2),
    "fuse_all": lambda: q.fuse_all(SOLIDS),
    "fuse_all bad element": lambda: q.fuse_all(BAD_SOLIDS),
    "cut index fault": lambda: q.cut(FAULTY, TET),
    # io
    "write_binary_stl": lambda: q.write_binary_stl(MESH),
    "write_ascii_stl": lambda: q.write_ascii_stl(MESH, "part"),
    "write_step": lambda: q.write_step(MESH, "part"),
    "write_step bad name": lambda: q.write_step(MESH, 5),
    "write_step index fault": lambda: q.write_step(FAULTY_MESH, "part"),
    # pickling, copying, flat arrays
    "pickle round trip": lambda: pickle.loads(pickle.dumps([TET, FACE, T, MP], 5)),
    "copy/deepcopy": lambda: (copy.copy(MESH), copy.deepcopy(FACE)),
    "_restore damaged": lambda: extras._restore(PICKLED[:-1]),
    "_restore not bytes": lambda: extras._restore(TET_V),
    "mesh_buffers": lambda: extras.mesh_buffers(MESH),
    "solid_from_buffers": lambda: extras.solid_from_buffers(*BUFFERS),
    "solid_from_buffers bad length": lambda: extras.solid_from_buffers(BUFFERS[0][:-1], b""),
}


def run(f, n):
    failures = 0
    for _ in range(n):
        try:
            f()
        except (Exception, InternalFaultError):
            failures += 1
    return failures


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--calls", type=int, default=100_000)
    ap.add_argument("--only", default="")
    ap.add_argument("--max-growth-mib", type=float, default=4.0)
    opts = ap.parse_args(argv[1:])
    entries = {k: f for k, f in ENTRY_POINTS.items() if opts.only in k}

    # Warm-up: caches, free lists and the allocator's arenas settle first.
    for f in entries.values():
        run(f, min(opts.calls, 2000))
    refs = [sys.getrefcount(a) for a in ARGS]
    start = rss_bytes()
    print(f"{'entry point':32s} {'calls':>8s} {'failed':>8s} {'us/call':>9s} {'RSS MiB':>9s}")
    for name, f in entries.items():
        before = rss_bytes()
        t0 = time.perf_counter()
        failed = run(f, opts.calls)
        dt = time.perf_counter() - t0
        grown = (rss_bytes() - before) / 2**20
        print(f"{name:32s} {opts.calls:8d} {failed:8d} {1e6 * dt / opts.calls:9.2f} {grown:+9.2f}",
              flush=True)
    total = (rss_bytes() - start) / 2**20
    after = [sys.getrefcount(a) for a in ARGS]
    moved = [(i, r, n) for i, (r, n) in enumerate(zip(refs, after)) if r != n]
    print(f"resident memory: {start / 2**20:.1f} MiB after warm-up, {total:+.2f} MiB over the run")
    print(f"argument reference counts moved: {moved if moved else 'none'}")
    ok = total <= opts.max_growth_mib and not moved
    print("soak: OK" if ok else "soak: FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
