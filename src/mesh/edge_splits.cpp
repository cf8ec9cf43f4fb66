#include "mesh/edge_splits.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "gp/tolerances.h"

namespace quorvalind::mesh {

namespace {

// Edges by source vertex, for the non-degenerate triangles only.
struct Adjacency {
  std::vector<std::size_t> out_start;
  std::vector<std::uint64_t> out_to;

  std::span<const std::uint64_t> out(std::uint64_t v) const {
    return {out_to.data() + out_start[v], out_start[v + 1] - out_start[v]};
  }
};

bool degenerate(const Triangle& t) { return t[0] == t[1] || t[1] == t[2] || t[2] == t[0]; }

Adjacency adjacency(const TriMesh& m) {
  const std::size_t n = m.vertices.size();
  Adjacency a;
  a.out_start.assign(n + 1, 0);
  for (const Triangle& t : m.triangles) {
    if (degenerate(t)) continue;
    for (int k = 0; k < 3; ++k) ++a.out_start[t[k] + 1];
  }
  for (std::size_t v = 0; v < n; ++v) a.out_start[v + 1] += a.out_start[v];
  a.out_to.resize(a.out_start[n]);
  std::vector<std::size_t> fill(a.out_start.begin(), a.out_start.end() - 1);
  for (const Triangle& t : m.triangles) {
    if (degenerate(t)) continue;
    for (int k = 0; k < 3; ++k) a.out_to[fill[t[k]]++] = t[(k + 1) % 3];
  }
  return a;
}

std::size_t occurrences(std::span<const std::uint64_t> list, std::uint64_t v) {
  return static_cast<std::size_t>(std::count(list.begin(), list.end(), v));
}

// An edge pairs up when it and its reverse each occur exactly once.
bool paired(const Adjacency& a, std::uint64_t u, std::uint64_t v) {
  return occurrences(a.out(u), v) == 1 && occurrences(a.out(v), u) == 1;
}

using gp::cross;
using gp::dot;
using gp::sub;

// The parameter of p along a -> b when p lies within the tolerance of the
// line through a and b, NaN otherwise.
double on_line(const Pnt& a, const Pnt& b, const Pnt& p, double tol2, double& off2) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  const Pnt d = sub(b, a);
  const double len2 = dot(d, d);
  if (!(len2 > 0) || !std::isfinite(len2)) return nan;
  const Pnt w = sub(p, a);
  const double t = dot(w, d) / len2;
  const Pnt perp{w.x - d.x * t, w.y - d.y * t, w.z - d.z * t};
  off2 = dot(perp, perp);
  return off2 <= tol2 ? t : nan;
}

bool between_ends(double t) { return t > 0 && t < 1; }

constexpr std::uint64_t kDropped = std::numeric_limits<std::uint64_t>::max();

// Marks in `wide` the open edges (by 3 * triangle + slot) that have a piece
// without its reverse among the pieces of all open edges; true if any.
bool mark_unpaired_pieces(const TriMesh& m, const EdgeSplits& s, const std::vector<bool>& open,
                          std::vector<bool>& wide) {
  struct Piece {
    std::uint64_t u, v;
    std::size_t edge;
  };
  std::vector<Piece> pieces;
  for (std::size_t e = 0; e < open.size(); ++e) {
    if (!open[e]) continue;
    const Triangle& tri = m.triangles[e / 3];
    std::uint64_t prev = tri[e % 3];
    for (const std::uint64_t p : s.on_edge(e / 3, static_cast<int>(e % 3))) {
      pieces.push_back({prev, p, e});
      prev = p;
    }
    pieces.push_back({prev, tri[(e + 1) % 3], e});
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> keys;
  keys.reserve(pieces.size());
  for (const Piece& p : pieces) keys.emplace_back(p.u, p.v);
  std::sort(keys.begin(), keys.end());
  auto count = [&](std::uint64_t u, std::uint64_t v) {
    const auto r = std::equal_range(keys.begin(), keys.end(), std::make_pair(u, v));
    return r.second - r.first;
  };
  bool any = false;
  for (const Piece& p : pieces) {
    if (count(p.u, p.v) != 1 || count(p.v, p.u) != 1) wide[p.edge] = any = true;
  }
  return any;
}

}  // namespace

EdgeSplits find_edge_splits(const TriMesh& m) {
  EdgeSplits out;
  const std::size_t tris = m.triangles.size();
  const Adjacency adj = adjacency(m);

  std::vector<bool> open(3 * tris, false);
  bool any = false;
  for (std::size_t t = 0; t < tris; ++t) {
    const Triangle& tri = m.triangles[t];
    if (degenerate(tri)) continue;
    for (int k = 0; k < 3; ++k) {
      if (!paired(adj, tri[k], tri[(k + 1) % 3])) open[3 * t + k] = any = true;
    }
  }
  if (!any) return out;

  // The ends of every unpaired edge, by vertex: a T-junction's vertices are
  // joined to the long edge's ends by unpaired edges (the pieces on the
  // other side), while a sliver's corner near the edge is joined to it by
  // paired ones and is no split point.
  std::vector<std::size_t> open_start(m.vertices.size() + 1, 0);
  for (std::size_t e = 0; e < 3 * tris; ++e) {
    if (!open[e]) continue;
    const Triangle& tri = m.triangles[e / 3];
    ++open_start[tri[e % 3] + 1];
    ++open_start[tri[(e + 1) % 3] + 1];
  }
  for (std::size_t v = 0; v < m.vertices.size(); ++v) open_start[v + 1] += open_start[v];
  std::vector<std::uint64_t> open_to(open_start.back());
  {
    std::vector<std::size_t> fill(open_start.begin(), open_start.end() - 1);
    for (std::size_t e = 0; e < 3 * tris; ++e) {
      if (!open[e]) continue;
      const Triangle& tri = m.triangles[e / 3];
      const std::uint64_t u = tri[e % 3], v = tri[(e + 1) % 3];
      open_to[fill[u]++] = v;
      open_to[fill[v]++] = u;
    }
  }

  // Walks from both ends along vertices that lie on the edge; `mark` keeps
  // the number of the edge that last visited a vertex, so it never needs
  // clearing.
  std::vector<std::size_t> mark(m.vertices.size(), 0);
  std::vector<std::uint64_t> stack;
  struct Found {
    double t, off2;  // place along the edge, squared distance from its line
    std::uint64_t v;
  };
  std::vector<Found> found[3];
  out.starts.assign(3 * tris + 1, 0);
  std::size_t stamp = 0;
  auto collect = [&](const Triangle& tri, int k, double tol2, std::vector<Found>& into) {
    const std::uint64_t ia = tri[k], ib = tri[(k + 1) % 3];
    const Pnt& a = m.vertices[ia];
    const Pnt& b = m.vertices[ib];
    // The triangle's own third corner is never a split point of its edge
    // (a sliver's may lie within the tolerance), but other points on the
    // edge may be reached through it.
    const std::uint64_t ic = tri[(k + 2) % 3];
    ++stamp;
    mark[ia] = mark[ib] = mark[ic] = stamp;
    stack.assign({ia, ib});
    double off2 = 0;
    if (on_line(a, b, m.vertices[ic], tol2, off2) == on_line(a, b, m.vertices[ic], tol2, off2)) {
      stack.push_back(ic);
    }
    while (!stack.empty()) {
      const std::uint64_t x = stack.back();
      stack.pop_back();
      for (std::size_t j = open_start[x]; j < open_start[x + 1]; ++j) {
        const std::uint64_t w = open_to[j];
        if (mark[w] == stamp) continue;
        mark[w] = stamp;
        // Collinear runs may overlap the edge from beyond either end, so the
        // walk follows the whole line and keeps what lies between the ends.
        const double t = on_line(a, b, m.vertices[w], tol2, off2);
        if (t != t) continue;
        if (between_ends(t)) into.push_back({t, off2, w});
        stack.push_back(w);
      }
    }
  };
  // Every open edge first with the tight tolerance; an edge whose pieces
  // then still do not pair is split again with the wide one (a vertex of a
  // single-precision mesh may sit a few 1e-7 off the line it lies on).
  constexpr double kTight2 = gp::EDGE_SPLIT_TOLERANCE * gp::EDGE_SPLIT_TOLERANCE;
  constexpr double kWide2 = gp::EDGE_SPLIT_WIDE_TOLERANCE * gp::EDGE_SPLIT_WIDE_TOLERANCE;
  std::vector<bool> wide(3 * tris, false);
  auto pass = [&] {
    out.points.clear();
    for (std::size_t t = 0; t < tris; ++t) {
      for (int k = 0; k < 3; ++k) {
        found[k].clear();
        if (open[3 * t + k]) collect(m.triangles[t], k, wide[3 * t + k] ? kWide2 : kTight2, found[k]);
      }
      // Near a sharp corner a point may lie on two edges' lines at once; it
      // goes to the nearer edge only, so that no loop passes it twice.
      for (int k = 0; k < 3; ++k) {
        for (Found& f : found[k]) {
          for (int j = 0; j < 3; ++j) {
            if (j == k) continue;
            for (const Found& g : found[j]) {
              if (g.v == f.v && (g.off2 < f.off2 || (g.off2 == f.off2 && j < k))) f.v = kDropped;
            }
          }
        }
      }
      for (int k = 0; k < 3; ++k) {
        out.starts[3 * t + k] = out.points.size();
        std::sort(found[k].begin(), found[k].end(), [](const Found& x, const Found& y) {
          return x.t != y.t ? x.t < y.t : x.v < y.v;
        });
        for (const Found& f : found[k]) {
          if (f.v != kDropped) out.points.push_back(f.v);
        }
      }
    }
    out.starts[3 * tris] = out.points.size();
  };
  pass();
  if (mark_unpaired_pieces(m, out, open, wide)) pass();
  return out;
}

void split_triangle_loop(const TriMesh& m, const EdgeSplits& splits, std::size_t t,
                         std::vector<std::uint64_t>& loop, std::vector<std::uint8_t>& on) {
  loop.clear();
  on.clear();
  const Triangle& tri = m.triangles[t];
  static constexpr std::uint8_t kCorner[3] = {1 | 4, 1 | 2, 2 | 4};
  for (int k = 0; k < 3; ++k) {
    loop.push_back(tri[k]);
    on.push_back(kCorner[k]);
    for (const std::uint64_t p : splits.on_edge(t, k)) {
      loop.push_back(p);
      on.push_back(static_cast<std::uint8_t>(1u << k));
    }
  }
}

void triangulate_split_triangle(std::span<const Pnt> loop, std::span<const std::uint8_t> on,
                                std::vector<std::array<std::uint32_t, 3>>& out) {
  const auto n = static_cast<std::uint32_t>(loop.size());
  if (n < 3) return;
  // Newell's normal: only its direction matters, for the sign of a turn.
  Pnt normal{0, 0, 0};
  for (std::uint32_t i = 0; i < n; ++i) {
    const Pnt& p = loop[i];
    const Pnt& q = loop[(i + 1) % n];
    normal.x += (p.y - q.y) * (p.z + q.z);
    normal.y += (p.z - q.z) * (p.x + q.x);
    normal.z += (p.x - q.x) * (p.y + q.y);
  }
  std::vector<std::uint32_t> prev(n), next(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    prev[i] = (i + n - 1) % n;
    next[i] = (i + 1) % n;
  }
  // How far v stands out beyond the chord p-q, on the side the loop turns.
  auto height = [&](std::uint32_t i) {
    const Pnt& p = loop[prev[i]];
    const Pnt& v = loop[i];
    const Pnt& q = loop[next[i]];
    const Pnt chord = sub(q, p);
    const double len = std::sqrt(dot(chord, chord));
    const double turn = dot(cross(sub(v, p), sub(q, v)), normal);
    return len > 0 ? turn / len : turn;
  };
  std::uint32_t head = 0;
  for (std::uint32_t left = n; left > 3; --left) {
    // A chord along an original edge would run over the points still on
    // it: such an ear is taken only when no other is left.
    std::uint32_t best = head, best_any = head;
    double best_h = -std::numeric_limits<double>::infinity(), best_any_h = best_h;
    bool have = false;
    std::uint32_t i = head;
    for (std::uint32_t k = 0; k < left; ++k, i = next[i]) {
      const double h = height(i);
      if (h > best_any_h) best_any_h = h, best_any = i;
      if ((on[prev[i]] & on[next[i]]) != 0) continue;
      if (!have || h > best_h) best_h = h, best = i, have = true;
    }
    const std::uint32_t ear = have ? best : best_any;
    out.push_back({prev[ear], ear, next[ear]});
    next[prev[ear]] = next[ear];
    prev[next[ear]] = prev[ear];
    if (ear == head) head = next[ear];
  }
  out.push_back({prev[head], head, next[head]});
}

}  // namespace quorvalind::mesh
