#include "bsp/csg.h"

#include <utility>
#include <vector>

#include "bsp/fast_tree.h"
#include "bsp/node.h"
#include "bsp/reuse.h"
#include "bsp/sequence.h"
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

}  // namespace

bool prefers_skipping(const OperandPolygons& operands) {
  const double na = static_cast<double>(operands.a.size());
  const double nb = static_cast<double>(operands.b.size());
  // The estimate is at most 2 na nb: no need to count planes below that.
  if (2.0 * na * nb <= gp::FAST_ENGINE_MIN_WORK) return false;
  const double work = na * static_cast<double>(distinct_planes(operands.b)) +
                      nb * static_cast<double>(distinct_planes(operands.a));
  return work > gp::FAST_ENGINE_MIN_WORK;
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
