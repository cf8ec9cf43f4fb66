#include "mesh/tri_mesh.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <utility>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "gp/fault.h"
#include "gp/huge_pages.h"
#include "gp/speed_knobs.h"
#include "gp/tolerances.h"
#include "gp/workers.h"

namespace quorvalind::mesh {

void push_triangle(TriMesh& m, const Pnt& a, const Pnt& b, const Pnt& c) {
  const std::uint64_t n = m.vertices.size();
  m.vertices.push_back(a);
  m.vertices.push_back(b);
  m.vertices.push_back(c);
  m.triangles.push_back({n, n + 1, n + 2});
}

double signed_volume(const TriMesh& m) {
  if (m.triangles.empty()) return 0.0;
  const std::size_t n = m.vertices.size();
  double sum = 0.0;
  for (const Triangle& t : m.triangles) {
    gp::check_index(t[0], n);
    gp::check_index(t[1], n);
    gp::check_index(t[2], n);
    const Pnt& a = m.vertices[t[0]];
    const Pnt& b = m.vertices[t[1]];
    const Pnt& c = m.vertices[t[2]];
    const Pnt w = gp::cross(b, c);
    sum += (a.x * w.x + a.y * w.y) + a.z * w.z;
  }
  return sum / 6.0;
}

double volume(const TriMesh& m) { return std::fabs(signed_volume(m)); }

namespace {

struct Key {
  std::int64_t x, y, z;
  bool operator==(const Key&) const = default;
};

inline std::uint64_t hash_key(const Key& k) {
  std::uint64_t h = static_cast<std::uint64_t>(k.x) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint64_t>(k.y) * 0xC2B2AE3D27D4EB4Full + (h << 6) + (h >> 2);
  h ^= static_cast<std::uint64_t>(k.z) * 0x165667B19E3779F9ull + (h << 6) + (h >> 2);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return h;
}

#ifdef __SSE2__
// weld_key of both lanes when both are below 2^51 in magnitude (NaN is not):
// there, adding 1.5 * 2^52 rounds to the nearest integer exactly, ties to
// even, and leaves that integer in the low bits; a tie that went towards
// zero is moved away from it. Returns false, writing nothing, otherwise.
inline bool weld_key_pair(__m128d v, std::int64_t out[2]) {
  const __m128d abs = _mm_and_pd(v, _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL)));
  if (_mm_movemask_pd(_mm_cmplt_pd(abs, _mm_set1_pd(2251799813685248.0))) != 3) return false;
  const __m128d magic = _mm_set1_pd(6755399441055744.0);
  const __m128d big = _mm_add_pd(v, magic);
  const __m128d frac = _mm_sub_pd(v, _mm_sub_pd(big, magic));  // exact, within +-0.5
  const __m128d zero = _mm_setzero_pd();
  const __m128d up = _mm_and_pd(_mm_cmpeq_pd(frac, _mm_set1_pd(0.5)), _mm_cmpgt_pd(v, zero));
  const __m128d down = _mm_and_pd(_mm_cmpeq_pd(frac, _mm_set1_pd(-0.5)), _mm_cmplt_pd(v, zero));
  __m128i k = _mm_sub_epi64(_mm_castpd_si128(big), _mm_castpd_si128(magic));
  k = _mm_sub_epi64(k, _mm_castpd_si128(up));    // all ones: +1
  k = _mm_add_epi64(k, _mm_castpd_si128(down));  // all ones: -1
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), k);
  return true;
}
#endif

// Cells of the weld grid per unit length (a tolerance that is not
// positive takes the fallback grid).
inline double weld_scale(double tolerance) {
  return tolerance > 0.0 ? 1.0 / tolerance : gp::FALLBACK_WELD_SCALE;
}

inline Key key_of(const Pnt& p, double scale) {
#ifdef __SSE2__
  const __m128d s = _mm_set1_pd(scale);
  std::int64_t xy[2], zz[2];
  if (weld_key_pair(_mm_mul_pd(_mm_loadu_pd(&p.x), s), xy) &&
      weld_key_pair(_mm_set1_pd(p.z * scale), zz)) {
    return Key{xy[0], xy[1], zz[0]};
  }
#endif
  return Key{weld_key(p.x * scale), weld_key(p.y * scale), weld_key(p.z * scale)};
}

// Open-addressing map from weld keys to vertex ids. A slot holds a 32-bit
// hash tag and an id, 8 bytes in the 32-bit form, so the table of a
// million-vertex mesh stays within a few MB. The key itself is not stored:
// an id names a point in `points`, and its key is recomputed from those
// coordinates when a tag matches (the same coordinates and scale give the
// same key). Equal coordinates are checked first, as a soup repeats each
// vertex exactly; numerically equal doubles (0 and -0 included) always share
// a key, and anything else, NaN included, falls through to the whole key.
// The tag only spares work: equality is always decided on the whole key, so
// probe order and tag collisions never influence the result.
template <class Index, class Points = std::vector<Pnt>>
class KeyIndex {
 public:
  // Room for expected_distinct keys before the first growth.
  KeyIndex(const Points& points, double scale, std::size_t expected_distinct)
      : points_(points), scale_(scale) {
    std::size_t cap = 1024;
    while (cap / 4 * 3 < expected_distinct) cap <<= 1;
    allocate(cap);
  }

  // Starts the cache fill of the slot where a lookup with hash h begins.
  void prefetch(std::uint64_t h) const { __builtin_prefetch(&slots_[h & mask_]); }

  // Returns the id stored for key k of point p (whose hash is h), or calls
  // fresh() for a new id, stores it and returns it.
  // k may be null: the key of p is then computed only if a tag matches.
  template <class Fresh>
  Index find_or_insert(const Pnt& p, const Key* k, std::uint64_t h, Fresh&& fresh) {
    if ((size_ + 1) * 4 > cap_ * 3) grow();  // load at most 3/4
    const std::uint32_t tag = static_cast<std::uint32_t>(h >> 32);
    std::size_t i = h & mask_;
    while (true) {
      Slot& s = slots_[i];
      if (s.index == kEmpty) {
        const Index id = fresh();
        s.tag = tag;
        s.index = id;
        ++size_;
        return id;
      }
      if (s.tag == tag) {
        const Pnt& q = points_[s.index];
        if (q.x == p.x && q.y == p.y && q.z == p.z) return s.index;
        if (key_of(q, scale_) == (k ? *k : key_of(p, scale_))) return s.index;
      }
      i = (i + 1) & mask_;
    }
  }

 private:
  static constexpr Index kEmpty = static_cast<Index>(-1);
  struct Slot {
    std::uint32_t tag;
    Index index;
  };

  void allocate(std::size_t cap) {
    slots_ = gp::fresh_array<Slot>(cap);
    for (std::size_t i = 0; i < cap; ++i) slots_[i].index = kEmpty;
    cap_ = cap;
    mask_ = cap - 1;
  }

  void grow() {
    std::unique_ptr<Slot[]> old = std::move(slots_);
    const std::size_t old_cap = cap_;
    allocate(old_cap * 2);
    for (std::size_t j = 0; j < old_cap; ++j) {
      const Slot& s = old[j];
      if (s.index == kEmpty) continue;
      std::size_t i = hash_key(key_of(points_[s.index], scale_)) & mask_;
      while (slots_[i].index != kEmpty) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  const Points& points_;
  const double scale_;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
  std::size_t mask_ = 0;
  std::unique_ptr<Slot[]> slots_;
};

// The weld's vertex pass: writes every ids[v], the id of v's cell, where a cell's id is
// what fresh(v) returned for its first vertex. `points` must hold, at each
// id fresh() has returned, the coordinates of that first vertex.
// A surface mesh has about half as many vertices as triangles, and a
// builder soup (three vertices per triangle) welds down to that count: sized
// so, the table rarely has to grow.
inline std::size_t expected_welded(std::size_t vertices, std::size_t triangles) {
  return std::min(vertices, triangles / 2 + 1);
}

template <class Index, class Fresh>
void weld_pass(std::span<const Pnt> vertices, std::size_t expected_distinct, double tolerance,
               const std::vector<Pnt>& points, Index* ids, Fresh&& fresh) {
  const double scale = weld_scale(tolerance);
  const std::size_t n = vertices.size();
  KeyIndex<Index> index(points, scale, expected_distinct);
  // Keys are computed kAhead vertices early so that the slot of each is
  // already on its way into the cache when it is looked up.
  constexpr std::size_t kAhead = 16;
  Key keys[kAhead];
  std::uint64_t hashes[kAhead];
  for (std::size_t v = 0; v < n && v < kAhead; ++v) {
    keys[v] = key_of(vertices[v], scale);
    hashes[v] = hash_key(keys[v]);
  }
  for (std::size_t v = 0; v < n; ++v) {
    const std::size_t slot = v % kAhead;
    const Key k = keys[slot];
    const std::uint64_t h = hashes[slot];
    if (v + kAhead < n) {
      keys[slot] = key_of(vertices[v + kAhead], scale);
      hashes[slot] = hash_key(keys[slot]);
      index.prefetch(hashes[slot]);
    }
    ids[v] = index.find_or_insert(vertices[v], &k, h, [&] { return fresh(v); });
  }
}

template <class Index>
TriMesh welded_as(const TriMesh& m, double tolerance) {
  const std::size_t n = m.vertices.size();
  std::unique_ptr<Index[]> remap = gp::fresh_array<Index>(n);
  TriMesh out;
  const std::size_t expected = expected_welded(n, m.triangles.size());
  out.vertices.reserve(expected);
  // Ids are output indices: each first occurrence is appended as it is met.
  weld_pass(std::span<const Pnt>(m.vertices), expected, tolerance, out.vertices, remap.get(),
            [&](std::size_t v) {
              out.vertices.push_back(m.vertices[v]);
              return static_cast<Index>(out.vertices.size() - 1);
            });
  out.triangles.reserve(m.triangles.size());
  for (const Triangle& t : m.triangles) {
    gp::check_index(t[0], n);
    gp::check_index(t[1], n);
    gp::check_index(t[2], n);
    const std::uint64_t a = remap[t[0]], b = remap[t[1]], c = remap[t[2]];
    if (a != c && a != b && b != c) out.triangles.push_back({a, b, c});
  }
  return out;
}

// welded() of the fan soup without making it. In the soup a fan
// q0..q(n-1) lays out q0 q1 q2, q0 q2 q3, ..., q0 q(n-2) q(n-1): its vertices
// first appear in the order q0, q1, ..., q(n-1), and every later appearance
// repeats one of them exactly. Welding each fan's vertices once, in order,
// therefore meets every cell first at the same vertex as the soup's weld,
// and the triangles, renumbered and filtered in soup order, come out the same.
// The triangles the fans make; faults on a fan of fewer than 3 vertices
// or counts that do not add up to the n vertices.
std::size_t fan_triangles(std::span<const std::uint32_t> counts, std::size_t n) {
  std::size_t total = 0, triangles = 0;
  for (const std::uint32_t c : counts) {
    if (c < 3) throw gp::InternalFault("fan with fewer than 3 vertices");
    total += c;
    triangles += c - 2;
  }
  if (total != n) throw gp::InternalFault("fan vertex counts do not match the vertex list");
  return triangles;
}

template <class Index>
TriMesh welded_fans_as(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                       double tolerance) {
  const std::size_t n = vertices.size();
  const std::size_t triangles = fan_triangles(counts, n);
  std::unique_ptr<Index[]> ids = gp::fresh_array<Index>(n);
  TriMesh out;
  const std::size_t expected = expected_welded(n, triangles);
  out.vertices.reserve(expected);
  // A table sized for three times the expected count stays at most a
  // quarter full: a boolean result's lookups, mostly hits, then rarely probe
  // past their first slot (a third faster here than at half full). Results
  // are small enough for the extra room to stay in cache.
  weld_pass(vertices, 3 * expected, tolerance, out.vertices, ids.get(), [&](std::size_t v) {
    out.vertices.push_back(vertices[v]);
    return static_cast<Index>(out.vertices.size() - 1);
  });
  out.triangles.reserve(triangles);
  const Index* fan = ids.get();
  for (const std::uint32_t c : counts) {
    const std::uint64_t a = fan[0];
    for (std::uint32_t k = 1; k + 1 < c; ++k) {
      const std::uint64_t b = fan[k], d = fan[k + 1];
      if (a != d && a != b && b != d) out.triangles.push_back({a, b, d});
    }
    fan += c;
  }
  return out;
}

// welded_fans_as over a team of threads, with the same result:
//   hashes (vertex ranges): the hash of every vertex's key, and each
//     range's vertices listed by the part of the hash range they fall in
//     (one part per thread, so that no two share a cell);
//   firsts (parts): each part visits its vertices in order, range by
//     range, and keeps, per cell, the first; firsts[v] is the first vertex
//     of v's cell;
//   ids (vertex ranges, twice): a cell's id is the number of cells whose
//     first vertex comes before its own, as the one-thread weld numbers
//     them in order of first sight; first vertices get theirs from the
//     counts of the ranges before, then every other vertex its first's;
//   triangles (polygon ranges): each range's fans, renumbered and
//     filtered, laid one range after the other.
template <class Index>
TriMesh welded_fans_team(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                         double tolerance, gp::WorkerTeam& team) {
  const std::size_t n = vertices.size();
  const std::size_t triangles = fan_triangles(counts, n);
  const double scale = weld_scale(tolerance);
  const std::size_t parts = team.size();
  const std::size_t ranges = 4 * parts;
  const auto range_begin = [&](std::size_t r, std::size_t count) { return r * count / ranges; };
  std::unique_ptr<std::uint64_t[]> hashes = gp::fresh_array<std::uint64_t>(n);
  // The part of a hash: from its top bits, which the table's slots (the
  // low bits) do not use.
  const auto part_of = [&](std::uint64_t h) { return static_cast<std::size_t>((h >> 40) % parts); };
  // Each range's vertices by part, in order.
  std::vector<std::vector<std::vector<Index>>> of_part(ranges,
                                                       std::vector<std::vector<Index>>(parts));
  team.run(ranges, [&](std::size_t r, unsigned) {
    const std::size_t begin = range_begin(r, n), end = range_begin(r + 1, n);
    for (std::vector<Index>& list : of_part[r]) list.reserve((end - begin) / parts + 16);
    for (std::size_t v = begin; v < end; ++v) {
      const std::uint64_t h = hash_key(key_of(vertices[v], scale));
      hashes[v] = h;
      of_part[r][part_of(h)].push_back(static_cast<Index>(v));
    }
  });
  std::unique_ptr<Index[]> firsts = gp::fresh_array<Index>(n);
  const std::size_t expected = expected_welded(n, triangles);
  team.run(parts, [&](std::size_t p, unsigned) {
    KeyIndex<Index, std::span<const Pnt>> index(vertices, scale, 3 * expected / parts + 1);
    constexpr std::size_t kAhead = 16;
    for (std::size_t r = 0; r < ranges; ++r) {
      const std::vector<Index>& list = of_part[r][p];
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (i + kAhead < list.size()) index.prefetch(hashes[list[i + kAhead]]);
        const Index v = list[i];
        firsts[v] = index.find_or_insert(vertices[v], nullptr, hashes[v], [v] { return v; });
      }
    }
  });
  of_part.clear();
  hashes.reset();
  std::vector<std::size_t> firsts_before(ranges + 1, 0);
  team.run(ranges, [&](std::size_t r, unsigned) {
    std::size_t count = 0;
    for (std::size_t v = range_begin(r, n); v < range_begin(r + 1, n); ++v) count += firsts[v] == v;
    firsts_before[r + 1] = count;
  });
  for (std::size_t r = 0; r < ranges; ++r) firsts_before[r + 1] += firsts_before[r];
  TriMesh out;
  out.vertices.resize(firsts_before[ranges]);
  std::unique_ptr<Index[]> ids = gp::fresh_array<Index>(n);
  team.run(ranges, [&](std::size_t r, unsigned) {
    std::size_t id = firsts_before[r];
    for (std::size_t v = range_begin(r, n); v < range_begin(r + 1, n); ++v) {
      if (firsts[v] != v) continue;
      out.vertices[id] = vertices[v];
      ids[v] = static_cast<Index>(id++);
    }
  });
  team.run(ranges, [&](std::size_t r, unsigned) {
    for (std::size_t v = range_begin(r, n); v < range_begin(r + 1, n); ++v) {
      if (firsts[v] != v) ids[v] = ids[firsts[v]];
    }
  });
  firsts.reset();
  // Polygon ranges and where their vertices start.
  const std::size_t polygons = counts.size();
  std::vector<std::size_t> start(ranges + 1, 0);
  for (std::size_t r = 0; r < ranges; ++r) {
    std::size_t s = start[r];
    for (std::size_t k = range_begin(r, polygons); k < range_begin(r + 1, polygons); ++k) {
      s += counts[k];
    }
    start[r + 1] = s;
  }
  std::vector<std::vector<Triangle>> tris(ranges);
  team.run(ranges, [&](std::size_t r, unsigned) {
    std::vector<Triangle>& mine = tris[r];
    const Index* fan = ids.get() + start[r];
    for (std::size_t k = range_begin(r, polygons); k < range_begin(r + 1, polygons); ++k) {
      const std::uint32_t c = counts[k];
      const std::uint64_t a = fan[0];
      for (std::uint32_t j = 1; j + 1 < c; ++j) {
        const std::uint64_t b = fan[j], d = fan[j + 1];
        if (a != d && a != b && b != d) mine.push_back({a, b, d});
      }
      fan += c;
    }
  });
  std::vector<std::size_t> at(ranges + 1, 0);
  for (std::size_t r = 0; r < ranges; ++r) at[r + 1] = at[r] + tris[r].size();
  out.triangles.resize(at[ranges]);
  team.run(ranges, [&](std::size_t r, unsigned) {
    std::copy(tris[r].begin(), tris[r].end(),
              out.triangles.begin() + static_cast<std::ptrdiff_t>(at[r]));
  });
  return out;
}

}  // namespace

template <class Index>
std::unique_ptr<Index[]> weld_firsts(const TriMesh& m, double tolerance) {
  std::unique_ptr<Index[]> firsts = gp::fresh_array<Index>(m.vertices.size());
  // Ids are input indices, so the input itself holds their coordinates.
  weld_pass(std::span<const Pnt>(m.vertices),
            expected_welded(m.vertices.size(), m.triangles.size()), tolerance, m.vertices,
            firsts.get(), [](std::size_t v) { return static_cast<Index>(v); });
  return firsts;
}

template std::unique_ptr<std::uint32_t[]> weld_firsts(const TriMesh&, double);
template std::unique_ptr<std::uint64_t[]> weld_firsts(const TriMesh&, double);

// Cells are owned by one half each, by the top bit of their key's hash, so
// the halves share no cell and each can keep first occurrences with a table
// of its own, visiting its vertices in order:
//   range pass (each half one vertex range): hash every vertex and append
//     (v, hash) to the list of the owner half, in order of v
//   weld pass (each half its own cells): for v in the lists of this half,
//     range 0's then range 1's, firsts[v] = first vertex of v's cell
// The lists are appended without a branch on the owner, which is a coin
// flip per vertex. Each half writes only the firsts of its own vertices.
template <class Index>
std::unique_ptr<Index[]> weld_firsts_in_halves(const TriMesh& m, double tolerance,
                                               gp::ThreadStarter start) {
  const double scale = weld_scale(tolerance);
  const std::vector<Pnt>& vertices = m.vertices;
  const std::size_t n = vertices.size();
  const std::size_t mid = n / 2;
  struct Entry {
    std::uint64_t hash;
    Index v;
  };
  // Each list has room for its whole range plus the one entry written past
  // its end; pages of the part a list does not fill are never touched.
  const std::size_t room[2] = {mid + 1, n - mid + 1};
  std::unique_ptr<Entry[]> entries = gp::fresh_array<Entry>(2 * (room[0] + room[1]));
  Entry* const e = entries.get();
  Entry* lists[2][2] = {{e, e + room[0]}, {e + 2 * room[0], e + 2 * room[0] + room[1]}};
  std::size_t sizes[2][2] = {{0, 0}, {0, 0}};
  gp::run_halves(
      [&](int range) {
        const std::size_t begin = range == 0 ? 0 : mid, end = range == 0 ? mid : n;
        Entry* out[2] = {lists[range][0], lists[range][1]};
        std::size_t count[2] = {0, 0};
        for (std::size_t v = begin; v < end; ++v) {
          const std::uint64_t h = hash_key(key_of(vertices[v], scale));
          const std::size_t owner = h >> 63;
          // Written to both lists; only the owner's count moves on.
          out[0][count[0]] = {h, static_cast<Index>(v)};
          out[1][count[1]] = {h, static_cast<Index>(v)};
          ++count[owner];
        }
        sizes[range][0] = count[0];
        sizes[range][1] = count[1];
      },
      start);
  std::unique_ptr<Index[]> firsts = gp::fresh_array<Index>(n);
  Index* f = firsts.get();
  const std::size_t expected = std::min(n, m.triangles.size() / 2 + 1) / 2 + 1;
  gp::run_halves(
      [&](int owner) {
        KeyIndex<Index> index(vertices, scale, expected);
        constexpr std::size_t kAhead = 16;
        for (int range = 0; range < 2; ++range) {
          const Entry* list = lists[range][owner];
          const std::size_t size = sizes[range][owner];
          for (std::size_t i = 0; i < size; ++i) {
            if (i + kAhead < size) index.prefetch(list[i + kAhead].hash);
            const Index v = list[i].v;
            f[v] = index.find_or_insert(vertices[v], nullptr, list[i].hash, [v] { return v; });
          }
        }
      },
      start);
  return firsts;
}

template std::unique_ptr<std::uint32_t[]> weld_firsts_in_halves(const TriMesh&, double,
                                                                gp::ThreadStarter);
template std::unique_ptr<std::uint64_t[]> weld_firsts_in_halves(const TriMesh&, double,
                                                                gp::ThreadStarter);

TriMesh welded(const TriMesh& m, double tolerance) {
  if (weld_fits_u32(m.vertices.size())) return welded_as<std::uint32_t>(m, tolerance);
  return welded_as<std::uint64_t>(m, tolerance);
}

TriMesh welded_fans(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                    double tolerance) {
  if (weld_fits_u32(vertices.size()))
    return welded_fans_as<std::uint32_t>(vertices, counts, tolerance);
  return welded_fans_as<std::uint64_t>(vertices, counts, tolerance);
}

TriMesh welded_fans(std::span<const Pnt> vertices, std::span<const std::uint32_t> counts,
                    double tolerance, unsigned threads, gp::ThreadStarter start) {
  if (threads <= 1 || vertices.size() < gp::WELD_TEAM_MIN_VERTICES) {
    return welded_fans(vertices, counts, tolerance);
  }
  gp::WorkerTeam team(threads, start);
  if (team.size() == 1) return welded_fans(vertices, counts, tolerance);
  if (weld_fits_u32(vertices.size())) {
    return welded_fans_team<std::uint32_t>(vertices, counts, tolerance, team);
  }
  return welded_fans_team<std::uint64_t>(vertices, counts, tolerance, team);
}

void transform(TriMesh& m, const gp::Trsf& t) {
  for (Pnt& p : m.vertices) p = gp::apply(t, p);
  if (gp::determinant(t) < 0.0) {
    for (Triangle& tri : m.triangles) std::swap(tri[1], tri[2]);
  }
}

}  // namespace quorvalind::mesh
