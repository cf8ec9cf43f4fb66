"""solid_from_mesh, Solid and TriMesh through the Python surface."""
import math
import os
import subprocess
import sys
import textwrap

import pytest

import quorvalind as q
from quorvalind.errors import InternalFaultError
from callables import tetra
from mesh_checks import check_closed, signed_volume


def test_tetrahedron():
    s = tetra()
    m = s.mesh()
    assert (m.num_vertices, m.num_triangles) == (4, 4)
    assert repr(m) == "TriMesh(vertices=4, triangles=4)"
    assert s.volume() == m.volume() == 1 / 6
    assert repr(s) == "Solid(volume=0.1667)"
    assert m.vertices_flat() == [0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0]
    assert m.triangles_flat() == [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]
    assert all(type(v) is float for v in m.vertices_flat())
    assert all(type(i) is int for i in m.triangles_flat())
    check_closed(m)
    assert signed_volume(m) == s.volume()


def test_incomplete_groups_are_ignored():
    s = q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 5], [0, 1, 2, 7])
    m = s.mesh()
    assert (m.num_vertices, m.num_triangles) == (3, 1)
    assert m.vertices_flat() == [0, 0, 0, 1, 0, 0, 0, 1, 0]


def test_empty_solid():
    s = q.solid_from_mesh([], [])
    assert s.volume() == 0.0 and repr(s) == "Solid(volume=0.0000)"
    assert repr(s.mesh()) == "TriMesh(vertices=0, triangles=0)"
    assert s.mesh().vertices_flat() == [] and s.mesh().triangles_flat() == []
    # Vertices without triangles: still no volume.
    assert q.solid_from_mesh([1, 2, 3, 4, 5, 6], []).volume() == 0.0


def test_inverted_winding_has_positive_volume_and_no_minus():
    s = q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                          [0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2])
    assert signed_volume(s.mesh()) < 0
    assert s.volume() == 1 / 6 and repr(s) == "Solid(volume=0.1667)"


def scaled_tetra(a):
    return q.solid_from_mesh([0, 0, 0, a, 0, 0, 0, 1, 0, 0, 0, 6],
                             [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])


@pytest.mark.parametrize("a,text", [
    (0.5, "0.5000"), (1234.56789, "1234.5679"), (1e20, "100000000000000000000.0000"),
    (0.00004, "0.0000"), (0.00005, "0.0001"), (math.nan, "NaN"),
    (2.5e-5, "0.0000"),
])
def test_solid_repr_four_digits(a, text):
    # volume = a * 1 * 6 / 6, up to the rounding of the sum
    s = scaled_tetra(a)
    assert repr(s) == f"Solid(volume={text})"
    if math.isfinite(a):
        assert text == f"{s.volume():.4f}"


def test_infinite_volume_repr():
    s = q.solid_from_mesh([1e200, 0, 0, 0, 1e200, 0, 0, 0, 1e200], [0, 1, 2])
    assert s.volume() == math.inf and repr(s) == "Solid(volume=inf)"
    s = q.solid_from_mesh([1e200, 0, 0, 0, 0, 1e200, 0, 1e200, 0], [0, 1, 2])
    assert s.volume() == math.inf and repr(s) == "Solid(volume=inf)"


def test_large_indices_round_trip():
    m = q.solid_from_mesh([], [2 ** 64 - 1, 0, 2 ** 63]).mesh()
    assert m.triangles_flat() == [2 ** 64 - 1, 0, 2 ** 63]


def test_index_fault():
    s = q.solid_from_mesh([0, 0, 0], [0, 1, 2])
    message = "index out of bounds: the len is 1 but the index is 1"
    for op in (s.volume, lambda: repr(s), lambda: s.mesh().volume()):
        with pytest.raises(InternalFaultError) as info:
            op()
        assert str(info.value) == message
        assert info.value.args == (message,)
    # What does not read indices still works, and the mesh is unchanged.
    m = s.mesh()
    assert m.triangles_flat() == [0, 1, 2] and repr(m) == "TriMesh(vertices=1, triangles=1)"
    # Indices are checked in the order i, j, k of each triangle, in triangle order.
    with pytest.raises(InternalFaultError, match="the len is 3 but the index is 9$"):
        q.solid_from_mesh([0] * 9, [0, 1, 2, 0, 9, 5]).volume()


def test_internal_fault_is_not_an_exception():
    s = q.solid_from_mesh([0, 0, 0], [0, 0, 5])
    caught = None
    try:
        try:
            s.volume()
        except Exception:  # must not catch it
            caught = "Exception"
    except BaseException as e:
        caught = type(e).__name__
    assert caught == "InternalFaultError"
    assert tetra().volume() == 1 / 6  # the process carries on


def test_mesh_is_a_copy():
    s = tetra()
    a, b = s.mesh(), s.mesh()
    assert a is not b and a.vertices_flat() == b.vertices_flat()
    a.vertices_flat().append(9.0)
    assert a.num_vertices == 4 and s.mesh().num_vertices == 4


def test_nan_coordinates_flow_through():
    s = q.solid_from_mesh([math.nan, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                          [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])
    assert math.isnan(s.volume()) and repr(s) == "Solid(volume=NaN)"


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="an address-space limit breaks the sanitizer runtime")
def test_out_of_memory_raises_memory_error():
    # Under an address-space limit, converting a long list cannot get its
    # buffer: MemoryError, and the process carries on.
    code = textwrap.dedent("""
        import resource
        import quorvalind as q
        big = [0.5] * 16_000_000
        pages = int(open("/proc/self/statm").read().split()[0])
        limit = pages * resource.getpagesize() + 64 * 2 ** 20
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            q.solid_from_mesh(big, [])
        except MemoryError:
            print("MemoryError")
        print(q.solid_from_mesh([0, 0, 0], []).mesh().num_vertices)
    """)
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["MemoryError", "1"]
