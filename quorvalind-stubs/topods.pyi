from typing import final

from .gp import Pnt
from .mesh import TriMesh

__all__ = ["Vertex", "Wire", "Face", "Compound", "Solid"]

@final
class Vertex:
    def __new__(cls, p: Pnt) -> Vertex: ...
    @property
    def point(self) -> Pnt: ...

# Wire, Face, Compound and Solid have no constructor: builders make them.
@final
class Wire: ...

@final
class Face: ...

@final
class Compound: ...

@final
class Solid:
    def volume(self) -> float: ...
    def mesh(self) -> TriMesh: ...
