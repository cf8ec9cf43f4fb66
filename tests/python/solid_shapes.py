"""Closed, outward-wound test solids built from flat buffers, so the boolean
tests do not depend on the primitive builders. Indexed meshes (shared
vertices), optionally moved by an affine map x -> M x + t."""
import math

import numpy as np

import quorvalind as q


def to_solid(vertices, triangles):
    v = np.asarray(vertices, dtype=float).reshape(-1, 3)
    t = np.asarray(triangles, dtype=np.int64).reshape(-1, 3)
    return q.builder.solid_from_mesh(v.ravel().tolist(), t.ravel().tolist())


def mesh_arrays(solid):
    m = solid.mesh()
    v = np.array(m.vertices_flat(), dtype=float).reshape(-1, 3)
    t = np.array(m.triangles_flat(), dtype=np.int64).reshape(-1, 3)
    return v, t


def box(x0, y0, z0, x1, y1, z1):
    """Corners A, D, C, B, E, F, G, H and the twelve outward triangles."""
    v = [(x0, y0, z0), (x0, y1, z0), (x1, y1, z0), (x1, y0, z0),
         (x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)]
    t = [(0, 1, 2), (0, 2, 3), (4, 5, 6), (4, 6, 7), (0, 3, 5), (0, 5, 4),
         (3, 2, 6), (3, 6, 5), (2, 1, 7), (2, 7, 6), (1, 0, 4), (1, 4, 7)]
    return v, t


def cylinder(n, r, h):
    """n-segment prism about the z axis from z = 0 to z = h."""
    v = []
    for j in range(n):
        a = j * 2 * math.pi / n
        v.append((r * math.cos(a), r * math.sin(a), 0.0))
    for j in range(n):
        a = j * 2 * math.pi / n
        v.append((r * math.cos(a), r * math.sin(a), h))
    v += [(0.0, 0.0, 0.0), (0.0, 0.0, h)]
    c0, c1 = 2 * n, 2 * n + 1
    t = []
    for i in range(n):
        k = (i + 1) % n
        t += [(i, k, n + k), (i, n + k, n + i), (c0, k, i), (c1, n + i, n + k)]
    return v, t


def sphere(n, m, r):
    """n longitudes, m latitude bands, poles on the z axis."""
    v = [(0.0, 0.0, r)]
    for c in range(1, m):
        phi = c * math.pi / m
        for j in range(n):
            a = j * 2 * math.pi / n
            v.append((r * math.sin(phi) * math.cos(a), r * math.sin(phi) * math.sin(a),
                      r * math.cos(phi)))
    v.append((0.0, 0.0, -r))
    south = len(v) - 1

    def ring(c, j):
        return 1 + (c - 1) * n + j % n

    t = []
    for j in range(n):
        t.append((0, ring(1, j), ring(1, j + 1)))
        t.append((south, ring(m - 1, j + 1), ring(m - 1, j)))
    for c in range(1, m - 1):
        for j in range(n):
            a, b = ring(c, j), ring(c, j + 1)
            d, e = ring(c + 1, j + 1), ring(c + 1, j)
            t += [(a, e, d), (a, d, b)]
    return v, t


def torus(n, major, minor):
    v = []
    for a in range(n):
        u = a * 2 * math.pi / n
        for i in range(n):
            w = i * 2 * math.pi / n
            rho = math.cos(w) * minor + major
            v.append((math.cos(u) * rho, math.sin(u) * rho, math.sin(w) * minor))
    t = []
    for a in range(n):
        for i in range(n):
            a1, i1 = (a + 1) % n, (i + 1) % n
            p, q_, r_, s = a * n + i, a1 * n + i, a1 * n + i1, a * n + i1
            t += [(p, q_, r_), (p, r_, s)]
    return v, t


def moved(shape, matrix=None, offset=(0.0, 0.0, 0.0)):
    """Applies x -> M x + t; a mirror (det < 0) flips the winding back."""
    v, t = shape
    v = np.asarray(v, dtype=float)
    t = np.asarray(t, dtype=np.int64)
    if matrix is not None:
        matrix = np.asarray(matrix, dtype=float)
        v = v @ matrix.T
        if np.linalg.det(matrix) < 0:
            t = t[:, [0, 2, 1]]
    return v + np.asarray(offset, dtype=float), t


def random_rotation(rng):
    qv = rng.normal(size=4)
    w, x, y, z = qv / np.linalg.norm(qv)
    return np.array([
        [1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
        [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
        [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)],
    ])
