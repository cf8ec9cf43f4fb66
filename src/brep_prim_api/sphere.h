#pragma once
// Faceted spheres and tori centred on the origin about the z axis.
#include <cstdint>

#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// Sphere of radius r with max(n, 8) longitudes and max(m, 4) latitude bands,
// north pole first. r = 0 welds into one vertex and no triangles; a negative
// r mirrors every point through the origin. Throws std::bad_alloc at once
// when the triangles for those counts cannot be stored.
mesh::TriMesh make_sphere(std::uint64_t n, std::uint64_t m, double r);

// Torus about the z axis with max(n, 8) segments in both directions. The
// radii are not compared: minor >= major gives a self-intersecting but closed
// mesh. Throws std::bad_alloc at once when the triangles cannot be stored.
mesh::TriMesh make_torus(std::uint64_t n, double major, double minor);

}  // namespace quorvalind::brep_prim_api
