from typing import final

__all__ = ["TriMesh", "BBox"]

@final
class TriMesh:
    @property
    def num_vertices(self) -> int: ...
    @property
    def num_triangles(self) -> int: ...
    def volume(self) -> float: ...
    def vertices_flat(self) -> list[float]:
        """Flat `[x0, y0, z0, x1, y1, z1, ...]` vertex buffer."""
    def triangles_flat(self) -> list[int]:
        """Flat `[i0, j0, k0, i1, j1, k1, ...]` triangle index buffer."""

@final
class BBox:
    def volume(self) -> float: ...
