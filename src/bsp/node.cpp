#include "bsp/node.h"

#include <algorithm>

namespace quorvalind::bsp {

namespace {

// split_polygon over a whole list that is consumed on the way: a polygon
// that lands on one side is moved rather than copied, and a split parent's
// block goes back to the pool. Back results stay in `list`, compacted in
// place in their original order (each input yields at most one back result,
// so writing never overtakes reading); the other results are appended to cf,
// cb and f. The outcome is that of split_polygon on each polygon in turn.
void partition(const Plane& plane, PolygonList& list, PolygonList& cf, PolygonList& cb,
               PolygonList& f, Workspace& ws) {
  SplitScratch& scratch = ws.scratch;
  Polygon* items = list.data();
  const std::size_t n = list.size();
  std::size_t kept = 0;
  for (std::size_t r = 0; r < n; ++r) {
    const Polygon p = items[r];
    switch (classify_polygon(plane, p, scratch)) {
      case COPLANAR:
        (faces_same_way(plane, p) ? cf : cb).push_back(p);
        break;
      case FRONT:
        f.push_back(p);
        break;
      case BACK:
        items[kept++] = p;
        break;
      default: {
        const SpanPieces pieces = split_spanning(plane, p, ws.pool, scratch);
        ws.pool.release(p.vertices, p.count);
        if (pieces.has_front) f.push_back(pieces.front);
        if (pieces.has_back) items[kept++] = pieces.back;
        break;
      }
    }
  }
  list.resize(kept);
}

void append(PolygonList& to, const PolygonList& from) {
  to.insert(to.end(), from.begin(), from.end());
}

inline Plane negated(const Plane& p) { return {{-p.normal.x, -p.normal.y, -p.normal.z}, -p.w}; }

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

}  // namespace

Node::~Node() {
  destroy_subtree(front.release());
  destroy_subtree(back.release());
}

void build(Node& root, PolygonList list, Workspace& ws) {
  struct Task {
    Node* node;
    PolygonList list;
  };
  std::vector<Task> stack;
  stack.push_back({&root, std::move(list)});
  while (!stack.empty()) {
    Task task = std::move(stack.back());
    stack.pop_back();
    ws.check_stop();
    if (task.list.empty()) {
      ws.give_back(std::move(task.list));
      continue;
    }
    Node& node = *task.node;
    if (!node.has_plane) {
      node.plane = task.list.front().plane;
      node.has_plane = true;
    }
    PolygonList cf = ws.take_list();
    PolygonList cb = ws.take_list();
    PolygonList f = ws.take_list();
    partition(node.plane, task.list, cf, cb, f, ws);
    append(node.polygons, cf);
    append(node.polygons, cb);
    ws.give_back(std::move(cf));
    ws.give_back(std::move(cb));
    // The two subtrees are independent; the front one (on a convex solid
    // nearly always small) goes on top so the stack stays short.
    PolygonList& b = task.list;
    if (!b.empty()) {
      if (!node.back) node.back = std::make_unique<Node>();
      stack.push_back({node.back.get(), std::move(b)});
    } else {
      ws.give_back(std::move(b));
    }
    if (!f.empty()) {
      if (!node.front) node.front = std::make_unique<Node>();
      stack.push_back({node.front.get(), std::move(f)});
    } else {
      ws.give_back(std::move(f));
    }
  }
}

PolygonList clip_polygons(const Node& root, PolygonList list, Workspace& ws) {
  if (!root.has_plane || list.empty()) return list;
  struct Task {
    const Node* node;
    PolygonList list;
  };
  // Depth first with the front task on top: everything the front subtree
  // returns is emitted before anything from the back subtree, which is the
  // order f + b of the recursive definition.
  PolygonList out = ws.take_list();
  std::vector<Task> stack;
  stack.push_back({&root, std::move(list)});
  while (!stack.empty()) {
    Task task = std::move(stack.back());
    stack.pop_back();
    ws.check_stop();
    const Node& node = *task.node;
    if (!node.has_plane) {
      append(out, task.list);
      ws.give_back(std::move(task.list));
      continue;
    }
    PolygonList cf = ws.take_list();
    PolygonList cb = ws.take_list();
    PolygonList f = ws.take_list();
    partition(node.plane, task.list, cf, cb, f, ws);
    PolygonList& b = task.list;
    append(f, cf);
    append(b, cb);
    ws.give_back(std::move(cf));
    ws.give_back(std::move(cb));
    if (node.back && !b.empty()) {
      stack.push_back({node.back.get(), std::move(b)});
    } else {
      ws.discard(std::move(b));  // inside the solid (or nothing)
    }
    if (f.empty()) {
      ws.give_back(std::move(f));
    } else if (node.front) {
      stack.push_back({node.front.get(), std::move(f)});
    } else {
      append(out, f);
      ws.give_back(std::move(f));
    }
  }
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

PolygonList all_polygons(const Node& root, Workspace& ws) {
  PolygonList out;
  std::vector<const Node*> stack{&root};
  while (!stack.empty()) {
    const Node* node = stack.back();
    stack.pop_back();
    ws.check_stop();
    for (const Polygon& p : node->polygons) out.push_back(copy_polygon(ws.pool, p));
    if (node->back) stack.push_back(node->back.get());
    if (node->front) stack.push_back(node->front.get());
  }
  return out;
}

}  // namespace quorvalind::bsp
