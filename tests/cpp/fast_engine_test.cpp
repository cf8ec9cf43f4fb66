// The skipping engine against the literal one: every result compared bit for
// bit (vertices, triangle order) and every failure compared by message, on
// the boolean tests' own inputs and on seeded random solids.
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "brep_algo_api/booleans.h"
#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/sphere.h"
#include "bsp/csg.h"
#include "bsp/fast_tree.h"
#include "bsp/node.h"
#include "bsp/sequence.h"
#include "gp/fault.h"
#include "gp/trsf.h"
#include "gp/workers.h"
#include "mesh/tri_mesh.h"
#include "test_shapes.h"

using namespace quorvalind;
using bsp::CsgOp;
using bsp::Engine;
using mesh::TriMesh;

namespace {

struct Outcome {
  TriMesh mesh;
  std::string fault;  // empty: no fault
};

Outcome run(CsgOp op, const TriMesh& a, const TriMesh& b, Engine engine,
            const bsp::SkipOptions& skip = {}) {
  Outcome out;
  try {
    out.mesh = bsp::run_csg(op, bsp::convert_operands(a, b), {}, engine, skip);
  } catch (const gp::InternalFault& e) {
    out.fault = e.what();
  }
  return out;
}

// The skipping engine as the tests run it: every shortcut checked where it
// is taken, so that a wrong one is named ("shortcut '...' proved back at
// ... but vertex 2 is front") rather than found as a differing vertex; and,
// with every_chain, skipping and indexing from the shortest chains on, so
// that small solids take every path the large ones do.
bsp::SkipOptions checked(bool every_chain = false) {
  bsp::SkipOptions o;
  o.check_shortcuts = true;
  if (every_chain) {
    o.short_chain = 1;
    o.index_min = 2;
  }
  return o;
}

// Empty when the skipping engine agrees with the literal one to the bit,
// else what differs. (The default engine is one of the two.)
std::string difference(CsgOp op, const TriMesh& a, const TriMesh& b,
                       const bsp::SkipOptions& skip = checked()) {
  const Outcome fast = run(op, a, b, Engine::Skipping, skip);
  const Outcome lit = run(op, a, b, Engine::Literal);
  if (fast.fault != lit.fault) return "fault '" + fast.fault + "' vs '" + lit.fault + "'";
  if (fast.mesh.triangles.size() != lit.mesh.triangles.size()) {
    return "triangles " + std::to_string(fast.mesh.triangles.size()) + " vs " +
           std::to_string(lit.mesh.triangles.size());
  }
  if (fast.mesh.triangles != lit.mesh.triangles) return "triangle indices differ";
  for (std::size_t i = 0; i < fast.mesh.vertices.size(); ++i) {
    if (std::memcmp(&fast.mesh.vertices[i], &lit.mesh.vertices[i], sizeof(gp::Pnt)) != 0) {
      return "vertex " + std::to_string(i) + " differs";
    }
  }
  return {};
}

constexpr CsgOp OPS[] = {CsgOp::Union, CsgOp::Subtract, CsgOp::Intersect};
const char* op_name(CsgOp op) {
  return op == CsgOp::Union ? "union" : op == CsgOp::Subtract ? "subtract" : "intersect";
}

void expect_same_all_ops(const TriMesh& a, const TriMesh& b, const std::string& what,
                         const bsp::SkipOptions& skip = checked()) {
  for (CsgOp op : OPS) {
    EXPECT_EQ(difference(op, a, b, skip), "") << what << " " << op_name(op);
    EXPECT_EQ(difference(op, b, a, skip), "") << what << " " << op_name(op) << " swapped";
  }
}

TriMesh with_vertex(TriMesh m, std::size_t i, double x) {
  m.vertices[i].x = x;
  return m;
}

}  // namespace

// The boolean and tree tests' inputs, on both engines.
TEST(FastEngine, SameAsLiteralOnTheBooleanTestInputs) {
  using test_shapes::box;
  using test_shapes::moved;
  TriMesh degenerate;
  mesh::push_triangle(degenerate, {0, 0, 0}, {1, 0, 0}, {2, 0, 0});
  TriMesh bad_index = box(0, 0, 0, 1, 1, 1);
  bad_index.triangles[4][1] = 99;
  const struct {
    const char* what;
    TriMesh a, b;
  } cases[] = {
      {"disjoint boxes", box(0, 0, 0, 1, 1, 1), box(2, 0, 0, 3, 1, 1)},
      {"nested boxes", box(0.25, 0.25, 0.25, 0.75, 0.75, 0.75), box(0, 0, 0, 1, 1, 1)},
      {"box with itself", box(0, 0, 0, 1, 1, 1), box(0, 0, 0, 1, 1, 1)},
      {"overlapping boxes", box(0, 0, 0, 1, 1, 1), box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5)},
      {"shared face", box(0, 0, 0, 1, 1, 1), box(1, 0, 0, 2, 1, 1)},
      {"box minus cylinder", box(0, 0, 0, 2, 2, 2),
       moved(test_shapes::cylinder(64, 0.5, 3), 1, 1, -0.5)},
      {"spheres", test_shapes::sphere(16, 8, 1),
       moved(test_shapes::sphere(16, 8, 1), 0.5, 0.3, 0.2)},
      {"sphere and torus", test_shapes::sphere(16, 8, 1), test_shapes::torus(16, 1, 0.4)},
      {"degenerate operand", degenerate, box(0, 0, 0, 1, 1, 1)},
      {"empty operand", TriMesh{}, box(0, 0, 0, 1, 1, 1)},
      {"index fault", bad_index, box(0, 0, 0, 1, 1, 1)},
      {"NaN corner", with_vertex(box(0, 0, 0, 1, 1, 1), 3, NAN), box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5)},
      {"infinite corner", with_vertex(box(0, 0, 0, 1, 1, 1), 3, INFINITY),
       box(0.5, 0.5, 0.5, 2, 2, 2)},
      {"huge corner", with_vertex(box(0, 0, 0, 1, 1, 1), 3, 1e300), box(0.5, 0.5, 0.5, 2, 2, 2)},
      {"tiny corner", with_vertex(box(0, 0, 0, 1, 1, 1), 3, 1e-300), box(0.5, 0.5, 0.5, 2, 2, 2)},
  };
  for (bool every_chain : {false, true}) {
    const bsp::SkipOptions skip = checked(every_chain);
    const std::string how = every_chain ? " (every chain skipped)" : "";
    for (const auto& c : cases) expect_same_all_ops(c.a, c.b, c.what + how, skip);
    // Faces at about 1e-7 rad to their neighbours: splits cut at the plane.
    const TriMesh tilted = test_shapes::tilted_float_cube();
    expect_same_all_ops(tilted, box(5000, 5000, 5000, 5100, 5100, 5100), "tilted far" + how, skip);
    expect_same_all_ops(tilted, tilted, "tilted self" + how, skip);
    expect_same_all_ops(tilted, moved(tilted, 61, 43, 29), "tilted shifted" + how, skip);
    // Far from the origin, where triangles classify off their own planes.
    for (double offset : {1e9, 1e12, 1e15}) {
      const TriMesh cyl = moved(test_shapes::cylinder(64, 0.5, 3), offset, 0, 0);
      const TriMesh b = moved(box(0, 0, 0, 1, 1, 1), offset, 0, 0);
      expect_same_all_ops(cyl, b, "far " + std::to_string(offset) + how, skip);
      expect_same_all_ops(cyl, cyl, "far self " + std::to_string(offset) + how, skip);
    }
  }
}

// Seeded random solids: boxes, cylinders, spheres and tori, rotated,
// scaled and placed at random, with shared faces, coplanar grids, nesting,
// identical operands, degenerate shapes and huge offsets mixed in.
namespace {

class RandomCases {
 public:
  explicit RandomCases(std::uint64_t seed) : rng_(seed) {}

  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  TriMesh shape() {
    switch (pick(4)) {
      case 0:
        return brep_prim_api::make_box({0, 0, 0}, uniform(0.2, 2), uniform(0.2, 2),
                                       uniform(0.2, 2));
      case 1: return brep_prim_api::make_cylinder(8 + pick(17), uniform(0.2, 1), uniform(0.2, 2));
      case 2: return brep_prim_api::make_sphere(8 + pick(9), 4 + pick(5), uniform(0.3, 1.2));
      default: return brep_prim_api::make_torus(8 + pick(9), uniform(0.6, 1.2), uniform(0.1, 0.5));
    }
  }

  gp::Trsf placement() {
    gp::Trsf t = gp::scale_uniform(uniform(0.5, 1.5));
    if (pick(3) == 0) t = gp::scale_xyz(uniform(0.3, 2), uniform(0.3, 2), uniform(0.3, 2));
    if (pick(3) != 0) {
      const gp::Ax1 axis = gp::make_ax1({uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)},
                                        {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)});
      t = gp::then(t, gp::rotation(axis, uniform(0, 6.3)));
    }
    return gp::then(t, gp::translation({uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)}));
  }

  static TriMesh placed(TriMesh m, const gp::Trsf& t) {
    mesh::transform(m, t);
    return m;
  }

  // One pair of operands; `kind` names the family for failure messages.
  void pair(TriMesh& a, TriMesh& b, std::string& kind) {
    switch (pick(8)) {
      case 0: {  // coplanar contacts: boxes on a half-unit grid
        kind = "grid boxes";
        auto g = [&] { return 0.5 * pick(4); };
        const double x = g(), y = g(), z = g();
        a = brep_prim_api::make_box({x, y, z}, 0.5 + g(), 0.5 + g(), 0.5 + g());
        const double u = g(), v = g(), w = g();
        b = brep_prim_api::make_box({u, v, w}, 0.5 + g(), 0.5 + g(), 0.5 + g());
        return;
      }
      case 1: {  // shared face, both placed by the same motion
        kind = "shared face";
        const gp::Trsf t = placement();
        const double w = uniform(0.3, 1.5);
        a = placed(brep_prim_api::make_box({0, 0, 0}, w, 1, 1), t);
        b = placed(brep_prim_api::make_box({w, uniform(-0.5, 0.5), 0}, 1, 1, uniform(0.5, 1.5)), t);
        return;
      }
      case 2: {  // an operand with itself, or a copy moved a little
        kind = "self";
        a = placed(shape(), placement());
        b = pick(2) == 0 ? a
                         : placed(a, gp::translation({uniform(-0.1, 0.1), 0, uniform(-0.1, 0.1)}));
        return;
      }
      case 3: {  // nested: the same shape shrunk about its middle
        kind = "nested";
        const TriMesh s = shape();
        const gp::Trsf t = placement();
        a = placed(s, t);
        b = placed(s,
                   gp::then(gp::then(gp::translation({-0.5, -0.5, -0.5}), gp::scale_uniform(0.5)),
                            gp::then(gp::translation({0.5, 0.5, 0.5}), t)));
        return;
      }
      case 4: {  // huge offsets
        kind = "huge offset";
        const double off = std::pow(10.0, uniform(5, 15));
        const gp::Trsf far = gp::translation({off, pick(2) * off, 0});
        a = placed(placed(shape(), placement()), far);
        b = placed(placed(shape(), placement()), far);
        return;
      }
      case 5: {  // a degenerate (flattened) operand
        kind = "flat";
        a = placed(shape(), placement());
        b = placed(shape(), gp::then(placement(), gp::scale_xyz(1, 1, 0)));
        return;
      }
      default:
        kind = "random";
        a = placed(shape(), placement());
        b = placed(shape(), placement());
        return;
    }
  }

 private:
  std::mt19937_64 rng_;
};

// The full count normally; fewer under the sanitizers, whose build runs the
// same cases about twenty times slower.
int random_case_count() {
#ifdef __SANITIZE_ADDRESS__
  return 1000;
#else
  return std::getenv("QUORVALIND_SANITIZED") != nullptr ? 1000 : 10000;
#endif
}

}  // namespace

static void expect_random_cases_same(std::uint64_t seed, int count, const bsp::SkipOptions& skip) {
  RandomCases gen(seed);
  int failures = 0;
  for (int i = 0; i < count && failures < 10; ++i) {
    TriMesh a, b;
    std::string kind;
    gen.pair(a, b, kind);
    const CsgOp op = OPS[i % 3];
    const std::string d = difference(op, a, b, skip);
    if (!d.empty()) ++failures;
    EXPECT_EQ(d, "") << "case " << i << " (" << kind << ", " << op_name(op) << ")";
  }
}

TEST(FastEngine, SameAsLiteralOnSeededRandomSolids) {
  expect_random_cases_same(20261208, random_case_count(), checked());
}

// The same families with every chain skipped and indexed, where the
// spatial index, its rebuilds and the tail walk meet chains of every length.
TEST(FastEngine, SameAsLiteralOnSeededRandomSolidsWithEveryChainSkipped) {
  expect_random_cases_same(20261209, random_case_count() / 2, checked(true));
}

// The skip bounds must still see every classification that matters on
// large convex solids: far fewer classifications, the same result.
TEST(FastEngine, SameAsLiteralOnDenseSpheres) {
  const TriMesh a = test_shapes::sphere(48, 24, 1);
  const TriMesh b = test_shapes::moved(a, 0.5, 0.3, 0.2);
  for (CsgOp op : OPS) EXPECT_EQ(difference(op, a, b), "") << op_name(op);
  const TriMesh t = test_shapes::torus(48, 1, 0.4);
  for (CsgOp op : OPS) EXPECT_EQ(difference(op, a, t), "") << op_name(op) << " torus";
}

namespace {

struct LiteralSteps {
  bsp::Workspace& ws;
  void clip_to(bsp::Node& x, const bsp::Node& y) { bsp::clip_to(x, y, ws); }
  void invert(bsp::Node& x) { bsp::invert(x, ws); }
  void absorb(bsp::Node& x, bsp::Node& y) { bsp::build(x, bsp::take_all_polygons(y, ws), ws); }
};

// Empty when the two lists hold the same polygons in the same order, planes
// and vertices equal bit for bit; else the first difference.
std::string list_difference(const bsp::PolygonList& got, const bsp::PolygonList& want) {
  if (got.size() != want.size())
    return std::to_string(got.size()) + " vs " + std::to_string(want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (!bsp::same_plane_bits(got[i].plane, want[i].plane)) return "plane of " + std::to_string(i);
    if (got[i].count != want[i].count ||
        std::memcmp(got[i].vertices, want[i].vertices, got[i].count * sizeof(gp::Pnt)) != 0) {
      return "vertices of " + std::to_string(i);
    }
  }
  return {};
}

}  // namespace

// The final absorb leaves the skipping engine's polygons as plane ids and
// vertex lists, which invert turns afterwards (subtract, intersect): the
// polygons it hands back, planes included, are still the literal engine's
// bit for bit, on one thread and on two.
TEST(FastEngine, ResultPolygonsSameAsLiteralWithTheirPlanes) {
  const TriMesh s = test_shapes::sphere(32, 16, 1);
  const TriMesh others[] = {test_shapes::moved(s, 0.5, 0.3, 0.2), test_shapes::torus(32, 1, 0.4),
                            test_shapes::box(-0.5, -0.5, -0.5, 0.7, 0.6, 2)};
  for (const TriMesh& b : others) {
    for (CsgOp op : OPS) {
      bsp::OperandPolygons l = bsp::convert_operands(s, b);
      bsp::Workspace lws(std::move(l.pool));
      bsp::Node A, B;
      bsp::build(A, std::move(l.a), lws);
      bsp::build(B, std::move(l.b), lws);
      LiteralSteps steps{lws};
      bsp::tree_sequence(op, steps, A, B);
      const bsp::PolygonList want = bsp::take_all_polygons(A, lws);
      ASSERT_FALSE(want.empty()) << op_name(op);
      for (unsigned threads : {1u, 2u}) {
        bsp::SkipOptions o = checked(true);
        o.threads = threads;
        o.round_min = 4;
        bsp::OperandPolygons f = bsp::convert_operands(s, b);
        bsp::Workspace fws(std::move(f.pool));
        const bsp::PolygonList got = bsp::fast_sequence(op, std::move(f.a), std::move(f.b), fws, o);
        EXPECT_EQ(list_difference(got, want), "") << op_name(op) << " threads " << threads;
      }
      bsp::give_back_lists(A, lws);
      bsp::give_back_lists(B, lws);
    }
  }
}

// Pieces cut again and again along long chains take up their parent's
// index search; far from the origin the crossing points round by more
// than PLANE_EPSILON, and a piece must still meet every node the literal
// walk would. Spheres dense enough to be indexed, at growing offsets and
// scales: overlapping, a sliver-thin overlap, and one turned against the
// other.
TEST(FastEngine, SameAsLiteralOnDenseSpheresFarAway) {
  using test_shapes::moved;
  for (double offset : {0.0, 1e9, 1e11, 1e13}) {
    for (double scale : {1.0, 1e3}) {
      const TriMesh a = moved(test_shapes::sphere(24, 12, scale), offset, -offset, offset);
      TriMesh turned = test_shapes::sphere(24, 12, scale);
      mesh::transform(turned, gp::rotation(gp::make_ax1({0, 0, 0}, {1, 2, 3}), 0.3));
      const std::string what =
          "offset " + std::to_string(offset) + " scale " + std::to_string(scale);
      expect_same_all_ops(a, moved(a, 0.4 * scale, 0.3 * scale, 0.2 * scale), what);
      expect_same_all_ops(a, moved(a, 1.999 * scale, 0, 0), what + " sliver");
      expect_same_all_ops(a, moved(turned, offset, -offset, offset), what + " turned");
    }
  }
}

// A fresh tree's back chain is indexed ahead of time over the operand's
// triangles in input order; the index holds while they make that chain one
// after another (a convex operand; triangles coplanar with an earlier one
// join its node instead), and must be let go, soundly, wherever the
// operand parts from it: two spheres in one operand, the same with every
// triangle cut in three coplanar ones, a torus, a sphere with its
// triangles shuffled, and a concave cup (a sphere less a smaller one).
TEST(FastEngine, SameAsLiteralOnDenseOperandsThatAreNotOneConvexChain) {
  using test_shapes::moved;
  using test_shapes::sphere;
  const auto joined = [](TriMesh a, const TriMesh& b) {
    const std::uint32_t base = static_cast<std::uint32_t>(a.vertices.size());
    a.vertices.insert(a.vertices.end(), b.vertices.begin(), b.vertices.end());
    for (auto t : b.triangles) a.triangles.push_back({t[0] + base, t[1] + base, t[2] + base});
    return a;
  };
  const auto in_threes = [](const TriMesh& m) {  // a fan about each triangle's centroid
    TriMesh out;
    for (const auto& t : m.triangles) {
      const gp::Pnt a = m.vertices[t[0]], b = m.vertices[t[1]], c = m.vertices[t[2]];
      const gp::Pnt g{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
      mesh::push_triangle(out, a, b, g);
      mesh::push_triangle(out, b, c, g);
      mesh::push_triangle(out, c, a, g);
    }
    return out;
  };
  TriMesh shuffled = sphere(32, 16, 1);
  std::shuffle(shuffled.triangles.begin(), shuffled.triangles.end(), std::mt19937_64(7));
  const TriMesh cup =
      bsp::run_csg(CsgOp::Subtract,
                   bsp::convert_operands(sphere(32, 16, 1), moved(sphere(24, 12, 0.8), 0, 0, 0.5)),
                   {}, Engine::Literal);
  const struct {
    const char* what;
    TriMesh operand;
  } cases[] = {
      {"two spheres", joined(sphere(24, 12, 0.6), moved(sphere(24, 12, 0.6), 1.5, 0, 0))},
      {"two spheres in threes",
       in_threes(joined(sphere(16, 8, 0.6), moved(sphere(16, 8, 0.6), 0.9, 0.2, 0)))},
      {"torus", test_shapes::torus(32, 1, 0.4)},
      {"shuffled sphere", shuffled},
      {"cup", cup},
  };
  const TriMesh other = moved(sphere(32, 16, 1), 0.5, 0.3, 0.2);
  for (const auto& c : cases) expect_same_all_ops(c.operand, other, c.what);
}

// The default engine's choice: many polygons over few planes (fused
// cylinders sharing their caps) and many polygons away from a small
// operand (a field of posts, one of them cut) stay on the literal walk;
// two dense spheres, whose literal work grows with the product of their
// sizes, do not.
TEST(FastEngine, DefaultChoosesByEstimatedWork) {
  using namespace test_shapes;
  auto append = [](mesh::TriMesh& to, const mesh::TriMesh& c) {
    const std::uint32_t base = static_cast<std::uint32_t>(to.vertices.size());
    to.vertices.insert(to.vertices.end(), c.vertices.begin(), c.vertices.end());
    for (auto t : c.triangles) to.triangles.push_back({t[0] + base, t[1] + base, t[2] + base});
  };
  mesh::TriMesh row = cylinder(64, 0.5, 1);
  for (int i = 1; i < 40; ++i) append(row, moved(cylinder(64, 0.5, 1), 0.8 * i, 0, 0));
  const mesh::TriMesh cyl = cylinder(64, 0.5, 1);
  EXPECT_FALSE(bsp::prefers_skipping(bsp::convert_operands(row, cyl)));
  EXPECT_FALSE(bsp::prefers_skipping(bsp::convert_operands(cyl, cyl)));
  // 400 posts on planes of their own: counted whole (every polygon times
  // every plane of the other), over 10 million.
  mesh::TriMesh field;
  for (int i = 0; i < 20; ++i) {
    for (int j = 0; j < 20; ++j) append(field, moved(cylinder(64, 0.5, 1), 2.0 * i, 2.0 * j, 0));
  }
  const mesh::TriMesh cutter = moved(cylinder(64, 0.3, 3), 0.4, 0, -1);
  EXPECT_FALSE(bsp::prefers_skipping(bsp::convert_operands(field, cutter)));
  EXPECT_FALSE(bsp::prefers_skipping(bsp::convert_operands(cutter, field)));
  for (const int segments : {48, 64}) {
    const mesh::TriMesh s = sphere(segments, segments / 2, 1.0);
    const mesh::TriMesh t = moved(sphere(segments, segments / 2, 1.0), 0.5, 0.3, 0.2);
    EXPECT_TRUE(bsp::prefers_skipping(bsp::convert_operands(s, t))) << segments;
    EXPECT_TRUE(bsp::prefers_skipping(bsp::convert_operands(t, s))) << segments;
  }
}

// A polygon clipped whole by a tree and clipped by it again after an
// invert may take the first walk's exit only where no node on its path
// has its new plane. An operand against its own triangles turned inside
// out has, on every path, the node whose plane is a polygon's negation;
// far from the origin the corners round off their plane by more than
// PLANE_EPSILON, so the first walk need not have been COPLANAR there.
TEST(FastEngine, SameAsLiteralAgainstTheSameTrianglesTurned) {
  using test_shapes::moved;
  const auto turned = [](TriMesh m) {
    for (auto& t : m.triangles) std::swap(t[1], t[2]);
    return m;
  };
  for (bool every_chain : {false, true}) {
    const bsp::SkipOptions skip = checked(every_chain);
    for (double offset : {0.0, 1e9, 1e13}) {
      const TriMesh a = moved(test_shapes::sphere(24, 12, 1), offset, -offset, offset);
      const std::string what =
          "offset " + std::to_string(offset) + (every_chain ? " (every chain)" : "");
      expect_same_all_ops(a, turned(a), what, skip);
      expect_same_all_ops(a, moved(turned(a), 0.25, 0, 0), what + " moved", skip);
    }
  }
}

// ---- Several threads --------------------------------------------------------

namespace {

int refuse_to_start(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }

bsp::FlatPolygons flat_on(CsgOp op, const TriMesh& a, const TriMesh& b, bsp::SkipOptions skip,
                          unsigned threads) {
  skip.threads = threads;
  return bsp::run_csg_flat(op, bsp::convert_operands(a, b), {}, Engine::Skipping, skip);
}

// Empty when both results are the same to the bit, else what differs.
std::string flat_difference(const bsp::FlatPolygons& x, const bsp::FlatPolygons& y) {
  if (x.counts != y.counts) {
    return "polygon counts differ (" + std::to_string(x.counts.size()) + " vs " +
           std::to_string(y.counts.size()) + " polygons)";
  }
  for (std::size_t i = 0; i < x.vertices.size(); ++i) {
    if (std::memcmp(&x.vertices[i], &y.vertices[i], sizeof(gp::Pnt)) != 0) {
      return "vertex " + std::to_string(i) + " differs";
    }
  }
  return {};
}

// The result of every thread count against the one-thread run.
std::string thread_difference(CsgOp op, const TriMesh& a, const TriMesh& b,
                              const bsp::SkipOptions& skip = {}) {
  const bsp::FlatPolygons one = flat_on(op, a, b, skip, 1);
  for (unsigned threads : {2u, 3u}) {
    const std::string d = flat_difference(flat_on(op, a, b, skip, threads), one);
    if (!d.empty()) return std::to_string(threads) + " threads: " + d;
  }
  return {};
}

bool same_mesh_bits(const TriMesh& x, const TriMesh& y) {
  return x.triangles == y.triangles && x.vertices.size() == y.vertices.size() &&
         std::memcmp(x.vertices.data(), y.vertices.data(), x.vertices.size() * sizeof(gp::Pnt)) ==
             0;
}

}  // namespace

TEST(FastEngineThreads, SameOnSeededRandomSolids) {
  RandomCases gen(20261210);
  const int count = random_case_count() / 5;
  int failures = 0;
  for (int i = 0; i < count && failures < 10; ++i) {
    TriMesh a, b;
    std::string kind;
    gen.pair(a, b, kind);
    const CsgOp op = OPS[i % 3];
    // Builds in rounds of a few inputs; every other case with every chain
    // skipped and indexed: the replays and resumed searches then run on
    // many lists at once.
    bsp::SkipOptions skip = i % 2 == 0 ? bsp::SkipOptions{} : checked(true);
    skip.round_min = 1 + i % 8;
    const std::string d = thread_difference(op, a, b, skip);
    if (!d.empty()) ++failures;
    EXPECT_EQ(d, "") << "case " << i << " (" << kind << ", " << op_name(op) << ")";
  }
}

// The benchmark's kinds of operand, smaller: a box and a cylinder, two
// spheres, a sphere and a torus (every op, both orders).
TEST(FastEngineThreads, SameOnBenchmarkLikeSolids) {
  using test_shapes::moved;
  const TriMesh box = test_shapes::box(0, 0, 0, 2, 2, 2);
  const TriMesh cyl = moved(test_shapes::cylinder(64, 0.5, 3), 1, 1, -0.5);
  const TriMesh s = test_shapes::sphere(48, 24, 1.0);
  const TriMesh s2 = moved(s, 0.5, 0.3, 0.2);
  const TriMesh tor = test_shapes::torus(64, 1.0, 0.4);
  const std::pair<const TriMesh*, const TriMesh*> pairs[] = {{&box, &cyl}, {&s, &s2}, {&s, &tor}};
  for (const auto& [a, b] : pairs) {
    for (CsgOp op : OPS) {
      EXPECT_EQ(thread_difference(op, *a, *b), "") << op_name(op);
      EXPECT_EQ(thread_difference(op, *b, *a), "") << op_name(op) << " swapped";
    }
  }
}

// The whole public operation, weld included, through the thread count that
// the Python module sets: a fuse_all of a grid of cylinders and a sphere
// pair large enough for the default engine to skip.
TEST(FastEngineThreads, PublicBooleansSameForEveryThreadCount) {
  using test_shapes::moved;
  std::vector<topods::Solid> grid;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      grid.push_back(topods::Solid{moved(test_shapes::cylinder(64, 0.5, 1), 0.8 * i, 0.8 * j, 0)});
  const topods::Solid s1{test_shapes::sphere(64, 32, 1.0)};
  const topods::Solid s2{moved(test_shapes::sphere(64, 32, 1.0), 0.5, 0.3, 0.2)};
  const auto all = [&] {
    return std::vector<TriMesh>{brep_algo_api::fuse_all(grid).mesh,
                                brep_algo_api::fuse(s1, s2).mesh, brep_algo_api::cut(s1, s2).mesh,
                                brep_algo_api::common(s1, s2).mesh};
  };
  gp::set_worker_threads(1);
  const std::vector<TriMesh> one = all();
  for (unsigned threads : {2u, 4u}) {
    gp::set_worker_threads(threads);
    const std::vector<TriMesh> many = all();
    for (std::size_t i = 0; i < one.size(); ++i) {
      EXPECT_FALSE(one[i].triangles.empty()) << i;
      EXPECT_TRUE(same_mesh_bits(many[i], one[i])) << threads << " threads, operation " << i;
    }
  }
  gp::set_worker_threads(0);
}

// Helpers that cannot be started are done without: the calling thread
// does their share, with the same result.
TEST(FastEngineThreads, HelpersThatDoNotStartChangeNothing) {
  using test_shapes::moved;
  const TriMesh s = test_shapes::sphere(32, 16, 1.0);
  const TriMesh t = moved(s, 0.5, 0.3, 0.2);
  bsp::SkipOptions refused;
  refused.start = &refuse_to_start;
  for (CsgOp op : OPS) {
    EXPECT_EQ(flat_difference(flat_on(op, s, t, refused, 4), flat_on(op, s, t, {}, 1)), "")
        << op_name(op);
  }
}

// A task's fault, on whichever thread, reaches the caller after every
// thread has stopped, the lowest failing task's when several fail; the
// team then runs the next step whole.
TEST(FastEngineThreads, TeamRethrowsTheLowestTaskFault) {
  gp::WorkerTeam team(3);
  for (int round = 0; round < 3; ++round) {
    std::atomic<int> ran{0};
    try {
      team.run(64, [&](std::size_t i, unsigned member) {
        EXPECT_LT(member, team.size());
        ++ran;
        if (i == 5 || i == 40) throw gp::InternalFault("task " + std::to_string(i));
      });
      ADD_FAILURE() << "no fault";
    } catch (const gp::InternalFault& e) {
      // The lowest failing task's fault when both ran, else the one that did.
      const std::string what = e.what();
      EXPECT_TRUE(what == "task 5" || what == "task 40") << what;
      if (ran.load() == 64) {
        EXPECT_EQ(what, "task 5");
      }
    }
    // The team is whole again: every task of the next run runs once.
    std::vector<std::atomic<int>> seen(100);
    team.run(seen.size(), [&](std::size_t i, unsigned) { ++seen[i]; });
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].load(), 1) << i;
  }
}
