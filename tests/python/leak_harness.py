"""Every entry point on its success and failure paths, as zero-argument
calls over shared argument objects, and the measurements around them:
reference counts of those objects and resident memory.

Used twice: test_leaks.py calls each entry point thousands of times in the
test run; tools/soak.py calls each 100,000 times in CI and by hand."""
import copy
import pickle
import sys

import quorvalind as q
import quorvalind.extras as extras
from quorvalind.errors import InternalFaultError


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


class RaisesWithCause:
    def __float__(self):
        raise TypeError("inner") from ValueError("root")


# Argument objects shared by every call; their reference counts must not move.
P, O = q.Pnt(1, 2, 3), q.Pnt(-1, 0.5, 2)
AX = q.Ax1(P, O)
T = q.Trsf.rotation(AX, 0.3)
TET_V = [0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]
TET_T = [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]
TET = q.solid_from_mesh(TET_V, TET_T)
TET2 = q.transform(TET, q.Trsf.translation(q.Pnt(0.25, 0.25, 0.25)))
MESH = TET.mesh()
# A 3000-vertex soup: leaking one copy per call shows in resident memory.
VERTS = [float(i % 7) for i in range(3000)]
TRIS = [i % 1000 for i in range(3000)]
BIG = q.solid_from_mesh(VERTS, TRIS)
BIG_MESH = BIG.mesh()
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
# The bad element comes last, after 500 converted ones that must be freed.
BAD_ELEMENTS = [1.0] * 500 + ["x"]
NAN = float("nan")
PICKLED = TET.__reduce__()[1][0]
BUFFERS = extras.mesh_buffers(MESH)
ARGS = [P, O, AX, T, TET_V, TET_T, TET, TET2, MESH, VERTS, TRIS, BIG, BIG_MESH, FAULTY,
        FAULTY_MESH, MP, SQUARE, HOLE, WIRE, HOLE_WIRE, HOLES, FACE, PROFILE, SOLIDS, BAD_SOLIDS,
        BAD_POINTS, BAD_ELEMENTS, PICKLED, BUFFERS]

ENTRY_POINTS = {
    # gp
    "Pnt": lambda: q.Pnt(1, 2, z=3),
    "Pnt bad": lambda: q.Pnt(1, "y", 3),
    "Pnt missing": lambda: q.Pnt(1, 2),
    "Pnt unexpected keyword": lambda: q.Pnt(1, 2, 3, w=1),
    "Pnt raising __float__": lambda: q.Pnt(RaisingFloat(), 0, 0),
    "Pnt TypeError with cause": lambda: q.Pnt(RaisesWithCause(), 0, 0),
    "Pnt members": lambda: (P.x, P.y, P.z, P.norm(), P.as_tuple(), repr(P), q.Pnt.origin()),
    "Pnt.dot/cross/distance": lambda: (P.dot(O), P.cross(o=O), P.distance(O)),
    "Pnt.dot bad": lambda: P.dot((1, 2, 3)),
    "Pnt.dot bad receiver": lambda: q.Pnt.dot(5, O),
    "Pnt.norm with argument": lambda: P.norm(1),
    "Ax1": lambda: (q.Ax1(P, direction=O).direction, q.Ax1.oz().location),
    "Ax1 missing": lambda: q.Ax1(P),
    "Ax1 multiple values": lambda: q.Ax1(P, location=P),
    "Trsf builders": lambda: (q.Trsf.translation(P), q.Trsf.rotation(AX, 0.3),
                              q.Trsf.scale_uniform(2), q.Trsf.scale_xyz(1, 2, 3)),
    "Trsf.then/apply_point": lambda: T.then(T).apply_point(P),
    "Trsf no constructor": lambda: q.Trsf(),
    "Trsf.rotation bad": lambda: q.Trsf.rotation(P, 1),
    # topods, mesh
    "Vertex": lambda: q.Vertex(P).point,
    "solid_from_mesh": lambda: q.solid_from_mesh(TET_V, TET_T),
    "solid_from_mesh 3000 vertices": lambda: q.solid_from_mesh(VERTS, TRIS),
    "solid_from_mesh bad element": lambda: q.solid_from_mesh(TET_V, [0, 1, -1]),
    "solid_from_mesh late bad element": lambda: q.solid_from_mesh(BAD_ELEMENTS, TRIS),
    "solid_from_mesh str": lambda: q.solid_from_mesh("abc", TET_T),
    "Solid members": lambda: (TET.volume(), TET.mesh(), repr(TET)),
    "Solid members 3000 vertices": lambda: (BIG.volume(), BIG.mesh(), repr(BIG)),
    "Solid index fault": FAULTY.volume,
    "Solid index fault repr": lambda: repr(FAULTY),
    "TriMesh members": lambda: (BIG_MESH.num_vertices, BIG_MESH.num_triangles, BIG_MESH.volume(),
                                BIG_MESH.vertices_flat(), BIG_MESH.triangles_flat(),
                                repr(BIG_MESH)),
    "TriMesh index fault": FAULTY_MESH.volume,
    # prim
    "MeshParams": lambda: q.MeshParams(lat_segments=5).circle_segments,
    "MeshParams float count": lambda: q.MeshParams(1.5),
    "MeshParams overflow": lambda: q.MeshParams(8, -1),
    "make_box": lambda: q.make_box(P, 1, 2, 3),
    "make_box_centered_xy": lambda: q.make_box_centered_xy(P, 1, 2, 3),
    "make_box NaN": lambda: q.make_box(P, NAN, 1, 1),
    "make_cylinder": lambda: q.make_cylinder(1, 2, MP),
    "make_cylinder too many": lambda: q.make_cylinder(1, 2, None, 4),
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
    "fuse_all set": lambda: q.fuse_all({1, 2}),
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

# The entry points above that raise on every call (their failure path); the
# others return.
FAILING = {
    "Pnt bad", "Pnt missing", "Pnt unexpected keyword", "Pnt raising __float__",
    "Pnt TypeError with cause", "Pnt.dot bad", "Pnt.dot bad receiver", "Pnt.norm with argument",
    "Ax1 missing", "Ax1 multiple values", "Trsf no constructor", "Trsf.rotation bad",
    "solid_from_mesh bad element", "solid_from_mesh late bad element", "solid_from_mesh str",
    "Solid index fault", "Solid index fault repr", "TriMesh index fault",
    "MeshParams float count", "MeshParams overflow", "make_cylinder too many",
    "make_sphere bad mp", "make_torus huge", "make_revol bad", "make_polygon bad len",
    "make_face_with_holes bad", "transform bad", "fuse_all bad element", "fuse_all set",
    "cut index fault", "write_step bad name", "write_step index fault", "_restore damaged",
    "_restore not bytes", "solid_from_buffers bad length",
}


def run(f, n):
    """Calls f n times; returns how many calls raised."""
    failures = 0
    for _ in range(n):
        try:
            f()
        except (Exception, InternalFaultError):
            failures += 1
    return failures


def refcounts():
    return [sys.getrefcount(a) for a in ARGS]


def rss_bytes():
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * 4096
