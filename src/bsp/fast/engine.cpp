#include "bsp/fast/engine.h"

#include <algorithm>

#include "bsp/fast_tree.h"

namespace quorvalind::bsp::fast {

void FastEngine::remember(FPoly& q, const Tree& t, Side side, const Resume& found) {
  if (found.chain == NONE) return;
  q.last = {&t,
            found.chain,
            static_cast<std::uint8_t>(side),
            found.past_end,
            t.epoch,
            found.start,
            found.pos - 1,
            q.id};
}

// The search `found`, made for a polygon before it was split at its
// answer into `pieces`, for the piece that goes on down the chain; none
// when a corner of the piece may lie off the polygon's edges (a crossing
// parameter outside [0, 1], see SKIP_RESUME_PAD) or the searches have gone on
// too long.
Resume FastEngine::handed_down(const Resume& found, const SpanPieces& pieces) {
  if (found.chain == NONE || found.gen >= gp::SKIP_RESUME_GEN_MAX || !pieces.crossings_on_edges) {
    return {};
  }
  return found;
}

FPoly FastEngine::wrap(const Polygon& p, std::uint32_t id) {
  FPoly q{p, {0, 0, 0}, 0.0, id, {}, {}};
  set_sphere(q);
  return q;
}

void FastEngine::clip_to(Tree& t, Tree& other) {
  for (FNode& n : t.nodes) {
    ws.check_stop();
    if (!n.polygons.empty()) n.polygons = clip(other, std::move(n.polygons));
  }
}

void FastEngine::invert(Tree& t) {
  for (FNode& n : t.nodes) {
    ws.check_stop();
    for (FPoly& q : n.polygons) {
      std::reverse(q.p.vertices, q.p.vertices + q.p.count);
      q.p.plane = negated(q.p.plane);
      q.id = ids.neg(q.id);
    }
    if (n.has_plane) {
      n.plane = negated(n.plane);
      n.id = ids.neg(n.id);
    }
    std::swap(n.child[0], n.child[1]);
    std::swap(n.chain[0], n.chain[1]);
    std::swap(n.pos[0], n.pos[1]);
    std::swap(n.long_chain[0], n.long_chain[1]);
  }
  // Back chains become front chains with every plane negated: h_k and
  // the normals change sign, |n_k - a| and the magnitudes do not.
  std::swap(t.chains[0], t.chains[1]);
  for (auto& chains : t.chains) {
    for (Chain& ch : chains) {
      if (!ch.index) continue;
      ChainIndex& x = *ch.index;
      for (HNode& hn : x.hier.nodes) negate(hn.b);
      for (Plane& p : x.hier.leaf_plane) p = negated(p);
      for (Run& run : x.runs) {
        for (auto& level : run.levels) {
          for (Bound& b : level) {
            negate(b);
          }
        }
      }
    }
  }
  ++t.epoch;
  std::vector<std::uint32_t> head(t.id_head.size(), NONE);
  for (std::size_t id = 0; id < head.size(); ++id) {
    head[ids.neg(static_cast<std::uint32_t>(id))] = t.id_head[id];
  }
  t.id_head = std::move(head);
  t.order_valid = false;
}

template <class F>
void FastEngine::drain(Tree& t, F&& f) {
  if (t.nodes.empty()) return;
  std::vector<std::uint32_t> stack{0};
  while (!stack.empty()) {
    const std::uint32_t n = stack.back();
    stack.pop_back();
    ws.check_stop();
    FNode& node = t.nodes[n];
    for (const FPoly& q : node.polygons) f(q);
    node.polygons.clear();
    if (node.child[slot(BACK)] != NONE) stack.push_back(node.child[slot(BACK)]);
    if (node.child[slot(FRONT)] != NONE) stack.push_back(node.child[slot(FRONT)]);
  }
}

std::size_t FastEngine::polygon_count(const Tree& t) {
  std::size_t n = 0;
  for (const FNode& node : t.nodes) n += node.polygons.size();
  return n;
}

FList FastEngine::take_all(Tree& t) {
  FList out;
  out.reserve(polygon_count(t));
  drain(t, [&out](const FPoly& q) { out.push_back(q); });
  return out;
}

}  // namespace quorvalind::bsp::fast

namespace quorvalind::bsp {

PolygonList fast_sequence(CsgOp op, PolygonList a, PolygonList b, Workspace& ws,
                          const SkipOptions& options) {
  using namespace fast;
  FastEngine e(ws, options);
  FList fa, fb;
  fa.reserve(a.size());
  fb.reserve(b.size());
  e.ids.reserve(2 * (a.size() + b.size()));  // the planes and their negations
  for (const Polygon& p : a) fa.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  for (const Polygon& p : b) fb.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  e.ids.close_under_negation();
  for (FPoly& q : fa) set_sphere(q);
  for (FPoly& q : fb) set_sphere(q);
  Tree A = make_tree(e.ids.size(), options);
  Tree B = make_tree(e.ids.size(), options);
  e.build(A, std::move(fa));
  e.build(B, std::move(fb));
  struct Ops {
    FastEngine& e;
    void clip_to(Tree& x, Tree& y) { e.clip_to(x, y); }
    void invert(Tree& x) { e.invert(x); }
    void absorb(Tree& x, Tree& y) { e.build(x, e.take_all(y), true); }
  } ops{e};
  tree_sequence(op, ops, A, B);
  // The result goes into operand a's list, whose room it mostly fits.
  PolygonList& out = a;
  out.clear();
  out.reserve(FastEngine::polygon_count(A));
  e.drain(A, [&out](const FPoly& q) { out.push_back(q.p); });
  return std::move(out);
}

}  // namespace quorvalind::bsp
