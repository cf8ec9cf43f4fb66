#include "bsp/fast/check.h"

#include "gp/fault.h"
#include "gp/text_format.h"

namespace quorvalind::bsp::fast {

namespace {

const char* class_name(unsigned cls) {
  switch (cls) {
    case COPLANAR: return "coplanar";
    case FRONT: return "front";
    case BACK: return "back";
    default: return "spanning";
  }
}

std::string plane_text(const Plane& pl) {
  return "plane (" + gp::shortest(pl.normal.x) + ", " + gp::shortest(pl.normal.y) + ", " +
         gp::shortest(pl.normal.z) + ", " + gp::shortest(pl.w) + ")";
}

// The exact class of poly at pl, own-plane rule included, and the first
// vertex whose class is not `side` (poly.count when none is).
unsigned exact_class(const Plane& pl, const Polygon& poly, Side side, std::uint32_t& odd_vertex) {
  odd_vertex = poly.count;
  unsigned cls = 0;
  for (std::uint32_t i = 0; i < poly.count; ++i) {
    const unsigned c = classify_point(pl, poly.vertices[i]);
    if (c != side && odd_vertex == poly.count) odd_vertex = i;
    cls |= c;
  }
  return same_plane_bits(pl, poly.plane) ? unsigned{COPLANAR} : cls;
}

std::string vertex_finding(const Plane& pl, const Polygon& poly, std::uint32_t i) {
  return "vertex " + std::to_string(i) + " is " + class_name(classify_point(pl, poly.vertices[i]));
}

}  // namespace

void shortcut_failed(const std::string& shortcut, const std::string& claim,
                     const std::string& finding) {
  throw gp::InternalFault("shortcut '" + shortcut + "' " + claim + " but " + finding);
}

std::string proof_name(const char* group, ProofBy by) {
  return std::string(group) + (by == BY_CORNERS ? " by corners" : " by sphere");
}

void check_plane_side(const std::string& shortcut, const Plane& pl, const Polygon& poly,
                      Side side) {
  for (std::uint32_t i = 0; i < poly.count; ++i) {
    if (classify_point(pl, poly.vertices[i]) != side) {
      shortcut_failed(shortcut, std::string("proved ") + class_name(side) + " at " + plane_text(pl),
                      vertex_finding(pl, poly, i));
    }
  }
}

void check_index_group(const Hier& h, std::uint32_t hn, ProofBy by, const Polygon& poly,
                       Side side) {
  const std::string name = proof_name("index group", by);
  std::vector<std::uint32_t> todo{hn};
  while (!todo.empty()) {
    const HNode& n = h.nodes[todo.back()];
    todo.pop_back();
    if (n.child[0] != NONE) {
      todo.push_back(n.child[0]);
      todo.push_back(n.child[1]);
      continue;
    }
    for (std::uint32_t m = 0; m < n.count; ++m) {
      check_plane_side(name, h.leaf_plane[n.first + m], poly, side);
    }
  }
}

void check_run_group(const Tree& t, const Chain& ch, const Run& run, std::size_t first,
                     std::size_t end, ProofBy by, const Polygon& poly, Side side) {
  const std::string name = proof_name("run group", by);
  for (std::size_t i = first; i < end; ++i) {
    check_plane_side(name, t.nodes[ch.nodes[run.pos[i]]].plane, poly, side);
  }
}

void check_passed(const char* shortcut, const Tree& t, Side side, std::uint32_t c, std::uint32_t p,
                  std::uint32_t k, const FPoly& q) {
  const Chain& ch = t.chains[slot(side)][c];
  for (std::uint32_t j = p; j < k; ++j) {
    const Plane& pl = t.nodes[ch.nodes[j]].plane;
    std::uint32_t odd;
    const unsigned cls = exact_class(pl, q.p, side, odd);
    if (cls == side) continue;
    const std::string claim = std::string("passed chain position ") + std::to_string(j) + " as " +
                              class_name(side) + " at " + plane_text(pl);
    if (odd == q.p.count) shortcut_failed(shortcut, claim, "the node has the polygon's own plane");
    shortcut_failed(shortcut, claim, vertex_finding(pl, q.p, odd));
  }
}

void check_exit(const char* shortcut, const Tree& t, const FPoly& q, std::uint32_t exit) {
  const std::string claim = "proved an exit in front of node " + std::to_string(exit);
  std::uint32_t n = 0;
  while (true) {
    const FNode& node = t.nodes[n];
    std::uint32_t odd;
    const unsigned cls = exact_class(node.plane, q.p, FRONT, odd);
    if (cls != FRONT && cls != BACK) {
      shortcut_failed(shortcut, claim,
                      "the walk from the root is " + std::string(class_name(cls)) + " at node " +
                          std::to_string(n));
    }
    const std::uint32_t next = node.child[slot(cls)];
    if (next == NONE) {
      if (cls == FRONT && n == exit) return;
      shortcut_failed(shortcut, claim,
                      "the walk from the root leaves " + std::string(class_name(cls)) +
                          " of node " + std::to_string(n));
    }
    n = next;
  }
}

}  // namespace quorvalind::bsp::fast
