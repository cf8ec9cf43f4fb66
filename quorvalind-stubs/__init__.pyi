from . import algo as algo
from . import builder as builder
from . import gp as gp
from . import io as io
from . import mesh as mesh
from . import prim as prim
from . import topods as topods
from .algo import common as common
from .algo import cut as cut
from .algo import fuse as fuse
from .algo import fuse_all as fuse_all
from .builder import make_face as make_face
from .builder import make_face_with_holes as make_face_with_holes
from .builder import make_polygon as make_polygon
from .builder import solid_from_mesh as solid_from_mesh
from .builder import transform as transform
from .gp import Ax1 as Ax1
from .gp import Pnt as Pnt
from .gp import Point3 as Point3
from .gp import Trsf as Trsf
from .gp import Vec3 as Vec3
from .io import write_ascii_stl as write_ascii_stl
from .io import write_binary_stl as write_binary_stl
from .io import write_step as write_step
from .mesh import BBox as BBox
from .mesh import TriMesh as TriMesh
from .prim import MeshParams as MeshParams
from .prim import make_box as make_box
from .prim import make_box_centered_xy as make_box_centered_xy
from .prim import make_cone as make_cone
from .prim import make_cylinder as make_cylinder
from .prim import make_prism as make_prism
from .prim import make_revol as make_revol
from .prim import make_sphere as make_sphere
from .prim import make_torus as make_torus
from .topods import Compound as Compound
from .topods import Face as Face
from .topods import Solid as Solid
from .topods import Vertex as Vertex
from .topods import Wire as Wire

__all__ = [
    "Pnt", "Ax1", "Trsf", "Vertex", "Wire", "Face", "Compound", "Solid", "TriMesh", "BBox",
    "MeshParams", "Vec3", "Point3",
    "make_box", "make_box_centered_xy", "make_cylinder", "make_cone", "make_sphere",
    "make_torus", "make_prism", "make_revol",
    "make_polygon", "make_face", "make_face_with_holes", "transform", "solid_from_mesh",
    "fuse", "cut", "common", "fuse_all",
    "write_binary_stl", "write_ascii_stl", "write_step",
    "gp", "topods", "mesh", "prim", "builder", "algo", "io", "__version__",
]
__version__: str
