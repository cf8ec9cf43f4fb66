#include "simplify/simplify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <new>
#include <set>
#include <tuple>
#include <vector>

#include "gp/fault.h"
#include "gp/tolerances.h"
#include "mesh/edge_splits.h"
#include "simplify/polygon_fill.h"

// Why the surface cannot move: every output vertex is an input vertex at its
// own place, and every output triangle lies in a region whose input
// triangles all had their corners within the plane tolerance of one plane.
// A region's outline runs through the kept vertices of its boundary, and a
// boundary vertex is dropped only when the boundary chain through it stays
// within the same tolerance of the straight segment that replaces it
// (Douglas-Peucker on the chain), so the outline moves no more than that.
// The fill covers exactly the outline (checked by area, every triangle
// turning the region's way), hence the surface of each region moves by at
// most the tolerance, and regions that share a chain share its kept
// vertices: the pieces meet edge to edge.
namespace quorvalind::simplify {

using gp::Pnt;
using mesh::Triangle;
using mesh::TriMesh;

namespace {

constexpr std::uint32_t NONE = std::numeric_limits<std::uint32_t>::max();
// Rounds of "fill, pin the regions that failed, fill again" before every
// region keeps its own triangles.
constexpr int MAX_ROUNDS = 8;

bool finite(const Pnt& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

double dist2(const Pnt& a, const Pnt& b) {
  const Pnt d = gp::sub(a, b);
  return gp::dot(d, d);
}

// Whether triangle a b c is no higher than h over its longest edge
// (height = |n| / longest, compared squared to stay clear of a root).
bool no_higher_than(const Pnt& a, const Pnt& b, const Pnt& c, double h) {
  const Pnt n = gp::cross(gp::sub(b, a), gp::sub(c, a));
  const double longest2 = std::max({dist2(a, b), dist2(b, c), dist2(c, a)});
  return gp::dot(n, n) <= h * h * longest2;
}

// The signed volume the triangles bound.
template <class Tris>
double signed_volume(const std::vector<Pnt>& v, const Tris& tris) {
  double sum = 0;
  for (const auto& t : tris) sum += gp::dot(v[t[0]], gp::cross(v[t[1]], v[t[2]]));
  return sum / 6;
}

// Whether a fill that takes the volume from `now` to `next` keeps it
// within half of 1e-9 of the input's `volume`, or brings it closer.
bool volume_kept(double now, double next, double volume) {
  const double off = std::fabs(next - volume);
  return off <= 0.5e-9 * std::fabs(volume) || off < std::fabs(now - volume);
}

// A plane region's 2D frame: the two coordinates left when the normal's
// largest component is dropped, swapped where needed so that turning
// counter-clockwise about the normal is counter-clockwise in 2D.
struct Frame {
  double Pnt::* u = &Pnt::x;
  double Pnt::* v = &Pnt::y;
  explicit Frame(const Pnt& n) {
    const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    if (az >= ax && az >= ay) {
      u = n.z >= 0 ? &Pnt::x : &Pnt::y, v = n.z >= 0 ? &Pnt::y : &Pnt::x;
    } else if (ax >= ay) {
      u = n.x >= 0 ? &Pnt::y : &Pnt::z, v = n.x >= 0 ? &Pnt::z : &Pnt::y;
    } else {
      u = n.y >= 0 ? &Pnt::z : &Pnt::x, v = n.y >= 0 ? &Pnt::x : &Pnt::z;
    }
  }
  Pt2 of(const Pnt& p) const { return {p.*u, p.*v}; }
};

double cross2(const Pt2& a, const Pt2& b, const Pt2& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Squared distance from p to the segment a-b (to a when a == b).
double seg_dist2(const Pnt& p, const Pnt& a, const Pnt& b) {
  const Pnt d = gp::sub(b, a);
  const double len2 = gp::dot(d, d);
  double t = len2 > 0 ? gp::dot(gp::sub(p, a), d) / len2 : 0;
  t = t < 0 ? 0 : t > 1 ? 1 : t;
  const Pnt q{a.x + d.x * t, a.y + d.y * t, a.z + d.z * t};
  return dist2(p, q);
}

// Whether q lies inside the ring of pts[begin..end).
bool inside_ring(const std::vector<Pt2>& pts, std::size_t begin, std::size_t end, const Pt2& q) {
  bool in = false;
  for (std::size_t k = begin, j = end - 1; k < end; j = k++) {
    const Pt2& a = pts[k];
    const Pt2& b = pts[j];
    if ((a.y > q.y) != (b.y > q.y) && q.x < (b.x - a.x) * (q.y - a.y) / (b.y - a.y) + a.x) in = !in;
  }
  return in;
}

// The marked vertices by cell of a grid as fine as `reach`, sorted, so
// that every marked vertex within reach of a point lies in the 27 cells
// around the point's cell.
class NearGrid {
 public:
  struct Cell {
    std::int64_t x, y, z;
    std::uint32_t v;
    auto key() const { return std::tie(x, y, z); }
  };

  NearGrid(const std::vector<Pnt>& v, const std::vector<std::uint8_t>& mark, double reach)
      : reach_(reach) {
    for (std::uint32_t x = 0; x < v.size(); ++x) {
      if (mark[x]) cells_.push_back(cell(v[x], x));
    }
    std::sort(cells_.begin(), cells_.end(), less);
  }

  Cell cell(const Pnt& p, std::uint32_t v) const { return {at(p.x), at(p.y), at(p.z), v}; }
  const std::vector<Cell>& cells() const { return cells_; }

  // Calls f(w) for every marked vertex w in the 27 cells around c: per
  // column (dx, dy), one search for its lowest cell and a walk up the three.
  template <class F>
  void around(const Cell& c, F&& f) const {
    for (int dx = -1; dx <= 1; ++dx) {
      for (int dy = -1; dy <= 1; ++dy) {
        const Cell probe{c.x + dx, c.y + dy, c.z - 1, 0};
        for (auto it = std::lower_bound(cells_.begin(), cells_.end(), probe, less);
             it != cells_.end() && it->x == probe.x && it->y == probe.y && it->z <= c.z + 1; ++it) {
          f(it->v);
        }
      }
    }
  }

 private:
  static bool less(const Cell& a, const Cell& b) {
    return a.key() != b.key() ? a.key() < b.key() : a.v < b.v;
  }
  std::int64_t at(double c) const {
    const double f = std::floor(c / reach_);
    return static_cast<std::int64_t>(f > -4e18 ? (f < 4e18 ? f : 4e18) : -4e18);
  }

  double reach_;
  std::vector<Cell> cells_;
};

// Where each marked vertex goes when vertices within `reach` are one: in
// index order, to the nearest earlier marked vertex within reach that
// stays where it is (the lower index on a tie), so that no vertex moves by
// more than reach and no chain of merges drifts. Others map to themselves.
std::vector<std::uint32_t> merge_targets(const std::vector<Pnt>& v,
                                         const std::vector<std::uint8_t>& mark, double reach) {
  const std::size_t nv = v.size();
  const NearGrid grid(v, mark, reach);
  std::vector<std::uint32_t> to(nv);
  for (std::uint32_t x = 0; x < nv; ++x) to[x] = x;
  for (std::uint32_t x = 0; x < nv; ++x) {
    if (!mark[x]) continue;
    std::uint32_t best = x;
    double best_d = reach * reach;
    grid.around(grid.cell(v[x], x), [&](std::uint32_t w) {
      if (w >= x || to[w] != w) return;
      const double d = dist2(v[w], v[x]);
      if (d < best_d || (d == best_d && best != x && w < best)) best = w, best_d = d;
    });
    to[x] = best;
  }
  return to;
}

// A triangle's corners rotated to start at the least.
std::array<std::uint32_t, 3> least_first(std::array<std::uint32_t, 3> t) {
  while (t[0] > t[1] || t[0] > t[2]) t = {t[1], t[2], t[0]};
  return t;
}

// Calls f(from, to, count, back) for every distinct directed edge of the
// triangles (on vertices below nv), in (from, to) order: `count` times it
// occurs, `back` times its reverse does. Edges counted out by source, then
// each source's few sorted by target, so that the reverse of an edge is
// looked up among its target's edges alone.
template <class Tris, class F>
void for_each_edge_run(const Tris& tris, std::size_t nv, F&& f) {
  std::vector<std::size_t> start(nv + 1, 0);
  for (const auto& t : tris) {
    for (int k = 0; k < 3; ++k) ++start[t[k] + 1];
  }
  for (std::size_t x = 0; x < nv; ++x) start[x + 1] += start[x];
  std::vector<std::uint32_t> to(start[nv]);
  {
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (const auto& t : tris) {
      for (int k = 0; k < 3; ++k) to[fill[t[k]]++] = static_cast<std::uint32_t>(t[(k + 1) % 3]);
    }
  }
  const auto from = [&](std::size_t x) {
    return to.begin() + static_cast<std::ptrdiff_t>(start[x]);
  };
  for (std::size_t x = 0; x < nv; ++x) std::sort(from(x), from(x + 1));
  for (std::size_t x = 0; x < nv; ++x) {
    for (std::size_t k = start[x]; k < start[x + 1];) {
      std::size_t e = k;
      while (e < start[x + 1] && to[e] == to[k]) ++e;
      const auto r = std::equal_range(from(to[k]), from(to[k] + 1), x);
      f(static_cast<std::uint32_t>(x), to[k], e - k, static_cast<std::size_t>(r.second - r.first));
      k = e;
    }
  }
}

// Whether a vertex comes twice in the cycle.
bool has_repeat(const std::vector<std::uint32_t>& cycle) {
  for (std::size_t i = 0; i < cycle.size(); ++i) {
    for (std::size_t j = i + 1; j < cycle.size(); ++j) {
      if (cycle[i] == cycle[j]) return true;
    }
  }
  return false;
}

// A bound on how far a triangle with two corners the ends of one edge
// a1-b1 and the third an end of another, a2-b2, lies from those edges (see
// near_fan): half the larger distance between their ends, paired either way.
double two_edge_bound(const Pnt& a1, const Pnt& b1, const Pnt& a2, const Pnt& b2) {
  const double same = std::max(dist2(a1, a2), dist2(b1, b2));
  const double cross = std::max(dist2(a1, b2), dist2(b1, a2));
  return std::sqrt(std::min(same, cross)) / 2;
}

// Takes away pairs of triangles on the same three vertices and turned
// opposite ways: a sheet of no thickness that fills on both sides of a
// folded sliver leave behind. Neither bounds any volume, and each one's
// edges pair with the other's, so the rest pairs as before. Order kept.
// `moved`, when given, holds a value per triangle that goes with it.
void drop_opposite_pairs(std::vector<std::array<std::uint32_t, 3>>& tris,
                         std::vector<double>* moved = nullptr) {
  // Each triangle by its corners rotated to start at the least, and its
  // reverse in the same form.
  // Sorted by key, index: counted out by least corner (a triangle and its
  // reverse share it), then each corner's few sorted.
  using Keyed = std::pair<std::array<std::uint32_t, 3>, std::uint32_t>;
  std::size_t nv = 0;
  for (const auto& t : tris)
    nv = std::max({nv, std::size_t{t[0]} + 1, std::size_t{t[1]} + 1, std::size_t{t[2]} + 1});
  std::vector<std::size_t> start(nv + 1, 0);
  for (const auto& t : tris) ++start[std::min({t[0], t[1], t[2]}) + 1];
  for (std::size_t x = 0; x < nv; ++x) start[x + 1] += start[x];
  std::vector<Keyed> keyed(tris.size());
  {
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t k = 0; k < tris.size(); ++k) {
      const auto r = least_first(tris[k]);
      keyed[fill[r[0]]++] = {r, static_cast<std::uint32_t>(k)};
    }
  }
  for (std::size_t x = 0; x < nv; ++x) {
    if (start[x + 1] - start[x] > 1) {
      std::sort(keyed.begin() + static_cast<std::ptrdiff_t>(start[x]),
                keyed.begin() + static_cast<std::ptrdiff_t>(start[x + 1]));
    }
  }
  std::vector<std::uint8_t> gone(tris.size(), 0);
  bool any = false;
  for (std::size_t k = 0; k < tris.size(); ++k) {
    if (gone[k]) continue;
    const auto& t = tris[k];
    const auto rev = least_first({t[0], t[2], t[1]});
    const auto end = keyed.begin() + static_cast<std::ptrdiff_t>(start[rev[0] + 1]);
    auto it = std::lower_bound(keyed.begin() + static_cast<std::ptrdiff_t>(start[rev[0]]), end,
                               Keyed{rev, std::uint32_t{0}});
    for (; it != end && it->first == rev; ++it) {
      if (!gone[it->second]) {
        gone[k] = gone[it->second] = 1, any = true;
        break;
      }
    }
  }
  if (!any) return;
  std::size_t kept = 0;
  for (std::size_t k = 0; k < tris.size(); ++k) {
    if (gone[k]) continue;
    if (moved != nullptr) (*moved)[kept] = (*moved)[k];
    tris[kept++] = tris[k];
  }
  tris.resize(kept);
  if (moved != nullptr) moved->resize(kept);
}

// Closes slits: a vertex cluster the splits could not sort out leaves a few
// output edges without their reverse, and those edges run round thin
// cycles (a hole no wider than the cluster, or a sliver once too many).
// Each such cycle gets a fan of triangles turned against it, which gives
// each of its edges its reverse; a fan triangle that repeats one turned the
// other way then cancels it (drop_opposite_pairs). Triangles (three-edge
// cycles) go first, so that a sliver once too many is cancelled rather
// than walked round. Thin means: a three-edge cycle no higher than twice
// gp::SIMPLIFY_GAP_DISTANCE, so that each of its points is within that
// distance of one of its edges; a longer one (up to MAX_SLIT corners) with
// every corner within half of it of the segment between its two farthest
// corners, so that each point of the fan is within that distance of the
// cycle too. The cycle's edges are on the surface, hence the surface moves
// by no more; no vertex is made or moved.
constexpr std::size_t MAX_SLIT = 8;

// True when every directed edge already occurs once and its reverse once
// (nothing to close).
// `near_fans`: whether cycles that are not thin may be closed by a fan that
// stays near them (see near_fan): the pass that merges gaps only, so that a
// result the first pass closes keeps its form. `volume`: the input's.
bool close_slits(const std::vector<Pnt>& v, std::vector<std::array<std::uint32_t, 3>>& tris,
                 bool near_fans, double volume, std::vector<double>& moved) {
  // How far the triangles of the fill at hand may lie from the slit's
  // edges: set by the test that accepts the fill.
  double fan_bound = gp::SIMPLIFY_GAP_DISTANCE;
  using Edge = std::pair<std::uint32_t, std::uint32_t>;
  std::size_t nv = 0;
  for (const auto& t : tris)
    nv = std::max({nv, std::size_t{t[0]} + 1, std::size_t{t[1]} + 1, std::size_t{t[2]} + 1});
  // The excess half-edges: each directed edge as often as it outnumbers its
  // reverse, in sorted order.
  std::vector<Edge> excess;
  bool once = true;
  for_each_edge_run(tris, nv,
                    [&](std::uint32_t a, std::uint32_t b, std::size_t count, std::size_t back) {
                      once = once && count == 1;
                      for (std::size_t c = back; c < count; ++c) excess.push_back({a, b});
                    });
  if (excess.empty()) return once;
  std::vector<std::uint8_t> used(excess.size(), 0);
  // The first unused excess edge from a to b (b == NONE: to anywhere), or
  // excess.size().
  // Searches out of a corner with many excess edges (a fan of loose
  // triangles round one point) would cost the square of its degree: the
  // scans below share a budget linear in the excess edges, and once it is
  // spent no further cycle is found.
  std::size_t steps_left = 64 * excess.size() + 65536;
  auto unused = [&](std::uint32_t a, std::uint32_t b) {
    auto it = std::lower_bound(excess.begin(), excess.end(), Edge{a, b == NONE ? 0 : b});
    for (; it != excess.end() && it->first == a && (b == NONE || it->second == b); ++it) {
      if (steps_left == 0) return excess.size();
      --steps_left;
      if (!used[static_cast<std::size_t>(it - excess.begin())])
        return static_cast<std::size_t>(it - excess.begin());
    }
    return excess.size();
  };
  auto thin = [&](const std::vector<std::uint32_t>& cycle) {
    if (has_repeat(cycle)) return false;
    constexpr double gap = gp::SIMPLIFY_GAP_DISTANCE;
    if (cycle.size() == 3) {
      const Pnt &a = v[cycle[0]], &b = v[cycle[1]], &c = v[cycle[2]];
      if (!no_higher_than(a, b, c, 2 * gap)) return false;
      // No point of a triangle lies farther from its edges than the
      // inradius, |n| / perimeter.
      const Pnt n = gp::cross(gp::sub(b, a), gp::sub(c, a));
      const double r = std::sqrt(gp::dot(n, n)) /
                       (std::sqrt(dist2(a, b)) + std::sqrt(dist2(b, c)) + std::sqrt(dist2(c, a)));
      fan_bound = r <= gap ? r : gap;
      return true;
    }
    std::size_t fa = 0, fb = 0;
    double far = -1;
    for (std::size_t i = 0; i < cycle.size(); ++i) {
      for (std::size_t j = i + 1; j < cycle.size(); ++j) {
        const double d = dist2(v[cycle[i]], v[cycle[j]]);
        if (d > far) far = d, fa = i, fb = j;
      }
    }
    // Corners within h of the segment between the farthest two: the fan
    // lies within h of the segment (distance to it is convex), and each
    // point of the segment within h of either chain of the slit from one
    // end to the other (the chain crosses the plane square to the segment
    // there), so the fan lies within 2 h of the slit's edges.
    double h2 = 0;
    for (const std::uint32_t x : cycle) {
      const double d2 = seg_dist2(v[x], v[cycle[fa]], v[cycle[fb]]);
      if (!(d2 <= gap * gap / 4)) return false;
      h2 = std::max(h2, d2);
    }
    fan_bound = std::min(2 * std::sqrt(h2), gap);
    return true;
  };
  // A cycle that is not thin about one axis can still be close to itself:
  // three corners of a vertex cluster strung along a crease across the end
  // of a long sliver, corners strung along a line that an edge runs back
  // over, or a sliver a few 1e-6 high. Two bounds on how far a point of a
  // fan triangle lies from the cycle: the distance to a segment is convex,
  // so it is within the largest distance of the triangle's corners from any
  // one cycle edge; and it is within the triangle's inradius of the
  // triangle's edges, each of which is a cycle edge or a diagonal within
  // (by the same convexity) its ends' largest distance from one cycle edge.
  // The fan from the best apex is taken when, for each of its triangles,
  // the smaller bound is at most gp::SIMPLIFY_GAP_DISTANCE. Rotates
  // `cycle` to start at that apex.
  // A fill closes what was open and so moves the volume by the signed
  // volume of its triangles. The fills beyond the thin ones are taken only
  // while the volume stays within half of 1e-9 of the input's `volume`, or
  // comes closer to it: a gap wider than the merge distance between two
  // copies of a corner is left open rather than closed at that cost.
  // `added`: six times the signed volume of the fill's triangles.
  double now = std::numeric_limits<double>::quiet_NaN();
  const auto take_volume = [&](double added) {
    if (now != now) now = signed_volume(v, tris);
    const double next = now + added / 6;
    if (!volume_kept(now, next, volume)) return false;
    now = next;
    return true;
  };
  const auto within_room = [&](const std::vector<std::uint32_t>& cycle) {
    double added = 0;
    for (std::size_t i = 1; i + 1 < cycle.size(); ++i)
      added += gp::dot(v[cycle[0]], gp::cross(v[cycle[i + 1]], v[cycle[i]]));
    return take_volume(added);
  };
  std::vector<std::uint32_t> rotated;
  auto near_fan = [&](std::vector<std::uint32_t>& cycle) {
    const std::size_t m = cycle.size();
    if (has_repeat(cycle)) return false;
    constexpr double gap = gp::SIMPLIFY_GAP_DISTANCE;
    std::size_t best = m;
    double best_bound = 0;
    for (std::size_t k = 0; k < m; ++k) {
      const auto c = [&](std::size_t i) -> const Pnt& { return v[cycle[(k + i) % m]]; };
      // The largest distance of the given points from one cycle edge, at
      // its least over the edges.
      const auto off = [&](std::initializer_list<const Pnt*> pts) {
        double b = std::numeric_limits<double>::infinity();
        for (std::size_t j = 0; j < m; ++j) {
          double d = 0;
          for (const Pnt* p : pts) d = std::max(d, seg_dist2(*p, c(j), c(j + 1)));
          b = std::min(b, d);
        }
        return std::sqrt(b);
      };
      double bound = 0;
      for (std::size_t i = 1; i + 1 < m; ++i) {
        const Pnt &a = c(0), &p = c(i), &q = c(i + 1);
        double b = off({&a, &p, &q});
        if (!(b <= gap)) {
          const Pnt n = gp::cross(gp::sub(p, a), gp::sub(q, a));
          const double perimeter =
              std::sqrt(dist2(a, p)) + std::sqrt(dist2(p, q)) + std::sqrt(dist2(q, a));
          const double inradius = perimeter > 0 ? std::sqrt(gp::dot(n, n)) / perimeter : 0;
          const double slack =
              std::max(i == 1 ? 0.0 : off({&a, &p}), i + 2 == m ? 0.0 : off({&q, &a}));
          b = std::min(b, inradius + slack);
          // Two corners the ends of one cycle edge a1-b1 and the third an
          // end of another, a2-b2: a point al a1 + be b1 + ga a2 lies within
          // ga |a2 - a1| of the first edge (at (al + ga) a1 + be b1) and
          // within al |a1 - a2| + be |b1 - b2| of the second (at
          // (al + ga) a2 + be b2), so within half the larger of those two
          // distances; likewise with the third corner b2. The two sides of
          // a slit between copies of a segment a few 1e-6 apart.
          const std::size_t pos[3] = {0, i, i + 1};
          const auto corner = [&](std::size_t j) {
            return j == pos[0] || j == pos[1] || j == pos[2];
          };
          for (std::size_t j = 0; j < m; ++j) {
            const std::size_t j1 = (j + 1) % m;
            if (!corner(j) || !corner(j1)) continue;
            const std::size_t t = pos[0] != j && pos[0] != j1   ? pos[0]
                                  : pos[1] != j && pos[1] != j1 ? pos[1]
                                                                : pos[2];
            for (const std::size_t u : {(t + m - 1) % m, t}) {
              const std::size_t w = (u + 1) % m;  // the edge u-w has t as an end
              if (u == j) continue;
              b = std::min(b, two_edge_bound(c(j), c(j1), c(u), c(w)));
            }
          }
        }
        bound = std::max(bound, b);
        if (!(bound <= gap)) break;
      }
      if (bound <= gap && (best == m || bound < best_bound)) best = k, best_bound = bound;
    }
    if (best == m) return false;
    std::rotate(cycle.begin(), cycle.begin() + static_cast<std::ptrdiff_t>(best), cycle.end());
    fan_bound = best_bound;
    return true;
  };
  // A slit can be the outline of a patch covered twice the same way (two
  // fills of one sliver quad with different diagonals): no fan near the
  // slit closes it, but one whose every triangle is the reverse of a
  // triangle already there takes one cover away (drop_opposite_pairs
  // cancels the pairs). It adds no point to the surface; what it takes
  // away lies under the other cover, and the volume guard holds it to that.
  // Each triangle is cancelled once at most. Rotates `cycle` to the apex.
  using Key = std::pair<std::array<std::uint32_t, 3>, std::uint32_t>;
  std::vector<Key> present;
  std::vector<std::uint8_t> claimed;
  std::vector<std::size_t> claim;
  const auto cancelling = [&](std::vector<std::uint32_t>& cycle) {
    const std::size_t m = cycle.size();
    if (has_repeat(cycle)) return false;
    if (present.empty()) {
      for (std::size_t k = 0; k < tris.size(); ++k)
        present.push_back({least_first(tris[k]), static_cast<std::uint32_t>(k)});
      std::sort(present.begin(), present.end());
      claimed.assign(tris.size(), 0);
    }
    for (std::size_t k = 0; k < m; ++k) {
      const auto c = [&](std::size_t i) { return cycle[(k + i) % m]; };
      claim.clear();
      for (std::size_t i = 1; i + 1 < m; ++i) {
        const auto want = least_first({c(0), c(i), c(i + 1)});
        std::size_t got = present.size();
        for (auto it = std::lower_bound(present.begin(), present.end(), Key{want, 0});
             it != present.end() && it->first == want; ++it) {
          if (!claimed[it->second] &&
              std::find(claim.begin(), claim.end(), it->second) == claim.end()) {
            got = it->second;
            break;
          }
        }
        if (got == present.size()) break;
        claim.push_back(got);
      }
      if (claim.size() + 2 != m) continue;
      rotated.resize(m);
      std::rotate_copy(cycle.begin(), cycle.begin() + static_cast<std::ptrdiff_t>(k), cycle.end(),
                       rotated.begin());
      if (!within_room(rotated)) return false;
      cycle.swap(rotated);
      for (const std::size_t x : claim) claimed[x] = 1;
      fan_bound = gp::SIMPLIFY_GAP_DISTANCE;  // each goes with a triangle it cancels
      return true;
    }
    return false;
  };
  // A slit between two copies of a segment that no fan from one corner
  // closes (the copies' ends pair across the slit, not through a corner):
  // ears cut one at a time, each a triangle with two corners the ends of
  // one cycle edge and the third an end of another, within the gap
  // distance by the bound in near_fan, the nearest ear first. Both edges
  // are edges of the cycle as it came, so the bound holds whatever was cut
  // before. The triangles wait in `strip` for fill.
  std::vector<std::array<std::uint32_t, 3>> strip;
  std::vector<double> strip_bound;  // per triangle of strip
  const auto stripped = [&](const std::vector<std::uint32_t>& cycle) {
    const std::size_t m = cycle.size();
    if (has_repeat(cycle)) return false;
    constexpr double gap = gp::SIMPLIFY_GAP_DISTANCE;
    // The bound for triangle x y z of cycle vertices.
    const auto pair_bound = [&](std::uint32_t x, std::uint32_t y, std::uint32_t z) {
      double b = std::numeric_limits<double>::infinity();
      for (std::size_t j = 0; j < m; ++j) {
        const std::uint32_t a1 = cycle[j], b1 = cycle[(j + 1) % m];
        const bool x1 = a1 == x || b1 == x, y1 = a1 == y || b1 == y, z1 = a1 == z || b1 == z;
        if (x1 + y1 + z1 != 2) continue;
        const std::uint32_t t = !x1 ? x : !y1 ? y : z;
        for (std::size_t j2 = 0; j2 < m; ++j2) {
          const std::uint32_t a2 = cycle[j2], b2 = cycle[(j2 + 1) % m];
          if (j2 == j || (a2 != t && b2 != t)) continue;
          b = std::min(b, two_edge_bound(v[a1], v[b1], v[a2], v[b2]));
        }
      }
      return b;
    };
    std::vector<std::uint32_t> left = cycle;
    strip.clear();
    strip_bound.clear();
    while (left.size() >= 3) {
      const std::size_t n = left.size();
      std::size_t best = n;
      double best_b = gap;
      for (std::size_t i = 0; i < n && n > 3; ++i) {
        const double b = pair_bound(left[(i + n - 1) % n], left[i], left[(i + 1) % n]);
        if (b <= best_b && (best == n || b < best_b)) best = i, best_b = b;
      }
      if (n == 3) {
        best_b = pair_bound(left[0], left[1], left[2]);
        if (best_b <= gap) best = 1;
      }
      if (best == n) break;
      const std::size_t p = (best + n - 1) % n, q = (best + 1) % n;
      strip.push_back({left[p], left[q], left[best]});
      strip_bound.push_back(best_b);
      if (n == 3) {
        left.clear();
        break;
      }
      left.erase(left.begin() + static_cast<std::ptrdiff_t>(best));
    }
    if (!left.empty()) {
      strip.clear();
      return false;
    }
    double added = 0;
    for (const auto& t : strip) added += gp::dot(v[t[0]], gp::cross(v[t[1]], v[t[2]]));
    if (!take_volume(added)) {
      strip.clear();
      return false;
    }
    return true;
  };
  auto fill = [&](const std::vector<std::uint32_t>& cycle) {
    if (!strip.empty()) {
      tris.insert(tris.end(), strip.begin(), strip.end());
      moved.insert(moved.end(), strip_bound.begin(), strip_bound.end());
      strip.clear();
      return;
    }
    for (std::size_t i = 1; i + 1 < cycle.size(); ++i) {
      tris.push_back({cycle[0], cycle[i + 1], cycle[i]});
      moved.push_back(fan_bound);
    }
  };
  std::vector<std::uint32_t> cycle;
  // Which excess edges a fill has given their reverse.
  std::vector<std::uint8_t> done(excess.size(), 0);
  for (std::size_t e = 0; e < excess.size(); ++e) {
    const auto [a, b] = excess[e];
    for (std::size_t f = unused(b, NONE);
         !used[e] && f < excess.size() && excess[f].first == b && steps_left > 0; ++f) {
      --steps_left;
      const std::uint32_t c = excess[f].second;
      const std::size_t g = c == a || used[f] ? excess.size() : unused(c, a);
      if (g == excess.size()) continue;
      cycle.assign({a, b, c});
      if (!thin(cycle)) continue;
      used[e] = used[f] = used[g] = 1;
      done[e] = done[f] = done[g] = 1;
      fill(cycle);
    }
  }
  std::vector<std::size_t> taken;
  for (std::size_t start = 0; start < excess.size(); ++start) {
    if (used[start]) continue;
    cycle.assign(1, excess[start].first);
    taken.assign(1, start);
    used[start] = 1;
    std::uint32_t at = excess[start].second;
    while (at != cycle[0] && cycle.size() < MAX_SLIT) {
      const std::size_t next = unused(at, NONE);
      if (next == excess.size()) break;
      cycle.push_back(at);
      taken.push_back(next);
      used[next] = 1;
      at = excess[next].second;
    }
    if (at == cycle[0] && cycle.size() >= 3 &&
        (thin(cycle) || (near_fans && cycle.size() >= 4 && near_fan(cycle) && within_room(cycle)) ||
         (near_fans && cancelling(cycle)) || (near_fans && cycle.size() >= 4 && stripped(cycle)))) {
      for (const std::size_t k : taken) done[k] = 1;
      fill(cycle);
    } else {
      // Left for a walk from elsewhere: only the first edge stays spent.
      for (std::size_t i = 1; i < taken.size(); ++i) used[taken[i]] = 0;
    }
  }
  if (!near_fans) return false;
  // The walk takes the first way out of each corner, so it misses a slit
  // that shares a corner with another cycle it cannot close. Every cycle of
  // the edges left, up to MAX_SLIT corners, is tried from each of them in
  // turn, depth first, within a step budget (hostile input may have many
  // ways out of one corner).
  constexpr std::size_t BUDGET = 4096;
  // And within one for all of them, linear in the edges left.
  std::size_t spent = 0;
  const std::size_t all = 64 * excess.size() + BUDGET;
  std::vector<std::size_t> path, next_try;
  const auto first_out = [&](std::uint32_t a) {
    return static_cast<std::size_t>(std::lower_bound(excess.begin(), excess.end(), Edge{a, 0}) -
                                    excess.begin());
  };
  for (std::size_t s0 = 0; s0 < excess.size(); ++s0) {
    if (done[s0]) continue;
    const std::uint32_t home = excess[s0].first;
    path.assign(1, s0);
    next_try.assign(1, first_out(excess[s0].second));
    bool found = false;
    // Every way out looked at is a step.
    std::size_t steps = 0;
    while (!path.empty() && !found && steps < BUDGET && spent < all) {
      const std::uint32_t at = excess[path.back()].second;
      bool deeper = false;
      while (next_try.back() < excess.size() && excess[next_try.back()].first == at &&
             steps < BUDGET && spent < all) {
        ++steps, ++spent;
        const std::size_t e = next_try.back()++;
        if (done[e] || std::find(path.begin(), path.end(), e) != path.end()) continue;
        const std::uint32_t to = excess[e].second;
        if (to == home) {
          cycle.clear();
          for (const std::size_t k : path) cycle.push_back(excess[k].first);
          cycle.push_back(at);
          if (cycle.size() >= 3 &&
              (((thin(cycle) || (cycle.size() >= 4 && near_fan(cycle))) && within_room(cycle)) ||
               cancelling(cycle) || (cycle.size() >= 4 && stripped(cycle)))) {
            path.push_back(e);
            found = true;
            break;
          }
          continue;
        }
        if (path.size() + 1 >= MAX_SLIT) continue;
        bool corner = false;
        for (const std::size_t k : path) corner = corner || excess[k].first == to;
        if (corner) continue;
        path.push_back(e);
        next_try.push_back(first_out(to));
        deeper = true;
        break;
      }
      if (!found && !deeper) {
        ++steps, ++spent;
        path.pop_back();
        next_try.pop_back();
      }
    }
    if (!found) continue;
    for (const std::size_t k : path) done[k] = 1;
    fill(cycle);
  }
  return false;
}

// Two fills that overlap along a crease can leave an edge a-b used twice
// each way: a triangle X (a b c) and a triangle Y (b a d) among them fold
// onto each other over it. Flipping their common edge, to (a d c) and
// (d b c), takes one use each way from a-b and gives c-d one each way.
// Taken where c-d is not an edge yet, is used once each way (it may then
// be flipped in its turn), or where both new triangles meet their reverse
// (the four made a thin closed tetrahedron); where d lies within
// gp::SIMPLIFY_GAP_DISTANCE of X or c of Y (then both new triangles, whose
// other corners are corners of that triangle, lie within it of it: the
// distance to a triangle is convex); and where the volume stays within half
// of 1e-9 of the input's `volume` or comes closer to it. Among the pairs
// the one nearest. A few rounds, each over the edges used twice then, with
// the pairs the flips turned opposite taken away after each.
// `moved`: per triangle, how far it may lie from the surface it stands for
// (a slit's fill up to the gap distance): a flip measured against it takes
// only the rest of the gap distance, and its new triangles may lie that
// much farther, so that flips never add up past the gap distance.
void flip_doubles(const std::vector<Pnt>& v, std::vector<std::array<std::uint32_t, 3>>& tris,
                  double volume, std::vector<double>& moved) {
  constexpr double gap = gp::SIMPLIFY_GAP_DISTANCE;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // Squared distance from p to triangle t: to its plane where the foot
  // falls inside (sign tests of each edge against the normal, which stay
  // exact on slivers), else to its nearest edge.
  const auto to_tri = [&](const Pnt& p, const std::array<std::uint32_t, 3>& t) {
    const Pnt &a = v[t[0]], &b = v[t[1]], &c = v[t[2]];
    const double edges = std::min({seg_dist2(p, a, b), seg_dist2(p, b, c), seg_dist2(p, c, a)});
    const Pnt n = gp::cross(gp::sub(b, a), gp::sub(c, a));
    const double nn = gp::dot(n, n);
    if (!(nn > 0)) return edges;
    const double h = gp::dot(gp::sub(p, a), n) / nn;
    const Pnt foot{p.x - h * n.x, p.y - h * n.y, p.z - h * n.z};
    for (const auto& [x, y] : {std::pair{&a, &b}, std::pair{&b, &c}, std::pair{&c, &a}}) {
      if (gp::dot(gp::cross(gp::sub(*y, *x), gp::sub(foot, *x)), n) < 0) return edges;
    }
    return std::min(edges, h * h * nn);
  };
  const auto det = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return gp::dot(v[a], gp::cross(v[b], v[c]));
  };
  double now = signed_volume(v, tris);
  // Directed edges (from << 32 | to) with their triangle, sorted.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> dir;
  const auto key = [](std::uint64_t a, std::uint64_t b) { return a << 32 | b; };
  const auto range = [&](std::uint64_t k) {
    return std::equal_range(dir.begin(), dir.end(), std::make_pair(k, std::uint32_t{0}),
                            [](const auto& x, const auto& y) { return x.first < y.first; });
  };
  const auto third = [](const std::array<std::uint32_t, 3>& t, std::uint32_t a, std::uint32_t b) {
    for (int k = 0; k < 3; ++k) {
      if (t[k] == a && t[(k + 1) % 3] == b) return t[(k + 2) % 3];
    }
    return NONE;
  };
  // Edges flipped away in this round (lower end first), not made again in
  // it: no flip undoes another at once.
  std::set<std::uint64_t> flipped;
  // An edge that many triangles use each way costs the product of the two
  // counts in pairs tried: the pairs of all rounds share a budget linear in
  // the triangles, and once it is spent no further flip is made.
  std::size_t pairs_left = 64 * tris.size() + 65536;
  for (int round = 0; round < 8 && pairs_left > 0; ++round) {
    flipped.clear();
    dir.clear();
    for (std::size_t k = 0; k < tris.size(); ++k) {
      const auto& t = tris[k];
      for (int j = 0; j < 3; ++j)
        dir.push_back({key(t[j], t[(j + 1) % 3]), static_cast<std::uint32_t>(k)});
    }
    std::sort(dir.begin(), dir.end());
    std::vector<std::uint64_t> doubled;
    for (std::size_t k = 0; k < dir.size();) {
      std::size_t e = k;
      while (e < dir.size() && dir[e].first == dir[k].first) ++e;
      const std::uint64_t a = dir[k].first >> 32, b = dir[k].first & 0xffffffffu;
      if (e - k >= 2 && a < b) {
        const auto r = range(key(b, a));
        if (r.second - r.first >= 2) doubled.push_back(dir[k].first);
      }
      k = e;
    }
    if (doubled.empty()) break;
    // Uses of each edge as the flips leave them; edges made here are new.
    std::map<std::uint64_t, int> delta;
    const auto count = [&](std::uint64_t k) {
      const auto r = range(k);
      const auto it = delta.find(k);
      return static_cast<int>(r.second - r.first) + (it == delta.end() ? 0 : it->second);
    };
    // Whether triangle (a b c) is there, by the edge a-b's list.
    const auto has = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
      const auto r = range(key(a, b));
      for (auto it = r.first; it != r.second && pairs_left > 0; ++it, --pairs_left) {
        if (third(tris[it->second], a, b) == c) return true;
      }
      return false;
    };
    bool any = false;
    for (const std::uint64_t ab : doubled) {
      const auto a = static_cast<std::uint32_t>(ab >> 32), b = static_cast<std::uint32_t>(ab);
      if (count(key(a, b)) < 2 || count(key(b, a)) < 2) continue;
      const auto xs = range(key(a, b)), ys = range(key(b, a));
      std::uint32_t bx = NONE, by = NONE;
      double best = gap * gap;
      double best_added = 0, best_moved = 0;
      // The squared distance from p to triangle t when within the room t
      // leaves, else infinity.
      const auto within = [&](const Pnt& p, std::uint32_t t) {
        const double room = gap - moved[t];
        const double d2 = room >= 0 ? to_tri(p, tris[t]) : kInf;
        return d2 <= room * room ? d2 : kInf;
      };
      for (auto x = xs.first; x != xs.second; ++x) {
        const std::uint32_t c = third(tris[x->second], a, b);
        if (c == NONE) continue;
        for (auto y = ys.first; y != ys.second && pairs_left > 0; ++y) {
          --pairs_left;
          const std::uint32_t d = third(tris[y->second], b, a);
          if (d == NONE || d == c) continue;
          const int cd = count(key(c, d)), dc = count(key(d, c));
          if (flipped.count(key(std::min(c, d), std::max(c, d))) != 0) continue;
          if ((cd != 0 || dc != 0) && !(has(a, c, d) && has(d, c, b)) && !(cd == 1 && dc == 1))
            continue;
          const double nx = within(v[d], x->second), ny = within(v[c], y->second);
          const double near = std::min(nx, ny);
          if (!(near <= best)) continue;
          const double added = (det(a, d, c) + det(d, b, c) - det(a, b, c) - det(b, a, d)) / 6;
          if (!volume_kept(now, now + added, volume)) continue;
          if (bx == NONE || near < best) {
            bx = x->second, by = y->second, best = near, best_added = added;
            best_moved = moved[nx <= ny ? bx : by] + std::sqrt(near);
          }
        }
      }
      if (bx == NONE) continue;
      const std::uint32_t c = third(tris[bx], a, b), d = third(tris[by], b, a);
      tris[bx] = {a, d, c};
      tris[by] = {d, b, c};
      moved[bx] = moved[by] = best_moved;
      now += best_added;
      --delta[key(a, b)], --delta[key(b, a)], ++delta[key(c, d)], ++delta[key(d, c)];
      flipped.insert(ab);
      any = true;
    }
    if (!any) break;
    drop_opposite_pairs(tris, &moved);
  }
}

class Simplifier {
 public:
  // `merge_gaps`: whether close_gaps runs (see there).
  Simplifier(const TriMesh& in, bool merge_gaps) : v_(in.vertices), merge_gaps_(merge_gaps) {
    volume_ = signed_volume(v_, in.triangles);
    // Twins left by rounding share a cell of the merge grid; the first of a
    // cell keeps its place, as in every weld of the kernel.
    const auto rep = mesh::weld_firsts<std::uint32_t>(in, gp::SIMPLIFY_MERGE_TOLERANCE);
    m_.vertices = in.vertices;
    for (const Triangle& t : in.triangles) {
      const Triangle r{rep[t[0]], rep[t[1]], rep[t[2]]};
      if (r[0] != r[1] && r[1] != r[2] && r[2] != r[0]) m_.triangles.push_back(r);
    }
    merge_open_twins();
    drop_flaps();
  }

  // The directed edges of m_ by source vertex, each with its triangle.
  struct OutEdges {
    std::vector<std::size_t> start;
    std::vector<std::uint32_t> to, tri;
  };
  OutEdges out_edges() const {
    const std::size_t nv = v_.size();
    OutEdges e;
    e.start.assign(nv + 1, 0);
    for (const Triangle& t : m_.triangles) {
      for (int k = 0; k < 3; ++k) ++e.start[t[k] + 1];
    }
    for (std::size_t x = 0; x < nv; ++x) e.start[x + 1] += e.start[x];
    e.to.resize(e.start[nv]);
    e.tri.resize(e.start[nv]);
    std::vector<std::size_t> fill(e.start.begin(), e.start.end() - 1);
    for (std::size_t t = 0; t < m_.triangles.size(); ++t) {
      const Triangle& tri = m_.triangles[t];
      for (int k = 0; k < 3; ++k) {
        const std::size_t j = fill[tri[k]]++;
        e.to[j] = static_cast<std::uint32_t>(tri[(k + 1) % 3]);
        e.tri[j] = static_cast<std::uint32_t>(t);
      }
    }
    return e;
  }

  // Copies of one corner that a weld left in neighbouring cells leave the
  // edges at them unpaired, and no split can pair them: an edge would have
  // to be cut next to its own end. Among the ends of unpaired edges, a
  // vertex within gp::SIMPLIFY_TWIN_DISTANCE of an earlier one becomes that
  // one (the earliest within reach), so the surface moves by no more.
  void merge_open_twins() {
    const std::size_t nv = v_.size();
    unpaired_ = mesh::unpaired_edges(m_);
    const std::vector<std::uint8_t>& unpaired = unpaired_;
    std::vector<std::uint8_t> open(nv, 0);
    bool any = false;
    for (std::size_t t = 0; t < m_.triangles.size(); ++t) {
      for (int k = 0; k < 3; ++k) {
        if (unpaired[3 * t + k])
          open[m_.triangles[t][k]] = open[m_.triangles[t][(k + 1) % 3]] = 1, any = true;
      }
    }
    if (!any) return;
    constexpr double reach = gp::SIMPLIFY_TWIN_DISTANCE;
    const NearGrid grid(v_, open, reach);
    std::vector<std::uint32_t> to(nv);
    for (std::uint32_t x = 0; x < nv; ++x) to[x] = x;
    for (const NearGrid::Cell& c : grid.cells()) {
      std::uint32_t best = c.v;
      grid.around(c, [&](std::uint32_t w) {
        if (w < best && dist2(v_[w], v_[c.v]) <= reach * reach) best = w;
      });
      to[c.v] = best;
    }
    // A twin's twin is followed to the first of the chain; it is earlier
    // each step, so this ends.
    bool moved = false;
    for (std::uint32_t x = 0; x < nv; ++x) {
      while (to[to[x]] != to[x]) to[x] = to[to[x]];
      moved = moved || to[x] != x;
    }
    if (!moved) return;
    unpaired_.clear();
    std::size_t kept = 0;
    for (std::size_t t = 0; t < m_.triangles.size(); ++t) {
      const Triangle& o = m_.triangles[t];
      const Triangle r{to[o[0]], to[o[1]], to[o[2]]};
      if (r[0] != r[1] && r[1] != r[2] && r[2] != r[0]) m_.triangles[kept++] = r;
    }
    m_.triangles.resize(kept);
  }

  // A weld that pulls a corner onto an edge can leave a flap: a sliver lying
  // on a triangle edge (which then occurs twice), whose three edges each
  // occur once more than their reverse. Taking it away pairs them; the surface moves by the sliver's
  // height, at most gp::SIMPLIFY_FLAP_HEIGHT.
  void drop_flaps() {
    const std::size_t n = m_.triangles.size();
    std::vector<std::uint32_t> slivers;
    for (std::size_t t = 0; t < n; ++t) {
      const Triangle& tri = m_.triangles[t];
      if (no_higher_than(v_[tri[0]], v_[tri[1]], v_[tri[2]], gp::SIMPLIFY_FLAP_HEIGHT))
        slivers.push_back(static_cast<std::uint32_t>(t));
    }
    if (slivers.empty()) return;
    const OutEdges out = out_edges();
    std::vector<std::uint8_t> gone(n, 0);
    auto count = [&](std::uint64_t u, std::uint64_t v) {
      std::size_t c = 0;
      for (std::size_t j = out.start[u]; j < out.start[u + 1]; ++j)
        c += out.to[j] == v && !gone[out.tri[j]];
      return c;
    };
    for (const std::uint32_t t : slivers) {
      const Triangle& tri = m_.triangles[t];
      // Every edge once too many, and one of them twice over: the edge the
      // flap lies on. (Edges beside T-junctions are unpaired too, but not
      // doubled: a small triangle there is surface, not a flap.)
      bool excess = true, doubled = false;
      for (int k = 0; k < 3 && excess; ++k) {
        const std::uint64_t u = tri[k], v = tri[(k + 1) % 3];
        const std::size_t c = count(u, v);
        excess = c > count(v, u);
        doubled = doubled || c >= 2;
      }
      if (excess && doubled) gone[t] = 1;
    }
    std::size_t kept = 0;
    for (std::size_t t = 0; t < n; ++t) {
      if (!gone[t]) m_.triangles[kept++] = m_.triangles[t];
    }
    if (kept != n) unpaired_.clear();
    m_.triangles.resize(kept);
  }

  // A cluster of vertices a few 1e-7 apart (a single-precision part at
  // 1,000 units) leaves loop edges without a twin: no split rule can tell
  // which vertex lies on which edge. Their ends within
  // gp::SIMPLIFY_GAP_DISTANCE become one vertex, triangles that collapse
  // go, and a merge that would turn a triangle over is undone. True when
  // m_ changed; the loops and twins are then built again.
  bool close_gaps() {
    const std::size_t nv = v_.size();
    std::vector<std::uint8_t> open(nv, 0);
    bool any = false;
    for (std::size_t s = 0; s < loops_.size(); ++s) {
      if (twin_[s] == NONE) open[loops_[s]] = open[next_in_loop(s)] = 1, any = true;
    }
    if (!any) return false;
    std::vector<std::uint32_t> to = merge_targets(v_, open, gp::SIMPLIFY_GAP_DISTANCE);
    std::vector<std::uint32_t> touched;
    for (std::size_t t = 0; t < m_.triangles.size(); ++t) {
      const Triangle& o = m_.triangles[t];
      if (to[o[0]] != o[0] || to[o[1]] != o[1] || to[o[2]] != o[2])
        touched.push_back(static_cast<std::uint32_t>(t));
    }
    // Undoing a merge only ever makes a vertex stay, so this ends.
    for (bool again = true; again;) {
      again = false;
      for (const std::uint32_t k : touched) {
        const Triangle& t = m_.triangles[k];
        const Triangle r{to[t[0]], to[t[1]], to[t[2]]};
        if (r == t || r[0] == r[1] || r[1] == r[2] || r[2] == r[0]) continue;
        const Pnt n0 = gp::cross(gp::sub(v_[t[1]], v_[t[0]]), gp::sub(v_[t[2]], v_[t[0]]));
        const Pnt n1 = gp::cross(gp::sub(v_[r[1]], v_[r[0]]), gp::sub(v_[r[2]], v_[r[0]]));
        if (gp::dot(n0, n1) > 0) continue;
        for (const std::uint64_t x : t) {
          if (to[x] != x) to[x] = static_cast<std::uint32_t>(x), again = true;
        }
      }
    }
    bool changed = false;
    std::size_t kept = 0;
    for (std::size_t t = 0; t < m_.triangles.size(); ++t) {
      const Triangle& o = m_.triangles[t];
      const Triangle r{to[o[0]], to[o[1]], to[o[2]]};
      changed = changed || r != o;
      if (r[0] != r[1] && r[1] != r[2] && r[2] != r[0]) m_.triangles[kept++] = r;
    }
    m_.triangles.resize(kept);
    return changed;
  }

  // A fin: a sliver no higher than gp::SIMPLIFY_FLAP_HEIGHT whose split
  // loop runs out along a line and back over edges that other triangles
  // already cover (a thin wall of a single-precision part leaves them along
  // a crease). Every edge of its loop occurs more often than its reverse,
  // one of them twice over, and no region can take it: it overlaps its
  // neighbours' fills. It bounds no volume; taking it away leaves no edge
  // short of its reverse and moves the surface by its height, as a flap.
  // One at a time, in triangle order, the counts kept up to date. True when
  // m_ changed; the loops and twins are then built again.
  bool drop_fins() {
    std::vector<std::uint64_t> dir(loops_.size());
    for (std::size_t s = 0; s < loops_.size(); ++s)
      dir[s] = std::uint64_t{loops_[s]} << 32 | next_in_loop(s);
    std::sort(dir.begin(), dir.end());
    dir.erase(std::unique(dir.begin(), dir.end()), dir.end());
    std::vector<std::uint32_t> count(dir.size(), 0);
    const auto slot = [&](std::uint64_t a, std::uint64_t b) {
      const auto it = std::lower_bound(dir.begin(), dir.end(), a << 32 | b);
      return it != dir.end() && *it == (a << 32 | b) ? static_cast<std::size_t>(it - dir.begin())
                                                     : dir.size();
    };
    for (std::size_t s = 0; s < loops_.size(); ++s) ++count[slot(loops_[s], next_in_loop(s))];
    const auto times = [&](std::uint64_t a, std::uint64_t b) {
      const std::size_t k = slot(a, b);
      return k == dir.size() ? std::uint32_t{0} : count[k];
    };
    constexpr double flap = gp::SIMPLIFY_FLAP_HEIGHT;
    std::vector<std::uint8_t> gone(triangles(), 0);
    bool any = false;
    for (std::size_t t = 0; t < triangles(); ++t) {
      const auto l = loop(t);
      if (l.size() <= 3) continue;
      const Triangle& tri = m_.triangles[t];
      if (!no_higher_than(v_[tri[0]], v_[tri[1]], v_[tri[2]], flap)) continue;
      bool excess = true, doubled = false;
      for (std::size_t k = 0; k < l.size() && excess; ++k) {
        const std::uint32_t x = l[k], y = l[(k + 1) % l.size()];
        const std::uint32_t c1 = times(x, y);
        excess = c1 > times(y, x);
        doubled = doubled || c1 >= 2;
      }
      if (!excess || !doubled) continue;
      gone[t] = 1, any = true;
      for (std::size_t k = 0; k < l.size(); ++k) --count[slot(l[k], l[(k + 1) % l.size()])];
    }
    if (!any) return false;
    std::size_t kept = 0;
    for (std::size_t t = 0; t < triangles(); ++t) {
      if (!gone[t]) m_.triangles[kept++] = m_.triangles[t];
    }
    m_.triangles.resize(kept);
    return true;
  }

  // Whether the last run's result was closed before any slit was filled.
  bool closed() const { return closed_; }

  TriMesh run() {
    build_loops();
    build_twins();
    if (merge_gaps_ && close_gaps()) {
      loops_.clear();
      loop_start_.clear();
      build_loops();
      build_twins();
    }
    if (merge_gaps_ && drop_fins()) {
      loops_.clear();
      loop_start_.clear();
      build_loops();
      build_twins();
    }
    grow_regions();
    for (int round = 0;; ++round) {
      if (round == MAX_ROUNDS - 1) std::fill(raw_.begin(), raw_.end(), 1);
      pin_raw_regions();
      classify_vertices();
      simplify_chains();
      if (fill_regions() || round == MAX_ROUNDS - 1) break;
    }
    return assemble();
  }

 private:
  std::size_t triangles() const { return m_.triangles.size(); }
  std::span<const std::uint32_t> loop(std::size_t t) const {
    return {loops_.data() + loop_start_[t], loop_start_[t + 1] - loop_start_[t]};
  }

  // Each triangle's corners with the vertices on its edges, back to back.
  void build_loops() {
    // The twin pass's unpaired edges still hold when nothing has changed
    // m_ since.
    const mesh::EdgeSplits splits = unpaired_.size() == 3 * triangles()
                                        ? mesh::find_edge_splits(m_, unpaired_)
                                        : mesh::find_edge_splits(m_);
    unpaired_.clear();
    std::vector<std::uint64_t> l;
    std::vector<std::uint8_t> on;
    loop_start_.reserve(triangles() + 1);
    loop_start_.push_back(0);
    for (std::size_t t = 0; t < triangles(); ++t) {
      mesh::split_triangle_loop(m_, splits, t, l, on);
      for (const std::uint64_t x : l) loops_.push_back(static_cast<std::uint32_t>(x));
      loop_start_.push_back(loops_.size());
    }
  }

  // For every loop edge (by its place in loops_), the triangle across it
  // when the edge pairs up, NONE otherwise; the ends of edges that do not
  // pair are pinned.
  void build_twins() {
    struct Rec {
      std::uint32_t lo, hi;
      std::uint32_t sid;  // place in loops_ of the edge's first vertex
      bool forward;
    };
    // A counting sort by lower end, then each end's few edges by upper end:
    // the order of a sort by (lo, hi, sid) in linear time, since every
    // bucket fills in loop order.
    const std::size_t nv = v_.size();
    std::vector<std::size_t> start(nv + 1, 0);
    for (std::size_t t = 0; t < triangles(); ++t) {
      const auto l = loop(t);
      for (std::size_t k = 0; k < l.size(); ++k) ++start[std::min(l[k], l[(k + 1) % l.size()]) + 1];
    }
    for (std::size_t x = 0; x < nv; ++x) start[x + 1] += start[x];
    std::vector<Rec> recs(loops_.size());
    {
      std::vector<std::size_t> fill(start.begin(), start.end() - 1);
      for (std::size_t t = 0; t < triangles(); ++t) {
        const auto l = loop(t);
        for (std::size_t k = 0; k < l.size(); ++k) {
          const std::uint32_t a = l[k], b = l[(k + 1) % l.size()];
          recs[fill[std::min(a, b)]++] = {std::min(a, b), std::max(a, b),
                                          static_cast<std::uint32_t>(loop_start_[t] + k), a < b};
        }
      }
    }
    const auto by_hi = [](const Rec& x, const Rec& y) {
      return x.hi != y.hi ? x.hi < y.hi : x.sid < y.sid;
    };
    for (std::size_t x = 0; x < nv; ++x) {
      Rec* const lo = recs.data() + start[x];
      Rec* const hi = recs.data() + start[x + 1];
      if (hi - lo > 24) {
        std::sort(lo, hi, by_hi);
        continue;
      }
      for (Rec* p = lo + 1; p < hi; ++p) {
        const Rec r = *p;
        Rec* q = p;
        for (; q > lo && by_hi(r, q[-1]); --q) *q = q[-1];
        *q = r;
      }
    }
    tri_of_.resize(loops_.size());
    for (std::size_t t = 0; t < triangles(); ++t) {
      for (std::size_t s = loop_start_[t]; s < loop_start_[t + 1]; ++s)
        tri_of_[s] = static_cast<std::uint32_t>(t);
    }
    twin_.assign(loops_.size(), NONE);
    first_side_.assign(loops_.size(), 0);
    pinned_.assign(v_.size(), 0);
    for (std::size_t g = 0; g < recs.size();) {
      std::size_t e = g;
      while (e < recs.size() && recs[e].lo == recs[g].lo && recs[e].hi == recs[g].hi) ++e;
      if (e - g == 2 && recs[g].forward != recs[g + 1].forward &&
          tri_of_[recs[g].sid] != tri_of_[recs[g + 1].sid]) {
        twin_[recs[g].sid] = recs[g + 1].sid;
        twin_[recs[g + 1].sid] = recs[g].sid;
        first_side_[recs[g].sid] = 1;
      } else {
        pinned_[recs[g].lo] = pinned_[recs[g].hi] = 1;
      }
      g = e;
    }
  }

  // Regions grow from the largest triangles first, so that each takes the
  // plane of its best-conditioned triangle.
  void grow_regions() {
    const std::size_t n = triangles();
    normal_.resize(n);
    std::vector<double> twice_area(n);
    for (std::size_t t = 0; t < n; ++t) {
      const Triangle& tri = m_.triangles[t];
      const Pnt &a = v_[tri[0]], &b = v_[tri[1]], &c = v_[tri[2]];
      normal_[t] = gp::cross(gp::sub(b, a), gp::sub(c, a));
      twice_area[t] = std::sqrt(gp::dot(normal_[t], normal_[t]));
    }
    // A sliver's height, needed only where its normal disagrees.
    const auto height = [&](std::uint32_t t) {
      const Triangle& tri = m_.triangles[t];
      const Pnt &a = v_[tri[0]], &b = v_[tri[1]], &c = v_[tri[2]];
      const double longest = std::sqrt(std::max({dist2(a, b), dist2(b, c), dist2(c, a)}));
      return longest > 0 ? twice_area[t] / longest : 0;
    };
    // Largest first, ties in triangle order; NaN (from overflowing
    // products) sorts last, as no area. A stable radix sort on the bits of
    // the area, which order like the areas themselves (none is negative).
    struct Keyed {
      std::uint64_t key;
      std::uint32_t t;
    };
    std::vector<Keyed> order(n);
    for (std::size_t t = 0; t < n; ++t) {
      std::uint64_t bits = 0;
      if (twice_area[t] == twice_area[t]) {
        std::memcpy(&bits, &twice_area[t], sizeof bits);
        ++bits;
      }
      order[t] = {~bits, static_cast<std::uint32_t>(t)};  // descending
    }
    {
      std::vector<Keyed> next(n);
      std::array<std::size_t, 257> count;
      for (int shift = 0; shift < 64; shift += 8) {
        count.fill(0);
        for (const Keyed& k : order) ++count[((k.key >> shift) & 0xff) + 1];
        if (std::any_of(count.begin() + 1, count.end(), [n](std::size_t c) { return c == n; }))
          continue;
        for (std::size_t b = 0; b < 256; ++b) count[b + 1] += count[b];
        for (const Keyed& k : order) next[count[(k.key >> shift) & 0xff]++] = k;
        order.swap(next);
      }
    }
    region_.assign(n, NONE);
    std::vector<std::uint32_t> queue;
    constexpr double tol = gp::SIMPLIFY_PLANE_TOLERANCE;
    for (const Keyed& k : order) {
      const std::uint32_t seed = k.t;
      if (region_[seed] != NONE) continue;
      const auto r = static_cast<std::uint32_t>(plane_.size());
      region_[seed] = r;
      const bool flat = twice_area[seed] > 0 && std::isfinite(twice_area[seed]);
      const double inv = flat ? 1 / twice_area[seed] : 0;
      const Pnt nu{normal_[seed].x * inv, normal_[seed].y * inv, normal_[seed].z * inv};
      plane_.push_back(nu);
      // A triangle without a normal stays alone and keeps its shape.
      raw_.push_back(flat ? 0 : 1);
      if (!flat) continue;
      const double d = gp::dot(nu, v_[m_.triangles[seed][0]]);
      queue.assign(1, seed);
      while (!queue.empty()) {
        const std::uint32_t t = queue.back();
        queue.pop_back();
        for (std::size_t s = loop_start_[t]; s < loop_start_[t + 1]; ++s) {
          if (twin_[s] == NONE) continue;
          const std::uint32_t u = tri_of_[twin_[s]];
          if (region_[u] != NONE) continue;
          const Triangle& tu = m_.triangles[u];
          bool near = true;
          for (int k = 0; k < 3 && near; ++k) near = std::fabs(gp::dot(nu, v_[tu[k]]) - d) <= tol;
          if (!near || !(gp::dot(nu, normal_[u]) > 0 || height(u) <= tol)) continue;
          region_[u] = r;
          queue.push_back(u);
        }
      }
    }
    // Triangles of each region, in triangle order.
    const std::size_t regions = plane_.size();
    region_start_.assign(regions + 1, 0);
    for (std::size_t t = 0; t < n; ++t) ++region_start_[region_[t] + 1];
    for (std::size_t r = 0; r < regions; ++r) region_start_[r + 1] += region_start_[r];
    region_tris_.resize(n);
    std::vector<std::size_t> fill(region_start_.begin(), region_start_.end() - 1);
    for (std::size_t t = 0; t < n; ++t)
      region_tris_[fill[region_[t]]++] = static_cast<std::uint32_t>(t);
    // Regions are fixed from here on; each later pass asks this per edge.
    boundary_.resize(loops_.size());
    for (std::size_t s = 0; s < loops_.size(); ++s) {
      boundary_[s] = twin_[s] == NONE || region_[tri_of_[twin_[s]]] != region_[tri_of_[s]];
    }
  }

  std::span<const std::uint32_t> region_triangles(std::size_t r) const {
    return {region_tris_.data() + region_start_[r], region_start_[r + 1] - region_start_[r]};
  }

  // Whether loop edge s bounds its region.
  bool boundary(std::size_t s) const { return boundary_[s]; }

  void pin_raw_regions() {
    for (std::size_t t = 0; t < triangles(); ++t) {
      if (!raw_[region_[t]]) continue;
      for (const std::uint32_t x : loop(t)) pinned_[x] = 1;
    }
  }

  // How many regions meet at each vertex (counted up to three), and the
  // paired boundary edges at each vertex, once per edge.
  void classify_vertices() {
    const std::size_t nv = v_.size();
    reg_a_.assign(nv, NONE);
    reg_b_.assign(nv, NONE);
    many_.assign(nv, 0);
    for (std::size_t t = 0; t < triangles(); ++t) {
      const std::uint32_t r = region_[t];
      for (const std::uint32_t x : loop(t)) {
        if (reg_a_[x] == NONE || reg_a_[x] == r) reg_a_[x] = r;
        else if (reg_b_[x] == NONE || reg_b_[x] == r) reg_b_[x] = r;
        else many_[x] = 1;
      }
    }
    bnd_start_.assign(nv + 1, 0);
    for (std::size_t s = 0; s < loops_.size(); ++s) {
      if (!first_side_[s] || !boundary(s)) continue;
      ++bnd_start_[loops_[s] + 1];
      ++bnd_start_[next_in_loop(s) + 1];
    }
    for (std::size_t x = 0; x < nv; ++x) bnd_start_[x + 1] += bnd_start_[x];
    bnd_.resize(bnd_start_[nv]);
    std::vector<std::size_t> fill(bnd_start_.begin(), bnd_start_.end() - 1);
    for (std::size_t s = 0; s < loops_.size(); ++s) {
      if (!first_side_[s] || !boundary(s)) continue;
      const std::uint32_t a = loops_[s], b = next_in_loop(s);
      bnd_[fill[a]++] = b;
      bnd_[fill[b]++] = a;
    }
  }

  std::uint32_t next_in_loop(std::size_t s) const {
    const std::uint32_t t = tri_of_[s];
    return s + 1 < loop_start_[t + 1] ? loops_[s + 1] : loops_[loop_start_[t]];
  }

  std::span<const std::uint32_t> boundary_neighbours(std::uint32_t x) const {
    return {bnd_.data() + bnd_start_[x], bnd_start_[x + 1] - bnd_start_[x]};
  }

  // A vertex that a straight boundary may drop: two regions, one chain.
  bool chain_vertex(std::uint32_t x) const {
    return !pinned_[x] && !many_[x] && reg_b_[x] != NONE && boundary_neighbours(x).size() == 2;
  }

  // Drops the chain vertices that the straight-line test lets go.
  void simplify_chains() {
    const std::size_t nv = v_.size();
    dropped_.assign(nv, 0);
    std::vector<std::uint8_t> walked(nv, 0);
    std::vector<std::uint32_t> chain;
    auto walk = [&](std::uint32_t start, std::uint32_t first) {
      chain.assign({start, first});
      walked[first] = 1;
      std::uint32_t prev = start, cur = first;
      for (;;) {
        const auto nb = boundary_neighbours(cur);
        const std::uint32_t next = nb[0] == prev ? nb[1] : nb[0];
        chain.push_back(next);
        if (next == start || !chain_vertex(next) || walked[next]) break;
        walked[next] = 1;
        prev = cur;
        cur = next;
      }
      drop_straight(chain);
    };
    for (std::uint32_t c = 0; c < nv; ++c) {
      if (chain_vertex(c)) continue;
      for (const std::uint32_t w : boundary_neighbours(c)) {
        if (chain_vertex(w) && !walked[w]) walk(c, w);
      }
    }
    // Closed chains without a corner: their first vertex stands in for one.
    for (std::uint32_t c = 0; c < nv; ++c) {
      if (!chain_vertex(c) || walked[c]) continue;
      walked[c] = 1;
      walk(c, boundary_neighbours(c)[0]);
    }
  }

  // Douglas-Peucker over chain[lo..hi]: ends kept, the farthest vertex kept
  // when it lies beyond the tolerance, the rest dropped.
  void drop_straight(const std::vector<std::uint32_t>& chain) {
    constexpr double tol2 = gp::SIMPLIFY_PLANE_TOLERANCE * gp::SIMPLIFY_PLANE_TOLERANCE;
    std::vector<std::pair<std::size_t, std::size_t>> todo{{0, chain.size() - 1}};
    while (!todo.empty()) {
      const auto [lo, hi] = todo.back();
      todo.pop_back();
      if (hi - lo < 2) continue;
      const Pnt& a = v_[chain[lo]];
      const Pnt& b = v_[chain[hi]];
      std::size_t far = lo;
      double far_d = -1;
      for (std::size_t k = lo + 1; k < hi; ++k) {
        const double d = seg_dist2(v_[chain[k]], a, b);
        if (d > far_d) far_d = d, far = k;
      }
      if (far_d > tol2 || !(far_d == far_d)) {
        todo.push_back({lo, far});
        todo.push_back({far, hi});
      } else {
        for (std::size_t k = lo + 1; k < hi; ++k) {
          if (chain_vertex(chain[k])) dropped_[chain[k]] = 1;
        }
      }
    }
  }

  bool kept(std::uint32_t x) const { return !dropped_[x] && (pinned_[x] || reg_b_[x] != NONE); }

  // Fills every region that is not raw; regions that fail turn raw. True
  // when none failed.
  bool fill_regions() {
    filled_.clear();
    filled_start_.assign(plane_.size() + 1, 0);
    bool all = true;
    for (std::size_t r = 0; r < plane_.size(); ++r) {
      if (!raw_[r] && !fill_region(r)) {
        raw_[r] = 1;
        all = false;
      }
      filled_start_[r + 1] = filled_.size();
    }
    return all;
  }

  // Scratch of fill_region, kept between regions: most regions are a few
  // triangles, and fresh buffers for each would cost more than the fill.
  struct FillScratch {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    std::vector<std::uint8_t> used;
    std::vector<std::size_t> ring_start;  // rings back to back in ids and pts
    std::vector<Pt2> pts;
    std::vector<std::uint32_t> ids;
    std::vector<double> areas;
    std::vector<std::size_t> outers, holes, home;
    std::vector<std::vector<std::uint32_t>> group;
    std::vector<std::array<std::uint32_t, 3>> tris;
  };

  bool fill_region(std::size_t r) {
    FillScratch& f = scratch_;
    const Frame frame(plane_[r]);
    // The region's outline edges, in loop order per triangle.
    auto& edges = f.edges;
    edges.clear();
    for (const std::uint32_t t : region_triangles(r)) {
      for (std::size_t s = loop_start_[t]; s < loop_start_[t + 1]; ++s) {
        if (boundary(s)) edges.push_back({loops_[s], next_in_loop(s)});
      }
    }
    if (edges.size() < 3) return false;
    std::sort(edges.begin(), edges.end());
    f.used.assign(edges.size(), 0);
    f.ring_start.assign(1, 0);
    f.pts.clear();
    f.ids.clear();
    for (std::size_t start = 0; start < edges.size(); ++start) {
      if (f.used[start]) continue;
      std::size_t e = start;
      for (std::size_t steps = 0;; ++steps) {
        if (steps > edges.size()) return false;
        f.used[e] = 1;
        const auto [a, b] = edges[e];
        if (kept(a)) {
          f.ids.push_back(a);
          f.pts.push_back(frame.of(v_[a]));
        }
        if (b == edges[start].first) break;
        // Out of b: the unused edge turning furthest left, so that rings
        // touching at a vertex come apart instead of crossing.
        auto lo = std::lower_bound(edges.begin(), edges.end(), std::make_pair(b, std::uint32_t{0}));
        std::size_t best = edges.size(), open = 0;
        for (auto it = lo; it != edges.end() && it->first == b; ++it) {
          const std::size_t k = static_cast<std::size_t>(it - edges.begin());
          if (!f.used[k]) best = k, ++open;
        }
        // Only where the outline meets itself is there a choice to make.
        if (open > 1) best = edges.size();
        double best_turn = 0;
        const Pt2 pa = frame.of(v_[a]), pb = frame.of(v_[b]);
        for (auto it = lo; open > 1 && it != edges.end() && it->first == b; ++it) {
          const std::size_t k = static_cast<std::size_t>(it - edges.begin());
          if (f.used[k]) continue;
          const Pt2 pc = frame.of(v_[it->second]);
          const double dx1 = pb.x - pa.x, dy1 = pb.y - pa.y, dx2 = pc.x - pb.x, dy2 = pc.y - pb.y;
          const double turn = std::atan2(dx1 * dy2 - dy1 * dx2, dx1 * dx2 + dy1 * dy2);
          if (best == edges.size() || turn > best_turn) best = k, best_turn = turn;
        }
        if (best == edges.size()) return false;
        e = best;
      }
      if (f.ids.size() - f.ring_start.back() < 3) return false;
      f.ring_start.push_back(f.ids.size());
    }
    const std::size_t rings = f.ring_start.size() - 1;
    auto ring = [&f](std::size_t k) {
      return std::span<const std::uint32_t>(f.ids.data() + f.ring_start[k],
                                            f.ring_start[k + 1] - f.ring_start[k]);
    };
    auto ring_area = [&f](std::size_t k) {
      double a = 0;
      for (std::size_t i = f.ring_start[k], e = f.ring_start[k + 1]; i < e; ++i) {
        const Pt2& p = f.pts[i];
        const Pt2& q = f.pts[i + 1 < e ? i + 1 : f.ring_start[k]];
        a += p.x * q.y - q.x * p.y;
      }
      return a / 2;
    };
    f.areas.clear();
    f.outers.clear();
    f.holes.clear();
    for (std::size_t k = 0; k < rings; ++k) {
      const double a = ring_area(k);
      if (!(a != 0) || !std::isfinite(a)) return false;
      f.areas.push_back(a);
      (a > 0 ? f.outers : f.holes).push_back(k);
    }
    if (f.outers.empty()) return false;
    // Each hole goes to the smallest outer ring around one of its corners
    // that is not on that ring.
    f.home.assign(rings, rings);
    for (const std::size_t h : f.holes) {
      std::size_t home = rings;
      for (const std::size_t o : f.outers) {
        if (f.outers.size() == 1) {
          home = o;
          break;
        }
        for (std::size_t p = f.ring_start[h]; p < f.ring_start[h + 1]; ++p) {
          const auto outer = ring(o);
          if (std::find(outer.begin(), outer.end(), f.ids[p]) != outer.end()) continue;
          if (inside_ring(f.pts, f.ring_start[o], f.ring_start[o + 1], f.pts[p]) &&
              (home == rings || f.areas[o] < f.areas[home])) {
            home = o;
          }
          break;
        }
      }
      if (home == rings) return false;
      f.home[h] = home;
    }
    auto& tris = f.tris;
    tris.clear();
    for (const std::size_t o : f.outers) {
      // The outer ring, then its holes in ring order, as positions into pts.
      std::size_t n = 0;
      double want = 0;
      auto add = [&](std::size_t k) {
        if (f.group.size() <= n) f.group.emplace_back();
        auto& g = f.group[n++];
        g.clear();
        for (std::size_t p = f.ring_start[k]; p < f.ring_start[k + 1]; ++p)
          g.push_back(static_cast<std::uint32_t>(p));
        want += f.areas[k];
      };
      add(o);
      for (const std::size_t h : f.holes) {
        if (f.home[h] == o) add(h);
      }
      const std::size_t before = tris.size();
      if (!fill_polygon(f.pts, std::span(f.group.data(), n), tris)) return false;
      double got = 0;
      for (std::size_t k = before; k < tris.size(); ++k) {
        const double z = cross2(f.pts[tris[k][0]], f.pts[tris[k][1]], f.pts[tris[k][2]]);
        if (!(z > 0)) return false;
        got += z / 2;
      }
      if (!(std::fabs(got - want) <= 1e-9 * std::fabs(f.areas[o]))) return false;
    }
    for (const auto& t : tris) filled_.push_back({f.ids[t[0]], f.ids[t[1]], f.ids[t[2]]});
    return true;
  }

  TriMesh assemble() {
    std::vector<std::array<std::uint32_t, 3>> tris;
    std::vector<std::uint64_t> l;
    std::vector<std::uint8_t> on;
    std::vector<Pnt> pts;
    std::vector<std::array<std::uint32_t, 3>> pieces;
    const mesh::EdgeSplits none;
    for (std::size_t r = 0; r < plane_.size(); ++r) {
      if (!raw_[r]) {
        tris.insert(tris.end(), filled_.begin() + static_cast<std::ptrdiff_t>(filled_start_[r]),
                    filled_.begin() + static_cast<std::ptrdiff_t>(filled_start_[r + 1]));
        continue;
      }
      for (const std::uint32_t t : region_triangles(r)) {
        const auto lp = loop(t);
        if (lp.size() == 3) {
          tris.push_back({lp[0], lp[1], lp[2]});
          continue;
        }
        // The loop's masks: which of the corners' edges each entry is on.
        const Triangle& tri = m_.triangles[t];
        l.assign(lp.begin(), lp.end());
        on.clear();
        int edge = 0;
        for (const std::uint64_t x : l) {
          if (edge < 3 && x == tri[edge]) {
            static constexpr std::uint8_t kCorner[3] = {1 | 4, 1 | 2, 2 | 4};
            on.push_back(kCorner[edge]);
            ++edge;
          } else {
            on.push_back(static_cast<std::uint8_t>(1u << (edge - 1)));
          }
        }
        pts.clear();
        for (const std::uint64_t x : l) pts.push_back(v_[x]);
        pieces.clear();
        mesh::triangulate_split_triangle(pts, on, pieces);
        for (const auto& p : pieces) tris.push_back({lp[p[0]], lp[p[1]], lp[p[2]]});
      }
    }
    // The slits' fills, appended by close_slits, lie up to their own bound
    // (at most the gap distance) from the slits' edges; the regions' fills
    // stay on the surface.
    std::vector<double> moved(tris.size(), 0);
    closed_ = close_slits(v_, tris, merge_gaps_, volume_, moved);
    if (moved.size() != tris.size()) throw gp::InternalFault("simplify: a fill without its bound");
    drop_opposite_pairs(tris, &moved);
    if (merge_gaps_ && !closed_) flip_doubles(v_, tris, volume_, moved);
    // Used vertices only, in input order.
    std::vector<std::uint32_t> renumber(v_.size(), NONE);
    for (const auto& t : tris) {
      for (const std::uint32_t x : t) renumber[x] = 0;
    }
    TriMesh out;
    for (std::size_t x = 0; x < v_.size(); ++x) {
      if (renumber[x] == NONE) continue;
      renumber[x] = static_cast<std::uint32_t>(out.vertices.size());
      out.vertices.push_back(v_[x]);
    }
    out.triangles.reserve(tris.size());
    for (const auto& t : tris)
      out.triangles.push_back({renumber[t[0]], renumber[t[1]], renumber[t[2]]});
    return out;
  }

  const std::vector<Pnt>& v_;
  const bool merge_gaps_;
  double volume_ = 0;  // the input's
  bool closed_ = false;
  TriMesh m_;
  std::vector<std::uint8_t> unpaired_;  // of m_'s edges while it is unchanged, else empty
  std::vector<std::uint32_t> loops_;
  std::vector<std::size_t> loop_start_;
  std::vector<std::uint32_t> tri_of_, twin_;
  std::vector<std::uint8_t> first_side_, pinned_;
  std::vector<Pnt> normal_, plane_;
  std::vector<std::uint32_t> region_;
  std::vector<std::uint8_t> boundary_;
  std::vector<std::uint8_t> raw_;
  std::vector<std::size_t> region_start_;
  std::vector<std::uint32_t> region_tris_;
  std::vector<std::uint32_t> reg_a_, reg_b_;
  std::vector<std::uint8_t> many_, dropped_;
  std::vector<std::size_t> bnd_start_;
  std::vector<std::uint32_t> bnd_;
  std::vector<std::array<std::uint32_t, 3>> filled_;
  std::vector<std::size_t> filled_start_;
  FillScratch scratch_;
};

// How many directed edges of `m` occur other than once with their reverse
// once: none for a closed, edge-manifold surface.
std::size_t open_edges(const TriMesh& m) {
  std::size_t open = 0;
  for_each_edge_run(m.triangles, m.vertices.size(),
                    [&](std::uint32_t, std::uint32_t, std::size_t count, std::size_t back) {
                      open += count != 1 || back != 1;
                    });
  return open;
}

}  // namespace

TriMesh simplify(const TriMesh& m) {
  const std::size_t n = m.vertices.size();
  for (const Triangle& t : m.triangles) {
    for (const std::uint64_t x : t) {
      if (x >= n) gp::throw_index_out_of_bounds(n, x);
    }
  }
  // Indices are kept in 32 bits.
  if (n >= NONE || m.triangles.size() >= NONE / 4) throw std::bad_alloc();
  for (const Triangle& t : m.triangles) {
    for (const std::uint64_t x : t) {
      if (!finite(m.vertices[x])) return m;
    }
  }
  // Merging the ends of edges left open moves vertices and costs a second
  // search of the splits, so it is done only for a result that is not
  // closed without it, and kept when it leaves fewer edges open.
  Simplifier first(m, false);
  TriMesh out = first.run();
  if (first.closed()) return out;
  const std::size_t open = open_edges(out);
  if (open == 0) return out;
  TriMesh merged = Simplifier(m, true).run();
  return open_edges(merged) < open ? merged : out;
}

}  // namespace quorvalind::simplify
