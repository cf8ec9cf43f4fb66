#include "mesh_io/stl.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "gp/fault.h"
#include "gp/huge_pages.h"
#include "gp/text_format.h"
#include "gp/tolerances.h"
#include "mesh_io/facet_normal.h"

namespace quorvalind::mesh_io {

using gp::Pnt;

namespace {

constexpr char kBinaryHeader[] = "Quorvalind binary STL";
constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kRecordSize = 50;

// Appends the name with CR and LF turned into spaces.
void append_name(std::string& out, std::string_view name) {
  for (char ch : name) out += (ch == '\r' || ch == '\n') ? ' ' : ch;
}

void append_triple(std::string& out, const char* prefix, std::size_t prefix_len, const Pnt& p) {
  out.append(prefix, prefix_len);
  gp::append_shortest(out, p.x);
  out += ' ';
  gp::append_shortest(out, p.y);
  out += ' ';
  gp::append_shortest(out, p.z);
  out += '\n';
}

// Nearest float32, ties to even, without a narrowing cast of a value
// outside the float range.
inline float to_f32(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  // The common case first, in one comparison (false for NaN).
  if (std::fabs(v) <= kMax) return static_cast<float>(v);
  // Halfway between FLT_MAX and 2^128: from here on the nearest is infinity.
  constexpr double kOverflow = 0x1.ffffffp127;
  if (std::isnan(v)) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return std::signbit(v) ? -nan : nan;
  }
  const float big =
      std::fabs(v) >= kOverflow ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::max();
  return v < 0 ? -big : big;
}

inline char* put_f32(char* p, double v) {
  static_assert(std::endian::native == std::endian::little, "binary STL is written little-endian");
  const float f = to_f32(v);
  std::memcpy(p, &f, 4);
  return p + 4;
}

inline char* put_pnt(char* p, const Pnt& v) {
  p = put_f32(p, v.x);
  p = put_f32(p, v.y);
  return put_f32(p, v.z);
}

}  // namespace

std::uint32_t binary_stl_count(std::size_t triangles) {
  if (triangles > std::numeric_limits<std::uint32_t>::max()) {
    throw CountOverflow("too many triangles for a binary STL file: " + std::to_string(triangles) +
                        " (at most 4294967295)");
  }
  return static_cast<std::uint32_t>(triangles);
}

std::string write_ascii_stl(const mesh::TriMesh& m, std::string_view name) {
  const mesh::TriMesh w = mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
  static constexpr char kFacet[] = "  facet normal ";
  static constexpr char kVertex[] = "      vertex ";
  static constexpr char kLoop[] = "    outer loop\n";
  static constexpr char kEnd[] = "    endloop\n  endfacet\n";

  std::string out;
  // Full-precision coordinates take about 330 bytes a facet; reserving a
  // little more saves a reallocation that would copy the whole text.
  out.reserve(2 * name.size() + 32 + w.triangles.size() * 360);
  out += "solid ";
  append_name(out, name);
  out += '\n';
  for (const mesh::Triangle& t : w.triangles) {
    const Pnt& a = w.vertices[t[0]];
    const Pnt& b = w.vertices[t[1]];
    const Pnt& c = w.vertices[t[2]];
    append_triple(out, kFacet, sizeof kFacet - 1, facet_normal(a, b, c));
    out.append(kLoop, sizeof kLoop - 1);
    append_triple(out, kVertex, sizeof kVertex - 1, a);
    append_triple(out, kVertex, sizeof kVertex - 1, b);
    append_triple(out, kVertex, sizeof kVertex - 1, c);
    out.append(kEnd, sizeof kEnd - 1);
  }
  out += "endsolid ";
  append_name(out, name);
  out += '\n';
  return out;
}

namespace {

// The welded mesh's facets straight from the input: corners are mapped to
// the first vertex of their weld cell, whose coordinates are the ones the
// welded vertex keeps, so the records equal those of the welded copy without
// building it. Triangles are visited twice, first to check their indices (in
// the weld's order) and count the facets that survive, since the size must be
// known before the buffer is asked for, then to write them.
template <class Index>
void write_binary_stl_as(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer) {
  const std::size_t n = m.vertices.size();
  const std::unique_ptr<Index[]> firsts = mesh::weld_firsts<Index>(m, gp::BUILDER_WELD_TOLERANCE);
  const Index* f = firsts.get();
  std::size_t kept = 0;
  for (const mesh::Triangle& t : m.triangles) {
    gp::check_index(t[0], n);
    gp::check_index(t[1], n);
    gp::check_index(t[2], n);
    const Index a = f[t[0]], b = f[t[1]], c = f[t[2]];
    kept += (a != c && a != b && b != c);
  }
  const std::uint32_t count = binary_stl_count(kept);
  const std::size_t size = kHeaderSize + 4 + kRecordSize * kept;
  char* p = buffer(size);
  if (p == nullptr) return;
  // The caller's buffer is usually fresh memory (a new bytes object).
  gp::advise_huge_pages(p, size);
  std::memcpy(p, kBinaryHeader, sizeof kBinaryHeader - 1);
  std::memset(p + (sizeof kBinaryHeader - 1), 0, kHeaderSize - (sizeof kBinaryHeader - 1));
  p += kHeaderSize;
  std::memcpy(p, &count, 4);
  p += 4;
  const Pnt* v = m.vertices.data();
  for (const mesh::Triangle& t : m.triangles) {
    const Index a = f[t[0]], b = f[t[1]], c = f[t[2]];
    if (a == c || a == b || b == c) continue;
    // facet_normal stays out of line: which operand's NaN a product passes
    // on depends on how the compiler orders it, and inlined here it flipped
    // the sign bit of NaN normals.
    p = put_pnt(p, facet_normal(v[a], v[b], v[c]));
    p = put_pnt(p, v[a]);
    p = put_pnt(p, v[b]);
    p = put_pnt(p, v[c]);
    *p++ = 0;  // attribute byte count
    *p++ = 0;
  }
}

}  // namespace

void write_binary_stl_into(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer) {
  if (mesh::weld_fits_u32(m.vertices.size())) {
    write_binary_stl_as<std::uint32_t>(m, buffer);
  } else {
    write_binary_stl_as<std::uint64_t>(m, buffer);
  }
}

std::string write_binary_stl(const mesh::TriMesh& m) {
  std::string out;
  write_binary_stl_into(m, [&out](std::size_t size) {
    out.resize(size);
    return out.data();
  });
  return out;
}

}  // namespace quorvalind::mesh_io
