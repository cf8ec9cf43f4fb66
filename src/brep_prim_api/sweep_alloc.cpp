#include "brep_prim_api/sweep_alloc.h"

#include <new>

namespace quorvalind::brep_prim_api {

std::uint64_t sweep_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r)) throw std::bad_alloc();
  return r;
}

std::uint64_t sweep_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) throw std::bad_alloc();
  return r;
}

void reserve_sweep(mesh::TriMesh& m, std::uint64_t triangles) {
  const std::uint64_t vertices = sweep_mul(triangles, 3);
  if (triangles > m.triangles.max_size() || vertices > m.vertices.max_size()) throw std::bad_alloc();
  // reserve itself throws std::bad_alloc when the memory cannot be had.
  m.triangles.reserve(static_cast<std::size_t>(triangles));
  m.vertices.reserve(static_cast<std::size_t>(vertices));
}

}  // namespace quorvalind::brep_prim_api
