#include "brep_prim_api/finish.h"

#include <utility>

#include "gp/tolerances.h"

namespace quorvalind::brep_prim_api {

mesh::TriMesh finish_mesh(const mesh::TriMesh& pushed) {
  mesh::TriMesh out = mesh::welded(pushed, gp::BUILDER_WELD_TOLERANCE);
  if (mesh::signed_volume(out) < 0.0) {
    for (mesh::Triangle& t : out.triangles) std::swap(t[1], t[2]);
  }
  return out;
}

}  // namespace quorvalind::brep_prim_api
