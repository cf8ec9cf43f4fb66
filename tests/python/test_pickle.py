"""Pickling and copying of every class: round trips exact to the bit on
every protocol, a compact versioned payload, clear errors for damaged data,
and unpickling in a process that has not imported the module."""
import copy
import math
import pickle
import struct
import subprocess
import sys
import zlib

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import quorvalind as q
import quorvalind.extras as extras
from quorvalind.errors import InternalFaultError

PROTOCOLS = list(range(pickle.HIGHEST_PROTOCOL + 1))
NAN = struct.unpack("<d", struct.pack("<Q", 0x7FF8DEADBEEF0001))[0]  # a payload to keep
TAGS = {"Pnt": 1, "Ax1": 2, "Trsf": 3, "Vertex": 4, "Wire": 5, "Face": 6, "Compound": 7,
        "Solid": 8, "TriMesh": 9, "BBox": 10, "MeshParams": 11}


def seal(tag, body, version=1):
    """A serialised record built by hand from the documented layout."""
    head = b"QVLD" + bytes([version, tag]) + struct.pack("<Q", 14 + len(body) + 4)
    return head + body + struct.pack("<I", zlib.crc32(head + body))


def mesh_body(vertices, triangles, width=8):
    code = {1: "B", 2: "H", 4: "I", 8: "Q"}[width]
    return (struct.pack("<QQB", len(vertices), len(triangles), width)
            + b"".join(struct.pack("<3d", *v) for v in vertices)
            + b"".join(struct.pack(f"<3{code}", *t) for t in triangles))


def pts(*coords):
    return [q.Pnt(*c) for c in coords]


SQUARE = pts((0, 0, 0), (4, 0, 0), (4, 4, 0), (0, 4, 0))
HOLE = pts((1, 1, 0), (2, 1, 0), (2, 2, 0), (1, 2, 0))
PROFILE = pts((1, 0, 0), (2, 0, 0), (2, 0, 1), (1, 0, 1))


def values():
    """One instance per class, with awkward numbers where a class holds any.
    No operation makes a BBox or a Compound, so those are restored from
    hand-built records (which also pins the documented layout)."""
    solid = q.cut(q.make_box(q.Pnt(0, 0, 0), 2, 2, 2),
                  q.make_cylinder(0.5, 3, q.MeshParams(12)))
    faulty = q.solid_from_mesh([0, -0.0, NAN, 1e-308, 5e-324, math.inf], [0, 1, 2, 1, 0, 0])
    return {
        "Pnt": q.Pnt(NAN, -0.0, 5e-324),
        "Ax1": q.Ax1(q.Pnt(1, 2, 3), q.Pnt(0.3, -0.2, 7)),
        "Trsf": q.Trsf.rotation(q.Ax1(q.Pnt(1, 0, 0), q.Pnt(1, 1, 1)), 0.7).then(
            q.Trsf.scale_xyz(1, -2, 3)),
        "Vertex": q.Vertex(q.Pnt(-math.inf, 0.1, 1e300)),
        "Wire": q.make_polygon(PROFILE),
        "Face": q.make_face_with_holes(q.make_polygon(SQUARE), [q.make_polygon(HOLE)]),
        "Compound": extras._restore(seal(7, struct.pack("<Q", 2)
                                         + mesh_body([(0, 0, 0), (1, 0, 0), (0, 1, 0)], [(0, 1, 2)])
                                         + mesh_body([], []))),
        "Solid": solid,
        "Faulty": faulty,
        "TriMesh": solid.mesh(),
        "BBox": extras._restore(seal(10, struct.pack("<6d", -1, -2, -3, 1, 0.5, 2.25))),
        "MeshParams": q.MeshParams(9, 2 ** 64 - 1),
    }


VALUES = values()


def bits(x):
    """Floats as their bit patterns, recursively, so NaN and -0.0 compare exactly."""
    if isinstance(x, float):
        return ("f", struct.pack("<d", x))
    if isinstance(x, (list, tuple)):
        return [bits(v) for v in x]
    if isinstance(x, dict):
        return {k: bits(v) for k, v in x.items()}
    return x


def outcome(f):
    try:
        return f()
    except (Exception, InternalFaultError) as e:
        return (type(e).__name__, str(e))


def mesh_facts(m):
    return {"repr": repr(m), "counts": (m.num_vertices, m.num_triangles),
            "volume": outcome(m.volume), "v": m.vertices_flat(), "t": m.triangles_flat(),
            "buffers": extras.mesh_buffers(m),
            "stl": outcome(lambda: q.write_binary_stl(m)),
            "ascii": outcome(lambda: q.write_ascii_stl(m, "part")),
            "step": outcome(lambda: q.write_step(m, "part"))}


def pnt_facts(p):
    return [repr(p), p.x, p.y, p.z, p.as_tuple(), outcome(p.norm)]


PROBES = pts((0, 0, 0), (1, -2, 3.5), (1e10, 0, -1e-10))


def facts(name, x):
    """Everything observable about a value: properties, method results, reprs
    and written files, reached through the functions that take it where the
    class itself shows nothing."""
    if name == "Pnt":
        return pnt_facts(x) + [x.dot(x), repr(x.cross(q.Pnt(1, 2, 3))), x.distance(PROBES[1])]
    if name == "Vertex":
        return pnt_facts(x.point)
    if name == "Ax1":
        return pnt_facts(x.location) + pnt_facts(x.direction) + [
            repr(q.Trsf.rotation(x, 0.3).apply_point(p)) for p in PROBES]
    if name == "Trsf":
        return [repr(x.apply_point(p)) for p in PROBES] + [
            repr(x.then(x).apply_point(p)) for p in PROBES]
    if name == "MeshParams":
        return [x.circle_segments, x.lat_segments]
    if name == "BBox":
        return [x.volume()]
    if name == "Wire":
        revol = q.make_revol(x, q.Ax1.oz(), 2.0, q.MeshParams(10))
        prism = q.make_prism(q.make_face(x), q.Pnt(0, 1, 0))
        return [mesh_facts(revol.mesh()), mesh_facts(prism.mesh())]
    if name == "Face":
        return mesh_facts(q.make_prism(x, q.Pnt(0.5, 0, 3)).mesh())
    if name in ("Solid", "Faulty"):
        return [repr(x) if name == "Solid" else outcome(lambda: repr(x)),
                outcome(x.volume), mesh_facts(x.mesh()),
                outcome(lambda: repr(q.transform(x, q.Trsf.scale_xyz(-1, 2, 1))))]
    if name == "TriMesh":
        return mesh_facts(x)
    if name == "Compound":
        return []  # an opaque handle: its pickle bytes below are all there is
    raise AssertionError(name)


def same_value(name, a, b):
    assert type(a) is type(b) and a is not b
    assert a != b  # equality stays identity
    assert bits(facts(name, a)) == bits(facts(name, b))
    assert a.__reduce__()[1] == b.__reduce__()[1]


@pytest.mark.parametrize("protocol", PROTOCOLS)
@pytest.mark.parametrize("name", list(VALUES))
def test_pickle_round_trip_is_exact(name, protocol):
    x = VALUES[name]
    same_value(name, x, pickle.loads(pickle.dumps(x, protocol)))


@pytest.mark.parametrize("how", [copy.copy, copy.deepcopy])
@pytest.mark.parametrize("name", list(VALUES))
def test_copies_are_new_equal_values(name, how):
    same_value(name, VALUES[name], how(VALUES[name]))


def test_deepcopy_keeps_sharing_inside_containers():
    s = VALUES["Solid"]
    a, b, c = copy.deepcopy([s, s, q.Pnt(1, 2, 3)])
    assert a is b and a is not s and repr(a) == repr(s)


def test_payload_is_versioned_compact_binary():
    s = q.make_sphere(1.0)
    fn, (data,) = s.__reduce__()
    assert fn is extras._restore and fn.__module__ == "quorvalind.extras"
    assert type(data) is bytes and data[:5] == b"QVLD\x01"
    m = s.mesh()
    # 24 bytes a vertex, three 2-byte indices a triangle (fewer than 65,536
    # vertices), the counts and index width, and a 14-byte header and 4-byte
    # checksum around them.
    assert 2 ** 8 < m.num_vertices < 2 ** 16
    assert len(data) == 24 * m.num_vertices + 6 * m.num_triangles + 14 + 17 + 4
    # Smaller than the pickled flat lists.
    assert len(pickle.dumps(s, 4)) < len(pickle.dumps((m.vertices_flat(), m.triangles_flat()), 4))
    assert len(pickle.dumps(s, 4)) < len(data) + 80
    assert len(pickle.dumps(q.Pnt(1, 2, 3), 4)) < 100


def test_hand_built_records_restore():
    p = extras._restore(seal(1, struct.pack("<3d", 1.5, -0.0, 2)))
    assert repr(p) == "Pnt(1.5, -0, 2)"
    mp = extras._restore(seal(11, struct.pack("<QQ", 7, 3)))
    assert (mp.circle_segments, mp.lat_segments) == (7, 3)
    assert extras._restore(memoryview(seal(1, bytes(24)))).as_tuple() == (0, 0, 0)
    # The index width is the reader's to honour, narrowest or not.
    for width in (1, 2, 4, 8):
        s = extras._restore(seal(8, mesh_body([(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)],
                                              [(0, 2, 1), (0, 1, 3), (0, 3, 2), (1, 2, 3)], width)))
        assert repr(s) == "Solid(volume=0.1667)" and s.mesh().triangles_flat()[-3:] == [1, 2, 3]
    with pytest.raises(InternalFaultError, match="the len is 3 but the index is 9"):
        extras._restore(seal(8, mesh_body([(0, 0, 0)] * 3, [(0, 1, 9)]))).volume()


def test_unpickles_in_a_fresh_process():
    data = pickle.dumps([VALUES["Solid"], VALUES["Face"], q.Pnt(1, 2, 3)], 2)
    script = ("import pickle, sys\n"
              "assert 'quorvalind' not in sys.modules\n"
              "s, f, p = pickle.loads(sys.stdin.buffer.read())\n"
              "print(repr(s), repr(p), type(f).__qualname__)\n")
    out = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr.decode()
    assert out.stdout.decode().split() == [repr(VALUES["Solid"]), "Pnt(1,", "2,", "3)", "Face"]


# ---- damaged data

def error_of(data):
    with pytest.raises(ValueError, match="^cannot restore a quorvalind value: ") as e:
        extras._restore(data)
    return str(e.value)


@pytest.mark.parametrize("data,message", [
    (b"", "0 bytes is too short"),
    (b"QVLE" + bytes(30), "magic"),
    (seal(1, bytes(24), version=2), "format version 2 is not readable by this build"),
    (seal(12, b""), "unknown record tag 12"),
    (seal(1, bytes(16)), "the body ends early"),
    (seal(1, bytes(32)), "8 bytes left after the record's body"),
    (seal(9, struct.pack("<QQB", 2 ** 62, 0, 1)), "exceed the data"),
    (seal(9, struct.pack("<QQB", 0, 1, 8) + bytes(23)), "exceed the data"),
    (seal(9, struct.pack("<QQB", 0, 0, 16)), "index width 16 is not 1, 2, 4 or 8"),
    (seal(7, struct.pack("<Q", 2 ** 64 - 1)), "exceeds the data"),
    (seal(1, bytes(24))[:-1] + b"\0", "checksum mismatch"),
])
def test_damage_messages(data, message):
    assert message in error_of(data)


@pytest.mark.parametrize("arg,message", [
    (5, "argument 'data': cannot convert 'int' object to bytes"),
    ("QVLD", "argument 'data': cannot convert 'str' object to bytes"),
    (None, "argument 'data': cannot convert 'NoneType' object to bytes"),
])
def test_restore_refuses_non_bytes(arg, message):
    with pytest.raises(TypeError) as e:
        extras._restore(arg)
    assert str(e.value) == message


SEALED = [VALUES[n].__reduce__()[1][0] for n in ("Face", "Solid", "Pnt", "Compound")]


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.sampled_from(SEALED), st.data())
def test_random_damage_is_always_refused(data, draw):
    i = draw.draw(st.integers(0, len(data) - 1))
    mask = draw.draw(st.integers(1, 255))
    error_of(data[:i] + bytes([data[i] ^ mask]) + data[i + 1:])
    cut = draw.draw(st.integers(0, len(data) - 1))
    error_of(data[:cut])
    extra = draw.draw(st.binary(min_size=1, max_size=40))
    error_of(data + extra)


@settings(max_examples=300, deadline=None)
@given(st.one_of(st.binary(max_size=200),
                 st.binary(max_size=200).map(lambda b: b"QVLD\x01" + b)))
def test_random_bytes_are_refused(data):
    error_of(data)


NAMES = {tag: name for name, tag in TAGS.items()}
small_count = st.integers(0, 4).map(lambda n: struct.pack("<Q", n))
# Counts, index widths, whole points and loose bytes, so that some bodies parse.
body_piece = st.one_of(small_count, st.sampled_from([b"\x01", b"\x02", b"\x08"]),
                       st.binary(min_size=24, max_size=24), st.binary(max_size=40))


@settings(max_examples=400, deadline=None)
@given(st.integers(1, 11), st.lists(body_piece, max_size=6))
def test_sealed_random_bodies_restore_or_are_refused(tag, pieces):
    """Past the checksum, the body reader alone stands between the data and a
    value: it either makes the tagged class or refuses; a value it makes
    pickles back to the same bytes, unless a mesh's index width was not the
    narrowest."""
    data = seal(tag, b"".join(pieces))
    try:
        x = extras._restore(data)
    except ValueError as e:
        assert str(e).startswith("cannot restore a quorvalind value: ")
        return
    assert type(x).__name__ == NAMES[tag]
    if NAMES[tag] not in ("TriMesh", "Solid", "Compound"):
        assert x.__reduce__()[1][0] == data


def test_damage_inside_a_pickle_stream_is_refused():
    s = VALUES["Solid"]
    payload = s.__reduce__()[1][0]
    stream = pickle.dumps(s, 4)
    at = stream.index(payload)
    for offset in (20, len(payload) // 2, len(payload) - 2):
        bad = bytearray(stream)
        bad[at + offset] ^= 0x10
        with pytest.raises(ValueError, match="checksum mismatch"):
            pickle.loads(bytes(bad))


# ---- reference counts

def test_pickling_and_copying_leak_nothing():
    s, p = VALUES["Solid"], VALUES["Pnt"]
    payload = s.__reduce__()[1][0]
    calls = [lambda: pickle.loads(pickle.dumps(s, 5)), lambda: copy.copy(p),
             lambda: copy.deepcopy(s), lambda: extras._restore(payload[:-3]),
             lambda: extras._restore(5), lambda: extras._restore(data=b"x" * 30)]
    for f in calls:
        for _ in range(50):
            outcome(f)
        before, refs = sys.getallocatedblocks(), (sys.getrefcount(s), sys.getrefcount(payload))
        for _ in range(2000):
            outcome(f)
        assert sys.getallocatedblocks() - before < 200
        assert (sys.getrefcount(s), sys.getrefcount(payload)) == refs
