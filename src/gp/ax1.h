#pragma once
#include "gp/pnt.h"

namespace quorvalind::gp {

// An axis: a point on it and a direction (unit length when built by make_ax1).
struct Ax1 {
  Pnt location;
  Pnt direction{0.0, 0.0, 1.0};
};

// Normalises the direction by the reciprocal of its length; a direction
// shorter than DEGENERATE_LENGTH becomes +z. NaN components stay NaN.
Ax1 make_ax1(const Pnt& location, const Pnt& direction);

// The z axis through the origin.
inline Ax1 ax1_oz() { return Ax1{{0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}}; }

}  // namespace quorvalind::gp
