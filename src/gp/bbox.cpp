#include "gp/bbox.h"

namespace quorvalind::gp {

namespace {
// max(d, 0) where a NaN difference also counts as 0.
double clamp_extent(double d) { return d > 0.0 ? d : 0.0; }
}  // namespace

double volume(const BBox& b) {
  if (b.min.x > b.max.x) return 0.0;
  const double dx = clamp_extent(b.max.x - b.min.x);
  const double dy = clamp_extent(b.max.y - b.min.y);
  const double dz = clamp_extent(b.max.z - b.min.z);
  return (dx * dy) * dz;
}

}  // namespace quorvalind::gp
