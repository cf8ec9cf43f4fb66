#include "mesh/tri_mesh.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "gp/fault.h"
#include "gp/tolerances.h"

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

std::int64_t weld_key(double scaled) {
  // Below 2^52 the fraction v - trunc(v) is exact, so comparing it with 0.5
  // rounds half away from zero without a library call; at or above 2^52
  // every double is already an integer.
  if (scaled != scaled) return 0;
  if (scaled > -4503599627370496.0 && scaled < 4503599627370496.0) {
    std::int64_t k = static_cast<std::int64_t>(scaled);
    const double frac = scaled - static_cast<double>(k);
    if (frac >= 0.5) ++k;
    else if (frac <= -0.5) --k;
    return k;
  }
  // 2^63 is the first value past the int64 range; -2^63 itself is in range.
  if (scaled >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (scaled < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(scaled);
}

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

// Open-addressing map from weld keys to output indices, grown with the
// number of distinct keys. Probe order never influences the result: indices
// are assigned by first appearance.
class KeyIndex {
 public:
  // Room for expected_distinct keys before the first growth.
  explicit KeyIndex(std::size_t expected_distinct) {
    std::size_t cap = 1024;
    while (cap / 4 * 3 < expected_distinct) cap <<= 1;
    slots_.assign(cap, Slot{});
    mask_ = cap - 1;
  }

  // Starts the cache fill of the slot where a lookup with hash h begins.
  void prefetch(std::uint64_t h) const { __builtin_prefetch(&slots_[h & mask_]); }

  // Returns the stored index for k (whose hash is h), or inserts `fresh`
  // and returns it.
  std::uint64_t find_or_insert(const Key& k, std::uint64_t h, std::uint64_t fresh) {
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();  // load at most 3/4
    std::size_t i = h & mask_;
    while (true) {
      Slot& s = slots_[i];
      if (s.index == kEmpty) {
        s.key = k;
        s.index = fresh;
        ++size_;
        return fresh;
      }
      if (s.key == k) return s.index;
      i = (i + 1) & mask_;
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = std::numeric_limits<std::uint64_t>::max();
  struct Slot {
    Key key;
    std::uint64_t index = kEmpty;
  };

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    const std::size_t cap = old.empty() ? 1024 : old.size() * 2;
    slots_.assign(cap, Slot{});
    mask_ = cap - 1;
    for (const Slot& s : old) {
      if (s.index == kEmpty) continue;
      std::size_t i = hash_key(s.key) & mask_;
      while (slots_[i].index != kEmpty) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::size_t size_ = 0;
  std::size_t mask_ = 0;
  std::vector<Slot> slots_;
};

}  // namespace

TriMesh welded(const TriMesh& m, double tolerance) {
  const double scale = tolerance > 0.0 ? 1.0 / tolerance : gp::FALLBACK_WELD_SCALE;
  const std::size_t n = m.vertices.size();
  TriMesh out;
  std::vector<std::uint64_t> remap(n);
  {
    // A surface mesh has about half as many vertices as triangles, and a
    // builder soup (three vertices per triangle) welds down to that count:
    // sized so, the table rarely has to grow.
    const std::size_t expected = std::min(n, m.triangles.size() / 2 + 1);
    KeyIndex index(expected);
    out.vertices.reserve(expected);
    // Keys are computed kAhead vertices early so that the slot of each is
    // already on its way into the cache when it is looked up.
    constexpr std::size_t kAhead = 16;
    Key keys[kAhead];
    std::uint64_t hashes[kAhead];
    auto key_of = [&](std::size_t v) {
      const Pnt& p = m.vertices[v];
      return Key{weld_key(p.x * scale), weld_key(p.y * scale), weld_key(p.z * scale)};
    };
    for (std::size_t v = 0; v < n && v < kAhead; ++v) {
      keys[v] = key_of(v);
      hashes[v] = hash_key(keys[v]);
    }
    for (std::size_t v = 0; v < n; ++v) {
      const std::size_t slot = v % kAhead;
      const Key k = keys[slot];
      const std::uint64_t h = hashes[slot];
      if (v + kAhead < n) {
        keys[slot] = key_of(v + kAhead);
        hashes[slot] = hash_key(keys[slot]);
        index.prefetch(hashes[slot]);
      }
      const std::uint64_t fresh = out.vertices.size();
      const std::uint64_t idx = index.find_or_insert(k, h, fresh);
      if (idx == fresh) out.vertices.push_back(m.vertices[v]);
      remap[v] = idx;
    }
  }
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

void transform(TriMesh& m, const gp::Trsf& t) {
  for (Pnt& p : m.vertices) p = gp::apply(t, p);
  if (gp::determinant(t) < 0.0) {
    for (Triangle& tri : m.triangles) std::swap(tri[1], tri[2]);
  }
}

}  // namespace quorvalind::mesh
