#pragma once
// The proofs of the skipping engine: bounds over groups of planes and the
// predicates that use them to prove a polygon on one side of every plane
// of a group without classifying it.
//
// What a proof means: proves_side(b, side, probe) true says that every
// point of the probe (the polygon's widened sphere, or each widened corner)
// has, at every plane of the group, a computed signed distance (the one
// classify_point computes) beyond PLANE_EPSILON on `side`. The literal
// engine would then classify the polygon `side` at each of those planes,
// unless one of them is bit for bit the polygon's own plane (the
// own-plane rule), which the searches honour separately. Every predicate
// here clears PLANE_EPSILON by a margin (SKIP_RELATIVE_SLACK times the
// magnitudes summed, plus SKIP_ABSOLUTE_SLACK) about 10^4 times the
// rounding of the classification and of the bound itself; NaN anywhere
// makes the comparisons false, and non-finite planes mark a bound not ok.
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bsp/fast/common.h"
#include "gp/tolerances.h"

namespace quorvalind::bsp::fast {

// A sphere about n points: every point within r of c, up to rounding; r
// is NaN when a coordinate is not finite (such a polygon is never skipped).
void sphere_of(const Pnt* v, std::uint32_t n, Pnt& c, double& r);

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

// Recomputes the margin terms (sconst, rr, one_rr, nrho) after a change.
void set_sconst(Bound& b);
// The bound of the negated planes: h_k, a and delta_k change sign.
void negate(Bound& b);
// Adds a plane to a group; a fresh group takes `ref` as its O.
void add_to_bound(Bound& b, bool fresh, const Plane& p, const Pnt& ref);

// The plane and reference point of each chain member, gathered once per
// index build from the scattered nodes.
struct Member {
  Plane plane;
  Pnt ref;
};
// The bound of members mem[idx[0, n)], taken about the member nearest
// their mean key (so that O and a are central), with the curvatures fitted
// so that hb = hmax and hf = hmin whenever that is possible. dds and hs are
// scratch.
Bound group_bound(const Member* mem, const std::uint32_t* idx, std::size_t n,
                  const std::array<double, 6>* key, std::vector<double>& dds,
                  std::vector<double>& hs);

// G(E, c) above: max over 0 <= x <= rho of (x E - c x^2), for E >= 0.
// proves_point compares against it without a square root or a division.
inline double curve_gain(double e, double c, double rho) {
  if (c > 0 && e <= 2.0 * c * rho) return e * e / (4.0 * c);
  return rho * e - c * rho * rho;
}

// A polygon's bounding sphere and its corners, each widened by `pad`
// (SKIP_RESUME_PAD, see Resume): the sphere has radius r + pad, and each
// corner is a ball of radius pad.
struct Probe {
  Pnt c;
  double c1, r;  // |c| as the sum of absolute coordinates
  double pad;
  const Pnt* v;
  std::uint32_t n;
};

// Bound of n_k . p - w_k over the group for the points p within r of c.
// Returns NOT_PROVEN unless the bound proves every such distance beyond
// PLANE_EPSILON on `side`, the computed distances included: they differ
// from the real ones by at most about 4u (|n||p| + |w|), and the bound's
// own rounding (of r, rho, e, h_k, and the normals' departure from unit
// length) is of the order u times the magnitudes summed in s; the margin
// is 10^4 times larger. NaN anywhere makes the comparisons false. NEAR
// (a hint only) says that the bound falls short by less than `reach`.
enum Proof { NOT_PROVEN, NEAR, PROVEN };
inline Proof proves_point(const Bound& b, Side side, const Pnt& c, double c1, double r,
                          double reach) {
  const Pnt d = gp::sub(c, b.o);
  const double ad = gp::dot(b.a, d);
  // Both sides as "value + gain < -PLANE_EPSILON - slack": the front side
  // on the negated distances.
  double base, c2;
  if (side == BACK) {
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
  const double s =
      std::fabs(ad) * b.one_rr + b.nrho * d1 + b.sconst - base + b.nmax * (2.0 * r + c1);
  // room must exceed the gain, max over 0 <= x <= rho of (x |e| - c2 x^2),
  // compared without a square root or a division.
  const double room =
      -base - gp::PLANE_EPSILON - (gp::SKIP_RELATIVE_SLACK * s + gp::SKIP_ABSOLUTE_SLACK);
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
// Which proof proves_side made, if any (the checking mode names it).
enum ProofBy : std::uint8_t { NO_PROOF = 0, BY_SPHERE, BY_CORNERS };
inline ProofBy proves_side(const Bound& b, Side side, const Probe& q) {
  if (!b.ok) return NO_PROOF;
  const Proof sphere = proves_point(b, side, q.c, q.c1, q.r + q.pad, CORNER_REACH * q.r * b.nmax);
  if (sphere == PROVEN) return BY_SPHERE;
  // A NEAR sphere is proven only through corners: a probe without any
  // (a bare point, r = 0, which is never NEAR) has nothing more to try.
  if (sphere == NOT_PROVEN || q.n == 0 || q.n > CORNER_PROOF_MAX) return NO_PROOF;
  for (std::uint32_t i = 0; i < q.n; ++i) {
    const Pnt& v = q.v[i];
    if (proves_point(b, side, v, std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z), q.pad, 0.0) !=
        PROVEN) {
      return NO_PROOF;
    }
  }
  return BY_CORNERS;
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
  SphereTest(double nmax, Side side, const Probe& q) : c(q.c), sign(side == BACK ? 1.0 : -1.0) {
    const double rr = q.r + q.pad;
    reach0 =
        nmax * rr + gp::SKIP_RELATIVE_SLACK * (nmax * (q.c1 + 2.0 * rr)) + gp::SKIP_ABSOLUTE_SLACK;
  }
  bool proves(const Plane& pl) const {
    const double t = plane_distance(pl, c);
    return sign * t + (reach0 + gp::SKIP_RELATIVE_SLACK * std::fabs(pl.w)) < -gp::PLANE_EPSILON;
  }
};

// A chain's planes fall into runs by the direction of their normals (the
// dominant axis and the signs of the coordinates: 24 cells, and one for

}  // namespace quorvalind::bsp::fast
