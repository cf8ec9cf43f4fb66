#pragma once
// Where a polygon leaves a chain: the walk down one chain of a tree, with
// the shortcuts that skip the nodes it is proven to pass.
#include <cmath>
#include <cstdint>
#include <vector>

#include "bsp/fast/bounds.h"
#include "bsp/fast/common.h"
#include "bsp/fast/tree.h"

namespace quorvalind::bsp::fast {

// The probe of a polygon: its sphere and corners, widened by
// SKIP_RESUME_PAD (|c|_1 + r) so that a proof also holds for its pieces.
inline Probe probe(const FPoly& q) {
  const double c1 = std::fabs(q.c.x) + std::fabs(q.c.y) + std::fabs(q.c.z);
  return {q.c, c1, q.r, gp::SKIP_RESUME_PAD * (c1 + q.r), q.p.vertices, q.p.count};
}

// Where a piece that entered `node` on `side` leaves that node's chain:
// either at `node` of the chain with its exact class `cls` there, which is
// not `side` (COPLANAR, the other side or SPANNING), or past the chain's
// end (past_end: it is on `side` of `node`, the last node, which has no
// child there). Every position on the way was proven or classified on
// `side`, which is what the literal walk would have found there.
struct Arrival {
  std::uint32_t node;
  unsigned cls;
  bool past_end;
  Side side;
};

// A group of the index still to be looked at, and a lower bound of the
// positions it stands for.
struct StackItem {
  std::uint32_t key;
  std::uint32_t node;  // an HNode
};
using SearchStack = std::vector<StackItem>;

// A piece cut at chain position k from a polygon whose index search found
// k goes on down the same chain from k + 1 (the back piece of a back chain,
// the front piece of a front chain). It lies on the polygon, up to the
// rounding of its new corners, so every group the search proved for the
// polygon holds for the piece: the piece's search starts from the groups
// the polygon's left open (SearchWork::open[first, +count)) instead of the
// root. SKIP_RESUME_PAD says why the proofs cover the piece.
struct Resume {
  std::uint32_t chain = NONE;  // NONE: start from the root
  std::uint32_t pos = 0;       // where the piece enters the chain
  std::uint32_t version = 0;   // of the chain's index
  std::uint32_t first = 0, count = 0;
  std::uint32_t gen = 0;    // searches since the last one from the root
  std::uint32_t start = 0;  // where the search that made it began
  bool past_end = false;    // the search found no answer: pos - 1 is the chain's length
};

// What a walk classified on its way, for the replays of a later clip (see
// fast/clip.cpp): ok when every node before the answer was either proven,
// with a widened probe, or classified to the chain's side; `nodes` are the
// latter. Kept only by the index searches and the short walks. `positions`
// is scratch.
struct SearchLog {
  bool ok = false;
  std::vector<std::uint32_t> nodes, positions;
};

// The scratch a search works in: the split scratch (a SPANNING answer
// leaves its vertex classes there), the index walk's stack, and the groups
// left open by the searches of the current input polygon's pieces (Resume
// refers to them), emptied before each input polygon.
struct SearchWork {
  SplitScratch& scratch;
  SearchStack& stack;
  std::vector<std::uint32_t>& open;
};

// True when every vertex of q is behind `pl` by more than PLANE_EPSILON
// and the widening that covers the pieces later cut from q (see
// SKIP_RESUME_PAD): each of them is within 3.2e-14 (|c|_1 + r) of q's
// hull, so its computed distances are below -PLANE_EPSILON too, and it is
// BACK there. A walk need not list such a node for its replays (see
// fast/clip.cpp). Always false on the front side; NaN anywhere gives false.
inline bool deep_back(const Plane& pl, const FPoly& q, Side side) {
  if (side != BACK) return false;
  const Pnt& n = pl.normal;
  const double c1 = std::fabs(q.c.x) + std::fabs(q.c.y) + std::fabs(q.c.z);
  const double n1 = std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z);
  const double limit =
      -gp::PLANE_EPSILON - 4.0 * gp::SKIP_RESUME_PAD * (n1 * (c1 + q.r) + std::fabs(pl.w));
  for (std::uint32_t i = 0; i < q.p.count; ++i) {
    if (!(plane_distance(pl, q.p.vertices[i]) < limit)) return false;
  }
  return true;
}

// Where piece q, which entered `node` on `side`, leaves that node's chain.
// `from` is the search this piece may take up (Resume); `out` receives the
// one this call made, when its answer came from the chain's index, its
// open groups appended to work.open. `log`, when given, receives the nodes
// the walk classified rather than proved (for the replays of fast/clip.cpp).
Arrival follow_chain(const Tree& t, std::uint32_t node, Side side, const FPoly& q,
                     const Resume& from, SearchWork& work, Resume& out, SearchLog* log = nullptr);

}  // namespace quorvalind::bsp::fast
