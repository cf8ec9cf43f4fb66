"""The table of every callable with parameters: display name, parameter
names and kinds, how to reach it, and valid / wrong values per kind.

Tests in test_arguments.py, test_surface.py and test_leaks.py are generated
from it, so a new callable costs one entry here."""
import pytest

import quorvalind as q

# Parameter kinds: "number", "count", "text", "mp" (optional mesh parameters),
# a class name for an instance of that class, "seq:<kind>" for a sequence.
FUNCTION_PARAMS = {
    "make_box": [("corner", "Pnt"), ("dx", "number"), ("dy", "number"), ("dz", "number")],
    "make_box_centered_xy": [("center", "Pnt"), ("w", "number"), ("h", "number"), ("d", "number")],
    "make_cylinder": [("r", "number"), ("h", "number"), ("mp", "mp")],
    "make_cone": [("r1", "number"), ("r2", "number"), ("h", "number"), ("mp", "mp")],
    "make_sphere": [("r", "number"), ("mp", "mp")],
    "make_torus": [("major", "number"), ("minor", "number"), ("mp", "mp")],
    "make_prism": [("face", "Face"), ("vec", "Pnt")],
    "make_revol": [("wire", "Wire"), ("axis", "Ax1"), ("angle", "number"), ("mp", "mp")],
    "make_polygon": [("points", "seq:Pnt")],
    "make_face": [("outer", "Wire")],
    "make_face_with_holes": [("outer", "Wire"), ("holes", "seq:Wire")],
    "transform": [("solid", "Solid"), ("t", "Trsf")],
    "solid_from_mesh": [("vertices_flat", "seq:number"), ("triangles_flat", "seq:count")],
    "fuse": [("a", "Solid"), ("b", "Solid")],
    "cut": [("a", "Solid"), ("b", "Solid")],
    "common": [("a", "Solid"), ("b", "Solid")],
    "fuse_all": [("solids", "seq:Solid")],
    "write_binary_stl": [("mesh", "TriMesh")],
    "write_ascii_stl": [("mesh", "TriMesh"), ("name", "text")],
    "write_step": [("mesh", "TriMesh"), ("name", "text")],
}

SUBMODULE_FUNCTIONS = {
    "prim": ["make_box", "make_box_centered_xy", "make_cylinder", "make_cone", "make_sphere",
             "make_torus", "make_prism", "make_revol"],
    "builder": ["make_polygon", "make_face", "make_face_with_holes", "transform",
                "solid_from_mesh"],
    "algo": ["fuse", "cut", "common", "fuse_all"],
    "io": ["write_binary_stl", "write_ascii_stl", "write_step"],
}
FUNCTION_NAMES = [n for names in SUBMODULE_FUNCTIONS.values() for n in names]


class Callable:
    def __init__(self, ident, display, get, params, required=None):
        self.ident = ident          # pytest id
        self.display = display      # name used in the messages
        self.get = get              # returns the callable object
        self.params = params        # [(name, kind)]
        self.required = len(params) if required is None else required
        self.function = None        # bare function name for module functions

    def __repr__(self):
        return self.ident


def _functions():
    out = []
    for sub, names in SUBMODULE_FUNCTIONS.items():
        for name in names:
            params = FUNCTION_PARAMS[name]
            required = sum(1 for _, kind in params if kind != "mp")
            for mod_name in ("quorvalind", sub):
                mod = q if mod_name == "quorvalind" else getattr(q, sub)
                c = Callable(f"{mod_name}.{name}", f"{name}()",
                             (lambda m=mod, n=name: getattr(m, n)), params, required)
                c.function = name
                out.append(c)
    return out


CALLABLES = [
    Callable("Pnt", "Pnt.__new__()", lambda: q.Pnt,
             [("x", "number"), ("y", "number"), ("z", "number")]),
    Callable("Vec3", "Pnt.__new__()", lambda: q.Vec3,
             [("x", "number"), ("y", "number"), ("z", "number")]),
    Callable("Pnt.dot", "Pnt.dot()", lambda: q.Pnt(1, 2, 3).dot, [("o", "Pnt")]),
    Callable("Pnt.cross", "Pnt.cross()", lambda: q.Pnt(1, 2, 3).cross, [("o", "Pnt")]),
    Callable("Pnt.distance", "Pnt.distance()", lambda: q.Pnt(1, 2, 3).distance, [("o", "Pnt")]),
    Callable("Ax1", "Ax1.__new__()", lambda: q.Ax1, [("location", "Pnt"), ("direction", "Pnt")]),
    Callable("Trsf.translation", "Trsf.translation()", lambda: q.Trsf.translation, [("v", "Pnt")]),
    Callable("Trsf.rotation", "Trsf.rotation()", lambda: q.Trsf.rotation,
             [("axis", "Ax1"), ("angle", "number")]),
    Callable("Trsf.scale_uniform", "Trsf.scale_uniform()", lambda: q.Trsf.scale_uniform,
             [("f", "number")]),
    Callable("Trsf.scale_xyz", "Trsf.scale_xyz()", lambda: q.Trsf.scale_xyz,
             [("fx", "number"), ("fy", "number"), ("fz", "number")]),
    Callable("Trsf.then", "Trsf.then()", lambda: q.Trsf.scale_uniform(2).then, [("outer", "Trsf")]),
    Callable("Trsf.apply_point", "Trsf.apply_point()", lambda: q.Trsf.scale_uniform(2).apply_point,
             [("p", "Pnt")]),
    Callable("Vertex", "Vertex.__new__()", lambda: q.Vertex, [("p", "Pnt")]),
    Callable("MeshParams", "MeshParams.__new__()", lambda: q.MeshParams,
             [("circle_segments", "count"), ("lat_segments", "count")], 0),
] + _functions()


def distinct_functions():
    """One callable per C function: the aliases (Vec3 for Pnt) and the
    submodule copies of the module functions share their C function, and
    the display name its messages use, with their first spelling."""
    seen = {}
    for c in CALLABLES:
        seen.setdefault(c.display, c)
    return list(seen.values())


# ---- values


def tetra():
    return q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                             [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])


def _wire():
    return q.make_polygon([q.Pnt(0, 0, 0), q.Pnt(1, 0, 0), q.Pnt(0, 1, 0)])


def _face():
    return q.make_face(_wire())


VALID = {
    "number": lambda: 1.5,
    "count": lambda: 8,
    "text": lambda: "part",
    "mp": lambda: q.MeshParams(8, 4),
    "Pnt": lambda: q.Pnt(1, 2, 3),
    "Ax1": q.Ax1.oz,
    "Trsf": lambda: q.Trsf.translation(q.Pnt(0, 0, 0)),
    "Solid": tetra,
    "TriMesh": lambda: tetra().mesh(),
    "Wire": _wire,
    "Face": _face,
    "seq:Pnt": lambda: [q.Pnt(0, 0, 0), q.Pnt(1, 0, 0), q.Pnt(0, 1, 0)],
    "seq:Wire": lambda: [],
    "seq:Solid": lambda: [tetra(), tetra()],
    "seq:number": lambda: [0, 0, 0, 1, 0, 0, 0, 1, 0],
    "seq:count": lambda: [0, 1, 2],
}


def valid_args(c):
    """One valid positional value per parameter."""
    return [VALID[kind]() for _, kind in c.params]


# A value of the wrong type for a kind, and the underlying message.
def wrong_value(kind):
    if kind == "number":
        return "x", "must be real number, not str"
    if kind == "count":
        return 1.5, "'float' object cannot be interpreted as an integer"
    if kind == "text":
        return 5, "'int' object cannot be converted to 'PyString'"
    if kind == "mp":
        return 5, "'int' object cannot be converted to 'MeshParams'"
    if kind.startswith("seq:"):
        return 5, "'int' object cannot be converted to 'Sequence'"
    return "x", f"'str' object cannot be converted to '{kind}'"


# A sequence whose one bad element is refused, and that element's message.
def wrong_element(kind):
    elem = kind[len("seq:"):]
    if elem == "number":
        return [1, 2, "x"], "must be real number, not str"
    if elem == "count":
        return [1, 2, 1.5], "'float' object cannot be interpreted as an integer"
    return [(0, 0, 0)], f"'tuple' object cannot be converted to '{elem}'"


def with_kind(pred):
    """(callable, parameter index) pairs for parameters whose kind matches."""
    return [pytest.param(c, i, id=f"{c.ident}-{name}")
            for c in CALLABLES for i, (name, kind) in enumerate(c.params) if pred(kind)]
