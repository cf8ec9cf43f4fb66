#pragma once
#include "gp/pnt.h"
#include "mesh/tri_mesh.h"
#include "topods/shapes.h"

namespace quorvalind::brep_prim_api {

// Extrudes a planar face, holes included, along vec: two caps from the face
// triangulation and two wall triangles per wire edge, then welded and turned
// outward. A zero vec leaves a double-sided sheet of volume 0; vec in the
// face plane gives volume 0; an outer wire of fewer than 3 points gives walls
// only, an open mesh.
mesh::TriMesh make_prism(const topods::Face& face, const gp::Pnt& vec);

}  // namespace quorvalind::brep_prim_api
