#include "bsp/fast/search.h"

#include <algorithm>

#include "bsp/fast/check.h"

// Skipping runs of nodes
// ----------------------
// A chain is a maximal run of nodes linked by back children (or by front
// children). If every vertex of a polygon is at a computed distance below
// -PLANE_EPSILON from every plane of a run of a back chain, and none of
// those planes is bit for bit the polygon's own plane, then the literal
// engine classifies it BACK at each of them and moves it whole to the next,
// unchanged: skipping the run leaves the piece, its path sides (all plain
// BACK) and its destination as they were. Likewise for FRONT along front
// chains.
//
// A chain's planes are split into runs by normal direction, and groups of
// 4^k consecutive members of a run keep a bound (fast/bounds.h). The walk
// classifies, in chain order, exactly the positions whose group did not
// prove the side, up to the first that does not give the side; so every
// position it passes was either classified or proven. Non-finite planes or
// polygons never pass (their bounds are marked or compare false). A skip
// stops before the first node of the chain whose plane has the polygon's
// id (own_plane_limit).
//
// Long chains also keep a spatial index (Hier): a binary tree over the
// chain's members split by normal, place and chain position, each group
// with its bound. It is searched depth first, nearer positions first, for
// the least position at or after the piece's that is neither proven nor
// classified on the chain's side, below the own-plane node; proofs come
// from the same Bound, and every position below the answer was proven or
// classified, exactly as with the runs. A bound may prove a side for the
// polygon's bounding sphere or for each of its corners: the corners are
// the only points classified. Both are widened a little (SKIP_RESUME_PAD)
// and the corners are tried only when the sphere nearly succeeded; neither
// changes what a proof means. In a leaf, a member's plane alone may prove
// the side for the sphere (SphereTest) before it is classified: a group of
// one.
//
// A fresh tree's back chain from the root is indexed ahead of time over the
// inputs that may become its members (FastEngine::plan); a search passes
// over those that have not.
//
// Repeated searches
// -----------------
// A polygon keeps where its last index search ended (LastSearch). Its
// vertices never change while it lives (invert only reverses their order,
// and a class is the OR of its vertices'), and neither does a chain
// position's plane within a tree epoch. So when it searches the same chain
// from the same position again, every position before the old answer has
// the same class as before, the chain's side, unless the own-plane rule
// changed there: a node with the polygon's old or new plane id. With no
// such node the old answer is the answer again if its class, computed now,
// is not the chain's side. Otherwise the old answer is only classified
// first, which may bound the search sooner and changes nothing else. A
// search that found no answer keeps the chain's length then: searched
// again, those nodes are on the chain's side as before (same proviso), and
// the walk goes on at the nodes appended since, if any.

namespace quorvalind::bsp::fast {

namespace {

// Checking mode: where a run group proves the side.
struct RunCheck {
  const Tree& t;
  const Chain& ch;
  const Polygon& poly;
};

// The first member index j >= i of the run such that the polygon is
// proven on `side` of the planes of members i .. j-1. Tries the whole run
// first, then gallops up the group levels after each proven group and down
// after a failure.
std::size_t run_next(const Run& run, Side side, std::size_t i, const Probe& q,
                     const RunCheck* check) {
  const std::size_t n = run.pos.size();
  if (i >= n) return n;
  const std::size_t top = run.levels.size();
  if (const ProofBy by = proves_side(run.levels[top - 1][0], side, q)) {
    if (check) [[unlikely]]
      check_run_group(check->t, check->ch, run, 0, n, by, check->poly, side);
    return n;
  }
  std::size_t l = 0;
  while (i < n) {
    const unsigned shift = GROUP_SHIFT * static_cast<unsigned>(l + 1);
    const std::size_t g = i >> shift;
    if (const ProofBy by = proves_side(run.levels[l][g], side, q)) {
      const std::size_t end = std::min(n, (g + 1) << shift);
      if (check) [[unlikely]] {
        check_run_group(check->t, check->ch, run, g << shift, end, by, check->poly, side);
      }
      i = end;
      if (l + 2 < top) ++l;
    } else if (l > 0) {
      --l;
    } else {
      break;
    }
  }
  return i;
}

// One search of a chain's index (hier_first): the least position k in
// [p, stop) of the indexed part of the chain where the polygon's exact
// class is not `side`. p, stop, guess and the index's positions are
// candidates when the index is planned (ChainIndex::planned): candidates
// that are not members are passed over, and those from stop on are never
// members yet.
struct IndexQuery {
  const Tree& t;
  const Chain& ch;
  Side side;
  std::uint32_t p, stop;
  // Classified first when in [p, stop): when its class is not `side` it is
  // an answer, and the walk only looks below it for a smaller one, which it
  // would have to do anyway; otherwise it changes nothing.
  std::uint32_t guess;
  // Groups left open by the search of the polygon this piece was cut from,
  // or null to start from the root.
  const Resume* from;
  const Probe& pr;
  const FPoly& q;
  // Receives the positions classified on `side` (not deep_back), or null.
  std::vector<std::uint32_t>* log;
};

// The answer of an index search: a chain position and the class there.
struct IndexAnswer {
  std::uint32_t k;
  unsigned cls;
};

// A depth-first walk, nearer positions first, drops every group proven on
// `side` and every group that cannot hold a position below the least found
// so far, and classifies the members of the leaves it reaches; so every
// position below the answer was either proven or classified on `side`. The
// answer is classified last, so that a SPANNING class leaves its vertex
// classes in scratch. It appends to work.open every group it leaves open at
// or after p: the leaves it scanned and the groups it dropped for their
// positions. With the groups it proved and the positions before p, they
// cover the chain's index. False when there is no answer.
bool hier_first(const IndexQuery& in, SearchWork& work, IndexAnswer& answer) {
  const ChainIndex& x = in.ch.ix();
  const Hier& h = x.hier;
  const Side side = in.side;
  const std::uint32_t p = in.p;
  const bool checking = in.t.options.check_shortcuts;
  const std::uint32_t* pos_of = x.planned.empty() ? nullptr : x.pos_of_u.data();
  const auto plane_at = [&](std::uint32_t u) -> const Plane& {
    return in.t.nodes[in.ch.nodes[pos_of ? pos_of[u] : u]].plane;
  };
  std::uint32_t best = in.stop;
  unsigned best_cls = 0;
  bool last_is_best = false;
  if (in.guess >= p && in.guess < in.stop) {
    const unsigned cls = PlaneTest(plane_at(in.guess)).classify(in.q.p, work.scratch);
    if (cls != side) {
      best = in.guess;
      best_cls = cls;
      last_is_best = true;
    } else if (in.log && !deep_back(plane_at(in.guess), in.q, side)) {
      in.log->push_back(pos_of ? pos_of[in.guess] : in.guess);
    }
  }
  SearchStack& stack = work.stack;
  std::vector<std::uint32_t>& open = work.open;
  stack.clear();
  if (in.from == nullptr) {
    stack.push_back({std::max(p, h.nodes[0].minpos), 0});
  } else {
    for (std::uint32_t i = in.from->count; i-- > 0;) {  // the first left open is taken first
      const std::uint32_t g = open[in.from->first + i];
      stack.push_back({std::max(p, h.nodes[g].minpos), g});
    }
  }
  while (!stack.empty()) {
    const StackItem it = stack.back();
    stack.pop_back();
    const HNode& hn = h.nodes[it.node];
    if (hn.maxpos < p) continue;
    if (it.key >= best) {
      open.push_back(it.node);
      continue;
    }
    if (const ProofBy by = proves_side(hn.b, side, in.pr)) {
      if (checking) [[unlikely]]
        check_index_group(h, it.node, by, in.q.p, side);
      continue;
    }
    if (hn.child[0] == NONE) {
      open.push_back(it.node);
      const std::uint32_t* lpos = h.leaf_pos.data() + hn.first;
      const Plane* lplane = h.leaf_plane.data() + hn.first;
      std::uint32_t i = 0;
      while (i < hn.count && lpos[i] < p) ++i;  // sorted
      const bool test = hn.b.ok;
      const SphereTest st(hn.b.nmax, side, in.pr);
      for (; i < hn.count; ++i) {
        const std::uint32_t k = lpos[i];
        if (k >= best) break;
        if (pos_of && pos_of[k] == NONE) continue;
        if (test && st.proves(lplane[i])) {
          if (checking) [[unlikely]]
            check_plane_side("leaf sphere test", lplane[i], in.q.p, side);
          continue;
        }
        const unsigned cls = PlaneTest(lplane[i]).classify(in.q.p, work.scratch);
        last_is_best = false;
        if (cls != side) {
          best = k;
          best_cls = cls;
          last_is_best = true;
          break;
        }
        if (in.log && !deep_back(lplane[i], in.q, side)) in.log->push_back(pos_of ? pos_of[k] : k);
      }
      continue;
    }
    const HNode& l = h.nodes[hn.child[0]];
    const HNode& r = h.nodes[hn.child[1]];
    const StackItem li{std::max(p, l.minpos), hn.child[0]};
    const StackItem ri{std::max(p, r.minpos), hn.child[1]};
    if (li.key <= ri.key) {
      stack.push_back(ri);
      stack.push_back(li);
    } else {
      stack.push_back(li);
      stack.push_back(ri);
    }
  }
  if (best == in.stop) return false;
  if (!last_is_best) PlaneTest(plane_at(best)).classify(in.q.p, work.scratch);
  answer = {pos_of ? pos_of[best] : best, best_cls};
  return true;
}

// One walk of piece q down chain c on `side`, from chain position p: the
// three ways of finding where it leaves (the links, the index, the runs)
// share its state here.
struct ChainWalk {
  const Tree& t;
  Side side;
  std::uint32_t c;
  const Chain& ch;
  std::uint32_t len;
  const FPoly& q;
  SearchWork& work;

  // Inlined like the classification itself: the walks call it per node.
  [[gnu::always_inline]] unsigned classify_at(std::uint32_t k) const {
    return PlaneTest(t.nodes[ch.nodes[k]].plane).classify(q.p, work.scratch);
  }
  Arrival at(std::uint32_t k, unsigned cls) const { return {ch.nodes[k], cls, false, side}; }
  Arrival past_end() const { return {ch.nodes[len - 1], side, true, side}; }

  // Node by node from position k to the first node not on `side` or past
  // the chain's end; `log` gets the nodes on `side`.
  Arrival walk_from(std::uint32_t k, SearchLog* log) const {
    if (log) log->ok = true;
    while (true) {
      const unsigned cls = classify_at(k);
      if (cls != side) return at(k, cls);
      if (log && !deep_back(t.nodes[ch.nodes[k]].plane, q, side)) log->nodes.push_back(ch.nodes[k]);
      if (k + 1 == len) return past_end();
      ++k;
    }
  }

  // The least, over the runs, of each run's first member at or after p not
  // proven on `side`, classified in turn until one is not `side`, and
  // never beyond `limit`, the first node with the polygon's own plane.
  Arrival by_runs(std::uint32_t p, std::uint32_t limit, const Probe& pr) const {
    const ChainIndex& x = ch.ix();
    const RunCheck check{t, ch, q.p};
    const RunCheck* checking = t.options.check_shortcuts ? &check : nullptr;
    const std::size_t nruns = x.runs.size();
    std::size_t next[RUN_CELLS];
    for (std::size_t r = 0; r < nruns; ++r) {
      const Run& run = x.runs[r];
      const std::size_t i = static_cast<std::size_t>(
          std::lower_bound(run.pos.begin(), run.pos.end(), p) - run.pos.begin());
      next[r] = run_next(run, side, i, pr, checking);
    }
    while (true) {
      std::uint32_t k = limit;
      std::size_t from = RUN_CELLS;
      for (std::size_t r = 0; r < nruns; ++r) {
        const Run& run = x.runs[r];
        if (next[r] < run.pos.size() && run.pos[next[r]] < k) k = run.pos[next[r]], from = r;
      }
      if (k >= len) return past_end();
      const unsigned cls = classify_at(k);
      if (cls != side) return at(k, cls);
      if (k + 1 == len) return past_end();
      // k < limit here: at the own-plane node the class is COPLANAR.
      if (from != RUN_CELLS)
        next[from] = run_next(x.runs[from], side, next[from] + 1, pr, checking);
    }
  }
};

// The whole chain is short: walked by the links, as the literal walk goes,
// from node to its child on `side` while the class is `side`.
Arrival walk_links(const Tree& t, std::uint32_t node, Side side, const FPoly& q,
                   SplitScratch& scratch) {
  std::uint32_t n = node;
  while (true) {
    const FNode& at = t.nodes[n];
    const unsigned cls = PlaneTest(at.plane).classify(q.p, scratch);
    if (cls != side) return {n, cls, false, side};
    if (at.child[slot(side)] == NONE) return {n, cls, true, side};
    n = at.child[slot(side)];
  }
}

}  // namespace

Arrival follow_chain(const Tree& t, std::uint32_t node, Side side, const FPoly& q,
                     const Resume& from, SearchWork& work, Resume& out, SearchLog* log) {
  out.chain = NONE;
  if (log) {
    log->ok = false;
    log->nodes.clear();
  }
  const FNode& start = t.nodes[node];
  if (!start.long_chain[slot(side)]) return walk_links(t, node, side, q, work.scratch);
  const std::uint32_t c = start.chain[slot(side)];
  const Chain& ch = t.chains[slot(side)][c];
  const ChainWalk w{t, side, c, ch, static_cast<std::uint32_t>(ch.nodes.size()), q, work};
  const std::uint32_t len = w.len;
  const bool checking = t.options.check_shortcuts;
  std::uint32_t p = start.pos[slot(side)];
  const std::uint32_t p_start = p;
  const std::uint32_t short_chain = t.options.short_chain;
  // NaN: never skipped; or too short to pay.
  if (!(q.r == q.r) || len - p <= short_chain) return w.walk_from(p, log);
  // A planned index covers every present member.
  const ChainIndex& x = ch.ix();
  const bool planned = !x.planned.empty();
  const std::uint32_t indexed = planned ? len : std::min(x.hier.end, len);
  // The same search again (see "Repeated searches" in fast/search.cpp): the nodes
  // before its answer, or all the chain had when it found none, are on
  // `side` as they were.
  const LastSearch& last = q.last;
  const bool same_chain = last.tree == t.tag && last.chain == c && last.side == side;
  if (same_chain && last.epoch == t.epoch && last.from == p &&
      (last.past_end ? last.pos <= len : last.pos < len && p < indexed) &&
      no_own_plane_before(t, side, c, p, last.pos, last.id) &&
      no_own_plane_before(t, side, c, p, last.pos, q.id)) {
    if (checking) [[unlikely]]
      check_passed("repeated search", t, side, c, p, last.pos, q);
    if (!last.past_end) {
      const unsigned cls = w.classify_at(last.pos);
      if (cls != side) return w.at(last.pos, cls);
    } else {
      if (last.pos == len) return w.past_end();
      // On from the nodes added since; a search from here counts as one
      // from p_start. What proved the nodes passed is not known: no replay.
      p = last.pos;
      log = nullptr;
      if (len - p <= short_chain) return w.walk_from(p, nullptr);
    }
  }
  const std::uint32_t limit = own_plane_limit(t, side, c, p, q.id);
  const Probe pr = probe(q);
  if (p < indexed) {
    const std::uint32_t stop = std::min(limit, indexed);
    // Positions as the index counts them (hier_first).
    const auto u_at = [&](std::uint32_t k) { return planned ? x.u_of_pos[k] : k; };
    const std::uint32_t end_u = planned ? x.u_of_pos[len - 1] + 1 : len;
    const bool resumed = from.chain == c && from.pos == p && from.version == x.hier.version;
    const std::uint32_t first = static_cast<std::uint32_t>(work.open.size());
    if (log) log->positions.clear();
    const IndexQuery in{t,
                        ch,
                        side,
                        u_at(p),
                        stop < len ? u_at(stop) : end_u,
                        same_chain && last.pos < len ? u_at(last.pos) : NONE,
                        resumed ? &from : nullptr,
                        pr,
                        q,
                        log ? &log->positions : nullptr};
    IndexAnswer found;
    if (hier_first(in, work, found)) {
      if (checking) [[unlikely]] {
        check_passed(resumed ? "resumed index search" : "index search", t, side, c, p, found.k, q);
      }
      out = {c,
             found.k + 1,
             x.hier.version,
             first,
             static_cast<std::uint32_t>(work.open.size()) - first,
             resumed ? from.gen + 1 : 1,
             p_start};
      if (log) {
        // Every position before k was proven or is one of these.
        for (const std::uint32_t j : log->positions) {
          if (j < found.k) log->nodes.push_back(ch.nodes[j]);
        }
        log->ok = true;
      }
      return w.at(found.k, found.cls);
    }
    work.open.resize(first);
    if (checking) [[unlikely]] {
      check_passed(resumed ? "resumed index search" : "index search", t, side, c, p, stop, q);
    }
    if (stop == limit && limit < len) return w.at(limit, w.classify_at(limit));  // own plane
    if (log) {  // every indexed position from p was proven or classified
      for (const std::uint32_t j : log->positions) log->nodes.push_back(ch.nodes[j]);
    }
    if (indexed == len) {
      if (log) log->ok = true;
      out = {c, len + 1, x.hier.version, first, 0, 0, p_start, true};
      return w.past_end();
    }
    p = indexed;
    if (len - p <= short_chain) return w.walk_from(p, log);  // p < limit here
  }
  const Arrival a = w.by_runs(p, limit, pr);
  if (checking) [[unlikely]] {
    const std::uint32_t k = a.past_end ? len : t.nodes[a.node].pos[slot(side)];
    check_passed("run search", t, side, c, p, k, q);
  }
  return a;
}

}  // namespace quorvalind::bsp::fast
