"""cut, fuse, common and fuse_all from Python: results, volume identities
against exact values and against manifold3d, hostile inputs in a child
process, and Ctrl-C while the csg thread works."""
import os
import signal
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import quorvalind as q
from mesh_checks import check_oriented, signed_volume
from solid_shapes import (box, cylinder, mesh_arrays, moved, random_rotation, sphere, to_solid,
                          torus)

algo = q.algo
SANITIZED = bool(os.environ.get("QUORVALIND_SANITIZED"))
HERE = os.path.dirname(os.path.abspath(__file__))


def solid(shape):
    return to_solid(*shape)


def counts(s):
    m = s.mesh()
    return m.num_vertices, m.num_triangles


def same_mesh(a, b):
    ma, mb = a.mesh(), b.mesh()
    return ma.vertices_flat() == mb.vertices_flat() and ma.triangles_flat() == mb.triangles_flat()


def rel(a, b):
    return abs(a - b) / max(abs(a), abs(b), 1e-300)


UNIT = box(0, 0, 0, 1, 1, 1)


# ---- Specified cases -----------------------------------------------------

def test_disjoint_boxes():
    a, b = solid(UNIT), solid(box(2, 0, 0, 3, 1, 1))
    f = algo.fuse(a, b)
    assert counts(f) == (16, 24) and f.volume() == pytest.approx(2.0, rel=1e-15)
    assert counts(algo.cut(a, b)) == (8, 12)
    assert counts(algo.common(a, b)) == (0, 0)


@pytest.mark.parametrize("op, volume", [("fuse", 1.875), ("cut", 0.875), ("common", 0.125)])
def test_overlapping_boxes(op, volume):
    r = getattr(algo, op)(solid(UNIT), solid(box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5)))
    assert signed_volume(r.mesh()) == pytest.approx(volume, rel=1e-14)
    check_oriented(r.mesh())


def test_nested_boxes_and_self():
    inner, outer = solid(box(0.25, 0.25, 0.25, 0.75, 0.75, 0.75)), solid(UNIT)
    assert counts(algo.cut(inner, outer)) == (0, 0)
    assert algo.common(inner, outer).volume() == pytest.approx(0.125, rel=1e-14)
    f = algo.fuse(inner, outer)
    assert f.volume() == pytest.approx(1.0, rel=1e-14) and counts(f)[1] > 12
    x = solid(box(0, 0, 0, 1, 2, 3))
    assert counts(algo.cut(x, x)) == (0, 0)
    for r in (algo.fuse(x, x), algo.common(x, x)):
        assert counts(r) == (8, 12) and r.volume() == pytest.approx(6.0, rel=1e-15)


# The example of docs/algo.md: an inward-wound closed operand is its
# complement, and volume() does not show the winding.
TET_CORNERS = [0.5, 0.5, 0.5, 1.5, 0.5, 0.5, 0.5, 1.5, 0.5, 0.5, 0.5, 1.5]
INSIDE_OUT_TET = [0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2]


@pytest.mark.parametrize("op, volume, triangles", [
    ("cut", 1 / 6, 4), ("common", 8 - 1 / 6, None), ("fuse", 0.0, 0)])
def test_inside_out_operand_acts_as_its_complement(op, volume, triangles):
    inside_out = q.solid_from_mesh(TET_CORNERS, INSIDE_OUT_TET)
    assert inside_out.volume() == pytest.approx(1 / 6, rel=1e-15)
    assert signed_volume(inside_out.mesh()) == pytest.approx(-1 / 6, rel=1e-15)
    r = getattr(algo, op)(q.make_box(q.Pnt(0, 0, 0), 2, 2, 2), inside_out)
    assert signed_volume(r.mesh()) == pytest.approx(volume, rel=1e-14, abs=1e-15)
    if triangles is not None:
        assert r.mesh().num_triangles == triangles


def test_empty_operands_and_fresh_results():
    # Duplicate vertices show that a copy is not welded.
    dup = to_solid([0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1], [0, 1, 2, 3, 4, 5])
    empty, verts = to_solid([], []), to_solid([0, 0, 0, 1, 1, 1], [])
    collinear = to_solid([0, 0, 0, 1, 0, 0, 2, 0, 0], [0, 1, 2])
    cases = [
        (algo.cut(dup, empty), dup), (algo.cut(verts, dup), verts),
        (algo.fuse(empty, dup), dup), (algo.fuse(dup, empty), dup),
        (algo.common(dup, empty), empty), (algo.common(verts, dup), empty),
        # all-degenerate operands count as empty
        (algo.cut(collinear, dup), collinear), (algo.fuse(collinear, dup), dup),
        (algo.common(dup, collinear), empty),
    ]
    for got, want in cases:
        assert same_mesh(got, want)
        assert got is not want
    r = algo.fuse(a=dup, b=empty)
    assert isinstance(r, q.topods.Solid) and r is not dup


def test_fuse_all():
    x, y, z = solid(UNIT), solid(box(0.5, 0, 0, 1.5, 1, 1)), solid(box(3, 0, 0, 4, 1, 1))
    empty = to_solid([], [])
    collinear = to_solid([0, 0, 0, 1, 0, 0, 2, 0, 0], [0, 1, 2])
    assert counts(algo.fuse_all([])) == (0, 0)
    assert same_mesh(algo.fuse_all([x]), x)
    assert same_mesh(algo.fuse_all([collinear]), collinear)
    assert same_mesh(algo.fuse_all((empty, x, empty, y)), algo.fuse(x, y))
    assert same_mesh(algo.fuse_all([x, y, z]), algo.fuse(algo.fuse(x, y), z))
    assert algo.fuse_all(solids=[x, y, z]).volume() == pytest.approx(2.5, rel=1e-14)


def test_index_fault_in_either_operand():
    bad = to_solid([0, 0, 0, 1, 0, 0, 0, 1, 0], [0, 1, 7])
    for op in (algo.cut, algo.fuse, algo.common):
        for args in ((bad, solid(UNIT)), (solid(UNIT), bad)):
            with pytest.raises(BaseException) as info:
                op(*args)
            assert type(info.value).__name__ == "InternalFaultError"
            assert str(info.value) == "index out of bounds: the len is 3 but the index is 7"


# ---- Volumes over random inputs -----------------------------------------

def random_box(rng):
    lo = rng.uniform(-1, 1, 3)
    return lo, lo + rng.uniform(0.1, 1.5, 3)


@pytest.mark.parametrize("seed", range(25))
def test_axis_aligned_boxes_match_inclusion_exclusion(seed):
    rng = np.random.default_rng(seed)
    (alo, ahi), (blo, bhi) = random_box(rng), random_box(rng)
    va, vb = np.prod(ahi - alo), np.prod(bhi - blo)
    vi = np.prod(np.clip(np.minimum(ahi, bhi) - np.maximum(alo, blo), 0, None))
    a, b = solid(box(*alo, *ahi)), solid(box(*blo, *bhi))
    for op, want in ((algo.fuse, va + vb - vi), (algo.cut, va - vi), (algo.common, vi)):
        r = op(a, b)
        got = signed_volume(r.mesh())
        assert got >= 0.0
        if want == 0.0:
            assert got == 0.0
        else:
            assert rel(got, want) <= 1e-9, (op.__name__, got, want)


def curved_pair(seed):
    rng = np.random.default_rng(1000 + seed)
    makers = [lambda: box(-0.5, -0.5, -0.5, 0.5, 0.5, 0.5),
              lambda: cylinder(24, 0.5, 1.0), lambda: sphere(16, 8, 0.6)]
    shapes = []
    for _ in range(2):
        m = random_rotation(rng) @ np.diag(rng.uniform(0.6, 1.6, 3))
        shapes.append(moved(makers[rng.integers(3)](), m, rng.uniform(-0.3, 0.3, 3)))
    return shapes


def manifold_of(shape):
    import manifold3d as m3d
    v, t = shape
    return m3d.Manifold(m3d.Mesh64(vert_properties=np.asarray(v, dtype=np.float64),
                                   tri_verts=np.asarray(t, dtype=np.uint64)))


@pytest.mark.parametrize("seed", range(12))
def test_rotated_solids_volume_identities_and_peer(seed):
    sa, sb = curved_pair(seed)
    a, b = solid(sa), solid(sb)
    va, vb = a.volume(), b.volume()
    f, c, i = algo.fuse(a, b), algo.cut(a, b), algo.common(a, b)
    vf, vc, vi = (signed_volume(r.mesh()) for r in (f, c, i))
    assert min(vf, vc, vi) >= 0.0
    assert rel(vf + vi, va + vb) <= 1e-9
    assert rel(vc + vi, va) <= 1e-9
    ma, mb = manifold_of(sa), manifold_of(sb)
    for got, peer in ((vf, ma + mb), (vc, ma - mb), (vi, ma ^ mb)):
        assert rel(got, peer.volume()) <= 1e-6


def test_operands_unchanged():
    a, b = solid(sphere(16, 8, 1.0)), solid(moved(cylinder(16, 0.4, 3), offset=(0.2, 0, -1)))
    before = [(m.vertices_flat(), m.triangles_flat()) for m in (a.mesh(), b.mesh())]
    for op in (algo.fuse, algo.cut, algo.common):
        op(a, b)
    algo.fuse_all([a, b])
    assert before == [(m.vertices_flat(), m.triangles_flat()) for m in (a.mesh(), b.mesh())]


# ---- Hostile inputs, each in a child process with a timeout --------------

HOSTILE_PRELUDE = textwrap.dedent("""
    import math, sys
    sys.path.insert(0, {here!r})
    import quorvalind as q
    from solid_shapes import box, cylinder, moved, sphere, to_solid
    def solid(shape): return to_solid(*shape)
    def run_all(a, b):
        for op in (q.algo.fuse, q.algo.cut, q.algo.common):
            for x, y in ((a, b), (b, a), (a, a)):
                r = op(x, y)
                m = r.mesh()
                tris = m.triangles_flat()
                assert len(m.vertices_flat()) == 3 * m.num_vertices
                assert len(tris) == 3 * m.num_triangles
                assert all(0 <= i < m.num_vertices for i in tris)
        q.algo.fuse_all([a, b, a])
""")

HOSTILE = {
    "nan_corner": "v, t = box(0, 0, 0, 1, 1, 1); v[3] = (math.nan, 0, 0)\n"
                  "run_all(to_solid(v, t), solid(box(0.5, 0.5, 0.5, 2, 2, 2)))",
    "inf_corner": "v, t = box(0, 0, 0, 1, 1, 1); v[5] = (math.inf, -math.inf, 1)\n"
                  "run_all(to_solid(v, t), solid(box(0.5, 0.5, 0.5, 2, 2, 2)))",
    "huge": "run_all(solid(moved(cylinder(64, 0.5, 3), offset=(1e15, 0, 0))),"
            " solid(moved(box(0, 0, 0, 1, 1, 1), offset=(1e15, 0, 0))))",
    "far_1e9": "c = solid(moved(cylinder(64, 0.5, 3), offset=(1e9, 0, 0)))\n"
               "run_all(c, solid(moved(cylinder(64, 0.5, 3), offset=(1e9 + 0.3, 0.1, 0))))",
    "huge_scale": "run_all(solid(moved(sphere(12, 6, 1e150))), solid(moved(box(0, 0, 0, 1e150, 1e150, 1e150))))",
    "tiny": "run_all(solid(moved(sphere(12, 6, 1e-150))), solid(moved(box(0, 0, 0, 1e-150, 1e-150, 1e-150))))",
    "tiny_features": "run_all(solid(box(0, 0, 0, 1e-6, 1e-6, 1e-6)), solid(box(5e-7, 5e-7, 5e-7, 2e-6, 2e-6, 2e-6)))",
    "open_mesh": "v, t = box(0, 0, 0, 1, 1, 1)\n"
                 "run_all(to_solid(v, t[:7]), solid(box(0.5, 0.5, 0.5, 2, 2, 2)))",
    "inconsistent_winding": "v, t = box(0, 0, 0, 1, 1, 1); t = [tr if i % 3 else tr[::-1] for i, tr in enumerate(t)]\n"
                            "run_all(to_solid(v, t), solid(sphere(12, 6, 0.8)))",
    "inside_out": "v, t = box(0, 0, 0, 1, 1, 1); t = [tr[::-1] for tr in t]\n"
                  "run_all(to_solid(v, t), solid(box(0.5, 0.5, 0.5, 2, 2, 2)))",
    "shared_faces": "run_all(solid(box(0, 0, 0, 1, 1, 1)), solid(box(1, 0, 0, 2, 1, 1)))\n"
                    "run_all(solid(box(0, 0, 0, 1, 1, 1)), solid(box(0, 0, 0, 1, 1, 2)))",
    "duplicate_triangles": "v, t = box(0, 0, 0, 1, 1, 1)\n"
                           "run_all(to_solid(v, t + t), solid(box(0.5, 0.5, 0.5, 2, 2, 2)))",
    "soup_of_random_triangles": "import random; random.seed(3)\n"
                                "v = [random.uniform(-1, 1) for _ in range(900)]\n"
                                "run_all(to_solid(v, list(range(300))), solid(sphere(12, 6, 0.7)))",
}


@pytest.mark.parametrize("name", sorted(HOSTILE))
def test_hostile_inputs_return(name):
    code = HOSTILE_PRELUDE.format(here=HERE) + HOSTILE[name] + "\nprint('done')\n"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=600 if SANITIZED else 120, env=env)
    assert proc.returncode == 0, proc.stderr[-2000:]
    assert proc.stdout.strip() == "done"


# ---- Ctrl-C -------------------------------------------------------------
#
# The signal is sent only once the boolean is known to be running: the child
# prints a line right before the call, with its number of threads, and the
# call is under way as soon as its csg worker thread adds one. The work, a
# fold of overlapping spheres whose result grows with every step, takes tens
# of seconds on any machine, so it cannot end before the signal arrives;
# the child reports when the exception reached Python.

INTERRUPTED_CHILD = textwrap.dedent("""
    import os, signal, sys, time
    sys.path.insert(0, {here!r})
    import quorvalind as q
    from solid_shapes import box, moved, sphere, to_solid

    class Alarm(Exception):
        pass

    def raise_alarm(signum, frame):
        raise Alarm()

    signal.signal(signal.SIGUSR1, raise_alarm)
    spheres = [to_solid(*moved(sphere(24, 12, 1.0), offset=(0.7 * i, 0.1 * (i % 3), 0)))
               for i in range(12)]
    before = [(s.mesh().vertices_flat(), s.mesh().triangles_flat()) for s in spheres]
    # numpy's import may have started threads of its own: the parent waits
    # for one more than these.
    print("calling", len(os.listdir("/proc/self/task")), flush=True)
    try:
        q.algo.fuse_all(spheres)
    except BaseException as e:
        stopped = time.monotonic()
        unchanged = before == [(s.mesh().vertices_flat(), s.mesh().triangles_flat()) for s in spheres]
        works = q.algo.cut(spheres[0], to_solid(*box(0, 0, 0, 1, 1, 1))).mesh().num_triangles > 0
        print(type(e).__name__, repr(stopped), unchanged, works, flush=True)
    else:
        print("finished", flush=True)
""")


def interrupt_running_boolean(signum):
    """Starts the child, sends `signum` while its fold runs and returns the
    child's report line and the seconds from the signal to the exception."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED_CHILD.format(here=HERE)],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        word, threads = child.stdout.readline().split()
        assert word == "calling"
        tasks = f"/proc/{child.pid}/task"
        deadline = time.monotonic() + 120
        while len(os.listdir(tasks)) <= int(threads):
            assert child.poll() is None and time.monotonic() < deadline, "no worker thread"
            time.sleep(0.001)
        sent = time.monotonic()
        child.send_signal(signum)
        out, err = child.communicate(timeout=300 if SANITIZED else 60)
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert child.returncode == 0, err[-2000:]
    assert out.strip() != "finished", "the fold ended before the signal came"
    name, stopped, unchanged, works = out.split()
    return name, float(stopped) - sent, unchanged == "True", works == "True"


@pytest.mark.parametrize("signum, exception", [(signal.SIGINT, "KeyboardInterrupt"),
                                               (signal.SIGUSR1, "Alarm")],
                         ids=["ctrl_c", "raising_handler"])
def test_signal_stops_a_running_boolean(signum, exception):
    name, latency, unchanged, works = interrupt_running_boolean(signum)
    assert name == exception
    # Signals are checked every 5 ms while the worker runs; the rest is
    # scheduling on a loaded machine.
    assert latency < (10 if SANITIZED else 2)
    assert unchanged and works


# ---- With the module's own builders ---------------------------------------

def test_builder_solids():
    from quorvalind import Pnt, Trsf
    box = q.prim.make_box(Pnt(0, 0, 0), 2, 2, 2)
    cyl = q.builder.transform(q.prim.make_cylinder(0.5, 3), Trsf.translation(Pnt(1, 1, -0.5)))
    hole = q.prim.make_cylinder(0.5, 2).volume()  # the part of the cylinder inside the box
    r = algo.cut(box, cyl)
    assert rel(r.volume(), 8.0 - hole) <= 1e-12
    check_oriented(r.mesh())
    assert rel(algo.common(box, cyl).volume(), hole) <= 1e-12
    assert rel(algo.fuse(box, cyl).volume(), 8.0 + cyl.volume() - hole) <= 1e-12
    # The welded result shares vertices: far fewer than three per triangle.
    v, t = counts(r)
    assert v < t
