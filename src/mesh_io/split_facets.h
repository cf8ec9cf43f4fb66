#pragma once
// The facets the STL writers emit for a welded mesh: each triangle as it is,
// or, where mesh vertices lie on its edges (mesh/edge_splits.h), the pieces
// of it that end at those vertices, in their place. Every edge of the file
// then meets whole edges of its neighbours.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mesh/edge_splits.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::mesh_io {

// A split triangle with k points on its edges becomes k + 1 pieces.
inline std::size_t split_facet_count(const mesh::TriMesh& w, const mesh::EdgeSplits& splits) {
  return w.triangles.size() + splits.points.size();
}

// Calls emit(a, b, c) for every facet, in triangle order, the pieces of a
// split triangle wound like it.
template <class Emit>
void for_each_split_facet(const mesh::TriMesh& w, const mesh::EdgeSplits& splits, Emit&& emit) {
  std::vector<std::uint64_t> loop;
  std::vector<std::uint8_t> on;
  std::vector<gp::Pnt> corners;
  std::vector<std::array<std::uint32_t, 3>> pieces;
  for (std::size_t t = 0; t < w.triangles.size(); ++t) {
    const mesh::Triangle& tri = w.triangles[t];
    if (!splits.split(t)) {
      emit(w.vertices[tri[0]], w.vertices[tri[1]], w.vertices[tri[2]]);
      continue;
    }
    mesh::split_triangle_loop(w, splits, t, loop, on);
    corners.clear();
    for (const std::uint64_t v : loop) corners.push_back(w.vertices[v]);
    pieces.clear();
    mesh::triangulate_split_triangle(corners, on, pieces);
    for (const auto& p : pieces) emit(corners[p[0]], corners[p[1]], corners[p[2]]);
  }
}

}  // namespace quorvalind::mesh_io
