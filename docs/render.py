"""Renders the pictures of the docs from the module's own meshes.

    python docs/render.py [OUT_DIR]     (default: docs/img)

Flat-shaded triangles (one colour per triangle from its normal and a fixed
light), a fixed camera, the Agg backend, PNG metadata without a time stamp,
so the same meshes give the same files.
"""
import math
import os
import struct
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from mpl_toolkits.mplot3d.art3d import Line3DCollection, Poly3DCollection  # noqa: E402

import quorvalind as q  # noqa: E402
from quorvalind import Ax1, MeshParams, Pnt, Trsf  # noqa: E402
from quorvalind.extras import simplify  # noqa: E402

LIGHT = np.array([0.3, -0.7, 0.65])
LIGHT = LIGHT / np.linalg.norm(LIGHT)
ELEV, AZIM = 26, -32
COLOURS = {"part": (0.34, 0.55, 0.80), "second": (0.85, 0.55, 0.30), "ghost": (0.6, 0.6, 0.6)}
FIG_INCHES, DPI = 4.0, 100


def _arrays(mesh):
    v = np.array(mesh.vertices_flat(), dtype=float).reshape(-1, 3)
    t = np.array(mesh.triangles_flat(), dtype=np.int64).reshape(-1, 3)
    return v, t


def _shaded(tris, colour):
    n = np.cross(tris[:, 1] - tris[:, 0], tris[:, 2] - tris[:, 0])
    length = np.linalg.norm(n, axis=1)
    length[length == 0] = 1
    lit = np.clip((n / length[:, None]) @ LIGHT, 0, 1)
    shade = 0.35 + 0.65 * lit
    return np.clip(np.outer(shade, colour), 0, 1)


class Scene:
    def __init__(self):
        self.fig = plt.figure(figsize=(FIG_INCHES, FIG_INCHES), dpi=DPI)
        self.ax = self.fig.add_axes([0, 0, 1, 1], projection="3d")
        self.points = []

    def solid(self, solid, colour="part", alpha=1.0, edges=False):
        v, t = _arrays(solid.mesh())
        if len(t) == 0:
            return self
        tris = v[t]
        coll = Poly3DCollection(tris, facecolors=_shaded(tris, COLOURS[colour]), alpha=alpha,
                                edgecolors=(0.1, 0.1, 0.1, 0.6) if edges else "none",
                                linewidths=0.3 if edges else 0.0)
        self.ax.add_collection3d(coll)
        self.points.append(v)
        return self

    def wire(self, points, colour=(0.1, 0.1, 0.1)):
        p = np.array([pt.as_tuple() for pt in points] + [points[0].as_tuple()])
        self.ax.add_collection3d(Line3DCollection([p], colors=[colour], linewidths=1.5))
        self.points.append(p)
        return self

    def save(self, path):
        pts = np.vstack(self.points)
        lo, hi = pts.min(axis=0), pts.max(axis=0)
        centre, half = (lo + hi) / 2, max((hi - lo).max() / 2, 1e-9)
        for setter, c in zip((self.ax.set_xlim, self.ax.set_ylim, self.ax.set_zlim), centre):
            setter(c - half, c + half)
        self.ax.set_box_aspect((1, 1, 1))
        self.ax.view_init(elev=ELEV, azim=AZIM)
        self.ax.set_axis_off()
        self.fig.savefig(path, dpi=DPI, metadata={"Software": None})
        plt.close(self.fig)
        print("wrote", path)


# ---- the parts


def square(cx, cy, s, z=0.0, clockwise=False):
    pts = [Pnt(cx - s, cy - s, z), Pnt(cx + s, cy - s, z), Pnt(cx + s, cy + s, z),
           Pnt(cx - s, cy + s, z)]
    return pts[::-1] if clockwise else pts


def circle(cx, cy, r, n=32, clockwise=False):
    sign = -1 if clockwise else 1
    return [Pnt(cx + r * math.cos(sign * 2 * math.pi * i / n),
                cy + r * math.sin(sign * 2 * math.pi * i / n), 0) for i in range(n)]


def tetrahedron():
    return q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                             [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])


def plate_face():
    outer = q.make_polygon(square(0, 0, 3))
    holes = [q.make_polygon(circle(x, y, 0.8, 24, clockwise=True))
             for x, y in ((-1.5, -1.5), (1.5, 1.5))]
    holes.append(q.make_polygon(square(1.5, -1.5, 0.7, clockwise=True)))
    return q.make_face_with_holes(outer, holes)


def bracket():
    """The example part of examples/build_parts.py."""
    plate = q.make_box(Pnt(0, 0, 0), 40, 30, 4)
    cylinder = q.make_cylinder(2, 6, MeshParams(circle_segments=32))
    for x, y in ((6, 6), (34, 6), (34, 24), (6, 24)):
        plate = simplify(q.cut(plate, q.transform(cylinder, Trsf.translation(Pnt(x, y, -1)))))
    boss = q.transform(q.make_cylinder(7, 12, MeshParams(circle_segments=48)),
                       Trsf.translation(Pnt(20, 15, 0)))
    bore = q.transform(q.make_cylinder(4, 14, MeshParams(circle_segments=48)),
                       Trsf.translation(Pnt(20, 15, -1)))
    return simplify(q.cut(simplify(q.fuse(plate, boss)), bore))


def from_binary_stl(data):
    """Reads binary STL bytes back into a solid (what a file reader would see)."""
    (count,) = struct.unpack_from("<I", data, 80)
    verts = []
    for i in range(count):
        rec = struct.unpack_from("<12f", data, 84 + 50 * i)
        verts.extend(rec[3:])
    return q.solid_from_mesh(verts, range(3 * count))


def pictures():
    fine = MeshParams(circle_segments=48, lat_segments=24)
    box = q.make_box(Pnt(0, 0, 0), 2, 1.5, 1)
    cyl = q.transform(q.make_cylinder(0.5, 3, fine), Trsf.translation(Pnt(1, 0.75, -1)))
    ball = q.make_sphere(1.0, fine)
    ball2 = q.transform(q.make_sphere(1.0, fine), Trsf.translation(Pnt(0.9, 0.4, 0.3)))
    turn = Trsf.rotation(Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), math.pi / 5)
    moved = turn.then(Trsf.translation(Pnt(2.5, 1.0, 0.5)))
    profile = [Pnt(1, 0, 0), Pnt(2, 0, 0), Pnt(2, 0, 0.5), Pnt(1.5, 0, 1.2), Pnt(1, 0, 1)]

    yield "gp_transform", lambda: Scene().solid(box, "ghost", 0.5).solid(q.transform(box, moved))
    yield "topods_solid", lambda: Scene().solid(tetrahedron(), edges=True)
    yield "mesh_trimesh", lambda: Scene().solid(q.make_sphere(1, MeshParams(16, 8)), edges=True)
    yield "prim_box", lambda: Scene().solid(box, edges=True)
    yield "prim_box_centered_xy", lambda: (
        Scene().solid(q.make_box_centered_xy(Pnt(0, 0, 0), 2, 1, 0.5), edges=True))
    yield "prim_cylinder", lambda: Scene().solid(q.make_cylinder(1, 2, MeshParams(24)),
                                                 edges=True)
    yield "prim_cone", lambda: Scene().solid(q.make_cone(1, 0.4, 1.5, MeshParams(24)), edges=True)
    yield "prim_sphere", lambda: Scene().solid(q.make_sphere(1, MeshParams(24, 12)), edges=True)
    yield "prim_torus", lambda: Scene().solid(q.make_torus(2, 0.6, MeshParams(32)), edges=True)
    yield "prim_prism", lambda: Scene().solid(q.make_prism(plate_face(), Pnt(0, 0, 1)),
                                              edges=True)
    yield "prim_revol", lambda: (
        Scene().wire(profile).solid(q.make_revol(q.make_polygon(profile), Ax1.oz(),
                                                 1.5 * math.pi, MeshParams(32)), edges=True))
    yield "builder_polygon", lambda: Scene().wire(circle(0, 0, 1, 7)).wire(square(2.5, 0, 0.8))
    yield "builder_face_with_holes", lambda: (
        Scene().wire(square(0, 0, 3)).wire(circle(-1.5, -1.5, 0.8, 24))
        .wire(circle(1.5, 1.5, 0.8, 24)).wire(square(1.5, -1.5, 0.7))
        .solid(q.make_prism(plate_face(), Pnt(0, 0, 0.05)), alpha=0.6))
    yield "builder_transform", lambda: (
        Scene().solid(ball, "ghost", 0.4)
        .solid(q.transform(ball, Trsf.scale_xyz(1, 0.6, 0.4)
                           .then(Trsf.translation(Pnt(2.4, 0, 0)))), edges=True))
    yield "builder_solid_from_mesh", lambda: Scene().solid(tetrahedron(), edges=True)
    yield "algo_cut", lambda: Scene().solid(q.cut(box, cyl))
    yield "algo_fuse", lambda: Scene().solid(q.fuse(ball, ball2))
    yield "algo_common", lambda: Scene().solid(q.common(ball, ball2))
    yield "algo_fuse_all", lambda: Scene().solid(q.fuse_all(
        [q.transform(q.make_box(Pnt(0, 0, 0), 1, 1, 1), Trsf.translation(Pnt(0.7 * i, 0, 0.3 * i)))
         for i in range(4)]))
    yield "io_binary_stl", lambda: Scene().solid(
        from_binary_stl(q.write_binary_stl(q.cut(box, cyl).mesh())), edges=True)
    yield "bracket", lambda: Scene().solid(bracket())
    # Before and after: the raw cut keeps every piece; simplify fills each
    # face again from its outline.
    beside = Trsf.translation(Pnt(0, 2.2, 0))
    yield "extras_simplify", lambda: (
        Scene().solid(q.cut(box, cyl), edges=True)
        .solid(q.transform(simplify(q.cut(box, cyl)), beside), "second", edges=True))


def main(argv):
    out_dir = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "img")
    os.makedirs(out_dir, exist_ok=True)
    for name, make in pictures():
        make().save(os.path.join(out_dir, name + ".png"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
