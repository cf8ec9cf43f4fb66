"""Polygons, faces, transform, prisms and revolutions through the Python API."""
import math
import subprocess
import sys
import textwrap

import pytest

import quorvalind as q
from quorvalind import Ax1, MeshParams, Pnt, Trsf
from mesh_checks import check_closed, signed_volume, triangles_of

B = q.builder
P = q.prim


def polygon(xy, z=0.0):
    return B.make_polygon([Pnt(x, y, z) for x, y in xy])


def face(outer, holes=()):
    return B.make_face_with_holes(polygon(outer), [polygon(h) for h in holes])


SQUARE = [(0, 0), (1, 0), (1, 1), (0, 1)]
RECT_XZ = [Pnt(1, 0, 0), Pnt(2, 0, 0), Pnt(2, 0, 1), Pnt(1, 0, 1)]


def counts(solid):
    m = solid.mesh()
    return m.num_vertices, m.num_triangles


# ---- polygons, faces, transform

@pytest.mark.parametrize("gap, points", [(0.5e-9, 4), (1e-9, 5), (1.5e-9, 5)])
def test_polygon_drops_a_closing_point_nearer_than_1e9(gap, points):
    # The first corner sits just below a weld-cell boundary, so a kept
    # closing point lands in the next cell and shows in the prism.
    x0 = 4.995e-8
    pts = [Pnt(x0, 0, 0), Pnt(1, 0, 0), Pnt(1, 1, 0), Pnt(0, 1, 0), Pnt(x0 + gap, 0, 0)]
    solid = P.make_prism(B.make_face(B.make_polygon(pts)), Pnt(0, 0, 1))
    assert solid.mesh().num_vertices == 2 * points


def test_face_with_no_holes_is_make_face():
    a = P.make_prism(B.make_face(polygon(SQUARE)), Pnt(0, 0, 1)).mesh()
    b = P.make_prism(B.make_face_with_holes(polygon(SQUARE), ()), Pnt(0, 0, 1)).mesh()
    assert a.vertices_flat() == b.vertices_flat()
    assert a.triangles_flat() == b.triangles_flat()


def test_transform_moves_copies_and_mirrors_outward():
    box = P.make_prism(face(SQUARE), Pnt(0, 0, 2))
    before = box.mesh().vertices_flat()
    moved = B.transform(box, Trsf.translation(Pnt(1, 2, 3)))
    assert moved.mesh().triangles_flat() == box.mesh().triangles_flat()
    assert moved.mesh().vertices_flat()[:3] == [before[0] + 1, before[1] + 2, before[2] + 3]
    assert box.mesh().vertices_flat() == before
    mirrored = B.transform(box, Trsf.scale_xyz(-1, 1, 1))
    assert mirrored.mesh().num_triangles == 12
    assert signed_volume(mirrored.mesh()) == pytest.approx(2.0)
    check_closed(mirrored.mesh())
    assert B.transform(box, Trsf.scale_uniform(2)).volume() == pytest.approx(16.0)


# ---- prism

@pytest.mark.parametrize("outer, vec, volume", [
    (SQUARE, Pnt(0, 0, 1), 1.0),
    (SQUARE, Pnt(0, 0, -1), 1.0),
    (SQUARE[::-1], Pnt(0, 0, 1), 1.0),   # clockwise seen from +z: n = -z, d < 0
    (SQUARE, Pnt(1, 0, 0.5), 0.5),
])
def test_prism_of_unit_square(outer, vec, volume):
    s = P.make_prism(face(outer), vec)
    assert counts(s) == (8, 12)
    assert s.volume() == pytest.approx(volume, abs=1e-15)
    check_closed(s.mesh())


@pytest.mark.parametrize("hole", [
    [(1, 1), (1, 2), (2, 2), (2, 1)],
    # The nearest outline vertex to (1.5, 1.5) lies behind the hole.
    [(0.5, 0.5), (0.5, 1.5), (1.5, 1.5), (1.5, 0.5)],
])
@pytest.mark.parametrize("dz", [1.0, -1.0])
def test_prism_with_clockwise_hole(hole, dz):
    s = P.make_prism(face([(0, 0), (3, 0), (3, 3), (0, 3)], [hole]), Pnt(0, 0, dz))
    assert counts(s) == (16, 32)
    assert s.volume() == 8.0
    check_closed(s.mesh())


def test_prism_arguments():
    with pytest.raises(TypeError, match="argument 'face'"):
        P.make_prism(polygon(SQUARE), Pnt(0, 0, 1))
    with pytest.raises(TypeError, match="argument 'vec'"):
        P.make_prism(face(SQUARE), (0, 0, 1))
    s = P.make_prism(vec=Pnt(0, 0, 1), face=face(SQUARE))
    assert s.volume() == 1.0
    assert q.make_prism(face(SQUARE), Pnt(0, 0, 1)).volume() == 1.0


# ---- revolution

def test_revol_quarter_turn_first_triangles():
    wire = B.make_polygon(RECT_XZ)
    pos = P.make_revol(wire, Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), math.pi / 2, MeshParams(8))
    assert counts(pos) == (36, 68)
    assert triangles_of(pos.mesh())[:4] == [(0, 2, 1), (0, 3, 2), (1, 5, 4), (1, 2, 5)]
    check_closed(pos.mesh())
    neg = P.make_revol(wire, Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), -math.pi / 2, MeshParams(8))
    assert triangles_of(neg.mesh())[:4] == [(0, 1, 2), (0, 2, 3), (1, 4, 5), (1, 5, 2)]
    check_closed(neg.mesh())


@pytest.mark.parametrize("points, angle, mp, expected", [
    (RECT_XZ, 2 * math.pi, None, (256, 512)),
    (RECT_XZ, math.pi, None, (260, 516)),
    (RECT_XZ, math.pi / 2, MeshParams(0), (36, 68)),
    ([Pnt(0, 0, 0), Pnt(1, 0, 0), Pnt(0, 0, 1)], 2 * math.pi, MeshParams(8), (10, 16)),
])
def test_revol_counts(points, angle, mp, expected):
    s = P.make_revol(B.make_polygon(points), Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), angle, mp)
    assert counts(s) == expected
    check_closed(s.mesh())


def test_revol_full_ring_volume():
    s = P.make_revol(B.make_polygon(RECT_XZ), Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), 2 * math.pi)
    assert s.volume() == pytest.approx(96 * math.sin(2 * math.pi / 64), rel=1e-12)
    assert repr(s) == "Solid(volume=9.4096)"


@pytest.mark.parametrize("segments", [2**64 - 1, 2**62, 2**40])
def test_revol_unstorable_segment_count_is_a_memory_error(segments):
    with pytest.raises(MemoryError):
        P.make_revol(B.make_polygon(RECT_XZ), Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), 1.0,
                     MeshParams(segments))


def test_revol_arguments():
    wire = B.make_polygon(RECT_XZ)
    with pytest.raises(TypeError, match="argument 'axis'"):
        P.make_revol(wire, Pnt(0, 0, 1), 1.0)
    with pytest.raises(TypeError, match="argument 'angle'"):
        P.make_revol(wire, Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), "1")
    s = P.make_revol(wire, Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), angle=1.0, mp=None)
    assert s.mesh().num_triangles == 2 * 64 * 4 + 4


# ---- hostile inputs, in a child process so a crash or hang fails one test

HOSTILE = textwrap.dedent("""
    import math
    import quorvalind as q
    from quorvalind import Pnt, Ax1, MeshParams
    B, P = q.builder, q.prim
    nan, inf = math.nan, math.inf
    wires = [
        [Pnt(0, 0, 0), Pnt(1, 0, 0), Pnt(2, 0, 0)],                    # collinear
        [Pnt(0, 0, 0), Pnt(0, 0, 0), Pnt(1, 0, 0), Pnt(1, 1, 0)],      # repeated
        [Pnt(0, 0, 0), Pnt(1, 1, 0), Pnt(1, 0, 0), Pnt(0, 1, 0)],      # bowtie
        [Pnt(0, 0, 0), Pnt(1, 0, 1), Pnt(1, 1, 0), Pnt(0, 1, 1)],      # non-planar
        [Pnt(0, 0, 0), Pnt(nan, 0, 0), Pnt(1, 1, 0), Pnt(0, 1, 0)],
        [Pnt(0, 0, 0), Pnt(inf, 0, 0), Pnt(inf, inf, 0), Pnt(0, -inf, 0)],
        [Pnt(1e308, 0, 0), Pnt(-1e308, 1e308, 0), Pnt(0, -1e308, 0)],
    ]
    for outer in wires:
        for hole in wires:
            f = B.make_face_with_holes(B.make_polygon(outer), [B.make_polygon(hole)])
            for v in (Pnt(0, 0, 1), Pnt(0, 0, 0), Pnt(nan, 0, 1), Pnt(inf, 0, 0)):
                P.make_prism(f, v).volume()
        for angle in (0.0, 1.0, 2 * math.pi, nan, inf, -1e300):
            P.make_revol(B.make_polygon(outer), Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), angle,
                         MeshParams(8)).volume()
            P.make_revol(B.make_polygon(outer), Ax1(Pnt(nan, 0, 0), Pnt(0, 0, 0)), angle,
                         MeshParams(8)).volume()
    print("done")
""")


def test_hostile_inputs_neither_crash_nor_hang():
    r = subprocess.run([sys.executable, "-c", HOSTILE], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "done"
