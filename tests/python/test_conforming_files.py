"""Boolean results keep T-junctions; the files written from them must not.
Each result is written by all three writers and read back by independent
readers (trimesh, numpy-stl, admesh, gmsh), which must find one closed,
outward surface of the solid's volume without repairing anything."""
import pytest

import quorvalind as q
from quorvalind import MeshParams, Pnt, Trsf

from readers import check_step_with_gmsh, check_stl_with_readers


def box_minus_cylinder():
    box = q.prim.make_box(Pnt(0, 0, 0), 2, 2, 2)
    cyl = q.builder.transform(q.prim.make_cylinder(0.5, 3), Trsf.translation(Pnt(1, 1, -0.5)))
    return q.algo.cut(box, cyl)


def sphere_fuse():
    params = MeshParams(circle_segments=24, lat_segments=12)
    a = q.prim.make_sphere(1.0, params)
    b = q.builder.transform(q.prim.make_sphere(1.0, params), Trsf.translation(Pnt(0.5, 0.3, 0.2)))
    return q.algo.fuse(a, b)


def overlapping_boxes(op):
    def make():
        a = q.prim.make_box(Pnt(0, 0, 0), 1, 1, 1)
        b = q.prim.make_box(Pnt(0.5, 0.5, 0.5), 1, 1, 1)
        return getattr(q.algo, op)(a, b)
    return make


def plate_with_bosses():
    """Three cylinders fused onto a plate, then a hole through one: the
    plate's top is cut by two solids' planes at once."""
    part = q.prim.make_box(Pnt(0, 0, 0), 30, 20, 3)
    pin = q.prim.make_cylinder(2, 6, MeshParams(circle_segments=20))
    for x in (6, 15, 24):
        part = q.algo.fuse(part, q.builder.transform(pin, Trsf.translation(Pnt(x, 10, 1))))
    hole = q.builder.transform(q.prim.make_cylinder(1, 10, MeshParams(circle_segments=16)),
                               Trsf.translation(Pnt(15, 10, -1)))
    return q.algo.cut(part, hole)


CASES = {
    "box_minus_cylinder": box_minus_cylinder,
    "sphere_fuse": sphere_fuse,
    "boxes_fuse": overlapping_boxes("fuse"),
    "boxes_cut": overlapping_boxes("cut"),
    "boxes_common": overlapping_boxes("common"),
    "plate_with_bosses": plate_with_bosses,
}

_solids = {}


def solid(name):
    if name not in _solids:
        _solids[name] = CASES[name]()
    return _solids[name]


@pytest.mark.parametrize("name", sorted(CASES))
def test_stl_files_are_closed_surfaces(name):
    s = solid(name)
    mesh = s.mesh()
    binary = q.io.write_binary_stl(mesh)
    ascii_text = q.io.write_ascii_stl(mesh, name)
    b = check_stl_with_readers(binary, s.volume())
    a = check_stl_with_readers(ascii_text, s.volume())
    # The same facets in both files; more than the mesh's triangles where
    # they were split (all but the boxes' common, whose result is a box).
    assert a["facets"] == b["facets"] >= mesh.num_triangles


@pytest.mark.parametrize("name", sorted(CASES))
def test_step_file_is_one_volume(name):
    s = solid(name)
    mesh = s.mesh()
    text = q.io.write_step(mesh, name)
    # One face per triangle still; the split points join its loop.
    assert text.count("FACE_SURFACE(") == mesh.num_triangles
    # Six-decimal coordinates and plane directions move a 1-unit part's
    # volume by about 1e-6.
    check_step_with_gmsh(text, s.volume(), rel=1e-5)


def test_unsplit_results_keep_their_triangles():
    """A boolean whose pieces already meet edge to edge (the boxes' common
    is a box) writes exactly its triangles."""
    mesh = solid("boxes_common").mesh()
    binary = q.io.write_binary_stl(mesh)
    assert int.from_bytes(binary[80:84], "little") == mesh.num_triangles
