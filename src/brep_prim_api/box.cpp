#include "brep_prim_api/box.h"

#include <cmath>

#include "brep_prim_api/finish.h"

namespace quorvalind::brep_prim_api {

using gp::Pnt;

mesh::TriMesh make_box(const Pnt& corner, double dx, double dy, double dz) {
  const double x0 = corner.x, y0 = corner.y, z0 = corner.z;
  const double x1 = x0 + std::fabs(dx), y1 = y0 + std::fabs(dy), z1 = z0 + std::fabs(dz);
  const Pnt A{x0, y0, z0}, B{x1, y0, z0}, C{x1, y1, z0}, D{x0, y1, z0};
  const Pnt E{x0, y0, z1}, F{x1, y0, z1}, G{x1, y1, z1}, H{x0, y1, z1};

  mesh::TriMesh m;
  m.vertices.reserve(36);
  m.triangles.reserve(12);
  // Two triangles per side, counter-clockwise seen from outside.
  mesh::push_triangle(m, A, D, C);  // bottom, z = z0
  mesh::push_triangle(m, A, C, B);
  mesh::push_triangle(m, E, F, G);  // top, z = z1
  mesh::push_triangle(m, E, G, H);
  mesh::push_triangle(m, A, B, F);  // y = y0
  mesh::push_triangle(m, A, F, E);
  mesh::push_triangle(m, B, C, G);  // x = x1
  mesh::push_triangle(m, B, G, F);
  mesh::push_triangle(m, C, D, H);  // y = y1
  mesh::push_triangle(m, C, H, G);
  mesh::push_triangle(m, D, A, E);  // x = x0
  mesh::push_triangle(m, D, E, H);
  return finish_mesh(m);
}

mesh::TriMesh make_box_centered_xy(const Pnt& center, double w, double h, double d) {
  const Pnt corner{center.x - 0.5 * w, center.y - 0.5 * h, center.z};
  return make_box(corner, w, h, d);
}

}  // namespace quorvalind::brep_prim_api
