#pragma once
// The skipping engine: the same tree sequences with the same results, bit for
// bit and in the same order, as the engine of node.h, minus work whose
// outcome is already known. See fast_tree.cpp for why each shortcut cannot
// change a result.
#include "bsp/node.h"
#include "bsp/polygon.h"
#include "bsp/sequence.h"

#include <cstdint>

namespace quorvalind::bsp {


// Builds A from a and B from b, runs op's tree sequence and returns
// A.all_polygons() afterwards, exactly as the literal engine would. Polls
// ws's stop flag (StopRequested) at least once per polygon walk and per
// node visited by invert and the tree copies.
PolygonList fast_sequence(CsgOp op, PolygonList a, PolygonList b, Workspace& ws);

// Chain lengths from which the engine skips (more than short_chain nodes
// left) and indexes a chain (index_min nodes). They choose which proofs are
// tried, never a result; tests lower them to drive the skipping paths with
// small solids. Not for use while an operation runs.
struct SkipTuning {
  std::uint32_t short_chain;
  std::uint32_t index_min;
};
SkipTuning skip_tuning();
void set_skip_tuning(const SkipTuning& t);

}  // namespace quorvalind::bsp
