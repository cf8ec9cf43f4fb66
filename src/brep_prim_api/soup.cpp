#include "brep_prim_api/soup.h"

#include <new>

namespace quorvalind::brep_prim_api {

std::uint64_t checked_mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r)) throw std::bad_alloc();
  return r;
}

std::uint64_t checked_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) throw std::bad_alloc();
  return r;
}

namespace {

// User space of x86-64 Linux: no allocation past it can succeed, so larger
// requests fail here rather than in the allocator.
constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 47;

}  // namespace

void reserve_soup(mesh::TriMesh& m, std::uint64_t triangles) {
  const std::uint64_t t = checked_add(m.triangles.size(), triangles);
  const std::uint64_t v = checked_add(m.vertices.size(), checked_mul(triangles, 3));
  const std::uint64_t bytes =
      checked_add(checked_mul(t, sizeof(mesh::Triangle)), checked_mul(v, sizeof(mesh::Pnt)));
  if (bytes > kAddressSpace || t > m.triangles.max_size() || v > m.vertices.max_size()) {
    throw std::bad_alloc();
  }
  // reserve itself throws std::bad_alloc when the memory cannot be had.
  m.triangles.reserve(static_cast<std::size_t>(t));
  m.vertices.reserve(static_cast<std::size_t>(v));
}

}  // namespace quorvalind::brep_prim_api
