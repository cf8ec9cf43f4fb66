# Additions beyond the module tree; entered in sys.modules only.
from .topods import Solid

__all__ = ["simplify"]

def simplify(solid: Solid) -> Solid: ...
