# Additions beyond the module tree; entered in sys.modules only.
from typing import Iterable, SupportsBytes, SupportsIndex, Union

from typing_extensions import Buffer, TypeAlias

from .mesh import TriMesh
from .topods import Solid

__all__ = ["simplify", "set_threads", "threads", "mesh_buffers", "solid_from_buffers"]

# Whatever bytes() takes: buffers (bytes, bytearray, memoryview, numpy
# arrays), objects with __bytes__, iterables of small ints.
_Bytes: TypeAlias = Union[Buffer, SupportsBytes, Iterable[SupportsIndex]]

def simplify(solid: Solid) -> Solid: ...
def set_threads(count: int) -> None:
    """How many threads a boolean may use; 0: the default (QUORVALIND_THREADS,
    else the processors available). Results do not depend on it."""
def threads() -> int: ...
def mesh_buffers(mesh: TriMesh) -> tuple[bytes, bytes]:
    """The mesh's vertices and triangles as two bytes objects: little-endian
    float64 x, y, z per vertex and uint64 i, j, k per triangle."""
def solid_from_buffers(vertices: _Bytes, triangles: _Bytes) -> Solid:
    """A solid from two flat arrays laid out as mesh_buffers() returns them."""
