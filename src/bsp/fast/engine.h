#pragma once
// The skipping engine's tree operations: build, clip, invert and the
// copies, over the records of fast/tree.h.
//
// Why the skipping engine gives the literal engine's results
// ----------------------------------------------------------
// Every decision of the literal engine is the class of one polygon against
// one node's plane (classify, with the own-plane rule), followed by a split
// or by a move into a list. This engine makes the same decisions, with the
// same arithmetic (PlaneTest, split_spanning), on the same pieces; it
// differs in these ways only, each argued beside its code:
//   1. one polygon at a time, in the literal orders (fast/build.cpp,
//      fast/clip.cpp);
//   2. skipping runs of nodes that bounds prove a polygon passes
//      (fast/bounds.h, fast/search.cpp), and taking up the search a piece
//      was cut from (Resume, SKIP_RESUME_PAD);
//   3. repeated searches of one chain (fast/search.cpp);
//   4. repeated clips by one tree (fast/clip.cpp);
//   5. corner lists of a planned build (fast/corner_lists.cpp);
//   6. storage, which takes part in no decision (fast/tree.h).
// SkipOptions::check_shortcuts checks 2 to 5 where they are taken
// (fast/check.h).
//
// The stop flag is polled once per polygon of every build and clip and
// once per node in invert and the tree copies, as often as in the literal
// engine's walks or more.
#include <cstdint>
#include <utility>
#include <vector>

#include "bsp/fast/search.h"
#include "bsp/fast/tree.h"
#include "bsp/fast_tree.h"

namespace quorvalind::bsp::fast {

struct FastEngine {
  FastEngine(Workspace& w, const SkipOptions& o) : ws(w), options(o) {}
  Workspace& ws;
  SkipOptions options;
  OperandPlaneIds ids;
  SearchStack stack;
  // Groups left open by the searches of the current input polygon's
  // pieces (Resume), emptied before each input polygon.
  std::vector<std::uint32_t> open;

  SearchWork work() { return {ws.scratch, stack, open}; }
  static void remember(FPoly& q, const Tree& t, Side side, const Resume& found);
  static Resume handed_down(const Resume& found, const SpanPieces& pieces);
  FPoly wrap(const Polygon& p, std::uint32_t id);

  // ---- build (fast/build.cpp) ----------------------------------------------

  struct BuildItem {
    FPoly q;
    std::uint32_t node;
    Side side;  // side taken into `node`
    Resume resume;
    bool input = false;  // input `t.candidate` itself, at the root
    // Frozen walks: the piece is to go on at node's missing child on `side`.
    bool grows = false;
  };
  KeptVector<BuildItem> build_stack;
  std::vector<std::pair<std::uint32_t, FPoly>> held_cb;

  // `last`: no search follows (the sequences' final build), so the chains
  // are not indexed again at the end.
  void build(Tree& t, FList list, bool last = false);
  // build in steps: begin_build, then insert_input for every input in
  // order (or land_inputs), then end_build.
  void begin_build(Tree& t, const FList& list);
  void next_input(Tree& t, std::uint32_t i);
  void insert_input(Tree& t, const FList& list, std::uint32_t i);
  void end_build(Tree& t, bool last);
  void plan(Tree& t, const FList& list);
  static void drop_sparse_plan(Tree& t, std::uint32_t seen);
  void insert(Tree& t, BuildItem& it);

  // ---- a build in two phases (fast/build.cpp) ------------------------------

  // Where a piece of input `input` comes to rest in the tree as it stood
  // before the build: in node's polygons (PLACED_FRONT), held for them
  // (PLACED_BACK), or on `side` of node, which had no child there (GROWS).
  enum : std::uint8_t { PLACED_FRONT, PLACED_BACK, GROWS };
  struct Landing {
    FPoly q;
    std::uint32_t input;
    std::uint32_t node;
    std::uint8_t kind;
    Side side;
  };
  using Landings = std::vector<Landing>;
  // Walks inputs [begin, end) of list down t, which it only reads.
  void walk_frozen(const Tree& t, const FList& list, std::uint32_t begin, std::uint32_t end,
                   Landings& out);
  // insert_input for inputs [begin, end), given their frozen walks in
  // input order.
  void land_inputs(Tree& t, std::uint32_t begin, std::uint32_t end,
                   const std::vector<Landings>& walks);
  std::uint32_t descend(Tree& t, std::uint32_t node, Side side, const FPoly& first);

  // ---- corner lists of a planned build (fast/corner_lists.cpp) ------------

  struct CornerLists {
    bool ok = false;
    std::vector<std::uint32_t> first_corner;  // of input i: point ids [first_corner[i], [i + 1])
    std::vector<std::uint32_t> point_of;      // per corner
    std::vector<std::uint32_t> first;         // of point v: cand[first[v], first[v + 1])
    std::vector<std::uint32_t> cand;
    std::vector<Pnt> points;
    std::vector<std::uint32_t> slots;  // open addressing over the points' bits
  } corners;
  void list_corners(const Hier& h, const FList& list);
  Arrival by_corners(const Tree& t, std::uint32_t i, const FPoly& q);

  // ---- clip_polygons (fast/clip.cpp) ----------------------------------------

  // Path sides as a shared list, deepest first: one entry per node where
  // the piece was COPLANAR.
  struct Mark {
    std::uint32_t depth;
    std::uint32_t next;
  };
  KeptVector<Mark> marks;

  // The nodes a clip's walk classified to the back side on the way from
  // the root down its back chain, as SearchLog gives them; every other
  // node on the way was proven for the piece or for the polygon it was
  // cut from (`gen` splits ago at most). ok while that holds.
  struct Lineage {
    bool ok = false;
    std::uint32_t first = 0, count = 0, gen = 0;
  };
  struct ClipItem {
    FPoly q;
    std::uint32_t node;
    std::uint32_t marks;
    Side side;
    Resume resume;
    bool whole = false;  // the input polygon itself, not a piece of it
    Lineage lin;
  };
  // The nodes of every Lineage, kept for the whole sequence: one segment
  // per engine and clip phase (see Crew in fast/engine.cpp), shared by the
  // engines of one operation; replay_seg is this engine's in the phase
  // under way.
  using ReplayStore = std::vector<std::vector<std::uint32_t>>;
  ReplayStore* replay_store = nullptr;
  std::uint16_t replay_seg = 0;
  std::vector<std::uint32_t>& replay_nodes() { return (*replay_store)[replay_seg]; }
  SearchLog slog;
  struct Emitted {
    FPoly q;
    std::uint32_t pre;
    std::uint32_t marks;
    std::uint32_t index;
  };
  KeptVector<ClipItem> clip_stack;
  KeptVector<Emitted> emitted;

  static void ensure_order(Tree& t);
  bool marks_less(std::uint32_t a, std::uint32_t b) const;
  int marks_cmp(std::uint32_t a, std::uint32_t b) const;
  FList clip(Tree& t, FList list);
  bool exits_whole(const Tree& t, const FPoly& q) const;
  static bool same_walk(const Tree& t, const FPoly& q);
  bool replays(const Tree& t, FPoly& q);
  void walk(const Tree& t, ClipItem& it, std::uint32_t index);
  void extend(Lineage& lin, Side side);
  bool step(const Tree& t, ClipItem& it, Side side, std::uint32_t index);
  void leave(const Tree& t, const ClipItem& it, std::uint32_t node, Side side, std::uint32_t index);

  // ---- the other tree operations (fast/engine.cpp) -------------------------

  // t.invert() in parts (see Crew in fast/engine.cpp): the nodes [begin,
  // end), the chains [begin, end) of one side, then the rest once both are
  // done.
  static void invert_nodes(Tree& t, const OperandPlaneIds& ids, const Workspace& ws,
                           std::uint32_t begin, std::uint32_t end);
  static void invert_chains(KeptVector<Chain>& chains, std::uint32_t begin, std::uint32_t end);
  void end_invert(Tree& t);
  // Hands every polygon of the tree in pre-order (node, front, back) to f,
  // or to g for a compact tree's records, freeing the nodes' lists.
  template <class F, class G>
  void drain(Tree& t, F&& f, G&& g);
  static std::size_t polygon_count(const Tree& t);
  FList take_all(Tree& t);
};

}  // namespace quorvalind::bsp::fast
