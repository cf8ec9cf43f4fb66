from typing import Sequence, SupportsFloat, SupportsIndex, Union

from typing_extensions import TypeAlias

from .gp import Pnt, Trsf
from .topods import Face, Solid, Wire

__all__ = ["make_polygon", "make_face", "make_face_with_holes", "transform", "solid_from_mesh"]

# A number is anything the float conversion takes: __float__ or __index__.
_Number: TypeAlias = Union[SupportsFloat, SupportsIndex]
# A count is anything with __index__ whose value lies in 0 to 2**64 - 1.
_Count: TypeAlias = SupportsIndex

def make_polygon(points: Sequence[Pnt]) -> Wire: ...
def make_face(outer: Wire) -> Face: ...
def make_face_with_holes(outer: Wire, holes: Sequence[Wire]) -> Face: ...
def transform(solid: Solid, t: Trsf) -> Solid: ...
def solid_from_mesh(vertices_flat: Sequence[_Number], triangles_flat: Sequence[_Count]) -> Solid:
    """Build a solid directly from a triangle soup — flat vertex buffer
    `[x0,y0,z0, ...]` and flat index buffer `[i0,j0,k0, ...]`. Used by callers
    (e.g. the brelmont loft/sweep pass) that assemble a mesh themselves."""
