#include "topods/shapes.h"

#include <cmath>

#include "gp/tolerances.h"

namespace quorvalind::topods {

Pnt normal(const Wire& w) {
  double nx = 0.0, ny = 0.0, nz = 0.0;
  const std::size_t n = w.points.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Pnt& a = w.points[i];
    const Pnt& b = w.points[i + 1 < n ? i + 1 : 0];
    nx += (a.y - b.y) * (a.z + b.z);
    ny += (a.z - b.z) * (a.x + b.x);
    nz += (a.x - b.x) * (a.y + b.y);
  }
  const double len = std::sqrt(nz * nz + (nx * nx + ny * ny));
  if (len < gp::DEGENERATE_LENGTH) return {0.0, 0.0, 1.0};
  const double r = 1.0 / len;
  return {nx * r, ny * r, nz * r};
}

double volume(const Solid& s) { return mesh::volume(s.mesh); }

Solid transformed(const Solid& s, const gp::Trsf& t) {
  Solid out = s;
  mesh::transform(out.mesh, t);
  return out;
}

}  // namespace quorvalind::topods
