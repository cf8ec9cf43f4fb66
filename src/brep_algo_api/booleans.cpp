#include "brep_algo_api/booleans.h"

#include <utility>

#include "bsp/csg.h"
#include "bsp/reuse.h"
#include "gp/tolerances.h"
#include "gp/workers.h"

namespace quorvalind::brep_algo_api {

namespace {

using topods::Solid;

bool has_triangles(const Solid& s) { return !s.mesh.triangles.empty(); }

// The weld of the result's fan triangulation, made straight from the
// polygons (see welded_fans); their buffers go on to the next operation.
Solid welded_result(bsp::FlatPolygons r) {
  Solid out{
      mesh::welded_fans(r.vertices, r.counts, gp::BOOLEAN_WELD_TOLERANCE, gp::worker_threads())};
  bsp::reuse::keep_flat(std::move(r));
  return out;
}

}  // namespace

Solid cut(const Solid& a, const Solid& b, const bsp::WaitCallback& wait) {
  if (!has_triangles(a) || !has_triangles(b)) return a;
  bsp::OperandPolygons ops = bsp::convert_operands(a.mesh, b.mesh);
  if (ops.a.empty() || ops.b.empty()) return a;
  return welded_result(bsp::run_csg_flat(bsp::CsgOp::Subtract, std::move(ops), wait));
}

Solid fuse(const Solid& a, const Solid& b, const bsp::WaitCallback& wait) {
  if (!has_triangles(a)) return b;
  if (!has_triangles(b)) return a;
  bsp::OperandPolygons ops = bsp::convert_operands(a.mesh, b.mesh);
  if (ops.a.empty()) return b;
  if (ops.b.empty()) return a;
  return welded_result(bsp::run_csg_flat(bsp::CsgOp::Union, std::move(ops), wait));
}

Solid common(const Solid& a, const Solid& b, const bsp::WaitCallback& wait) {
  if (!has_triangles(a) || !has_triangles(b)) return Solid{};
  bsp::OperandPolygons ops = bsp::convert_operands(a.mesh, b.mesh);
  if (ops.a.empty() || ops.b.empty()) return Solid{};
  return welded_result(bsp::run_csg_flat(bsp::CsgOp::Intersect, std::move(ops), wait));
}

Solid fuse_all(const std::vector<Solid>& solids, const bsp::WaitCallback& wait) {
  std::size_t i = 0;
  while (i < solids.size() && !has_triangles(solids[i])) ++i;
  if (i == solids.size()) return Solid{};
  Solid acc = solids[i];
  for (++i; i < solids.size(); ++i) {
    if (!has_triangles(solids[i])) continue;
    acc = fuse(acc, solids[i], wait);
  }
  return acc;
}

}  // namespace quorvalind::brep_algo_api
