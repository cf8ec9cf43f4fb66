"""Coverage-guided fuzz target: solid_from_mesh, the booleans and the writers.

    python tests/fuzz/fuzz_mesh.py [libFuzzer flags] [CORPUS_DIR ...]

Run through tools/fuzz.sh, which builds the extension with native coverage
instrumentation and starts from the seeds in tests/fuzz/corpus. Each input decodes into two raw meshes
(coordinates drawn from edge values or raw doubles, indices in range or wild),
one boolean and the three writers on its result. Every call must return or
raise InternalFaultError (bad indices) or MemoryError; anything else, a
crash, or a hang past libFuzzer's -timeout is a finding.
"""
import math
import struct
import sys

import atheris

with atheris.instrument_imports():
    import quorvalind as q
    from quorvalind.errors import InternalFaultError

EDGE = [0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-7, 1e-6, 5e-7, 1e-12, 5e-324, 1e300, -1e300,
        math.inf, -math.inf, math.nan, 3.0, 0.25, 1.0 + 1e-9]
ALLOWED = (InternalFaultError, MemoryError)
MAX_VERTICES = 16
MAX_TRIANGLES = 24


def _coordinate(fdp):
    mode = fdp.ConsumeIntInRange(0, 3)
    if mode == 0:
        return EDGE[fdp.ConsumeIntInRange(0, len(EDGE) - 1)]
    if mode == 1:
        return float(fdp.ConsumeIntInRange(-4, 4))
    if mode == 2:
        return fdp.ConsumeIntInRange(-64, 64) / 16.0
    return struct.unpack("<d", fdp.ConsumeBytes(8).ljust(8, b"\0"))[0]


def _index(fdp, nv):
    if fdp.ConsumeIntInRange(0, 15) == 0:
        return [nv, 2**32, 2**64 - 1][fdp.ConsumeIntInRange(0, 2)]
    return fdp.ConsumeIntInRange(0, max(nv - 1, 0))


def _solid(fdp):
    kind = fdp.ConsumeIntInRange(0, 4)
    if kind == 0:
        return q.make_box(q.Pnt(_coordinate(fdp), _coordinate(fdp), _coordinate(fdp)),
                          _coordinate(fdp), _coordinate(fdp), _coordinate(fdp))
    if kind == 1:
        return q.make_sphere(_coordinate(fdp), q.MeshParams(fdp.ConsumeIntInRange(0, 16),
                                                            fdp.ConsumeIntInRange(0, 8)))
    nv = fdp.ConsumeIntInRange(0, MAX_VERTICES)
    verts = [_coordinate(fdp) for _ in range(3 * nv)]
    nt = fdp.ConsumeIntInRange(0, MAX_TRIANGLES)
    tris = [_index(fdp, nv) for _ in range(3 * nt)]
    return q.solid_from_mesh(verts, tris)


def _check_writers(mesh):
    stl = q.write_binary_stl(mesh)
    count = struct.unpack_from("<I", stl, 80)[0]
    assert len(stl) == 84 + 50 * count, "binary STL size disagrees with its count"
    assert stl.startswith(b"Quorvalind binary STL")
    text = q.write_ascii_stl(mesh, "fuzz")
    assert text.startswith("solid fuzz") and text.rstrip().endswith("endsolid fuzz")
    step = q.write_step(mesh, "fuzz")
    assert step.startswith("ISO-10303-21;") and step.rstrip().endswith("END-ISO-10303-21;")


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    try:
        a = _solid(fdp)
        b = _solid(fdp)
        op = fdp.ConsumeIntInRange(0, 3)
        if op == 0:
            r = q.cut(a, b)
        elif op == 1:
            r = q.fuse(a, b)
        elif op == 2:
            r = q.common(a, b)
        else:
            r = q.fuse_all([a, b, a])
        r.volume()
        _check_writers(r.mesh())
    except ALLOWED:
        pass


def main():
    # The decoding paths count as coverage too: without a native build they
    # are all the search has to follow.
    g = globals()
    for name in ("_coordinate", "_index", "_solid", "_check_writers", "test_one_input"):
        g[name] = atheris.instrument_func(g[name])
    atheris.Setup(sys.argv, g["test_one_input"])
    atheris.Fuzz()


if __name__ == "__main__":
    main()
