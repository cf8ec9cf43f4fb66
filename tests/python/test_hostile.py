"""Hostile input over every public callable, each batch in a child process
with a timeout (and, outside sanitizer runs, an address-space cap), so that
a crash, a hang or a runaway allocation fails one test.

QUORVALIND_HYPOTHESIS_PROFILE=long (with QUORVALIND_HOSTILE_SEED to pick
the seed) runs many more examples by hand; the default keeps CI short.
"""
import os
import subprocess
import sys
import textwrap

import pytest

import quorvalind as q
from callables import CALLABLES, distinct_functions

HERE = os.path.dirname(os.path.abspath(__file__))
SANITIZED = bool(os.environ.get("QUORVALIND_SANITIZED"))
PROFILE = os.environ.get("QUORVALIND_HYPOTHESIS_PROFILE", "ci")
EXAMPLES = int(os.environ.get("QUORVALIND_HOSTILE_EXAMPLES", 0)) or {
    "ci": 30 if SANITIZED else 100, "long": 5000}[PROFILE]
SEED = int(os.environ.get("QUORVALIND_HOSTILE_SEED", "0"))
TIMEOUT = 600 if PROFILE == "long" else 240


def _env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([HERE] + [p for p in sys.path if p])
    return env


def _last_lines(text, n=5):
    return "\n".join(text.strip().splitlines()[-n:])


def run_child(argv, timeout, cap=None):
    """Runs argv under the test's interpreter; returns (returncode, stdout, stderr)."""
    preexec = None
    if cap is not None and not SANITIZED:
        def preexec():
            import resource
            resource.setrlimit(resource.RLIMIT_AS, (cap, cap))
    try:
        p = subprocess.run([sys.executable] + argv, capture_output=True, text=True, env=_env(),
                           timeout=timeout, preexec_fn=preexec, cwd=HERE)
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode() if isinstance(e.stdout, bytes) else (e.stdout or "")
        pytest.fail(f"hung for {timeout} s; last example:\n{_last_lines(out, 1)}")
    return p.returncode, p.stdout, p.stderr


HOSTILE_CALLABLES = distinct_functions()


def test_one_hostile_run_per_c_function():
    """Spellings grouped under one run are the same C function: one type
    object, or function objects over one method table entry (same name,
    docstring and signature); every C function keeps a run."""
    for run in HOSTILE_CALLABLES:
        group = [c for c in CALLABLES if c.display == run.display]
        objs = [c.get() for c in group]
        if isinstance(objs[0], type):
            assert all(o is objs[0] for o in objs), run.display
        else:
            keys = {(o.__qualname__, o.__doc__, o.__text_signature__, type(o)) for o in objs}
            assert len(keys) == 1, (run.display, keys)
    assert len(HOSTILE_CALLABLES) < len(CALLABLES)
    assert {c.display for c in HOSTILE_CALLABLES} == {c.display for c in CALLABLES}


@pytest.mark.parametrize("c", HOSTILE_CALLABLES, ids=lambda c: c.ident)
def test_hostile_arguments(c):
    rc, out, err = run_child([os.path.join(HERE, "hostile.py"), c.ident, str(EXAMPLES),
                              str(SEED)], TIMEOUT)
    if rc < 0:
        pytest.fail(f"child died by signal {-rc}; last example:\n{_last_lines(out, 1)}\n"
                    f"{_last_lines(err, 20)}")
    assert rc == 0, _last_lines(err, 40)
    assert out.rstrip().endswith("hostile-run-done")
    # Every example printed its call before making it.
    assert out.count("\n") > min(EXAMPLES, 10)


# ---- runaway sizes: each must end in MemoryError, quickly, under a cap.

ENDLESS = """
    class Endless:
        def __init__(self, item):
            self.item = item
        def __len__(self):
            return 3
        def __getitem__(self, i):
            return self.item
"""

HUGE = 2**64 - 1
MEMORY_CASES = {
    "endless vertex buffer": "q.solid_from_mesh(Endless(1.0), [])",
    "endless index buffer": "q.solid_from_mesh([], Endless(0))",
    "range of 10**18 numbers": "q.solid_from_mesh(range(10**18), [])",
    "endless points": "q.make_polygon(Endless(q.Pnt(0, 0, 0)))",
    "endless holes": "q.make_face_with_holes(W, Endless(W))",
    "endless solids": "q.fuse_all(Endless(S))",
    "cylinder": f"q.make_cylinder(1, 1, q.MeshParams({HUGE}, 4))",
    "cone": f"q.make_cone(1, 0.5, 1, q.MeshParams({HUGE}, 4))",
    "sphere circle": f"q.make_sphere(1, q.MeshParams({HUGE}, 4))",
    "sphere lat": f"q.make_sphere(1, q.MeshParams(8, {HUGE}))",
    "sphere both 2**32": f"q.make_sphere(1, q.MeshParams({2**32}, {2**32}))",
    "torus": f"q.make_torus(2, 1, q.MeshParams({HUGE}, {HUGE}))",
    "torus 2**33": f"q.make_torus(2, 1, q.MeshParams({2**33}, 8))",
    "revolution": f"q.make_revol(W, q.Ax1(q.Pnt(-5, 0, 0), q.Pnt(0, 1, 0)), 1.0, "
                  f"q.MeshParams({HUGE}, 4))",
}
CAP = 512 << 20


@pytest.mark.skipif(SANITIZED, reason="the address-space cap clashes with sanitizer shadow memory")
@pytest.mark.parametrize("expr", list(MEMORY_CASES.values()), ids=list(MEMORY_CASES))
def test_runaway_size_raises_memory_error(expr):
    code = textwrap.dedent(ENDLESS) + textwrap.dedent(f"""
        import quorvalind as q
        W = q.make_polygon([q.Pnt(0, 0, 0), q.Pnt(1, 0, 0), q.Pnt(0, 1, 0)])
        S = q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                              [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])
        try:
            {expr}
        except MemoryError:
            print("MemoryError")
        else:
            print("returned")
    """)
    rc, out, err = run_child(["-c", code], 60, cap=CAP)
    assert rc == 0, f"exit {rc}\n{_last_lines(err, 20)}"
    assert out.strip() == "MemoryError"


# ---- methods without parameters: the interpreter's own refusal of any argument.

def _receivers():
    tet = q.solid_from_mesh([0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1],
                            [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3])
    p = q.Pnt(1, 2, 3)
    return [p.norm, p.as_tuple, q.Pnt.origin, q.Ax1.oz, tet.volume, tet.mesh,
            tet.mesh().volume, tet.mesh().vertices_flat, tet.mesh().triangles_flat]


@pytest.mark.parametrize("extra", [(1,), (None,), ((),)], ids=["int", "None", "tuple"])
def test_methods_without_parameters_refuse_arguments(extra):
    for m in _receivers():
        with pytest.raises(TypeError):
            m(*extra)
        with pytest.raises(TypeError):
            m(x=extra[0])


# ---- special magnitudes through the booleans and writers, in one child.

SPECIAL_BOOLEANS = """
import math, struct
import quorvalind as q
from quorvalind.errors import InternalFaultError

box = q.make_box(q.Pnt(0, 0, 0), 1, 1, 1)
ops = (q.cut, q.fuse, q.common, lambda a, b: q.fuse_all([a, b, a]))
count = 0
for v in (math.nan, math.inf, -math.inf, 1e300, -1e300, 5e-324, 1e-300, 0.0, -0.0, 1e-7):
    odd = [
        q.transform(box, q.Trsf.scale_uniform(v)),
        q.transform(box, q.Trsf.translation(q.Pnt(v, 0.5, 0.5))),
        q.make_sphere(v, q.MeshParams(8, 4)),
        q.solid_from_mesh([0, 0, 0, v, 0, 0, 0, v, 0, 0, 0, v], [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]),
        q.solid_from_mesh([v] * 12, [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]),
    ]
    for s in odd:
        for op in ops:
            for a, b in ((box, s), (s, box), (s, s)):
                try:
                    r = op(a, b)
                    m = r.mesh()
                    data = q.write_binary_stl(m)
                    assert len(data) == 84 + 50 * struct.unpack_from("<I", data, 80)[0]
                    q.write_ascii_stl(m, "x")
                    q.write_step(m, "x")
                except (InternalFaultError, MemoryError):
                    pass
                count += 1
print("done", count)
"""


def test_special_magnitudes_through_booleans_and_writers():
    rc, out, err = run_child(["-c", SPECIAL_BOOLEANS], 300, cap=2 << 30)
    assert rc == 0, f"exit {rc}\n{_last_lines(err, 20)}"
    assert out.strip() == "done 600"


@pytest.mark.parametrize("write", [q.write_ascii_stl, q.write_step], ids=["ascii_stl", "step"])
def test_name_without_utf8_form(write):
    # A lone surrogate cannot be encoded: the writer refuses it and the mesh
    # stays as it was.
    mesh = q.make_box(q.Pnt(0, 0, 0), 1, 1, 1).mesh()
    before = (mesh.vertices_flat(), mesh.triangles_flat())
    with pytest.raises(UnicodeEncodeError):
        write(mesh, "part\ud800")
    assert (mesh.vertices_flat(), mesh.triangles_flat()) == before
    assert write(mesh, "part\u00e9")
