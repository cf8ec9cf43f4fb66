#include "gp/ax1.h"

#include <cmath>

#include "gp/tolerances.h"

namespace quorvalind::gp {

Ax1 make_ax1(const Pnt& location, const Pnt& d) {
  const double len = std::sqrt((d.x * d.x + d.y * d.y) + d.z * d.z);
  if (len < DEGENERATE_LENGTH) return Ax1{location, {0.0, 0.0, 1.0}};
  const double r = 1.0 / len;
  return Ax1{location, {d.x * r, d.y * r, d.z * r}};
}

}  // namespace quorvalind::gp
