#pragma once
// Boolean operations on solids. A solid with no triangles is empty; so is,
// here, one whose triangles are all degenerate (it converts to no polygons),
// since running the tree sequence on it would turn the other operand inside
// out (cut) or return it unchanged (common). Non-trivial results are welded
// at BOOLEAN_WELD_TOLERANCE on the calling thread; trivial ones are unwelded
// copies. The wait callback is handed to the csg thread runner (Ctrl-C).
#include <vector>

#include "bsp/csg_thread.h"
#include "topods/shapes.h"

namespace quorvalind::brep_algo_api {

// a - b. a empty: copy of a; b empty: copy of a.
topods::Solid cut(const topods::Solid& a, const topods::Solid& b,
                  const bsp::WaitCallback& wait = {});
// a | b. a empty: copy of b; b empty: copy of a.
topods::Solid fuse(const topods::Solid& a, const topods::Solid& b,
                   const bsp::WaitCallback& wait = {});
// a & b. Either empty: the empty solid (no vertices, no triangles).
topods::Solid common(const topods::Solid& a, const topods::Solid& b,
                     const bsp::WaitCallback& wait = {});
// Left fold of fuse over the solids in order, skipping those without
// triangles; none left gives the empty solid, one gives its unwelded copy.
topods::Solid fuse_all(const std::vector<topods::Solid>& solids,
                       const bsp::WaitCallback& wait = {});

}  // namespace quorvalind::brep_algo_api
