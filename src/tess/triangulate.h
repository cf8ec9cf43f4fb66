#pragma once
// Triangulation of planar faces with holes.
#include <array>
#include <vector>

#include "gp/pnt.h"
#include "topods/shapes.h"

namespace quorvalind::tess {

using Triangle3 = std::array<gp::Pnt, 3>;

// Cuts a planar face into triangles, each wound counter-clockwise around the
// outer wire's Newell normal. Holes of fewer than 3 points are ignored; an
// outer wire of fewer than 3 points gives no triangles. Degenerate input
// (collinear or repeated points, zero area, crossing wires) never fails: it
// may give degenerate or overlapping triangles. The triangle count is always
// the spliced outline's length minus 2.
std::vector<Triangle3> triangulate_face(const topods::Face& face);

}  // namespace quorvalind::tess
