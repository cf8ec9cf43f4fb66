#pragma once
// Mesh-level booleans: both meshes become polygons on the calling thread,
// the tree work runs on a csg thread, and the surviving polygons come back
// fan-triangulated into a new, unwelded mesh (three vertices per triangle).
#include <cstdint>

#include "bsp/csg_thread.h"
#include "bsp/polygon.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::bsp {

enum class CsgOp { Union, Subtract, Intersect };

// The polygons of both operands, their vertices in one pool.
struct OperandPolygons {
  VertexPool pool;
  PolygonList a;
  PolygonList b;
};

// mesh_to_polygons of a, then of b (an index fault in a is raised first).
OperandPolygons convert_operands(const mesh::TriMesh& a, const mesh::TriMesh& b);

// Runs the operation's tree sequence on a csg thread. Errors: see
// run_on_csg_thread (spawn failure, thread fault, Interrupted).
mesh::TriMesh run_csg(CsgOp op, OperandPolygons operands, const WaitCallback& wait = {});

// a | b, a - b, a & b. (`union` is a keyword, hence csg_union.)
mesh::TriMesh csg_union(const mesh::TriMesh& a, const mesh::TriMesh& b,
                        const WaitCallback& wait = {});
mesh::TriMesh subtract(const mesh::TriMesh& a, const mesh::TriMesh& b,
                       const WaitCallback& wait = {});
mesh::TriMesh intersect(const mesh::TriMesh& a, const mesh::TriMesh& b,
                        const WaitCallback& wait = {});

#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
// Vertex classifications made by all finished operations so far
// (benchmark builds only).
std::uint64_t classification_count();
#endif

}  // namespace quorvalind::bsp
