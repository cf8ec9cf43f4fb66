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
  std::vector<std::size_t> out_fill(a.out_start.begin(), a.out_start.end() - 1);
  for (const Triangle& t : m.triangles) {
    if (degenerate(t)) continue;
    for (int k = 0; k < 3; ++k) a.out_to[out_fill[t[k]]++] = t[(k + 1) % 3];
  }
  return a;
}

std::size_t occurrences(std::span<const std::uint64_t> list, std::uint64_t v) {
  return static_cast<std::size_t>(std::count(list.begin(), list.end(), v));
}

using gp::cross;
using gp::dot;
using gp::sub;

// The parameter of p along a -> b when p is within the tolerance of the
// line through a and b (NaN otherwise, and for a degenerate edge).
double on_line(const Pnt& a, const Pnt& b, const Pnt& p, double tol2) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  const Pnt d = sub(b, a);
  const double len2 = dot(d, d);
  if (!(len2 > 0) || !std::isfinite(len2)) return kNaN;
  const Pnt w = sub(p, a);
  const double t = dot(w, d) / len2;
  const Pnt perp{w.x - d.x * t, w.y - d.y * t, w.z - d.z * t};
  return dot(perp, perp) <= tol2 ? t : kNaN;
}

// Whether p is farther than the tolerance from q: a vertex that close to an
// edge's end may be that end moved by a weld, and cutting there would leave
// a sliver no wider than the uncertainty.
bool apart(const Pnt& q, const Pnt& p, double tol2) {
  const Pnt d = sub(p, q);
  return !(dot(d, d) <= tol2);
}

// Marks in `wide` the open edges (by 3 * triangle + slot) that have a piece
// occurring other than as often as its reverse among the pieces of all open
// edges; true if any.
bool mark_unpaired_pieces(const TriMesh& m, const EdgeSplits& s,
                          const std::vector<std::uint8_t>& open, std::vector<bool>& wide) {
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
    if (count(p.u, p.v) != count(p.v, p.u)) wide[p.edge] = any = true;
  }
  return any;
}

}  // namespace

std::vector<std::uint8_t> unpaired_edges(const TriMesh& m) {
  // An edge pairs up when it occurs as often as its reverse: every facet
  // along it then meets whole edges on the other side (two solids touching
  // along an edge give it twice each way). Edges counted out by their lower
  // end, then each end's few sorted by the upper: a run of one undirected
  // edge pairs up when it goes as often one way as the other.
  struct Rec {
    std::uint64_t hi;
    std::uint32_t id;  // 3 t + slot
    bool forward;
  };
  const std::size_t n = m.vertices.size();
  const std::size_t tris = m.triangles.size();
  std::vector<std::size_t> start(n + 1, 0);
  for (const Triangle& t : m.triangles) {
    if (degenerate(t)) continue;
    for (int k = 0; k < 3; ++k) ++start[std::min(t[k], t[(k + 1) % 3]) + 1];
  }
  for (std::size_t v = 0; v < n; ++v) start[v + 1] += start[v];
  std::vector<Rec> recs(start[n]);
  {
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t t = 0; t < tris; ++t) {
      const Triangle& tri = m.triangles[t];
      if (degenerate(tri)) continue;
      for (int k = 0; k < 3; ++k) {
        const std::uint64_t a = tri[k], b = tri[(k + 1) % 3];
        recs[fill[std::min(a, b)]++] = {std::max(a, b), static_cast<std::uint32_t>(3 * t + k),
                                        a < b};
      }
    }
  }
  std::vector<std::uint8_t> open(3 * tris, 0);
  const auto by_hi = [](const Rec& x, const Rec& y) { return x.hi < y.hi; };
  for (std::size_t v = 0; v < n; ++v) {
    Rec* const lo = recs.data() + start[v];
    Rec* const hi = recs.data() + start[v + 1];
    if (hi - lo > 24) {
      std::sort(lo, hi, by_hi);
    } else {
      for (Rec* p = lo + 1; p < hi; ++p) {
        const Rec r = *p;
        Rec* q = p;
        for (; q > lo && by_hi(r, q[-1]); --q) *q = q[-1];
        *q = r;
      }
    }
    for (Rec* g = lo; g < hi;) {
      Rec* e = g;
      std::ptrdiff_t balance = 0;
      for (; e < hi && e->hi == g->hi; ++e) balance += e->forward ? 1 : -1;
      if (balance != 0) {
        for (Rec* p = g; p < e; ++p) open[p->id] = 1;
      }
      g = e;
    }
  }
  return open;
}

EdgeSplits find_edge_splits(const TriMesh& m) { return find_edge_splits(m, unpaired_edges(m)); }

EdgeSplits find_edge_splits(const TriMesh& m, const std::vector<std::uint8_t>& open) {
  EdgeSplits out;
  const std::size_t tris = m.triangles.size();
  const std::size_t n = m.vertices.size();
  const auto open_edges = static_cast<std::size_t>(std::count(open.begin(), open.end(), 1));
  if (open_edges == 0) return out;
  const Adjacency adj = adjacency(m);

  // The unpaired edges, both ways round, by vertex: the pieces along a long
  // edge meet it through edges of their own that are unpaired too, so the
  // walk below needs no others (and skips the paired fans around a vertex).
  std::vector<std::size_t> near_start(n + 1, 0);
  for (std::size_t e = 0; e < 3 * tris; ++e) {
    if (!open[e]) continue;
    const Triangle& tri = m.triangles[e / 3];
    const int k = static_cast<int>(e % 3);
    ++near_start[tri[k] + 1];
    ++near_start[tri[(k + 1) % 3] + 1];
  }
  for (std::size_t v = 0; v < n; ++v) near_start[v + 1] += near_start[v];
  std::vector<std::uint64_t> near(near_start[n]);
  {
    std::vector<std::size_t> fill(near_start.begin(), near_start.end() - 1);
    for (std::size_t e = 0; e < 3 * tris; ++e) {
      if (!open[e]) continue;
      const Triangle& tri = m.triangles[e / 3];
      const int k = static_cast<int>(e % 3);
      const std::uint64_t u = tri[k], v = tri[(k + 1) % 3];
      near[fill[u]++] = v;
      near[fill[v]++] = u;
    }
  }

  // Pieces of a closed surface put a few vertices on each unpaired edge; a
  // soup whose points all crowd within the tolerance would put every vertex
  // on every edge. Past this many steps of the walk the mesh has no
  // conforming form worth the name and is left as it is (no splits).
  const std::size_t budget = 64 * (2 * open_edges + n) + (std::size_t{1} << 16);
  std::size_t work = 0;

  // Walks from both ends along unpaired edges that run on the edge's line,
  // beyond its ends too: two pieces' edges along one line may each pass the
  // other's ends, so a split point may be reached only through vertices
  // beyond an end, even two or more (measured on sphere unions: stopping at
  // the first vertex past an end left edges unpaired). The points strictly between the ends are the split points. `mark`
  // keeps the number of the edge that last looked at a vertex, so it never
  // needs clearing.
  std::vector<std::size_t> mark(n, 0);
  std::vector<std::uint64_t> stack;
  // The points found on each edge of the triangle at hand, by parameter.
  struct Found {
    double t;
    std::uint64_t v;
    bool operator<(const Found& o) const { return t != o.t ? t < o.t : v < o.v; }
  };
  std::vector<Found> found[3];
  // Per vertex, a mark of the triangle whose edges last found it (twice its
  // index, plus one or two by step), and the edge it goes on with that
  // edge's score (see below).
  std::vector<std::size_t> best_tag(n, 0);
  std::vector<std::uint8_t> best_slot(n, 0), best_score(n, 0);
  std::size_t stamp = 0;
  // Every open edge first with the tight tolerance; an edge whose pieces
  // then still do not pair is split again with the wide one (a vertex of a
  // single-precision mesh may sit a few 1e-7 off the line it lies on).
  constexpr double kTight2 = gp::EDGE_SPLIT_TOLERANCE * gp::EDGE_SPLIT_TOLERANCE;
  constexpr double kWide2 = gp::EDGE_SPLIT_WIDE_TOLERANCE * gp::EDGE_SPLIT_WIDE_TOLERANCE;
  // Copies of one corner that fell in neighbouring cells of the writers'
  // weld lie up to two cell diagonals apart: no split point that close to
  // an end in the tight pass.
  constexpr double kTightEnd = 4 * gp::EDGE_SPLIT_TOLERANCE;
  constexpr double kTightEnd2 = kTightEnd * kTightEnd;
  std::vector<bool> wide(3 * tris, false);
  // False when the walk ran over its budget.
  auto pass = [&]() -> bool {
    work = 0;
    std::fill(best_tag.begin(), best_tag.end(), 0);
    out.points.clear();
    out.starts.assign(3 * tris + 1, 0);
    for (std::size_t tri_at = 0; tri_at < tris; ++tri_at) {
      const Triangle& tri = m.triangles[tri_at];
      for (int k = 0; k < 3; ++k) {
        const std::size_t e = 3 * tri_at + static_cast<std::size_t>(k);
        found[k].clear();
        if (!open[e]) continue;
        const std::uint64_t ia = tri[k], ib = tri[(k + 1) % 3];
        const Pnt& a = m.vertices[ia];
        const Pnt& b = m.vertices[ib];
        const double tol2 = wide[e] ? kWide2 : kTight2;
        const double end2 = wide[e] ? kWide2 : kTightEnd2;
        ++stamp;
        // The triangle's own third corner is never a split point: cutting a
        // sliver at it would only give flat pieces.
        mark[ia] = mark[ib] = mark[tri[(k + 2) % 3]] = stamp;
        stack.assign({ia, ib});
        while (!stack.empty()) {
          const std::uint64_t x = stack.back();
          stack.pop_back();
          work += near_start[x + 1] - near_start[x];
          if (work > budget) return false;
          for (std::size_t i = near_start[x]; i < near_start[x + 1]; ++i) {
            const std::uint64_t w = near[i];
            if (mark[w] == stamp) continue;
            mark[w] = stamp;
            const double t = on_line(a, b, m.vertices[w], tol2);
            if (std::isnan(t)) continue;
            if (t > 0 && t < 1 && apart(a, m.vertices[w], end2) && apart(b, m.vertices[w], end2)) {
              found[k].push_back({t, w});
            }
            stack.push_back(w);
          }
        }
        std::sort(found[k].begin(), found[k].end());
      }
      // In a sliver one vertex may lie on two of its edges; it goes on one
      // only, so that no piece repeats a corner: the one where more of the
      // two pieces beside it meet an edge the other way round (the pieces
      // across pair there), the first of equals.
      // Scored only where a vertex was found twice: the search for its
      // reverse pieces costs a look into the adjacency per point.
      bool shared = false;
      for (int k = 0; k < 3; ++k) {
        for (const Found& f : found[k]) {
          if (best_tag[f.v] == 2 * tri_at + 1) {
            shared = true;
            continue;
          }
          best_tag[f.v] = 2 * tri_at + 1, best_slot[f.v] = static_cast<std::uint8_t>(k);
        }
      }
      const std::size_t tag = 2 * tri_at + 2;
      for (int k = 0; k < 3 && shared; ++k) {
        const std::uint64_t ia = tri[k], ib = tri[(k + 1) % 3];
        for (std::size_t i = 0; i < found[k].size(); ++i) {
          const std::uint64_t w = found[k][i].v;
          const std::uint64_t before = i == 0 ? ia : found[k][i - 1].v;
          const std::uint64_t after = i + 1 == found[k].size() ? ib : found[k][i + 1].v;
          const auto score = static_cast<std::uint8_t>((occurrences(adj.out(w), before) > 0) +
                                                       (occurrences(adj.out(after), w) > 0));
          if (best_tag[w] == tag && !(score > best_score[w])) continue;
          best_tag[w] = tag, best_score[w] = score, best_slot[w] = static_cast<std::uint8_t>(k);
        }
      }
      for (int k = 0; k < 3; ++k) {
        out.starts[3 * tri_at + static_cast<std::size_t>(k)] = out.points.size();
        for (const Found& f : found[k]) {
          if (best_slot[f.v] == k) out.points.push_back(f.v);
        }
      }
    }
    out.starts[3 * tris] = out.points.size();
    return true;
  };
  if (!pass()) return EdgeSplits{};
  if (mark_unpaired_pieces(m, out, open, wide) && !pass()) return EdgeSplits{};
  if (out.points.empty())
    return EdgeSplits{};  // as the header promises: empty when nothing is split
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
