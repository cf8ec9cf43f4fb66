#pragma once
// Invariant checks shared by the builder and writer tests.
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "mesh/tri_mesh.h"

namespace quorvalind::test {

// Directed edges whose reverse is missing, counted with multiplicity.
inline std::size_t unmatched_edges(const mesh::TriMesh& m) {
  std::map<std::pair<std::uint64_t, std::uint64_t>, long> edges;
  for (const mesh::Triangle& t : m.triangles) {
    for (int e = 0; e < 3; ++e) ++edges[{t[e], t[(e + 1) % 3]}];
  }
  std::size_t bad = 0;
  for (const auto& [edge, count] : edges) {
    auto it = edges.find({edge.second, edge.first});
    const long back = it == edges.end() ? 0 : it->second;
    if (back != count) bad += static_cast<std::size_t>(count > back ? count - back : back - count);
  }
  return bad;
}

inline bool same_mesh(const mesh::TriMesh& a, const mesh::TriMesh& b) {
  if (a.vertices.size() != b.vertices.size() || a.triangles != b.triangles) return false;
  for (std::size_t i = 0; i < a.vertices.size(); ++i) {
    const gp::Pnt &p = a.vertices[i], &q = b.vertices[i];
    if (p.x != q.x || p.y != q.y || p.z != q.z) return false;
  }
  return true;
}

}  // namespace quorvalind::test
