#include "bsp/fast/engine.h"

#include <algorithm>
#include <initializer_list>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>

#include "bsp/fast_tree.h"
#include "gp/fault.h"
#include "gp/workers.h"

namespace quorvalind::bsp::fast {

namespace {

// Returns the whole free pages of every heap to the system (glibc keeps
// them mapped otherwise, and the resident-set peak counts them).
void give_back_free_pages() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// The final absorb gives freed pages back when the polygons it moves take
// at least TRIMMED_ABSORB_BYTES, and also while it drains them when they
// take TRIMMED_DRAIN_BYTES (see take_all). A trim walks the whole heap,
// a few milliseconds at these sizes: small operations do without.
constexpr std::size_t TRIMMED_ABSORB_BYTES = std::size_t{4} << 20;
constexpr std::size_t TRIMMED_DRAIN_BYTES = std::size_t{32} << 20;

}  // namespace

void FastEngine::remember(FPoly& q, const Tree& t, Side side, const Resume& found) {
  if (found.chain == NONE) return;
  q.last = {t.tag,          static_cast<std::uint8_t>(side),
            found.past_end, found.chain,
            t.epoch,        found.start,
            found.pos - 1,  q.id};
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

void FastEngine::invert_nodes(Tree& t, const OperandPlaneIds& ids, const Workspace& ws,
                              std::uint32_t begin, std::uint32_t end) {
  for (std::uint32_t k = begin; k < end; ++k) {
    FNode& n = t.nodes[k];
    ws.check_stop();
    for (FPoly& q : n.polygons) {
      std::reverse(q.p.vertices, q.p.vertices + q.p.count);
      q.p.plane = negated(q.p.plane);
      q.id = ids.neg(q.id);
    }
    for (std::uint32_t r = n.rest_head; r != NONE; r = t.rest[r].next) {
      RestPoly& q = t.rest[r];
      std::reverse(q.vertices, q.vertices + q.count);
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
}

// Back chains become front chains with every plane negated: h_k and
// the normals change sign, |n_k - a| and the magnitudes do not.
void FastEngine::invert_chains(KeptVector<Chain>& chains, std::uint32_t begin, std::uint32_t end) {
  for (std::uint32_t k = begin; k < end; ++k) {
    Chain& ch = chains[k];
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

void FastEngine::end_invert(Tree& t) {
  std::swap(t.chains[0], t.chains[1]);
  ++t.epoch;
  std::vector<std::uint32_t> head(t.id_head.size(), NONE);
  for (std::size_t id = 0; id < head.size(); ++id) {
    head[ids.neg(static_cast<std::uint32_t>(id))] = t.id_head[id];
  }
  t.id_head = std::move(head);
  t.order_valid = false;
}

template <class F, class G>
void FastEngine::drain(Tree& t, F&& f, G&& g) {
  if (t.nodes.empty()) return;
  std::vector<std::uint32_t> stack{0};
  while (!stack.empty()) {
    const std::uint32_t n = stack.back();
    stack.pop_back();
    ws.check_stop();
    FNode& node = t.nodes[n];
    for (const FPoly& q : node.polygons) f(q);
    FList().swap(node.polygons);  // freed now: the drained list holds them
    for (std::uint32_t r = node.rest_head; r != NONE; r = t.rest[r].next) g(t.rest[r]);
    node.rest_head = node.rest_tail = NONE;
    if (node.child[slot(BACK)] != NONE) stack.push_back(node.child[slot(BACK)]);
    if (node.child[slot(FRONT)] != NONE) stack.push_back(node.child[slot(FRONT)]);
  }
}

std::size_t FastEngine::polygon_count(const Tree& t) {
  std::size_t n = 0;
  for (const FNode& node : t.nodes) n += node.polygons.size();
  return n + t.rest.size();
}

FList FastEngine::take_all(Tree& t) {
  FList out;
  const std::size_t count = polygon_count(t);
  out.reserve(count);
  // The copy grows as the tree's lists are freed; without giving their
  // pages back on the way both would be resident at the end.
  const std::size_t step = count * sizeof(FPoly) >= TRIMMED_DRAIN_BYTES ? count / 8 + 1 : count + 1;
  std::size_t next = step;
  drain(
      t,
      [&](const FPoly& q) {
        out.push_back(q);
        if (out.size() == next) {
          give_back_free_pages();
          next += step;
        }
      },
      [](const RestPoly&) { throw gp::InternalFault("take_all of a compact tree"); });
  return out;
}

// Several threads
// ---------------
// The steps split into independent parts. The builds of A and B share
// nothing but the plane ids, which they only read; a build that cannot
// find its inputs' places from corner lists goes in rounds, each walked on
// every thread before it is built in order (see "A build in two phases"
// in fast/build.cpp), and so does the final absorb; invert turns each node
// and each chain's index on its own. X.clip_to(Y)
// replaces each node's list of X by the clip of that list by Y, and a clip
// reads Y's planes, links, chains and order but never Y's polygons; so the
// nodes' lists can be clipped in any order, on any thread, and
// X.clip_to(Y) followed by Y.clip_to(X), as every sequence has it, can run
// as one step: neither writes what the other reads. Each thread has an
// engine of its own (the walk's scratch, a vertex pool); a polygon's
// records refer only to the trees and to the replay segment of the engine
// that wrote them, which stays for the whole sequence. Every decision is
// made on the same polygon against the same planes, so the lists, and the
// result, are the same whatever the thread count and the schedule; only
// where vertices are stored differs.

namespace {

// The engine of a helper thread: a workspace of its own with the
// operation's stop flag.
struct HelperEngine {
  HelperEngine(const Workspace& main, const SkipOptions& options, FastEngine::ReplayStore* store)
      : ws(VertexPool{}, main.stop_flag()), e(ws, options) {
    e.replay_store = store;
  }
  Workspace ws;
  FastEngine e;
};

// Clip tasks per thread: enough for the threads to even out lists whose
// clips cost very different amounts.
constexpr std::size_t CLIP_TASKS_PER_THREAD = 16;
// A build in rounds: at most BUILD_ROUNDS rounds of at least
// SkipOptions::round_min inputs, each walked in WALK_TASKS_PER_THREAD tasks
// per thread. More rounds leave less to the ordered part of each (what an
// input meets below the tree as the round found it) and cost a hand-over
// each.
constexpr std::uint32_t BUILD_ROUNDS = 128;
constexpr std::size_t WALK_TASKS_PER_THREAD = 4;

class Crew {
 public:
  Crew(FastEngine& main, const SkipOptions& options)
      : main_(main),
        team_(options.threads > 0 ? options.threads : gp::worker_threads(), options.start) {
    for (unsigned m = 1; m < team_.size(); ++m) {
      helpers_.push_back(std::make_unique<HelperEngine>(main.ws, options, main.replay_store));
    }
  }

  FastEngine& engine(unsigned member) { return member == 0 ? main_ : helpers_[member - 1]->e; }

  // The builds of A and B. Convex operands, whose builds find each
  // input's place from its corners (see fast/corner_lists.cpp), build at
  // once, one per thread; otherwise each build runs in rounds over the
  // team, one after the other.
  void build_both(Tree& A, FList fa, Tree& B, FList fb) {
    if (team_.size() == 1) {
      main_.build(A, std::move(fa));
      main_.build(B, std::move(fb));
      return;
    }
    FastEngine& eb = engine(1);
    if (fa.empty() || fb.empty()) {
      build(main_, A, std::move(fa), false);
      build(eb, B, std::move(fb), false);
      return;
    }
    // Each tree's start (its plan and corner lists) on a thread of its
    // own, and the whole build there when it has corner lists.
    bool rest[2] = {false, false};
    team_.run(2, [&](std::size_t i, unsigned) {
      FastEngine& owner = i == 0 ? main_ : eb;
      Tree& t = i == 0 ? A : B;
      const FList& list = i == 0 ? fa : fb;
      owner.begin_build(t, list);
      if (owner.corners.ok) {
        build_from(owner, t, list, 0, false);
      } else {
        rest[i] = true;
      }
    });
    if (rest[0]) build_rounds(main_, A, fa, false);
    if (rest[1]) build_rounds(eb, B, fb, false);
  }

  // owner.build(t, list, last), in rounds when that pays.
  void build(FastEngine& owner, Tree& t, FList list, bool last) {
    if (list.empty()) return;
    owner.begin_build(t, list);
    build_rounds(owner, t, list, last);
  }

  // x.clip_to(y) for every pair, as one step.
  struct ClipJob {
    Tree* x;
    Tree* y;
  };
  void clip(std::initializer_list<ClipJob> jobs) {
    struct Range {
      Tree* x;
      Tree* y;  // only read: its order is made before the step
      std::uint32_t begin, end;
    };
    std::size_t total = 0;
    for (const ClipJob& j : jobs) {
      FastEngine::ensure_order(*j.y);
      total += FastEngine::polygon_count(*j.x);
    }
    const std::size_t want = team_.size() == 1 ? 1 : CLIP_TASKS_PER_THREAD * team_.size();
    std::vector<Range> ranges;
    std::size_t done = 0;
    for (const ClipJob& j : jobs) {
      const std::uint32_t count = static_cast<std::uint32_t>(j.x->nodes.size());
      std::uint32_t begin = 0;
      for (std::uint32_t n = 0; n < count; ++n) {
        done += j.x->nodes[n].polygons.size();
        // Cut where the polygons so far reach the next share of the total.
        if (total > 0 && done * want >= (ranges.size() + 1) * total) {
          ranges.push_back({j.x, j.y, begin, n + 1});
          begin = n + 1;
        }
      }
      if (begin < count) ranges.push_back({j.x, j.y, begin, count});
    }
    // A segment per engine for the lineages this step records.
    FastEngine::ReplayStore& store = *main_.replay_store;
    for (unsigned m = 0; m < team_.size(); ++m) {
      if (store.size() > 0xffff) throw gp::InternalFault("too many replay segments");
      engine(m).replay_seg = static_cast<std::uint16_t>(store.size());
      store.emplace_back();
    }
    team_.run(ranges.size(), [&](std::size_t i, unsigned member) {
      FastEngine& e = engine(member);
      const Range& r = ranges[i];
      for (std::uint32_t n = r.begin; n < r.end; ++n) {
        e.ws.check_stop();
        FNode& node = r.x->nodes[n];
        if (!node.polygons.empty()) node.polygons = e.clip(*r.y, std::move(node.polygons));
      }
    });
  }

  // The rest of owner's build of t from `list`, begun by begin_build:
  // the first inputs one by one while the tree has few nodes, then the
  // others a round at a time, walked down the tree as it stands on every
  // thread and then built in order from where they landed (see "A build
  // in two phases" in fast/build.cpp). A planned build with corner lists
  // finds each input's place at once: it goes one by one throughout.
  void build_rounds(FastEngine& owner, Tree& t, const FList& list, bool last) {
    const std::uint32_t count = static_cast<std::uint32_t>(list.size());
    const std::uint32_t round_min = std::max(1u, t.options.round_min);
    if (team_.size() == 1 || owner.corners.ok || count < 2 * round_min) {
      build_from(owner, t, list, 0, last);
      return;
    }
    const std::uint32_t round = std::max(round_min, count / BUILD_ROUNDS);
    // A tree of fewer nodes than a round holds little to walk.
    std::uint32_t i = 0;
    for (; i < count && t.nodes.size() < round; ++i) owner.insert_input(t, list, i);
    std::vector<FastEngine::Landings> walks;
    while (i < count) {
      const std::uint32_t begin = i, end = std::min(count, i + round);
      const std::size_t tasks =
          std::min<std::size_t>(end - begin, WALK_TASKS_PER_THREAD * team_.size());
      walks.resize(tasks);
      for (FastEngine::Landings& w : walks) w.clear();
      team_.run(tasks, [&](std::size_t k, unsigned member) {
        const std::uint32_t b = begin + static_cast<std::uint32_t>(k * (end - begin) / tasks);
        const std::uint32_t e = begin + static_cast<std::uint32_t>((k + 1) * (end - begin) / tasks);
        engine(member).walk_frozen(t, list, b, e, walks[k]);
      });
      owner.land_inputs(t, begin, end, walks);
      i = end;
    }
    owner.end_build(t, last);
  }

  // owner's build of t from input `from` on, one input at a time.
  static void build_from(FastEngine& owner, Tree& t, const FList& list, std::uint32_t from,
                         bool last) {
    for (std::uint32_t i = from; i < list.size(); ++i) owner.insert_input(t, list, i);
    owner.end_build(t, last);
  }

  // t.invert(): the nodes and the chains' indexes in slices over the team.
  void invert(Tree& t) {
    const std::uint32_t nodes = static_cast<std::uint32_t>(t.nodes.size());
    const std::uint32_t chains[2] = {static_cast<std::uint32_t>(t.chains[0].size()),
                                     static_cast<std::uint32_t>(t.chains[1].size())};
    const std::size_t per = team_.size() == 1 ? 1 : 4 * std::size_t{team_.size()};
    team_.run(3 * per, [&](std::size_t k, unsigned member) {
      const std::size_t part = k / per, i = k % per;
      if (part == 0) {
        FastEngine::invert_nodes(t, main_.ids, engine(member).ws,
                                 static_cast<std::uint32_t>(i * nodes / per),
                                 static_cast<std::uint32_t>((i + 1) * nodes / per));
      } else {
        const std::uint32_t n = chains[part - 1];
        FastEngine::invert_chains(t.chains[part - 1], static_cast<std::uint32_t>(i * n / per),
                                  static_cast<std::uint32_t>((i + 1) * n / per));
      }
    });
    main_.end_invert(t);
  }

  // f(q) for every q of list, over the team in slices.
  template <class F>
  void for_each(FList& list, F&& f) {
    const std::size_t n = list.size();
    const std::size_t tasks =
        std::max<std::size_t>(1, std::min(n / 1024, 4 * std::size_t{team_.size()}));
    team_.run(tasks, [&](std::size_t k, unsigned) {
      for (std::size_t i = k * n / tasks; i < (k + 1) * n / tasks; ++i) f(list[i]);
    });
  }

  // The helpers' vertex pools hold vertices of the result: they go to the
  // operation's workspace.
  void hand_over() {
    for (auto& h : helpers_) {
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
      main_.ws.scratch.classifications += h->ws.scratch.classifications;
      h->ws.scratch.classifications = 0;
#endif
      main_.ws.adopt(std::move(h->ws.pool));
    }
  }

 private:
  FastEngine& main_;
  // Declared before the team, so destroyed after its threads are joined.
  std::vector<std::unique_ptr<HelperEngine>> helpers_;
  gp::WorkerTeam team_;
};

}  // namespace

}  // namespace quorvalind::bsp::fast

namespace quorvalind::bsp {

PolygonList fast_sequence(CsgOp op, PolygonList a, PolygonList b, Workspace& ws,
                          const SkipOptions& options) {
  using namespace fast;
  FastEngine e(ws, options);
  FastEngine::ReplayStore replays;
  e.replay_store = &replays;
  FList fa, fb;
  fa.reserve(a.size());
  fb.reserve(b.size());
  e.ids.reserve(2 * (a.size() + b.size()));  // the planes and their negations
  for (const Polygon& p : a) fa.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  for (const Polygon& p : b) fb.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  e.ids.close_under_negation();
  Crew crew(e, options);
  crew.for_each(fa, set_sphere);
  crew.for_each(fb, set_sphere);
  Tree A = make_tree(e.ids.size(), options, 1);
  Tree B = make_tree(e.ids.size(), options, 2);
  crew.build_both(A, std::move(fa), B, std::move(fb));
  // A clip_to waits for the next step: when that is the clip_to the other
  // way, both run as one (see "Several threads").
  struct Ops {
    FastEngine& e;
    Crew& crew;
    Tree* x = nullptr;
    Tree* y = nullptr;
    void flush() {
      if (x != nullptr) crew.clip({{x, y}});
      x = y = nullptr;
    }
    void clip_to(Tree& cx, Tree& cy) {
      if (x == &cy && y == &cx) {
        crew.clip({{x, y}, {&cx, &cy}});
        x = y = nullptr;
        return;
      }
      flush();
      x = &cx;
      y = &cy;
    }
    void invert(Tree& t) {
      flush();
      crew.invert(t);
    }
    // The final step that clips: `other` is dead once drained, and t's
    // polygons are only built on, inverted and drained from here on.
    void absorb(Tree& t, Tree& other) {
      flush();
      // t's lists become compact records first, then other's are drained;
      // each list is freed as it is read, and the freed pages go back to
      // the system before the build grows the tree.
      const std::size_t count = FastEngine::polygon_count(other);
      make_compact(t, count);
      const bool large = count * sizeof(FPoly) >= TRIMMED_ABSORB_BYTES;
      if (large) give_back_free_pages();
      FList list = e.take_all(other);
      release(other);
      if (large) give_back_free_pages();
      // Room for two nodes per input, and a chain for each: pages never
      // written cost nothing, and a doubling array holds its old and new
      // blocks at once.
      t.nodes.reserve(t.nodes.size() + 2 * count);
      for (auto& chains : t.chains) chains.reserve(chains.size() + 2 * count);
      crew.build(e, t, std::move(list), true);
    }
  } ops{e, crew};
  tree_sequence(op, ops, A, B);
  ops.flush();
  crew.hand_over();
  // The result goes into operand a's list, whose room it mostly fits.
  PolygonList& out = a;
  out.clear();
  out.reserve(FastEngine::polygon_count(A));
  e.drain(
      A, [&out](const FPoly& q) { out.push_back(q.p); },
      [&out, &e](const RestPoly& r) { out.push_back({e.ids.plane(r.id), r.vertices, r.count}); });
  release(A);
  release(B);
  return std::move(out);
}

}  // namespace quorvalind::bsp
