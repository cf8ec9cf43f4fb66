#include "bsp/node.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <unordered_map>
#include <utility>

namespace quorvalind::bsp {

namespace {

// How many polygons ahead the split loop asks for vertex blocks.
constexpr std::size_t PREFETCH_AHEAD = 8;
// Polygons per slice when a long list is built (about 128 KiB of records and
// vertices: a slice and the path it walks stay in the core's cache).
constexpr std::size_t BUILD_SLICE = 1024;

// Which of cf, cb and f received polygons in one partition.
enum : unsigned { GOT_CF = 1, GOT_CB = 2, GOT_F = 4 };

constexpr std::uint8_t NO_CLASS = 0xFF;

// What a walk already knows about a list before partitioning it: its first
// `done` polygons all have class `uniform` (FRONT or BACK), and polygon
// `done`, if there is one, has class `next` (NO_CLASS: not classified yet;
// when SPANNING its vertex classes are still in the scratch).
struct Known {
  std::size_t done = 0;
  std::uint8_t uniform = BACK;
  std::uint8_t next = NO_CLASS;
};

// Classifies `list` until a polygon falls elsewhere than the first one.
// Returns FRONT or BACK when the whole list lies on that side, else
// NO_CLASS; either way `known` records what was learnt. Most steps of a walk
// down a chain end here, without touching any list.
[[gnu::always_inline]] inline std::uint8_t one_side(const PlaneTest& test, const PolygonList& list,
                                                    std::size_t head, SplitScratch& scratch,
                                                    Known& known) {
  const Polygon* items = list.data() + head;
  const std::size_t n = list.size() - head;
  const std::uint8_t first = test.classify(items[0], scratch);
  if (first != FRONT && first != BACK) {
    known = {0, BACK, first};
    return NO_CLASS;
  }
  for (std::size_t i = 1; i < n; ++i) {
    if (i + PREFETCH_AHEAD < n) __builtin_prefetch(items[i + PREFETCH_AHEAD].vertices);
    const std::uint8_t c = test.classify(items[i], scratch);
    if (c != first) {
      known = {i, first, c};
      return NO_CLASS;
    }
  }
  known = {n, first, NO_CLASS};
  return first;
}

// split_polygon over the live polygons list[head..], consumed on the way: a
// polygon that lands on one side is moved rather than copied, and a split
// parent's block goes back to the pool. Back results stay in `list`, in their
// original order, as the new live range list[head..] (each input yields at
// most one back result, so writing never overtakes reading); the other
// results are appended to cf, cb and f. Polygons that leave before any has
// stayed move `head` past them instead of being closed up over, so the
// usual step of a chain, where the node's own polygons lead the list and all
// others stay, moves no record. The outcome is that of split_polygon on each
// polygon in turn; `known` spares classifying again what one_side already did.
[[gnu::always_inline]] inline unsigned partition(const PlaneTest& test, const Plane& plane,
                                                 PolygonList& list, std::size_t& head,
                                                 PolygonList& cf, PolygonList& cb, PolygonList& f,
                                                 Workspace& ws, const Known& known) {
  SplitScratch& scratch = ws.scratch;
  Polygon* items = list.data();
  const std::size_t n = list.size();
  const std::size_t first = head + known.done;
  std::size_t kept = head;  // the results that stay are items[head, kept)
  unsigned got = 0;
  if (known.done > 0) {
    if (known.uniform == BACK) {
      kept = first;
    } else {
      f.insert(f.end(), items + head, items + first);
      got |= GOT_F;
      head = kept = first;
    }
  }
  for (std::size_t r = first; r < n; ++r) {
    // Vertex blocks lie anywhere in the pool: ask for them a few polygons
    // ahead so that long lists stream instead of stalling.
    if (r + PREFETCH_AHEAD < n) __builtin_prefetch(items[r + PREFETCH_AHEAD].vertices);
    const Polygon& p = items[r];
    const std::uint8_t cls =
        r == first && known.next != NO_CLASS ? known.next : test.classify(p, scratch);
    switch (cls) {
      case COPLANAR:
        if (faces_same_way(plane, p)) {
          cf.push_back(p);
          got |= GOT_CF;
        } else {
          cb.push_back(p);
          got |= GOT_CB;
        }
        break;
      case FRONT:
        f.push_back(p);
        got |= GOT_F;
        break;
      case BACK:
        if (kept != r) items[kept] = p;  // mostly everything stays: no self-copy
        ++kept;
        continue;
      default: {
        const SpanPieces pieces = split_spanning(plane, p, ws.pool, scratch);
        ws.pool.release(p.vertices, p.count);
        if (pieces.has_front) {
          f.push_back(pieces.front);
          got |= GOT_F;
        }
        if (pieces.has_back) {
          items[kept++] = pieces.back;
          continue;
        }
        break;
      }
    }
    if (kept == head) head = kept = r + 1;  // nothing stayed yet: start after r
  }
  list.resize(kept);
  return got;
}

void append(PolygonList& to, const PolygonList& from) {
  to.insert(to.end(), from.begin(), from.end());
}

// Frees a subtree in constant space: while the top node has a front child,
// rotate that child up (the top becomes its back child); otherwise delete
// the top, whose only child is then its back one, and continue there.
void destroy_subtree(Node* top) noexcept {
  while (top != nullptr) {
    if (top->front) {
      Node* up = top->front.release();
      top->front = std::move(up->back);
      up->back.reset(top);
      top = up;
    } else {
      Node* next = top->back.release();
      delete top;
      top = next;
    }
  }
}

// ---- Node blocks ------------------------------------------------------------
//
// A csg thread lives for one operation, so the C library's per-thread caches
// start empty every time and every node of its trees would cost a full
// allocation and release. Node blocks instead go from a thread's own cache
// to the blocks kept between operations (bsp/reuse.h) and back, in batches.
// Blocks are plain allocations of one Node each, so a node may die on
// another thread than the one that made it.
constexpr std::size_t NODE_BATCH = 256;

class NodeCache {
 public:
  void* take() noexcept {
    if (count_ == 0) count_ = reuse::take_node_blocks(blocks_, NODE_BATCH);
    return count_ > 0 ? blocks_[--count_] : nullptr;
  }
  void give(void* block) noexcept {
    if (count_ == CAPACITY) spill(NODE_BATCH);
    blocks_[count_++] = block;
  }
  ~NodeCache() { spill(count_); }

 private:
  static constexpr std::size_t CAPACITY = 2 * NODE_BATCH;

  // Hands the last n blocks on, freeing those that are not kept.
  void spill(std::size_t n) noexcept {
    const std::size_t kept = reuse::keep_node_blocks(blocks_ + count_ - n, n);
    for (std::size_t i = count_ - n; i < count_ - kept; ++i) std::free(blocks_[i]);
    count_ -= n;
  }

  void* blocks_[CAPACITY];
  std::size_t count_ = 0;
};

thread_local NodeCache t_node_cache;

}  // namespace

void* Node::operator new(std::size_t size) {
  if (size == sizeof(Node)) {
    if (void* block = t_node_cache.take()) return block;
  }
  if (void* block = std::malloc(size)) return block;
  throw std::bad_alloc();
}

void Node::operator delete(void* block) noexcept {
  if (block != nullptr) t_node_cache.give(block);
}

Node::~Node() {
  destroy_subtree(front.release());
  destroy_subtree(back.release());
}

namespace {

// Coplanar-back results held back while a long list is built slice by
// slice: a node's polygons get all its cf before all its cb.
class DeferredCoplanarBack {
 public:
  void add(Node* node, const PolygonList& cb) {
    auto [it, fresh] = index_.try_emplace(node, entries_.size());
    if (fresh) entries_.push_back({node, {}});
    append(entries_[it->second].second, cb);
  }
  void flush() {
    for (auto& [node, cb] : entries_) append(node->polygons, cb);
  }

 private:
  std::unordered_map<Node*, std::size_t> index_;
  std::vector<std::pair<Node*, PolygonList>> entries_;
};

// One build walk over `list`. The front and back subtrees are independent,
// so they may be built in any order: the walk continues straight into the
// front side when it got polygons (on a convex solid it rarely does) and
// keeps the back side on the stack, else it continues into the back side.
void build_walk(Node& root, PolygonList list, Workspace& ws, DeferredCoplanarBack* deferred) {
  auto& stack = ws.build_stack;
  stack.clear();
  ws.coplanar_front.clear();
  ws.coplanar_back.clear();
  PolygonList& cf = ws.coplanar_front;
  PolygonList& cb = ws.coplanar_back;
  Node* node = &root;
  PolygonList cur = std::move(list);
  std::size_t head = 0;  // cur's live polygons are cur[head..]
  PolygonList f = ws.take_list();
  while (true) {
    ws.check_stop();
    if (!node->has_plane) {
      node->plane = cur[head].plane;
      node->has_plane = true;
    }
    const PlaneTest test(node->plane);
    Known known;
    const std::uint8_t side = one_side(test, cur, head, ws.scratch, known);
    if (side != NO_CLASS) {  // all on one side that already has a child: go there
      Node* next = (side == BACK ? node->back : node->front).get();
      if (next != nullptr) {
        node = next;
        continue;
      }
    }
    const unsigned got = partition(test, node->plane, cur, head, cf, cb, f, ws, known);
    if (got & GOT_CF) append(node->polygons, cf), cf.clear();
    if (got & GOT_CB) {
      if (deferred != nullptr) {
        deferred->add(node, cb);
      } else {
        append(node->polygons, cb);
      }
      cb.clear();
    }
    if (head == cur.size()) cur.clear(), head = 0;
    PolygonList& b = cur;
    if (!b.empty() && !node->back) node->back = std::make_unique<Node>();
    if (!f.empty()) {
      if (!node->front) node->front = std::make_unique<Node>();
      if (!b.empty()) {
        stack.push_back({node->back.get(), std::move(b), head});
        cur = ws.take_list();
      }
      std::swap(cur, f);  // f is left empty
      head = 0;
      node = node->front.get();
      continue;
    }
    if (!b.empty()) {
      node = node->back.get();
      continue;
    }
    if (stack.empty()) break;
    node = stack.back().node;
    ws.give_back(std::move(cur));
    cur = std::move(stack.back().list);
    head = stack.back().head;
    stack.pop_back();
  }
  ws.give_back(std::move(cur));
  ws.give_back(std::move(f));
}

}  // namespace

void build(Node& root, PolygonList list, Workspace& ws) {
  if (list.empty()) return;
  if (list.size() <= BUILD_SLICE) {
    build_walk(root, std::move(list), ws, nullptr);
    return;
  }
  // A long list goes through the tree in slices that stay in cache along a
  // whole path, rather than streaming every polygon through memory once per
  // level. The outcome is the same: the list reaching any node is the
  // concatenation, slice by slice, of what each slice brings there (build
  // never appends cb to b), so nodes are created from the same first
  // polygon and their cf arrive in the same order; only their cb, which
  // follow all cf, must wait for the last slice.
  DeferredCoplanarBack deferred;
  for (std::size_t start = 0; start < list.size(); start += BUILD_SLICE) {
    const std::size_t end = std::min(list.size(), start + BUILD_SLICE);
    PolygonList slice = ws.take_list();
    slice.assign(list.begin() + static_cast<std::ptrdiff_t>(start),
                 list.begin() + static_cast<std::ptrdiff_t>(end));
    build_walk(root, std::move(slice), ws, &deferred);
  }
  deferred.flush();
  ws.give_back(std::move(list));
}

PolygonList clip_polygons(const Node& root, PolygonList list, Workspace& ws) {
  if (!root.has_plane || list.empty()) return list;
  // Depth first, front before back: everything the front subtree returns is
  // emitted before anything from the back subtree, which is the order f + b
  // of the recursive definition. The walk continues straight into the front
  // side when it has polygons and a child (the back list waits on the
  // stack), else into the back side; a list with no front child is emitted
  // on the spot, one with no back child is dropped.
  auto& stack = ws.clip_stack;
  stack.clear();
  ws.coplanar_front.clear();
  ws.coplanar_back.clear();
  PolygonList& cf = ws.coplanar_front;
  PolygonList& cb = ws.coplanar_back;
  PolygonList out = ws.take_list();
  const Node* node = &root;
  PolygonList cur = std::move(list);
  std::size_t head = 0;  // cur's live polygons are cur[head..]
  PolygonList f = ws.take_list();
  while (true) {
    ws.check_stop();
    if (!node->has_plane) {
      out.insert(out.end(), cur.begin() + static_cast<std::ptrdiff_t>(head), cur.end());
      cur.clear();
      head = 0;
    } else {
      const PlaneTest test(node->plane);
      Known known;
      const std::uint8_t side = one_side(test, cur, head, ws.scratch, known);
      if (side != NO_CLASS) {  // all on one side that has a child: go there
        const Node* next = (side == BACK ? node->back : node->front).get();
        if (next != nullptr) {
          node = next;
          continue;
        }
      }
      const unsigned got = partition(test, node->plane, cur, head, cf, cb, f, ws, known);
      PolygonList& b = cur;
      if (got & GOT_CF) append(f, cf), cf.clear();
      if (got & GOT_CB) append(b, cb), cb.clear();
      if (head == b.size()) b.clear(), head = 0;
      const Node* back = b.empty() ? nullptr : node->back.get();
      if (back == nullptr) ws.discard(b, head), head = 0;  // inside the solid (or nothing)
      if (!f.empty()) {
        if (node->front) {
          if (back != nullptr) {
            stack.push_back({back, std::move(b), head});
            cur = ws.take_list();
          }
          std::swap(cur, f);  // f is left empty
          head = 0;
          node = node->front.get();
          continue;
        }
        append(out, f);
        f.clear();
      }
      if (back != nullptr) {
        node = back;
        continue;
      }
    }
    if (stack.empty()) break;
    node = stack.back().node;
    ws.give_back(std::move(cur));
    cur = std::move(stack.back().list);
    head = stack.back().head;
    stack.pop_back();
  }
  ws.give_back(std::move(cur));
  ws.give_back(std::move(f));
  return out;
}

void clip_to(Node& root, const Node& other, Workspace& ws) {
  // Each node's list is clipped on its own, so the visiting order is free.
  std::vector<Node*> stack{&root};
  while (!stack.empty()) {
    Node* node = stack.back();
    stack.pop_back();
    ws.check_stop();
    node->polygons = clip_polygons(other, std::move(node->polygons), ws);
    if (node->back) stack.push_back(node->back.get());
    if (node->front) stack.push_back(node->front.get());
  }
}

void invert(Node& root, Workspace& ws) {
  std::vector<Node*> stack{&root};
  while (!stack.empty()) {
    Node* node = stack.back();
    stack.pop_back();
    ws.check_stop();
    for (Polygon& p : node->polygons) {
      std::reverse(p.vertices, p.vertices + p.count);
      p.plane = negated(p.plane);
    }
    if (node->has_plane) node->plane = negated(node->plane);
    std::swap(node->front, node->back);
    if (node->back) stack.push_back(node->back.get());
    if (node->front) stack.push_back(node->front.get());
  }
}

namespace {
// Visits every node in pre-order: node, front subtree, back subtree.
template <class N, class F>
void pre_order(N& root, Workspace& ws, F&& visit) {
  std::vector<N*> stack{&root};
  while (!stack.empty()) {
    N* node = stack.back();
    stack.pop_back();
    ws.check_stop();
    visit(*node);
    if (node->back) stack.push_back(node->back.get());
    if (node->front) stack.push_back(node->front.get());
  }
}
}  // namespace

PolygonList all_polygons(const Node& root, Workspace& ws) {
  PolygonList out;
  pre_order(root, ws, [&](const Node& node) {
    for (const Polygon& p : node.polygons) out.push_back(copy_polygon(ws.pool, p));
  });
  return out;
}

PolygonList take_all_polygons(Node& root, Workspace& ws) {
  PolygonList out;
  pre_order(root, ws, [&](Node& node) {
    append(out, node.polygons);
    node.polygons.clear();
  });
  return out;
}

void give_back_lists(Node& root, Workspace& ws) {
  pre_order(root, ws, [&](Node& node) {
    if (node.polygons.capacity() > 0) ws.give_back(std::move(node.polygons));
  });
}

void append_flat_all_polygons(const Node& root, Workspace& ws, FlatPolygons& flat) {
  // No counting pass to reserve: the buffers come from the last operation
  // (bsp/reuse.h) and mostly have room already.
  pre_order(root, ws, [&](const Node& node) {
    for (const Polygon& p : node.polygons) {
      if (p.count < 3) continue;
      flat.vertices.insert(flat.vertices.end(), p.vertices, p.vertices + p.count);
      flat.counts.push_back(p.count);
    }
  });
}

}  // namespace quorvalind::bsp
