"""Builds a few parts with quorvalind, prints their measures and writes them.

Usage: python examples/build_parts.py [OUTPUT_DIR]   (default: out)
"""
import math
import os
import sys

import quorvalind as q
from quorvalind import Pnt, Trsf, Ax1
from quorvalind.extras import simplify


def tetrahedron() -> q.Solid:
    """A solid straight from raw buffers: four corners, four outward triangles."""
    vertices = [0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]
    triangles = [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]
    return q.solid_from_mesh(vertices, triangles)


def plate_with_holes() -> q.Solid:
    """A 60 x 40 plate, 5 thick, with four round holes and a square one."""
    outer = q.make_polygon([Pnt(0, 0, 0), Pnt(60, 0, 0), Pnt(60, 40, 0), Pnt(0, 40, 0)])
    holes: list[q.Wire] = []
    for cx, cy in ((8, 8), (52, 8), (52, 32), (8, 32)):
        # Clockwise seen from +z, against the outer wire, so the walls face into the holes.
        holes.append(q.make_polygon([Pnt(cx + 3 * math.cos(-a * math.pi / 12),
                                         cy + 3 * math.sin(-a * math.pi / 12), 0)
                                     for a in range(24)]))
    holes.append(q.make_polygon([Pnt(25, 15, 0), Pnt(25, 25, 0), Pnt(35, 25, 0), Pnt(35, 15, 0)]))
    return q.make_prism(q.make_face_with_holes(outer, holes), Pnt(0, 0, 5))


def ring() -> q.Solid:
    """A 2 x 1 rectangular section swept a full turn about z at radius 10 to 12."""
    section = q.make_polygon([Pnt(10, 0, 0), Pnt(12, 0, 0), Pnt(12, 0, 1), Pnt(10, 0, 1)])
    return q.make_revol(section, Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), 2 * math.pi,
                        q.MeshParams(circle_segments=96))


def bracket() -> q.Solid:
    """A plate minus a pattern of bolt holes, fused with a round boss, minus its bore.

    Each boolean is followed by simplify: the next one then works on a few
    triangles, and the written files pair every edge.
    """
    plate = q.make_box(Pnt(0, 0, 0), 40, 30, 4)
    cylinder = q.make_cylinder(2, 6, q.MeshParams(circle_segments=32))
    for x, y in ((6, 6), (34, 6), (34, 24), (6, 24)):
        plate = simplify(q.cut(plate, q.transform(cylinder, Trsf.translation(Pnt(x, y, -1)))))
    boss = q.transform(q.make_cylinder(7, 12, q.MeshParams(circle_segments=48)),
                       Trsf.translation(Pnt(20, 15, 0)))
    bore = q.transform(q.make_cylinder(4, 14, q.MeshParams(circle_segments=48)),
                       Trsf.translation(Pnt(20, 15, -1)))
    return simplify(q.cut(simplify(q.fuse(plate, boss)), bore))


def write_all(out_dir: str, name: str, solid: q.Solid) -> list[str]:
    """Writes one solid as binary STL, ASCII STL and STEP; returns the file names."""
    mesh = solid.mesh()
    files = {
        f"{name}.stl": q.write_binary_stl(mesh),
        f"{name}_ascii.stl": q.write_ascii_stl(mesh, name).encode("ascii"),
        f"{name}.step": q.write_step(mesh, name).encode("utf-8"),
    }
    for file_name, data in files.items():
        with open(os.path.join(out_dir, file_name), "wb") as f:
            f.write(data)
    return list(files)


def main(argv: list[str]) -> int:
    out_dir = argv[1] if len(argv) > 1 else "out"
    os.makedirs(out_dir, exist_ok=True)

    p = Pnt(1, 2, 3)
    turn = Trsf.rotation(Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), math.pi / 2)
    move = turn.then(Trsf.translation(Pnt(10, 0, 0)))
    print("point", p, "turned and moved:", move.apply_point(p))

    fine = q.MeshParams(circle_segments=48, lat_segments=24)
    parts = {
        "tetrahedron": tetrahedron(),
        "box": q.make_box_centered_xy(Pnt(0, 0, 0), 20, 10, 5),
        "cylinder": q.transform(q.make_cylinder(3, 10), move),
        "cone": q.make_cone(4, 1, 6, fine),
        "sphere": q.transform(q.make_sphere(5, fine), Trsf.scale_xyz(1, 1, 0.5)),
        "torus": q.transform(q.make_torus(8, 2, fine), turn),
        "plate_with_holes": plate_with_holes(),
        "ring": ring(),
        "bracket": bracket(),
    }
    for name, solid in parts.items():
        mesh = solid.mesh()
        written = write_all(out_dir, name, solid)
        print(f"{name:17s} volume {solid.volume():12.4f}  {mesh}  -> {', '.join(written)}")
    print("written to", os.path.abspath(out_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
