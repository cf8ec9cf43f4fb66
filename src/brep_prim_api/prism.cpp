#include "brep_prim_api/prism.h"

#include <vector>

#include "brep_prim_api/finish.h"
#include "brep_prim_api/soup.h"
#include "tess/triangulate.h"

namespace quorvalind::brep_prim_api {

namespace {

using gp::Pnt;

// Two triangles per edge of the closed wire; their winding faces out of the
// material where the wire runs counter-clockwise around n.
void push_walls(mesh::TriMesh& m, const std::vector<Pnt>& w, const Pnt& v, bool reversed) {
  const std::size_t k = w.size();
  for (std::size_t i = 0; i < k; ++i) {
    const Pnt& wi = w[i];
    const Pnt& wj = w[i + 1 < k ? i + 1 : 0];
    const Pnt wi1 = gp::add(wi, v);
    const Pnt wj1 = gp::add(wj, v);
    if (reversed) {
      mesh::push_triangle(m, wi, wj1, wj);
      mesh::push_triangle(m, wi, wi1, wj1);
    } else {
      mesh::push_triangle(m, wi, wj, wj1);
      mesh::push_triangle(m, wi, wj1, wi1);
    }
  }
}

}  // namespace

mesh::TriMesh make_prism(const topods::Face& face, const gp::Pnt& vec) {
  const Pnt n = topods::normal(face.outer);
  const double d = gp::dot(n, vec);
  // NaN counts as d >= 0.
  const bool reversed = d < 0.0;
  const std::vector<tess::Triangle3> caps = tess::triangulate_face(face);

  std::uint64_t wall_points = face.outer.points.size();
  for (const topods::Wire& h : face.holes) wall_points = checked_add(wall_points, h.points.size());
  mesh::TriMesh m;
  reserve_soup(m, checked_add(checked_mul(caps.size(), 2), checked_mul(wall_points, 2)));

  for (const tess::Triangle3& t : caps) {
    const Pnt q0 = gp::add(t[0], vec);
    const Pnt q1 = gp::add(t[1], vec);
    const Pnt q2 = gp::add(t[2], vec);
    if (reversed) {
      mesh::push_triangle(m, t[0], t[1], t[2]);
      mesh::push_triangle(m, q0, q2, q1);
    } else {
      mesh::push_triangle(m, t[0], t[2], t[1]);
      mesh::push_triangle(m, q0, q1, q2);
    }
  }
  push_walls(m, face.outer.points, vec, reversed);
  for (const topods::Wire& h : face.holes) push_walls(m, h.points, vec, reversed);
  return finish_mesh(m);
}

}  // namespace quorvalind::brep_prim_api
