#include "bsp/fast/engine.h"

#include <algorithm>

#include "bsp/fast/check.h"

// One polygon at a time: clip
// ---------------------------
// clip_polygons treats the polygons of a list independently, as build does
// (fast/build.cpp), so each polygon and each piece cut from it walks the
// tree on its own. The literal output is the front subtree's before the
// back subtree's, and a list that reaches a missing front child is emitted
// there as f + cf. So pieces are ordered by (a) the pre-order position,
// front before back, of the node where they are emitted; (b) then by their
// sides along the path read from the emitting node up to the root, a plain
// FRONT/BACK side before a COPLANAR one at the first node from the bottom
// where two paths differ in that respect; (c) then by input position (one
// input has at most one piece in any list). clip records (a) to (c) for
// every emitted piece and sorts by them.
//
// Repeated clips
// --------------
// A polygon clipped whole by a tree, never split and never COPLANAR on its
// way, records the node in front of which it was emitted (WholeExit).
// Clipped by the same tree again (same epoch, same node count: the same
// planes and links), it meets the same planes with the same vertices
// (invert only reverses their order and negates its plane), so each class,
// the OR of its vertices' classes, is FRONT or BACK as before, unless the
// own-plane rule makes it COPLANAR at a node with its present plane id; the
// previous walk had none with its id then, or it would have been COPLANAR
// there. So when no node on the path from the root to the recorded node has
// its present id, the walk takes the same sides to the same place and the
// polygon is emitted there with no COPLANAR sides, as the walk would emit
// it; the clip after an invert (B.clip_to(A) twice) re-walks only the
// pieces that were cut or COPLANAR.
//
// A piece cut on its way down the root's back chain and emitted in front of
// a node of it keeps the list of the nodes on its way that a walk
// classified (for it or for a polygon it was cut from, at most
// SKIP_RESUME_GEN_MAX - 1 splits before, every split with its crossing
// points on the edges) rather than proved: the nodes where it was cut and
// the leaf members the searches tried. Every other node on the way was
// proven back for a polygon it lies on with the widening that covers the
// piece (SKIP_RESUME_PAD), so it is back of them too. Clipped by the same
// tree again, with no node on the way with its present id, it takes the
// same way when each listed node classifies it BACK and the exit node
// FRONT: only those are classified (Lineage, replays). A node where the
// classifying walk found every vertex behind by more than PLANE_EPSILON and
// the widening is not listed (deep_back): the piece, within the widening of
// that polygon's hull, is BACK there as well.

namespace quorvalind::bsp::fast {

void FastEngine::ensure_order(Tree& t) {
  if (t.order_valid) return;
  const std::size_t count = t.nodes.size();
  t.pre.assign(count, 0);
  t.depth.assign(count, 0);
  t.pre_end.assign(count, 0);
  std::vector<std::uint32_t> by_pre(count), parent(count, NONE);
  std::vector<std::uint32_t> stack{0};
  std::uint32_t next = 0;
  while (!stack.empty()) {
    const std::uint32_t n = stack.back();
    stack.pop_back();
    by_pre[next] = n;
    t.pre[n] = next++;
    for (const Side side : {Side{BACK}, Side{FRONT}}) {
      const std::uint32_t c = t.nodes[n].child[slot(side)];
      if (c != NONE) {
        t.depth[c] = t.depth[n] + 1;
        parent[c] = n;
        stack.push_back(c);
      }
    }
  }
  // Subtree sizes, children before parents.
  std::vector<std::uint32_t> size(count, 1);
  for (std::uint32_t i = next; i-- > 1;) size[parent[by_pre[i]]] += size[by_pre[i]];
  for (std::uint32_t i = 0; i < next; ++i) t.pre_end[by_pre[i]] = i + size[by_pre[i]];
  t.order_valid = true;
}

// Ordering of two pieces emitted at the same node: the first difference
// from the bottom of their paths, a plain side before a COPLANAR one.
bool FastEngine::marks_less(std::uint32_t a, std::uint32_t b) const {
  while (a != NONE && b != NONE) {
    if (marks[a].depth != marks[b].depth) return marks[a].depth < marks[b].depth;
    a = marks[a].next;
    b = marks[b].next;
  }
  return a == NONE && b != NONE;
}

int FastEngine::marks_cmp(std::uint32_t a, std::uint32_t b) const {
  if (marks_less(a, b)) return -1;
  if (marks_less(b, a)) return 1;
  return 0;
}

FList FastEngine::clip(Tree& t, FList list) {
  if (!t.nodes[0].has_plane || list.empty()) return list;
  ensure_order(t);
  marks.clear();
  emitted.clear();
  for (std::uint32_t i = 0; i < list.size(); ++i) {
    ws.check_stop();
    clip_stack.clear();
    open.clear();
    if (exits_whole(t, list[i]) || replays(t, list[i])) {
      emitted.push_back({list[i], t.pre[list[i].exit.node], NONE, i});
      continue;
    }
    const Lineage lin{true, static_cast<std::uint32_t>(replay_nodes().size()), 0, 0};
    ClipItem it{list[i], 0, NONE, BACK, Resume{}, true, lin};
    walk(t, it, i);
    while (!clip_stack.empty()) {
      it = clip_stack.back();
      clip_stack.pop_back();
      walk(t, it, i);
    }
  }
  std::sort(emitted.begin(), emitted.end(), [this](const Emitted& x, const Emitted& y) {
    if (x.pre != y.pre) return x.pre < y.pre;
    const int c = marks_cmp(x.marks, y.marks);
    if (c != 0) return c < 0;
    return x.index < y.index;
  });
  // Exactly the room the result needs: the clipped lists hold most of the
  // operation's polygons until the next step, and builds leave up to half
  // of a list's room unused.
  list.clear();
  if (list.capacity() > emitted.size() + emitted.size() / 8) FList().swap(list);
  list.reserve(emitted.size());
  for (const Emitted& e : emitted) list.push_back(e.q);
  emitted.clear();
  return list;
}

// True when q's walk from t's root would end where its recorded one did
// (see "Repeated clips" above): same tree state, and no node on the path
// with q's present plane, which is the only class that may differ.
bool FastEngine::exits_whole(const Tree& t, const FPoly& q) const {
  if (q.exit.piece || !same_walk(t, q)) return false;
  if (options.check_shortcuts) [[unlikely]]
    check_exit("whole exit", t, q, q.exit.node);
  return true;
}

// Same tree state, and no node on the path to the recorded exit with
// q's present plane (the own-plane rule would make q COPLANAR there).
bool FastEngine::same_walk(const Tree& t, const FPoly& q) {
  const WholeExit& x = q.exit;
  if (x.tree != t.tag || x.epoch != t.epoch || x.nodes != t.nodes.size()) return false;
  const std::uint32_t at = t.pre[x.node];
  for (std::uint32_t n = t.id_head[q.id]; n != NONE; n = t.nodes[n].next_same_id) {
    if (t.pre[n] <= at && at < t.pre_end[n]) return false;
  }
  return true;
}

// A piece emitted in front of a node of the root's back chain, clipped
// by the same tree again: its path from the root is the chain up to
// that node, each node proven back for it or for a polygon it was cut
// from, with the widening that covers the piece (SKIP_RESUME_PAD), or
// listed. So when every listed node still classifies it BACK and the exit node
// FRONT (its front child is missing: the tree is as it was), the walk
// would emit it there again, with no COPLANAR side; the answer is kept
// as a search from the root (LastSearch) for the build that follows.
bool FastEngine::replays(const Tree& t, FPoly& q) {
  const WholeExit& x = q.exit;
  if (!x.piece || !same_walk(t, q)) return false;
  for (std::uint32_t k = 0; k < x.count; ++k) {
    const std::uint32_t n = (*replay_store)[x.seg][x.first + k];
    if (PlaneTest(t.nodes[n].plane).classify(q.p, ws.scratch) != BACK) return false;
  }
  if (PlaneTest(t.nodes[x.node].plane).classify(q.p, ws.scratch) != FRONT) return false;
  if (options.check_shortcuts) [[unlikely]]
    check_exit("piece replay", t, q, x.node);
  const FNode& exit = t.nodes[x.node];
  q.last = {t.tag, BACK, false, exit.chain[slot(BACK)], t.epoch, 0, exit.pos[slot(BACK)], q.id};
  return true;
}

void FastEngine::walk(const Tree& t, ClipItem& it, std::uint32_t index) {
  SearchWork w = work();
  while (true) {
    Resume found;
    const Arrival at =
        follow_chain(t, it.node, it.side, it.q, it.resume, w, found, it.lin.ok ? &slog : nullptr);
    it.resume = Resume{};
    remember(it.q, t, it.side, found);
    if (it.lin.ok) extend(it.lin, it.side);
    if (at.past_end) {
      leave(t, it, at.node, at.side, index);
      return;
    }
    it.node = at.node;
    const Plane& plane = t.nodes[it.node].plane;
    Side side;
    switch (at.cls) {
      case COPLANAR:
        side = faces_same_way(plane, it.q.p) ? FRONT : BACK;
        it.lin.ok = false;
        marks.push_back({t.depth[it.node], it.marks});
        it.marks = static_cast<std::uint32_t>(marks.size() - 1);
        break;
      case FRONT: side = FRONT; break;
      case BACK: side = BACK; break;
      default: {
        const SpanPieces pieces = split_spanning(plane, it.q.p, ws.pool, ws.scratch);
        const Resume next = handed_down(found, pieces);
        ws.pool.release(it.q.p.vertices, it.q.p.count);
        // Both pieces keep the lineage: the back one with this node
        // listed (it was SPANNING here, not proven).
        Lineage lin = it.lin;
        lin.ok = lin.ok && pieces.crossings_on_edges && lin.gen + 1 < gp::SKIP_RESUME_GEN_MAX &&
                 lin.first + lin.count == replay_nodes().size();
        ++lin.gen;
        it.lin = lin;
        if (pieces.has_back) {
          clip_stack.push_back({wrap(pieces.back, it.q.id), it.node, it.marks, BACK,
                                at.side == BACK ? next : Resume{}, false, lin});
          ClipItem& b = clip_stack.back();
          if (b.lin.ok) {
            replay_nodes().push_back(it.node);
            ++b.lin.count;
          }
          if (step(t, b, BACK, index)) clip_stack.pop_back();
        }
        if (!pieces.has_front) return;
        it.q = wrap(pieces.front, it.q.id);
        it.whole = false;
        if (at.side == FRONT) it.resume = next;
        side = FRONT;
        break;
      }
    }
    if (step(t, it, side, index)) return;
  }
}

// Adds what the last search classified (slog) to the lineage, which
// holds only while its nodes are contiguous in replay_nodes().
void FastEngine::extend(Lineage& lin, Side side) {
  if (!slog.ok || side != BACK || lin.first + lin.count != replay_nodes().size()) {
    lin.ok = false;
    return;
  }
  std::vector<std::uint32_t>& nodes = replay_nodes();
  nodes.insert(nodes.end(), slog.nodes.begin(), slog.nodes.end());
  lin.count += static_cast<std::uint32_t>(slog.nodes.size());
}

// Moves it into its node's child on `side`; returns true when the piece
// has left the tree there instead (emitted or discarded).
bool FastEngine::step(const Tree& t, ClipItem& it, Side side, std::uint32_t index) {
  const std::uint32_t c = t.nodes[it.node].child[slot(side)];
  if (c == NONE) {
    leave(t, it, it.node, side, index);
    return true;
  }
  if (side != BACK) it.lin.ok = false;  // off the root's back chain
  it.node = c;
  it.side = side;
  return false;
}

// A piece on `side` of `node`, which has no child there: emitted when in
// front (outside the solid), discarded when behind (inside).
void FastEngine::leave(const Tree& t, const ClipItem& it, std::uint32_t node, Side side,
                       std::uint32_t index) {
  if (side == FRONT) {
    emitted.push_back({it.q, t.pre[node], it.marks, index});
    WholeExit& x = emitted.back().q.exit;
    const std::uint32_t count = static_cast<std::uint32_t>(t.nodes.size());
    if (it.whole && it.marks == NONE) {
      x = {t.tag, false, 0, t.epoch, count, node};
    } else if (it.lin.ok && it.marks == NONE && it.side == BACK && node == it.node) {
      x = {t.tag, true, replay_seg, t.epoch, count, node, it.lin.first, it.lin.count};
    } else {
      x = {};
    }
  } else {
    ws.pool.release(it.q.p.vertices, it.q.p.count);
  }
}

}  // namespace quorvalind::bsp::fast
