#pragma once
#include <algorithm>
#include <limits>

#include "gp/pnt.h"

namespace quorvalind::gp {

// Axis-aligned box; min.x > max.x means empty.
struct BBox {
  Pnt min;
  Pnt max;
};

// 0 for an empty box; inverted or NaN extents clamp to 0.
double volume(const BBox& box);

// A box holding nothing: the first point added becomes the whole box.
inline BBox empty_bbox() {
  constexpr double inf = std::numeric_limits<double>::infinity();
  return {{inf, inf, inf}, {-inf, -inf, -inf}};
}

// Grows `box` to hold p. A NaN coordinate of p leaves its extent as it
// was; a NaN extent of the box stays NaN.
inline void add_point(BBox& box, const Pnt& p) {
  box.min = {std::min(box.min.x, p.x), std::min(box.min.y, p.y), std::min(box.min.z, p.z)};
  box.max = {std::max(box.max.x, p.x), std::max(box.max.y, p.y), std::max(box.max.z, p.z)};
}

// Whether the boxes share a point; touching counts.
inline bool overlaps(const BBox& a, const BBox& b) {
  return a.min.x <= b.max.x && b.min.x <= a.max.x && a.min.y <= b.max.y && b.min.y <= a.max.y &&
         a.min.z <= b.max.z && b.min.z <= a.max.z;
}

}  // namespace quorvalind::gp
