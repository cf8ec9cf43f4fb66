// The skipping engine's proof predicates against exact classification:
// whatever a bound, a sphere test or deep_back claims for a polygon must be
// what classify_point says for every plane it covers. Seeded random groups
// of planes (tangent planes of a curved patch, near-parallel stacks, planes
// at random) and probes placed at random and within ulps of the slab
// around a plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bsp/fast/bounds.h"
#include "bsp/fast/check.h"
#include "bsp/fast/search.h"
#include "bsp/polygon.h"
#include "gp/fault.h"
#include "gp/tolerances.h"

using namespace quorvalind;
using bsp::Plane;
using bsp::Polygon;
using gp::Pnt;
namespace fast = bsp::fast;

namespace {

constexpr double EPS = gp::PLANE_EPSILON;

Pnt scaled(const Pnt& v, double s) { return {v.x * s, v.y * s, v.z * s}; }
Pnt added(const Pnt& a, const Pnt& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Pnt unit(const Pnt& v) { return scaled(v, 1.0 / fast::length(v)); }

class Random {
 public:
  explicit Random(std::uint64_t seed) : rng_(seed) {}
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  double log_uniform(double lo, double hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  Pnt direction() {
    while (true) {
      const Pnt v{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
      const double l = fast::length(v);
      if (l > 0.1 && l <= 1) return scaled(v, 1.0 / l);
    }
  }
  // A unit vector within `angle` of unit vector a.
  Pnt near(const Pnt& a, double angle) { return unit(added(a, scaled(direction(), angle))); }

 private:
  std::mt19937_64 rng_;
};

// The kinds of plane groups the chains hold.
enum class Group {
  Patch,         // tangent planes of one sphere over a small cap: a convex run
  NearParallel,  // normals within 1e-6 of each other, offsets apart by up to 1
  Scattered,     // any normals and offsets
};
const char* group_name(Group g) {
  return g == Group::Patch ? "Patch" : g == Group::NearParallel ? "NearParallel" : "Scattered";
}

struct Planes {
  std::vector<fast::Member> members;  // plane and reference point, as a chain gives them
  Pnt centre;  // the sphere of a patch; a point among the planes otherwise
  double radius = 0;
};

Planes make_group(Random& rnd, Group kind, double scale, const Pnt& offset) {
  Planes g;
  const int n = 1 + rnd.pick(24);
  const Pnt axis = rnd.direction();
  g.centre = offset;
  g.radius = scale;
  const double cap = rnd.log_uniform(1e-4, 0.5);
  for (int k = 0; k < n; ++k) {
    Pnt normal;
    double w;
    switch (kind) {
      case Group::Patch:
        normal = rnd.near(axis, cap);
        w = gp::dot(normal, g.centre) + g.radius;
        break;
      case Group::NearParallel:
        normal = rnd.near(axis, rnd.log_uniform(1e-9, 2e-6));
        w = gp::dot(normal, g.centre) + g.radius +
            rnd.uniform(-1, 1) * rnd.log_uniform(1e-9, scale);
        break;
      default:
        normal = rnd.direction();
        w = gp::dot(normal, g.centre) + rnd.uniform(-1, 1) * scale;
        break;
    }
    // The reference point: on the plane, near the group.
    const Pnt ref = added(g.centre, scaled(normal, w - gp::dot(normal, g.centre)));
    g.members.push_back({{normal, w}, ref});
  }
  return g;
}

// The two ways the engine makes a bound: member by member (a run's groups)
// and all at once (an index group).
fast::Bound incremental_bound(const Planes& g) {
  fast::Bound b;
  for (std::size_t k = 0; k < g.members.size(); ++k) {
    fast::add_to_bound(b, k == 0, g.members[k].plane, g.members[k].ref);
  }
  return b;
}

fast::Bound whole_bound(const Planes& g) {
  std::vector<std::array<double, 6>> key(g.members.size());
  std::vector<std::uint32_t> idx(g.members.size());
  for (std::size_t k = 0; k < g.members.size(); ++k) {
    const fast::Member& m = g.members[k];
    key[k] = {m.plane.normal.x, m.plane.normal.y, m.plane.normal.z, m.ref.x, m.ref.y, m.ref.z};
    idx[k] = static_cast<std::uint32_t>(k);
  }
  std::vector<double> dds, hs;
  return fast::group_bound(g.members.data(), idx.data(), idx.size(), key.data(), dds, hs);
}

// A point at signed distance `t` from plane pl (as near as rounding allows),
// above a random point of the plane near `around`.
Pnt at_distance(const Plane& pl, const Pnt& around, double t) {
  const double n2 = gp::dot(pl.normal, pl.normal);
  const Pnt foot = added(around, scaled(pl.normal, (pl.w - gp::dot(pl.normal, around)) / n2));
  return added(foot, scaled(pl.normal, t / std::sqrt(n2)));
}

// Probe centres: random ones around the group and ones whose sphere just
// reaches the slab of a member (within ulps of PLANE_EPSILON, within 1e-12,
// within 1e-7), on either side.
Pnt probe_centre(Random& rnd, const Planes& g, fast::Side side, double r) {
  const Plane& pl =
      g.members[static_cast<std::size_t>(rnd.pick(static_cast<int>(g.members.size())))].plane;
  const Pnt around = added(g.centre, scaled(rnd.direction(), g.radius * rnd.uniform(0, 2)));
  const double sign = side == bsp::BACK ? -1.0 : 1.0;
  double gap;
  switch (rnd.pick(5)) {
    case 0:
      gap = std::nextafter(EPS, 1.0) - EPS + EPS * 1e-15 * rnd.pick(8);  // a few ulps
      break;
    case 1: gap = rnd.uniform(-1e-12, 1e-12); break;
    case 2: gap = rnd.uniform(-1e-7, 1e-7); break;
    case 3: gap = rnd.log_uniform(1e-7, g.radius + 1); break;
    default:
      return added(around, scaled(rnd.direction(), rnd.log_uniform(1e-6, 3 * (g.radius + 1))));
  }
  const double nl = fast::length(pl.normal);
  return at_distance(pl, around, sign * (EPS + r * nl + gap));
}

// The point of the sphere (c, r) deepest toward `side`'s opposite at plane
// pl: where the sphere comes nearest to leaving pl's `side`.
Pnt worst_point(const Plane& pl, const Pnt& c, double r, fast::Side side) {
  const double s = side == bsp::BACK ? 1.0 : -1.0;
  return added(c, scaled(pl.normal, s * r / fast::length(pl.normal)));
}

// Why a proof for the sphere (c, r) is wrong, or "" when it holds at every
// plane of the group.
std::string sphere_claim_fails(const Planes& g, const Pnt& c, double r, fast::Side side) {
  for (std::size_t k = 0; k < g.members.size(); ++k) {
    const Plane& pl = g.members[k].plane;
    const Pnt p = worst_point(pl, c, r, side);
    const unsigned cls = bsp::classify_point(pl, p);
    if (cls != side) {
      return "member " + std::to_string(k) + " classifies the sphere's point " +
             std::to_string(bsp::plane_distance(pl, p)) + " from its plane";
    }
  }
  return {};
}

fast::Probe point_probe(const Pnt& c, double r) {
  const double c1 = std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z);
  return {c, c1, r, 0.0, nullptr, 0};
}

struct Param {
  Group group;
  bool whole;  // group_bound rather than add_to_bound
  double scale, offset;
};
std::string param_name(const testing::TestParamInfo<Param>& info) {
  const Param& p = info.param;
  return std::string(group_name(p.group)) + (p.whole ? "Whole" : "Incremental") + "Scale" +
         std::to_string(static_cast<int>(std::log10(p.scale) + 10)) + "Offset" +
         std::to_string(static_cast<int>(p.offset == 0 ? 0 : std::log10(p.offset)));
}

class BoundProofs : public testing::TestWithParam<Param> {
 protected:
  fast::Bound bound(const Planes& g) const {
    return GetParam().whole ? whole_bound(g) : incremental_bound(g);
  }
  Planes group(Random& rnd) const {
    const Param& p = GetParam();
    const Pnt offset = scaled(rnd.direction(), p.offset);
    return make_group(rnd, p.group, p.scale, offset);
  }
  std::uint64_t seed() const {
    const Param& p = GetParam();
    return 1000003u * static_cast<std::uint64_t>(p.group) + (p.whole ? 7919u : 0u) +
           static_cast<std::uint64_t>(std::log10(p.scale) + 20) * 104729u +
           static_cast<std::uint64_t>(p.offset == 0 ? 0 : std::log10(p.offset)) * 15485863u;
  }
};

// The offsets h_k of a bound stay within what the proof assumes of them:
// h_k + kb |delta_k|^2 <= hb and h_k - kf |delta_k|^2 >= hf for every
// member, up to the rounding the margin covers.
TEST_P(BoundProofs, CurvatureTermsCoverEveryMember) {
  Random rnd(seed());
  for (int trial = 0; trial < 400; ++trial) {
    const Planes g = group(rnd);
    const fast::Bound b = bound(g);
    if (!b.ok) continue;
    for (std::size_t k = 0; k < g.members.size(); ++k) {
      const Plane& pl = g.members[k].plane;
      const double h = gp::dot(pl.normal, b.o) - pl.w;
      const Pnt delta = gp::sub(pl.normal, b.a);
      const double dd = gp::dot(delta, delta);
      const double slack = gp::SKIP_RELATIVE_SLACK * b.sconst;
      ASSERT_LE(h + b.kb * dd, b.hb + slack) << "trial " << trial << " member " << k;
      ASSERT_GE(h - b.kf * dd, b.hf - slack) << "trial " << trial << " member " << k;
      ASSERT_LE(fast::length(pl.normal), b.nmax * (1 + 1e-15));
      ASSERT_LE(std::sqrt(dd), b.rho * (1 + 1e-15));
    }
  }
}

// A sphere proven on a side by proves_point is on that side of every
// member, at its point nearest the other side; near-boundary probes
// included. Some probes must be proven, or the test proves nothing.
TEST_P(BoundProofs, SphereProofsHoldAtEveryMember) {
  Random rnd(seed() + 1);
  int proven = 0, tried = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Planes g = group(rnd);
    const fast::Bound b = bound(g);
    const fast::Side side = rnd.pick(2) == 0 ? fast::Side{bsp::BACK} : fast::Side{bsp::FRONT};
    const double r = rnd.pick(3) == 0 ? 0.0 : rnd.log_uniform(1e-9, GetParam().scale);
    const Pnt c = probe_centre(rnd, g, side, r);
    const double c1 = std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z);
    ++tried;
    if (fast::proves_point(b, side, c, c1, r, 0.0) != fast::PROVEN) continue;
    ++proven;
    ASSERT_TRUE(b.ok);
    ASSERT_EQ(sphere_claim_fails(g, c, r, side), "") << "trial " << trial << " r " << r;
  }
  EXPECT_GT(proven, 10) << "of " << tried;
}

// proves_side on a triangle's probe (sphere, then corners): every corner is
// on the side at every member. The corner proofs are reached by triangles
// whose sphere falls just short.
TEST_P(BoundProofs, PolygonProofsHoldForEveryCorner) {
  Random rnd(seed() + 2);
  int by_sphere = 0, by_corners = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Planes g = group(rnd);
    const fast::Bound b = bound(g);
    const fast::Side side = rnd.pick(2) == 0 ? fast::Side{bsp::BACK} : fast::Side{bsp::FRONT};
    const double size = rnd.log_uniform(1e-7, GetParam().scale);
    const Pnt c = probe_centre(rnd, g, side, 0.0);
    std::array<Pnt, 3> v;
    for (Pnt& p : v) p = added(c, scaled(rnd.direction(), size));
    fast::Probe pr{};
    fast::sphere_of(v.data(), 3, pr.c, pr.r);
    pr.c1 = std::fabs(pr.c.x) + std::fabs(pr.c.y) + std::fabs(pr.c.z);
    pr.pad = gp::SKIP_RESUME_PAD * (pr.c1 + pr.r);
    pr.v = v.data();
    pr.n = 3;
    const fast::ProofBy by = fast::proves_side(b, side, pr);
    if (by == fast::NO_PROOF) continue;
    (by == fast::BY_SPHERE ? by_sphere : by_corners)++;
    for (std::size_t k = 0; k < g.members.size(); ++k) {
      for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(bsp::classify_point(g.members[k].plane, v[static_cast<std::size_t>(i)]), side)
            << "trial " << trial << " member " << k << " corner " << i
            << (by == fast::BY_SPHERE ? " (sphere)" : " (corners)");
      }
    }
  }
  EXPECT_GT(by_sphere + by_corners, 0);
}

// The bound of the negated planes (invert) proves the other side exactly
// where the planes' own bound would, for the negated planes.
TEST_P(BoundProofs, NegatedBoundsHoldForNegatedPlanes) {
  Random rnd(seed() + 3);
  int proven = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    Planes g = group(rnd);
    fast::Bound b = bound(g);
    fast::negate(b);
    for (fast::Member& m : g.members) m.plane = bsp::negated(m.plane);
    const fast::Side side = rnd.pick(2) == 0 ? fast::Side{bsp::BACK} : fast::Side{bsp::FRONT};
    const double r = rnd.pick(2) == 0 ? 0.0 : rnd.log_uniform(1e-9, GetParam().scale);
    const Pnt c = probe_centre(rnd, g, side, r);
    const double c1 = std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z);
    if (fast::proves_point(b, side, c, c1, r, 0.0) != fast::PROVEN) continue;
    ++proven;
    ASSERT_EQ(sphere_claim_fails(g, c, r, side), "") << "trial " << trial;
  }
  EXPECT_GT(proven, 0);
}

// A leaf's one-plane sphere test: whatever it proves holds at the plane.
TEST_P(BoundProofs, SphereTestHoldsAtItsPlane) {
  Random rnd(seed() + 4);
  int proven = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const Planes g = group(rnd);
    const fast::Bound b = bound(g);
    if (!b.ok) continue;
    const fast::Side side = rnd.pick(2) == 0 ? fast::Side{bsp::BACK} : fast::Side{bsp::FRONT};
    const double r = rnd.pick(3) == 0 ? 0.0 : rnd.log_uniform(1e-9, GetParam().scale);
    const Pnt c = probe_centre(rnd, g, side, r);
    const fast::SphereTest st(b.nmax, side, point_probe(c, r));
    for (std::size_t k = 0; k < g.members.size(); ++k) {
      const Plane& pl = g.members[k].plane;
      if (!st.proves(pl)) continue;
      ++proven;
      const Pnt p = worst_point(pl, c, r, side);
      ASSERT_EQ(bsp::classify_point(pl, p), side)
          << "trial " << trial << " member " << k << " distance " << bsp::plane_distance(pl, p);
    }
  }
  EXPECT_GT(proven, 0);
}

const Param PARAMS[] = {
    {Group::Patch, false, 1.0, 0.0},        {Group::Patch, true, 1.0, 0.0},
    {Group::Patch, false, 1e-3, 1e6},       {Group::Patch, true, 1e3, 1e9},
    {Group::NearParallel, false, 1.0, 0.0}, {Group::NearParallel, true, 1.0, 0.0},
    {Group::NearParallel, false, 1e3, 1e9}, {Group::NearParallel, true, 1e-3, 1e6},
    {Group::Scattered, false, 1.0, 0.0},    {Group::Scattered, true, 1.0, 0.0},
    {Group::Scattered, false, 1e3, 1e12},   {Group::Scattered, true, 1e-3, 1e3},
};
INSTANTIATE_TEST_SUITE_P(Groups, BoundProofs, testing::ValuesIn(PARAMS), param_name);

// curve_gain is max over 0 <= x <= rho of (x e - c x^2): never below any
// sampled value and reached by one.
TEST(FastPredicates, CurveGainIsTheMaximumOfTheParabola) {
  Random rnd(11);
  for (int trial = 0; trial < 2000; ++trial) {
    const double e = rnd.log_uniform(1e-9, 1e3);
    const double c = rnd.pick(4) == 0 ? -rnd.log_uniform(1e-6, 1e6) : rnd.log_uniform(1e-6, 1e6);
    const double rho = rnd.log_uniform(1e-8, 2);
    const double gain = fast::curve_gain(e, c, rho);
    double best = -std::numeric_limits<double>::infinity();
    for (int i = 0; i <= 1000; ++i) {
      const double x = rho * i / 1000.0;
      best = std::max(best, x * e - c * x * x);
    }
    const double x_top = c > 0 ? std::min(rho, e / (2 * c)) : rho;
    best = std::max(best, x_top * e - c * x_top * x_top);
    const double tol = 1e-12 * (std::fabs(e * rho) + std::fabs(c * rho * rho));
    EXPECT_GE(gain, best - tol) << "e " << e << " c " << c << " rho " << rho;
    EXPECT_LE(gain, best + tol) << "e " << e << " c " << c << " rho " << rho;
  }
}

// Every vertex within r of c, and NaN r for a non-finite coordinate.
TEST(FastPredicates, SphereOfHoldsEveryVertex) {
  Random rnd(12);
  for (int trial = 0; trial < 2000; ++trial) {
    const double scale = rnd.log_uniform(1e-6, 1e6);
    const Pnt at = scaled(rnd.direction(), rnd.log_uniform(1e-3, 1e15));
    std::vector<Pnt> v(static_cast<std::size_t>(1 + rnd.pick(8)));
    for (Pnt& p : v) p = added(at, scaled(rnd.direction(), scale));
    Pnt c;
    double r;
    fast::sphere_of(v.data(), static_cast<std::uint32_t>(v.size()), c, r);
    for (const Pnt& p : v) {
      const double d = fast::length(gp::sub(p, c));
      EXPECT_LE(d, r + 4e-16 * (std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z) + r)) << trial;
    }
  }
  for (double bad : {std::nan(""), double{INFINITY}, -double{INFINITY}}) {
    const Pnt v[3] = {{0, 0, 0}, {1, bad, 0}, {0, 1, 0}};
    Pnt c;
    double r = 0;
    fast::sphere_of(v, 3, c, r);
    EXPECT_TRUE(std::isnan(r)) << bad;
  }
}

// Non-finite planes or probes never prove a side.
TEST(FastPredicates, NonFiniteNeverProves) {
  const double bad_values[] = {std::nan(""), INFINITY, -INFINITY};
  for (double bad : bad_values) {
    fast::Bound b;
    fast::add_to_bound(b, true, {{0, 0, 1}, 0}, {0, 0, 0});
    fast::add_to_bound(b, false, {{0, bad, 1}, 0}, {0, 0, 0});
    EXPECT_FALSE(b.ok) << bad;
    fast::Bound good;
    fast::add_to_bound(good, true, {{0, 0, 1}, 0}, {0, 0, 0});
    ASSERT_TRUE(good.ok);
    const Pnt far_back{0, 0, -10};
    EXPECT_EQ(fast::proves_point(good, bsp::BACK, far_back, 10, 0, 0), fast::PROVEN);
    const Pnt c{0, bad, -10};
    EXPECT_NE(fast::proves_point(good, bsp::BACK, c, 10, 0, 0), fast::PROVEN) << bad;
    // sphere_of gives NaN radii, never negative ones.
    if (!(bad < 0)) {
      EXPECT_NE(fast::proves_point(good, bsp::BACK, far_back, 10, bad, 0), fast::PROVEN) << bad;
      EXPECT_FALSE(
          fast::SphereTest(1, bsp::BACK, point_probe(far_back, bad)).proves({{0, 0, 1}, 0}));
    }
    // A leaf tests its planes only when its bound is ok (finite); even so,
    // what the test says of a non-finite plane is the class there.
    const Plane odd{{0, 0, bad}, 0};
    if (fast::SphereTest(1, bsp::BACK, point_probe(far_back, 0)).proves(odd)) {
      EXPECT_EQ(bsp::classify_point(odd, far_back), bsp::BACK) << bad;
    }
  }
}

// deep_back claims more than the class of q's vertices: the pieces cut
// from q, again and again (up to SKIP_RESUME_GEN_MAX - 1 times, crossings
// on the edges), are BACK of the plane too.
TEST(FastPredicates, DeepBackHoldsForPiecesCutLater) {
  Random rnd(13);
  bsp::VertexPool pool;
  bsp::SplitScratch scratch;
  int deep = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const double scale = rnd.log_uniform(1e-3, 1e3);
    const Pnt at = scaled(rnd.direction(), rnd.pick(2) == 0 ? 0.0 : rnd.log_uniform(1, 1e13));
    const Pnt n = rnd.direction();
    const Plane pl{n, gp::dot(n, at)};
    // A triangle just behind pl: its nearest corner within ulps to 1e-7 of
    // the slab.
    const double depth =
        EPS + (rnd.pick(2) == 0 ? rnd.log_uniform(1e-16, 1e-7) : rnd.log_uniform(1e-7, scale));
    const Pnt c = added(at, scaled(n, -depth));
    Pnt v[3] = {c, added(c, scaled(rnd.near(scaled(n, -1), 1.2), scale)),
                added(c, scaled(rnd.near(scaled(n, -1), 1.2), scale))};
    const Plane own{unit(gp::cross(gp::sub(v[1], v[0]), gp::sub(v[2], v[0]))), 0};
    fast::FPoly q{bsp::make_polygon(pool, v, own), {0, 0, 0}, 0.0, 0, {}, {}};
    fast::set_sphere(q);
    if (!fast::deep_back(pl, q, bsp::BACK)) {
      EXPECT_FALSE(fast::deep_back(pl, q, bsp::FRONT));
      continue;
    }
    ++deep;
    for (const Pnt& p : v) ASSERT_EQ(bsp::classify_point(pl, p), bsp::BACK);
    // Cut it through its middle again and again; every piece stays BACK.
    Polygon piece = bsp::copy_polygon(pool, q.p);
    for (unsigned gen = 1; gen < gp::SKIP_RESUME_GEN_MAX; ++gen) {
      Pnt mid{0, 0, 0};
      for (const Pnt& p : bsp::vertices_of(piece)) mid = added(mid, scaled(p, 1.0 / piece.count));
      const Pnt cn = rnd.direction();
      const Plane cut{cn, gp::dot(cn, mid)};
      if (bsp::classify_polygon(cut, piece, scratch) != bsp::SPANNING) continue;
      const bsp::SpanPieces pieces = bsp::split_spanning(cut, piece, pool, scratch);
      if (!pieces.crossings_on_edges || !(pieces.has_front || pieces.has_back)) break;
      for (const Polygon* part : {&pieces.front, &pieces.back}) {
        if (part == &pieces.front ? !pieces.has_front : !pieces.has_back) continue;
        for (const Pnt& p : bsp::vertices_of(*part)) {
          ASSERT_EQ(bsp::classify_point(pl, p), bsp::BACK)
              << "trial " << trial << " generation " << gen << " distance "
              << bsp::plane_distance(pl, p);
        }
      }
      pool.release(piece.vertices, piece.count);
      const bool front = pieces.has_front && (!pieces.has_back || rnd.pick(2) == 0);
      piece = front ? pieces.front : pieces.back;
      const Polygon other = front ? pieces.back : pieces.front;
      if (front ? pieces.has_back : pieces.has_front) pool.release(other.vertices, other.count);
    }
  }
  EXPECT_GT(deep, 100);
}

// The checking mode's one message form, naming the shortcut, the claim
// and the vertex that breaks it.
TEST(FastPredicates, CheckingModeNamesTheShortcutAndTheVertex) {
  bsp::VertexPool pool;
  const Pnt v[3] = {{0, 0, -1}, {1, 0, 0.5}, {0, 1, -1}};
  const Polygon poly = bsp::make_polygon(pool, v, {{0, 1, 0}, 0});
  const Plane pl{{0, 0, 1}, 0};
  try {
    fast::check_plane_side("leaf sphere test", pl, poly, bsp::BACK);
    FAIL() << "no fault";
  } catch (const gp::InternalFault& e) {
    EXPECT_STREQ(
        e.what(),
        "shortcut 'leaf sphere test' proved back at plane (0, 0, 1, 0) but vertex 1 is front");
  }
  EXPECT_NO_THROW(fast::check_plane_side("leaf sphere test", {{0, 0, 1}, 2}, poly, bsp::BACK));
  EXPECT_EQ(fast::proof_name("run group", fast::BY_CORNERS), "run group by corners");
}

}  // namespace
