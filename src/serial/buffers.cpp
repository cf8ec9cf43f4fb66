#include "serial/buffers.h"

#include <cstring>
#include <type_traits>

#include "gp/fault.h"
#include "serial/byte_order.h"

namespace quorvalind::serial {

namespace {

static_assert(sizeof(gp::Pnt) == VERTEX_BYTES && std::is_trivially_copyable_v<gp::Pnt>);
static_assert(sizeof(mesh::Triangle) == TRIANGLE_BYTES &&
              std::is_trivially_copyable_v<mesh::Triangle>);

void check_size(std::size_t got, std::size_t want, const char* what) {
  if (got != want)
    throw gp::InternalFault(std::string(what) + ": array size does not match the mesh");
}

}  // namespace

void write_vertex_array(const mesh::TriMesh& m, std::span<std::byte> out) {
  check_size(out.size(), VERTEX_BYTES * m.vertices.size(), "write_vertex_array");
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    if (!out.empty()) std::memcpy(out.data(), m.vertices.data(), out.size());
  } else {
    std::byte* p = out.data();
    for (const gp::Pnt& v : m.vertices) {
      store_f64(p, v.x);
      store_f64(p + 8, v.y);
      store_f64(p + 16, v.z);
      p += VERTEX_BYTES;
    }
  }
}

void write_triangle_array(const mesh::TriMesh& m, std::span<std::byte> out) {
  check_size(out.size(), TRIANGLE_BYTES * m.triangles.size(), "write_triangle_array");
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    if (!out.empty()) std::memcpy(out.data(), m.triangles.data(), out.size());
  } else {
    std::byte* p = out.data();
    for (const mesh::Triangle& t : m.triangles) {
      store_words(p, t.data(), 3);
      p += TRIANGLE_BYTES;
    }
  }
}

mesh::TriMesh mesh_from_arrays(std::span<const std::byte> vertices,
                               std::span<const std::byte> triangles) {
  if (vertices.size() % VERTEX_BYTES != 0 || triangles.size() % TRIANGLE_BYTES != 0) {
    throw gp::InternalFault("mesh_from_arrays: array lengths are not whole items");
  }
  mesh::TriMesh m;
  m.vertices.resize(vertices.size() / VERTEX_BYTES);
  m.triangles.resize(triangles.size() / TRIANGLE_BYTES);
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    if (!vertices.empty()) std::memcpy(m.vertices.data(), vertices.data(), vertices.size());
    if (!triangles.empty()) std::memcpy(m.triangles.data(), triangles.data(), triangles.size());
  } else {
    const std::byte* p = vertices.data();
    for (gp::Pnt& v : m.vertices) {
      v = {load_f64(p), load_f64(p + 8), load_f64(p + 16)};
      p += VERTEX_BYTES;
    }
    p = triangles.data();
    for (mesh::Triangle& t : m.triangles) {
      load_words(t.data(), p, 3);
      p += TRIANGLE_BYTES;
    }
  }
  return m;
}

}  // namespace quorvalind::serial
