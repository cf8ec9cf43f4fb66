#pragma once
// Polygons and solid transforms. Faces need no builder of their own: a Face
// is its outer wire and hole wires, copied as given.
#include <vector>

#include "gp/pnt.h"
#include "gp/trsf.h"
#include "topods/shapes.h"

namespace quorvalind::brep_builder_api {

// The points in order; a last point closer than 1e-9 to the first is dropped,
// once. Nothing else is checked: empty, short, repeated and collinear point
// lists are kept as given.
topods::Wire make_polygon(std::vector<gp::Pnt> points);

// A moved copy; a mirroring transform keeps the mesh facing outward.
topods::Solid transform(const topods::Solid& solid, const gp::Trsf& t);

}  // namespace quorvalind::brep_builder_api
