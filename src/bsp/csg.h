#pragma once
// Mesh-level booleans: both meshes become polygons on the calling thread,
// the tree work runs on a csg thread, and the surviving polygons come back
// fan-triangulated into a new, unwelded mesh (three vertices per triangle).
#include <cstdint>

#include "bsp/csg_thread.h"
#include "bsp/fast_tree.h"
#include "bsp/polygon.h"
#include "bsp/sequence.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::bsp {

// Which engine runs the tree sequences. All give the same result bit for
// bit. Literal follows the tree definitions list by list and is kept as the
// reference that tests and benchmarks compare against; Skipping walks one
// polygon at a time and skips what bounds prove (fast_tree.h); Fast, the
// default, is Skipping when the literal walk's estimated work exceeds
// FAST_ENGINE_MIN_WORK and Literal below, where it is quicker. Only C++
// callers choose: the Python module always gets Fast, except in a
// benchmark build, whose private module can switch (see set_bench_engine).
enum class Engine { Fast, Literal, Skipping };

// The polygons of both operands, their vertices in one pool.
struct OperandPolygons {
  VertexPool pool;
  PolygonList a;
  PolygonList b;
};

// mesh_to_polygons of a, then of b (an index fault in a is raised first).
OperandPolygons convert_operands(const mesh::TriMesh& a, const mesh::TriMesh& b);

// Runs the operation's tree sequence on a csg thread; `skip` is how the
// skipping engine runs, when it does. Errors: see run_on_csg_thread (spawn
// failure, thread fault, Interrupted).
mesh::TriMesh run_csg(CsgOp op, OperandPolygons operands, const WaitCallback& wait = {},
                      Engine engine = Engine::Fast, const SkipOptions& skip = {});

// run_csg without the triangulation: the surviving polygons in order, flat
// (fan-triangulating them gives run_csg's mesh). Same errors.
FlatPolygons run_csg_flat(CsgOp op, OperandPolygons operands, const WaitCallback& wait = {},
                          Engine engine = Engine::Fast, const SkipOptions& skip = {});

// Whether the default engine would run `operands` on the skipping engine.
bool prefers_skipping(const OperandPolygons& operands);

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
// The engine that run_csg uses when called with the default (benchmark
// builds only, so that a benchmark can time both from Python).
void set_bench_engine(Engine engine);
#endif

}  // namespace quorvalind::bsp
