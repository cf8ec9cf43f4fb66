#pragma once
#include <cstdint>

#include "gp/ax1.h"
#include "mesh/tri_mesh.h"
#include "topods/shapes.h"

namespace quorvalind::brep_prim_api {

// Sweeps the closed profile about the axis through `angle` radians in
// max(segments, 8) steps; a partial turn gets a flat cap at each end, a full
// turn (|angle| >= 2 pi, or within 1e-6 of it) none. A wire of fewer than 3
// points gives an empty mesh; angle 0 gives a double-sided sheet of volume 0;
// angles past a full turn overlap themselves. Throws std::bad_alloc at once
// when the triangle count cannot be stored.
mesh::TriMesh make_revol(const topods::Wire& wire, const gp::Ax1& axis, std::uint64_t segments,
                         double angle);

}  // namespace quorvalind::brep_prim_api
