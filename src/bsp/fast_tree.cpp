#include "bsp/fast_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "bsp/csg.h"
#include "bsp/reuse.h"
#include "gp/tolerances.h"

// Why the skipping engine gives the literal engine's results
// ----------------------------------------------------------
// Every decision of the literal engine is the class of one polygon against
// one node's plane (classify, with the own-plane rule), followed by a split
// or by a move into a list. This engine makes the same decisions, with
// the same arithmetic (PlaneTest, split_spanning), on the same pieces; it
// differs in six ways only:
//
// 1. One polygon at a time. build and clip_polygons treat the polygons of a
//    list independently: a polygon's fate at a node depends only on the
//    node's plane and on the polygon. So each polygon (and each piece cut
//    from it) can walk the tree on its own, provided the node planes and the
//    list orders are the literal ones:
//    - build: a node's plane is that of the first polygon of the first list
//      that reaches it, i.e. the piece of the lowest input position that
//      gets there. Inserting the inputs one after another, each completely
//      before the next, the first piece to arrive at a missing child is that
//      one, so every node gets the same plane and every later piece meets
//      the same planes. A node's polygons gain, per build call, its cf in
//      arrival (input) order, then its cb in arrival order: cf pieces are
//      appended as they arrive, cb pieces are held until the call ends.
//    - clip_polygons: the output is front subtree's before back subtree's,
//      and a list that reaches a missing front child is emitted there as
//      f + cf. So pieces are ordered by (a) the pre-order position, front
//      before back, of the node where they are emitted; (b) then by their
//      sides along the path read from the emitting node up to the root,
//      a plain FRONT/BACK side before a COPLANAR one at the first node from
//      the bottom where two paths differ in that respect; (c) then by input
//      position (one input has at most one piece in any list). The fast
//      clip records (a) to (c) for every emitted piece and sorts by them.
//
// 2. Skipping runs of nodes. A chain is a maximal run of nodes linked by
//    back children (or by front children). If every vertex of a polygon is
//    at a computed distance below -PLANE_EPSILON from every plane of a run
//    of a back chain, and none of those planes is bit for bit the polygon's
//    own plane, then the literal engine classifies it BACK at each of them
//    and moves it whole to the next, unchanged: skipping the run leaves the
//    piece, its path sides (all plain BACK) and its destination as they
//    were. Likewise for FRONT along front chains. A chain's planes are split
//    into runs by normal direction, and groups of 4^k consecutive members
//    of a run keep a bound (see Bound). The walk classifies, in chain
//    order, exactly the positions whose group did not prove the side, up to
//    the first that does not give the side; so every position it passes
//    was either classified or proven. A group proves its side only when
//    the bound does so for the polygon's bounding sphere with a
//    margin (SKIP_RELATIVE_SLACK, SKIP_ABSOLUTE_SLACK) far above the
//    rounding of the classification and of the bound itself. Non-finite
//    planes or polygons never pass (their bounds are marked or compare
//    false). The own-plane rule is honoured exactly: every plane carries an
//    id, equal ids exactly for bit-equal planes, and a skip stops before the
//    first node of the chain whose plane has the polygon's id.
//    Long chains also keep a spatial index (Hier): a binary tree over the
//    chain's members split by normal, place and chain position, each group
//    with its bound. It is searched depth first, nearer positions first, for the
//    least position at or after the piece's that is neither proven nor
//    classified on the chain's side, below the own-plane node; proofs come
//    from the same Bound, and every position below the answer was proven
//    or classified, exactly as with the runs. A bound may prove a side for
//    the polygon's bounding sphere or for each of its corners: the corners
//    are the only points classified. Both are widened a little (RESUME_PAD)
//    and the corners are tried only when the sphere nearly succeeded;
//    neither changes what a proof means. In a leaf, a member's plane alone
//    may prove the side for the sphere (SphereTest) before it is
//    classified: a group of one.
//
//    A fresh tree's back chain from the root is indexed ahead of time over
//    the inputs that may become its members (FastEngine::plan); a search
//    passes over those that have not.
//
//    A piece cut at the node an index search found goes on from the groups
//    that search left open (Resume): it lies on the searched polygon up to
//    the rounding of its new corners, which the proofs' widening covers
//    (RESUME_PAD), so every group proven for the polygon is proven for it.
//
// 3. Repeated searches. A polygon keeps where its last index search ended
//    (LastSearch). Its vertices never change while it lives (invert only
//    reverses their order, and a class is the OR of its vertices'), and
//    neither does a chain position's plane within a tree epoch. So when it
//    searches the same chain from the same position again, every position
//    before the old answer has the same class as before, the chain's
//    side, unless the own-plane rule changed there: a node with the
//    polygon's old or new plane id. With no such node the old answer is
//    the answer again if its class, computed now, is not the chain's side.
//    Otherwise the old answer is only classified first, which may bound
//    the search sooner and changes nothing else. A search that found no
//    answer keeps the chain's length then: searched again, those nodes are
//    on the chain's side as before (same proviso), and the walk goes on at
//    the nodes appended since, if any.
//
// 4. Repeated clips. A polygon clipped whole by a tree, never split and
//    never COPLANAR on its way, records the node in front of which it was
//    emitted (WholeExit). Clipped by the same tree again (same epoch, same
//    node count: the same planes and links), it meets the same planes with
//    the same vertices (invert only reverses their order and negates its
//    plane), so each class, the OR of its vertices' classes, is FRONT or
//    BACK as before, unless the own-plane rule makes it COPLANAR at a node
//    with its present plane id; the previous walk had none with its id
//    then, or it would have been COPLANAR there. So when no node on the
//    path from the root to the recorded node has its present id, the walk
//    takes the same sides to the same place and the polygon is emitted
//    there with no COPLANAR sides, as the walk would emit it; the clip
//    after an invert (B.clip_to(A) twice) re-walks only the pieces that
//    were cut or COPLANAR.
//    A piece cut on its way down the root's back chain and emitted in
//    front of a node of it keeps the list of the nodes on its way that a
//    walk classified (for it or for a polygon it was cut from, at most
//    RESUME_GEN_MAX - 1 splits before, every split with its crossing
//    points on the edges) rather than proved: the nodes where it was cut
//    and the leaf members the searches tried. Every other node on the way
//    was proven back for a polygon it lies on with the widening that
//    covers the piece (RESUME_PAD), so it is back of them too. Clipped by
//    the same tree again, with no node on the way with its present id, it
//    takes the same way when each listed node classifies it BACK and the
//    exit node FRONT: only those are classified (Lineage, replays). A node
//    where the classifying walk found every vertex behind by more than
//    PLANE_EPSILON and the widening is not listed (deep_back): the piece,
//    within the widening of that polygon's hull, is BACK there as well.
//
// 5. Corner lists. An operand's inputs, inserted whole into a fresh tree,
//    find where they leave its root chain from lists kept per corner point
//    of the planes that do not have the point strictly behind (see
//    CornerLists): a polygon's class is the OR of its corners' classes, so
//    it is BACK at every plane that lists none of its corners, and only
//    the listed ones are classified.
//
// 6. Storage. Nodes live in one vector (links are indices), so destruction
//    never recurses; polygons carry their id and bounding sphere next to the
//    literal record; an index keeps copies of its leaves' planes, negated
//    with the nodes'. A chain of at most short_chain nodes is walked by the
//    child links, node by node as the literal walk goes. None of this
//    takes part in a decision.
//
// The stop flag is polled once per polygon of every build and clip and
// once per node in invert and the tree copies, as often as in the literal
// engine's walks or more.

namespace quorvalind::bsp {

namespace {

// The allocator of the arrays that grow to MBs in every operation (the
// nodes, the chains, the polygon lists): their large blocks are left to
// the next operation (bsp/reuse) instead of being given back to the system
// and faulted in again page by page.
template <class T>
struct KeptAlloc {
  using value_type = T;
  KeptAlloc() = default;
  template <class U>
  KeptAlloc(const KeptAlloc<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < reuse::BLOCK_MIN_BYTES) return std::allocator<T>().allocate(n);
    const std::size_t cls = reuse::block_class(bytes);
    void* p = reuse::take_block(cls);
    if (p == nullptr) p = std::aligned_alloc(64, cls);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < reuse::BLOCK_MIN_BYTES) {
      std::allocator<T>().deallocate(p, n);
      return;
    }
    const std::size_t cls = reuse::block_class(bytes);
    if (!reuse::keep_block(p, cls)) std::free(p);
  }
  template <class U>
  bool operator==(const KeptAlloc<U>&) const noexcept {
    return true;
  }
};
template <class T>
using KeptVector = std::vector<T, KeptAlloc<T>>;

constexpr int FRONT_SIDE = 0;
constexpr int BACK_SIDE = 1;
constexpr std::uint32_t NONE = 0xffffffffu;
constexpr unsigned GROUP_SHIFT = 2;  // groups of 4, 16, 64, ... run members
// The lengths of set_skip_tuning: chains with at most short_chain nodes
// left are walked node by node (the classification is cheaper than setting
// up the proofs), and chains of index_min nodes and more get a spatial
// index. Written only by tests, before any operation starts.
SkipTuning g_tuning{128, 256};

// Every proof is made for the polygon's sphere and corners widened by
// RESUME_PAD (|c|_1 + r), which bounds every coordinate of the polygon
// times RESUME_PAD. A crossing point that split_spanning computes with a
// parameter in [0, 1] lies within 9u (|c|_1 + r) < 1e-15 (|c|_1 + r) of
// its edge: e = vj - vi, e s and vi + e s round by u each, relative to
// |vj - vi| <= 2 max|v| and to |p|. A piece that goes on with a search at
// most RESUME_GEN_MAX - 1 splits after it began therefore lies within
// 3.2e-14 (|c|_1 + r) of the hull of the polygon that made a proof, well
// inside the widening, and the proof holds for it: the distances are
// affine, so a bound proven for every point of the widened sphere, or of
// the balls around the corners, holds (with the rounding margin of each,
// 4u (|n||x| + |w|), which is subadditive) on their convex hull.
constexpr double RESUME_PAD = 1e-13;
constexpr std::uint32_t RESUME_GEN_MAX = 32;

struct Tree;

// A polygon's last index search: of chain `chain` on `side` of `tree`, at
// the tree's `epoch`, from position `from`, with the polygon's plane id
// `id`; its answer was `pos`. See follow_chain.
struct LastSearch {
  const Tree* tree = nullptr;
  std::uint32_t chain = NONE;
  std::uint8_t side = 0;
  // No answer: the polygon was on `side` of all of the chain's `pos`
  // nodes from `from` on.
  bool past_end = false;
  std::uint32_t epoch = 0, from = 0, pos = 0, id = 0;
};

// Where a polygon left a tree whole: clipped by `tree` (at `epoch`, with
// `nodes` nodes) from the root without a split and without a COPLANAR
// class, it was emitted in front of `node`. See "Repeated clips" above.
struct WholeExit {
  const Tree* tree = nullptr;
  std::uint32_t epoch = 0, nodes = 0, node = 0;
  // A piece (see "Repeated clips" above): the nodes FastEngine::replay_nodes
  // [first, +count) are classified again, and so is `node`.
  bool piece = false;
  std::uint32_t first = 0, count = 0;
};

struct FPoly;
using FList = KeptVector<FPoly>;

struct FPoly {
  Polygon p;
  Pnt c;     // bounding sphere: every vertex within r of c (up to rounding)
  double r;  // NaN when a coordinate is not finite: such a polygon is never skipped
  std::uint32_t id;
  LastSearch last;  // none for a new piece
  WholeExit exit;   // none for a new piece
};

inline bool finite(double x) { return std::isfinite(x); }
inline double length(const Pnt& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

// A sphere about n points: every point within r of c, up to rounding; r
// is NaN when a coordinate is not finite.
void sphere_of(const Pnt* v, std::uint32_t n, Pnt& c, double& r) {
  if (n == 0) {
    c = {0, 0, 0};
    r = std::nan("");
    return;
  }
  Pnt lo = v[0], hi = v[0];
  // x * 0 is a zero for finite x and NaN otherwise: z is a zero exactly
  // when every coordinate is finite.
  double z = (v[0].x * 0.0 + v[0].y * 0.0) + v[0].z * 0.0;
  for (std::uint32_t i = 1; i < n; ++i) {
    lo = {std::min(lo.x, v[i].x), std::min(lo.y, v[i].y), std::min(lo.z, v[i].z)};
    hi = {std::max(hi.x, v[i].x), std::max(hi.y, v[i].y), std::max(hi.z, v[i].z)};
    z += (v[i].x * 0.0 + v[i].y * 0.0) + v[i].z * 0.0;
  }
  if (z != 0.0) {
    c = {0, 0, 0};
    r = std::nan("");
    return;
  }
  c = {lo.x * 0.5 + hi.x * 0.5, lo.y * 0.5 + hi.y * 0.5, lo.z * 0.5 + hi.z * 0.5};
  // One root of the largest square: sqrt is correctly rounded, hence
  // monotone, so this is the largest of the lengths, to the bit.
  double rr = 0.0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const Pnt d = gp::sub(v[i], c);
    rr = std::max(rr, d.x * d.x + d.y * d.y + d.z * d.z);
  }
  r = std::sqrt(rr);
}

void set_sphere(FPoly& q) { sphere_of(q.p.vertices, q.p.count, q.c, q.r); }

// Canonical plane ids (PlaneIds: equal exactly for bit-equal planes). Every
// plane the sequences ever see is an operand polygon's plane or its
// negation, so all ids are made up front.
class OperandPlaneIds {
 public:
  void reserve(std::size_t expected) { ids_.reserve(expected); }
  std::uint32_t intern(const Plane& p) { return ids_.intern(p); }
  // Ids of the negations; negating twice restores every bit.
  void close_under_negation() {
    for (std::uint32_t i = 0; i < ids_.size(); ++i) neg_.push_back(ids_.intern(negated(ids_.plane(i))));
  }
  std::uint32_t neg(std::uint32_t id) const { return neg_[id]; }
  std::size_t size() const { return ids_.size(); }

 private:
  PlaneIds ids_;
  std::vector<std::uint32_t> neg_;
};

// Bound over a group of planes (n_k, w_k), relative to the group's
// reference point O (the middle of the polygon that made its first node),
// with h_k = n_k . O - w_k, a = the first normal, delta_k = n_k - a,
// rho = max |delta_k|, nmax = max |n_k|. For a vertex v within r of c, with
// d = c - O split as d = (a . d) a + e (e perpendicular to a):
//   n_k . v - w_k = n_k . d + h_k + n_k . (v - c)
//   n_k . d = a . d + delta_k . e + (a . d)(a . delta_k)
// and for unit normals a . delta_k = -|delta_k|^2 / 2. A curved group's
// offsets fall off with |delta_k|^2 (tangent-like planes of a convex patch
// lie below the first plane at O by about R |delta_k|^2 / 2), so the group
// keeps, for curvatures kb, kf >= 0 chosen from its first members,
//   hb = max (h_k + kb |delta_k|^2),  hf = min (h_k - kf |delta_k|^2),
// whence, with G(E, c) = max over |x| <= rho of (x E - c x^2),
//   n_k . d + h_k <= a . d + hb + G(|e|, kb + (a . d) / 2)
//   n_k . d + h_k >= a . d + hf - G(|e|, kf - (a . d) / 2).
// Any kb, kf >= 0 give valid bounds (kb = kf = 0 is the plain cone bound);
// fitting them to the surface lets a group prove a side for points just
// beyond its own patch rather than only for points twice as far. Normals
// are unit only up to rounding; the difference is far inside the margin.
struct Bound {
  Pnt o, a;
  double o1 = 0;  // |O|, as the sum of the absolute coordinates
  double rho = 0, hmax = 0, hmin = 0, nmax = 0, wmax = 0;
  double kb = 0, kf = 0, hb = 0, hf = 0;
  // The magnitudes of the group in the rounding margin: the offsets, the
  // curvature terms, |n| |O| and |w|.
  double sconst = 0;
  // rho^2, 1 + rho^2 and nmax + rho, as proves_point would compute them.
  double rr = 0, one_rr = 1, nrho = 0;
  bool curved = false;  // kb and kf chosen (at the first member off a)
  bool ok = false;  // every number of every plane, and O, finite
};

// The bound of the negated planes: h_k, a and delta_k change sign.
void set_sconst(Bound& b) {
  b.sconst = std::max(std::max(std::fabs(b.hmax), std::fabs(b.hmin)),
                      std::max(std::fabs(b.hb), std::fabs(b.hf))) +
             (b.kb + b.kf) * b.rho * b.rho + b.nmax * b.o1 + b.wmax;
  b.rr = b.rho * b.rho;
  b.one_rr = 1.0 + b.rr;
  b.nrho = b.nmax + b.rho;
}

void negate(Bound& b) {
  b.a = {-b.a.x, -b.a.y, -b.a.z};
  const double hmax = b.hmax;
  b.hmax = -b.hmin;
  b.hmin = -hmax;
  const double hb = b.hb;
  b.hb = -b.hf;
  b.hf = -hb;
  std::swap(b.kb, b.kf);
}

// max over 0 <= x <= rho of (x E - c x^2), for E >= 0.
inline double curve_gain(double e, double c, double rho) {
  if (c > 0 && e <= 2.0 * c * rho) return e * e / (4.0 * c);
  return rho * e - c * rho * rho;
}

// A polygon's bounding sphere and its corners, each widened by `pad` (see
// Resume): the sphere has radius r + pad, and each corner is a ball of
// radius pad.
struct Probe {
  Pnt c;
  double c1, r;  // |c| as the sum of absolute coordinates
  double pad;
  const Pnt* v;
  std::uint32_t n;
};

// Bound of n_k . p - w_k over the group for the points p within r of c.
// Returns
// NOT_PROVEN unless the bound proves every such distance beyond
// PLANE_EPSILON on `side`, the computed distances included: they differ
// from the real ones by at most about 4u (|n||p| + |w|), and the bound's
// own rounding (of r, rho, e, h_k, and the normals' departure from unit
// length) is of the order u times the magnitudes summed in s; the margin
// is 10^4 times larger. NaN anywhere makes the comparisons false. NEAR
// (a hint only) says that the bound falls short by less than `reach`.
enum Proof { NOT_PROVEN, NEAR, PROVEN };
inline Proof proves_point(const Bound& b, int side, const Pnt& c, double c1, double r,
                          double reach) {
  const Pnt d = gp::sub(c, b.o);
  const double ad = gp::dot(b.a, d);
  // Both sides as "value + gain < -PLANE_EPSILON - slack": the front side
  // on the negated distances.
  double base, c2;
  if (side == BACK_SIDE) {
    base = ad + b.hb + r * b.nmax;
    c2 = b.kb + 0.5 * ad;
  } else {
    base = -(ad + b.hf) + r * b.nmax;
    c2 = b.kf - 0.5 * ad;
  }
  if (!(base < -gp::PLANE_EPSILON)) {  // the gain and the slack are >= 0
    return base < -gp::PLANE_EPSILON + reach ? NEAR : NOT_PROVEN;
  }
  const Pnt e{d.x - ad * b.a.x, d.y - ad * b.a.y, d.z - ad * b.a.z};
  const double ee = gp::dot(e, e);
  const double rr = b.rr;
  // The margin may count |base| for the gain: when the test passes,
  // 0 <= gain < -base.
  const double d1 = std::fabs(d.x) + std::fabs(d.y) + std::fabs(d.z);
  const double s = std::fabs(ad) * b.one_rr + b.nrho * d1 + b.sconst -
                   base + b.nmax * (2.0 * r + c1);
  // room must exceed the gain, max over 0 <= x <= rho of (x |e| - c2 x^2),
  // compared without a square root or a division.
  const double room = -base - gp::PLANE_EPSILON - (gp::SKIP_RELATIVE_SLACK * s + gp::SKIP_ABSOLUTE_SLACK);
  // gain = |e|^2 / (4 c2) on the first branch, rho |e| - c2 rho^2 on the other
  const bool quadratic = c2 > 0 && ee <= 4.0 * c2 * c2 * rr;
  const auto covers = [&](double room) {
    if (quadratic) return ee < 4.0 * c2 * room;
    const double rest = room + c2 * rr;
    return rest > 0 && rr * ee < rest * rest;
  };
  if (room > 0 && covers(room)) return PROVEN;
  return reach > 0 && covers(room + reach) ? NEAR : NOT_PROVEN;
}

// The sphere proves a far group at once; near the group, where a sphere as
// wide as the polygon cannot, its corners (the only points classified) are
// proven one by one, which is as sound: each is a point within 0 of itself.
// The corners are tried only when the sphere fell short by less than
// CORNER_REACH r |n|: they are within r of its centre, so a sphere far
// short of a proof leaves them little chance (which corners are tried
// changes no result).
constexpr std::uint32_t CORNER_PROOF_MAX = 8;
constexpr double CORNER_REACH = 1.0;
inline bool proves_side(const Bound& b, int side, const Probe& q) {
  if (!b.ok) return false;
  const Proof sphere =
      proves_point(b, side, q.c, q.c1, q.r + q.pad, CORNER_REACH * q.r * b.nmax);
  if (sphere == PROVEN) return true;
  // A NEAR sphere is proven only through corners: a probe without any
  // (a bare point, r = 0, which is never NEAR) has nothing more to try.
  if (sphere == NOT_PROVEN || q.n == 0 || q.n > CORNER_PROOF_MAX) return false;
  for (std::uint32_t i = 0; i < q.n; ++i) {
    const Pnt& v = q.v[i];
    if (proves_point(b, side, v, std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z), q.pad, 0.0) !=
        PROVEN) {
      return false;
    }
  }
  return true;
}

// One plane against the probe's sphere: true when every point within
// r + pad of c is beyond PLANE_EPSILON on `side` of the plane, the computed
// distances included, for a plane whose normal is at most nmax long.
// The centre's distance is computed as the classification computes a
// vertex's; both round by at most 4u (|n| |x|_1 + |w|), and the margin is
// 10^4 times that. NaN anywhere makes the comparison false. The terms that
// do not depend on the plane are summed once per leaf (SphereTest): the
// order of the sum moves the margin by a rounding, far inside its slack.
struct SphereTest {
  Pnt c;
  double reach0;  // nmax (r + pad) + slack over nmax (|c|_1 + 2 (r + pad))
  double sign;    // +1 on the back side, -1 on the front: compared as back
  SphereTest(double nmax, int side, const Probe& q) : c(q.c), sign(side == BACK_SIDE ? 1.0 : -1.0) {
    const double rr = q.r + q.pad;
    reach0 = nmax * rr + gp::SKIP_RELATIVE_SLACK * (nmax * (q.c1 + 2.0 * rr)) + gp::SKIP_ABSOLUTE_SLACK;
  }
  bool proves(const Plane& pl) const {
    const double t = plane_distance(pl, c);
    return sign * t + (reach0 + gp::SKIP_RELATIVE_SLACK * std::fabs(pl.w)) < -gp::PLANE_EPSILON;
  }
};

// A chain's planes fall into runs by the direction of their normals (the
// dominant axis and the signs of the coordinates: 24 cells, and one for
// non-finite normals), so that a group of consecutive members of a run has
// close normals whatever the order of the operand's triangles. Which run a
// plane joins affects how often its groups prove a side, never a result.
constexpr int RUN_CELLS = 25;

inline int cell_of(const Pnt& n) {
  const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  if (!(finite(ax) && finite(ay) && finite(az))) return RUN_CELLS - 1;
  double s, u, v;
  int axis;
  if (ax >= ay && ax >= az) {
    axis = 0, s = n.x, u = n.y, v = n.z;
  } else if (ay >= az) {
    axis = 1, s = n.y, u = n.z, v = n.x;
  } else {
    axis = 2, s = n.z, u = n.x, v = n.y;
  }
  return axis * 8 + (s < 0) * 4 + (u < 0) * 2 + (v < 0);
}

struct Run {
  std::vector<std::uint32_t> pos;          // chain positions of the members, increasing
  std::vector<std::vector<Bound>> levels;  // levels[l][g]: members [g, g + 1) << (l + 1)
};

// A spatial index over a long chain's first `end` members: a binary tree
// whose groups are split by normal direction and position, so that the
// groups near a polygon are small and the far ones few. Positions at and
// after `end` (members appended since the last rebuild) are found through
// the runs. Only which groups are tried depends on it, never a result.
struct HNode {
  Bound b;
  std::uint32_t minpos = 0, maxpos = 0;
  std::uint32_t child[2] = {NONE, NONE};  // both NONE for a leaf
  std::uint32_t first = 0, count = 0;     // a leaf's members: Hier::leaf_pos[first, +count)
};

struct Hier {
  std::vector<HNode> nodes;  // nodes[0] is the root when end > 0
  std::vector<std::uint32_t> leaf_pos;
  // The planes of leaf_pos, side by side: a leaf's scan reads them in
  // order instead of from nodes scattered over the tree. Copies, negated
  // with the nodes' planes by invert, so bit for bit the nodes' own.
  std::vector<Plane> leaf_plane;
  std::uint32_t end = 0;
  std::uint32_t version = 0;  // bumped by every build: a saved search is for one version
};

// Groups are split along the widest of the keys: the normal, the
// reference point and the chain position. A search wants the least
// position it cannot prove, so groups of nearby positions are dropped
// whole once it has an answer; and a planned index keeps the candidates
// not yet built apart from the members. The weight was tuned on dense
// spheres; like the leaf size, it decides only which groups are tried.
constexpr double POSITION_WEIGHT = 3.0;

// A long chain's index is rebuilt whenever the chain has grown by a
// quarter (at least a quarter of index_min) since the last build: members
// added since are found through the runs, or walked when few.
constexpr std::uint32_t HIER_LEAF = 16;

// A chain's nodes in order. Most chains of a tree that is not one convex
// chain hold one or two nodes (every node starts a chain on its other side):
// those stay inline instead of costing an allocation each.
class ChainNodes {
 public:
  std::size_t size() const { return size_; }
  std::uint32_t operator[](std::size_t k) const { return size_ <= INLINE ? inline_[k] : heap_[k]; }
  void push_back(std::uint32_t node) {
    if (size_ < INLINE) {
      inline_[size_] = node;
    } else {
      if (size_ == INLINE) heap_.assign(inline_, inline_ + INLINE);
      heap_.push_back(node);
    }
    ++size_;
  }

 private:
  static constexpr std::size_t INLINE = 2;
  std::uint32_t inline_[INLINE] = {NONE, NONE};
  std::size_t size_ = 0;
  std::vector<std::uint32_t> heap_;  // all of them, once there are more than INLINE
};

// A chain's means of skipping: made only for the few chains that grow long
// or get a plan, so that the many short chains stay small.
struct ChainIndex {
  std::vector<Run> runs;  // of the first in_runs members
  std::uint32_t in_runs = 0;
  // An index built ahead of time (FastEngine::plan) covers candidates:
  // planned[u] is the plane id of candidate u, and the members are some
  // of them, in order: member k is candidate u_of_pos[k], candidate u is
  // member pos_of_u[u] (NONE for the others). Empty when the index covers
  // the present members, whose positions are then its own.
  std::vector<std::uint32_t> planned, u_of_pos, pos_of_u;
  Hier hier;
  std::int8_t run_of_cell[RUN_CELLS];
  ChainIndex() { std::fill(std::begin(run_of_cell), std::end(run_of_cell), std::int8_t{-1}); }
};

struct Chain {
  ChainNodes nodes;  // nodes[k + 1] is the chain-side child of nodes[k]
  std::unique_ptr<ChainIndex> index;
  // The index, or an empty one when the chain has none.
  const ChainIndex& ix() const {
    static const ChainIndex none;
    return index ? *index : none;
  }
  ChainIndex& mx() {
    if (!index) index = std::make_unique<ChainIndex>();
    return *index;
  }
};

// What a walk reads comes first, within one cache line: a step along a
// short chain touches nothing else of the node (see follow_chain).
struct alignas(64) FNode {
  Plane plane{};
  std::uint32_t child[2] = {NONE, NONE};  // [FRONT_SIDE], [BACK_SIDE]
  std::uint32_t chain[2] = {NONE, NONE};  // the front chain and the back chain holding it
  std::uint32_t pos[2] = {0, 0};
  std::uint32_t id = NONE;
  bool has_plane = false;
  // The chain on each side has more than short_chain nodes: only such a
  // chain is searched rather than walked link by link.
  bool long_chain[2] = {false, false};
  std::uint32_t next_same_id = NONE;  // next node with the same plane id
  FList polygons;
  Pnt ref{0, 0, 0};  // the middle of the polygon that gave the plane
};

struct Tree {
  KeptVector<FNode> nodes;           // nodes[0] is the root
  KeptVector<Chain> chains[2];       // chains[side]: runs linked by `side` children
  std::vector<std::uint32_t> id_head; // per plane id: first node with that plane
  // Pre-order (front before back) positions and depths, for clip order;
  // node m lies in n's subtree exactly when pre[n] <= pre[m] < pre_end[n].
  std::vector<std::uint32_t> pre, depth, pre_end;
  bool order_valid = false;
  // Bumped by invert. Within one epoch a chain position keeps its node
  // and plane: chains only grow at their ends.
  std::uint32_t epoch = 0;
  std::uint32_t candidate = NONE;  // the input being built, for a planned index
};

// Adds a plane to a group; a fresh group takes `ref` as its O.
void add_to_bound(Bound& b, bool fresh, const Plane& p, const Pnt& ref) {
  if (fresh) {
    b.o = ref;
    b.o1 = std::fabs(ref.x) + std::fabs(ref.y) + std::fabs(ref.z);
    b.a = p.normal;
  }
  const double h = gp::dot(p.normal, b.o) - p.w;
  const double nl = length(p.normal);
  const bool ok = finite(p.normal.x) && finite(p.normal.y) && finite(p.normal.z) && finite(p.w) &&
                  finite(h) && finite(nl) && finite(b.o1);
  if (fresh) {
    b.rho = 0;
    b.hmax = b.hmin = b.hb = b.hf = h;
    b.kb = b.kf = 0;
    b.curved = false;
    b.nmax = nl;
    b.wmax = std::fabs(p.w);
    b.ok = ok;
    set_sconst(b);
    return;
  }
  if (!ok) b.ok = false;
  if (!b.ok) return;
  const Pnt delta = gp::sub(p.normal, b.a);
  const double dd = gp::dot(delta, delta);
  if (!b.curved && dd > 1e-12) {
    // Fitted to this member, so that it adds nothing to hb or hf; hmax and
    // hmin are still those of the members before it.
    b.kb = std::max(0.0, (b.hmax - h) / dd);
    b.kf = std::max(0.0, (h - b.hmin) / dd);
    if (!(finite(b.kb) && finite(b.kf))) b.kb = b.kf = 0;
    b.curved = true;
  }
  b.rho = std::max(b.rho, std::sqrt(dd));
  b.hmax = std::max(b.hmax, h);
  b.hmin = std::min(b.hmin, h);
  b.hb = std::max(b.hb, h + b.kb * dd);
  b.hf = std::min(b.hf, h - b.kf * dd);
  b.nmax = std::max(b.nmax, nl);
  b.wmax = std::max(b.wmax, std::fabs(p.w));
  set_sconst(b);
}

// The bound of members `idx` of chain `ch`, taken about the member nearest
// their mean key (so that O and a are central), with the curvatures fitted
// so that hb = hmax and hf = hmin whenever that is possible.
// The plane and reference point of each chain member, gathered once per
// index build from the scattered nodes.
struct Member {
  Plane plane;
  Pnt ref;
};

Bound group_bound(const Member* mem, const std::uint32_t* idx, std::size_t n,
                  const std::array<double, 6>* key, std::vector<double>& dds,
                  std::vector<double>& hs) {
  double mean[6] = {0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < n; ++i)
    for (int j = 0; j < 6; ++j) mean[j] += key[idx[i]][j];
  for (double& m : mean) m /= static_cast<double>(n);
  std::size_t centre = 0;
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < n; ++i) {
    double d2 = 0;
    for (int j = 0; j < 6; ++j) d2 += (key[idx[i]][j] - mean[j]) * (key[idx[i]][j] - mean[j]);
    if (d2 < best) best = d2, centre = i;
  }
  const auto node_of = [&](std::size_t i) -> const Member& { return mem[idx[i]]; };
  Bound b;
  add_to_bound(b, true, node_of(centre).plane, node_of(centre).ref);
  if (!b.ok) return b;
  // One pass gathers each member's offset and normal departure, and the
  // extremes (the largest length from the largest square: sqrt is
  // monotone, so the same to the bit as the largest of the roots).
  dds.resize(n);
  hs.resize(n);
  bool ok = true;
  double dd_max = 0, nn_max = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Plane& pl = node_of(i).plane;
    const double h = gp::dot(pl.normal, b.o) - pl.w;
    const double nn = pl.normal.x * pl.normal.x + pl.normal.y * pl.normal.y + pl.normal.z * pl.normal.z;
    ok = ok && finite(pl.normal.x) && finite(pl.normal.y) && finite(pl.normal.z) && finite(pl.w) &&
         finite(h) && finite(nn);
    const Pnt delta = gp::sub(pl.normal, b.a);
    const double dd = gp::dot(delta, delta);
    dds[i] = dd;
    hs[i] = h;
    dd_max = std::max(dd_max, dd);
    nn_max = std::max(nn_max, nn);
    b.hmax = std::max(b.hmax, h);
    b.hmin = std::min(b.hmin, h);
    b.wmax = std::max(b.wmax, std::fabs(pl.w));
  }
  if (!ok) {
    b.ok = false;
    return b;
  }
  b.rho = std::sqrt(dd_max);
  b.nmax = std::sqrt(nn_max);
  double kb = std::numeric_limits<double>::infinity(), kf = kb;
  for (std::size_t i = 0; i < n; ++i) {
    const double dd = dds[i];
    if (!(dd > 1e-12)) continue;
    kb = std::min(kb, (b.hmax - hs[i]) / dd);
    kf = std::min(kf, (hs[i] - b.hmin) / dd);
  }
  b.kb = finite(kb) ? std::max(0.0, kb) : 0.0;
  b.kf = finite(kf) ? std::max(0.0, kf) : 0.0;
  b.curved = true;
  b.hb = b.hmax;
  b.hf = b.hmin;
  for (std::size_t i = 0; i < n; ++i) {
    b.hb = std::max(b.hb, hs[i] + b.kb * dds[i]);
    b.hf = std::min(b.hf, hs[i] - b.kf * dds[i]);
  }
  if (!(finite(b.hb) && finite(b.hf))) b.ok = false;
  set_sconst(b);
  return b;
}

// The index over members mem[0, n) of a chain: its present members, or
// (planned) the planes its members are expected to have.
void build_hier(Chain& ch, const std::vector<Member>& mem) {
  Hier& h = ch.mx().hier;
  const std::uint32_t n = static_cast<std::uint32_t>(mem.size());
  h.nodes.clear();
  h.leaf_pos.clear();
  h.leaf_plane.clear();
  h.end = n;
  ++h.version;
  // Keys: the normal, and the reference point scaled to the same range.
  std::vector<std::array<double, 6>> key(n);
  Pnt lo{0, 0, 0}, hi{0, 0, 0};
  bool any = false;
  for (std::uint32_t k = 0; k < n; ++k) {
    const Pnt& r = mem[k].ref;
    if (!(finite(r.x) && finite(r.y) && finite(r.z))) continue;
    if (!any) lo = hi = r, any = true;
    lo = {std::min(lo.x, r.x), std::min(lo.y, r.y), std::min(lo.z, r.z)};
    hi = {std::max(hi.x, r.x), std::max(hi.y, r.y), std::max(hi.z, r.z)};
  }
  double extent = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  const double inv = extent > 0 && finite(extent) ? 2.0 / extent : 0.0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const Member& m = mem[k];
    const double v[6] = {m.plane.normal.x, m.plane.normal.y, m.plane.normal.z,
                         (m.ref.x - lo.x) * inv, (m.ref.y - lo.y) * inv, (m.ref.z - lo.z) * inv};
    for (int j = 0; j < 6; ++j) key[k][j] = finite(v[j]) ? v[j] : 0.0;
  }
  std::vector<std::uint32_t> idx(n);
  for (std::uint32_t k = 0; k < n; ++k) idx[k] = k;
  std::vector<double> dds, hs;
  std::vector<std::pair<double, std::uint32_t>> split;
  struct Task {
    std::uint32_t lo, hi, node;
  };
  std::vector<Task> todo;
  h.nodes.emplace_back();
  todo.push_back({0, n, 0});
  while (!todo.empty()) {
    const Task tk = todo.back();
    todo.pop_back();
    HNode& hn = h.nodes[tk.node];
    hn.b = group_bound(mem.data(), idx.data() + tk.lo, tk.hi - tk.lo, key.data(), dds, hs);
    hn.minpos = *std::min_element(idx.begin() + tk.lo, idx.begin() + tk.hi);
    hn.maxpos = *std::max_element(idx.begin() + tk.lo, idx.begin() + tk.hi);
    if (tk.hi - tk.lo <= HIER_LEAF) {
      std::sort(idx.begin() + tk.lo, idx.begin() + tk.hi);
      hn.first = static_cast<std::uint32_t>(h.leaf_pos.size());
      hn.count = tk.hi - tk.lo;
      h.leaf_pos.insert(h.leaf_pos.end(), idx.begin() + tk.lo, idx.begin() + tk.hi);
      for (std::uint32_t i = tk.lo; i < tk.hi; ++i) h.leaf_plane.push_back(mem[idx[i]].plane);
      continue;
    }
    double klo[6], khi[6];
    for (int j = 0; j < 6; ++j) klo[j] = khi[j] = key[idx[tk.lo]][j];
    for (std::uint32_t i = tk.lo + 1; i < tk.hi; ++i)
      for (int j = 0; j < 6; ++j) {
        klo[j] = std::min(klo[j], key[idx[i]][j]);
        khi[j] = std::max(khi[j], key[idx[i]][j]);
      }
    int dim = 0;
    for (int j = 1; j < 6; ++j)
      if (khi[j] - klo[j] > khi[dim] - klo[dim]) dim = j;
    const std::uint32_t mid = tk.lo + (tk.hi - tk.lo) / 2;
    // The position counts as one more key, spread over [0, 2 POSITION_WEIGHT].
    const bool by_pos = 2.0 * POSITION_WEIGHT * (hn.maxpos - hn.minpos) / n > khi[dim] - klo[dim];
    // Split at the median of (key, position), with the keys side by side.
    split.clear();
    for (std::uint32_t i = tk.lo; i < tk.hi; ++i) {
      split.push_back({by_pos ? static_cast<double>(idx[i]) : key[idx[i]][dim], idx[i]});
    }
    std::nth_element(split.begin(), split.begin() + (mid - tk.lo), split.end());
    for (std::uint32_t i = tk.lo; i < tk.hi; ++i) idx[i] = split[i - tk.lo].second;
    const std::uint32_t l = static_cast<std::uint32_t>(h.nodes.size());
    h.nodes.emplace_back();
    h.nodes.emplace_back();
    h.nodes[tk.node].child[0] = l;
    h.nodes[tk.node].child[1] = l + 1;
    todo.push_back({tk.lo, mid, l});
    todo.push_back({mid, tk.hi, l + 1});
  }
}

// The index over the chain's present members; drops any plan.
void build_hier(const Tree& t, Chain& ch) {
  std::vector<Member> mem(ch.nodes.size());
  for (std::size_t k = 0; k < mem.size(); ++k) {
    const FNode& m = t.nodes[ch.nodes[k]];
    mem[k] = {m.plane, m.ref};
  }
  ChainIndex& x = ch.mx();
  x.planned.clear();
  x.u_of_pos.clear();
  x.pos_of_u.clear();
  build_hier(ch, mem);
}

// Adds chain member `pos` to the run of its normal's cell.
void run_add(const Tree& t, Chain& ch, std::uint32_t pos) {
  const FNode& n = t.nodes[ch.nodes[pos]];
  const int cell = cell_of(n.plane.normal);
  ChainIndex& x = ch.mx();
  if (x.run_of_cell[cell] < 0) {
    x.run_of_cell[cell] = static_cast<std::int8_t>(x.runs.size());
    x.runs.emplace_back();
  }
  Run& run = x.runs[static_cast<std::size_t>(x.run_of_cell[cell])];
  const std::size_t k = run.pos.size();
  run.pos.push_back(pos);
  for (std::size_t l = 0; l < run.levels.size(); ++l) {
    const std::size_t g = k >> (GROUP_SHIFT * (l + 1));
    const bool fresh = g == run.levels[l].size();
    if (fresh) run.levels[l].emplace_back();
    add_to_bound(run.levels[l][g], fresh, n.plane, n.ref);
  }
  // A new level when the run outgrows the top one; its first group is made
  // from every member so far.
  const std::size_t len = run.pos.size();
  if (run.levels.empty() || len > (std::size_t{1} << (GROUP_SHIFT * run.levels.size()))) {
    run.levels.emplace_back(1);
    Bound& b = run.levels.back()[0];
    for (std::size_t i = 0; i < len; ++i) {
      const FNode& m = t.nodes[ch.nodes[run.pos[i]]];
      add_to_bound(b, i == 0, m.plane, m.ref);
    }
  }
}

void chain_append(Tree& t, int side, std::uint32_t c, std::uint32_t node) {
  Chain& ch = t.chains[side][c];
  const std::uint32_t pos = static_cast<std::uint32_t>(ch.nodes.size());
  ch.nodes.push_back(node);
  FNode& n = t.nodes[node];
  n.chain[side] = c;
  n.pos[side] = pos;
  const std::uint32_t total = pos + 1;
  if (total > g_tuning.short_chain) {
    if (total == g_tuning.short_chain + 1) {
      for (std::size_t k = 0; k < total; ++k) t.nodes[ch.nodes[k]].long_chain[side] = true;
    } else {
      n.long_chain[side] = true;
    }
  }
  // A planned index holds while every member is the candidate being built
  // (a later one than the member before), with its plane, as each member
  // is (FastEngine::plan); should one not be, the chain gets the index of
  // its present members instead.
  if (!ch.ix().planned.empty()) {
    ChainIndex& x = ch.mx();
    const std::uint32_t u = t.candidate;
    if (u < x.planned.size() && x.planned[u] == n.id && u > x.u_of_pos.back()) {
      x.u_of_pos.push_back(u);
      x.pos_of_u[u] = pos;
      return;
    }
    build_hier(t, ch);
  }
  // A walk never skips along a chain of at most short_chain nodes, and
  // most chains stay that short: their runs are made only when they grow
  // longer, then for every member so far. (Nor are they needed while a
  // plan holds: the index covers every member.)
  if (total > g_tuning.short_chain) {
    ChainIndex& x = ch.mx();
    while (x.in_runs < total) run_add(t, ch, x.in_runs++);
  }
  const std::uint32_t end = ch.ix().hier.end;
  if (total >= g_tuning.index_min && total >= end + std::max(g_tuning.index_min / 4, end / 4)) {
    build_hier(t, ch);
  }
}

void new_chain(Tree& t, int side, std::uint32_t node) {
  t.chains[side].emplace_back();
  chain_append(t, side, static_cast<std::uint32_t>(t.chains[side].size() - 1), node);
}

// Gives node (which has just received its plane) its place in the chains
// and in the id lists; `parent` is NONE for the root.
void register_node(Tree& t, std::uint32_t node, std::uint32_t parent, int side) {
  if (parent == NONE) {
    new_chain(t, FRONT_SIDE, node);
    new_chain(t, BACK_SIDE, node);
  } else {
    chain_append(t, side, t.nodes[parent].chain[side], node);
    new_chain(t, 1 - side, node);
  }
  FNode& n = t.nodes[node];
  n.next_same_id = t.id_head[n.id];
  t.id_head[n.id] = node;
  t.order_valid = false;
}

std::uint32_t add_child(Tree& t, std::uint32_t parent, int side, const FPoly& first) {
  const std::uint32_t idx = static_cast<std::uint32_t>(t.nodes.size());
  t.nodes.emplace_back();
  t.nodes[idx].plane = first.p.plane;
  t.nodes[idx].id = first.id;
  t.nodes[idx].has_plane = true;
  t.nodes[idx].ref = first.c;
  t.nodes[parent].child[side] = idx;
  register_node(t, idx, parent, side);
  return idx;
}

Tree make_tree(std::size_t id_count) {
  Tree t;
  t.nodes.emplace_back();
  t.id_head.assign(id_count, NONE);
  return t;
}

inline Probe probe(const FPoly& q) {
  const double c1 = std::fabs(q.c.x) + std::fabs(q.c.y) + std::fabs(q.c.z);
  return {q.c, c1, q.r, RESUME_PAD * (c1 + q.r), q.p.vertices, q.p.count};
}

// First chain position at or after pos whose plane is the polygon's own.
std::uint32_t own_plane_limit(const Tree& t, int side, std::uint32_t c, std::uint32_t pos,
                              std::uint32_t id) {
  std::uint32_t limit = static_cast<std::uint32_t>(t.chains[side][c].nodes.size());
  for (std::uint32_t n = t.id_head[id]; n != NONE; n = t.nodes[n].next_same_id) {
    const FNode& node = t.nodes[n];
    if (node.chain[side] == c && node.pos[side] >= pos && node.pos[side] < limit) {
      limit = node.pos[side];
    }
  }
  return limit;
}

// True when no node at positions [p, end) of chain c has plane id `id`.
bool no_own_plane_before(const Tree& t, int side, std::uint32_t c, std::uint32_t p,
                         std::uint32_t end, std::uint32_t id) {
  for (std::uint32_t n = t.id_head[id]; n != NONE; n = t.nodes[n].next_same_id) {
    const FNode& node = t.nodes[n];
    if (node.chain[side] == c && node.pos[side] >= p && node.pos[side] < end) return false;
  }
  return true;
}

// The first member index j >= i of the run such that the polygon is
// proven on `side` of the planes of members i .. j-1. Tries the whole run
// first, then gallops up the group levels after each proven group and down
// after a failure.
std::size_t run_next(const Run& run, int side, std::size_t i, const Probe& q) {
  const std::size_t n = run.pos.size();
  if (i >= n) return n;
  const std::size_t top = run.levels.size();
  if (proves_side(run.levels[top - 1][0], side, q)) return n;
  std::size_t l = 0;
  while (i < n) {
    const unsigned shift = GROUP_SHIFT * static_cast<unsigned>(l + 1);
    const std::size_t g = i >> shift;
    if (proves_side(run.levels[l][g], side, q)) {
      i = std::min(n, (g + 1) << shift);
      if (l + 2 < top) ++l;
    } else if (l > 0) {
      --l;
    } else {
      break;
    }
  }
  return i;
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
  int side;
};

struct HeapItem {
  std::uint32_t key;   // a lower bound of the positions the item stands for
  std::uint32_t what;  // HNode index, or MEMBER | position
  bool operator>(const HeapItem& o) const { return key > o.key || (key == o.key && what > o.what); }
};
constexpr std::uint32_t MEMBER = 0x80000000u;
using Heap = std::vector<HeapItem>;

// A piece cut at chain position k from a polygon whose index search found
// k goes on down the same chain from k + 1 (the back piece of a back chain,
// the front piece of a front chain). It lies on the polygon, up to the
// rounding of its new corners, so every group the search proved for the
// polygon holds for the piece: the piece's search starts from the groups
// the polygon's left open (`frontier[first, +count)`) instead of the root.
// See RESUME_PAD for why.
struct Resume {
  std::uint32_t chain = NONE;  // NONE: start from the root
  std::uint32_t pos = 0;       // where the piece enters the chain
  std::uint32_t version = 0;   // of the chain's index
  std::uint32_t first = 0, count = 0;
  std::uint32_t gen = 0;    // searches since the last one from the root
  std::uint32_t start = 0;  // where the search that made it began
  bool past_end = false;    // the search found no answer: pos - 1 is the chain's length
};

// True when every vertex of q is behind `pl` by more than PLANE_EPSILON
// and the widening (RESUME_PAD) that covers the pieces later cut from q:
// each of them is within 3.2e-14 (|c|_1 + r) of q's hull, so its computed
// distances are below -PLANE_EPSILON too, and it is BACK there. A walk
// need not list such a node for its replays (see "Repeated clips" above).
// NaN anywhere gives false.
inline bool deep_back(const Plane& pl, const FPoly& q, int side) {
  if (side != BACK_SIDE) return false;
  const Pnt& n = pl.normal;
  const double c1 = std::fabs(q.c.x) + std::fabs(q.c.y) + std::fabs(q.c.z);
  const double n1 = std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z);
  const double limit = -gp::PLANE_EPSILON - 4.0 * RESUME_PAD * (n1 * (c1 + q.r) + std::fabs(pl.w));
  for (std::uint32_t i = 0; i < q.p.count; ++i) {
    if (!(plane_distance(pl, q.p.vertices[i]) < limit)) return false;
  }
  return true;
}

// The least position k in [p, stop) of the indexed part of the chain where
// the polygon's exact class is not `side`. A depth-first walk, nearer
// positions first, drops every group proven on `side` and every group
// that cannot hold a position below the least found so far, and
// classifies the members of the leaves it reaches; so every position below
// the answer was either proven or classified on `side`. The answer is
// classified last, so that a SPANNING class leaves its vertex classes in
// scratch. The walk starts from the root, or from `from` (groups left
// open by the search of the polygon this piece was cut from); it appends
// to `open` every group it leaves open at or after p: the leaves it
// scanned and the groups it dropped for their positions. With the groups
// it proved and the positions before p, they cover the chain's index.
// A `guess` in [p, stop) is classified first: when its class is not
// `side` it is an answer, and the walk only looks below it for a smaller
// one, which it would have to do anyway; otherwise it changes nothing.
// p, stop, guess and the index's positions are candidates when the index
// is planned (Chain::planned): candidates that are not members are
// passed over, and those from stop on are never members yet. The answer
// k_out is a chain position.
bool hier_first(const Tree& t, const Chain& ch, int side, std::uint32_t p, std::uint32_t stop,
                const Probe& pr, const FPoly& q, SplitScratch& scratch, Heap& stack,
                const Resume* from, std::uint32_t guess, std::vector<std::uint32_t>& open,
                std::uint32_t& k_out, unsigned& cls_out, std::vector<std::uint32_t>* log) {
  const ChainIndex& x = ch.ix();
  const Hier& h = x.hier;
  const unsigned side_class = side == BACK_SIDE ? BACK : FRONT;
  const std::uint32_t* pos_of = x.planned.empty() ? nullptr : x.pos_of_u.data();
  const auto plane_at = [&](std::uint32_t u) -> const Plane& {
    return t.nodes[ch.nodes[pos_of ? pos_of[u] : u]].plane;
  };
  std::uint32_t best = stop;
  unsigned best_cls = 0;
  bool last_is_best = false;
  if (guess >= p && guess < stop) {
    const unsigned cls = PlaneTest(plane_at(guess)).classify(q.p, scratch);
    if (cls != side_class) {
      best = guess;
      best_cls = cls;
      last_is_best = true;
    } else if (log && !deep_back(plane_at(guess), q, side)) {
      log->push_back(pos_of ? pos_of[guess] : guess);
    }
  }
  stack.clear();
  if (from == nullptr) {
    stack.push_back({std::max(p, h.nodes[0].minpos), 0});
  } else {
    for (std::uint32_t i = from->count; i-- > 0;) {  // the first left open is taken first
      const std::uint32_t g = open[from->first + i];
      stack.push_back({std::max(p, h.nodes[g].minpos), g});
    }
  }
  while (!stack.empty()) {
    const HeapItem it = stack.back();
    stack.pop_back();
    const HNode& hn = h.nodes[it.what];
    if (hn.maxpos < p) continue;
    if (it.key >= best) {
      open.push_back(it.what);
      continue;
    }
    if (proves_side(hn.b, side, pr)) continue;
    if (hn.child[0] == NONE) {
      open.push_back(it.what);
      const std::uint32_t* lpos = h.leaf_pos.data() + hn.first;
      const Plane* lplane = h.leaf_plane.data() + hn.first;
      std::uint32_t i = 0;
      while (i < hn.count && lpos[i] < p) ++i;  // sorted
      const bool test = hn.b.ok;
      const SphereTest st(hn.b.nmax, side, pr);
      for (; i < hn.count; ++i) {
        const std::uint32_t k = lpos[i];
        if (k >= best) break;
        if (pos_of && pos_of[k] == NONE) continue;
        if (test && st.proves(lplane[i])) continue;
        const unsigned cls = PlaneTest(lplane[i]).classify(q.p, scratch);
        last_is_best = false;
        if (cls != side_class) {
          best = k;
          best_cls = cls;
          last_is_best = true;
          break;
        }
        if (log && !deep_back(lplane[i], q, side)) log->push_back(pos_of ? pos_of[k] : k);
      }
      continue;
    }
    const HNode& l = h.nodes[hn.child[0]];
    const HNode& r = h.nodes[hn.child[1]];
    const HeapItem li{std::max(p, l.minpos), hn.child[0]}, ri{std::max(p, r.minpos), hn.child[1]};
    if (li.key <= ri.key) {
      stack.push_back(ri);
      stack.push_back(li);
    } else {
      stack.push_back(li);
      stack.push_back(ri);
    }
  }
  if (best == stop) return false;
  if (!last_is_best) PlaneTest(plane_at(best)).classify(q.p, scratch);
  k_out = pos_of ? pos_of[best] : best;
  cls_out = best_cls;
  return true;
}

// What a walk classified on its way, for the replays of a later clip (see
// "Repeated clips" above): ok when every node before the answer was
// either proven, with a widened probe, or classified to the chain's side;
// `nodes` are the latter. Kept only by the index searches and the short
// walks. `positions` is scratch.
struct SearchLog {
  bool ok = false;
  std::vector<std::uint32_t> nodes, positions;
};

// `from` is the search this piece may take up (Resume); `out` receives the
// one this call made, when its answer came from the chain's index, its
// open groups appended to `open`.
Arrival follow_chain(const Tree& t, std::uint32_t node, int side, const FPoly& q,
                     SplitScratch& scratch, Heap& heap, const Resume& from,
                     std::vector<std::uint32_t>& open, Resume& out, SearchLog* log = nullptr) {
  out.chain = NONE;
  if (log) {
    log->ok = false;
    log->nodes.clear();
  }
  const FNode& start = t.nodes[node];
  if (!start.long_chain[side]) {
    // The whole chain is short: walked by the links, as the literal walk
    // goes, from node to its child on `side` while the class is `side`.
    const unsigned side_class = side == BACK_SIDE ? BACK : FRONT;
    std::uint32_t n = node;
    while (true) {
      const FNode& at = t.nodes[n];
      const unsigned cls = PlaneTest(at.plane).classify(q.p, scratch);
      if (cls != side_class) return {n, cls, false, side};
      if (at.child[side] == NONE) return {n, cls, true, side};
      n = at.child[side];
    }
  }
  const std::uint32_t c = start.chain[side];
  const Chain& ch = t.chains[side][c];
  const std::uint32_t len = static_cast<std::uint32_t>(ch.nodes.size());
  std::uint32_t p = start.pos[side];
  const std::uint32_t p_start = p;
  const unsigned side_class = side == BACK_SIDE ? BACK : FRONT;
  const auto classify_at = [&](std::uint32_t k) {
    return PlaneTest(t.nodes[ch.nodes[k]].plane).classify(q.p, scratch);
  };
  // Node by node from position k to the first node not on `side` or past
  // the chain's end; `lg` gets the nodes on `side`.
  const auto walk_from = [&](std::uint32_t k, SearchLog* lg) -> Arrival {
    if (lg) lg->ok = true;
    while (true) {
      const unsigned cls = classify_at(k);
      if (cls != side_class) return {ch.nodes[k], cls, false, side};
      if (lg && !deep_back(t.nodes[ch.nodes[k]].plane, q, side)) lg->nodes.push_back(ch.nodes[k]);
      if (k + 1 == len) return {ch.nodes[k], cls, true, side};
      ++k;
    }
  };
  if (!(q.r == q.r) || len - p <= g_tuning.short_chain) {  // NaN: never skipped; or too short to pay
    return walk_from(p, log);
  }
  // A planned index covers every present member.
  const ChainIndex& x = ch.ix();
  const bool planned = !x.planned.empty();
  const std::uint32_t indexed = planned ? len : std::min(x.hier.end, len);
  // The same search again (see "Repeated searches" above): the nodes
  // before its answer, or all the chain had when it found none, are on
  // `side` as they were.
  const LastSearch& last = q.last;
  const bool same_chain = last.tree == &t && last.chain == c && last.side == unsigned(side);
  if (same_chain && last.epoch == t.epoch && last.from == p &&
      (last.past_end ? last.pos <= len : last.pos < len && p < indexed) &&
      no_own_plane_before(t, side, c, p, last.pos, last.id) &&
      no_own_plane_before(t, side, c, p, last.pos, q.id)) {
    if (!last.past_end) {
      const unsigned cls = classify_at(last.pos);
      if (cls != side_class) return {ch.nodes[last.pos], cls, false, side};
    } else {
      if (last.pos == len) return {ch.nodes[len - 1], side_class, true, side};
      // On from the nodes added since; a search from here counts as one
      // from p_start. What proved the nodes passed is not known: no replay.
      p = last.pos;
      log = nullptr;
      if (len - p <= g_tuning.short_chain) return walk_from(p, nullptr);
    }
  }
  // The next position to classify is the least, over the runs, of each
  // run's first member at or after p not proven on `side`, and never
  // beyond the first node with the polygon's own plane.
  const std::uint32_t limit = own_plane_limit(t, side, c, p, q.id);
  const Probe pr = probe(q);
  if (p < indexed) {
    const std::uint32_t stop = std::min(limit, indexed);
    // Positions as the index counts them (hier_first).
    const auto at = [&](std::uint32_t k) { return planned ? x.u_of_pos[k] : k; };
    const std::uint32_t end_u = planned ? x.u_of_pos[len - 1] + 1 : len;
    std::uint32_t k;
    unsigned cls;
    const bool resumed = from.chain == c && from.pos == p && from.version == x.hier.version;
    const std::uint32_t first = static_cast<std::uint32_t>(open.size());
    const std::uint32_t guess = same_chain && last.pos < len ? at(last.pos) : NONE;
    std::vector<std::uint32_t>* classified = nullptr;
    if (log) {
      log->positions.clear();
      classified = &log->positions;
    }
    if (hier_first(t, ch, side, at(p), stop < len ? at(stop) : end_u, pr, q, scratch, heap,
                   resumed ? &from : nullptr, guess, open, k, cls, classified)) {
      out = {c, k + 1, x.hier.version, first, static_cast<std::uint32_t>(open.size()) - first,
             resumed ? from.gen + 1 : 1, p_start};
      if (log) {
        // Every position before k was proven or is one of these.
        for (const std::uint32_t j : log->positions) {
          if (j < k) log->nodes.push_back(ch.nodes[j]);
        }
        log->ok = true;
      }
      return {ch.nodes[k], cls, false, side};
    }
    open.resize(first);
    if (stop == limit && limit < len) {  // the own plane: COPLANAR there
      return {ch.nodes[limit], classify_at(limit), false, side};
    }
    if (log) {  // every indexed position from p was proven or classified
      for (const std::uint32_t j : log->positions) log->nodes.push_back(ch.nodes[j]);
    }
    if (indexed == len) {
      if (log) log->ok = true;
      out = {c, len + 1, x.hier.version, first, 0, 0, p_start, true};
      return {ch.nodes[len - 1], side_class, true, side};
    }
    p = indexed;
    if (len - p <= g_tuning.short_chain) return walk_from(p, log);  // p < limit here
  }
  const std::size_t nruns = x.runs.size();
  std::size_t next[RUN_CELLS];
  for (std::size_t r = 0; r < nruns; ++r) {
    const Run& run = x.runs[r];
    const std::size_t i = static_cast<std::size_t>(
        std::lower_bound(run.pos.begin(), run.pos.end(), p) - run.pos.begin());
    next[r] = run_next(run, side, i, pr);
  }
  while (true) {
    std::uint32_t k = limit;
    std::size_t from = RUN_CELLS;
    for (std::size_t r = 0; r < nruns; ++r) {
      const Run& run = x.runs[r];
      if (next[r] < run.pos.size() && run.pos[next[r]] < k) k = run.pos[next[r]], from = r;
    }
    if (k >= len) return {ch.nodes[len - 1], side_class, true, side};
    const unsigned cls = classify_at(k);
    if (cls != side_class) return {ch.nodes[k], cls, false, side};
    if (k + 1 == len) return {ch.nodes[k], cls, true, side};
    // k < limit here: at the own-plane node the class is COPLANAR.
    if (from != RUN_CELLS) next[from] = run_next(x.runs[from], side, next[from] + 1, pr);
  }
}

struct FastEngine {
  explicit FastEngine(Workspace& w) : ws(w) {}
  Workspace& ws;
  OperandPlaneIds ids;
  Heap heap;
  // Groups left open by the searches of the current input polygon's
  // pieces (Resume), emptied before each input polygon.
  std::vector<std::uint32_t> open;

  static void remember(FPoly& q, const Tree& t, int side, const Resume& found) {
    if (found.chain == NONE) return;
    q.last = {&t, found.chain, static_cast<std::uint8_t>(side), found.past_end, t.epoch, found.start,
              found.pos - 1, q.id};
  }

  // The search `found`, made for a polygon before it was split at its
  // answer into `pieces`, for the piece that goes on down the chain; none
  // when a corner of the piece may lie off the polygon's edges (a crossing
  // parameter outside [0, 1], see RESUME_PAD) or the searches have gone on
  // too long.
  static Resume handed_down(const Resume& found, const SpanPieces& pieces) {
    if (found.chain == NONE || found.gen >= RESUME_GEN_MAX || !pieces.crossings_on_edges) {
      return {};
    }
    return found;
  }

  FPoly wrap(const Polygon& p, std::uint32_t id) {
    FPoly q{p, {0, 0, 0}, 0.0, id, {}, {}};
    set_sphere(q);
    return q;
  }

  // ---- build --------------------------------------------------------------

  struct BuildItem {
    FPoly q;
    std::uint32_t node;
    int side;  // side taken into `node`
    Resume resume;
    bool input = false;  // input `t.candidate` itself, at the root
  };
  KeptVector<BuildItem> build_stack;
  std::vector<std::pair<std::uint32_t, FPoly>> held_cb;

  // `last`: no search follows (the sequences' final build), so the chains
  // are not indexed again at the end.
  void build(Tree& t, FList list, bool last = false) {
    if (list.empty()) return;
    if (!t.nodes[0].has_plane) {
      t.nodes[0].plane = list.front().p.plane;
      t.nodes[0].id = list.front().id;
      t.nodes[0].has_plane = true;
      t.nodes[0].ref = list.front().c;
      register_node(t, 0, NONE, FRONT_SIDE);
      plan(t, list);
    }
    held_cb.clear();
    for (std::uint32_t i = 0; i < list.size(); ++i) {
      const FPoly& q = list[i];
      t.candidate = i;
      if (i >= g_tuning.index_min && (i & (i - 1)) == 0) drop_sparse_plan(t, i);
      ws.check_stop();
      build_stack.clear();
      open.clear();
      BuildItem it{q, 0, BACK_SIDE, Resume{}, true};
      insert(t, it);
      while (!build_stack.empty()) {
        it = build_stack.back();
        build_stack.pop_back();
        insert(t, it);
      }
    }
    for (auto& [node, q] : held_cb) t.nodes[node].polygons.push_back(q);
    held_cb.clear();
    corners.ok = false;
    // The clips that follow walk these chains many times: index them whole.
    if (last) return;
    for (auto& chains : t.chains) {
      for (Chain& ch : chains) {
        // A plan whose candidates nearly all became members (a convex
        // operand) serves the clips as it is; a sparse one would have them
        // test groups of planes that are mostly not in the chain.
        if (!ch.index) continue;
        const ChainIndex& x = *ch.index;
        if (!x.planned.empty() && 8 * x.u_of_pos.size() < 7 * x.planned.size()) build_hier(t, ch);
        if (x.hier.end > 0 && x.hier.end < ch.nodes.size()) build_hier(t, ch);
      }
    }
  }

  // A fresh tree's back chain from the root gets its index ahead of time,
  // with input i as candidate i: the chain's members can only be inputs
  // (or the one piece of an input that stays on the chain, with its
  // plane), one per input and in input order, and a convex operand's
  // inputs all are, but for those coplanar with an earlier one. So the
  // chain needs no index rebuilt as it grows. A group's bound holds for
  // the candidates that became members since it holds for all of its
  // planes; candidates that did not, or not yet, are never classified
  // (hier_first), so the search sees exactly the present members.
  void plan(Tree& t, const FList& list) {
    if (list.size() < g_tuning.index_min) return;
    Chain& ch = t.chains[BACK_SIDE][t.nodes[0].chain[BACK_SIDE]];
    std::vector<Member> mem;
    mem.reserve(list.size());
    ChainIndex& x = ch.mx();
    x.planned.clear();
    for (const FPoly& q : list) {
      mem.push_back({q.p.plane, q.c});
      x.planned.push_back(q.id);
    }
    build_hier(ch, mem);
    x.u_of_pos.assign(1, 0);  // the root, made from the first input
    x.pos_of_u.assign(list.size(), NONE);
    x.pos_of_u[0] = 0;
    list_corners(x.hier, list);
  }

  // A plan whose candidates mostly stay off the chain (an operand that is
  // not convex) makes the searches test bounds over planes the chain
  // lacks: past the first `seen` candidates, with fewer than one in eight
  // members, the chain is indexed over its members instead, as any chain.
  static void drop_sparse_plan(Tree& t, std::uint32_t seen) {
    Chain& ch = t.chains[BACK_SIDE][t.nodes[0].chain[BACK_SIDE]];
    const ChainIndex& x = ch.ix();
    if (x.planned.empty() || 8 * x.u_of_pos.size() >= seen) return;
    build_hier(t, ch);
  }

  // ---- corner lists of a planned build -----------------------------------
  //
  // A planned chain's candidates are the inputs, and an input starts at the
  // root whole, its corners those of the operand. Its class at a member's
  // plane other than its own is the OR of its corners' point classes
  // (classify_point, the same arithmetic as PlaneTest), so it is BACK at
  // every member whose plane has all of its corners strictly behind. For
  // every distinct corner point, the candidates whose plane does not are
  // listed, ascending: a candidate is left out only where a group bound of
  // the chain's index proves the point behind all of the group's planes, or
  // where classify_point says BACK. The least member at which an input's
  // class is not BACK is then the least listed member of its corners with
  // that class, or the own-plane node when that comes first (by_corners):
  // the answer of follow_chain, found by classifying a handful of planes.
  // On a convex operand a point is listed by the few planes through it; a
  // list that grows past a budget (a non-convex operand, non-finite
  // points) gives the lists up, and follow_chain serves as before.
  struct CornerLists {
    bool ok = false;
    std::vector<std::uint32_t> first_corner;  // of input i: point ids [first_corner[i], [i + 1])
    std::vector<std::uint32_t> point_of;      // per corner
    std::vector<std::uint32_t> first;         // of point v: cand[first[v], first[v + 1])
    std::vector<std::uint32_t> cand;
    std::vector<Pnt> points;
    std::vector<std::uint32_t> slots;  // open addressing over the points' bits
  } corners;

  static std::uint64_t point_bits_hash(const Pnt& v) {
    const double x[3] = {v.x, v.y, v.z};
    return doubles_bits_hash(x, 3);
  }

  void list_corners(const Hier& h, const FList& list) {
    CornerLists& cl = corners;
    cl.ok = false;
    cl.first_corner.clear();
    cl.point_of.clear();
    cl.first.clear();
    cl.cand.clear();
    cl.points.clear();
    std::size_t total = 0;
    for (const FPoly& q : list) total += q.p.count;
    std::size_t cap = 64;
    while (cap < 2 * total) cap *= 2;
    cl.slots.assign(cap, NONE);
    cl.first_corner.reserve(list.size() + 1);
    cl.point_of.reserve(total);
    for (const FPoly& q : list) {
      cl.first_corner.push_back(static_cast<std::uint32_t>(cl.point_of.size()));
      for (std::uint32_t j = 0; j < q.p.count; ++j) {
        const Pnt& v = q.p.vertices[j];
        std::size_t i = point_bits_hash(v) & (cap - 1);
        while (cl.slots[i] != NONE && std::memcmp(&cl.points[cl.slots[i]], &v, sizeof v) != 0) {
          i = (i + 1) & (cap - 1);
        }
        if (cl.slots[i] == NONE) {
          cl.slots[i] = static_cast<std::uint32_t>(cl.points.size());
          cl.points.push_back(v);
        }
        cl.point_of.push_back(cl.slots[i]);
      }
    }
    cl.first_corner.push_back(static_cast<std::uint32_t>(cl.point_of.size()));
    const std::size_t budget = 4 * total + 1024;
    std::vector<std::uint32_t> stack, leaves;
    const std::uint32_t npoints = static_cast<std::uint32_t>(cl.points.size());
    cl.first.reserve(npoints + 1);
    // Points go down the index a group at a time (neighbours, in the order
    // the operand's triangles name them): the group's sphere, or each of
    // its points, proves most groups of planes once for all of them, and
    // each point then tries the leaves the group left.
    for (std::uint32_t g = 0; g < npoints; g += CORNER_PROOF_MAX) {
      const Pnt* gv = cl.points.data() + g;
      const std::uint32_t gn = std::min(CORNER_PROOF_MAX, npoints - g);
      Pnt c;
      double r;
      sphere_of(gv, gn, c, r);
      const double c1 = std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z);
      const Probe gp{c, c1, r, RESUME_PAD * (c1 + r), gv, gn};
      leaves.clear();
      stack.assign(1, 0);
      while (!stack.empty()) {
        const std::uint32_t k = stack.back();
        stack.pop_back();
        const HNode& hn = h.nodes[k];
        if (proves_side(hn.b, BACK_SIDE, gp)) continue;
        if (hn.child[0] != NONE) {
          stack.push_back(hn.child[0]);
          stack.push_back(hn.child[1]);
        } else {
          leaves.push_back(k);
        }
      }
      for (std::uint32_t j = 0; j < gn; ++j) {
        const Pnt& v = gv[j];
        const std::size_t from = cl.cand.size();
        cl.first.push_back(static_cast<std::uint32_t>(from));
        const Probe pr{v, std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z), 0.0, 0.0, nullptr, 0};
        for (const std::uint32_t k : leaves) {
          const HNode& hn = h.nodes[k];
          if (proves_side(hn.b, BACK_SIDE, pr)) continue;
          for (std::uint32_t m = 0; m < hn.count; ++m) {
            const std::uint32_t u = h.leaf_pos[hn.first + m];
            if (classify_point(h.leaf_plane[hn.first + m], v) != BACK) cl.cand.push_back(u);
          }
        }
        std::sort(cl.cand.begin() + static_cast<std::ptrdiff_t>(from), cl.cand.end());
        if (cl.cand.size() > budget) return;
      }
    }
    cl.first.push_back(static_cast<std::uint32_t>(cl.cand.size()));
    cl.ok = true;
  }

  // follow_chain's answer for input i entering the planned chain at the
  // root, from its corners' lists (see CornerLists).
  Arrival by_corners(const Tree& t, std::uint32_t i, const FPoly& q) {
    const CornerLists& cl = corners;
    const std::uint32_t c = t.nodes[0].chain[BACK_SIDE];
    const Chain& ch = t.chains[BACK_SIDE][c];
    const std::uint32_t len = static_cast<std::uint32_t>(ch.nodes.size());
    const std::uint32_t limit = own_plane_limit(t, BACK_SIDE, c, 0, q.id);
    const auto classify_at = [&](std::uint32_t k) {
      return PlaneTest(t.nodes[ch.nodes[k]].plane).classify(q.p, ws.scratch);
    };
    std::uint32_t best = limit;
    unsigned best_cls = 0;
    bool last_is_best = false;
    for (std::uint32_t j = cl.first_corner[i]; j < cl.first_corner[i + 1]; ++j) {
      const std::uint32_t v = cl.point_of[j];
      for (std::uint32_t k = cl.first[v]; k < cl.first[v + 1]; ++k) {
        const std::uint32_t u = cl.cand[k];
        if (u >= i) break;  // not a member yet
        const std::uint32_t pos = ch.ix().pos_of_u[u];
        if (pos == NONE) continue;
        if (pos >= best) break;  // positions grow with candidates
        const unsigned cls = classify_at(pos);
        last_is_best = false;
        if (cls != BACK) {
          best = pos;
          best_cls = cls;
          last_is_best = true;
          break;
        }
      }
    }
    if (best < limit) {
      // A SPANNING answer leaves its vertex classes in scratch.
      if (!last_is_best) classify_at(best);
      return {ch.nodes[best], best_cls, false, BACK_SIDE};
    }
    if (limit < len) return {ch.nodes[limit], classify_at(limit), false, BACK_SIDE};
    return {ch.nodes[len - 1], BACK, true, BACK_SIDE};
  }

  // Walks one piece down from it.node until it comes to rest; a split
  // pushes its back piece and goes on with the front one.
  void insert(Tree& t, BuildItem& it) {
    while (true) {
      Resume found;
      const bool by_lists = it.input && corners.ok &&
                            !t.chains[BACK_SIDE][t.nodes[0].chain[BACK_SIDE]].ix().planned.empty();
      it.input = false;
      const Arrival at =
          by_lists ? by_corners(t, t.candidate, it.q)
                   : follow_chain(t, it.node, it.side, it.q, ws.scratch, heap, it.resume, open, found);
      it.resume = Resume{};
      remember(it.q, t, it.side, found);
      if (at.past_end) {
        // A new node takes this piece's plane; the piece is then COPLANAR
        // there (own plane) and is placed by the sign rule below.
        it.node = add_child(t, at.node, at.side, it.q);
        it.side = at.side;
        continue;
      }
      it.node = at.node;
      const Plane plane = t.nodes[it.node].plane;
      int side;
      switch (at.cls) {
        case COPLANAR:
          if (faces_same_way(plane, it.q.p)) {
            t.nodes[it.node].polygons.push_back(it.q);
          } else {
            held_cb.emplace_back(it.node, it.q);
          }
          return;
        case FRONT:
          side = FRONT_SIDE;
          break;
        case BACK:
          side = BACK_SIDE;
          break;
        default: {
          const SpanPieces pieces = split_spanning(plane, it.q.p, ws.pool, ws.scratch);
          const Resume next = handed_down(found, pieces);
          ws.pool.release(it.q.p.vertices, it.q.p.count);
          const std::uint32_t id = it.q.id;
          if (pieces.has_back) {
            const FPoly back = wrap(pieces.back, id);
            build_stack.push_back({back, descend(t, it.node, BACK_SIDE, back), BACK_SIDE,
                                   at.side == BACK_SIDE ? next : Resume{}});
          }
          if (!pieces.has_front) return;
          it.q = wrap(pieces.front, id);
          if (at.side == FRONT_SIDE) it.resume = next;
          side = FRONT_SIDE;
          break;
        }
      }
      it.node = descend(t, it.node, side, it.q);
      it.side = side;
    }
  }

  // The child on `side`, made now from `first` if missing. Making a split's
  // back child before its front piece runs changes nothing: the front piece
  // never reaches it, and no earlier input did (or the child would exist).
  std::uint32_t descend(Tree& t, std::uint32_t node, int side, const FPoly& first) {
    const std::uint32_t c = t.nodes[node].child[side];
    return c != NONE ? c : add_child(t, node, side, first);
  }

  // ---- clip_polygons ------------------------------------------------------

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
    int side;
    Resume resume;
    bool whole = false;  // the input polygon itself, not a piece of it
    Lineage lin;
  };
  std::vector<std::uint32_t> replay_nodes;  // of every Lineage, kept for the whole sequence
  SearchLog slog;
  struct Emitted {
    FPoly q;
    std::uint32_t pre;
    std::uint32_t marks;
    std::uint32_t index;
  };
  KeptVector<ClipItem> clip_stack;
  KeptVector<Emitted> emitted;

  static void ensure_order(Tree& t) {
    if (t.order_valid) return;
    const std::size_t count = t.nodes.size();
    t.pre.assign(count, 0);
    t.depth.assign(count, 0);
    t.pre_end.assign(count, 0);
    std::vector<std::uint32_t> by_pre(count), parent(count, NONE);
    std::vector<std::uint32_t> stack{0};
    std::uint32_t next = 0;
    while (!stack.empty()) {
      const std::uint32_t n = stack.back();
      stack.pop_back();
      by_pre[next] = n;
      t.pre[n] = next++;
      for (int side : {BACK_SIDE, FRONT_SIDE}) {
        const std::uint32_t c = t.nodes[n].child[side];
        if (c != NONE) {
          t.depth[c] = t.depth[n] + 1;
          parent[c] = n;
          stack.push_back(c);
        }
      }
    }
    // Subtree sizes, children before parents.
    std::vector<std::uint32_t> size(count, 1);
    for (std::uint32_t i = next; i-- > 1;) size[parent[by_pre[i]]] += size[by_pre[i]];
    for (std::uint32_t i = 0; i < next; ++i) t.pre_end[by_pre[i]] = i + size[by_pre[i]];
    t.order_valid = true;
  }

  // Ordering of two pieces emitted at the same node: the first difference
  // from the bottom of their paths, a plain side before a COPLANAR one.
  bool marks_less(std::uint32_t a, std::uint32_t b) const {
    while (a != NONE && b != NONE) {
      if (marks[a].depth != marks[b].depth) return marks[a].depth < marks[b].depth;
      a = marks[a].next;
      b = marks[b].next;
    }
    return a == NONE && b != NONE;
  }
  int marks_cmp(std::uint32_t a, std::uint32_t b) const {
    if (marks_less(a, b)) return -1;
    if (marks_less(b, a)) return 1;
    return 0;
  }

  FList clip(Tree& t, FList list) {
    if (!t.nodes[0].has_plane || list.empty()) return list;
    ensure_order(t);
    marks.clear();
    emitted.clear();
    for (std::uint32_t i = 0; i < list.size(); ++i) {
      ws.check_stop();
      clip_stack.clear();
      open.clear();
      if (exits_whole(t, list[i]) || replays(t, list[i])) {
        emitted.push_back({list[i], t.pre[list[i].exit.node], NONE, i});
        continue;
      }
      const Lineage lin{true, static_cast<std::uint32_t>(replay_nodes.size()), 0, 0};
      ClipItem it{list[i], 0, NONE, BACK_SIDE, Resume{}, true, lin};
      walk(t, it, i);
      while (!clip_stack.empty()) {
        it = clip_stack.back();
        clip_stack.pop_back();
        walk(t, it, i);
      }
    }
    std::sort(emitted.begin(), emitted.end(), [this](const Emitted& x, const Emitted& y) {
      if (x.pre != y.pre) return x.pre < y.pre;
      const int c = marks_cmp(x.marks, y.marks);
      if (c != 0) return c < 0;
      return x.index < y.index;
    });
    list.clear();
    for (const Emitted& e : emitted) list.push_back(e.q);
    emitted.clear();
    return list;
  }

  // True when q's walk from t's root would end where its recorded one did
  // (see "Repeated clips" above): same tree state, and no node on the path
  // with q's present plane, which is the only class that may differ.
  static bool exits_whole(const Tree& t, const FPoly& q) { return !q.exit.piece && same_walk(t, q); }

  // Same tree state, and no node on the path to the recorded exit with
  // q's present plane (the own-plane rule would make q COPLANAR there).
  static bool same_walk(const Tree& t, const FPoly& q) {
    const WholeExit& x = q.exit;
    if (x.tree != &t || x.epoch != t.epoch || x.nodes != t.nodes.size()) return false;
    const std::uint32_t at = t.pre[x.node];
    for (std::uint32_t n = t.id_head[q.id]; n != NONE; n = t.nodes[n].next_same_id) {
      if (t.pre[n] <= at && at < t.pre_end[n]) return false;
    }
    return true;
  }

  // A piece emitted in front of a node of the root's back chain, clipped
  // by the same tree again: its path from the root is the chain up to
  // that node, each node proven back for it or for a polygon it was cut
  // from, with the widening that covers the piece (RESUME_PAD), or listed.
  // So when every listed node still classifies it BACK and the exit node
  // FRONT (its front child is missing: the tree is as it was), the walk
  // would emit it there again, with no COPLANAR side; the answer is kept
  // as a search from the root (LastSearch) for the build that follows.
  bool replays(const Tree& t, FPoly& q) {
    const WholeExit& x = q.exit;
    if (!x.piece || !same_walk(t, q)) return false;
    for (std::uint32_t k = 0; k < x.count; ++k) {
      const std::uint32_t n = replay_nodes[x.first + k];
      if (PlaneTest(t.nodes[n].plane).classify(q.p, ws.scratch) != BACK) return false;
    }
    if (PlaneTest(t.nodes[x.node].plane).classify(q.p, ws.scratch) != FRONT) return false;
    const FNode& exit = t.nodes[x.node];
    q.last = {&t, exit.chain[BACK_SIDE], BACK_SIDE, false, t.epoch, 0, exit.pos[BACK_SIDE], q.id};
    return true;
  }

  void walk(const Tree& t, ClipItem& it, std::uint32_t index) {
    while (true) {
      Resume found;
      const Arrival at = follow_chain(t, it.node, it.side, it.q, ws.scratch, heap, it.resume, open,
                                      found, it.lin.ok ? &slog : nullptr);
      it.resume = Resume{};
      remember(it.q, t, it.side, found);
      if (it.lin.ok) extend(it.lin, it.side);
      if (at.past_end) {
        leave(t, it, at.node, at.side, index);
        return;
      }
      it.node = at.node;
      const Plane& plane = t.nodes[it.node].plane;
      int side;
      switch (at.cls) {
        case COPLANAR:
          side = faces_same_way(plane, it.q.p) ? FRONT_SIDE : BACK_SIDE;
          it.lin.ok = false;
          marks.push_back({t.depth[it.node], it.marks});
          it.marks = static_cast<std::uint32_t>(marks.size() - 1);
          break;
        case FRONT:
          side = FRONT_SIDE;
          break;
        case BACK:
          side = BACK_SIDE;
          break;
        default: {
          const SpanPieces pieces = split_spanning(plane, it.q.p, ws.pool, ws.scratch);
          const Resume next = handed_down(found, pieces);
          ws.pool.release(it.q.p.vertices, it.q.p.count);
          // Both pieces keep the lineage: the back one with this node
          // listed (it was SPANNING here, not proven).
          Lineage lin = it.lin;
          lin.ok = lin.ok && pieces.crossings_on_edges && lin.gen + 1 < RESUME_GEN_MAX &&
                   lin.first + lin.count == replay_nodes.size();
          ++lin.gen;
          it.lin = lin;
          if (pieces.has_back) {
            clip_stack.push_back({wrap(pieces.back, it.q.id), it.node, it.marks, BACK_SIDE,
                                  at.side == BACK_SIDE ? next : Resume{}, false, lin});
            ClipItem& b = clip_stack.back();
            if (b.lin.ok) {
              replay_nodes.push_back(it.node);
              ++b.lin.count;
            }
            if (step(t, b, BACK_SIDE, index)) clip_stack.pop_back();
          }
          if (!pieces.has_front) return;
          it.q = wrap(pieces.front, it.q.id);
          it.whole = false;
          if (at.side == FRONT_SIDE) it.resume = next;
          side = FRONT_SIDE;
          break;
        }
      }
      if (step(t, it, side, index)) return;
    }
  }

  // Adds what the last search classified (slog) to the lineage, which
  // holds only while its nodes are contiguous in replay_nodes.
  void extend(Lineage& lin, int side) {
    if (!slog.ok || side != BACK_SIDE || lin.first + lin.count != replay_nodes.size()) {
      lin.ok = false;
      return;
    }
    replay_nodes.insert(replay_nodes.end(), slog.nodes.begin(), slog.nodes.end());
    lin.count += static_cast<std::uint32_t>(slog.nodes.size());
  }

  // Moves it into its node's child on `side`; returns true when the piece
  // has left the tree there instead (emitted or discarded).
  bool step(const Tree& t, ClipItem& it, int side, std::uint32_t index) {
    const std::uint32_t c = t.nodes[it.node].child[side];
    if (c == NONE) {
      leave(t, it, it.node, side, index);
      return true;
    }
    if (side != BACK_SIDE) it.lin.ok = false;  // off the root's back chain
    it.node = c;
    it.side = side;
    return false;
  }

  // A piece on `side` of `node`, which has no child there: emitted when in
  // front (outside the solid), discarded when behind (inside).
  void leave(const Tree& t, const ClipItem& it, std::uint32_t node, int side,
             std::uint32_t index) {
    if (side == FRONT_SIDE) {
      emitted.push_back({it.q, t.pre[node], it.marks, index});
      WholeExit& x = emitted.back().q.exit;
      const std::uint32_t count = static_cast<std::uint32_t>(t.nodes.size());
      if (it.whole && it.marks == NONE) {
        x = {&t, t.epoch, count, node};
      } else if (it.lin.ok && it.marks == NONE && it.side == BACK_SIDE && node == it.node) {
        x = {&t, t.epoch, count, node, true, it.lin.first, it.lin.count};
      } else {
        x = {};
      }
    } else {
      ws.pool.release(it.q.p.vertices, it.q.p.count);
    }
  }

  // ---- the other tree operations -----------------------------------------

  void clip_to(Tree& t, Tree& other) {
    for (FNode& n : t.nodes) {
      ws.check_stop();
      if (!n.polygons.empty()) n.polygons = clip(other, std::move(n.polygons));
    }
  }

  void invert(Tree& t) {
    for (FNode& n : t.nodes) {
      ws.check_stop();
      for (FPoly& q : n.polygons) {
        std::reverse(q.p.vertices, q.p.vertices + q.p.count);
        q.p.plane = negated(q.p.plane);
        q.id = ids.neg(q.id);
      }
      if (n.has_plane) {
        n.plane = negated(n.plane);
        n.id = ids.neg(n.id);
      }
      std::swap(n.child[0], n.child[1]);
      std::swap(n.chain[0], n.chain[1]);
      std::swap(n.pos[0], n.pos[1]);
      std::swap(n.long_chain[0], n.long_chain[1]);
    }
    // Back chains become front chains with every plane negated: h_k and
    // the normals change sign, |n_k - a| and the magnitudes do not.
    std::swap(t.chains[0], t.chains[1]);
    for (auto& chains : t.chains) {
      for (Chain& ch : chains) {
        if (!ch.index) continue;
        ChainIndex& x = *ch.index;
        for (HNode& hn : x.hier.nodes) negate(hn.b);
        for (Plane& p : x.hier.leaf_plane) p = negated(p);
        for (Run& run : x.runs) {
          for (auto& level : run.levels) {
            for (Bound& b : level) {
              negate(b);
            }
          }
        }
      }
    }
    ++t.epoch;
    std::vector<std::uint32_t> head(t.id_head.size(), NONE);
    for (std::size_t id = 0; id < head.size(); ++id) head[ids.neg(static_cast<std::uint32_t>(id))] = t.id_head[id];
    t.id_head = std::move(head);
    t.order_valid = false;
  }

  // Hands every polygon of the tree to f in pre-order (node, front,
  // back), then empties the nodes.
  template <class F>
  void drain(Tree& t, F&& f) {
    if (t.nodes.empty()) return;
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
      const std::uint32_t n = stack.back();
      stack.pop_back();
      ws.check_stop();
      FNode& node = t.nodes[n];
      for (const FPoly& q : node.polygons) f(q);
      node.polygons.clear();
      if (node.child[BACK_SIDE] != NONE) stack.push_back(node.child[BACK_SIDE]);
      if (node.child[FRONT_SIDE] != NONE) stack.push_back(node.child[FRONT_SIDE]);
    }
  }

  static std::size_t polygon_count(const Tree& t) {
    std::size_t n = 0;
    for (const FNode& node : t.nodes) n += node.polygons.size();
    return n;
  }

  FList take_all(Tree& t) {
    FList out;
    out.reserve(polygon_count(t));
    drain(t, [&out](const FPoly& q) { out.push_back(q); });
    return out;
  }
};

}  // namespace

SkipTuning skip_tuning() { return g_tuning; }
void set_skip_tuning(const SkipTuning& t) { g_tuning = t; }

PolygonList fast_sequence(CsgOp op, PolygonList a, PolygonList b, Workspace& ws) {
  FastEngine e(ws);
  FList fa, fb;
  fa.reserve(a.size());
  fb.reserve(b.size());
  e.ids.reserve(2 * (a.size() + b.size()));  // the planes and their negations
  for (const Polygon& p : a) fa.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  for (const Polygon& p : b) fb.push_back({p, {0, 0, 0}, 0.0, e.ids.intern(p.plane), {}, {}});
  e.ids.close_under_negation();
  for (FPoly& q : fa) set_sphere(q);
  for (FPoly& q : fb) set_sphere(q);
  Tree A = make_tree(e.ids.size());
  Tree B = make_tree(e.ids.size());
  e.build(A, std::move(fa));
  e.build(B, std::move(fb));
  struct Ops {
    FastEngine& e;
    void clip_to(Tree& x, Tree& y) { e.clip_to(x, y); }
    void invert(Tree& x) { e.invert(x); }
    void absorb(Tree& x, Tree& y) { e.build(x, e.take_all(y), true); }
  } ops{e};
  tree_sequence(op, ops, A, B);
  // The result goes into operand a's list, whose room it mostly fits.
  PolygonList& out = a;
  out.clear();
  out.reserve(FastEngine::polygon_count(A));
  e.drain(A, [&out](const FPoly& q) { out.push_back(q.p); });
  return std::move(out);
}

}  // namespace quorvalind::bsp
