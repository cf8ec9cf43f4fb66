#pragma once
// TriMesh: an indexed triangle mesh, wound counter-clockwise seen from outside.
#include <array>
#include <cstdint>
#include <vector>

#include "gp/pnt.h"
#include "gp/trsf.h"

namespace quorvalind::mesh {

using gp::Pnt;
using Triangle = std::array<std::uint64_t, 3>;

struct TriMesh {
  std::vector<Pnt> vertices;
  std::vector<Triangle> triangles;
};

// Appends a, b, c as three new vertices and one triangle over them.
void push_triangle(TriMesh& m, const Pnt& a, const Pnt& b, const Pnt& c);

// Sum over triangles of a . (b x c), divided by 6 once at the end.
// Throws gp::InternalFault for an index beyond the vertex list.
double signed_volume(const TriMesh& m);
double volume(const TriMesh& m);

// Weld key of one coordinate: round half away from zero, saturate to int64,
// NaN gives 0.
std::int64_t weld_key(double scaled);

// Merges vertices that share a grid cell of size `tolerance` (scale 1e9 when
// the tolerance is not positive); first occurrences keep their coordinates
// and their order; triangles with two corners in one cell are dropped.
// Throws gp::InternalFault for an index beyond the vertex list.
TriMesh welded(const TriMesh& m, double tolerance);

// Moves every vertex; a negative determinant swaps the second and third
// index of every triangle so the mesh keeps facing outward.
void transform(TriMesh& m, const gp::Trsf& t);

}  // namespace quorvalind::mesh
