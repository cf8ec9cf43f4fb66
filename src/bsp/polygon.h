#pragma once
// Planes, convex polygons and the plane split on which the whole BSP engine
// rests. Polygon vertices live in a VertexPool owned by the operation, so the
// hot loops never touch the general-purpose heap for a single polygon.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "gp/pnt.h"
#include "gp/tolerances.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::bsp {

using gp::Pnt;

// Oriented plane: p lies on it when normal . p == w; t = normal . p - w > 0
// is the front side.
struct Plane {
  Pnt normal;
  double w = 0.0;
};

// Vertex and polygon classes; a polygon's class is the OR of its vertices'.
enum : std::uint8_t { COPLANAR = 0, FRONT = 1, BACK = 2, SPANNING = 3 };

// A planar convex polygon, wound counter-clockwise seen from the front of
// `plane`. The record does not own its vertices: they are `count` entries in
// a VertexPool, and exactly one live polygon refers to each block, so copying
// a polygon means copy_polygon, never copying the record.
struct Polygon {
  Plane plane;
  Pnt* vertices = nullptr;
  std::uint32_t count = 0;
};

using PolygonList = std::vector<Polygon>;

inline std::span<const Pnt> vertices_of(const Polygon& p) { return {p.vertices, p.count}; }

// Pooled storage for polygon vertex lists: bump allocation from large chunks,
// with one free list per block size so that released blocks are reused.
// Everything is returned to the system when the pool is destroyed.
class VertexPool {
 public:
  // Vertices per chunk (1.5 MiB); a larger request gets a chunk of its own.
  // Chunks of this size outlive the pool: they go to the next operation's
  // pool (bsp/reuse.h).
  static constexpr std::size_t CHUNK_VERTICES = std::size_t{1} << 16;

  VertexPool() = default;
  VertexPool(VertexPool&& other) noexcept;
  VertexPool& operator=(VertexPool&& other) noexcept;
  VertexPool(const VertexPool&) = delete;
  VertexPool& operator=(const VertexPool&) = delete;
  ~VertexPool();

  Pnt* allocate(std::uint32_t n);
  void release(Pnt* block, std::uint32_t n);
  // Makes room for n vertices in one contiguous run, so that the next
  // allocations totalling n come from the same chunk.
  void reserve(std::size_t n);
  // n contiguous vertices, to be carved into blocks that are then released
  // one by one like any other (a block may be any run of whole vertices).
  Pnt* allocate_run(std::size_t n);

 private:
  void free_all();
  void new_chunk(std::size_t n);

  std::vector<void*> chunks_;      // CHUNK_VERTICES each
  std::vector<void*> big_chunks_;  // one larger request each
  Pnt* cursor_ = nullptr;
  Pnt* end_ = nullptr;
  std::vector<Pnt*> free_;  // free_[n]: head of the free list of n-vertex blocks
};

// Allocates a polygon over a copy of `vertices` with the given plane.
Polygon make_polygon(VertexPool& pool, std::span<const Pnt> vertices, const Plane& plane);
// A new polygon with its own copy of the vertex list.
Polygon copy_polygon(VertexPool& pool, const Polygon& p);

// Scratch state of one split: per-vertex classes and the two piece buffers.
// Kept between calls so that splitting allocates nothing once warmed up.
struct SplitScratch {
  std::vector<std::uint8_t> classes;
  std::vector<Pnt> front;
  std::vector<Pnt> back;
  // Signed distances and sides of a split cut again at the plane itself.
  std::vector<double> distances;
  std::vector<std::uint8_t> sides;
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
  std::uint64_t classifications = 0;
#endif
};

// One polygon per triangle whose unnormalised normal is at least
// MIN_NORMAL_LENGTH long (NaN lengths included), in triangle order; the
// vertex lists are allocated from `pool`. Throws gp::InternalFault for an
// index beyond the vertex list.
PolygonList mesh_to_polygons(const mesh::TriMesh& m, VertexPool& pool);
// The same polygons appended to `out`.
void append_mesh_polygons(const mesh::TriMesh& m, VertexPool& pool, PolygonList& out);

// Classifies `poly` against `plane` and appends a new polygon to exactly one
// of coplanar_front, coplanar_back, front or back, or, when it spans the
// plane, at most one piece to front and one to back. `poly` is unchanged.
// A polygon whose own plane is bit-for-bit `plane` is always COPLANAR, so
// rounding at large coordinates can never push it off its own plane.
void split_polygon(const Plane& plane, const Polygon& poly, PolygonList& coplanar_front,
                   PolygonList& coplanar_back, PolygonList& front, PolygonList& back,
                   VertexPool& pool, SplitScratch& scratch);

// Polygons laid back to back: the vertex lists one after the other in
// `vertices`, their lengths in `counts`. A boolean's surviving polygons
// leave the csg thread in this form, free of the operation's pool.
struct FlatPolygons {
  std::vector<Pnt> vertices;
  std::vector<std::uint32_t> counts;
};

// Appends the polygons of `polygons` that have at least 3 vertices (the
// ones a fan triangulation keeps), in order.
void append_flat(FlatPolygons& flat, const PolygonList& polygons);

// Fan triangulation: polygon q0..q(n-1) gives (q0, qk, qk+1) for k = 1..n-2,
// three fresh vertices per triangle, nothing welded or dropped.
mesh::TriMesh polygons_to_mesh(const PolygonList& polygons);

// ---- Building blocks shared with the tree code ----------------------------

// Bit-for-bit equality of the four numbers (so -0 differs from 0, and a NaN
// equals only the same NaN).
inline bool same_plane_bits(const Plane& a, const Plane& b) {
  return std::memcmp(&a, &b, sizeof(Plane)) == 0;
}

// The plane facing the other way: all four numbers negated (0 becomes -0).
inline Plane negated(const Plane& p) { return {{-p.normal.x, -p.normal.y, -p.normal.z}, -p.w}; }

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A hash of the bits of n doubles, for tables keyed by bit equality.
inline std::uint64_t doubles_bits_hash(const double* x, std::size_t n) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t b;
    std::memcpy(&b, x + i, sizeof b);
    h = (h ^ b) * 0xff51afd7ed558ccdull, h ^= h >> 32;
  }
  return h;
}

// A hash of the four numbers' bits, for tables keyed by same_plane_bits.
inline std::uint64_t plane_bits_hash(const Plane& p) {
  const double x[4] = {p.normal.x, p.normal.y, p.normal.z, p.w};
  return doubles_bits_hash(x, 4);
}

// Ids for planes in order of first sight, equal exactly for planes equal
// bit for bit (same_plane_bits: -0 differs from 0, a NaN matches only
// itself). Open addressing over the ids, at most half full.
class PlaneIds {
 public:
  // Room for `expected` planes before the table first grows.
  void reserve(std::size_t expected) {
    planes_.reserve(expected);
    if (slots_.size() < 2 * expected) rehash(2 * expected);
  }
  std::uint32_t intern(const Plane& p) {
    if (2 * (planes_.size() + 1) > slots_.size()) rehash(2 * (planes_.size() + 1));
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = plane_bits_hash(p) & mask;; i = (i + 1) & mask) {
      if (slots_[i] == EMPTY) {
        slots_[i] = static_cast<std::uint32_t>(planes_.size());
        planes_.push_back(p);
        return slots_[i];
      }
      if (same_plane_bits(planes_[slots_[i]], p)) return slots_[i];
    }
  }
  const Plane& plane(std::uint32_t id) const { return planes_[id]; }
  std::size_t size() const { return planes_.size(); }

 private:
  static constexpr std::uint32_t EMPTY = 0xffffffffu;
  // A power of two of slots, at least `want`.
  void rehash(std::size_t want) {
    std::size_t cap = 16;
    while (cap < want) cap <<= 1;
    slots_.assign(cap, EMPTY);
    for (std::uint32_t id = 0; id < planes_.size(); ++id) {
      std::size_t i = plane_bits_hash(planes_[id]) & (cap - 1);
      while (slots_[i] != EMPTY) i = (i + 1) & (cap - 1);
      slots_[i] = id;
    }
  }
  std::vector<std::uint32_t> slots_;
  std::vector<Plane> planes_;
};

// Class bits of one signed distance t: FRONT above +PLANE_EPSILON, BACK
// below -PLANE_EPSILON, COPLANAR otherwise (NaN included).
inline unsigned class_of_distance(double t) {
  return static_cast<unsigned>(t > gp::PLANE_EPSILON) |
         (static_cast<unsigned>(t < -gp::PLANE_EPSILON) << 1);
}

// The signed distance of v from the plane, as every classification computes it.
inline double plane_distance(const Plane& plane, const Pnt& v) {
  return ((plane.normal.x * v.x + plane.normal.y * v.y) + plane.normal.z * v.z) - plane.w;
}

// Signed-distance class of one vertex: FRONT above +PLANE_EPSILON, BACK below
// -PLANE_EPSILON, COPLANAR otherwise (so exactly +-1e-7 and NaN are COPLANAR).
inline std::uint8_t classify_point(const Plane& plane, const Pnt& v) {
  return static_cast<std::uint8_t>(class_of_distance(plane_distance(plane, v)));
}

// Classifies polygons against one plane; made once per plane and list so
// that the loop keeps the plane in registers.
//
// classify(poly) is the polygon class, with the own-plane rule; when it is
// SPANNING the per-vertex classes are left in scratch.classes for
// split_spanning. With SSE2 the distances go two vertices at a time and
// only the polygon class is gathered, as two ORed compare masks; the rare
// spanning polygon has its vertex classes worked out again, one by one. The
// arithmetic is the scalar expression's, operation for operation, so every
// distance and class is the same.
class PlaneTest {
 public:
  // The plane must outlive the test.
  explicit PlaneTest(const Plane&&) = delete;
  explicit PlaneTest(const Plane& plane) : plane_(&plane) {
#if defined(__SSE2__) && !defined(QUORVALIND_SCALAR_CLASSIFY)
    const Pnt& n = plane.normal;
    nxy_ = _mm_set_pd(n.y, n.x);
    nzx_ = _mm_set_pd(n.x, n.z);
    nyz_ = _mm_set_pd(n.z, n.y);
    nz_ = _mm_set_sd(n.z);
    w_ = _mm_set1_pd(plane.w);
    eps_ = _mm_set1_pd(gp::PLANE_EPSILON);
    neg_eps_ = _mm_set1_pd(-gp::PLANE_EPSILON);
#endif
  }

  [[gnu::always_inline]] std::uint8_t classify(const Polygon& poly, SplitScratch& scratch) const {
    // The offsets differ for nearly every other plane: one word decides.
    if (same_bits(plane_->w, poly.plane.w) && same_plane_bits(*plane_, poly.plane)) return COPLANAR;
    const std::uint32_t n = poly.count;
    const Pnt* v = poly.vertices;
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    scratch.classifications += n;
#endif
#if defined(__SSE2__) && !defined(QUORVALIND_SCALAR_CLASSIFY)
    __m128d front, back;
    if (n == 3) {  // most polygons: straight-line code, no loop
      const __m128d t01 = pair_distance(v);
      const __m128d t2 = distance(v[2]);
      const __m128d t22 = _mm_unpacklo_pd(t2, t2);
      front = _mm_or_pd(_mm_cmpgt_pd(t01, eps_), _mm_cmpgt_pd(t22, eps_));
      back = _mm_or_pd(_mm_cmplt_pd(t01, neg_eps_), _mm_cmplt_pd(t22, neg_eps_));
    } else {
      front = back = _mm_setzero_pd();
      std::uint32_t i = 0;
      for (; i + 1 < n; i += 2) {
        const __m128d t = pair_distance(v + i);
        front = _mm_or_pd(front, _mm_cmpgt_pd(t, eps_));
        back = _mm_or_pd(back, _mm_cmplt_pd(t, neg_eps_));
      }
      if (i < n) {
        const __m128d t = distance(v[i]);
        const __m128d tt = _mm_unpacklo_pd(t, t);
        front = _mm_or_pd(front, _mm_cmpgt_pd(tt, eps_));
        back = _mm_or_pd(back, _mm_cmplt_pd(tt, neg_eps_));
      }
    }
    const unsigned all = static_cast<unsigned>(_mm_movemask_pd(front) != 0) |
                         (static_cast<unsigned>(_mm_movemask_pd(back) != 0) << 1);
    if (all == SPANNING) classify_scalar(*plane_, v, n, scratch);
    return static_cast<std::uint8_t>(all);
#else
    return classify_scalar(*plane_, v, n, scratch);
#endif
  }

 private:
#if defined(__SSE2__) && !defined(QUORVALIND_SCALAR_CLASSIFY)
  // t = ((nx*x + ny*y) + nz*z) - w in the low lane.
  [[gnu::always_inline]] __m128d distance(const Pnt& v) const {
    const __m128d p = _mm_mul_pd(_mm_loadu_pd(&v.x), nxy_);  // nx*x, ny*y
    __m128d t = _mm_add_sd(p, _mm_unpackhi_pd(p, p));
    t = _mm_add_sd(t, _mm_mul_sd(_mm_load_sd(&v.z), nz_));
    return _mm_sub_sd(t, w_);
  }
  // The same for v[0] and v[1] in the two lanes. The six coordinates are
  // loaded as [x0 y0] [z0 x1] [y1 z1], multiplied by the matching normal
  // components, and regrouped into the x, y and z products of both.
  [[gnu::always_inline]] __m128d pair_distance(const Pnt* v) const {
    const double* c = &v->x;
    const __m128d p0 = _mm_mul_pd(_mm_loadu_pd(c), nxy_);      // nx*x0, ny*y0
    const __m128d p1 = _mm_mul_pd(_mm_loadu_pd(c + 2), nzx_);  // nz*z0, nx*x1
    const __m128d p2 = _mm_mul_pd(_mm_loadu_pd(c + 4), nyz_);  // ny*y1, nz*z1
    const __m128d x = _mm_shuffle_pd(p0, p1, 0b10);
    const __m128d y = _mm_shuffle_pd(p0, p2, 0b01);
    const __m128d z = _mm_shuffle_pd(p1, p2, 0b10);
    return _mm_sub_pd(_mm_add_pd(_mm_add_pd(x, y), z), w_);
  }
  __m128d nxy_, nzx_, nyz_, nz_, w_, eps_, neg_eps_;
#endif
  // Classes of v[0..n) into scratch.classes, and their OR.
  static std::uint8_t classify_scalar(const Plane& plane, const Pnt* v, std::uint32_t n,
                                      SplitScratch& scratch);

  // The caller's plane, not a copy: nothing then takes the test's own
  // address, so a one-off test (one polygon against one node) stays in
  // registers instead of being stored whole first.
  const Plane* plane_;
};

// One-off form of PlaneTest::classify.
inline std::uint8_t classify_polygon(const Plane& plane, const Polygon& poly,
                                     SplitScratch& scratch) {
  return PlaneTest(plane).classify(poly, scratch);
}

// True when a COPLANAR polygon goes to the coplanar-front list:
// plane.normal . poly.plane.normal > 0.
inline bool faces_same_way(const Plane& plane, const Polygon& poly) {
  return gp::dot(plane.normal, poly.plane.normal) > 0.0;
}

// Cuts a SPANNING polygon (classes in scratch.classes) into a front and a back
// piece that tile it; a piece of fewer than 3 vertices is not made. Returns
// which were. Where the slab's vertices would make the pieces overlap, the
// cut is made at the plane itself (see polygon.cpp).
struct SpanPieces {
  Polygon front, back;
  bool has_front = false, has_back = false;
  // Every crossing point made had its edge parameter s in [0, 1] (false
  // for NaN): the pieces lie on the polygon up to the rounding of those
  // points.
  bool crossings_on_edges = true;
};
SpanPieces split_spanning(const Plane& plane, const Polygon& poly, VertexPool& pool,
                          SplitScratch& scratch);

}  // namespace quorvalind::bsp
