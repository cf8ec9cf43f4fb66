#include "tess/triangulate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "gp/fault.h"
#include "gp/tolerances.h"
#include "tess/triangulate_detail.h"

namespace quorvalind::tess {
namespace detail {
namespace {

using gp::Pnt;
using Ring = std::vector<Entry>;

// v times the reciprocal of its length, or +z when shorter than 1e-9.
Pnt unit_or_z(const Pnt& v) {
  const double len = gp::norm(v);
  if (len < gp::DEGENERATE_LENGTH) return {0.0, 0.0, 1.0};
  return gp::scale(v, 1.0 / len);
}

struct Frame {
  Pnt origin;
  Pnt u;
  Pnt v;
};

// Right-handed (U, V, N): a loop counter-clockwise about N stays
// counter-clockwise in the 2D frame.
Frame make_frame(const std::vector<Pnt>& outer, const Pnt& n) {
  Frame f;
  f.origin = outer[0];
  const Pnt e = unit_or_z(gp::sub(outer[1], outer[0]));
  const double en = (n.x * e.x + n.y * e.y) + n.z * e.z;
  const Pnt u1 = gp::sub(e, gp::scale(n, en));
  const double len = gp::norm(u1);
  if (len >= gp::DEGENERATE_LENGTH) {
    f.u = gp::scale(u1, 1.0 / len);
  } else {
    // First edge along the normal (or unusable): cross with the coordinate
    // axis least aligned with the normal.
    const Pnt m = unit_or_z(n);
    const double ax = std::fabs(m.x), ay = std::fabs(m.y), az = std::fabs(m.z);
    Pnt a{0.0, 0.0, 1.0};
    if (ax <= ay && ax <= az) {
      a = {1.0, 0.0, 0.0};
    } else if (ay <= az) {
      a = {0.0, 1.0, 0.0};
    }
    f.u = unit_or_z(gp::cross(m, a));
  }
  f.v = unit_or_z(gp::cross(n, f.u));
  return f;
}

void project(const std::vector<Pnt>& wire, const Frame& f, std::vector<Pnt>& points, Ring& ring) {
  ring.reserve(wire.size());
  for (const Pnt& p : wire) {
    const Pnt d = gp::sub(p, f.origin);
    ring.push_back({points.size(), gp::dot(d, f.u), gp::dot(d, f.v)});
    points.push_back(p);
  }
}

// Position of the first entry with the largest x, and that x. NaN never
// wins, so the key of a ring is never NaN (-inf when every x is NaN).
struct Rightmost {
  std::size_t pos;
  double x;
};

Rightmost rightmost(const Ring& r) {
  Rightmost best{0, -std::numeric_limits<double>::infinity()};
  for (std::size_t i = 0; i < r.size(); ++i) {
    if (r[i].x > best.x) best = {i, r[i].x};
  }
  return best;
}

// > 0 when c lies left of the directed line a -> b.
inline double orient(const Entry& a, const Entry& b, const Entry& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

inline bool opposite(double p, double q) { return (p > 0.0 && q < 0.0) || (p < 0.0 && q > 0.0); }

// Does the edge e1-e2 block the open segment h-q? A proper crossing does, a
// vertex exactly on the open segment does, and so does a collinear edge
// overlapping it. Touching only at h or q does not.
bool blocks(const Entry& h, const Entry& q, const Entry& e1, const Entry& e2) {
  const double o1 = orient(h, q, e1);
  const double o2 = orient(h, q, e2);
  const double dx = q.x - h.x, dy = q.y - h.y;
  const double len2 = dx * dx + dy * dy;
  const double s1 = (e1.x - h.x) * dx + (e1.y - h.y) * dy;
  const double s2 = (e2.x - h.x) * dx + (e2.y - h.y) * dy;
  if (o1 == 0.0 && o2 == 0.0) return std::max(s1, s2) > 0.0 && std::min(s1, s2) < len2;
  if (o1 == 0.0 && s1 > 0.0 && s1 < len2) return true;
  if (o2 == 0.0 && s2 > 0.0 && s2 < len2) return true;
  return opposite(o1, o2) && opposite(orient(e1, e2, h), orient(e1, e2, q));
}

bool ring_blocks(const Entry& h, const Entry& q, const Ring& r) {
  const std::size_t n = r.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (blocks(h, q, r[i], r[i + 1 < n ? i + 1 : 0])) return true;
  }
  return false;
}

// Is the point of outline position i stored at another position too?
bool repeated(const Ring& outline, std::size_t i) {
  const Entry& e = outline[i];
  for (std::size_t j = 0; j < outline.size(); ++j) {
    if (j != i && outline[j].x == e.x && outline[j].y == e.y) return true;
  }
  return false;
}

// Does the direction from outline position i towards h lie strictly inside
// that position's corner? The outline runs counter-clockwise, so the inside
// is the sector turning counter-clockwise from the outgoing edge to the
// incoming one.
bool corner_contains(const Ring& outline, std::size_t i, const Entry& h) {
  const std::size_t len = outline.size();
  const Entry& b = outline[i];
  const Entry& prev = outline[i == 0 ? len - 1 : i - 1];
  const Entry& next = outline[i + 1 == len ? 0 : i + 1];
  const double ux = next.x - b.x, uy = next.y - b.y;
  const double wx = prev.x - b.x, wy = prev.y - b.y;
  const double dx = h.x - b.x, dy = h.y - b.y;
  const bool past_out = ux * dy - uy * dx > 0.0;
  const bool before_in = dx * wy - dy * wx > 0.0;
  if (ux * wy - uy * wx > 0.0) return past_out && before_in;
  return past_out || before_in;
}

// Bridge end for the hole vertex h (see build_outline). `pending` are the
// holes not yet spliced, h's own ring among them.
std::size_t choose_bridge(const Ring& outline, const Entry& h, const Ring* pending,
                          std::size_t pending_count, std::vector<std::size_t>& order,
                          std::vector<double>& dist) {
  const std::size_t len = outline.size();
  order.resize(len);
  dist.resize(len);
  for (std::size_t i = 0; i < len; ++i) {
    const double dx = outline[i].x - h.x, dy = outline[i].y - h.y;
    dist[i] = dx * dx + dy * dy;
    order[i] = i;
  }
  // Nearest first, ties by position; a NaN distance sorts after all others.
  const auto nearer = [&](std::size_t a, std::size_t b) {
    const double da = dist[a], db = dist[b];
    if (da < db) return true;
    if (db < da) return false;
    const bool na = std::isnan(da), nb = std::isnan(db);
    if (na != nb) return nb;
    return a < b;
  };
  const auto qualifies = [&](std::size_t i) {
    if (repeated(outline, i) && !corner_contains(outline, i, h)) return false;
    const Entry& q = outline[i];
    if (ring_blocks(h, q, outline)) return false;
    for (std::size_t k = 0; k < pending_count; ++k) {
      if (ring_blocks(h, q, pending[k])) return false;
    }
    return true;
  };
  // The nearest entry is usually visible: try it before sorting the rest.
  const std::size_t nearest = *std::min_element(order.begin(), order.end(), nearer);
  if (qualifies(nearest)) return nearest;
  std::sort(order.begin(), order.end(), nearer);
  for (std::size_t n = 1; n < len; ++n) {
    if (qualifies(order[n])) return order[n];
  }
  return nearest;
}

}  // namespace

double signed_area(const std::vector<Entry>& ring) {
  const std::size_t n = ring.size();
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& a = ring[i];
    const Entry& b = ring[i + 1 < n ? i + 1 : 0];
    sum += a.x * b.y - b.x * a.y;
  }
  return 0.5 * sum;
}

// Bridging, with the outer ring counter-clockwise and the holes clockwise:
//
//   outline = outer ring
//   for H in holes, stably sorted by largest x, largest first:
//       K = first position in H with the largest x
//       candidates = outline positions by squared distance to H[K], ties by position
//       B = first candidate i such that
//             (outline[i]'s point occurs once in the outline, or the corner
//              prev(i), i, next(i) contains the direction towards H[K])
//             and the open segment H[K]-outline[i] meets no edge and no
//             vertex of the outline or of a hole not yet spliced (H included)
//           or, when no candidate qualifies, the nearest candidate
//       outline = outline[0..B] + H[K], H[K+1], ..., H[K-1] + H[K] + outline[B] + outline[B+1..]
//
// Nearest alone would let the bridge cut through H itself, another hole or
// the outline, after which no ear can be found and the fan covers the hole.
// Where the nearest entry is visible the choice is the nearest entry.
Outline build_outline(const topods::Face& face) {
  Outline out;
  out.normal = topods::normal(face.outer);
  const std::vector<Pnt>& outer = face.outer.points;
  if (outer.size() < 3) return out;
  const Frame frame = make_frame(outer, out.normal);

  std::size_t total = outer.size();
  for (const topods::Wire& w : face.holes) {
    if (w.points.size() >= 3) total += w.points.size();
  }
  out.points.reserve(total);
  Ring outline;
  project(outer, frame, out.points, outline);
  std::vector<Ring> holes;
  for (const topods::Wire& w : face.holes) {
    if (w.points.size() < 3) continue;
    holes.emplace_back();
    project(w.points, frame, out.points, holes.back());
  }

  if (!(signed_area(outline) > 0.0)) std::reverse(outline.begin(), outline.end());
  for (Ring& h : holes) {
    if (signed_area(h) > 0.0) std::reverse(h.begin(), h.end());
  }

  std::vector<double> key(holes.size());
  std::vector<std::size_t> by_x(holes.size());
  for (std::size_t i = 0; i < holes.size(); ++i) {
    key[i] = rightmost(holes[i]).x;
    by_x[i] = i;
  }
  std::stable_sort(by_x.begin(), by_x.end(),
                   [&](std::size_t a, std::size_t b) { return key[a] > key[b]; });
  std::vector<Ring> sorted;
  sorted.reserve(holes.size());
  for (const std::size_t i : by_x) sorted.push_back(std::move(holes[i]));

  std::vector<std::size_t> order;
  std::vector<double> dist;
  Ring next;
  for (std::size_t hi = 0; hi < sorted.size(); ++hi) {
    const Ring& h = sorted[hi];
    const std::size_t n = h.size();
    const std::size_t k = rightmost(h).pos;
    const std::size_t b =
        choose_bridge(outline, h[k], sorted.data() + hi, sorted.size() - hi, order, dist);
    next.clear();
    next.reserve(outline.size() + n + 2);
    next.insert(next.end(), outline.begin(), outline.begin() + static_cast<std::ptrdiff_t>(b) + 1);
    for (std::size_t t = 0; t < n; ++t) next.push_back(h[(k + t) % n]);
    next.push_back(h[k]);
    next.push_back(outline[b]);
    next.insert(next.end(), outline.begin() + static_cast<std::ptrdiff_t>(b) + 1, outline.end());
    outline.swap(next);
  }
  out.entries = std::move(outline);
  return out;
}

// Ear cutting over positions into the outline (`index`), counter-clockwise:
//
//   while len(index) > 3:
//       for j in 0 .. m-1:                      # m = len(index), restart here after every cut
//           a, b, c = pt(index[j-1]), pt(index[j]), pt(index[j+1])   (cyclic)
//           if cross(b - a, c - a) <= 0: continue                    # reflex or flat
//           if |d| >= 1e-18 and some other q in index lies in abc
//                   (barycentric, inclusive, slack 1e-12): continue
//           emit (index[j-1], index[j], index[j+1]); delete index[j]; break
//       else:
//           fan from index[0]; return
//   emit (index[0], index[1], index[2])
//
// Containment skips every q whose 2D coordinates equal those of a, b or c.
// Bridging leaves two copies of each bridge end in the outline; such a copy
// sits on a corner of every candidate ear at that end, and the inclusive
// test would otherwise reject all of them and drop the outline into the fan.
std::vector<PointTriple> cut_ears(const std::vector<Entry>& outline) {
  std::vector<PointTriple> tris;
  const std::size_t len = outline.size();
  if (len < 3) return tris;
  tris.reserve(len - 2);

  std::vector<double> xs(len), ys(len);
  for (std::size_t i = 0; i < len; ++i) {
    xs[i] = outline[i].x;
    ys[i] = outline[i].y;
  }
  std::vector<std::size_t> index(len);
  std::iota(index.begin(), index.end(), std::size_t{0});
  if (signed_area(outline) < 0.0) std::reverse(index.begin(), index.end());

  const double tol = -gp::EAR_CONTAINMENT_TOLERANCE;
  while (index.size() > 3) {
    const std::size_t m = index.size();
    bool cut = false;
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t ip = index[j == 0 ? m - 1 : j - 1];
      const std::size_t ic = index[j];
      const std::size_t in = index[j + 1 == m ? 0 : j + 1];
      const double ax = xs[ip], ay = ys[ip];
      const double bx = xs[ic], by = ys[ic];
      const double cx = xs[in], cy = ys[in];
      const double cross = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
      if (cross <= 0.0) continue;
      const double bcy = by - cy, cbx = cx - bx;
      const double cay = cy - ay, acx = ax - cx;
      const double d = bcy * (ax - cx) + cbx * (ay - cy);
      if (!(std::fabs(d) < gp::EAR_DETERMINANT_EPSILON)) {
        bool inside = false;
        // The m - 3 other positions, j + 2 ... j + m - 2 (cyclic).
        std::size_t k = j + 2 >= m ? j + 2 - m : j + 2;
        for (std::size_t left = m - 3; left > 0; --left) {
          const std::size_t iq = index[k];
          k = k + 1 == m ? 0 : k + 1;
          const double qx = xs[iq], qy = ys[iq];
          if ((qx == ax && qy == ay) || (qx == bx && qy == by) || (qx == cx && qy == cy)) continue;
          const double s = (bcy * (qx - cx) + cbx * (qy - cy)) / d;
          if (!(s >= tol)) continue;
          const double t = (cay * (qx - cx) + acx * (qy - cy)) / d;
          if (t >= tol && 1.0 - s - t >= tol) {
            inside = true;
            break;
          }
        }
        if (inside) continue;
      }
      tris.push_back({outline[ip].point, outline[ic].point, outline[in].point});
      index.erase(index.begin() + static_cast<std::ptrdiff_t>(j));
      cut = true;
      break;
    }
    if (!cut) {
      for (std::size_t k = 2; k < m; ++k) {
        tris.push_back(
            {outline[index[0]].point, outline[index[k - 1]].point, outline[index[k]].point});
      }
      return tris;
    }
  }
  tris.push_back({outline[index[0]].point, outline[index[1]].point, outline[index[2]].point});
  return tris;
}

}  // namespace detail

std::vector<Triangle3> triangulate_face(const topods::Face& face) {
  const detail::Outline o = detail::build_outline(face);
  const std::vector<detail::PointTriple> tris = detail::cut_ears(o.entries);
  std::vector<Triangle3> out;
  out.reserve(tris.size());
  const std::size_t n = o.points.size();
  for (const detail::PointTriple& t : tris) {
    gp::check_index(t[0], n);
    gp::check_index(t[1], n);
    gp::check_index(t[2], n);
    const gp::Pnt& a = o.points[t[0]];
    const gp::Pnt& b = o.points[t[1]];
    const gp::Pnt& c = o.points[t[2]];
    const gp::Pnt w = gp::cross(gp::sub(b, a), gp::sub(c, a));
    if (gp::dot(w, o.normal) >= 0.0) {
      out.push_back({a, b, c});
    } else {
      out.push_back({a, c, b});
    }
  }
  return out;
}

}  // namespace quorvalind::tess
