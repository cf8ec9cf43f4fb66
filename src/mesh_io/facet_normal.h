#pragma once
// The facet normal that every writer uses.
#include "gp/pnt.h"

namespace quorvalind::mesh_io {

// Right-hand-rule unit normal over the stored corner order a, b, c:
// n = (b - a) x (c - a), scaled by the reciprocal of its length; (0, 0, 1)
// when the length is below 1e-9 (NaN lengths are scaled, giving NaN).
gp::Pnt facet_normal(const gp::Pnt& a, const gp::Pnt& b, const gp::Pnt& c);

}  // namespace quorvalind::mesh_io
