"""Hostile-input property run over every public callable, meant to run in a
child process (see test_hostile.py): a crash or a hang then fails one test
instead of killing the whole run.

    python hostile.py CALLABLE MAX_EXAMPLES SEED

Each example calls CALLABLE with arguments drawn from hostile objects and
edge values of the right kinds, then checks that the call returned or raised
one of the allowed exceptions, and that no argument object changed. Before
each call a one-line description goes to stdout, so a crash leaves the
offending example as the last line the parent sees.
"""
import math
import os
import struct
import sys
import warnings

from hypothesis import HealthCheck, Phase, given, seed, settings, strategies as st

import quorvalind as q
from quorvalind.errors import InternalFaultError

from callables import CALLABLES

SANITIZED = bool(os.environ.get("QUORVALIND_SANITIZED"))


class HostileError(Exception):
    """Raised by the hostile objects themselves."""


class HostileBaseError(BaseException):
    """Raised by hostile objects that bypass `except Exception`."""


# Exceptions a call may raise besides those of the hostile objects.
ALLOWED = (TypeError, OverflowError, MemoryError, InternalFaultError, HostileError,
           HostileBaseError)


# ---- hostile objects


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    pass


class ListSub(list):
    pass


class RaisingFloat:
    def __float__(self):
        raise HostileError("__float__")


class RaisingBaseFloat:
    def __float__(self):
        raise HostileBaseError("__float__")


class LyingFloat:
    """__float__ returns something that is not a float."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class IndexOnly:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingIndex:
    def __index__(self):
        raise HostileError("__index__")


class FloatAndIndexDisagree:
    """Float conversion takes __float__, count conversion takes __index__."""

    def __float__(self):
        return 2.5

    def __index__(self):
        return 7


class SeqBase:
    """Sequence by __getitem__ and __len__; subclasses lie about either."""

    self_mutating = False

    def __init__(self, items):
        self.items = list(items)

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]

    def state(self):
        return list(self.items)


class LenRaises(SeqBase):
    def __len__(self):
        raise HostileError("__len__")


class LenHuge(SeqBase):
    def __len__(self):
        return sys.maxsize


class LenNegative(SeqBase):
    def __len__(self):
        return -1


class LenZero(SeqBase):
    def __len__(self):
        return 0


class LenWrongType(SeqBase):
    def __len__(self):
        return "three"


class IterRaises(SeqBase):
    def __iter__(self):
        raise HostileError("__iter__")


class IterNotIterator(SeqBase):
    def __iter__(self):
        return 5


class GetItemRaisesAt(SeqBase):
    """Raises part-way through iteration."""

    def __init__(self, items, at):
        super().__init__(items)
        self.at = at

    def __getitem__(self, i):
        if i == self.at:
            raise HostileError("__getitem__")
        return self.items[i]


class ShrinksWhileIterated(SeqBase):
    self_mutating = True

    def __getitem__(self, i):
        if self.items:
            self.items.pop()
        return self.items[i]


class GrowsWhileIterated(SeqBase):
    """Appends while iterated, up to a bound, so iteration still ends."""

    self_mutating = True

    def __getitem__(self, i):
        if len(self.items) < 4 * 1024:
            self.items.append(self.items[i % len(self.items)] if self.items else 0)
        return self.items[i]


class MutatingElement:
    """Converted as a number; clears the list it was placed in meanwhile."""

    self_mutating = True

    def __init__(self):
        self.target = None

    def __float__(self):
        if self.target is not None:
            self.target.clear()
        return 1.0

    def __index__(self):
        if self.target is not None:
            self.target.clear()
        return 1


class Endless:
    """A sequence that never ends: only a memory cap stops its copy."""

    self_mutating = False

    def __init__(self, item):
        self.item = item

    def __len__(self):
        return 3

    def __getitem__(self, i):
        return self.item

    def state(self):
        return self.item


class Reentrant:
    """Its conversion calls back into the module."""

    def __float__(self):
        q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0], [0, 1, 2]).mesh().vertices_flat()
        return 0.5

    def __index__(self):
        q.Pnt(1, 2, 3).norm()
        return 1


# ---- values of the right kinds

EDGE_FLOATS = [0.0, -0.0, 1.0, -1.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1e-300,
               -1e-300, 1e300, -1e300, 1.7976931348623157e308, math.inf, -math.inf, math.nan,
               1e-7, 1e-6, 1e-9, 1e-12, 0.5, 3.0]

floats = st.one_of(st.sampled_from(EDGE_FLOATS), st.floats(), st.floats(-10, 10))
numbers = st.one_of(
    floats,
    st.integers(-2**70, 2**70),
    st.sampled_from([10**400, -10**400, True, False]),
    floats.map(FloatSub),
    st.integers(-100, 100).map(IntSub),
    st.integers(-100, 100).map(IndexOnly),
    st.builds(FloatAndIndexDisagree),
)

SMALL_COUNTS = st.integers(0, 70)
HUGE_COUNTS = st.sampled_from([2**20, 2**31 - 1, 2**31, 2**32 + 1, 2**40, 2**63 - 1, 2**63,
                               2**64 - 1])
OUT_OF_RANGE_COUNTS = st.sampled_from([-1, -2**63, 2**64, 2**100])


def counts(memory):
    options = [SMALL_COUNTS, OUT_OF_RANGE_COUNTS, SMALL_COUNTS.map(IntSub),
               SMALL_COUNTS.map(IndexOnly)]
    if memory:
        options.append(HUGE_COUNTS)
    return st.one_of(*options)


def pnts():
    return st.builds(q.Pnt, floats, floats, floats)


def ax1s():
    return st.one_of(st.builds(q.Ax1, pnts(), pnts()), st.just(q.Ax1.oz()))


def trsfs():
    return st.one_of(
        st.builds(q.Trsf.translation, pnts()),
        st.builds(q.Trsf.rotation, ax1s(), floats),
        st.builds(q.Trsf.scale_uniform, floats),
        st.builds(q.Trsf.scale_xyz, floats, floats, floats),
    )


def mesh_params(memory):
    small = st.builds(q.MeshParams, st.integers(0, 40), st.integers(0, 20))
    if not memory:
        return small
    return st.one_of(small, st.builds(q.MeshParams, counts(True).filter(_in_range),
                                      counts(True).filter(_in_range)))


def _in_range(v):
    try:
        return 0 <= v.__index__() < 2**64
    except Exception:
        return False


@st.composite
def raw_solids(draw):
    """solid_from_mesh with random coordinates and random, possibly wild, indices."""
    nv = draw(st.integers(0, 12))
    verts = draw(st.lists(floats, min_size=3 * nv, max_size=3 * nv))
    nt = draw(st.integers(0, 16))
    index = st.one_of(st.integers(0, max(nv - 1, 0)), st.sampled_from([nv, 2**32, 2**64 - 1]))
    tris = draw(st.lists(index, min_size=3 * nt, max_size=3 * nt))
    return q.solid_from_mesh(verts, tris)


SAFE_MP = q.MeshParams(8, 4)


@st.composite
def built_solids(draw):
    kind = draw(st.sampled_from(["box", "cylinder", "sphere", "torus", "cone"]))
    a, b, c = draw(floats), draw(floats), draw(floats)
    if kind == "box":
        s = q.make_box(draw(pnts()), a, b, c)
    elif kind == "cylinder":
        s = q.make_cylinder(a, b, SAFE_MP)
    elif kind == "cone":
        s = q.make_cone(a, b, c, SAFE_MP)
    elif kind == "sphere":
        s = q.make_sphere(a, SAFE_MP)
    else:
        s = q.make_torus(a, b, SAFE_MP)
    return s


def solids():
    return st.one_of(raw_solids(), built_solids())


def wires():
    return st.builds(q.make_polygon, st.lists(pnts(), max_size=8))


def faces():
    return st.one_of(st.builds(q.make_face, wires()),
                     st.builds(q.make_face_with_holes, wires(), st.lists(wires(), max_size=3)))


def right_kind(kind, memory):
    """Values the converter accepts for `kind`, edge values included."""
    if kind == "number":
        return numbers
    if kind == "count":
        return counts(memory)
    if kind == "text":
        return st.one_of(st.text(max_size=40), st.sampled_from(["", "\x00", "\ud800", "'",
                                                               "é" * 100]),
                         st.text(max_size=10).map(StrSub))
    if kind == "mp":
        return st.one_of(st.none(), mesh_params(memory))
    if kind.startswith("seq:"):
        elem = right_kind(kind[4:], memory)
        return st.one_of(
            st.lists(elem, max_size=24),
            st.lists(elem, max_size=24).map(tuple),
            st.lists(elem, max_size=24).map(ListSub),
            st.integers(0, 30).map(range) if kind in ("seq:number", "seq:count") else st.just([]),
        )
    return {"Pnt": pnts, "Ax1": ax1s, "Trsf": trsfs, "Solid": solids, "Wire": wires,
            "Face": faces}.get(kind, lambda: solids().map(lambda s: s.mesh()))()


def hostile_sequences(elem, memory):
    items = st.lists(elem, max_size=12)
    options = [
        st.builds(cls, items)
        for cls in (SeqBase, LenRaises, LenHuge, LenNegative, LenZero, LenWrongType, IterRaises,
                    IterNotIterator, ShrinksWhileIterated, GrowsWhileIterated)
    ]
    options.append(st.builds(GetItemRaisesAt, items, st.integers(0, 12)))
    options.append(items.map(lambda xs: xs + [MutatingElement()]))
    options.append(st.builds(lambda: {1.0, 2.0}))
    options.append(st.builds(lambda: (x for x in [1.0, 2.0])))
    options.append(st.builds(lambda: {"a": 1}))
    return st.one_of(*options)


def anything(memory):
    """Objects of any type at all, for any parameter."""
    return st.one_of(
        st.sampled_from([None, object(), "x", b"x", bytearray(b"123"), 1j, (), [], {}, set(),
                         Ellipsis, NotImplemented, print, q, q.Pnt, q.Solid, InternalFaultError,
                         memoryview(b"abc")]),
        st.builds(RaisingFloat), st.builds(RaisingBaseFloat), st.builds(RaisingIndex),
        st.builds(Reentrant), st.builds(MutatingElement),
        st.sampled_from(["1.0", 1.5j, -1, "\ud800"]).map(LyingFloat),
        st.sampled_from([-1, 2**64, "x", 1.5, True]).map(IndexOnly),
        st.text(max_size=5).map(StrSub),
        st.lists(st.integers(0, 3), max_size=4).map(ListSub),
        floats.map(FloatSub),
        st.integers(-5, 5).map(IntSub),
        pnts(), ax1s(), trsfs(), wires(), solids(), solids().map(lambda s: s.mesh()),
        st.builds(q.MeshParams),
        hostile_sequences(st.one_of(numbers, pnts(), solids()), memory),
    )


def argument(kind, memory):
    options = [right_kind(kind, memory), anything(memory)]
    if kind.startswith("seq:"):
        options.append(hostile_sequences(right_kind(kind[4:], memory), memory))
    return st.one_of(*options)


# ---- argument fingerprints


def _bits(x):
    return struct.pack("<d", x)


def fingerprint(obj, depth=0):
    """A value that changes if the object's observable state changes."""
    if depth > 3:
        return id(obj)
    if getattr(obj, "self_mutating", False):
        return ("self-mutating", id(obj))
    t = type(obj)
    if t is q.Pnt:
        return ("Pnt",) + tuple(_bits(v) for v in obj.as_tuple())
    if t is q.Ax1:
        return ("Ax1", fingerprint(obj.location), fingerprint(obj.direction))
    if t is q.Trsf:
        probes = (q.Pnt(0, 0, 0), q.Pnt(1, 0, 0), q.Pnt(0, 1, 0), q.Pnt(0, 0, 1))
        return ("Trsf",) + tuple(fingerprint(obj.apply_point(p)) for p in probes)
    if t is q.TriMesh:
        return ("TriMesh", tuple(map(_bits, obj.vertices_flat())), tuple(obj.triangles_flat()))
    if t is q.Solid:
        return ("Solid", fingerprint(obj.mesh()))
    if t is q.MeshParams:
        return ("MeshParams", obj.circle_segments, obj.lat_segments)
    if t is q.Wire:
        # Opaque: seen through the prism it sweeps.
        return ("Wire", fingerprint(q.make_prism(q.make_face(obj), q.Pnt(0, 0, 1))))
    if t is q.Face:
        return ("Face", fingerprint(q.make_prism(obj, q.Pnt(0, 0, 1))))
    if t is q.Vertex:
        return ("Vertex", fingerprint(obj.point))
    if isinstance(obj, float):
        return (t, _bits(obj))
    if isinstance(obj, (list, tuple)):
        return (t, len(obj), tuple(fingerprint(e, depth + 1) for e in obj))
    if isinstance(obj, SeqBase):
        return (t, fingerprint(obj.state(), depth + 1))
    if isinstance(obj, (int, str, bytes, bytearray, complex, range)):
        return (t, bytes(obj) if isinstance(obj, bytearray) else obj)
    if isinstance(obj, (dict, set)):
        return (t, repr(obj))
    # Hostile scalars and other opaque objects: identity and type only.
    return (t, id(obj))


def _tie_mutating_elements(args):
    """Points each MutatingElement at its list; returns which lists have one
    (those change by their own element's doing, so they are not compared)."""
    tied = []
    for a in args:
        has = isinstance(a, list) and any(isinstance(e, MutatingElement) for e in a)
        if has:
            for e in a:
                if isinstance(e, MutatingElement):
                    e.target = a
        tied.append(has)
    return tied


def exercise_result(r):
    """Touches a result the way a caller would; faults must still be allowed ones."""
    for method in ("volume", "mesh", "vertices_flat", "triangles_flat", "norm", "as_tuple"):
        m = getattr(r, method, None)
        if m is not None:
            try:
                m()
            except ALLOWED:
                pass
    try:
        repr(r)
    except InternalFaultError:
        pass


def _safe_repr(obj):
    # A Solid's repr shows its volume, which faults on out-of-range indices.
    try:
        text = repr(obj)
    except BaseException as e:  # noqa: B036 - any failure just names the type
        text = f"<{type(obj).__name__}: repr raised {type(e).__name__}>"
    return text[:200]


def _describe(c, args, kwargs):
    shown = [_safe_repr(a) for a in args] + [f"{k}={_safe_repr(v)}" for k, v in kwargs.items()]
    text = f"{c.ident}({', '.join(shown)})"
    return text.encode("ascii", "backslashreplace").decode()


def run(ident, max_examples, seed_value, memory):
    c = next(c for c in CALLABLES if c.ident == ident)
    names = [n for n, _ in c.params]
    kinds = [k for _, k in c.params]
    arg_strategy = st.tuples(*(argument(k, memory) for k in kinds))

    @seed(seed_value)
    @settings(max_examples=max_examples, deadline=None, database=None, derandomize=False,
              phases=[Phase.explicit, Phase.generate, Phase.shrink],
              suppress_health_check=list(HealthCheck))
    @given(args=arg_strategy, n_keyword=st.integers(0, len(names)), omit=st.booleans())
    def check(args, n_keyword, omit):
        args = list(args)
        # Trailing optional parameters may be left out.
        while omit and len(args) > c.required:
            args.pop()
        # The last n_keyword arguments are passed by name.
        split = max(len(args) - n_keyword, 0)
        positional, kwargs = args[:split], dict(zip(names[split:], args[split:]))
        exempt = _tie_mutating_elements(args)
        before = [fingerprint(a) for a in args]
        print(_describe(c, positional, kwargs)[:1000], flush=True)
        try:
            r = c.get()(*positional, **kwargs)
        except UnicodeEncodeError:
            # A str with a lone surrogate has no UTF-8 text.
            assert any(isinstance(a, str) and "\ud800" in a for a in args), "UnicodeEncodeError"
        except ALLOWED:
            pass
        else:
            exercise_result(r)
        after = [fingerprint(a) for a in args]
        for name, b, a, skip in zip(names, before, after, exempt):
            assert skip or b == a, f"argument {name!r} changed"

    check()


def main(argv):
    warnings.simplefilter("ignore")
    ident, max_examples, seed = argv[1], int(argv[2]), int(argv[3])
    # Huge counts only under an address-space cap, which the sanitizers'
    # shadow memory rules out.
    memory = not SANITIZED
    if memory:
        import resource

        cap = 2 << 30
        resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    run(ident, max_examples, seed, memory)
    print("hostile-run-done", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
