#pragma once
// The BSP tree of one solid. Every operation walks the tree with an explicit
// stack, destruction included, so depth is bounded by memory, not by the
// thread's stack; the walks keep the orders of the recursive definitions.
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

#include "bsp/polygon.h"
#include "bsp/reuse.h"

namespace quorvalind::bsp {

// Thrown on the csg thread at a check point once a stop has been requested.
struct StopRequested {};

struct Node;

// Everything one boolean operation's tree work shares: the vertex pool that
// holds every polygon's vertices, split scratch, recycled polygon lists and
// the stop flag polled at check points.
class Workspace {
 public:
  explicit Workspace(VertexPool pool = {}, const std::atomic<bool>* stop = nullptr)
      : pool(std::move(pool)), stop_(stop) {}
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  // The lists handed back go on to the next operation (bsp/reuse.h).
  ~Workspace() { reuse::keep_lists(spare_); }

  VertexPool pool;
  SplitScratch scratch;

  const std::atomic<bool>* stop_flag() const { return stop_; }
  // Keeps a pool that polygons of this operation have vertices in (a
  // helper thread's) until the workspace goes.
  void adopt(VertexPool&& p) { adopted_.push_back(std::move(p)); }

  void check_stop() const {
    if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) throw StopRequested{};
  }

  // An empty list, reusing the capacity of one handed back earlier.
  PolygonList take_list() {
    if (spare_.empty()) return reuse::take_list();
    PolygonList l = std::move(spare_.back());
    spare_.pop_back();
    return l;
  }
  void give_back(PolygonList&& l) {
    l.clear();
    spare_.push_back(std::move(l));
  }
  // Returns the vertex blocks of the polygons l[from..] to the pool; l is
  // left empty (the entries before `from` are stale copies).
  void discard(PolygonList& l, std::size_t from = 0) {
    for (std::size_t i = from; i < l.size(); ++i) pool.release(l[i].vertices, l[i].count);
    l.clear();
  }

  // Coplanar results of one partition; used and emptied within one step.
  PolygonList coplanar_front, coplanar_back;
  // Pending (node, list) work of the walk in progress (walks never nest).
  // The list's live polygons are list[head..]; see partition in node.cpp.
  template <class N>
  struct Task {
    N* node;
    PolygonList list;
    std::size_t head;
  };
  std::vector<Task<Node>> build_stack;
  std::vector<Task<const Node>> clip_stack;

 private:
  const std::atomic<bool>* stop_;
  std::vector<PolygonList> spare_;
  std::vector<VertexPool> adopted_;
};

struct Node final {
  Plane plane;
  bool has_plane = false;  // false only in a node that never received a polygon
  PolygonList polygons;    // lying in `plane`, either facing, in insertion order
  std::unique_ptr<Node> front;
  std::unique_ptr<Node> back;

  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  // Tears the subtree down without recursion and without allocating.
  ~Node();

  // Node blocks are recycled between operations (see node.cpp).
  static void* operator new(std::size_t size);
  static void operator delete(void* block) noexcept;
};

// build(list):
//   if list is empty: return
//   if no plane: plane = list[0].plane
//   cf, cb, f, b = split every polygon of list by plane, in order
//   polygons += cf; polygons += cb
//   if f: (front or new Node).build(f)
//   if b: (back or new Node).build(b)
void build(Node& node, PolygonList list, Workspace& ws);

// clip_polygons(list) -> list: removes what lies inside the solid.
//   if no plane: return list
//   cf, cb, f, b = split every polygon of list by plane, in order
//   f += cf; b += cb
//   f = front.clip_polygons(f) if front else f
//   b = back.clip_polygons(b) if back else []
//   return f + b
PolygonList clip_polygons(const Node& node, PolygonList list, Workspace& ws);

// clip_to(other): polygons = other.clip_polygons(polygons) at every node.
void clip_to(Node& node, const Node& other, Workspace& ws);

// invert(): reverse every polygon, negate every plane (polygons' and the
// node's, so 0 becomes -0), swap front and back, in every node.
void invert(Node& node, Workspace& ws);

// all_polygons(): copies of the polygons in pre-order: node, front, back.
PolygonList all_polygons(const Node& node, Workspace& ws);

// all_polygons for a tree that is not read again: the same list in the same
// order, moved out instead of copied (the nodes keep their planes).
PolygonList take_all_polygons(Node& node, Workspace& ws);

// Hands every node's polygon list back to ws (emptied) for reuse; for trees
// about to be destroyed, whose polygons' vertices die with the pool.
void give_back_lists(Node& root, Workspace& ws);

// all_polygons laid flat: the same polygons in the same order appended to
// `flat` (those of fewer than 3 vertices left out, see append_flat).
void append_flat_all_polygons(const Node& node, Workspace& ws, FlatPolygons& flat);

}  // namespace quorvalind::bsp
