"""Argument matching and conversion, one parametrized test per rule over
every callable of the table in callables.py."""
import pytest

import quorvalind as q
from callables import CALLABLES, valid_args, with_kind, wrong_element, wrong_value
from leak_harness import BadLen  # a sequence whose __len__ fails

PLACEHOLDER = object()  # matching runs before conversion, so any value will do


def call(c, *args, **kwargs):
    return c.get()(*args, **kwargs)


def quoted(names):
    names = [f"'{n}'" for n in names]
    if len(names) == 2:
        return " and ".join(names)
    return ", ".join(names[:-1]) + (", and " if len(names) > 2 else "") + names[-1]


def raises_message(exc, message, fn, *args, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message
    return info.value


def test_joining_of_missing_names():
    assert quoted(["a"]) == "'a'"
    assert quoted(["a", "b"]) == "'a' and 'b'"
    assert quoted(["a", "b", "c", "d"]) == "'a', 'b', 'c', and 'd'"


# ---- matching


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_too_many_positional(c):
    n = len(c.params)
    if c.required == n:
        expected = f"{c.display} takes {n} positional arguments but {n + 1} were given"
    else:
        expected = (f"{c.display} takes from {c.required} to {n} positional arguments "
                    f"but {n + 1} were given")
    # Too many positional arguments is reported before any keyword problem.
    raises_message(TypeError, expected, call, c, *[PLACEHOLDER] * (n + 1), bogus=1)


MISSING_CASES = [pytest.param(c, k, id=f"{c.ident}-{k}")
                 for c in CALLABLES for k in sorted({1, 2, 3, c.required}) if 0 < k <= c.required]


@pytest.mark.parametrize("c,k", MISSING_CASES)
def test_missing_required(c, k):
    given = c.required - k
    names = [name for name, _ in c.params[given:c.required]]
    word = "argument" if k == 1 else "arguments"
    expected = f"{c.display} missing {k} required positional {word}: {quoted(names)}"
    raises_message(TypeError, expected, call, c, *[PLACEHOLDER] * given)


@pytest.mark.parametrize("c", [c for c in CALLABLES if c.required >= 2], ids=repr)
def test_missing_between_keywords(c):
    # A required parameter left out while the later ones are given by keyword.
    first = c.params[0][0]
    expected = f"{c.display} missing 1 required positional argument: '{first}'"
    raises_message(TypeError, expected, call, c,
                   **{name: PLACEHOLDER for name, _ in c.params[1:c.required]})


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_unexpected_keyword(c):
    # Reported before the missing required arguments.
    raises_message(TypeError, f"{c.display} got an unexpected keyword argument 'bogus'",
                   call, c, bogus=1)


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_unicode_unexpected_keyword(c):
    raises_message(TypeError, f"{c.display} got an unexpected keyword argument 'größe'",
                   call, c, **{"größe": 1})


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_multiple_values(c):
    for i, (name, _) in enumerate(c.params):
        raises_message(TypeError, f"{c.display} got multiple values for argument '{name}'",
                       call, c, *[PLACEHOLDER] * (i + 1), **{name: PLACEHOLDER})


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_keywords_checked_in_order(c):
    first = c.params[0][0]
    raises_message(TypeError, f"{c.display} got an unexpected keyword argument 'bogus'",
                   call, c, PLACEHOLDER, bogus=1, **{first: PLACEHOLDER})
    raises_message(TypeError, f"{c.display} got multiple values for argument '{first}'",
                   call, c, PLACEHOLDER, **{first: PLACEHOLDER}, bogus=1)


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_valid_by_position_and_by_keyword(c):
    args = valid_args(c)
    results = []
    for kwargs_from in range(len(args) + 1):
        kw = {name: v for (name, _), v in zip(c.params[kwargs_from:], args[kwargs_from:])}
        results.append(type(call(c, *args[:kwargs_from], **kw)))
    assert len(set(results)) == 1 and results[0] is not type(None)


def test_spelled_out_examples():
    o = q.Pnt(0, 0, 0)
    raises_message(TypeError, "Pnt.__new__() missing 1 required positional argument: 'z'",
                   q.Pnt, 1, 2)
    raises_message(TypeError,
                   "make_box() missing 3 required positional arguments: 'dx', 'dy', and 'dz'",
                   q.make_box, o)
    raises_message(TypeError, "Pnt.dot() takes 1 positional arguments but 2 were given",
                   o.dot, o, o)
    raises_message(TypeError, "make_sphere() got an unexpected keyword argument 'radius'",
                   q.make_sphere, r=1.0, radius=2.0)
    raises_message(TypeError, "make_sphere() got multiple values for argument 'r'",
                   q.make_sphere, 1.0, r=1.0)
    raises_message(TypeError, "argument 'mp': 'int' object cannot be converted to 'MeshParams'",
                   q.make_sphere, 1.0, mp=5)
    raises_message(TypeError, "argument 'points': Can't extract `str` to `Vec`",
                   q.make_polygon, "abc")
    raises_message(TypeError, "argument 'points': 'tuple' object cannot be converted to 'Pnt'",
                   q.make_polygon, [(0, 0, 0)])
    raises_message(TypeError, "argument 'mesh': 'Solid' object cannot be converted to 'TriMesh'",
                   q.write_step, q.solid_from_mesh([], []), "x")
    raises_message(TypeError,
                   "argument 'vertices_flat': Can't extract `str` to `Vec`",
                   q.solid_from_mesh, "abc", [])


# ---- conversion


@pytest.mark.parametrize("c,i", with_kind(lambda kind: True))
def test_wrong_type_is_prefixed(c, i):
    args = valid_args(c)
    name, kind = c.params[i]
    args[i], message = wrong_value(kind)
    e = raises_message(TypeError, f"argument '{name}': {message}", call, c, *args)
    assert e.__cause__ is None


@pytest.mark.parametrize("c", CALLABLES, ids=repr)
def test_first_failure_is_reported(c):
    # Every argument is wrong: only the first parameter is named.
    args = [wrong_value(kind)[0] for _, kind in c.params]
    with pytest.raises(TypeError) as info:
        call(c, *args)
    assert str(info.value).startswith(f"argument '{c.params[0][0]}': ")


@pytest.mark.parametrize("c,i", with_kind(lambda kind: kind.startswith("seq:")))
def test_sequence_element_failure(c, i):
    args = valid_args(c)
    name, kind = c.params[i]
    args[i], message = wrong_element(kind)
    raises_message(TypeError, f"argument '{name}': {message}", call, c, *args)


class Text(str):
    pass


def generator():
    yield 1


@pytest.mark.parametrize("refused,message", [
    ("abc", "Can't extract `str` to `Vec`"),
    ("", "Can't extract `str` to `Vec`"),
    (Text("abc"), "Can't extract `str` to `Vec`"),
    ({1, 2, 3}, "'set' object cannot be converted to 'Sequence'"),
    ({0: 1}, "'dict' object cannot be converted to 'Sequence'"),
    (generator(), "'generator' object cannot be converted to 'Sequence'"),
    (iter([1, 2]), "'list_iterator' object cannot be converted to 'Sequence'"),
], ids=["str", "empty-str", "str-subclass", "set", "dict", "generator", "iterator"])
@pytest.mark.parametrize("c,i", with_kind(lambda kind: kind.startswith("seq:")))
def test_sequence_refusals(c, i, refused, message):
    args = valid_args(c)
    name = c.params[i][0]
    args[i] = refused
    raises_message(TypeError, f"argument '{name}': {message}", call, c, *args)


class HugeLen(BadLen):
    def __len__(self):
        return 2 ** 62


@pytest.mark.parametrize("wrap", [tuple, list, BadLen, HugeLen], ids=lambda w: w.__name__)
def test_sequence_kinds_accepted(wrap):
    s = q.solid_from_mesh(wrap([0, 0, 0, 1, 0, 0, 0, 1, 0]), wrap([0, 1, 2]))
    assert s.mesh().triangles_flat() == [0, 1, 2]
    s = q.solid_from_mesh((0, 0, 0), range(3))
    assert s.mesh().num_triangles == 1
    # bytes pass the sequence check; their items are ints.
    assert q.solid_from_mesh(b"\x00\x01\x02", []).mesh().vertices_flat() == [0.0, 1.0, 2.0]


@pytest.mark.parametrize("c,i", with_kind(lambda kind: kind == "count"))
@pytest.mark.parametrize("value", [-1, 2 ** 64, -(2 ** 70)])
def test_count_overflow_is_not_prefixed(c, i, value):
    args = valid_args(c)
    args[i] = value
    with pytest.raises(OverflowError) as info:
        call(c, *args)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("value", [-1, 2 ** 64])
def test_count_overflow_in_sequence(value):
    with pytest.raises(OverflowError) as info:
        q.solid_from_mesh([], [0, 1, value])
    assert not str(info.value).startswith("argument")


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class FloatLike:
    def __init__(self, v):
        self.v = v

    def __float__(self):
        return self.v


def test_count_accepts_index_objects():
    mp = q.MeshParams(Index(2 ** 64 - 1), True)
    assert (mp.circle_segments, mp.lat_segments) == (2 ** 64 - 1, 1)
    with pytest.raises(OverflowError):
        q.MeshParams(Index(-5))
    raises_message(TypeError, "argument 'lat_segments': 'str' object cannot be interpreted as an "
                   "integer", q.MeshParams, 1, "3")


def test_number_conversions():
    assert q.Pnt(1.0, True, 3).as_tuple() == (1.0, 1.0, 3.0)
    assert q.Pnt(FloatLike(-1.0), Index(7), -1).as_tuple() == (-1.0, 7.0, -1.0)
    with pytest.raises(OverflowError) as info:  # not a TypeError: passed through
        q.Pnt(10 ** 400, 0, 0)
    assert not str(info.value).startswith("argument")
    e = raises_message(TypeError, "argument 'x': must be real number, not str", q.Pnt, "1", 2, 3)
    assert e.__cause__ is None


class RaisesWithCause:
    def __init__(self, exc, cause):
        self.exc, self.cause = exc, cause

    def __float__(self):
        raise self.exc from self.cause

    __index__ = __float__


def test_prefixed_error_keeps_the_original_cause():
    root = ValueError("root")
    e = raises_message(TypeError, "argument 'y': inner", q.Pnt, 0,
                       RaisesWithCause(TypeError("inner"), root), 0)
    assert e.__cause__ is root
    e = raises_message(TypeError, "argument 'lat_segments': inner", q.MeshParams, 1,
                       RaisesWithCause(TypeError("inner"), root))
    assert e.__cause__ is root


def test_other_conversion_errors_pass_through_unchanged():
    inner = ValueError("not a coordinate")
    with pytest.raises(ValueError) as info:
        q.Pnt(0, 0, RaisesWithCause(inner, None))
    assert info.value is inner


def test_arguments_are_left_unchanged():
    verts = [0, 0, 0, 1, 0, 0, 0, 1, 0]
    tris = (0, 1, 2)
    q.solid_from_mesh(verts, tris)
    with pytest.raises(TypeError):
        q.solid_from_mesh(verts, [0, 1, "x"])
    assert verts == [0, 0, 0, 1, 0, 0, 0, 1, 0] and tris == (0, 1, 2)
    p = q.Pnt(1, 2, 3)
    q.Pnt(4, 5, 6).cross(p)
    assert p.as_tuple() == (1.0, 2.0, 3.0)
