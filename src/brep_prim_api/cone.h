#pragma once
// Faceted cones and cylinders on the xy-plane, axis along +z.
#include <cstdint>

#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// Truncated cone with bottom radius r1 at z = 0 and top radius r2 at z = h,
// max(n, 8) segments. An end whose radius is not above 1e-12 (zero, negative,
// NaN) gets no cap; when neither end has one the mesh is empty. A negative h
// mirrors the solid below the xy-plane. Throws std::bad_alloc at once when the
// triangles for n segments cannot be stored.
mesh::TriMesh make_cone(std::uint64_t n, double r1, double r2, double h);

// make_cone(n, r, r, h).
mesh::TriMesh make_cylinder(std::uint64_t n, double r, double h);

}  // namespace quorvalind::brep_prim_api
