"""quorvalind.extras.mesh_buffers and solid_from_buffers: the mesh as two
flat little-endian arrays, the same solid as solid_from_mesh builds from
lists, and the argument errors of the module."""
import struct
import sys

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import quorvalind as q
from quorvalind.errors import InternalFaultError
from quorvalind.extras import mesh_buffers, solid_from_buffers


def sphere():
    return q.make_sphere(1.5, q.MeshParams(24, 12))


def arrays(mesh):
    v, t = mesh_buffers(mesh)
    return np.frombuffer(v, "<f8").reshape(-1, 3), np.frombuffer(t, "<u8").reshape(-1, 3)


def test_buffers_hold_exactly_the_flat_lists():
    m = q.fuse(sphere(), q.make_box(q.Pnt(0, 0, 0), 2, 2, 2)).mesh()
    v, t = mesh_buffers(m)
    assert type(v) is bytes and type(t) is bytes
    assert len(v) == 24 * m.num_vertices and len(t) == 24 * m.num_triangles
    assert v == struct.pack(f"<{3 * m.num_vertices}d", *m.vertices_flat())
    assert t == struct.pack(f"<{3 * m.num_triangles}Q", *m.triangles_flat())
    va, ta = arrays(m)
    assert va.shape == (m.num_vertices, 3) and ta.dtype == np.uint64


def same_solid(a, b):
    ma, mb = a.mesh(), b.mesh()
    assert mesh_buffers(ma) == mesh_buffers(mb)
    assert repr(a) == repr(b) and q.write_binary_stl(ma) == q.write_binary_stl(mb)


@pytest.mark.parametrize("convert", [
    lambda b: b,
    bytearray,
    memoryview,
    lambda b: np.frombuffer(b, np.uint8).copy(),
    lambda b: memoryview(b).cast("d") if len(b) % 8 == 0 else b,
], ids=["bytes", "bytearray", "memoryview", "uint8-array", "double-view"])
def test_any_object_that_bytes_accepts(convert):
    s = sphere()
    v, t = mesh_buffers(s.mesh())
    same_solid(solid_from_buffers(convert(v), convert(t)), s)


def test_numpy_arrays_in_place_of_bytes():
    s = sphere()
    va, ta = arrays(s.mesh())
    same_solid(solid_from_buffers(va, ta), s)
    # A strided view is read in its logical (C) order, as bytes() copies it.
    wide = np.zeros((va.shape[0], 6))
    wide[:, ::2] = va
    same_solid(solid_from_buffers(wide[:, ::2], ta.astype("<u8")), s)
    same_solid(solid_from_buffers(vertices=va.tobytes(), triangles=ta.tobytes()), s)


finite_or_not = st.floats(allow_nan=True, allow_infinity=True)


@settings(max_examples=150, deadline=None)
@given(st.lists(finite_or_not, max_size=30).map(lambda v: v[:len(v) // 3 * 3]),
       st.lists(st.integers(0, 12), max_size=30).map(lambda t: t[:len(t) // 3 * 3]))
def test_same_solid_as_from_lists(v, t):
    """Bit for bit what solid_from_mesh makes, bad indices included: those
    fault on use with the same message."""
    a = q.solid_from_mesh(v, t)
    b = solid_from_buffers(struct.pack(f"<{len(v)}d", *v), struct.pack(f"<{len(t)}Q", *t))
    assert mesh_buffers(a.mesh()) == mesh_buffers(b.mesh())
    for f in (lambda s: s.volume(), repr, lambda s: s.mesh().volume()):
        outcomes = []
        for s in (a, b):
            try:
                outcomes.append(struct.pack("<d", f(s)) if f is not repr else f(s))
            except InternalFaultError as e:
                outcomes.append(str(e))
        assert outcomes[0] == outcomes[1]


def test_index_beyond_the_vertices_faults_on_use():
    s = solid_from_buffers(bytes(24), struct.pack("<3Q", 0, 1, 2))
    with pytest.raises(InternalFaultError, match="^index out of bounds: the len is 1 but the index is 1$"):
        s.volume()
    assert repr(s.mesh()) == "TriMesh(vertices=1, triangles=1)"


def test_empty_buffers_make_an_empty_solid():
    s = solid_from_buffers(b"", b"")
    assert repr(s) == "Solid(volume=0.0000)" and mesh_buffers(s.mesh()) == (b"", b"")


@pytest.mark.parametrize("args,kwargs,exc,message", [
    ((bytes(25), b""), {}, ValueError,
     "argument 'vertices': 25 bytes is not a whole number of vertices (24 bytes each)"),
    ((bytes(16), b""), {}, ValueError,
     "argument 'vertices': 16 bytes is not a whole number of vertices (24 bytes each)"),
    ((b"", bytes(8)), {}, ValueError,
     "argument 'triangles': 8 bytes is not a whole number of triangles (24 bytes each)"),
    ((5, b""), {}, TypeError, "argument 'vertices': cannot convert 'int' object to bytes"),
    ((b"", "abc"), {}, TypeError, "argument 'triangles': cannot convert 'str' object to bytes"),
    ((b"", [1.5]), {}, TypeError, "argument 'triangles': 'float' object cannot be interpreted as an integer"),
    ((b"",), {}, TypeError,
     "solid_from_buffers() missing 1 required positional argument: 'triangles'"),
    ((b"", b"", b""), {}, TypeError,
     "solid_from_buffers() takes 2 positional arguments but 3 were given"),
    ((b"",), {"vertices": b""}, TypeError,
     "solid_from_buffers() got multiple values for argument 'vertices'"),
    ((b"", b""), {"mp": None}, TypeError,
     "solid_from_buffers() got an unexpected keyword argument 'mp'"),
])
def test_solid_from_buffers_errors(args, kwargs, exc, message):
    with pytest.raises(exc) as e:
        solid_from_buffers(*args, **kwargs)
    assert str(e.value) == message


@pytest.mark.parametrize("arg,message", [
    (sphere(), "argument 'mesh': 'Solid' object cannot be converted to 'TriMesh'"),
    (b"", "argument 'mesh': 'bytes' object cannot be converted to 'TriMesh'"),
])
def test_mesh_buffers_errors(arg, message):
    with pytest.raises(TypeError) as e:
        mesh_buffers(arg)
    assert str(e.value) == message


def test_signatures():
    assert mesh_buffers.__text_signature__ == "(mesh)"
    assert solid_from_buffers.__text_signature__ == "(vertices, triangles)"


def test_no_leaks():
    m = sphere().mesh()
    v, t = mesh_buffers(m)
    calls = [lambda: mesh_buffers(m), lambda: solid_from_buffers(v, t),
             lambda: solid_from_buffers(bytearray(v), t), lambda: solid_from_buffers(v, t[:-1]),
             lambda: solid_from_buffers(v, 5), lambda: mesh_buffers(v)]
    for f in calls:
        for _ in range(50):
            try:
                f()
            except (TypeError, ValueError):
                pass
        before, refs = sys.getallocatedblocks(), (sys.getrefcount(m), sys.getrefcount(v))
        for _ in range(2000):
            try:
                f()
            except (TypeError, ValueError):
                pass
        assert sys.getallocatedblocks() - before < 200
        assert (sys.getrefcount(m), sys.getrefcount(v)) == refs
