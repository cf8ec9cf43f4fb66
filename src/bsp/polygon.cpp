#include "bsp/polygon.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#include "gp/fault.h"
#include "gp/tolerances.h"
#include "bsp/reuse.h"

namespace quorvalind::bsp {

// ---- VertexPool -----------------------------------------------------------

namespace {
// A released block keeps the pointer to the next free block of its size in
// its first bytes (every block holds at least one Pnt, which is wider).
inline Pnt* next_free(Pnt* block) {
  Pnt* next;
  std::memcpy(&next, static_cast<const void*>(block), sizeof next);
  return next;
}
inline void set_next_free(Pnt* block, Pnt* next) {
  std::memcpy(static_cast<void*>(block), &next, sizeof next);
}
}  // namespace

VertexPool::VertexPool(VertexPool&& other) noexcept
    : chunks_(std::move(other.chunks_)),
      big_chunks_(std::move(other.big_chunks_)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      end_(std::exchange(other.end_, nullptr)),
      free_(std::move(other.free_)) {
  other.chunks_.clear();
  other.big_chunks_.clear();
  other.free_.clear();
}

VertexPool& VertexPool::operator=(VertexPool&& other) noexcept {
  if (this != &other) {
    free_all();
    chunks_ = std::move(other.chunks_);
    big_chunks_ = std::move(other.big_chunks_);
    cursor_ = std::exchange(other.cursor_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    free_ = std::move(other.free_);
    other.chunks_.clear();
    other.big_chunks_.clear();
    other.free_.clear();
  }
  return *this;
}

VertexPool::~VertexPool() { free_all(); }

void VertexPool::free_all() {
  for (void* c : chunks_) {
    if (!reuse::keep_chunk(c)) std::free(c);
  }
  for (void* c : big_chunks_) std::free(c);
  chunks_.clear();
  big_chunks_.clear();
  free_.clear();
  cursor_ = end_ = nullptr;
}

void VertexPool::new_chunk(std::size_t n) {
  const bool standard = n <= CHUNK_VERTICES;
  const std::size_t size = standard ? CHUNK_VERTICES : n;
  if (size > std::numeric_limits<std::size_t>::max() / sizeof(Pnt)) throw std::bad_alloc();
  std::vector<void*>& list = standard ? chunks_ : big_chunks_;
  list.reserve(list.size() + 1);
  void* mem = standard ? reuse::take_chunk() : nullptr;
  if (mem == nullptr) mem = std::malloc(size * sizeof(Pnt));
  if (mem == nullptr) throw std::bad_alloc();
  list.push_back(mem);
  // Pnt is an aggregate of doubles, an implicit-lifetime type: the raw
  // storage can be used as Pnt objects directly.
  cursor_ = static_cast<Pnt*>(mem);
  end_ = cursor_ + size;
}

void VertexPool::reserve(std::size_t n) {
  if (static_cast<std::size_t>(end_ - cursor_) < n) new_chunk(n);
}

Pnt* VertexPool::allocate_run(std::size_t n) {
  reserve(n);
  Pnt* run = cursor_;
  cursor_ += n;
  return run;
}

Pnt* VertexPool::allocate(std::uint32_t n) {
  if (n == 0) n = 1;
  if (n < free_.size() && free_[n] != nullptr) {
    Pnt* block = free_[n];
    free_[n] = next_free(block);
    return block;
  }
  if (static_cast<std::size_t>(end_ - cursor_) < n) new_chunk(n);
  Pnt* block = cursor_;
  cursor_ += n;
  return block;
}

void VertexPool::release(Pnt* block, std::uint32_t n) {
  if (block == nullptr) return;
  if (n == 0) n = 1;
  if (n >= free_.size()) free_.resize(std::size_t{n} + 1, nullptr);
  set_next_free(block, free_[n]);
  free_[n] = block;
}

// ---- Polygons -------------------------------------------------------------

Polygon make_polygon(VertexPool& pool, std::span<const Pnt> vertices, const Plane& plane) {
  if (vertices.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw gp::InternalFault("polygon has too many vertices");
  }
  Polygon p;
  p.plane = plane;
  p.count = static_cast<std::uint32_t>(vertices.size());
  p.vertices = pool.allocate(p.count);
  std::copy(vertices.begin(), vertices.end(), p.vertices);
  return p;
}

Polygon copy_polygon(VertexPool& pool, const Polygon& p) {
  return make_polygon(pool, vertices_of(p), p.plane);
}

std::uint8_t PlaneTest::classify_scalar(const Plane& plane, const Pnt* v, std::uint32_t n,
                                        SplitScratch& scratch) {
  if (scratch.classes.size() < n) scratch.classes.resize(n);
  std::uint8_t* cls = scratch.classes.data();
  unsigned all = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const unsigned c = classify_point(plane, v[i]);
    cls[i] = static_cast<std::uint8_t>(c);
    all |= c;
  }
  return static_cast<std::uint8_t>(all);
}

PolygonList mesh_to_polygons(const mesh::TriMesh& m, VertexPool& pool) {
  PolygonList out;
  append_mesh_polygons(m, pool, out);
  return out;
}

void append_mesh_polygons(const mesh::TriMesh& m, VertexPool& pool, PolygonList& out) {
  out.reserve(out.size() + m.triangles.size());
  // Every polygon's three corners in one run, in triangle order.
  Pnt* corners = pool.allocate_run(3 * m.triangles.size());
  const std::size_t nv = m.vertices.size();
  for (const mesh::Triangle& t : m.triangles) {
    gp::check_index(t[0], nv);
    gp::check_index(t[1], nv);
    gp::check_index(t[2], nv);
    const Pnt& a = m.vertices[t[0]];
    const Pnt& b = m.vertices[t[1]];
    const Pnt& c = m.vertices[t[2]];
    const Pnt u = gp::sub(b, a);
    const Pnt v = gp::sub(c, a);
    const Pnt n = gp::cross(u, v);
    const double len = std::sqrt(n.z * n.z + (n.x * n.x + n.y * n.y));
    if (len < gp::MIN_NORMAL_LENGTH) continue;  // NaN is not less: kept
    const double inv = 1.0 / len;
    Plane plane;
    plane.normal = {n.x * inv, n.y * inv, n.z * inv};
    // Same summation as the classification, so a sits at distance exactly 0.
    plane.w = (plane.normal.x * a.x + plane.normal.y * a.y) + plane.normal.z * a.z;
    corners[0] = a;
    corners[1] = b;
    corners[2] = c;
    out.push_back(Polygon{plane, corners, 3});
    corners += 3;
  }
}

// Spanning walk, for vertices v0..v(m-1) with classes t0..t(m-1):
//
//   f, b = [], []
//   for i in 0..m-1:
//       j = (i + 1) % m
//       if t[i] != BACK:  f.append(v[i])
//       if t[i] != FRONT: b.append(v[i])        # coplanar vertices go to both
//       if t[i] | t[j] == SPANNING:               # edge crosses the plane
//           e = v[j] - v[i]                       # per component
//           d = n . e                             # (x + y) + z
//           if abs(d) > SPLIT_DENOMINATOR_EPSILON:  # NaN: no crossing point
//               s = (w - n . v[i]) / d
//               p = v[i] + e * s                  # per component
//               f.append(p); b.append(p)
//   front piece = f if len(f) >= 3; back piece = b if len(b) >= 3
//
// Both pieces keep the parent's plane unchanged.
//
// The pieces share the points appended to both. On a plane that meets the
// polygon those are the two ends of one chord, and the pieces tile the
// polygon. A plane at a tiny angle to the polygon leaves a band of the
// polygon inside the slab, and a slab vertex may lie well off the line
// where the plane crosses the polygon: with three or more shared points
// both pieces cover the polygon those points span, and that area would be
// kept twice. That case is cut again at the plane itself (split_at_plane).
namespace {

// The spanning walk with the slab's COPLANAR vertices put on the side of
// their signed distance (exact 0 and NaN stay on the plane), into f and b:
// the shared points are then the chord's ends. A crossing is at
// s = t[i] / (t[i] - t[j]) from the signed distances, which lies in [0, 1]
// whatever their size, where (w - n . v[i]) / d can be far off when both
// are near zero. Returns false, leaving f and b alone, when every slab
// vertex is exactly on the plane (nothing would change).
bool split_at_plane(const Plane& plane, const Polygon& poly, SplitScratch& scratch,
                    bool& crossings_on_edges) {
  const std::uint32_t m = poly.count;
  const Pnt* v = poly.vertices;
  const std::uint8_t* cls = scratch.classes.data();
  std::vector<double>& t = scratch.distances;
  std::vector<std::uint8_t>& side = scratch.sides;
  t.resize(m);
  side.resize(m);
  bool moved = false;
  for (std::uint32_t i = 0; i < m; ++i) {
    t[i] = plane_distance(plane, v[i]);
    side[i] = cls[i];
    if (cls[i] == COPLANAR) {
      side[i] = static_cast<std::uint8_t>((t[i] > 0.0) | ((t[i] < 0.0) << 1));
      moved = moved || side[i] != COPLANAR;
    }
  }
  if (!moved) return false;
  std::vector<Pnt>& f = scratch.front;
  std::vector<Pnt>& b = scratch.back;
  f.clear();
  b.clear();
  crossings_on_edges = true;
  for (std::uint32_t i = 0; i < m; ++i) {
    const std::uint32_t j = i + 1 == m ? 0 : i + 1;
    const Pnt& vi = v[i];
    if (side[i] != BACK) f.push_back(vi);
    if (side[i] != FRONT) b.push_back(vi);
    if ((side[i] | side[j]) == SPANNING) {
      const double s = t[i] / (t[i] - t[j]);
      if (!(s >= 0.0 && s <= 1.0)) {  // NaN from infinite distances: no crossing point
        crossings_on_edges = false;
        continue;
      }
      const Pnt e = gp::sub(v[j], vi);
      const Pnt p{vi.x + e.x * s, vi.y + e.y * s, vi.z + e.z * s};
      f.push_back(p);
      b.push_back(p);
    }
  }
  return true;
}

}  // namespace

SpanPieces split_spanning(const Plane& plane, const Polygon& poly, VertexPool& pool,
                          SplitScratch& scratch) {
  const std::uint32_t m = poly.count;
  const std::uint8_t* cls = scratch.classes.data();
  const Pnt* v = poly.vertices;
  const Pnt& n = plane.normal;
  std::vector<Pnt>& f = scratch.front;
  std::vector<Pnt>& b = scratch.back;
  f.clear();
  b.clear();
  SpanPieces out;
  std::uint32_t shared = 0;  // points appended to both pieces
  for (std::uint32_t i = 0; i < m; ++i) {
    const std::uint32_t j = i + 1 == m ? 0 : i + 1;
    const std::uint8_t ti = cls[i];
    const std::uint8_t tj = cls[j];
    const Pnt& vi = v[i];
    if (ti != BACK) f.push_back(vi);
    if (ti != FRONT) b.push_back(vi);
    if (ti == COPLANAR) ++shared;
    if ((ti | tj) == SPANNING) {
      const Pnt& vj = v[j];
      const Pnt e = gp::sub(vj, vi);
      const double d = gp::dot(n, e);
      if (std::fabs(d) > gp::SPLIT_DENOMINATOR_EPSILON) {
        const double s = (plane.w - gp::dot(n, vi)) / d;
        if (!(s >= 0.0 && s <= 1.0)) out.crossings_on_edges = false;
        const Pnt p{vi.x + e.x * s, vi.y + e.y * s, vi.z + e.z * s};
        f.push_back(p);
        b.push_back(p);
        ++shared;
      }
    }
  }
  // More than two shared points: the pieces overlap.
  if (shared > 2) split_at_plane(plane, poly, scratch, out.crossings_on_edges);
  if (f.size() >= 3) {
    out.front = make_polygon(pool, f, poly.plane);
    out.has_front = true;
  }
  if (b.size() >= 3) {
    out.back = make_polygon(pool, b, poly.plane);
    out.has_back = true;
  }
  return out;
}

void split_polygon(const Plane& plane, const Polygon& poly, PolygonList& coplanar_front,
                   PolygonList& coplanar_back, PolygonList& front, PolygonList& back,
                   VertexPool& pool, SplitScratch& scratch) {
  switch (classify_polygon(plane, poly, scratch)) {
    case COPLANAR:
      (faces_same_way(plane, poly) ? coplanar_front : coplanar_back)
          .push_back(copy_polygon(pool, poly));
      break;
    case FRONT: front.push_back(copy_polygon(pool, poly)); break;
    case BACK: back.push_back(copy_polygon(pool, poly)); break;
    default: {
      SpanPieces pieces = split_spanning(plane, poly, pool, scratch);
      if (pieces.has_front) front.push_back(pieces.front);
      if (pieces.has_back) back.push_back(pieces.back);
      break;
    }
  }
}

void append_flat(FlatPolygons& flat, const PolygonList& polygons) {
  std::size_t vertices = 0, kept = 0;
  for (const Polygon& p : polygons) {
    if (p.count >= 3) vertices += p.count, ++kept;
  }
  flat.vertices.reserve(flat.vertices.size() + vertices);
  flat.counts.reserve(flat.counts.size() + kept);
  for (const Polygon& p : polygons) {
    if (p.count < 3) continue;
    flat.vertices.insert(flat.vertices.end(), p.vertices, p.vertices + p.count);
    flat.counts.push_back(p.count);
  }
}

mesh::TriMesh polygons_to_mesh(const PolygonList& polygons) {
  std::size_t triangles = 0;
  for (const Polygon& p : polygons) {
    if (p.count >= 3) triangles += p.count - 2;
  }
  mesh::TriMesh out;
  out.vertices.reserve(3 * triangles);
  out.triangles.reserve(triangles);
  for (const Polygon& p : polygons) {
    if (p.count < 3) continue;
    for (std::uint32_t k = 1; k + 1 < p.count; ++k) {
      mesh::push_triangle(out, p.vertices[0], p.vertices[k], p.vertices[k + 1]);
    }
  }
  return out;
}

}  // namespace quorvalind::bsp
