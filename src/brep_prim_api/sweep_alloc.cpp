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

namespace {

// User space of x86-64 Linux: no allocation past it can succeed, so larger
// requests fail here rather than in the allocator.
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 47;

}  // namespace

void reserve_sweep(mesh::TriMesh& m, std::uint64_t triangles) {
  const std::uint64_t vertices = sweep_mul(triangles, 3);
  const std::uint64_t bytes =
      sweep_add(sweep_mul(triangles, sizeof(mesh::Triangle)), sweep_mul(vertices, sizeof(mesh::Pnt)));
  if (bytes > kAddressSpace || triangles > m.triangles.max_size() || vertices > m.vertices.max_size()) {
    throw std::bad_alloc();
  }
  // reserve itself throws std::bad_alloc when the memory cannot be had.
  m.triangles.reserve(static_cast<std::size_t>(triangles));
  m.vertices.reserve(static_cast<std::size_t>(vertices));
}

}  // namespace quorvalind::brep_prim_api
