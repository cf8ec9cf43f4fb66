#include "bsp/csg.h"

#include <utility>

#include "bsp/node.h"

namespace quorvalind::bsp {

namespace {

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
std::atomic<std::uint64_t> g_classifications{0};
#endif

// The tree sequences; A holds operand a, B operand b, and the result is
// A.all_polygons() afterwards. B is never read after its all_polygons, so
// its polygons are moved rather than copied; likewise A's at the end.
//
//   union:      A.clip_to(B); B.clip_to(A); B.invert(); B.clip_to(A); B.invert()
//               A.build(B.all_polygons())
//   subtract:   A.invert(); A.clip_to(B); B.clip_to(A); B.invert(); B.clip_to(A)
//               B.invert(); A.build(B.all_polygons()); A.invert()
//   intersect:  A.invert(); B.clip_to(A); B.invert(); A.clip_to(B); B.clip_to(A)
//               A.build(B.all_polygons()); A.invert()
void run_sequence(CsgOp op, Node& A, Node& B, Workspace& ws) {
  switch (op) {
    case CsgOp::Union:
      clip_to(A, B, ws);
      clip_to(B, A, ws);
      invert(B, ws);
      clip_to(B, A, ws);
      invert(B, ws);
      build(A, take_all_polygons(B, ws), ws);
      break;
    case CsgOp::Subtract:
      invert(A, ws);
      clip_to(A, B, ws);
      clip_to(B, A, ws);
      invert(B, ws);
      clip_to(B, A, ws);
      invert(B, ws);
      build(A, take_all_polygons(B, ws), ws);
      invert(A, ws);
      break;
    case CsgOp::Intersect:
      invert(A, ws);
      clip_to(B, A, ws);
      invert(B, ws);
      clip_to(A, B, ws);
      clip_to(B, A, ws);
      build(A, take_all_polygons(B, ws), ws);
      invert(A, ws);
      break;
  }
}

}  // namespace

OperandPolygons convert_operands(const mesh::TriMesh& a, const mesh::TriMesh& b) {
  OperandPolygons out;
  out.a = mesh_to_polygons(a, out.pool);
  out.b = mesh_to_polygons(b, out.pool);
  return out;
}

mesh::TriMesh run_csg(CsgOp op, OperandPolygons operands, const WaitCallback& wait) {
  mesh::TriMesh result;
  // Runs on the csg thread; the trees, lists and pool are destroyed there.
  const auto work = [&operands, &result, op](const std::atomic<bool>& stop) {
    Workspace ws(std::move(operands.pool), &stop);
    {
      Node A;
      Node B;
      build(A, std::move(operands.a), ws);
      build(B, std::move(operands.b), ws);
      run_sequence(op, A, B, ws);
      const PolygonList r = take_all_polygons(A, ws);
      result = polygons_to_mesh(r);
    }
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    g_classifications.fetch_add(ws.scratch.classifications, std::memory_order_relaxed);
#endif
  };
  run_on_csg_thread(work, wait);
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
#endif

}  // namespace quorvalind::bsp
