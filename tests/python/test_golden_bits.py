"""Boolean results fixed to the bit: the SHA-256 of the exact vertex and
triangle bytes of a few booleans whose cutting planes pass through vertices,
edges and faces of the other operand, and of a fold over several solids.

The digests are the same on every machine and for both forms of the plane
classification (SSE2 and scalar): CI runs this file against the scalar build
too (tools/check_scalar.sh). A change of any digest is a change of results.
"""
import hashlib

import pytest

import quorvalind as q
import quorvalind.extras as extras


def _moved(solid, x, y, z):
    return q.transform(solid, q.Trsf.translation(q.Pnt(x, y, z)))


def _turned(solid, angle):
    return q.transform(solid, q.Trsf.rotation(q.Ax1(q.Pnt(0, 0, 0), q.Pnt(1, 1, 0)), angle))


MP = q.MeshParams(24, 12)
CASES = {
    "sphere-cut-cylinder": lambda: q.cut(
        q.make_sphere(1.0, MP), _moved(q.make_cylinder(0.4, 3.0, MP), 0.1, 0.2, -1.5)),
    "box-fuse-turned-box": lambda: q.fuse(
        q.make_box(q.Pnt(0, 0, 0), 1, 1, 1), _turned(q.make_box(q.Pnt(0.5, 0.5, 0.5), 1, 1, 1), 0.3)),
    "torus-common-sphere": lambda: q.common(
        q.make_torus(1.0, 0.35, MP), _moved(q.make_sphere(0.8, MP), 1.0, 0.0, 0.1)),
    "cone-cut-flush-box": lambda: q.cut(
        q.make_cone(1.0, 0.2, 2.0, MP), q.make_box(q.Pnt(0, -2, 0), 2, 4, 1)),
    "fuse_all-of-four": lambda: q.fuse_all(
        [_moved(q.make_sphere(0.5, MP), 0.3 * i, 0.1 * i, 0.05 * i) for i in range(4)]),
}

EXPECTED = {
    "sphere-cut-cylinder": "74b8f20776001c5fd82d7c2a45a6bcaf6588c7f53d026d0765f33b5ff969d690",
    "box-fuse-turned-box": "3a7769b6ad6b64ff84df31080fdfbfe0ef0d6a90d888a037757de09b5fdd47aa",
    "torus-common-sphere": "220ec49730d950963fdfcc4259d56d417122a0c783aa2285e76024992a1dde5d",
    "cone-cut-flush-box": "40cc61e5f8e0b49a0bf772acc75e197aace8538f76dea6d890f363be6f7958a4",
    "fuse_all-of-four": "4f7364db9c4063678577026c8901d2362a65515ac97e2a744eec76bf59d8e01d",
}


def digest(solid):
    vertices, triangles = extras.mesh_buffers(solid.mesh())
    return hashlib.sha256(vertices + triangles).hexdigest()


@pytest.mark.parametrize("name", list(CASES))
def test_boolean_bits(name):
    solid = CASES[name]()
    assert solid.mesh().num_triangles > 0
    assert digest(solid) == EXPECTED[name]
