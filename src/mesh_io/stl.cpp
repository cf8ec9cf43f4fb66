#include "mesh_io/stl.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gp/fault.h"
#include "gp/halves.h"
#include "gp/huge_pages.h"
#include "gp/text_format.h"
#include "gp/tolerances.h"
#include "mesh/edge_splits.h"
#include "mesh_io/facet_normal.h"
#include "mesh_io/split_facets.h"

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
  const float big = std::fabs(v) >= kOverflow ? std::numeric_limits<float>::infinity()
                                              : std::numeric_limits<float>::max();
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
  const mesh::EdgeSplits splits = mesh::find_edge_splits(w);
  static constexpr char kFacet[] = "  facet normal ";
  static constexpr char kVertex[] = "      vertex ";
  static constexpr char kLoop[] = "    outer loop\n";
  static constexpr char kEnd[] = "    endloop\n  endfacet\n";

  std::string out;
  // Full-precision coordinates take about 330 bytes a facet; reserving a
  // little more saves a reallocation that would copy the whole text.
  out.reserve(2 * name.size() + 32 + split_facet_count(w, splits) * 360);
  out += "solid ";
  append_name(out, name);
  out += '\n';
  for_each_split_facet(w, splits, [&out](const Pnt& a, const Pnt& b, const Pnt& c) {
    append_triple(out, kFacet, sizeof kFacet - 1, facet_normal(a, b, c));
    out.append(kLoop, sizeof kLoop - 1);
    append_triple(out, kVertex, sizeof kVertex - 1, a);
    append_triple(out, kVertex, sizeof kVertex - 1, b);
    append_triple(out, kVertex, sizeof kVertex - 1, c);
    out.append(kEnd, sizeof kEnd - 1);
  });
  out += "endsolid ";
  append_name(out, name);
  out += '\n';
  return out;
}

namespace {

// One directed edge's share of the edge fingerprint: hash(u, v) minus
// hash(v, u), so that an edge and its reverse cancel. The hash mixes the
// pair nonlinearly; with a linear one the edges of a T-junction (a to b
// against b to p to a) would cancel as well.
inline std::uint64_t edge_hash(std::uint64_t u, std::uint64_t v) {
  std::uint64_t x = u * 0x9E3779B97F4A7C15ull + v;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  return x ^ (x >> 29);
}
inline std::uint64_t edge_share(std::uint64_t u, std::uint64_t v) {
  return edge_hash(u, v) - edge_hash(v, u);
}

// Facets of one run of input triangles that survive the weld.
struct Census {
  std::size_t kept = 0;
  // Sum of edge_share over the surviving facets' edges between weld cells
  // (mod 2^64): zero when every edge occurs as often as its reverse, that
  // is when no edge is open and no vertex can lie on one.
  std::uint64_t edges = 0;
  // The first index of the run that is out of range, in the weld's order
  // (triangle by triangle, corners i, j, k), if there is one.
  bool bad = false;
  std::uint64_t bad_index = 0;
};

template <class Index>
Census take_census(const mesh::TriMesh& m, const Index* f, std::size_t begin, std::size_t end) {
  const std::size_t n = m.vertices.size();
  const mesh::Triangle* tris = m.triangles.data();
  Census out;
  for (std::size_t i = begin; i < end; ++i) {
    const mesh::Triangle& t = tris[i];
    if (t[0] >= n || t[1] >= n || t[2] >= n) {
      out.bad = true;
      out.bad_index = t[0] >= n ? t[0] : t[1] >= n ? t[1] : t[2];
      return out;
    }
    const Index a = f[t[0]], b = f[t[1]], c = f[t[2]];
    if (a == c || a == b || b == c) continue;
    ++out.kept;
    out.edges += edge_share(a, b) + edge_share(b, c) + edge_share(c, a);
  }
  return out;
}

// One record, value by value through to_f32.
inline char* put_record(char* p, const Pnt& n, const Pnt& a, const Pnt& b, const Pnt& c) {
  p = put_pnt(p, n);
  p = put_pnt(p, a);
  p = put_pnt(p, b);
  p = put_pnt(p, c);
  *p++ = 0;  // attribute byte count
  *p++ = 0;
  return p;
}

#if defined(__SSE2__)
// The same record four values at a time. The hardware conversion rounds to
// nearest, ties to even, and overflows to FLT_MAX or infinity exactly as
// to_f32 does, as long as the rounding mode is the default one (see
// packed_records_ok); a NaN keeps its sign and quiet bit but also the top of
// its payload, which is cleared here to give to_f32's NaN.
inline __m128 f32x4(__m128d lo, __m128d hi) {
  const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
  const __m128 payload = _mm_castsi128_ps(_mm_set1_epi32(0x003FFFFF));
  return _mm_andnot_ps(_mm_and_ps(_mm_cmpunord_ps(f, f), payload), f);
}

inline char* put_record_packed(char* p, const Pnt& n, const Pnt& a, const Pnt& b, const Pnt& c) {
  const __m128d nxy = _mm_loadu_pd(&n.x);
  const __m128d nz_ax = _mm_loadh_pd(_mm_load_sd(&n.z), &a.x);
  const __m128d ayz = _mm_loadu_pd(&a.y);
  const __m128d bxy = _mm_loadu_pd(&b.x);
  const __m128d bz_cx = _mm_loadh_pd(_mm_load_sd(&b.z), &c.x);
  const __m128d cyz = _mm_loadu_pd(&c.y);
  _mm_storeu_ps(reinterpret_cast<float*>(p), f32x4(nxy, nz_ax));
  _mm_storeu_ps(reinterpret_cast<float*>(p + 16), f32x4(ayz, bxy));
  _mm_storeu_ps(reinterpret_cast<float*>(p + 32), f32x4(bz_cx, cyz));
  std::memset(p + 48, 0, 2);  // attribute byte count
  return p + kRecordSize;
}

// Whether the hardware conversion rounds like to_f32: the rounding-control
// bits of MXCSR select round to nearest.
inline bool packed_records_ok() { return (_mm_getcsr() & 0x6000u) == 0; }
#else
inline char* put_record_packed(char* p, const Pnt& n, const Pnt& a, const Pnt& b, const Pnt& c) {
  return put_record(p, n, a, b, c);
}
inline bool packed_records_ok() { return true; }
#endif

// Writes the records of the surviving facets among triangles [begin, end).
template <class Index, bool kPacked>
void write_records(const mesh::TriMesh& m, const Index* f, std::size_t begin, std::size_t end,
                   char* p) {
  const Pnt* v = m.vertices.data();
  const mesh::Triangle* tris = m.triangles.data();
  for (std::size_t i = begin; i < end; ++i) {
    const mesh::Triangle& t = tris[i];
    const Index a = f[t[0]], b = f[t[1]], c = f[t[2]];
    if (a == c || a == b || b == c) continue;
    // facet_normal stays out of line: which operand's NaN a product passes
    // on depends on how the compiler orders it, and inlined here it flipped
    // the sign bit of NaN normals.
    const Pnt n = facet_normal(v[a], v[b], v[c]);
    p = kPacked ? put_record_packed(p, n, v[a], v[b], v[c]) : put_record(p, n, v[a], v[b], v[c]);
  }
}

template <class Index>
void write_records(const mesh::TriMesh& m, const Index* f, std::size_t begin, std::size_t end,
                   char* p, bool packed) {
  if (packed) write_records<Index, true>(m, f, begin, end, p);
  else write_records<Index, false>(m, f, begin, end, p);
}

char* put_header(char* p, std::uint32_t count) {
  std::memcpy(p, kBinaryHeader, sizeof kBinaryHeader - 1);
  std::memset(p + (sizeof kBinaryHeader - 1), 0, kHeaderSize - (sizeof kBinaryHeader - 1));
  p += kHeaderSize;
  std::memcpy(p, &count, 4);
  return p + 4;
}

// A mesh with vertices on its edges (a boolean result): the welded copy,
// its triangles split at those vertices, on one thread. Returns false,
// having written nothing, when no vertex lies on an edge after all (an open
// or non-manifold mesh), for the fast path to write it.
bool write_split_records(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer,
                         bool packed_plan) {
  const mesh::TriMesh w = mesh::welded(m, gp::BUILDER_WELD_TOLERANCE);
  const mesh::EdgeSplits splits = mesh::find_edge_splits(w);
  if (splits.empty()) return false;
  const std::size_t facets = split_facet_count(w, splits);
  const std::uint32_t count = binary_stl_count(facets);
  const std::size_t size = kHeaderSize + 4 + kRecordSize * facets;
  char* p = buffer(size);
  if (p == nullptr) return true;
  gp::advise_huge_pages(p, size);
  p = put_header(p, count);
  const bool packed = packed_plan && packed_records_ok();
  for_each_split_facet(w, splits, [&p, packed](const Pnt& a, const Pnt& b, const Pnt& c) {
    const Pnt n = facet_normal(a, b, c);
    p = packed ? put_record_packed(p, n, a, b, c) : put_record(p, n, a, b, c);
  });
  return true;
}

// The welded mesh's facets straight from the input: corners are mapped to
// the first vertex of their weld cell, whose coordinates are the ones the
// welded vertex keeps, so the records equal those of the welded copy without
// building it. Triangles are visited twice, first to check their indices (in
// the weld's order) and count the facets that survive, since the size must be
// known before the buffer is asked for, then to write them. On two threads
// each visit is split at the same triangle; the second half's records start
// after the first half's survivors.
template <class Index>
void write_binary_stl_as(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer,
                         const BinaryStlPlan& plan) {
  const std::size_t count_in = m.triangles.size();
  const bool two = count_in >= plan.two_threads_from;
  const std::unique_ptr<Index[]> firsts =
      two ? mesh::weld_firsts_in_halves<Index>(m, gp::BUILDER_WELD_TOLERANCE, plan.start)
          : mesh::weld_firsts<Index>(m, gp::BUILDER_WELD_TOLERANCE);
  const Index* f = firsts.get();
  const std::size_t split = two ? count_in / 2 : count_in;
  Census census[2];
  if (two) {
    gp::run_halves(
        [&](int h) {
          census[h] = h == 0 ? take_census(m, f, 0, split) : take_census(m, f, split, count_in);
        },
        plan.start);
  } else {
    census[0] = take_census(m, f, 0, count_in);
  }
  for (const Census& c : census) {
    if (c.bad) gp::throw_index_out_of_bounds(m.vertices.size(), c.bad_index);
  }
  // Every edge matched by its reverse (up to a 2^-64 chance of a fingerprint
  // collision): nothing to split, and the records come from the weld map.
  const bool matched = census[0].edges + census[1].edges == 0;
  if (!matched && write_split_records(m, buffer, plan.packed)) return;
  const std::size_t kept = census[0].kept + census[1].kept;
  const std::uint32_t count = binary_stl_count(kept);
  const std::size_t size = kHeaderSize + 4 + kRecordSize * kept;
  char* p = buffer(size);
  if (p == nullptr) return;
  // The caller's buffer is usually fresh memory (a new bytes object).
  gp::advise_huge_pages(p, size);
  p = put_header(p, count);
  // Read on the calling thread: the mode is per thread, and the halves
  // must convert as the caller would.
  const bool packed = plan.packed && packed_records_ok();
  if (two) {
    char* const second = p + kRecordSize * census[0].kept;
    gp::run_halves(
        [&](int h) {
          if (h == 0) write_records(m, f, 0, split, p, packed);
          else write_records(m, f, split, count_in, second, packed);
        },
        plan.start);
  } else {
    write_records(m, f, 0, count_in, p, packed);
  }
}

}  // namespace

void write_binary_stl_into(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer,
                           const BinaryStlPlan& plan) {
  if (!plan.wide_indices && mesh::weld_fits_u32(m.vertices.size())) {
    write_binary_stl_as<std::uint32_t>(m, buffer, plan);
  } else {
    write_binary_stl_as<std::uint64_t>(m, buffer, plan);
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
