#pragma once
#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// The last step of every builder: weld at the builder tolerance, then
// reverse every triangle when the signed volume is negative (NaN keeps it).
mesh::TriMesh finish_mesh(const mesh::TriMesh& pushed);

}  // namespace quorvalind::brep_prim_api
