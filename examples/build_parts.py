"""Builds a few parts with quorvalind, prints their measures and writes them.

Usage: python examples/build_parts.py [OUTPUT_DIR]   (default: out)
"""
import math
import os
import sys

import quorvalind as q
from quorvalind import Pnt, Trsf, Ax1


def tetrahedron():
    """A solid straight from raw buffers: four corners, four outward triangles."""
    vertices = [0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1]
    triangles = [0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3]
    return q.solid_from_mesh(vertices, triangles)


def main(argv):
    out_dir = argv[1] if len(argv) > 1 else "out"
    os.makedirs(out_dir, exist_ok=True)

    p = Pnt(1, 2, 3)
    turn = Trsf.rotation(Ax1(Pnt(0, 0, 0), Pnt(0, 0, 1)), math.pi / 2)
    move = turn.then(Trsf.translation(Pnt(10, 0, 0)))
    print("point", p, "turned and moved:", move.apply_point(p))

    tet = tetrahedron()
    print("tetrahedron", tet, "volume", tet.volume(), tet.mesh())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
