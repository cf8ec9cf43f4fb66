#pragma once
// A plain BSP engine for tests: the tree operations as the algorithm states
// them, one recursive call per level, fresh lists at every step, nothing
// skipped, moved or reused. Its arithmetic is polygon.h's (the same Plane,
// Polygon and split_polygon), so the production engines must match it bit
// for bit: same polygons, same order, same vertices.
//
// Recursion is bounded by MAX_DEPTH (std::length_error beyond it): test
// inputs are small, and the main thread's stack is all it has.
#include <memory>

#include "bsp/csg.h"
#include "bsp/polygon.h"
#include "bsp/sequence.h"
#include "mesh/tri_mesh.h"

namespace reference {

using quorvalind::bsp::CsgOp;
using quorvalind::bsp::Plane;
using quorvalind::bsp::PolygonList;

constexpr int MAX_DEPTH = 10000;

// The vertex storage and split scratch of one run. split_polygon takes its
// vertex blocks from a pool; nothing is ever given back before the context
// dies, so every polygon handed out stays valid as long as it.
struct Context {
  quorvalind::bsp::VertexPool pool;
  quorvalind::bsp::SplitScratch scratch;
};

struct Node {
  bool has_plane = false;
  Plane plane;
  PolygonList polygons;
  std::unique_ptr<Node> front, back;
};

// build(list):
//   if list is empty: return
//   if no plane: plane = list[0].plane
//   cf, cb, f, b = split_polygon of every polygon of list, in order
//   polygons += cf; polygons += cb
//   if f: (front or new Node).build(f)
//   if b: (back or new Node).build(b)
void build(Node& node, const PolygonList& list, Context& ctx);

// clip_polygons(list):
//   if no plane: return list
//   cf, cb, f, b = split as in build; f += cf; b += cb
//   f = front.clip_polygons(f) if front else f
//   b = back.clip_polygons(b) if back else []
//   return f + b
PolygonList clip_polygons(const Node& node, const PolygonList& list, Context& ctx);

// polygons = other.clip_polygons(polygons); then front, then back.
void clip_to(Node& node, const Node& other, Context& ctx);

// Every polygon reversed with its plane negated, the node's plane negated,
// front then back inverted, then front and back swapped.
void invert(Node& node);

// Copies of the polygons in pre-order: node, front subtree, back subtree.
PolygonList all_polygons(const Node& node, Context& ctx);

// The mesh-level driver: mesh_to_polygons of a, then of b, one tree each,
// op's sequence from bsp/sequence.h, then A.all_polygons(). The polygons'
// vertices live in ctx.
PolygonList run(CsgOp op, const quorvalind::mesh::TriMesh& a, const quorvalind::mesh::TriMesh& b,
                Context& ctx);

// run laid out as run_csg_flat returns it.
quorvalind::bsp::FlatPolygons run_flat(CsgOp op, const quorvalind::mesh::TriMesh& a,
                                       const quorvalind::mesh::TriMesh& b);

// run fan-triangulated, as run_csg returns it.
quorvalind::mesh::TriMesh run_mesh(CsgOp op, const quorvalind::mesh::TriMesh& a,
                                   const quorvalind::mesh::TriMesh& b);

}  // namespace reference
