#pragma once
// Axis-aligned boxes: 8 vertices and 12 triangles for non-zero finite sizes.
#include "gp/pnt.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// Box from `corner` towards +x, +y, +z by |dx|, |dy|, |dz|. A zero size gives
// a flat mesh (coincident corners weld, collapsed triangles drop); NaN and
// infinite sizes flow into the coordinates.
mesh::TriMesh make_box(const gp::Pnt& corner, double dx, double dy, double dz);

// Box centred on `center` in x and y (w along x, h along y), bottom face at
// center.z, height |d|. The corner uses the signed w and h, the box their
// magnitudes, so a negative w moves the whole box to the +x side.
mesh::TriMesh make_box_centered_xy(const gp::Pnt& center, double w, double h, double d);

}  // namespace quorvalind::brep_prim_api
