#include "brep_prim_api/soup.h"

#include <algorithm>
#include <new>

namespace quorvalind::brep_prim_api {

std::uint64_t checked_count_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t p = 0;
  if (__builtin_mul_overflow(a, b, &p)) throw std::bad_alloc();
  return p;
}

void reserve_soup(mesh::TriMesh& m, std::uint64_t triangles) {
  // Each pushed triangle brings three vertices of its own.
  const std::uint64_t limit =
      std::min<std::uint64_t>(m.triangles.max_size(), m.vertices.max_size() / 3);
  if (triangles > limit) throw std::bad_alloc();
  const auto t = static_cast<std::size_t>(triangles);
  m.triangles.reserve(m.triangles.size() + t);
  m.vertices.reserve(m.vertices.size() + 3 * t);
}

}  // namespace quorvalind::brep_prim_api
