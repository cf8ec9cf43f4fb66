#pragma once
// The skipping engine: the same tree sequences with the same results, bit for
// bit and in the same order, as the engine of node.h, minus work whose
// outcome is already known. Its parts are in bsp/fast/, each beside the
// argument for why its shortcut cannot change a result (fast/engine.h
// starts it).
#include <cstdint>

#include "bsp/node.h"
#include "bsp/polygon.h"
#include "bsp/sequence.h"
#include "gp/halves.h"
#include "gp/speed_knobs.h"

namespace quorvalind::bsp {

// How the skipping engine runs one operation. None of it changes a result.
struct SkipOptions {
  // Chain lengths from which the engine skips (more than short_chain nodes
  // left) and indexes a chain (index_min nodes). They choose which proofs
  // are tried; tests lower them to drive the skipping paths with small
  // solids.
  std::uint32_t short_chain = gp::SKIP_SHORT_CHAIN;
  std::uint32_t index_min = gp::SKIP_INDEX_MIN;
  // Tests only: every shortcut, where it is taken, is checked against the
  // exact classification it stands for, and a failure throws
  // gp::InternalFault naming the shortcut. A run-time switch rather than a
  // build flag, so that the tests check the very code production runs;
  // off, it costs one predictable branch per shortcut taken.
  bool check_shortcuts = false;
  // Builds on several threads go in rounds of at least this many inputs
  // (fast/engine.cpp); tests lower it to drive the rounds with small solids.
  std::uint32_t round_min = gp::SKIP_BUILD_ROUND_MIN;
  // Threads the operation may use (0: gp::worker_threads()), and how they
  // are started (tests make it fail); a helper that does not start is done
  // without.
  unsigned threads = 0;
  gp::ThreadStarter start = &pthread_create;
};

// Builds A from a and B from b, runs op's tree sequence and returns
// A.all_polygons() afterwards, exactly as the literal engine would. Polls
// ws's stop flag (StopRequested) at least once per polygon walk and per
// node visited by invert and the tree copies.
PolygonList fast_sequence(CsgOp op, PolygonList a, PolygonList b, Workspace& ws,
                          const SkipOptions& options = {});

}  // namespace quorvalind::bsp
