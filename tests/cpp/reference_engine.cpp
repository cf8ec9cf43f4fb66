#include "reference_engine.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace reference {

using quorvalind::bsp::Polygon;

namespace {

void check_depth(int depth) {
  if (depth > MAX_DEPTH) {
    throw std::length_error("reference engine: tree deeper than " + std::to_string(MAX_DEPTH));
  }
}

struct Split {
  PolygonList cf, cb, f, b;
};

Split split_all(const Plane& plane, const PolygonList& list, Context& ctx) {
  Split s;
  for (const Polygon& p : list) {
    quorvalind::bsp::split_polygon(plane, p, s.cf, s.cb, s.f, s.b, ctx.pool, ctx.scratch);
  }
  return s;
}

void append(PolygonList& to, const PolygonList& from) {
  to.insert(to.end(), from.begin(), from.end());
}

void build_at(Node& node, const PolygonList& list, Context& ctx, int depth) {
  check_depth(depth);
  if (list.empty()) return;
  if (!node.has_plane) {
    node.plane = list[0].plane;
    node.has_plane = true;
  }
  const Split s = split_all(node.plane, list, ctx);
  append(node.polygons, s.cf);
  append(node.polygons, s.cb);
  if (!s.f.empty()) {
    if (!node.front) node.front = std::make_unique<Node>();
    build_at(*node.front, s.f, ctx, depth + 1);
  }
  if (!s.b.empty()) {
    if (!node.back) node.back = std::make_unique<Node>();
    build_at(*node.back, s.b, ctx, depth + 1);
  }
}

PolygonList clip_at(const Node& node, const PolygonList& list, Context& ctx, int depth) {
  check_depth(depth);
  if (!node.has_plane) return list;
  Split s = split_all(node.plane, list, ctx);
  append(s.f, s.cf);
  append(s.b, s.cb);
  PolygonList f = node.front ? clip_at(*node.front, s.f, ctx, depth + 1) : s.f;
  const PolygonList b = node.back ? clip_at(*node.back, s.b, ctx, depth + 1) : PolygonList{};
  append(f, b);
  return f;
}

void clip_to_at(Node& node, const Node& other, Context& ctx, int depth) {
  check_depth(depth);
  node.polygons = clip_polygons(other, node.polygons, ctx);
  if (node.front) clip_to_at(*node.front, other, ctx, depth + 1);
  if (node.back) clip_to_at(*node.back, other, ctx, depth + 1);
}

// The four numbers negated, written out here rather than taken from the
// engine, so that the comparison checks that too.
Plane negate(const Plane& p) { return {{-p.normal.x, -p.normal.y, -p.normal.z}, -p.w}; }

void invert_at(Node& node, int depth) {
  check_depth(depth);
  for (Polygon& p : node.polygons) {
    std::reverse(p.vertices, p.vertices + p.count);
    p.plane = negate(p.plane);
  }
  if (node.has_plane) node.plane = negate(node.plane);
  if (node.front) invert_at(*node.front, depth + 1);
  if (node.back) invert_at(*node.back, depth + 1);
  std::swap(node.front, node.back);
}

void all_at(const Node& node, Context& ctx, PolygonList& out, int depth) {
  check_depth(depth);
  for (const Polygon& p : node.polygons) out.push_back(quorvalind::bsp::copy_polygon(ctx.pool, p));
  if (node.front) all_at(*node.front, ctx, out, depth + 1);
  if (node.back) all_at(*node.back, ctx, out, depth + 1);
}

// The tree operations tree_sequence runs. absorb copies B's polygons, as
// all_polygons is defined; B is simply never read again.
struct Ops {
  Context& ctx;
  void clip_to(Node& x, const Node& y) { reference::clip_to(x, y, ctx); }
  void invert(Node& x) { reference::invert(x); }
  void absorb(Node& x, const Node& y) { build(x, all_polygons(y, ctx), ctx); }
};

}  // namespace

void build(Node& node, const PolygonList& list, Context& ctx) { build_at(node, list, ctx, 0); }

PolygonList clip_polygons(const Node& node, const PolygonList& list, Context& ctx) {
  return clip_at(node, list, ctx, 0);
}

void clip_to(Node& node, const Node& other, Context& ctx) { clip_to_at(node, other, ctx, 0); }

void invert(Node& node) { invert_at(node, 0); }

PolygonList all_polygons(const Node& node, Context& ctx) {
  PolygonList out;
  all_at(node, ctx, out, 0);
  return out;
}

PolygonList run(CsgOp op, const quorvalind::mesh::TriMesh& a, const quorvalind::mesh::TriMesh& b,
                Context& ctx) {
  const PolygonList pa = quorvalind::bsp::mesh_to_polygons(a, ctx.pool);
  const PolygonList pb = quorvalind::bsp::mesh_to_polygons(b, ctx.pool);
  Node A, B;
  build(A, pa, ctx);
  build(B, pb, ctx);
  Ops ops{ctx};
  quorvalind::bsp::tree_sequence(op, ops, A, B);
  return all_polygons(A, ctx);
}

quorvalind::bsp::FlatPolygons run_flat(CsgOp op, const quorvalind::mesh::TriMesh& a,
                                       const quorvalind::mesh::TriMesh& b) {
  Context ctx;
  quorvalind::bsp::FlatPolygons flat;
  quorvalind::bsp::append_flat(flat, run(op, a, b, ctx));
  return flat;
}

quorvalind::mesh::TriMesh run_mesh(CsgOp op, const quorvalind::mesh::TriMesh& a,
                                   const quorvalind::mesh::TriMesh& b) {
  Context ctx;
  return quorvalind::bsp::polygons_to_mesh(run(op, a, b, ctx));
}

}  // namespace reference
