#pragma once
// The means of skipping along a chain (a maximal run of nodes linked by
// back children, or by front children): runs of members with close
// normals, each with a pyramid of group bounds, and a spatial index over
// the members of a long chain. Which groups exist and how they are laid
// out decides only which proofs are tried, never a result.
#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "bsp/fast/bounds.h"
#include "bsp/fast/common.h"

namespace quorvalind::bsp::fast {

// A run's groups are of 4^(l + 1) consecutive members at level l.
constexpr unsigned GROUP_SHIFT = 2;

// A chain's planes fall into runs by the direction of their normals (the
// dominant axis and the signs of the coordinates: 24 cells, and one for
// non-finite normals), so that a group of consecutive members of a run has
// close normals whatever the order of the operand's triangles. Which run a
// plane joins affects how often its groups prove a side, never a result.
constexpr int RUN_CELLS = 25;

inline int cell_of(const Pnt& n) {
  const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  if (!(finite(ax) && finite(ay) && finite(az))) return RUN_CELLS - 1;
  double s, u, v;
  int axis;
  if (ax >= ay && ax >= az) {
    axis = 0, s = n.x, u = n.y, v = n.z;
  } else if (ay >= az) {
    axis = 1, s = n.y, u = n.z, v = n.x;
  } else {
    axis = 2, s = n.z, u = n.x, v = n.y;
  }
  return axis * 8 + (s < 0) * 4 + (u < 0) * 2 + (v < 0);
}

struct Run {
  std::vector<std::uint32_t> pos;          // chain positions of the members, increasing
  std::vector<std::vector<Bound>> levels;  // levels[l][g]: members [g, g + 1) << (l + 1)
};

// A spatial index over a long chain's first `end` members: a binary tree
// whose groups are split by normal direction and position, so that the
// groups near a polygon are small and the far ones few. Positions at and
// after `end` (members appended since the last rebuild) are found through
// the runs. Only which groups are tried depends on it, never a result.
struct HNode {
  Bound b;
  std::uint32_t minpos = 0, maxpos = 0;
  std::uint32_t child[2] = {NONE, NONE};  // both NONE for a leaf
  std::uint32_t first = 0, count = 0;     // a leaf's members: Hier::leaf_pos[first, +count)
};

struct Hier {
  std::vector<HNode> nodes;  // nodes[0] is the root when end > 0
  std::vector<std::uint32_t> leaf_pos;
  // The planes of leaf_pos, side by side: a leaf's scan reads them in
  // order instead of from nodes scattered over the tree. Copies, negated
  // with the nodes' planes by invert, so bit for bit the nodes' own.
  std::vector<Plane> leaf_plane;
  std::uint32_t end = 0;
  std::uint32_t version = 0;  // bumped by every build: a saved search is for one version
};

// Groups are split along the widest of the keys: the normal, the
// reference point and the chain position. A search wants the least
// position it cannot prove, so groups of nearby positions are dropped

// A chain's nodes in order. Most chains of a tree that is not one convex
// chain hold one or two nodes (every node starts a chain on its other side):
// those stay inline instead of costing an allocation each.
class ChainNodes {
 public:
  std::size_t size() const { return size_; }
  std::uint32_t operator[](std::size_t k) const { return size_ <= INLINE ? inline_[k] : heap_[k]; }
  void push_back(std::uint32_t node) {
    if (size_ < INLINE) {
      inline_[size_] = node;
    } else {
      if (size_ == INLINE) heap_.assign(inline_, inline_ + INLINE);
      heap_.push_back(node);
    }
    ++size_;
  }

 private:
  static constexpr std::size_t INLINE = 2;
  std::uint32_t inline_[INLINE] = {NONE, NONE};
  std::size_t size_ = 0;
  std::vector<std::uint32_t> heap_;  // all of them, once there are more than INLINE
};

// A chain's means of skipping: made only for the few chains that grow long
// or get a plan, so that the many short chains stay small.
struct ChainIndex {
  std::vector<Run> runs;  // of the first in_runs members
  std::uint32_t in_runs = 0;
  // An index built ahead of time (FastEngine::plan) covers candidates:
  // planned[u] is the plane id of candidate u, and the members are some
  // of them, in order: member k is candidate u_of_pos[k], candidate u is
  // member pos_of_u[u] (NONE for the others). Empty when the index covers
  // the present members, whose positions are then its own.
  std::vector<std::uint32_t> planned, u_of_pos, pos_of_u;
  Hier hier;
  std::int8_t run_of_cell[RUN_CELLS];
  ChainIndex() { std::fill(std::begin(run_of_cell), std::end(run_of_cell), std::int8_t{-1}); }
};

struct Chain {
  ChainNodes nodes;  // nodes[k + 1] is the chain-side child of nodes[k]
  std::unique_ptr<ChainIndex> index;
  // The index, or an empty one when the chain has none.
  const ChainIndex& ix() const {
    static const ChainIndex none;
    return index ? *index : none;
  }
  ChainIndex& mx() {
    if (!index) index = std::make_unique<ChainIndex>();
    return *index;
  }
};

// What a walk reads comes first, within one cache line: a step along a

// The index over members mem[0, n) of a chain: its present members, or
// (planned) the planes its members are expected to have.
void build_hier(Chain& ch, const std::vector<Member>& mem);

}  // namespace quorvalind::bsp::fast
