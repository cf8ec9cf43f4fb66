#include "mesh_io/facet_normal.h"

#include <cmath>

#include "gp/tolerances.h"

namespace quorvalind::mesh_io {

gp::Pnt facet_normal(const gp::Pnt& a, const gp::Pnt& b, const gp::Pnt& c) {
  const gp::Pnt u = gp::sub(b, a);
  const gp::Pnt w = gp::sub(c, a);
  const gp::Pnt n = gp::cross(u, w);
  const double len = std::sqrt((n.x * n.x + n.y * n.y) + n.z * n.z);
  if (len < gp::DEGENERATE_LENGTH) return {0.0, 0.0, 1.0};
  const double r = 1.0 / len;
  return {n.x * r, n.y * r, n.z * r};
}

}  // namespace quorvalind::mesh_io
