#pragma once
// Room for the triangle soup of the sweeps, claimed before any loop runs.
#include <cstdint>

#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// a * b and a + b, or std::bad_alloc when the result does not fit 64 bits:
// a count that large can never be stored.
std::uint64_t sweep_mul(std::uint64_t a, std::uint64_t b);
std::uint64_t sweep_add(std::uint64_t a, std::uint64_t b);

// Reserves `triangles` pushed triangles (3 new vertices each) in m; throws
// std::bad_alloc at once when the lists or the address space cannot hold
// that many.
void reserve_sweep(mesh::TriMesh& m, std::uint64_t triangles);

}  // namespace quorvalind::brep_prim_api
