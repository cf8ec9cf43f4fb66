from typing import Optional, SupportsFloat, SupportsIndex, Union, final

from typing_extensions import TypeAlias

from .gp import Ax1, Pnt
from .topods import Face, Solid, Wire

__all__ = [
    "MeshParams",
    "make_box",
    "make_box_centered_xy",
    "make_cylinder",
    "make_cone",
    "make_sphere",
    "make_torus",
    "make_prism",
    "make_revol",
]

# A number is anything the float conversion takes: __float__ or __index__.
_Number: TypeAlias = Union[SupportsFloat, SupportsIndex]
# A count is anything with __index__ whose value lies in 0 to 2**64 - 1.
_Count: TypeAlias = SupportsIndex

@final
class MeshParams:
    def __new__(cls, circle_segments: _Count = 64, lat_segments: _Count = 32) -> MeshParams: ...
    @property
    def circle_segments(self) -> int: ...
    @property
    def lat_segments(self) -> int: ...

def make_box(corner: Pnt, dx: _Number, dy: _Number, dz: _Number) -> Solid: ...
def make_box_centered_xy(center: Pnt, w: _Number, h: _Number, d: _Number) -> Solid: ...
def make_cylinder(r: _Number, h: _Number, mp: Optional[MeshParams] = None) -> Solid: ...
def make_cone(r1: _Number, r2: _Number, h: _Number, mp: Optional[MeshParams] = None) -> Solid: ...
def make_sphere(r: _Number, mp: Optional[MeshParams] = None) -> Solid: ...
def make_torus(major: _Number, minor: _Number, mp: Optional[MeshParams] = None) -> Solid: ...
def make_prism(face: Face, vec: Pnt) -> Solid: ...
def make_revol(wire: Wire, axis: Ax1, angle: _Number, mp: Optional[MeshParams] = None) -> Solid: ...
