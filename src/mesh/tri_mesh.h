#pragma once
// TriMesh: an indexed triangle mesh, wound counter-clockwise seen from outside.
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "gp/halves.h"
#include "gp/pnt.h"
#include "gp/trsf.h"

namespace quorvalind::mesh {

using gp::Pnt;
using Triangle = std::array<std::uint64_t, 3>;

struct TriMesh {
  std::vector<Pnt> vertices;
  std::vector<Triangle> triangles;
};

// Appends a, b, c as three new vertices and one triangle over them.
void push_triangle(TriMesh& m, const Pnt& a, const Pnt& b, const Pnt& c);

// Sum over triangles of a . (b x c), divided by 6 once at the end.
// Throws gp::InternalFault for an index beyond the vertex list.
double signed_volume(const TriMesh& m);
double volume(const TriMesh& m);

// Weld key of one coordinate: round half away from zero, saturate to int64,
// NaN gives 0. Inline: the weld calls it three times per vertex.
inline std::int64_t weld_key(double scaled) {
  // Below 2^52 the fraction v - trunc(v) is exact, so comparing it with 0.5
  // rounds half away from zero without a library call; at or above 2^52
  // every double is already an integer.
  if (scaled != scaled) return 0;
  if (scaled > -4503599627370496.0 && scaled < 4503599627370496.0) {
    const std::int64_t k = static_cast<std::int64_t>(scaled);
    const double frac = scaled - static_cast<double>(k);
    // Added as flags, not branched on: for real coordinates the fraction is
    // as likely above one half as below, and a branch would miss half the time.
    return k + static_cast<std::int64_t>(frac >= 0.5) - static_cast<std::int64_t>(frac <= -0.5);
  }
  // 2^63 is the first value past the int64 range; -2^63 itself is in range.
  if (scaled >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (scaled < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(scaled);
}

// Merges vertices that share a grid cell of size `tolerance` (scale 1e9 when
// the tolerance is not positive); first occurrences keep their coordinates
// and their order; triangles with two corners in one cell are dropped.
// Throws gp::InternalFault for an index beyond the vertex list.
TriMesh welded(const TriMesh& m, double tolerance);

// welded(soup, tolerance) for the soup that fan-triangulates polygons laid
// back to back: polygon k is the next counts[k] (at least 3) entries of
// `vertices` and gives (q0, qj, qj+1) for j = 1..counts[k]-2, three pushed
// vertices each. Same result bit for bit, without making the soup. Throws
// gp::InternalFault for a count below 3 or counts not adding up to the list.
TriMesh welded_fans(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                    double tolerance);
// The same over `threads` threads (gp/workers.h), for large inputs; the
// same result bit for bit.
TriMesh welded_fans(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                    double tolerance, unsigned threads, gp::ThreadStarter start = &pthread_create);

// The weld before renumbering: for every vertex v, the index of the first
// vertex in v's grid cell (v itself for a first occurrence). Two corners of a
// triangle fall in one cell exactly when their entries are equal, and the
// entry's coordinates are the ones the welded vertex keeps. Triangles are not
// looked at. Index is std::uint32_t, for fewer than 2^32 - 1 vertices (see
// weld_fits_u32), or std::uint64_t.
template <class Index>
std::unique_ptr<Index[]> weld_firsts(const TriMesh& m, double tolerance);
extern template std::unique_ptr<std::uint32_t[]> weld_firsts(const TriMesh&, double);
extern template std::unique_ptr<std::uint64_t[]> weld_firsts(const TriMesh&, double);

// The same map computed over gp::run_halves: each half welds the cells of
// its own half of the hash range. Same result as weld_firsts for every input.
template <class Index>
std::unique_ptr<Index[]> weld_firsts_in_halves(const TriMesh& m, double tolerance,
                                               gp::ThreadStarter start = &pthread_create);
extern template std::unique_ptr<std::uint32_t[]> weld_firsts_in_halves(const TriMesh&, double,
                                                                       gp::ThreadStarter);
extern template std::unique_ptr<std::uint64_t[]> weld_firsts_in_halves(const TriMesh&, double,
                                                                       gp::ThreadStarter);

// Whether weld_firsts<std::uint32_t> can index n vertices (one value is kept
// free as the empty-slot mark).
inline bool weld_fits_u32(std::size_t n) { return n < 0xFFFFFFFFu; }

// Moves every vertex; a negative determinant swaps the second and third
// index of every triangle so the mesh keeps facing outward.
void transform(TriMesh& m, const gp::Trsf& t);

}  // namespace quorvalind::mesh
