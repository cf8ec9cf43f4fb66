"""Pnt, Ax1, Trsf and Vertex through the Python surface."""
import math
import struct

import pytest

import quorvalind as q
from quorvalind import Ax1, Pnt, Trsf


def bits(x):
    return struct.pack("<d", x)


def same(a, b):
    """Bit-for-bit equality of float tuples (NaN and -0.0 included)."""
    return len(a) == len(b) and all(bits(x) == bits(y) for x, y in zip(a, b))


@pytest.mark.parametrize("coords,text", [
    ((1, 2.5, -0.0), "Pnt(1, 2.5, -0)"),
    ((0.1, 1e-7, 1e16), "Pnt(0.1, 0.0000001, 10000000000000000)"),
    ((1e23, 1e21, 1 / 3), "Pnt(100000000000000000000000, 1000000000000000000000, "
                          "0.3333333333333333)"),
    ((0.5, -0.25, 123.456), "Pnt(0.5, -0.25, 123.456)"),
    ((math.nan, math.inf, -math.inf), "Pnt(NaN, inf, -inf)"),
    ((5e-324, -1.5e-10, 2.0 ** 60), "Pnt(0." + "0" * 323 + "5, -0.00000000015, "
                                    "1152921504606847000)"),
])
def test_pnt_repr(coords, text):
    assert repr(Pnt(*coords)) == text


def test_pnt_members():
    p = Pnt(1, 2, 3)
    assert p.as_tuple() == (1.0, 2.0, 3.0)
    assert all(type(c) is float for c in p.as_tuple())
    assert (p.x, p.y, p.z) == (1.0, 2.0, 3.0)
    assert Pnt(1, 0, 0).cross(Pnt(0, 1, 0)).as_tuple() == (0.0, 0.0, 1.0)
    assert Pnt(3, 4, 0).norm() == 5.0
    assert Pnt(1, 1, 1).distance(Pnt(1, 1, 1)) == 0.0
    assert Pnt(1, 4, 9).dot(Pnt(1, 1, 1)) == 14.0
    assert Pnt.origin().as_tuple() == (0.0, 0.0, 0.0)
    assert Pnt.origin() is not Pnt.origin()


def test_dot_and_norm_summation_order():
    # (x + y) + z: 1e16 + 1 rounds back to 1e16, so the sum is 0, not 1.
    assert Pnt(1e16, 1, -1e16).dot(Pnt(1, 1, 1)) == 0.0
    # norm sums squares the same way: (1e16^2 + 1) + (-1e16)^2.
    assert Pnt(1e16, 1, 0).norm() == 1e16
    assert Pnt(1e16, 1, 1e16).distance(Pnt(0, 0, 0)) == math.sqrt((1e32 + 1.0) + 1e32)


def test_special_values_propagate():
    p = Pnt(math.nan, math.inf, -0.0)
    assert same(p.as_tuple(), (math.nan, math.inf, -0.0))
    assert math.isnan(p.norm())


# ---- Ax1


@pytest.mark.parametrize("direction,expected", [
    ((0, 0, 0), (0.0, 0.0, 1.0)),
    ((1e-10, 0, 0), (0.0, 0.0, 1.0)),
    ((0, 3, 4), (0.0, 3 * (1 / 5), 4 * (1 / 5))),
    ((1e-9, 0, 0), (1e-9 * (1 / 1e-9), 0.0, 0.0)),
    ((0, 0, -2), (0.0, 0.0, -1.0)),
])
def test_ax1_direction(direction, expected):
    a = Ax1(Pnt(1, 2, 3), Pnt(*direction))
    assert same(a.direction.as_tuple(), expected)
    assert a.location.as_tuple() == (1.0, 2.0, 3.0)


def test_ax1_multiplies_by_the_reciprocal():
    # 3 * (1/5) and 3 / 5 differ in the last bit.
    assert Ax1(Pnt(0, 0, 0), Pnt(0, 3, 4)).direction.y == 0.6000000000000001


def test_ax1_nan_and_copies():
    a = Ax1(Pnt(0, 0, 0), Pnt(math.nan, 0, 1))
    assert all(math.isnan(c) for c in a.direction.as_tuple())
    b = Ax1.oz()
    assert b.location.as_tuple() == (0.0, 0.0, 0.0) and b.direction.as_tuple() == (0.0, 0.0, 1.0)
    assert b.direction is not b.direction and b.location is not b.location


def test_ax1_refuses_tuples():
    with pytest.raises(TypeError, match="^argument 'direction': 'tuple' object cannot be "
                                        "converted to 'Pnt'$"):
        Ax1(Pnt(0, 0, 0), (0, 0, 1))


# ---- Trsf


def applied(t, *p):
    return t.apply_point(Pnt(*p)).as_tuple()


def test_translation_and_scales():
    assert applied(Trsf.translation(Pnt(1, 2, 3)), 0, 0, 0) == (1.0, 2.0, 3.0)
    assert applied(Trsf.scale_uniform(2), 1, -2, 3) == (2.0, -4.0, 6.0)
    assert applied(Trsf.scale_xyz(1, 1, -1), 1, 2, 3) == (1.0, 2.0, -3.0)
    assert same(applied(Trsf.scale_uniform(0), 1, 2, 3), (0.0, 0.0, 0.0))


def test_rotation_quarter_turn():
    x, y, z = applied(Trsf.rotation(Ax1.oz(), math.pi / 2), 1, 0, 0)
    assert x == math.cos(math.pi / 2) and x != 0.0
    assert (y, z) == (1.0, 0.0)


def test_rotation_about_an_offset_axis():
    t = Trsf.rotation(Ax1(Pnt(1, 0, 0), Pnt(0, 0, 1)), math.pi)
    assert all(abs(c) < 1e-15 for c in applied(t, 2, 0, 0))
    assert all(abs(a - b) < 1e-15 for a, b in zip(applied(t, 1, 0, 5), (1, 0, 5)))
    # A zero direction became +z: same rotation about the given location.
    t0 = Trsf.rotation(Ax1(Pnt(1, 0, 0), Pnt(0, 0, 0)), math.pi)
    assert same(applied(t0, 2, 0, 0), applied(t, 2, 0, 0))


def reference_rotation_apply(loc, d, angle, p):
    """Rodrigues rotation and point application in the documented order."""
    n = math.sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2])
    r = 1 / n
    x, y, z = d[0] * r, d[1] * r, d[2] * r
    s, c0 = math.sin(angle), math.cos(angle)
    v = 1 - c0
    m = [[c0 + v * x * x, v * x * y - s * z, v * x * z + s * y],
         [v * x * y + s * z, c0 + v * y * y, v * y * z - s * x],
         [v * x * z - s * y, v * y * z + s * x, c0 + v * z * z]]
    t = [loc[i] - ((m[i][0] * loc[0] + m[i][1] * loc[1]) + m[i][2] * loc[2]) for i in range(3)]
    return tuple(((m[i][0] * p[0] + m[i][1] * p[1]) + m[i][2] * p[2]) + t[i] for i in range(3))


@pytest.mark.parametrize("loc,d,angle,p", [
    ((0.5, -2, 3), (1, 2, 3), 0.7, (0.3, -1.1, 2.5)),
    ((0, 0, 0), (-1, 0.25, 1e-3), 4.0, (10, 20, -30)),
    ((1e6, 0, -1e-6), (0, 1, 1), -2.5, (1e-3, 7, 7)),
])
def test_rotation_to_the_bit(loc, d, angle, p):
    # The axis is used as stored in the Ax1 (already unit) and normalised again.
    axis = Ax1(Pnt(*loc), Pnt(*d))
    stored = axis.direction.as_tuple()
    got = applied(Trsf.rotation(axis, angle), *p)
    assert same(got, reference_rotation_apply(loc, stored, angle, p))


def test_then_applies_self_first():
    move, double = Trsf.translation(Pnt(1, 0, 0)), Trsf.scale_uniform(2)
    assert applied(move.then(double), 0, 0, 0) == (2.0, 0.0, 0.0)
    assert applied(double.then(move), 0, 0, 0) == (1.0, 0.0, 0.0)


def test_then_matches_applying_twice():
    a = Trsf.rotation(Ax1(Pnt(1, 2, 3), Pnt(0, 1, 0)), 0.3).then(Trsf.translation(Pnt(4, 5, 6)))
    b = Trsf.scale_xyz(2, -1, 0.5).then(Trsf.rotation(Ax1.oz(), 1.1))
    p = Pnt(0.25, -3, 8)
    once = a.then(b).apply_point(p).as_tuple()
    twice = b.apply_point(a.apply_point(p)).as_tuple()
    assert all(abs(x - y) < 1e-12 for x, y in zip(once, twice))


def test_trsf_special_values():
    assert all(math.isnan(c) for c in applied(Trsf.rotation(Ax1.oz(), math.nan), 1, 1, 1))
    assert applied(Trsf.scale_uniform(math.inf), 1, 0, 0)[0] == math.inf


def test_trsf_argument_names():
    with pytest.raises(TypeError, match="^argument 'axis': 'Pnt' object cannot be converted"):
        Trsf.rotation(Pnt(0, 0, 1), 1.0)
    with pytest.raises(TypeError, match="^argument 'p': 'tuple' object"):
        Trsf.scale_uniform(1).apply_point((1, 2, 3))


# ---- Vertex


def test_vertex_point_copies():
    v = q.Vertex(Pnt(1, 2, 3))
    a, b = v.point, v.point
    assert a is not b and a.as_tuple() == b.as_tuple() == (1.0, 2.0, 3.0)
    with pytest.raises(TypeError, match="^argument 'p': "):
        q.Vertex((1, 2, 3))
