#pragma once
// The skipping engine's tree and polygon records.
//
// Storage never takes part in a decision: nodes live in one vector (links
// are indices), so destruction never recurses; polygons carry their plane
// id and bounding sphere next to the literal record; an index keeps copies
// of its leaves' planes, negated with the nodes'. A chain of at most
// short_chain nodes is walked by the child links, node by node as the
// literal walk goes.
//
// The own-plane rule is honoured exactly: every plane carries an id, equal
// ids exactly for bit-equal planes, and no shortcut passes a node whose
// plane has the polygon's id.
#include <cstdint>
#include <vector>

#include "bsp/fast/chain_index.h"
#include "bsp/fast/common.h"
#include "bsp/fast_tree.h"

namespace quorvalind::bsp::fast {

struct Tree;

// Trees are told apart in the records below by Tree::tag, one byte rather
// than a pointer: every polygon carries two such records, and the
// polygons of a clip are most of an operation's memory. 0 is no tree.
using TreeTag = std::uint8_t;
constexpr TreeTag NO_TREE = 0;

// A polygon's last index search: of chain `chain` on `side` of `tree`, at
// the tree's `epoch`, from position `from`, with the polygon's plane id
// `id`; its answer was `pos`. See follow_chain.
struct LastSearch {
  TreeTag tree = NO_TREE;
  std::uint8_t side = 0;
  // No answer: the polygon was on `side` of all of the chain's `pos`
  // nodes from `from` on.
  bool past_end = false;
  std::uint32_t chain = NONE;
  std::uint32_t epoch = 0, from = 0, pos = 0, id = 0;
};

// Where a polygon left a tree whole: clipped by `tree` (at `epoch`, with
// `nodes` nodes) from the root without a split and without a COPLANAR
// class, it was emitted in front of `node`. See "Repeated clips" in fast/clip.cpp.
struct WholeExit {
  TreeTag tree = NO_TREE;
  // A piece (see "Repeated clips" in fast/clip.cpp): the nodes
  // FastEngine::replay_store[seg][first, +count) are classified again, and
  // so is `node`.
  bool piece = false;
  std::uint16_t seg = 0;
  std::uint32_t epoch = 0, nodes = 0, node = 0;
  std::uint32_t first = 0, count = 0;
};

struct FPoly;
using FList = KeptVector<FPoly>;

struct FPoly {
  Polygon p;
  Pnt c;     // bounding sphere: every vertex within r of c (up to rounding)
  double r;  // NaN when a coordinate is not finite: such a polygon is never skipped
  std::uint32_t id;
  LastSearch last;  // none for a new piece
  WholeExit exit;   // none for a new piece
};

inline void set_sphere(FPoly& q) { sphere_of(q.p.vertices, q.p.count, q.c, q.r); }

// Canonical plane ids (PlaneIds: equal exactly for bit-equal planes). Every
// plane the sequences ever see is an operand polygon's plane or its
// negation, so all ids are made up front.
class OperandPlaneIds {
 public:
  void reserve(std::size_t expected) { ids_.reserve(expected); }
  std::uint32_t intern(const Plane& p) { return ids_.intern(p); }
  // Ids of the negations; negating twice restores every bit.
  void close_under_negation() {
    for (std::uint32_t i = 0; i < ids_.size(); ++i)
      neg_.push_back(ids_.intern(negated(ids_.plane(i))));
  }
  std::uint32_t neg(std::uint32_t id) const { return neg_[id]; }
  const Plane& plane(std::uint32_t id) const { return ids_.plane(id); }
  std::size_t size() const { return ids_.size(); }

 private:
  PlaneIds ids_;
  std::vector<std::uint32_t> neg_;
};

// What a walk reads comes first, within one cache line: a step along a
// short chain touches nothing else of the node (see follow_chain).
struct alignas(64) FNode {
  Plane plane{};
  std::uint32_t child[2] = {NONE, NONE};  // [slot(FRONT)], [slot(BACK)]
  std::uint32_t chain[2] = {NONE, NONE};  // the front chain and the back chain holding it
  std::uint32_t pos[2] = {0, 0};
  std::uint32_t id = NONE;
  bool has_plane = false;
  // The chain on each side has more than short_chain nodes: only such a
  // chain is searched rather than walked link by link.
  bool long_chain[2] = {false, false};
  std::uint32_t next_same_id = NONE;  // next node with the same plane id
  FList polygons;
  Pnt ref{0, 0, 0};  // the middle of the polygon that gave the plane
  // The node's records in Tree::rest, first and last (NONE: none).
  std::uint32_t rest_head = NONE, rest_tail = NONE;
};
static_assert(sizeof(FNode) == 128, "the rest links fit the padding");

// A polygon of a tree that no clip reads again (Tree::compact): the
// vertices and the plane id, which gives the plane bit for bit
// (OperandPlaneIds::plane), and the next record of the same node.
struct RestPoly {
  Pnt* vertices;
  std::uint32_t count;
  std::uint32_t id;
  std::uint32_t next;
};

struct Tree {
  TreeTag tag = NO_TREE;  // distinct for the trees of one operation
  KeptVector<FNode> nodes;           // nodes[0] is the root
  KeptVector<Chain> chains[2];       // chains[slot(side)]: runs linked by `side` children
  std::vector<std::uint32_t> id_head; // per plane id: first node with that plane
  // Pre-order (front before back) positions and depths, for clip order;
  // node m lies in n's subtree exactly when pre[n] <= pre[m] < pre_end[n].
  std::vector<std::uint32_t> pre, depth, pre_end;
  bool order_valid = false;
  // Bumped by invert. Within one epoch a chain position keeps its node
  // and plane: chains only grow at their ends.
  std::uint32_t epoch = 0;
  std::uint32_t candidate = NONE;  // the input being built, for a planned index
  SkipOptions options;  // the engine's, copied for the chain code
  // After the final absorb begins only builds, invert and the drain touch
  // the polygons, none of which reads the sphere or the search records: a
  // compact tree keeps each node's polygons as RestPoly records in one
  // array, in the order its FList would have them, instead of FPoly lists.
  bool compact = false;
  KeptVector<RestPoly> rest;
};

// Appends q to node's polygons.
inline void place(Tree& t, std::uint32_t node, const FPoly& q) {
  FNode& n = t.nodes[node];
  if (!t.compact) {
    n.polygons.push_back(q);
    return;
  }
  const std::uint32_t k = static_cast<std::uint32_t>(t.rest.size());
  t.rest.push_back({q.p.vertices, q.p.count, q.id, NONE});
  if (n.rest_tail == NONE) {
    n.rest_head = k;
  } else {
    t.rest[n.rest_tail].next = k;
  }
  n.rest_tail = k;
}

// Makes t compact: every node's FList becomes RestPoly records, with room
// for `more` to come; the lists' storage is freed.
void make_compact(Tree& t, std::size_t more);
// Frees everything t holds but its tag; it is not read again.
void release(Tree& t);

// A tree with one root node and no plane yet; `tag` is not NO_TREE.
Tree make_tree(std::size_t id_count, const SkipOptions& options, TreeTag tag);
// Gives node (which has just received its plane) its place in the chains
// and in the id lists; `parent` is NONE for the root.
void register_node(Tree& t, std::uint32_t node, std::uint32_t parent, Side side);
// A new child of `parent` on `side`, with the plane of `first`.
std::uint32_t add_child(Tree& t, std::uint32_t parent, Side side, const FPoly& first);
// The index over the chain's present members; drops any plan.
void build_hier(const Tree& t, Chain& ch);

// First chain position at or after pos whose plane is the polygon's own.
std::uint32_t own_plane_limit(const Tree& t, Side side, std::uint32_t c, std::uint32_t pos,
                              std::uint32_t id);
// True when no node at positions [p, end) of chain c has plane id `id`.
bool no_own_plane_before(const Tree& t, Side side, std::uint32_t c, std::uint32_t p,
                         std::uint32_t end, std::uint32_t id);

}  // namespace quorvalind::bsp::fast
