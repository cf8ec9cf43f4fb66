"""The module tree: names, registration order, signatures, docstrings,
class properties and the module's lifecycle."""
import shutil
import subprocess
import sys
import textwrap

import pytest

import quorvalind as q
from callables import FUNCTION_NAMES, SUBMODULE_FUNCTIONS, tetra

CLASSES = {
    "gp": ["Pnt", "Ax1", "Trsf"],
    "topods": ["Vertex", "Wire", "Face", "Compound", "Solid"],
    "mesh": ["TriMesh", "BBox"],
    "prim": ["MeshParams"],
}
CLASS_NAMES = [n for names in CLASSES.values() for n in names]
SUBMODULES = ["gp", "topods", "mesh", "prim", "builder", "algo", "io"]

EXPECTED_ALL = {
    "quorvalind": CLASS_NAMES + ["Vec3", "Point3"] + FUNCTION_NAMES + SUBMODULES + ["__version__"],
    "gp": ["Pnt", "Ax1", "Trsf", "Vec3", "Point3"],
    "topods": ["Vertex", "Wire", "Face", "Compound", "Solid"],
    "mesh": ["TriMesh", "BBox"],
    "prim": ["MeshParams"] + SUBMODULE_FUNCTIONS["prim"],
    "builder": SUBMODULE_FUNCTIONS["builder"],
    "algo": SUBMODULE_FUNCTIONS["algo"],
    "io": ["write_binary_stl", "write_ascii_stl", "write_step"],
}


def module(name):
    return q if name == "quorvalind" else getattr(q, name)


@pytest.mark.parametrize("name", list(EXPECTED_ALL))
def test_all_lists_in_registration_order(name):
    m = module(name)
    assert m.__all__ == EXPECTED_ALL[name]
    for attr in m.__all__:
        assert hasattr(m, attr)


def test_top_level_all_spelled_out():
    assert q.__all__[:13] == ["Pnt", "Ax1", "Trsf", "Vertex", "Wire", "Face", "Compound",
                              "Solid", "TriMesh", "BBox", "MeshParams", "Vec3", "Point3"]
    assert q.__all__[-8:] == ["gp", "topods", "mesh", "prim", "builder", "algo", "io",
                              "__version__"]
    assert len(q.__all__) == 11 + 2 + 20 + 7 + 1


@pytest.mark.parametrize("sub", SUBMODULES)
def test_submodules(sub):
    m = getattr(q, sub)
    assert m.__name__ == sub
    assert sys.modules["quorvalind." + sub] is m
    assert type(m) is type(q)


def test_imports_through_the_module_table():
    import quorvalind.gp
    from quorvalind.prim import make_box
    from quorvalind.gp import Pnt
    assert quorvalind.gp is q.gp and make_box is q.prim.make_box and Pnt is q.Pnt


def test_version_and_module_doc():
    assert q.__version__ == "0.1.0"
    assert q.__doc__ == ""


@pytest.mark.parametrize("sub,name", [(s, n) for s, ns in CLASSES.items() for n in ns])
def test_classes_shared_and_module(sub, name):
    cls = getattr(q, name)
    assert getattr(module(sub), name) is cls
    assert cls.__module__ == "quorvalind." + sub
    assert cls.__name__ == name and cls.__qualname__ == name
    assert cls.__doc__ is None


def test_aliases():
    for m in (q, q.gp):
        assert m.Vec3 is q.Pnt and m.Point3 is q.Pnt
    assert repr(q.Vec3(1, 2, 3)) == "Pnt(1, 2, 3)"
    assert type(q.gp.Point3(0, 0, 0)) is q.Pnt


@pytest.mark.parametrize("sub,name", [(s, n) for s, ns in SUBMODULE_FUNCTIONS.items() for n in ns])
def test_function_copies(sub, name):
    top, inner = getattr(q, name), getattr(module(sub), name)
    assert top is not inner
    assert top.__self__ is q and inner.__self__ is module(sub)
    assert top.__module__ == "quorvalind" and inner.__module__ == sub
    assert top.__name__ == inner.__name__ == name
    assert top.__text_signature__ == inner.__text_signature__
    assert top.__doc__ == inner.__doc__


FUNCTION_SIGNATURES = {
    "make_box": "(corner, dx, dy, dz)", "make_box_centered_xy": "(center, w, h, d)",
    "make_cylinder": "(r, h, mp=None)", "make_cone": "(r1, r2, h, mp=None)",
    "make_sphere": "(r, mp=None)", "make_torus": "(major, minor, mp=None)",
    "make_prism": "(face, vec)", "make_revol": "(wire, axis, angle, mp=None)",
    "make_polygon": "(points)", "make_face": "(outer)", "make_face_with_holes": "(outer, holes)",
    "transform": "(solid, t)", "solid_from_mesh": "(vertices_flat, triangles_flat)",
    "fuse": "(a, b)", "cut": "(a, b)", "common": "(a, b)", "fuse_all": "(solids)",
    "write_binary_stl": "(mesh)", "write_ascii_stl": "(mesh, name)", "write_step": "(mesh, name)",
}

MEMBER_SIGNATURES = {
    "Pnt": "(x, y, z)", "Pnt.origin": "()", "Pnt.dot": "($self, o)", "Pnt.cross": "($self, o)",
    "Pnt.norm": "($self)", "Pnt.distance": "($self, o)", "Pnt.as_tuple": "($self)",
    "Ax1": "(location, direction)", "Ax1.oz": "()",
    "Trsf": None, "Trsf.translation": "(v)", "Trsf.rotation": "(axis, angle)",
    "Trsf.scale_uniform": "(f)", "Trsf.scale_xyz": "(fx, fy, fz)",
    "Trsf.then": "($self, outer)", "Trsf.apply_point": "($self, p)",
    "Vertex": "(p)", "Wire": None, "Face": None, "Compound": None,
    "Solid": None, "Solid.volume": "($self)", "Solid.mesh": "($self)",
    "TriMesh": None, "TriMesh.volume": "($self)", "TriMesh.vertices_flat": "($self)",
    "TriMesh.triangles_flat": "($self)", "BBox": None, "BBox.volume": "($self)",
    "MeshParams": "(circle_segments=64, lat_segments=32)",
}

DOCS = {
    "Trsf.then": "Compose: apply `self`, then `outer`.",
    "TriMesh.vertices_flat": "Flat `[x0, y0, z0, x1, y1, z1, ...]` vertex buffer.",
    "TriMesh.triangles_flat": "Flat `[i0, j0, k0, i1, j1, k1, ...]` triangle index buffer.",
    "solid_from_mesh": "Build a solid directly from a triangle soup \u2014 flat vertex buffer\n"
                       "`[x0,y0,z0, ...]` and flat index buffer `[i0,j0,k0, ...]`. Used by callers\n"
                       "(e.g. the brelmont loft/sweep pass) that assemble a mesh themselves.",
}


def resolve(path):
    obj = q
    for part in path.split("."):
        obj = getattr(obj, part)
    return obj


@pytest.mark.parametrize("path", list(MEMBER_SIGNATURES) + list(FUNCTION_SIGNATURES))
def test_text_signatures_and_docstrings(path):
    expected = MEMBER_SIGNATURES.get(path) or FUNCTION_SIGNATURES.get(path)
    targets = [resolve(path)]
    if path in FUNCTION_SIGNATURES:
        sub = next(s for s, ns in SUBMODULE_FUNCTIONS.items() if path in ns)
        targets.append(getattr(module(sub), path))
    for obj in targets:
        assert obj.__text_signature__ == expected
        assert obj.__doc__ == DOCS.get(path)


def test_dash_in_solid_from_mesh_doc():
    assert "\u2014" in q.solid_from_mesh.__doc__
    assert q.solid_from_mesh.__doc__.count("\n") == 2


PROPERTIES = {
    "Pnt": (lambda: q.Pnt(1, 2, 3), ["x", "y", "z"]),
    "Ax1": (q.Ax1.oz, ["location", "direction"]),
    "Vertex": (lambda: q.Vertex(q.Pnt(1, 2, 3)), ["point"]),
    "TriMesh": (lambda: tetra().mesh(), ["num_vertices", "num_triangles"]),
    "MeshParams": (q.MeshParams, ["circle_segments", "lat_segments"]),
}


@pytest.mark.parametrize("cls", list(PROPERTIES))
def test_properties_read_only_without_doc(cls):
    make, names = PROPERTIES[cls]
    obj = make()
    for name in names:
        before = getattr(obj, name)
        with pytest.raises(AttributeError):
            setattr(obj, name, before)
        with pytest.raises(AttributeError):
            delattr(obj, name)
        assert getattr(getattr(q, cls), name).__doc__ is None


INSTANCES = {
    "Pnt": lambda: q.Pnt(1, 2, 3), "Ax1": q.Ax1.oz, "Trsf": lambda: q.Trsf.scale_uniform(1),
    "Vertex": lambda: q.Vertex(q.Pnt(0, 0, 0)), "Solid": tetra, "TriMesh": lambda: tetra().mesh(),
    "MeshParams": q.MeshParams,
}


@pytest.mark.parametrize("cls", CLASS_NAMES)
def test_final_classes(cls):
    with pytest.raises(TypeError):
        type("Sub", (getattr(q, cls),), {})


@pytest.mark.parametrize("cls", list(INSTANCES))
def test_no_new_attributes_and_identity_semantics(cls):
    a, b = INSTANCES[cls](), INSTANCES[cls]()
    with pytest.raises(AttributeError):
        a.extra = 1
    assert not hasattr(a, "__dict__")
    assert a == a and a != b and not (a == b)
    assert hash(a) == hash(a)
    with pytest.raises(TypeError):
        a < b  # noqa: B015


def test_no_layout_swaps():
    # Same-sized values must not be reinterpreted through __class__.
    for obj, other in [(q.Pnt(1, 2, 3), q.Vertex), (tetra(), q.TriMesh), (q.Pnt(0, 0, 0), q.Ax1)]:
        with pytest.raises(TypeError):
            obj.__class__ = other
    with pytest.raises(TypeError):
        object.__new__(q.Solid)


@pytest.mark.parametrize("cls", ["Trsf", "Wire", "Face", "Compound", "Solid", "TriMesh", "BBox"])
def test_no_constructor(cls):
    for args, kwargs in [((), {}), ((1, 2), {"k": 3})]:
        with pytest.raises(TypeError) as info:
            getattr(q, cls)(*args, **kwargs)
        assert str(info.value) == f"No constructor defined for {cls}"


ZERO_ARG = [
    lambda: q.Pnt.origin, lambda: q.Ax1.oz, lambda: q.Pnt(1, 2, 3).norm,
    lambda: q.Pnt(1, 2, 3).as_tuple, lambda: tetra().volume, lambda: tetra().mesh,
    lambda: tetra().mesh().volume, lambda: tetra().mesh().vertices_flat,
    lambda: tetra().mesh().triangles_flat,
]


@pytest.mark.parametrize("get", ZERO_ARG)
def test_zero_argument_callables(get):
    f = get()
    f()
    with pytest.raises(TypeError, match="takes no arguments"):
        f(1)
    with pytest.raises(TypeError, match="takes no keyword arguments"):
        f(x=1)


@pytest.mark.parametrize("call", [
    lambda: q.Pnt.norm(5),
    lambda: q.Pnt.dot(5, q.Pnt(0, 0, 0)),
    lambda: q.Trsf.then(q.Pnt(0, 0, 0), q.Trsf.scale_uniform(1)),
    lambda: q.Solid.volume(tetra().mesh()),
    lambda: q.TriMesh.vertices_flat(tetra()),
])
def test_receiver_of_another_type(call):
    with pytest.raises(TypeError):
        call()


def test_internal_fault_error_home():
    from quorvalind.errors import InternalFaultError
    assert InternalFaultError.__bases__ == (BaseException,)
    assert not issubclass(InternalFaultError, Exception)
    assert InternalFaultError.__module__ == "quorvalind.errors"
    assert InternalFaultError.__doc__ and "\n" not in InternalFaultError.__doc__
    assert sys.modules["quorvalind.errors"].InternalFaultError is InternalFaultError
    assert not hasattr(q, "errors") and "errors" not in q.__all__


def test_extras_lives_in_sys_modules_only():
    import quorvalind.extras as extras
    assert sys.modules["quorvalind.extras"] is extras
    assert not hasattr(q, "extras") and "extras" not in q.__all__
    assert all(not hasattr(getattr(q, sub), "extras") for sub in SUBMODULES)
    for name in extras.__all__:
        assert getattr(extras, name).__module__ == "quorvalind.extras"


def test_reimport_returns_the_same_module():
    first = sys.modules.pop("quorvalind")
    try:
        import quorvalind as again
        assert again is first
        assert again.gp is sys.modules["quorvalind.gp"]
        assert again.__all__ == EXPECTED_ALL["quorvalind"]
    finally:
        sys.modules["quorvalind"] = first


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=60)


def test_reimport_in_a_fresh_process():
    r = run_python("""
        import sys, quorvalind as a
        gp = a.gp
        del sys.modules["quorvalind"]
        import quorvalind as b
        assert a is b and b.gp is gp and b.Pnt is gp.Pnt
        print("same")
    """)
    assert r.returncode == 0, r.stderr
    assert r.stdout.strip() == "same"


def test_second_interpreter_is_refused():
    pytest.importorskip("_xxsubinterpreters")
    r = run_python("""
        import _xxsubinterpreters as interpreters
        import quorvalind
        i = interpreters.create()
        try:
            interpreters.run_string(i, "import quorvalind")
        except interpreters.RunFailedError as e:
            print(e)
        else:
            print("imported")
        interpreters.destroy(i)
        print(quorvalind.Pnt(1, 2, 3))
    """)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert lines[0].startswith("<class 'ImportError'>")
    assert "one interpreter per process" in lines[0]
    assert lines[1] == "Pnt(1, 2, 3)"


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
def test_extension_exports_only_its_init_function():
    # A core function exported from the extension could bind to another
    # extension's symbol of the same name, and every call between core files
    # would go through the PLT.
    out = subprocess.run(["nm", "-D", "--defined-only", q.__file__],
                         capture_output=True, text=True, check=True).stdout
    functions = [line.split()[-1] for line in out.splitlines() if line.split()[1] in "TtWi"]
    assert functions == ["PyInit_quorvalind"]
