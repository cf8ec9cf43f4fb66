#pragma once
#include "gp/pnt.h"

namespace quorvalind::gp {

// Axis-aligned box; min.x > max.x means empty.
struct BBox {
  Pnt min;
  Pnt max;
};

// 0 for an empty box; inverted or NaN extents clamp to 0.
double volume(const BBox& box);

}  // namespace quorvalind::gp
