"""Booleans on several threads give the bytes of the one-thread run: each
process below runs the same large booleans (large enough for the skipping
engine, whose steps split over threads) with QUORVALIND_THREADS set, and
prints the digests of their binary STL files."""
import os
import subprocess
import sys
import textwrap

import pytest

import quorvalind.extras as extras

SCRIPT = textwrap.dedent("""
    import hashlib
    import quorvalind as q
    import quorvalind.extras as extras

    def moved(s, x, y, z):
        return q.transform(s, q.Trsf.translation(q.Pnt(x, y, z)))

    mp = q.MeshParams(64, 32)
    a = q.make_sphere(1.0, mp)
    b = moved(q.make_sphere(1.0, mp), 0.5, 0.3, 0.2)
    torus = q.make_torus(1.0, 0.4, q.MeshParams(96, 48))
    cyl = q.MeshParams(48, 24)
    grid = [moved(q.make_cylinder(0.5, 1.0, cyl), 0.8 * i, 0.8 * j, 0)
            for i in range(3) for j in range(3)]
    results = [q.fuse(a, b), q.cut(a, b), q.common(a, torus), q.cut(torus, b),
               q.fuse_all(grid)]
    print(extras.threads())
    for r in results:
        data = q.write_binary_stl(r.mesh())
        print(len(data), hashlib.sha256(data).hexdigest())
""")


def run_with_threads(threads):
    env = dict(os.environ)
    if threads is None:
        env.pop("QUORVALIND_THREADS", None)
    else:
        env["QUORVALIND_THREADS"] = str(threads)
    r = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True,
                       env=env, timeout=300)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.split("\n")
    return int(lines[0]), lines[1:]


@pytest.mark.parametrize("threads", [None, 2, 3])
def test_stl_bytes_same_as_on_one_thread(threads):
    count, one = run_with_threads(1)
    assert count == 1
    assert len(one) == 6 and all(int(line.split()[0]) > 84 for line in one[:5])
    count, many = run_with_threads(threads)
    if threads is not None:
        assert count == threads
    assert many == one


def test_set_threads_overrides_and_zero_restores_the_default():
    default = extras.threads()
    assert default >= 1
    try:
        extras.set_threads(3)
        assert extras.threads() == 3
        extras.set_threads(10**6)  # capped, not refused
        assert 3 < extras.threads() < 10**6
    finally:
        extras.set_threads(0)
    assert extras.threads() == default
    with pytest.raises((TypeError, ValueError, OverflowError)):
        extras.set_threads(-1)
