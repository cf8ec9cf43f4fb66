#include "bsp/fast/tree.h"

#include <algorithm>

namespace quorvalind::bsp::fast {

namespace {

// Adds chain member `pos` to the run of its normal's cell.
void run_add(const Tree& t, Chain& ch, std::uint32_t pos) {
  const FNode& n = t.nodes[ch.nodes[pos]];
  const int cell = cell_of(n.plane.normal);
  ChainIndex& x = ch.mx();
  if (x.run_of_cell[cell] < 0) {
    x.run_of_cell[cell] = static_cast<std::int8_t>(x.runs.size());
    x.runs.emplace_back();
  }
  Run& run = x.runs[static_cast<std::size_t>(x.run_of_cell[cell])];
  const std::size_t k = run.pos.size();
  run.pos.push_back(pos);
  for (std::size_t l = 0; l < run.levels.size(); ++l) {
    const std::size_t g = k >> (GROUP_SHIFT * (l + 1));
    const bool fresh = g == run.levels[l].size();
    if (fresh) run.levels[l].emplace_back();
    add_to_bound(run.levels[l][g], fresh, n.plane, n.ref);
  }
  // A new level when the run outgrows the top one; its first group is made
  // from every member so far.
  const std::size_t len = run.pos.size();
  if (run.levels.empty() || len > (std::size_t{1} << (GROUP_SHIFT * run.levels.size()))) {
    run.levels.emplace_back(1);
    Bound& b = run.levels.back()[0];
    for (std::size_t i = 0; i < len; ++i) {
      const FNode& m = t.nodes[ch.nodes[run.pos[i]]];
      add_to_bound(b, i == 0, m.plane, m.ref);
    }
  }
}

void chain_append(Tree& t, Side side, std::uint32_t c, std::uint32_t node) {
  Chain& ch = t.chains[slot(side)][c];
  const std::uint32_t pos = static_cast<std::uint32_t>(ch.nodes.size());
  ch.nodes.push_back(node);
  FNode& n = t.nodes[node];
  n.chain[slot(side)] = c;
  n.pos[slot(side)] = pos;
  const std::uint32_t total = pos + 1;
  if (total > t.options.short_chain) {
    if (total == t.options.short_chain + 1) {
      for (std::size_t k = 0; k < total; ++k) t.nodes[ch.nodes[k]].long_chain[slot(side)] = true;
    } else {
      n.long_chain[slot(side)] = true;
    }
  }
  // A planned index holds while every member is the candidate being built
  // (a later one than the member before), with its plane, as each member
  // is (FastEngine::plan); should one not be, the chain gets the index of
  // its present members instead.
  if (!ch.ix().planned.empty()) {
    ChainIndex& x = ch.mx();
    const std::uint32_t u = t.candidate;
    if (u < x.planned.size() && x.planned[u] == n.id && u > x.u_of_pos.back()) {
      x.u_of_pos.push_back(u);
      x.pos_of_u[u] = pos;
      return;
    }
    build_hier(t, ch);
  }
  // A walk never skips along a chain of at most short_chain nodes, and
  // most chains stay that short: their runs are made only when they grow
  // longer, then for every member so far. (Nor are they needed while a
  // plan holds: the index covers every member.)
  if (total > t.options.short_chain) {
    ChainIndex& x = ch.mx();
    while (x.in_runs < total) run_add(t, ch, x.in_runs++);
  }
  // A long chain's index is rebuilt whenever the chain has grown by a
  // quarter (at least a quarter of index_min) since the last build: members
  // added since are found through the runs, or walked when few.
  const std::uint32_t end = ch.ix().hier.end;
  if (total >= t.options.index_min && total >= end + std::max(t.options.index_min / 4, end / 4)) {
    build_hier(t, ch);
  }
}

void new_chain(Tree& t, Side side, std::uint32_t node) {
  t.chains[slot(side)].emplace_back();
  chain_append(t, side, static_cast<std::uint32_t>(t.chains[slot(side)].size() - 1), node);
}

}  // namespace

// and in the id lists; `parent` is NONE for the root.
void register_node(Tree& t, std::uint32_t node, std::uint32_t parent, Side side) {
  if (parent == NONE) {
    new_chain(t, FRONT, node);
    new_chain(t, BACK, node);
  } else {
    chain_append(t, side, t.nodes[parent].chain[slot(side)], node);
    new_chain(t, other(side), node);
  }
  FNode& n = t.nodes[node];
  n.next_same_id = t.id_head[n.id];
  t.id_head[n.id] = node;
  t.order_valid = false;
}

std::uint32_t add_child(Tree& t, std::uint32_t parent, Side side, const FPoly& first) {
  const std::uint32_t idx = static_cast<std::uint32_t>(t.nodes.size());
  t.nodes.emplace_back();
  t.nodes[idx].plane = first.p.plane;
  t.nodes[idx].id = first.id;
  t.nodes[idx].has_plane = true;
  t.nodes[idx].ref = first.c;
  t.nodes[parent].child[slot(side)] = idx;
  register_node(t, idx, parent, side);
  return idx;
}

Tree make_tree(std::size_t id_count, const SkipOptions& options, TreeTag tag) {
  Tree t;
  t.tag = tag;
  t.options = options;
  t.nodes.emplace_back();
  t.id_head.assign(id_count, NONE);
  return t;
}

void make_compact(Tree& t, std::size_t more) {
  std::size_t have = 0;
  for (const FNode& n : t.nodes) have += n.polygons.size();
  t.compact = true;
  t.rest.reserve(have + 2 * more);
  for (std::uint32_t k = 0; k < t.nodes.size(); ++k) {
    FList list;
    list.swap(t.nodes[k].polygons);
    for (const FPoly& q : list) place(t, k, q);
  }
}

void release(Tree& t) {
  const TreeTag tag = t.tag;
  t = Tree{};
  t.tag = tag;
}

// The index over the chain's present members; drops any plan.
void build_hier(const Tree& t, Chain& ch) {
  std::vector<Member> mem(ch.nodes.size());
  for (std::size_t k = 0; k < mem.size(); ++k) {
    const FNode& m = t.nodes[ch.nodes[k]];
    mem[k] = {m.plane, m.ref};
  }
  ChainIndex& x = ch.mx();
  x.planned.clear();
  x.u_of_pos.clear();
  x.pos_of_u.clear();
  build_hier(ch, mem);
}

// First chain position at or after pos whose plane is the polygon's own.
std::uint32_t own_plane_limit(const Tree& t, Side side, std::uint32_t c, std::uint32_t pos,
                              std::uint32_t id) {
  std::uint32_t limit = static_cast<std::uint32_t>(t.chains[slot(side)][c].nodes.size());
  for (std::uint32_t n = t.id_head[id]; n != NONE; n = t.nodes[n].next_same_id) {
    const FNode& node = t.nodes[n];
    if (node.chain[slot(side)] == c && node.pos[slot(side)] >= pos &&
        node.pos[slot(side)] < limit) {
      limit = node.pos[slot(side)];
    }
  }
  return limit;
}

// True when no node at positions [p, end) of chain c has plane id `id`.
bool no_own_plane_before(const Tree& t, Side side, std::uint32_t c, std::uint32_t p,
                         std::uint32_t end, std::uint32_t id) {
  for (std::uint32_t n = t.id_head[id]; n != NONE; n = t.nodes[n].next_same_id) {
    const FNode& node = t.nodes[n];
    if (node.chain[slot(side)] == c && node.pos[slot(side)] >= p && node.pos[slot(side)] < end)
      return false;
  }
  return true;
}

}  // namespace quorvalind::bsp::fast
