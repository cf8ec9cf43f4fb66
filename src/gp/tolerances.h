#pragma once
// Every fixed tolerance of the kernel, in one place: the numbers that
// define results (change one and some output changes) or that keep a
// shortcut sound (change one and a shortcut may change a result). The
// knobs that only trade speed or memory are in gp/speed_knobs.h.
namespace quorvalind::gp {

// Weld grid cell of the shape builders and of the writers.
inline constexpr double BUILDER_WELD_TOLERANCE = 1e-7;
// Weld grid cell applied to every boolean result.
inline constexpr double BOOLEAN_WELD_TOLERANCE = 1e-6;
// Below this length a direction, wire normal or facet normal is degenerate.
inline constexpr double DEGENERATE_LENGTH = 1e-9;
// Grid scale used by the weld when the tolerance is not positive (cell 1e-9).
inline constexpr double FALLBACK_WELD_SCALE = 1e9;
// A mesh vertex this close to the line of an unpaired edge (and strictly
// between its ends) is a T-junction on it: one cell of the writers' weld.
// The boolean splits put such vertices on the line to within rounding, and
// the weld keeps the first vertex of a cell where it is; the wide tolerance
// below, taken for every edge, was measured to take the near corners of
// slivers for split points and to leave more edges unpaired.
inline constexpr double EDGE_SPLIT_TOLERANCE = 1e-7;
// The tolerance for the edges whose pieces still do not pair with the one
// above: twice the boolean weld's largest move (a cell diagonal,
// sqrt(3) x 1e-6), rounded up. Meshes read from single-precision files
// have vertices a few 1e-7 off the edges they split.
inline constexpr double EDGE_SPLIT_WIDE_TOLERANCE = 4e-6;
// simplify: corners in one cell of this grid are one corner (rounding
// leaves such twins where pieces of a boolean meet).
inline constexpr double SIMPLIFY_MERGE_TOLERANCE = 1e-8;
// simplify: ends of unpaired edges closer than this are copies of one
// corner left in neighbouring weld cells, and are merged: four times the
// tight edge-split tolerance, where the edge splits stop looking for split
// points next to an edge's end.
inline constexpr double SIMPLIFY_TWIN_DISTANCE = 4e-7;
// simplify: after the edge splits, ends of edges that still do not pair
// and lie this close to each other are one corner: clusters that a
// single-precision part leaves at 1,000 units, where no split rule can tell
// which vertex lies on which edge. The boolean weld's largest move rounded
// up, and the most any vertex moves.
inline constexpr double SIMPLIFY_GAP_DISTANCE = 2e-6;
// simplify: a triangle joins a plane region when its corners are this close
// to the region's plane, and a boundary vertex is dropped when the boundary
// through it is this straight. Pieces of one face of a boolean lie on its
// plane to within rounding; 1e-6 was measured to merge less well and to
// move volumes by 1e-9 relative on curved solids.
inline constexpr double SIMPLIFY_PLANE_TOLERANCE = 1e-7;
// simplify: the highest sliver that is taken away as a flap (a weld-made
// sliver on an edge whose removal pairs its three edges). Half the boolean
// weld's largest move: no surface point moves further than this.
inline constexpr double SIMPLIFY_FLAP_HEIGHT = 1e-6;
// Half-thickness of the BSP classification slab around a plane.
inline constexpr double PLANE_EPSILON = 1e-7;
// A BSP triangle whose unnormalised normal is shorter than this is dropped;
// also the radius at or below which a cone end gets no cap.
inline constexpr double MIN_NORMAL_LENGTH = 1e-12;
// An edge crossing is computed only when |n . (vj - vi)| exceeds this.
inline constexpr double SPLIT_DENOMINATOR_EPSILON = 1e-18;
// A revolution angle this close to a full turn counts as one.
inline constexpr double FULL_TURN_TOLERANCE = 1e-6;
// A convex candidate ear whose barycentric determinant is below this in
// magnitude is cut without testing other points against it.
inline constexpr double EAR_DETERMINANT_EPSILON = 1e-18;
// Barycentric slack of the ear containment test: points on an ear's edges
// and up to this far outside count as inside.
inline constexpr double EAR_CONTAINMENT_TOLERANCE = 1e-12;

// Safety margins of the skipping engine's skip bounds: a group of planes is
// skipped only when its conservative distance bound clears PLANE_EPSILON by
// RELATIVE x (sum of the magnitudes involved) + ABSOLUTE. The relative part
// is about 10^4 times the worst rounding of the classification and of the
// bound itself; the absolute part covers underflow.
inline constexpr double SKIP_RELATIVE_SLACK = 1e-12;
inline constexpr double SKIP_ABSOLUTE_SLACK = 1e-300;
// The skipping engine widens every proof made for a polygon (its bounding
// sphere and its corners) by SKIP_RESUME_PAD (|c|_1 + r), which bounds every
// coordinate of the polygon times SKIP_RESUME_PAD, so that the proof also
// holds for the pieces later cut from it. A crossing point that
// split_spanning computes with a parameter in [0, 1] lies within
// 9u (|c|_1 + r) < 1e-15 (|c|_1 + r) of its edge: e = vj - vi, e s and
// vi + e s round by u each, relative to |vj - vi| <= 2 max|v| and to |p|.
// A piece at most SKIP_RESUME_GEN_MAX - 1 splits after the proof therefore
// lies within 3.2e-14 (|c|_1 + r) of the hull of the polygon that made it,
// well inside the widening, and the proof holds for it: the distances are
// affine, so a bound proven for every point of the widened sphere, or of
// the balls around the corners, holds (with the rounding margin of each,
// 4u (|n||x| + |w|), which is subadditive) on their convex hull.
inline constexpr double SKIP_RESUME_PAD = 1e-13;
inline constexpr unsigned SKIP_RESUME_GEN_MAX = 32;

inline constexpr double PI = 3.141592653589793;
inline constexpr double TWO_PI = 6.283185307179586;

}  // namespace quorvalind::gp
