#include "bsp/csg.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "bsp/fast_tree.h"
#include "bsp/node.h"
#include "bsp/reuse.h"
#include "bsp/sequence.h"
#include "gp/bbox.h"
#include "gp/speed_knobs.h"

namespace quorvalind::bsp {

namespace {

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
std::atomic<std::uint64_t> g_classifications{0};
std::atomic<bool> g_bench_literal{false};
#endif

// The literal engine's tree operations. B is never read after its
// all_polygons, so its polygons are moved rather than copied.
struct LiteralOps {
  Workspace& ws;
  void clip_to(Node& x, const Node& y) { bsp::clip_to(x, y, ws); }
  void invert(Node& x) { bsp::invert(x, ws); }
  void absorb(Node& x, Node& y) { build(x, take_all_polygons(y, ws), ws); }
};

// Planes equal bit for bit count once.
std::size_t distinct_planes(const PolygonList& list) {
  PlaneIds ids;
  ids.reserve(list.size());
  for (const Polygon& p : list) ids.intern(p.plane);
  return ids.size();
}

void add_polygon(gp::BBox& b, const Polygon& p) {
  for (const Pnt& v : vertices_of(p)) gp::add_point(b, v);
}

gp::BBox box_of(const Polygon& p) {
  gp::BBox b = gp::empty_bbox();
  add_polygon(b, p);
  return b;
}

gp::BBox box_of(const PolygonList& list) {
  gp::BBox b = gp::empty_bbox();
  for (const Polygon& p : list) add_polygon(b, p);
  return b;
}

// The part of an operand that can meet the other: its polygons whose boxes
// reach the other's box, and how many planes they lie on. Planes are
// counted to 1e-6, since the triangles of one flat face have planes that
// differ in their last bits but share a node of the literal tree.
struct Reach {
  double polygons = 0;
  double planes = 0;
};

Reach reach_of(const PolygonList& list, const gp::BBox& other) {
  std::vector<std::array<double, 4>> keys;
  for (const Polygon& p : list) {
    if (!gp::overlaps(box_of(p), other)) continue;
    const Plane& pl = p.plane;
    keys.push_back({std::nearbyint(pl.normal.x * 1e6), std::nearbyint(pl.normal.y * 1e6),
                    std::nearbyint(pl.normal.z * 1e6), std::nearbyint(pl.w * 1e6)});
  }
  Reach r;
  r.polygons = static_cast<double>(keys.size());
  // Bit patterns, so that NaN keys sort and compare like any others.
  std::vector<std::array<std::uint64_t, 4>> bits(keys.size());
  std::memcpy(bits.data(), keys.data(), keys.size() * sizeof keys[0]);
  std::sort(bits.begin(), bits.end());
  r.planes = static_cast<double>(std::unique(bits.begin(), bits.end()) - bits.begin());
  return r;
}

}  // namespace

bool prefers_skipping(const OperandPolygons& operands) {
  const double na = static_cast<double>(operands.a.size());
  const double nb = static_cast<double>(operands.b.size());
  // The estimate is at most 2 na nb: no need to count planes below that.
  if (2.0 * na * nb <= gp::FAST_ENGINE_MIN_WORK) return false;
  const double work = na * static_cast<double>(distinct_planes(operands.b)) +
                      nb * static_cast<double>(distinct_planes(operands.a));
  if (work <= gp::FAST_ENGINE_MIN_WORK) return false;
  const gp::BBox box_a = box_of(operands.a), box_b = box_of(operands.b);
  const Reach a = reach_of(operands.a, box_b), b = reach_of(operands.b, box_a);
  return a.polygons * b.planes + b.polygons * a.planes > gp::FAST_ENGINE_MIN_REACH_WORK;
}

OperandPolygons convert_operands(const mesh::TriMesh& a, const mesh::TriMesh& b) {
  OperandPolygons out;
  out.a = reuse::take_list(a.triangles.size());
  out.b = reuse::take_list(b.triangles.size());
  append_mesh_polygons(a, out.pool, out.a);
  append_mesh_polygons(b, out.pool, out.b);
  return out;
}

namespace {

// Runs op's tree sequence on a csg thread and hands the result polygons,
// still in the operation's pool, to finish(list, ws) there; the trees, lists
// and pool are destroyed on that thread too.
template <class Finish>
void run_tree_work(CsgOp op, OperandPolygons& operands, const WaitCallback& wait, Engine engine,
                   const SkipOptions& skip, Finish&& finish) {
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
  if (engine == Engine::Fast && g_bench_literal.load()) engine = Engine::Literal;
#endif
  const auto work = [&operands, &finish, &skip, op, engine](const std::atomic<bool>& stop) {
    Workspace ws(std::move(operands.pool), &stop);
    const bool skipping =
        engine == Engine::Skipping || (engine == Engine::Fast && prefers_skipping(operands));
    if (skipping) {
      finish(fast_sequence(op, std::move(operands.a), std::move(operands.b), ws, skip), ws);
    } else {
      Node A;
      Node B;
      build(A, std::move(operands.a), ws);
      build(B, std::move(operands.b), ws);
      LiteralOps ops{ws};
      tree_sequence(op, ops, A, B);
      finish(A, ws);
      give_back_lists(A, ws);
      give_back_lists(B, ws);
    }
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    g_classifications.fetch_add(ws.scratch.classifications, std::memory_order_relaxed);
#endif
  };
  run_on_csg_thread(work, wait);
}

}  // namespace

mesh::TriMesh run_csg(CsgOp op, OperandPolygons operands, const WaitCallback& wait, Engine engine,
                      const SkipOptions& skip) {
  mesh::TriMesh result;
  struct Finish {
    mesh::TriMesh& result;
    void operator()(const PolygonList& r, Workspace&) const { result = polygons_to_mesh(r); }
    void operator()(Node& A, Workspace& ws) const {
      result = polygons_to_mesh(take_all_polygons(A, ws));
    }
  };
  run_tree_work(op, operands, wait, engine, skip, Finish{result});
  return result;
}

FlatPolygons run_csg_flat(CsgOp op, OperandPolygons operands, const WaitCallback& wait,
                          Engine engine, const SkipOptions& skip) {
  FlatPolygons result = reuse::take_flat();
  struct Finish {
    FlatPolygons& result;
    void operator()(const PolygonList& r, Workspace&) const { append_flat(result, r); }
    void operator()(const Node& A, Workspace& ws) const { append_flat_all_polygons(A, ws, result); }
  };
  run_tree_work(op, operands, wait, engine, skip, Finish{result});
  return result;
}

mesh::TriMesh csg_union(const mesh::TriMesh& a, const mesh::TriMesh& b, const WaitCallback& wait) {
  return run_csg(CsgOp::Union, convert_operands(a, b), wait);
}

mesh::TriMesh subtract(const mesh::TriMesh& a, const mesh::TriMesh& b, const WaitCallback& wait) {
  return run_csg(CsgOp::Subtract, convert_operands(a, b), wait);
}

mesh::TriMesh intersect(const mesh::TriMesh& a, const mesh::TriMesh& b, const WaitCallback& wait) {
  return run_csg(CsgOp::Intersect, convert_operands(a, b), wait);
}

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
std::uint64_t classification_count() { return g_classifications.load(); }
void set_bench_engine(Engine engine) { g_bench_literal.store(engine == Engine::Literal); }
#endif

}  // namespace quorvalind::bsp
