"""Primitive builders and MeshParams through the Python API."""
import math

import pytest

import quorvalind as q
from quorvalind import MeshParams, Pnt
from quorvalind import prim

from mesh_checks import check_closed, triangles_of, vertices_of

NAN = float("nan")
INF = float("inf")


def counts(solid):
    m = solid.mesh()
    return m.num_vertices, m.num_triangles


# --- MeshParams ---------------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, expected", [
    ((), {}, (64, 32)),
    ((3, 1), {}, (3, 1)),
    ((), {"lat_segments": 10}, (64, 10)),
    ((0,), {"lat_segments": 0}, (0, 0)),
    ((2**64 - 1, 2**64 - 1), {}, (2**64 - 1, 2**64 - 1)),
])
def test_mesh_params_readback(args, kwargs, expected):
    mp = MeshParams(*args, **kwargs)
    assert (mp.circle_segments, mp.lat_segments) == expected


@pytest.mark.parametrize("kwargs", [{"circle_segments": -1}, {"lat_segments": -1},
                                    {"circle_segments": 2**64}, {"lat_segments": 2**70}])
def test_mesh_params_out_of_range(kwargs):
    with pytest.raises(OverflowError):
        MeshParams(**kwargs)


@pytest.mark.parametrize("name", ["circle_segments", "lat_segments"])
def test_mesh_params_non_integer(name):
    with pytest.raises(TypeError, match=f"argument '{name}'"):
        MeshParams(**{name: 1.5})


def test_mesh_params_read_only():
    mp = MeshParams()
    with pytest.raises(AttributeError):
        mp.circle_segments = 8


def test_counts_below_minimum_are_clamped():
    assert counts(prim.make_cylinder(1, 1, MeshParams(3))) == (18, 32)
    assert counts(prim.make_sphere(1, MeshParams(3, 2))) == (26, 48)
    low = prim.make_sphere(1, MeshParams(0, 0)).mesh()
    same = prim.make_sphere(1, MeshParams(8, 4)).mesh()
    assert low.vertices_flat() == same.vertices_flat()
    assert low.triangles_flat() == same.triangles_flat()


def test_mp_none_and_default_agree():
    a = prim.make_torus(2, 0.5).mesh()
    b = prim.make_torus(2, 0.5, None).mesh()
    c = prim.make_torus(2, 0.5, mp=MeshParams())
    assert a.triangles_flat() == b.triangles_flat() == c.mesh().triangles_flat()


@pytest.mark.parametrize("call", [
    lambda: prim.make_cylinder(1, 1, 64),
    lambda: prim.make_cone(1, 0, 1, mp="x"),
    lambda: prim.make_sphere(1, Pnt(0, 0, 0)),
    lambda: prim.make_torus(2, 1, (64, 32)),
])
def test_mp_of_wrong_type(call):
    with pytest.raises(TypeError, match="argument 'mp'"):
        call()


# --- boxes --------------------------------------------------------------------

def test_box():
    s = prim.make_box(Pnt(0, 0, 0), 1, 2, 3)
    m = s.mesh()
    assert counts(s) == (8, 12)
    assert s.volume() == 6.0
    v = vertices_of(m)
    assert v[1] == (0, 2, 0) and v[3] == (1, 0, 0)
    assert triangles_of(m)[:4] == [(0, 1, 2), (0, 2, 3), (4, 5, 6), (4, 6, 7)]
    assert repr(m) == "TriMesh(vertices=8, triangles=12)"


def test_box_by_keyword_and_top_level_copy():
    a = q.make_box(corner=Pnt(1, 1, 1), dx=-1, dy=2, dz=3).mesh()
    b = prim.make_box(Pnt(1, 1, 1), 1, 2, 3).mesh()
    assert a.vertices_flat() == b.vertices_flat()
    assert a.triangles_flat() == b.triangles_flat()


@pytest.mark.parametrize("sizes, expected", [
    ((0, 2, 3), (4, 4)),
    ((0, 0, 3), (2, 0)),
    ((0, 0, 0), (1, 0)),
])
def test_box_zero_sizes(sizes, expected):
    s = prim.make_box(Pnt(0, 0, 0), *sizes)
    assert counts(s) == expected
    assert s.volume() == 0.0


@pytest.mark.parametrize("w, xs", [(2, (-1, 1)), (-2, (1, 3))])
def test_box_centered_xy(w, xs):
    m = prim.make_box_centered_xy(Pnt(0, 0, 0), w, 2, 1).mesh()
    v = vertices_of(m)
    assert (min(p[0] for p in v), max(p[0] for p in v)) == xs
    assert (min(p[1] for p in v), max(p[1] for p in v)) == (-1, 1)
    assert (min(p[2] for p in v), max(p[2] for p in v)) == (0, 1)


# --- cylinders and cones ------------------------------------------------------

def test_cylinder_defaults():
    s = prim.make_cylinder(1, 2)
    assert counts(s) == (130, 256)
    assert s.volume() == pytest.approx(32 * math.sin(math.pi / 32) * 2, rel=1e-14)
    assert triangles_of(s.mesh())[:8] == [(0, 1, 2), (0, 2, 3), (4, 1, 0), (5, 3, 2),
                                          (1, 6, 7), (1, 7, 2), (4, 6, 1), (5, 2, 7)]


def test_cones():
    pointed = prim.make_cone(1, 0, 2, MeshParams(8))
    assert counts(pointed) == (10, 16)
    assert vertices_of(pointed.mesh())[2] == (0, 0, 2)
    assert counts(prim.make_cone(0, 0, 1)) == (0, 0)
    assert prim.make_cone(0, 0, 1).volume() == 0.0
    down = prim.make_cone(1, 0.5, -2)
    assert triangles_of(down.mesh())[0] == (0, 2, 1)
    assert down.volume() == prim.make_cone(1, 0.5, 2).volume()


# --- spheres and tori ---------------------------------------------------------

def test_sphere():
    s = prim.make_sphere(1)
    assert counts(s) == (1986, 3968)
    assert s.volume() == pytest.approx(4.17200, abs=5e-6)
    assert triangles_of(s.mesh())[:4] == [(0, 2, 1), (0, 1, 3), (0, 3, 4), (0, 4, 5)]
    small = prim.make_sphere(1, MeshParams(3, 2)).mesh()
    assert vertices_of(small)[0] == (0, 0, 1)
    mirrored = prim.make_sphere(-1, MeshParams(16, 8))
    plain = prim.make_sphere(1, MeshParams(16, 8))
    assert vertices_of(mirrored.mesh()) == [(-x, -y, -z) for x, y, z in vertices_of(plain.mesh())]
    assert mirrored.volume() == plain.volume()
    assert counts(prim.make_sphere(0)) == (1, 0)


def test_torus():
    s = prim.make_torus(2, 0.5, MeshParams(8))
    assert counts(s) == (64, 128)
    assert s.volume() == pytest.approx(8.0, rel=1e-12)
    assert triangles_of(s.mesh())[:4] == [(0, 1, 2), (0, 2, 3), (3, 2, 4), (3, 4, 5)]
    a = prim.make_torus(2, 0.5, MeshParams(12, 4)).mesh()
    b = prim.make_torus(2, 0.5, MeshParams(12, 99)).mesh()
    assert a.vertices_flat() == b.vertices_flat()


# --- closedness over a grid ---------------------------------------------------

BUILDERS = {
    "box": lambda s, n: prim.make_box(Pnt(-s, s, 0.5), s, 2 * s, -3 * s),
    "box_centered": lambda s, n: prim.make_box_centered_xy(Pnt(1, 2, 3), -s, s, s),
    "cylinder": lambda s, n: prim.make_cylinder(s, -2 * s, MeshParams(n)),
    "frustum": lambda s, n: prim.make_cone(s, s / 4, s, MeshParams(n)),
    "pointed": lambda s, n: prim.make_cone(0, s, s, MeshParams(n)),
    "sphere": lambda s, n: prim.make_sphere(s, MeshParams(n, n // 2 + 1)),
    "torus": lambda s, n: prim.make_torus(3 * s, s, MeshParams(n)),
}


@pytest.mark.parametrize("name", sorted(BUILDERS))
@pytest.mark.parametrize("size", [1e-3, 1.0, 250.0])
@pytest.mark.parametrize("n", [3, 9, 24])
def test_closed_and_outward(name, size, n):
    s = BUILDERS[name](size, n)
    check_closed(s.mesh())
    assert s.volume() > 0


# --- hostile input ------------------------------------------------------------

@pytest.mark.parametrize("v", [NAN, INF, -INF, 1e308, -1e308, 5e-324])
def test_non_finite_and_huge_sizes_finish(v):
    solids = [prim.make_box(Pnt(v, 0, 0), v, 1, 1), prim.make_box_centered_xy(Pnt(0, 0, v), v, v, v),
              prim.make_cylinder(v, 1), prim.make_cone(1, v, v), prim.make_sphere(v),
              prim.make_torus(v, 1), prim.make_torus(1, v)]
    for s in solids:
        m = s.mesh()
        assert all(i < m.num_vertices for i in m.triangles_flat())


@pytest.mark.parametrize("call", [
    lambda: prim.make_cylinder(1, 1, MeshParams(2**64 - 1)),
    lambda: prim.make_cone(1, 0, 1, MeshParams(2**62)),
    lambda: prim.make_sphere(1, MeshParams(8, 2**64 - 1)),
    lambda: prim.make_sphere(1, MeshParams(2**40, 2**40)),
    lambda: prim.make_torus(2, 1, MeshParams(2**32)),
    lambda: prim.make_torus(2, 1, MeshParams(2**31)),
])
def test_unstorable_counts_raise_memory_error(call):
    with pytest.raises(MemoryError):
        call()


def test_nothing_to_build_needs_no_memory():
    assert counts(prim.make_cone(0, 0, 1, MeshParams(2**64 - 1))) == (0, 0)
