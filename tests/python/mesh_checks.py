"""Invariant checks shared by every builder and boolean test."""
from collections import Counter


def triangles_of(mesh):
    flat = mesh.triangles_flat()
    return [tuple(flat[i:i + 3]) for i in range(0, len(flat) - 2, 3)]


def vertices_of(mesh):
    flat = mesh.vertices_flat()
    return [tuple(flat[i:i + 3]) for i in range(0, len(flat) - 2, 3)]


def signed_volume(mesh, rounding=None):
    """Same summation order as the module: a . (b x c), summed, then / 6.

    With `rounding`, each coordinate goes through it first (as a file stores it)."""
    v = vertices_of(mesh)
    if rounding is not None:
        v = [tuple(rounding(c) for c in p) for p in v]
    total = 0.0
    for i, j, k in triangles_of(mesh):
        a, b, c = v[i], v[j], v[k]
        wx = b[1] * c[2] - b[2] * c[1]
        wy = b[2] * c[0] - b[0] * c[2]
        wz = b[0] * c[1] - b[1] * c[0]
        total += (a[0] * wx + a[1] * wy) + a[2] * wz
    return total / 6.0


def unmatched_edges(mesh):
    """Directed edges whose reverse is missing (with multiplicity)."""
    edges = Counter()
    for i, j, k in triangles_of(mesh):
        for a, b in ((i, j), (j, k), (k, i)):
            edges[(a, b)] += 1
    bad = []
    for (a, b), n in edges.items():
        if edges.get((b, a), 0) != n:
            bad.append((a, b))
    return bad


def check_closed(mesh):
    """Every directed edge matched by its reverse, and the volume not negative."""
    bad = unmatched_edges(mesh)
    assert not bad, f"{len(bad)} unmatched directed edges, e.g. {bad[:5]}"
    assert signed_volume(mesh) >= 0.0


def check_oriented(mesh):
    """For results that keep T-junctions: only orientation is checked."""
    assert signed_volume(mesh) >= 0.0
