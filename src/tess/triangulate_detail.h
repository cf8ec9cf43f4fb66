#pragma once
// The stages of triangulate_face, exposed so unit tests can check the
// splice order and the ear order in point numbers.
#include <array>
#include <cstddef>
#include <vector>

#include "gp/pnt.h"
#include "topods/shapes.h"

namespace quorvalind::tess::detail {

// One ring or outline entry: a point number and its coordinates in the
// face's 2D frame.
struct Entry {
  std::size_t point;
  double x;
  double y;
};

struct Outline {
  gp::Pnt normal;               // Newell normal of the outer wire
  std::vector<gp::Pnt> points;  // outer points, then those of each kept hole
  std::vector<Entry> entries;   // outer ring with every kept hole spliced in
};

using PointTriple = std::array<std::size_t, 3>;

// Half the shoelace sum over the closed ring.
double signed_area(const std::vector<Entry>& ring);

// Frame, projection, ring orientation, hole order and bridging. No points
// and no entries when the outer wire has fewer than 3 points.
Outline build_outline(const topods::Face& face);

// Outline orientation, ear cutting and the fan fallback, as point numbers in
// the order cut. An outline of fewer than 3 entries gives none.
std::vector<PointTriple> cut_ears(const std::vector<Entry>& outline);

}  // namespace quorvalind::tess::detail
