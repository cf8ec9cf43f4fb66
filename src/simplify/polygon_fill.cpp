#include "simplify/polygon_fill.h"

#include <algorithm>
#include <cmath>
#include <limits>

// Ear cutting on a doubly linked ring:
//
//   splice each hole into the outer ring through a bridge to a vertex it
//   can see (leftmost hole first, found by a ray cast to the left);
//   walk the ring; a vertex is an ear when it turns left and no other
//   corner lies inside or on its triangle; cut ears until three are left.
//
// Large rings also hang every corner in a cell of a uniform grid over the
// ring's box, so that the ear test looks only at the corners in the cells
// the ear's box covers; the answer is the same as a scan of the whole ring.
// Unlike a general-purpose filler, no collinear corner is ever removed:
// corners on a straight edge are shared with the region next door.
namespace quorvalind::simplify {

namespace {

struct Node {
  std::uint32_t i;  // position in pts
  double x, y;
  Node* prev = nullptr;
  Node* next = nullptr;
  std::uint32_t cell = 0;
  Node* prev_c = nullptr;  // the corners of the same grid cell
  Node* next_c = nullptr;
};

// Twice the signed area of p, q, r, negative for a left (counter-clockwise)
// turn.
inline double area(const Node* p, const Node* q, const Node* r) {
  return (q->y - p->y) * (r->x - q->x) - (q->x - p->x) * (r->y - q->y);
}

inline bool same_place(const Node* a, const Node* b) { return a->x == b->x && a->y == b->y; }

std::size_t ring_size(const Node* start) {
  std::size_t n = 0;
  const Node* p = start;
  do {
    ++n;
    p = p->next;
  } while (p != start);
  return n;
}

// Whether (px, py) lies in or on the triangle a, b, c (counter-clockwise).
inline bool point_in_triangle(double ax, double ay, double bx, double by, double cx, double cy,
                              double px, double py) {
  return (cx - px) * (ay - py) >= (ax - px) * (cy - py) &&
         (ax - px) * (by - py) >= (bx - px) * (ay - py) &&
         (bx - px) * (cy - py) >= (cx - px) * (by - py);
}

class Filler {
 public:
  Filler(std::span<const Pt2> pts, std::size_t capacity) : pts_(pts) { nodes_.reserve(capacity); }

  // A ring linked in the given order; nullptr for an empty ring.
  Node* link(const std::vector<std::uint32_t>& ring) {
    Node* last = nullptr;
    for (const std::uint32_t i : ring) last = insert(i, last);
    return last ? last->next : nullptr;
  }

  // Splices every hole into the outer ring; false when a hole finds no
  // bridge.
  bool splice_holes(Node*& outer, std::vector<Node*>& holes) {
    std::vector<Node*> leftmost;
    for (Node* h : holes) leftmost.push_back(leftmost_of(h));
    std::sort(leftmost.begin(), leftmost.end(), [](const Node* a, const Node* b) {
      if (a->x != b->x) return a->x < b->x;
      if (a->y != b->y) return a->y < b->y;
      return a->i < b->i;
    });
    for (Node* h : leftmost) {
      Node* bridge = find_bridge(h, outer);
      if (!bridge) return false;
      split(bridge, h);
    }
    return true;
  }

  // Drops nodes that repeat their predecessor's place (a hole touching the
  // outer ring at a corner leaves such pairs): a zero-length edge has no
  // corner to keep. Returns a node still in the ring, or nullptr when fewer
  // than three are left.
  Node* drop_repeats(Node* start) {
    std::size_t n = ring_size(start);
    Node* p = start;
    for (std::size_t since = 0; since < n;) {
      if (same_place(p, p->next)) {
        unlink(p->next);
        if (--n < 3) return nullptr;
        since = 0;
      } else {
        p = p->next;
        ++since;
      }
    }
    return p;
  }

  bool cut(Node* ear, std::size_t count, std::vector<std::array<std::uint32_t, 3>>& out) {
    if (count > 80) index_curve(ear);
    Node* stop = ear;
    while (ear->prev != ear->next) {
      Node* prev = ear->prev;
      Node* next = ear->next;
      if (hashed_ ? is_ear_hashed(ear) : is_ear(ear)) {
        out.push_back({prev->i, ear->i, next->i});
        unlink(ear);
        // Moving on two places gives fewer slivers than staying here.
        ear = next->next;
        stop = next->next;
        continue;
      }
      ear = next;
      if (ear == stop) return false;
    }
    return true;
  }

 private:
  Node* insert(std::uint32_t i, Node* last) {
    nodes_.push_back(Node{i, pts_[i].x, pts_[i].y});
    Node* p = &nodes_.back();
    if (!last) {
      p->prev = p->next = p;
    } else {
      p->next = last->next;
      p->prev = last;
      last->next->prev = p;
      last->next = p;
    }
    return p;
  }

  void unlink(Node* p) {
    p->next->prev = p->prev;
    p->prev->next = p->next;
    if (!hashed_) return;
    if (p->prev_c) {
      p->prev_c->next_c = p->next_c;
    } else {
      cells_[p->cell] = p->next_c;
    }
    if (p->next_c) p->next_c->prev_c = p->prev_c;
  }

  static Node* leftmost_of(Node* start) {
    Node* p = start;
    Node* left = start;
    do {
      if (p->x < left->x || (p->x == left->x && p->y < left->y)) left = p;
      p = p->next;
    } while (p != start);
    return left;
  }

  // Whether the diagonal a-b leaves a into the polygon's inside.
  static bool locally_inside(const Node* a, const Node* b) {
    return area(a->prev, a, a->next) < 0 ? area(a, b, a->next) >= 0 && area(a, a->prev, b) >= 0
                                         : area(a, b, a->prev) < 0 || area(a, a->next, b) < 0;
  }

  static bool sector_contains_sector(const Node* m, const Node* p) {
    return area(m->prev, m, p->prev) < 0 && area(p->next, m, m->next) < 0;
  }

  // A vertex of the outer ring that the hole's leftmost vertex h sees: the
  // nearer end of the first edge a ray to the left meets, or, when corners
  // lie in the triangle between h, the hit and that end, the one of them at
  // the smallest angle to the ray.
  static Node* find_bridge(Node* h, Node* outer) {
    Node* p = outer;
    const double hx = h->x, hy = h->y;
    double qx = -std::numeric_limits<double>::infinity();
    Node* m = nullptr;
    do {
      if (hy <= p->y && hy >= p->next->y && p->next->y != p->y) {
        const double x = p->x + (hy - p->y) * (p->next->x - p->x) / (p->next->y - p->y);
        if (x <= hx && x > qx) {
          qx = x;
          m = p->x < p->next->x ? p : p->next;
          if (x == hx) return m;
        }
      }
      p = p->next;
    } while (p != outer);
    if (!m) return nullptr;
    Node* const stop = m;
    const double mx = m->x, my = m->y;
    double tan_min = std::numeric_limits<double>::infinity();
    p = m;
    do {
      if (hx >= p->x && p->x >= mx && hx != p->x &&
          point_in_triangle(hy < my ? hx : qx, hy, mx, my, hy < my ? qx : hx, hy, p->x, p->y)) {
        const double tan = std::fabs(hy - p->y) / (hx - p->x);
        if (locally_inside(p, h) &&
            (tan < tan_min ||
             (tan == tan_min && (p->x > m->x || (p->x == m->x && sector_contains_sector(m, p)))))) {
          m = p;
          tan_min = tan;
        }
      }
      p = p->next;
    } while (p != stop);
    return m;
  }

  // Links a to b by two copies of each, so that the ring runs a, b, ...
  // around b's ring ..., b', a', on around a's.
  void split(Node* a, Node* b) {
    Node* a2 = insert_free(*a);
    Node* b2 = insert_free(*b);
    Node* an = a->next;
    Node* bp = b->prev;
    a->next = b;
    b->prev = a;
    a2->next = an;
    an->prev = a2;
    b2->next = a2;
    a2->prev = b2;
    bp->next = b2;
    b2->prev = bp;
  }

  Node* insert_free(const Node& copy) {
    nodes_.push_back(Node{copy.i, copy.x, copy.y});
    return &nodes_.back();
  }

  // The ear test proper: a left turn, and no other corner in or on the
  // triangle. Copies of the ear's own corners (bridge ends) do not count.
  bool clear_of(const Node* a, const Node* b, const Node* c, const Node* p) const {
    if (p == a || p == b || p == c || same_place(p, a) || same_place(p, b) || same_place(p, c)) {
      return true;
    }
    return !point_in_triangle(a->x, a->y, b->x, b->y, c->x, c->y, p->x, p->y);
  }

  bool is_ear(const Node* ear) const {
    const Node* a = ear->prev;
    const Node* c = ear->next;
    if (area(a, ear, c) >= 0) return false;
    for (const Node* p = c->next; p != a; p = p->next) {
      if (!clear_of(a, ear, c, p)) return false;
    }
    return true;
  }

  bool is_ear_hashed(const Node* ear) const {
    const Node* a = ear->prev;
    const Node* b = ear;
    const Node* c = ear->next;
    if (area(a, b, c) >= 0) return false;
    const double x0 = std::min({a->x, b->x, c->x}), x1 = std::max({a->x, b->x, c->x});
    const double y0 = std::min({a->y, b->y, c->y}), y1 = std::max({a->y, b->y, c->y});
    // Cells are monotone in each coordinate: every corner in the box is in
    // one of these cells.
    const std::uint32_t cx0 = cell_of(x0, min_x_, inv_w_, nx_),
                        cx1 = cell_of(x1, min_x_, inv_w_, nx_);
    const std::uint32_t cy0 = cell_of(y0, min_y_, inv_h_, ny_),
                        cy1 = cell_of(y1, min_y_, inv_h_, ny_);
    for (std::uint32_t cy = cy0; cy <= cy1; ++cy) {
      for (std::uint32_t cx = cx0; cx <= cx1; ++cx) {
        for (const Node* p = cells_[cy * nx_ + cx]; p; p = p->next_c) {
          if (p->x >= x0 && p->x <= x1 && p->y >= y0 && p->y <= y1 && !clear_of(a, b, c, p)) {
            return false;
          }
        }
      }
    }
    return true;
  }

  static std::uint32_t cell_of(double v, double lo, double inv, std::uint32_t n) {
    const double c = (v - lo) * inv;
    return !(c > 0) ? 0u : c >= n - 1 ? n - 1 : static_cast<std::uint32_t>(c);
  }

  // About two corners a cell, the cells as square as the ring's box allows.
  void index_curve(Node* start) {
    min_x_ = min_y_ = std::numeric_limits<double>::infinity();
    double max_x = -min_x_, max_y = -min_y_;
    std::size_t n = 0;
    Node* p = start;
    do {
      ++n;
      min_x_ = std::min(min_x_, p->x);
      min_y_ = std::min(min_y_, p->y);
      max_x = std::max(max_x, p->x);
      max_y = std::max(max_y, p->y);
      p = p->next;
    } while (p != start);
    const double w = max_x - min_x_, h = max_y - min_y_;
    const double target = std::max(1.0, static_cast<double>(n) / 2);
    constexpr double kMaxSide = 4096;
    double nx = 1, ny = 1;
    if (w > 0 && h > 0) {
      nx = std::clamp(std::floor(std::sqrt(target * w / h)), 1.0, kMaxSide);
      ny = std::clamp(std::floor(target / nx), 1.0, kMaxSide);
    } else if (w > 0) {
      nx = std::min(target, kMaxSide);
    } else if (h > 0) {
      ny = std::min(target, kMaxSide);
    }
    nx_ = static_cast<std::uint32_t>(nx);
    ny_ = static_cast<std::uint32_t>(ny);
    inv_w_ = w > 0 ? nx / w : 0;
    inv_h_ = h > 0 ? ny / h : 0;
    cells_.assign(static_cast<std::size_t>(nx_) * ny_, nullptr);
    // Each cell's list in ring order from `start`, built back to front.
    std::vector<Node*> ring;
    ring.reserve(n);
    p = start;
    do {
      ring.push_back(p);
      p = p->next;
    } while (p != start);
    for (auto it = ring.rbegin(); it != ring.rend(); ++it) {
      Node* q = *it;
      q->cell = cell_of(q->y, min_y_, inv_h_, ny_) * nx_ + cell_of(q->x, min_x_, inv_w_, nx_);
      q->prev_c = nullptr;
      q->next_c = cells_[q->cell];
      if (q->next_c) q->next_c->prev_c = q;
      cells_[q->cell] = q;
    }
    hashed_ = true;
  }

  std::span<const Pt2> pts_;
  std::vector<Node> nodes_;
  bool hashed_ = false;
  double min_x_ = 0, min_y_ = 0, inv_w_ = 0, inv_h_ = 0;
  std::uint32_t nx_ = 1, ny_ = 1;
  std::vector<Node*> cells_;
};

}  // namespace

bool fill_polygon(std::span<const Pt2> pts, std::span<const std::vector<std::uint32_t>> rings,
                  std::vector<std::array<std::uint32_t, 3>>& out) {
  if (rings.empty() || rings[0].size() < 3) return false;
  std::size_t count = 0;
  for (const auto& r : rings) {
    count += r.size();
    // The grid index and the ear test need finite corners.
    for (const std::uint32_t i : r) {
      if (!std::isfinite(pts[i].x) || !std::isfinite(pts[i].y)) return false;
    }
  }
  // Every node, bridge copies included, lives in one store that never
  // reallocates.
  Filler f(pts, count + 2 * rings.size());
  Node* outer = f.link(rings[0]);
  std::vector<Node*> holes;
  for (std::size_t k = 1; k < rings.size(); ++k) {
    if (rings[k].size() < 3) return false;
    holes.push_back(f.link(rings[k]));
  }
  if (!f.splice_holes(outer, holes)) return false;
  outer = f.drop_repeats(outer);
  if (!outer) return false;
  const std::size_t before = out.size();
  if (!f.cut(outer, ring_size(outer), out)) {
    out.resize(before);
    return false;
  }
  return true;
}

}  // namespace quorvalind::simplify
