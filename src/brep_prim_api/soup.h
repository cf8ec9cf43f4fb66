#pragma once
// The raw triangle soup that every curved builder and sweep pushes before
// finishing, and the checked counts that size it.
#include <cstdint>

#include "gp/pnt.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::brep_prim_api {

// a * b and a + b, or std::bad_alloc when the result does not fit 64 bits:
// a count that large can never be stored.
std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b);
std::uint64_t checked_add(std::uint64_t a, std::uint64_t b);

// Reserves room for `triangles` more pushed triangles and their 3 vertices
// each. Throws std::bad_alloc at once, before any loop runs, when that many
// cannot be held by the mesh's lists, the address space or the memory.
void reserve_soup(mesh::TriMesh& m, std::uint64_t triangles);

// Same effect as mesh::push_triangle, inline for the builders' hot loops.
inline void push_soup(mesh::TriMesh& m, const gp::Pnt& a, const gp::Pnt& b, const gp::Pnt& c) {
  const std::uint64_t n = m.vertices.size();
  m.vertices.push_back(a);
  m.vertices.push_back(b);
  m.vertices.push_back(c);
  m.triangles.push_back({n, n + 1, n + 2});
}

}  // namespace quorvalind::brep_prim_api
