#include "bsp/fast/engine.h"

#include <algorithm>
#include <cstring>

#include "bsp/fast/check.h"

// Corner lists of a planned build
// --------------------------------
// A planned chain's candidates are the inputs, and an input starts at the
// root whole, its corners those of the operand. Its class at a member's
// plane other than its own is the OR of its corners' point classes
// (classify_point, the same arithmetic as PlaneTest), so it is BACK at
// every member whose plane has all of its corners strictly behind. For
// every distinct corner point, the candidates whose plane does not are
// listed, ascending: a candidate is left out only where a group bound of
// the chain's index proves the point behind all of the group's planes, or
// where classify_point says BACK. The least member at which an input's
// class is not BACK is then the least listed member of its corners with
// that class, or the own-plane node when that comes first (by_corners):
// the answer of follow_chain, found by classifying a handful of planes.
// On a convex operand a point is listed by the few planes through it; a
// list that grows past a budget (a non-convex operand, non-finite
// points) gives the lists up, and follow_chain serves as before.

namespace quorvalind::bsp::fast {

namespace {

std::uint64_t point_bits_hash(const Pnt& v) {
  const double x[3] = {v.x, v.y, v.z};
  return doubles_bits_hash(x, 3);
}

}  // namespace

void FastEngine::list_corners(const Hier& h, const FList& list) {
  CornerLists& cl = corners;
  cl.ok = false;
  cl.first_corner.clear();
  cl.point_of.clear();
  cl.first.clear();
  cl.cand.clear();
  cl.points.clear();
  std::size_t total = 0;
  for (const FPoly& q : list) total += q.p.count;
  std::size_t cap = 64;
  while (cap < 2 * total) cap *= 2;
  cl.slots.assign(cap, NONE);
  cl.first_corner.reserve(list.size() + 1);
  cl.point_of.reserve(total);
  for (const FPoly& q : list) {
    cl.first_corner.push_back(static_cast<std::uint32_t>(cl.point_of.size()));
    for (std::uint32_t j = 0; j < q.p.count; ++j) {
      const Pnt& v = q.p.vertices[j];
      std::size_t i = point_bits_hash(v) & (cap - 1);
      while (cl.slots[i] != NONE && std::memcmp(&cl.points[cl.slots[i]], &v, sizeof v) != 0) {
        i = (i + 1) & (cap - 1);
      }
      if (cl.slots[i] == NONE) {
        cl.slots[i] = static_cast<std::uint32_t>(cl.points.size());
        cl.points.push_back(v);
      }
      cl.point_of.push_back(cl.slots[i]);
    }
  }
  cl.first_corner.push_back(static_cast<std::uint32_t>(cl.point_of.size()));
  const std::size_t budget = 4 * total + 1024;
  std::vector<std::uint32_t> stack, leaves;
  const std::uint32_t npoints = static_cast<std::uint32_t>(cl.points.size());
  cl.first.reserve(npoints + 1);
  // Points go down the index a group at a time (neighbours, in the order
  // the operand's triangles name them): the group's sphere, or each of
  // its points, proves most groups of planes once for all of them, and
  // each point then tries the leaves the group left.
  for (std::uint32_t g = 0; g < npoints; g += CORNER_PROOF_MAX) {
    const Pnt* gv = cl.points.data() + g;
    const std::uint32_t gn = std::min(CORNER_PROOF_MAX, npoints - g);
    Pnt c;
    double r;
    sphere_of(gv, gn, c, r);
    const double c1 = std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z);
    const Probe gp{c, c1, r, gp::SKIP_RESUME_PAD * (c1 + r), gv, gn};
    leaves.clear();
    stack.assign(1, 0);
    while (!stack.empty()) {
      const std::uint32_t k = stack.back();
      stack.pop_back();
      const HNode& hn = h.nodes[k];
      if (proves_side(hn.b, BACK, gp)) continue;
      if (hn.child[0] != NONE) {
        stack.push_back(hn.child[0]);
        stack.push_back(hn.child[1]);
      } else {
        leaves.push_back(k);
      }
    }
    for (std::uint32_t j = 0; j < gn; ++j) {
      const Pnt& v = gv[j];
      const std::size_t from = cl.cand.size();
      cl.first.push_back(static_cast<std::uint32_t>(from));
      const Probe pr{v, std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z), 0.0, 0.0, nullptr, 0};
      for (const std::uint32_t k : leaves) {
        const HNode& hn = h.nodes[k];
        if (proves_side(hn.b, BACK, pr)) continue;
        for (std::uint32_t m = 0; m < hn.count; ++m) {
          const std::uint32_t u = h.leaf_pos[hn.first + m];
          if (classify_point(h.leaf_plane[hn.first + m], v) != BACK) cl.cand.push_back(u);
        }
      }
      std::sort(cl.cand.begin() + static_cast<std::ptrdiff_t>(from), cl.cand.end());
      if (cl.cand.size() > budget) return;
    }
  }
  cl.first.push_back(static_cast<std::uint32_t>(cl.cand.size()));
  cl.ok = true;
}

// follow_chain's answer for input i entering the planned chain at the
// root, from its corners' lists (see CornerLists).
Arrival FastEngine::by_corners(const Tree& t, std::uint32_t i, const FPoly& q) {
  const CornerLists& cl = corners;
  const std::uint32_t c = t.nodes[0].chain[slot(BACK)];
  const Chain& ch = t.chains[slot(BACK)][c];
  const std::uint32_t len = static_cast<std::uint32_t>(ch.nodes.size());
  const std::uint32_t limit = own_plane_limit(t, BACK, c, 0, q.id);
  const auto classify_at = [&](std::uint32_t k) {
    return PlaneTest(t.nodes[ch.nodes[k]].plane).classify(q.p, ws.scratch);
  };
  std::uint32_t best = limit;
  unsigned best_cls = 0;
  bool last_is_best = false;
  for (std::uint32_t j = cl.first_corner[i]; j < cl.first_corner[i + 1]; ++j) {
    const std::uint32_t v = cl.point_of[j];
    for (std::uint32_t k = cl.first[v]; k < cl.first[v + 1]; ++k) {
      const std::uint32_t u = cl.cand[k];
      if (u >= i) break;  // not a member yet
      const std::uint32_t pos = ch.ix().pos_of_u[u];
      if (pos == NONE) continue;
      if (pos >= best) break;  // positions grow with candidates
      const unsigned cls = classify_at(pos);
      last_is_best = false;
      if (cls != BACK) {
        best = pos;
        best_cls = cls;
        last_is_best = true;
        break;
      }
    }
  }
  if (options.check_shortcuts) [[unlikely]] {
    check_passed("corner lists", t, BACK, c, 0, std::min(best, len), q);
  }
  if (best < limit) {
    // A SPANNING answer leaves its vertex classes in scratch.
    if (!last_is_best) classify_at(best);
    return {ch.nodes[best], best_cls, false, BACK};
  }
  if (limit < len) return {ch.nodes[limit], classify_at(limit), false, BACK};
  return {ch.nodes[len - 1], BACK, true, BACK};
}

}  // namespace quorvalind::bsp::fast
