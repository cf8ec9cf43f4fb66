#include "bsp/fast/engine.h"

#include <algorithm>
#include <type_traits>

// One polygon at a time: build
// ----------------------------
// build treats the polygons of a list independently: a polygon's fate at a
// node depends only on the node's plane and on the polygon. So each polygon
// (and each piece cut from it) can walk the tree on its own, provided the
// node planes and the list orders are the literal ones. A node's plane is
// that of the first polygon of the first list that reaches it, i.e. the
// piece of the lowest input position that gets there. Inserting the inputs
// one after another, each completely before the next, the first piece to
// arrive at a missing child is that one, so every node gets the same plane
// and every later piece meets the same planes. A node's polygons gain, per
// build call, its cf in arrival (input) order, then its cb in arrival
// order: cf pieces are appended as they arrive, cb pieces are held until
// the call ends.

namespace quorvalind::bsp::fast {

// `last`: no search follows (the sequences' final build), so the chains
// are not indexed again at the end.
void FastEngine::build(Tree& t, FList list, bool last) {
  if (list.empty()) return;
  begin_build(t, list);
  for (std::uint32_t i = 0; i < list.size(); ++i) insert_input(t, list, i);
  end_build(t, last);
}

void FastEngine::begin_build(Tree& t, const FList& list) {
  if (!t.nodes[0].has_plane) {
    t.nodes[0].plane = list.front().p.plane;
    t.nodes[0].id = list.front().id;
    t.nodes[0].has_plane = true;
    t.nodes[0].ref = list.front().c;
    register_node(t, 0, NONE, FRONT);
    plan(t, list);
  }
  held_cb.clear();
}

void FastEngine::next_input(Tree& t, std::uint32_t i) {
  t.candidate = i;
  if (i >= t.options.index_min && (i & (i - 1)) == 0) drop_sparse_plan(t, i);
  ws.check_stop();
  build_stack.clear();
  open.clear();
}

void FastEngine::insert_input(Tree& t, const FList& list, std::uint32_t i) {
  next_input(t, i);
  BuildItem it{list[i], 0, BACK, Resume{}, true};
  insert(t, it);
  while (!build_stack.empty()) {
    it = build_stack.back();
    build_stack.pop_back();
    insert(t, it);
  }
}

void FastEngine::end_build(Tree& t, bool last) {
  for (auto& [node, q] : held_cb) place(t, node, q);
  held_cb.clear();
  corners.ok = false;
  // The clips that follow walk these chains many times: index them whole.
  if (last) return;
  for (auto& chains : t.chains) {
    for (Chain& ch : chains) {
      // A plan whose candidates nearly all became members (a convex
      // operand) serves the clips as it is; a sparse one would have them
      // test groups of planes that are mostly not in the chain.
      if (!ch.index) continue;
      const ChainIndex& x = *ch.index;
      if (!x.planned.empty() && 8 * x.u_of_pos.size() < 7 * x.planned.size()) build_hier(t, ch);
      if (x.hier.end > 0 && x.hier.end < ch.nodes.size()) build_hier(t, ch);
    }
  }
}

// A fresh tree's back chain from the root gets its index ahead of time,
// with input i as candidate i: the chain's members can only be inputs
// (or the one piece of an input that stays on the chain, with its
// plane), one per input and in input order, and a convex operand's
// inputs all are, but for those coplanar with an earlier one. So the
// chain needs no index rebuilt as it grows. A group's bound holds for
// the candidates that became members since it holds for all of its
// planes; candidates that did not, or not yet, are never classified
// (hier_first), so the search sees exactly the present members.
void FastEngine::plan(Tree& t, const FList& list) {
  if (list.size() < t.options.index_min) return;
  Chain& ch = t.chains[slot(BACK)][t.nodes[0].chain[slot(BACK)]];
  std::vector<Member> mem;
  mem.reserve(list.size());
  ChainIndex& x = ch.mx();
  x.planned.clear();
  for (const FPoly& q : list) {
    mem.push_back({q.p.plane, q.c});
    x.planned.push_back(q.id);
  }
  build_hier(ch, mem);
  x.u_of_pos.assign(1, 0);  // the root, made from the first input
  x.pos_of_u.assign(list.size(), NONE);
  x.pos_of_u[0] = 0;
  list_corners(x.hier, list);
}

// A plan whose candidates mostly stay off the chain (an operand that is
// not convex) makes the searches test bounds over planes the chain
// lacks: past the first `seen` candidates, with fewer than one in eight
// members, the chain is indexed over its members instead, as any chain.
void FastEngine::drop_sparse_plan(Tree& t, std::uint32_t seen) {
  Chain& ch = t.chains[slot(BACK)][t.nodes[0].chain[slot(BACK)]];
  const ChainIndex& x = ch.ix();
  if (x.planned.empty() || 8 * x.u_of_pos.size() >= seen) return;
  build_hier(t, ch);
}

namespace {

// Walks one piece down from it.node until it comes to rest; a split
// pushes its back piece and goes on with the front one. Frozen, the tree
// is only read: where the piece would be placed, or would go on at a child
// the tree lacks, it lands in `out` instead.
template <bool Frozen>
void insert_piece(FastEngine& e, std::conditional_t<Frozen, const Tree, Tree>& t,
                  FastEngine::BuildItem& it, FastEngine::Landings* out, std::uint32_t input) {
  SearchWork w = e.work();
  const auto lands = [&](std::uint8_t kind, std::uint32_t node, Side side) {
    out->push_back({it.q, input, node, kind, side});
  };
  while (true) {
    Resume found;
    const bool by_lists = it.input && e.corners.ok &&
                          !t.chains[slot(BACK)][t.nodes[0].chain[slot(BACK)]].ix().planned.empty();
    it.input = false;
    const Arrival at = by_lists ? e.by_corners(t, t.candidate, it.q)
                                : follow_chain(t, it.node, it.side, it.q, it.resume, w, found);
    it.resume = Resume{};
    FastEngine::remember(it.q, t, it.side, found);
    if (at.past_end) {
      if constexpr (Frozen) {
        lands(FastEngine::GROWS, at.node, at.side);
        return;
      } else {
        // A new node takes this piece's plane; the piece is then COPLANAR
        // there (own plane) and is placed by the sign rule below.
        it.node = add_child(t, at.node, at.side, it.q);
        it.side = at.side;
        continue;
      }
    }
    it.node = at.node;
    const Plane plane = t.nodes[it.node].plane;
    Side side;
    switch (at.cls) {
      case COPLANAR:
        if constexpr (Frozen) {
          lands(faces_same_way(plane, it.q.p) ? FastEngine::PLACED_FRONT : FastEngine::PLACED_BACK,
                it.node, FRONT);
        } else if (faces_same_way(plane, it.q.p)) {
          place(t, it.node, it.q);
        } else {
          e.held_cb.emplace_back(it.node, it.q);
        }
        return;
      case FRONT: side = FRONT; break;
      case BACK: side = BACK; break;
      default: {
        const SpanPieces pieces = split_spanning(plane, it.q.p, e.ws.pool, e.ws.scratch);
        const Resume next = FastEngine::handed_down(found, pieces);
        e.ws.pool.release(it.q.p.vertices, it.q.p.count);
        const std::uint32_t id = it.q.id;
        if (pieces.has_back) {
          const FPoly back = e.wrap(pieces.back, id);
          const Resume r = at.side == BACK ? next : Resume{};
          if constexpr (Frozen) {
            // It lands when its turn comes, as the build would make the
            // child then.
            const std::uint32_t c = t.nodes[it.node].child[slot(BACK)];
            e.build_stack.push_back({back, c != NONE ? c : it.node, BACK, r, false, c == NONE});
          } else {
            e.build_stack.push_back({back, e.descend(t, it.node, BACK, back), BACK, r});
          }
        }
        if (!pieces.has_front) return;
        it.q = e.wrap(pieces.front, id);
        if (at.side == FRONT) it.resume = next;
        side = FRONT;
        break;
      }
    }
    if constexpr (Frozen) {
      const std::uint32_t c = t.nodes[it.node].child[slot(side)];
      if (c == NONE) {
        lands(FastEngine::GROWS, it.node, side);
        return;
      }
      it.node = c;
    } else {
      it.node = e.descend(t, it.node, side, it.q);
    }
    it.side = side;
  }
}

}  // namespace

void FastEngine::insert(Tree& t, BuildItem& it) {
  insert_piece<false>(*this, t, it, nullptr, t.candidate);
}

// A build in two phases
// ---------------------
// A build adds nodes only where a child is missing and never changes a
// node it has; so a piece meets, down to the first child missing from the
// tree as it stood before the build, the nodes and planes it would meet in
// the build, and is split there into the same pieces. Every input can
// therefore be walked that far at once, on any thread (walk_frozen), each
// piece landing where it is placed or where the tree stood unfinished.
// The build proper then takes the inputs in order and, for each, its
// landings in the order its walk made them: placements as the build makes
// them, and a landing at a missing child goes on from that child, made now
// unless an earlier input made it, exactly as the build would have gone
// on. The order of the landings is the build's: a walk takes its pieces
// depth first, and everything a landing's piece would do below the frozen
// tree is done before the next landing. A split's back child, which the
// build makes when the piece is pushed, is made when it is taken up: only
// the front piece's walk, which never reaches it, comes between. Node
// numbers may come out in another order; they decide nothing (a tree's
// order is its links'). Walked in rounds of inputs, each round against
// the tree the rounds before it left, the ordered part shrinks to what an
// input meets below that tree.

void FastEngine::walk_frozen(const Tree& t, const FList& list, std::uint32_t begin,
                             std::uint32_t end, Landings& out) {
  for (std::uint32_t i = begin; i < end; ++i) {
    ws.check_stop();
    build_stack.clear();
    open.clear();
    BuildItem it{list[i], 0, BACK, Resume{}, false};
    insert_piece<true>(*this, t, it, &out, i);
    while (!build_stack.empty()) {
      it = build_stack.back();
      build_stack.pop_back();
      if (it.grows) {
        out.push_back({it.q, i, it.node, GROWS, BACK});
      } else {
        insert_piece<true>(*this, t, it, &out, i);
      }
    }
  }
}

void FastEngine::land_inputs(Tree& t, std::uint32_t begin, std::uint32_t end,
                             const std::vector<Landings>& walks) {
  std::size_t w = 0, k = 0;
  for (std::uint32_t i = begin; i < end; ++i) {
    next_input(t, i);
    while (true) {
      while (w < walks.size() && k == walks[w].size()) ++w, k = 0;
      if (w == walks.size() || walks[w][k].input != i) break;
      const Landing& l = walks[w][k++];
      switch (l.kind) {
        case PLACED_FRONT: place(t, l.node, l.q); break;
        case PLACED_BACK: held_cb.emplace_back(l.node, l.q); break;
        default: {
          build_stack.clear();
          open.clear();
          BuildItem it{l.q, descend(t, l.node, l.side, l.q), l.side, Resume{}, false};
          insert(t, it);
          while (!build_stack.empty()) {
            it = build_stack.back();
            build_stack.pop_back();
            insert(t, it);
          }
        }
      }
    }
  }
}

// The child on `side`, made now from `first` if missing. Making a split's
// back child before its front piece runs changes nothing: the front piece
// never reaches it, and no earlier input did (or the child would exist).
std::uint32_t FastEngine::descend(Tree& t, std::uint32_t node, Side side, const FPoly& first) {
  const std::uint32_t c = t.nodes[node].child[slot(side)];
  return c != NONE ? c : add_child(t, node, side, first);
}

}  // namespace quorvalind::bsp::fast
