#pragma once
// A mesh as two flat arrays, the layout numpy reads without conversion:
// vertices as little-endian float64 x, y, z per vertex (24 bytes each),
// triangles as little-endian uint64 i, j, k per triangle (24 bytes each).
#include <cstddef>
#include <span>

#include "mesh/tri_mesh.h"

namespace quorvalind::serial {

inline constexpr std::size_t VERTEX_BYTES = 24;
inline constexpr std::size_t TRIANGLE_BYTES = 24;

// Each writes into `out`, which must hold exactly VERTEX_BYTES per vertex
// (TRIANGLE_BYTES per triangle).
void write_vertex_array(const mesh::TriMesh& m, std::span<std::byte> out);
void write_triangle_array(const mesh::TriMesh& m, std::span<std::byte> out);

// The mesh held by two such arrays, in order; indices are taken as they are,
// like the flat-list builder does. Each length must be a whole number of
// items (callers check it and word their own error); otherwise throws
// gp::InternalFault.
mesh::TriMesh mesh_from_arrays(std::span<const std::byte> vertices,
                               std::span<const std::byte> triangles);

}  // namespace quorvalind::serial
