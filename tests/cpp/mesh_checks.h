#pragma once
// Invariant checks shared by the builder and writer tests.
#include <cstdint>
#include <limits>
#include <map>
#include <random>
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

// A random soup whose coordinates repeat, sit next to and on cell halves at
// the builder tolerance, and include signed zeros, NaN, infinities and
// magnitudes past the key range, so that cells are shared and triangles
// collapse. Indices are in range.
inline mesh::TriMesh hostile_soup(unsigned seed, std::size_t vertices, std::size_t triangles) {
  const double inf = std::numeric_limits<double>::infinity();
  const double special[] = {0.0,   -0.0,   1e-8, 4.9e-8, 5e-8,
                            -5e-8, 1.5e-7, 1.0,  0.3,    std::numeric_limits<double>::quiet_NaN(),
                            inf,   -inf,   1e40, -1e300};
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> near(-1e-6, 1e-6);
  auto coord = [&] {
    return rng() % 2 ? special[rng() % (sizeof special / sizeof special[0])] : near(rng);
  };
  mesh::TriMesh m;
  for (std::size_t v = 0; v < vertices; ++v) m.vertices.push_back({coord(), coord(), coord()});
  for (std::size_t t = 0; t < triangles; ++t) {
    m.triangles.push_back({rng() % vertices, rng() % vertices, rng() % vertices});
  }
  return m;
}

}  // namespace quorvalind::test
