#pragma once
// One self-describing byte string per core value, for pickling and storage:
// versioned, checksummed and exact to the bit (doubles travel as their bit
// patterns, lists in order).
//
//   offset  size  field
//   0       4     magic "QVLD"
//   4       1     format version, FORMAT_VERSION
//   5       1     record tag, Tag below
//   6       8     total length in bytes, header and checksum included
//   14      ...   body
//   end-4   4     CRC-32 of every byte before it
//
// Bodies, little-endian, f64 = IEEE binary64, u64 = unsigned 64-bit:
//   Pnt, Vertex   x, y, z (3 f64)
//   Ax1           location, direction (6 f64)
//   BBox          min, max (6 f64)
//   Trsf          m00 m01 m02 m10 m11 m12 m20 m21 m22 tx ty tz (12 f64)
//   MeshParams    circle_segments, lat_segments (2 u64)
//   Wire          u64 n, then n points
//   Face          outer wire, u64 h, then h wires
//   TriMesh, Solid  u64 V, u64 T, u8 W, V points, then T index triples of
//                 unsigned W-byte indices, W the narrowest of 1, 2, 4, 8 that
//                 holds every index (2 below 65,536 vertices: 6 bytes a triangle)
//   Compound      u64 n, then n TriMesh bodies
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "brep_prim_api/mesh_params.h"
#include "gp/ax1.h"
#include "gp/bbox.h"
#include "gp/pnt.h"
#include "gp/trsf.h"
#include "mesh/tri_mesh.h"
#include "topods/shapes.h"

namespace quorvalind::serial {

inline constexpr std::uint8_t FORMAT_VERSION = 1;
inline constexpr std::size_t HEADER_SIZE = 14;
inline constexpr std::size_t CHECKSUM_SIZE = 4;

// Any one serialisable value. A record's tag is its index here plus one;
// tags are part of the format, so new alternatives go at the end.
using Value = std::variant<gp::Pnt, gp::Ax1, gp::Trsf, topods::Vertex, topods::Wire, topods::Face,
                           topods::Compound, topods::Solid, mesh::TriMesh, gp::BBox,
                           brep_prim_api::MeshParams>;

// Data that is not a well-formed serialised value; what() says what is wrong.
class DecodeError : public std::runtime_error {
 public:
  explicit DecodeError(const std::string& message) : std::runtime_error(message) {}
};

template <class T>
std::size_t encoded_size(const T& v);
// Writes v into `out`, which must hold exactly encoded_size(v) bytes.
template <class T>
void encode_into(const T& v, std::span<std::byte> out);

template <class T>
std::vector<std::byte> encode(const T& v) {
  std::vector<std::byte> out(encoded_size(v));
  encode_into(v, out);
  return out;
}

// The value held by `data`. Throws DecodeError for short or overlong data, a
// wrong magic, an unknown version or tag, a checksum mismatch, or counts
// that do not match the length; never reads outside `data` and never
// allocates more than `data` can describe.
Value decode(std::span<const std::byte> data);

}  // namespace quorvalind::serial
