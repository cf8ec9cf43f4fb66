"""The corpus of third-party meshes and the six operations run on each.

Shared by tests/python/test_corpus.py and bench/bench_corpus.py. The corpus
lives beside the repository, in ../shared/corpus, as CI has it; the meshes
are read here (STL binary or ASCII, OBJ `v` and `f` lines) with vertices
equal to 8 decimals merged, as trimesh loads them.
"""
import math
import os
import struct

import numpy as np

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
CORPUS = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))

OPERATIONS = ["cut_half", "fuse_sphere", "fuse_cylinder", "common_rotated", "cut_shifted",
              "cut_far"]


def corpus_files():
    if not os.path.isdir(CORPUS):
        return []
    return sorted(f for f in os.listdir(CORPUS)
                  if f.lower().endswith((".stl", ".obj")))


def _stl_triangles(data):
    n = struct.unpack_from("<I", data, 80)[0] if len(data) >= 84 else -1
    if len(data) == 84 + 50 * n:
        rec = np.frombuffer(data, dtype=np.dtype([("n", "<f4", 3), ("v", "<f4", (3, 3)),
                                                  ("a", "<u2")]), offset=84, count=n)
        return rec["v"].astype(float)
    corners = [line.split()[1:4] for line in data.decode("ascii", "replace").splitlines()
               if line.strip().startswith("vertex")]
    return np.array(corners, dtype=float).reshape(-1, 3, 3)


def _obj_mesh(text):
    v, t = [], []
    for line in text.splitlines():
        s = line.split()
        if not s:
            continue
        if s[0] == "v":
            v.append([float(x) for x in s[1:4]])
        elif s[0] == "f":
            idx = [int(x.split("/")[0]) for x in s[1:]]
            idx = [i - 1 if i > 0 else len(v) + i for i in idx]
            t += [(idx[0], idx[k], idx[k + 1]) for k in range(1, len(idx) - 1)]
    return np.array(v, dtype=float), np.array(t, dtype=np.int64)


def _merged(v, t):
    """Vertices equal to 8 decimals merged (as trimesh loads them), keeping
    the first one's coordinates; triangles that collapse and unused vertices
    dropped."""
    _, first, inverse = np.unique(np.round(v * 1e8), axis=0, return_index=True,
                                  return_inverse=True)
    t = inverse.reshape(-1)[t]
    t = t[(t[:, 0] != t[:, 1]) & (t[:, 1] != t[:, 2]) & (t[:, 2] != t[:, 0])]
    used, t = np.unique(t, return_inverse=True)
    return v[first[used]], t.reshape(-1, 3).astype(np.int64)


def read_mesh(name):
    """(vertices (n, 3) float, triangles (m, 3) int) of a corpus file."""
    path = os.path.join(CORPUS, name)
    with open(path, "rb") as f:
        data = f.read()
    if name.lower().endswith(".obj"):
        return _merged(*_obj_mesh(data.decode("utf-8", "replace")))
    corners = _stl_triangles(data).reshape(-1, 3)
    return _merged(corners, np.arange(len(corners), dtype=np.int64).reshape(-1, 3))


def normalised(name, size):
    """The mesh centred on the origin with its largest bounding-box extent
    equal to `size`."""
    v, t = read_mesh(name)
    lo, hi = v.min(axis=0), v.max(axis=0)
    return (v - (lo + hi) / 2) * (size / float((hi - lo).max())), t


def _rotation(axis, angle):
    x, y, z = np.asarray(axis, dtype=float) / np.linalg.norm(axis)
    c, s = math.cos(angle), math.sin(angle)
    return np.array([
        [c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s],
        [y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s],
        [z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)],
    ])


def operands(name, size):
    """{operation: (kind, a, b)} with a and b as (vertices, triangles)."""
    from solid_shapes import box, cylinder, moved, sphere
    a = normalised(name, size)
    v, t = a
    h = size  # every operand is placed relative to the part's largest extent
    half = moved(box(0.0, -h, -h, h, h, h), offset=(0.0123 * h, 0.0, 0.0))
    ball = moved(sphere(32, 16, 0.3 * h), offset=(0.31 * h, 0.27 * h, 0.23 * h))
    rod = moved(cylinder(32, 0.17 * h, 1.6 * h), offset=(0.07 * h, -0.11 * h, -0.8 * h))
    rotated = (v @ _rotation((1.0, 2.0, 3.0), 0.3).T, t)
    shifted = (v + np.array([0.061, 0.043, 0.029]) * h, t)
    far = box(2 * h, 2 * h, 2 * h, 2.5 * h, 2.5 * h, 2.5 * h)
    return {
        "cut_half": ("cut", a, half),
        "fuse_sphere": ("fuse", a, ball),
        "fuse_cylinder": ("fuse", a, rod),
        "common_rotated": ("common", a, rotated),
        "cut_shifted": ("cut", a, shifted),
        "cut_far": ("cut", a, far),
    }


def manifold_volume(kind, a, b):
    import manifold3d as m3d

    def manifold(mesh):
        v, t = mesh
        return m3d.Manifold(m3d.Mesh64(vert_properties=np.ascontiguousarray(v, dtype=np.float64),
                                       tri_verts=np.ascontiguousarray(t, dtype=np.uint64)))
    ma, mb = manifold(a), manifold(b)
    r = {"cut": ma - mb, "fuse": ma + mb, "common": ma ^ mb}[kind]
    return r.volume()


def solid(mesh):
    import quorvalind as q
    v, t = mesh
    return q.builder.solid_from_mesh(np.asarray(v, dtype=float).ravel().tolist(),
                                     np.asarray(t, dtype=np.int64).ravel().tolist())


def area_and_openness(mesh):
    """The surface area, and |sum of area-weighted normals| / area: 0 for a
    closed surface, up to rounding, whatever its T-junctions."""
    v = np.array(mesh.vertices_flat(), dtype=float).reshape(-1, 3)
    t = np.array(mesh.triangles_flat(), dtype=np.int64).reshape(-1, 3)
    if len(t) == 0:
        return 0.0, 0.0
    n = np.cross(v[t[:, 1]] - v[t[:, 0]], v[t[:, 2]] - v[t[:, 0]])
    twice = np.linalg.norm(n, axis=1).sum()
    return float(twice / 2), float(np.linalg.norm(n.sum(axis=0)) / twice)


def edge_manifold_closed(mesh):
    """True when every directed edge occurs once and its reverse once: a
    closed, edge-manifold surface without T-junctions."""
    t = np.array(mesh.triangles_flat(), dtype=np.int64).reshape(-1, 3)
    if len(t) == 0:
        return True
    e = np.concatenate([t[:, [0, 1]], t[:, [1, 2]], t[:, [2, 0]]])
    n = int(t.max()) + 1
    directed = e[:, 0] * n + e[:, 1]
    if len(np.unique(directed)) != len(directed):
        return False
    return bool(np.isin(e[:, 1] * n + e[:, 0], directed).all())


def simplify_function():
    """quorvalind.extras.simplify where the module has it, else None."""
    try:
        from quorvalind.extras import simplify
    except ImportError:
        return None
    return simplify


def run_mesh(name, size, ops=OPERATIONS, with_manifold=True, simplified=False):
    """Runs the operations on one mesh; returns their measures (and a digest
    of each result's buffers, to compare builds bit for bit)."""
    import hashlib
    import time

    import quorvalind as q
    cases = operands(name, size)
    simplify = simplify_function() if simplified else None
    rows = []
    for op in ops:
        kind, a, b = cases[op]
        sa, sb = solid(a), solid(b)
        fn = {"cut": q.cut, "fuse": q.fuse, "common": q.common}[kind]
        start = time.perf_counter()
        r = fn(sa, sb)
        elapsed = time.perf_counter() - start
        m = r.mesh()
        digest = hashlib.sha256(np.array(m.vertices_flat(), dtype=float).tobytes() +
                                np.array(m.triangles_flat(), dtype=np.int64).tobytes())
        row = {"name": name, "op": op, "size": size, "volume": r.volume(),
               "input_volume": sa.volume(), "triangles": m.num_triangles,
               "input_triangles": sa.mesh().num_triangles, "seconds": elapsed,
               "digest": digest.hexdigest()[:16]}
        row["area"], row["openness"] = area_and_openness(m)
        if with_manifold:
            start = time.perf_counter()
            row["manifold_volume"] = manifold_volume(kind, a, b)
            row["manifold_seconds"] = time.perf_counter() - start
        if simplify is not None:
            row["simplified_closed"] = edge_manifold_closed(simplify(r).mesh())
        rows.append(row)
    return rows


if __name__ == "__main__":
    # python corpus_ops.py NAME SIZE [OP,OP...] [--no-manifold] [--simplified]:
    # the measures as JSON, one line.
    import json
    import sys
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    ops = args[2].split(",") if len(args) > 2 else OPERATIONS
    print(json.dumps(run_mesh(args[0], float(args[1]), ops, "--no-manifold" not in sys.argv,
                              "--simplified" in sys.argv)))
