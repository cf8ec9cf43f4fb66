// Plane split, tree shape and tree walks of the BSP engine.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bsp/csg.h"
#include "bsp/node.h"
#include "bsp/polygon.h"
#include "gp/fault.h"
#include "reference_engine.h"
#include "test_shapes.h"

using namespace quorvalind;
using bsp::Plane;
using bsp::Polygon;
using bsp::PolygonList;
using gp::Pnt;

namespace {

std::vector<Pnt> verts(const Polygon& p) {
  auto s = bsp::vertices_of(p);
  return {s.begin(), s.end()};
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_bits(const Pnt& a, const Pnt& b) {
  return same_bits(a.x, b.x) && same_bits(a.y, b.y) && same_bits(a.z, b.z);
}

bool same_bits(const Plane& a, const Plane& b) {
  return same_bits(a.normal, b.normal) && same_bits(a.w, b.w);
}

bool same_polygon(const Polygon& a, const Polygon& b) {
  if (a.count != b.count || !same_bits(a.plane, b.plane)) return false;
  for (std::uint32_t i = 0; i < a.count; ++i) {
    if (!same_bits(a.vertices[i], b.vertices[i])) return false;
  }
  return true;
}

void expect_points(const std::vector<Pnt>& got, const std::vector<Pnt>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_TRUE(same_bits(got[i], want[i]))
        << "vertex " << i << ": (" << got[i].x << ", " << got[i].y << ", " << got[i].z << ")";
  }
}

const Plane kXY{{0, 0, 1}, 0};

struct Lists {
  PolygonList cf, cb, f, b;
};

Lists split(const Plane& plane, const Polygon& p, bsp::Workspace& ws) {
  Lists l;
  bsp::split_polygon(plane, p, l.cf, l.cb, l.f, l.b, ws.pool, ws.scratch);
  return l;
}

Plane neg(const Plane& p) { return {{-p.normal.x, -p.normal.y, -p.normal.z}, -p.w}; }

// The literal engine's tree operations on node.h's API directly, B's
// polygons copied by all_polygons as the sequences are defined.
struct NodeOps {
  bsp::Workspace& ws;
  void clip_to(bsp::Node& x, const bsp::Node& y) { bsp::clip_to(x, y, ws); }
  void invert(bsp::Node& x) { bsp::invert(x, ws); }
  void absorb(bsp::Node& x, const bsp::Node& y) { bsp::build(x, bsp::all_polygons(y, ws), ws); }
};

}  // namespace

// ---- Polygons -----------------------------------------------------------

TEST(MeshToPolygons, PlanesAndDegenerateTriangles) {
  mesh::TriMesh m;
  mesh::push_triangle(m, {0, 0, 0}, {1, 0, 0}, {2, 0, 0});  // collinear: dropped
  mesh::push_triangle(m, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  mesh::push_triangle(m, {0, 0, 5}, {1, 0, 5}, {0, 1, 5});
  mesh::push_triangle(m, {0, 0, 0}, {1e-7, 0, 0}, {0, 1e-6, 0});  // |N| = 1e-13: dropped
  mesh::push_triangle(m, {NAN, 0, 0}, {1, 0, 0}, {0, 1, 0});      // NaN length: kept
  bsp::VertexPool pool;
  const PolygonList ps = bsp::mesh_to_polygons(m, pool);
  ASSERT_EQ(ps.size(), 3u);
  EXPECT_TRUE(same_bits(ps[0].plane, Plane{{0, 0, 1}, 0}));
  EXPECT_TRUE(same_bits(ps[1].plane, Plane{{0, 0, 1}, 5}));
  expect_points(verts(ps[1]), {{0, 0, 5}, {1, 0, 5}, {0, 1, 5}});
  EXPECT_TRUE(std::isnan(ps[2].plane.w));
}

TEST(MeshToPolygons, BadIndexIsAFault) {
  mesh::TriMesh m;
  mesh::push_triangle(m, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  m.triangles.push_back({0, 1, 9});
  bsp::VertexPool pool;
  try {
    bsp::mesh_to_polygons(m, pool);
    FAIL();
  } catch (const gp::InternalFault& e) {
    EXPECT_STREQ(e.what(), "index out of bounds: the len is 3 but the index is 9");
  }
}

struct ThresholdCase {
  double z;
  std::uint8_t cls;
};

TEST(Classify, Thresholds) {
  const ThresholdCase cases[] = {
      {1e-7, bsp::COPLANAR},      {-1e-7, bsp::COPLANAR},     {0.0, bsp::COPLANAR},
      {1.0000001e-7, bsp::FRONT}, {-1.0000001e-7, bsp::BACK}, {NAN, bsp::COPLANAR},
      {INFINITY, bsp::FRONT},     {-INFINITY, bsp::BACK},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bsp::classify_point(kXY, {3, 4, c.z}), c.cls) << c.z;
  }
}

// The polygon classifier (distances two at a time, ORed compare masks) gives
// exactly the classes of the one-point form, NaN and thresholds included.
TEST(Classify, PolygonAgreesWithPoints) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double special[] = {0.0, -0.0, 1e-7, -1e-7, 1.0000001e-7, NAN, INFINITY, -INFINITY, 1e300};
  bsp::Workspace ws;
  int spanning = 0;
  for (int iter = 0; iter < 20000; ++iter) {
    const std::uint32_t n = 1 + iter % 40;
    std::vector<Pnt> pts(n);
    for (Pnt& p : pts) {
      p = {u(rng), u(rng), u(rng) * 1e-6};
      if (rng() % 16 == 0) p.z = special[rng() % 9];
    }
    const Plane plane{{u(rng) * 1e-3, u(rng) * 1e-3, 1.0}, u(rng) * 1e-7};
    const Polygon poly = bsp::make_polygon(ws.pool, pts, kXY);
    const std::uint8_t got = bsp::classify_polygon(plane, poly, ws.scratch);
    unsigned want = 0;
    for (const Pnt& p : pts) want |= bsp::classify_point(plane, p);
    ASSERT_EQ(got, want) << iter;
    if (got == bsp::SPANNING) {
      ++spanning;
      for (std::uint32_t k = 0; k < n; ++k)
        ASSERT_EQ(ws.scratch.classes[k], bsp::classify_point(plane, pts[k]));
    }
  }
  EXPECT_GT(spanning, 1000);
}

TEST(Split, SquareAcrossPlane) {
  bsp::Workspace ws;
  const Pnt sq[] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  const Polygon p = bsp::make_polygon(ws.pool, sq, kXY);
  const Lists l = split({{1, 0, 0}, 1}, p, ws);
  ASSERT_EQ(l.f.size(), 1u);
  ASSERT_EQ(l.b.size(), 1u);
  EXPECT_TRUE(l.cf.empty() && l.cb.empty());
  expect_points(verts(l.f[0]), {{1, 0, 0}, {2, 0, 0}, {2, 2, 0}, {1, 2, 0}});
  expect_points(verts(l.b[0]), {{0, 0, 0}, {1, 0, 0}, {1, 2, 0}, {0, 2, 0}});
  EXPECT_TRUE(same_bits(l.f[0].plane, kXY));
  EXPECT_TRUE(same_bits(l.b[0].plane, kXY));
  expect_points(verts(p), {sq[0], sq[1], sq[2], sq[3]});  // input untouched
}

TEST(Split, WholeCopiesAndCoplanarSides) {
  bsp::Workspace ws;
  const Pnt tri[] = {{0, 0, 0}, {1, 0, 1}, {0, 1, 1}};  // one corner on z=0, two above
  const Polygon p =
      bsp::make_polygon(ws.pool, tri, {{0, -0.7071067811865475, 0.7071067811865475}, 0});
  Lists l = split(kXY, p, ws);
  ASSERT_EQ(l.f.size(), 1u);
  EXPECT_TRUE(l.b.empty() && l.cf.empty() && l.cb.empty());
  EXPECT_TRUE(same_polygon(l.f[0], p));
  EXPECT_NE(l.f[0].vertices, p.vertices);  // a copy, not a share

  const Pnt flat[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const Polygon up = bsp::make_polygon(ws.pool, flat, kXY);
  const Polygon down = bsp::make_polygon(ws.pool, flat, {{0, 0, -1}, 0});
  EXPECT_EQ(split({{0, 0, 1}, 1e-8}, up, ws).cf.size(), 1u);
  EXPECT_EQ(split({{0, 0, 1}, 1e-8}, down, ws).cb.size(), 1u);
  // A perpendicular normal (dot 0) is not "same way": coplanar back.
  EXPECT_EQ(
      split({{1, 0, 0}, 0},
            bsp::make_polygon(ws.pool, std::vector<Pnt>{{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}, kXY), ws)
          .cb.size(),
      1u);
}

TEST(Split, CornerOnPlaneGivesTwoTriangles) {
  bsp::Workspace ws;
  const Pnt tri[] = {{0, 0, 0}, {1, -1, 0}, {1, 1, 0}};
  const Lists l = split({{0, 1, 0}, 0}, bsp::make_polygon(ws.pool, tri, kXY), ws);
  ASSERT_EQ(l.f.size(), 1u);
  ASSERT_EQ(l.b.size(), 1u);
  expect_points(verts(l.f[0]), {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
  expect_points(verts(l.b[0]), {{0, 0, 0}, {1, -1, 0}, {1, 0, 0}});
}

TEST(Split, OwnPlaneIsAlwaysCoplanar) {
  // Vertices far off the recorded plane, as rounding produces at 1e9 and up.
  bsp::Workspace ws;
  const Pnt tri[] = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
  const Polygon p = bsp::make_polygon(ws.pool, tri, kXY);
  EXPECT_EQ(split(kXY, p, ws).cf.size(), 1u);
  // Equal in value but not in bits (-0): classified by its vertices.
  EXPECT_EQ(split({{-0.0, 0, 1}, 0}, p, ws).f.size(), 1u);
  const Polygon q = bsp::make_polygon(ws.pool, tri, {{NAN, 0, 1}, 0});
  EXPECT_EQ(split(q.plane, q, ws).cb.size(), 1u);  // NaN . n is not > 0
}

TEST(Split, NaNVertexCountsAsCoplanar) {
  bsp::Workspace ws;
  const Pnt tri[] = {{0, 0, NAN}, {1, 0, 1}, {0, 1, -1}};
  const Lists l = split(kXY, bsp::make_polygon(ws.pool, tri, {{0, 1, 0}, 0}), ws);
  // Classes: NaN coplanar, front, back. Edge 1->2 spans: d = -2, point (0.5,0.5,0).
  ASSERT_EQ(l.f.size(), 1u);
  ASSERT_EQ(l.b.size(), 1u);
  ASSERT_EQ(l.f[0].count, 3u);
  EXPECT_TRUE(std::isnan(l.f[0].vertices[0].z));
  expect_points({l.f[0].vertices[1], l.f[0].vertices[2]}, {{1, 0, 1}, {0.5, 0.5, 0}});
}

// Twice the vector area of a polygon (sum of its fan's cross products).
Pnt twice_area(const Polygon& p) {
  Pnt s{0, 0, 0};
  for (std::uint32_t k = 1; k + 1 < p.count; ++k) {
    s = gp::add(s, gp::cross(gp::sub(p.vertices[k], p.vertices[0]),
                             gp::sub(p.vertices[k + 1], p.vertices[0])));
  }
  return s;
}

TEST(Split, PlaneAtATinyAngleCutsIntoTiles) {
  // A quad piece of a scanned part scaled to 1,000 units, cut by the plane
  // of a neighbouring face 5e-8 rad off its own. Corners 1 and 0 lie beyond
  // the slab on either side, corners 2 and 3 inside it (t = 1.1e-9 and
  // -9.4e-8) but off the line where the plane crosses: the slab's pieces
  // [p01 1 2 3] and [0 p01 2 3] both held the triangle (p01 2 3), 11 % of
  // the quad, and a whole tree kept 2,270 cubic units of surface twice.
  bsp::Workspace ws;
  const Plane cut{{-6.4812049342451758e-08, -0.81798319519872964, -0.5752421163062319},
                  423.41351719425109};
  const Plane own{{-1.1432835400259687e-07, -0.81798318009274407, -0.5752421377866439},
                  423.41352522786156};
  const Pnt quad[] = {{-181.32747136939437, -351.9449960039683, -235.6023812327243},
                      {-163.82270257216462, -351.94499560551139, -235.60238527836404},
                      {-172.01842914500975, -356.97318197721478, -228.45240000215614},
                      {-173.32875611378563, -356.31516824825923, -229.38808252155431}};
  const Polygon p = bsp::make_polygon(ws.pool, quad, own);
  const Lists l = split(cut, p, ws);
  ASSERT_EQ(l.f.size(), 1u);
  ASSERT_EQ(l.b.size(), 1u);
  const Pnt whole = twice_area(p);
  const Pnt pieces = gp::add(twice_area(l.f[0]), twice_area(l.b[0]));
  const double len = std::sqrt(gp::dot(whole, whole));
  const Pnt excess = gp::sub(pieces, whole);
  EXPECT_LT(std::sqrt(gp::dot(excess, excess)), 1e-12 * len);
  // The pieces meet along one chord: corner 2 (just in front) goes to the
  // front piece only, corner 3 (just behind) to the back piece only.
  expect_points({l.f[0].vertices[1], l.f[0].vertices[2]}, {quad[1], quad[2]});
  EXPECT_EQ(l.f[0].count, 4u);
  EXPECT_EQ(l.b[0].count, 4u);
  for (const Polygon* piece : {&l.f[0], &l.b[0]}) EXPECT_TRUE(same_bits(piece->plane, own));
  // Every piece vertex lies on the quad's edges: classify them against the
  // cut and they fall where the pieces say, up to the crossing points.
  for (std::uint32_t i = 0; i < l.f[0].count; ++i) {
    EXPECT_GE(bsp::plane_distance(cut, l.f[0].vertices[i]), -1e-12);
  }
  for (std::uint32_t i = 0; i < l.b[0].count; ++i) {
    EXPECT_LE(bsp::plane_distance(cut, l.b[0].vertices[i]), 1e-12);
  }
}

TEST(Split, SlabVerticesAtTheChordEndsStayShared) {
  // Two slab corners that are the chord's ends (t = -4.9e-8 and 4.9e-8)
  // tile the square as the slab walk always did: both pieces keep both.
  bsp::Workspace ws;
  const Pnt sq[] = {{0, 7e-8, 0}, {1, 0, 0}, {1 + 7e-8, 1, 0}, {0, 1, 0}};
  const Polygon p = bsp::make_polygon(ws.pool, sq, kXY);
  const Lists l = split({{0.7071067811865475, -0.7071067811865475, 0}, 0}, p, ws);
  ASSERT_EQ(l.f.size(), 1u);
  ASSERT_EQ(l.b.size(), 1u);
  expect_points(verts(l.f[0]), {sq[0], sq[1], sq[2]});
  expect_points(verts(l.b[0]), {sq[0], sq[2], sq[3]});
}

TEST(PolygonsToMesh, FanTriangulation) {
  bsp::Workspace ws;
  const Pnt quad[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const Pnt two[] = {{0, 0, 0}, {1, 0, 0}};
  const PolygonList ps = {bsp::make_polygon(ws.pool, quad, kXY),
                          bsp::make_polygon(ws.pool, two, kXY)};
  const mesh::TriMesh m = bsp::polygons_to_mesh(ps);
  ASSERT_EQ(m.triangles.size(), 2u);
  expect_points(m.vertices, {quad[0], quad[1], quad[2], quad[0], quad[2], quad[3]});
  EXPECT_EQ(m.triangles[1], (mesh::Triangle{3, 4, 5}));
}

// ---- Tree ---------------------------------------------------------------

TEST(Tree, EmptyTree) {
  bsp::Workspace ws;
  bsp::Node n;
  bsp::build(n, {}, ws);
  EXPECT_FALSE(n.has_plane);
  const Pnt tri[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  PolygonList in = {bsp::make_polygon(ws.pool, tri, kXY)};
  const Polygon* before = in.data();
  const PolygonList out = bsp::clip_polygons(n, std::move(in), ws);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out.data(), before);  // passed through untouched
  EXPECT_TRUE(bsp::all_polygons(n, ws).empty());
}

TEST(Tree, BoxIsABackChain) {
  bsp::Workspace ws;
  const PolygonList ps = bsp::mesh_to_polygons(test_shapes::box(0, 0, 0, 1, 1, 1), ws.pool);
  ASSERT_EQ(ps.size(), 12u);
  PolygonList copy;
  for (const Polygon& p : ps) copy.push_back(bsp::copy_polygon(ws.pool, p));
  bsp::Node root;
  bsp::build(root, copy, ws);
  EXPECT_TRUE(same_bits(root.plane, ps[0].plane));
  ASSERT_EQ(root.polygons.size(), 2u);
  EXPECT_TRUE(same_polygon(root.polygons[0], ps[0]));
  EXPECT_TRUE(same_polygon(root.polygons[1], ps[1]));
  int depth = 0;
  std::size_t below = 0;
  for (const bsp::Node* n = &root; n != nullptr; n = n->back.get(), ++depth) {
    EXPECT_FALSE(n->front);
    if (n != &root) below += n->polygons.size();
  }
  EXPECT_EQ(depth, 6);
  EXPECT_EQ(below, 10u);
  // No polygon was split: all_polygons gives them back, node order first.
  const PolygonList all = bsp::all_polygons(root, ws);
  ASSERT_EQ(all.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_TRUE(same_polygon(all[i], ps[i]));
}

TEST(Tree, ClipAgainstBox) {
  bsp::Workspace ws;
  bsp::Node box;
  bsp::build(box, bsp::mesh_to_polygons(test_shapes::box(0, 0, 0, 1, 1, 1), ws.pool), ws);
  const Pnt inside[] = {{0.2, 0.2, 0.5}, {0.8, 0.2, 0.5}, {0.2, 0.8, 0.5}};
  const Pnt outside[] = {{0, 0, -3}, {1, 0, -3}, {0, 1, -3}};  // in front of the root plane
  const Pnt crossing[] = {{0.5, 0.5, 0.5}, {1.5, 0.5, 0.5}, {0.5, 1.5, 0.5}};
  PolygonList in = {bsp::make_polygon(ws.pool, inside, kXY),
                    bsp::make_polygon(ws.pool, outside, kXY),
                    bsp::make_polygon(ws.pool, crossing, kXY)};
  const Polygon outside_copy = bsp::copy_polygon(ws.pool, in[1]);
  const PolygonList out = bsp::clip_polygons(box, std::move(in), ws);
  ASSERT_GE(out.size(), 2u);
  EXPECT_TRUE(same_polygon(out[0], outside_copy));
  // Only the parts of the crossing triangle outside the unit square are
  // left: its area 0.5 less the quarter inside.
  double area = 0.0;
  for (std::size_t i = 1; i < out.size(); ++i) {
    const auto v = bsp::vertices_of(out[i]);
    for (std::size_t k = 0; k < v.size(); ++k) {
      EXPECT_TRUE(v[k].x >= 1 - 1e-12 || v[k].y >= 1 - 1e-12) << v[k].x << " " << v[k].y;
      const Pnt& q = v[(k + 1) % v.size()];
      area += 0.5 * (v[k].x * q.y - q.x * v[k].y);
    }
  }
  EXPECT_NEAR(area, 0.25, 1e-12);
}

TEST(Tree, InvertTwiceRestoresEveryBit) {
  bsp::Workspace ws;
  bsp::Node t;
  bsp::build(t, bsp::mesh_to_polygons(test_shapes::sphere(16, 8, 1.0), ws.pool), ws);
  bsp::build(t,
             bsp::mesh_to_polygons(test_shapes::moved(test_shapes::sphere(16, 8, 1.0), 0.5, 0.2, 0),
                                   ws.pool),
             ws);
  const PolygonList before = bsp::all_polygons(t, ws);
  bsp::invert(t, ws);
  const PolygonList once = bsp::all_polygons(t, ws);
  bsp::invert(t, ws);
  const PolygonList after = bsp::all_polygons(t, ws);
  ASSERT_EQ(before.size(), after.size());
  ASSERT_EQ(before.size(), once.size());
  for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(same_polygon(before[i], after[i]));
  // Inverting flips every sign, zeros included, and reverses each polygon.
  bool some_order_changed = false;
  for (const Polygon& p : once) {
    bool found = false;
    for (const Polygon& q : before) {
      if (q.count != p.count || !same_bits(q.plane, neg(p.plane))) continue;
      bool rev = true;
      for (std::uint32_t k = 0; k < p.count; ++k)
        rev &= same_bits(p.vertices[k], q.vertices[p.count - 1 - k]);
      found |= rev;
    }
    EXPECT_TRUE(found);
  }
  for (std::size_t i = 0; i < before.size(); ++i) {
    some_order_changed |= !same_bits(once[i].plane, neg(before[i].plane));
  }
  EXPECT_TRUE(some_order_changed);  // children swapped, so pre-order differs
}

// The explicit-stack walks against the literal recursive definitions of
// the reference engine: the three sequences, polygon for polygon and bit
// for bit.
TEST(Tree, IterativeWalksMatchRecursiveDefinitions) {
  struct Pair {
    mesh::TriMesh a, b;
    bool subtract_only;  // the dense pairs, where the reference takes seconds per operation
  };
  const Pair pairs[] = {
      {test_shapes::box(0, 0, 0, 2, 2, 2),
       test_shapes::moved(test_shapes::cylinder(32, 0.5, 3), 1, 1, -0.5), false},
      {test_shapes::sphere(24, 12, 1.0),
       test_shapes::moved(test_shapes::sphere(24, 12, 1.0), 0.5, 0.3, 0.2), false},
      {test_shapes::torus(16, 1.0, 0.4),
       test_shapes::moved(test_shapes::box(-1, -1, -1, 1, 1, 1), 0.3, 0.1, 0.2), false},
      // more than one build slice per operand, and an operand against itself
      {test_shapes::sphere(48, 24, 1.0),
       test_shapes::moved(test_shapes::sphere(48, 24, 1.0), 0.4, 0.2, 0.1), true},
      {test_shapes::sphere(48, 24, 1.0), test_shapes::sphere(48, 24, 1.0), true},
  };
  for (const bsp::CsgOp op : {bsp::CsgOp::Union, bsp::CsgOp::Subtract, bsp::CsgOp::Intersect}) {
    for (const Pair& pr : pairs) {
      if (pr.subtract_only && op != bsp::CsgOp::Subtract) continue;
      const std::string what =
          "op " + std::to_string(static_cast<int>(op)) + " pair " + std::to_string(&pr - pairs);
      reference::Context ref;
      const PolygonList want = reference::run(op, pr.a, pr.b, ref);
      bsp::Workspace ws;
      bsp::Node A, B;
      bsp::build(A, bsp::mesh_to_polygons(pr.a, ws.pool), ws);
      bsp::build(B, bsp::mesh_to_polygons(pr.b, ws.pool), ws);
      NodeOps ops{ws};
      bsp::tree_sequence(op, ops, A, B);
      const PolygonList got = bsp::all_polygons(A, ws);
      ASSERT_EQ(got.size(), want.size()) << what;
      // Only x - x is empty.
      ASSERT_EQ(got.empty(), op == bsp::CsgOp::Subtract && &pr == &pairs[4]) << what;
      for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_TRUE(same_polygon(got[i], want[i])) << what << " " << i;
      // And the mesh-level driver on its thread gives the same triangles.
      const mesh::TriMesh m = bsp::run_csg(op, bsp::convert_operands(pr.a, pr.b));
      const mesh::TriMesh mw = bsp::polygons_to_mesh(want);
      ASSERT_EQ(m.vertices.size(), mw.vertices.size()) << what;
      for (std::size_t i = 0; i < m.vertices.size(); ++i)
        ASSERT_TRUE(same_bits(m.vertices[i], mw.vertices[i])) << what;
    }
  }
}

// Long lists are built in slices; with polygons facing both ways (cf and cb
// at the same nodes) the tree must still equal the one-walk definition.
TEST(Tree, SlicedBuildMatchesRecursiveBuild) {
  bsp::Workspace ws;
  const PolygonList sphere = bsp::mesh_to_polygons(test_shapes::sphere(48, 24, 1.0), ws.pool);
  const PolygonList box =
      bsp::mesh_to_polygons(test_shapes::box(-0.5, -0.5, -0.5, 0.6, 0.6, 0.6), ws.pool);
  PolygonList list;
  for (std::size_t i = 0; i < sphere.size(); ++i) {
    list.push_back(bsp::copy_polygon(ws.pool, sphere[i]));
    if (i % 3 == 0) {  // the same polygon turned round: coplanar-back wherever i lands
      Polygon r = bsp::copy_polygon(ws.pool, sphere[i]);
      std::reverse(r.vertices, r.vertices + r.count);
      r.plane = neg(r.plane);
      list.push_back(r);
    }
    if (i % 50 == 0) list.push_back(bsp::copy_polygon(ws.pool, box[(i / 50) % box.size()]));
  }
  // Later slices bring more cf to nodes that already got cb.
  for (std::size_t i = 0; i < sphere.size(); i += 3)
    list.push_back(bsp::copy_polygon(ws.pool, sphere[i]));
  ASSERT_GT(list.size(), 3000u);
  reference::Context ref_ctx;
  reference::Node ref;
  reference::build(ref, list, ref_ctx);
  bsp::Node tree;
  PolygonList copy;
  for (const Polygon& p : list) copy.push_back(bsp::copy_polygon(ws.pool, p));
  bsp::build(tree, std::move(copy), ws);
  // Same shape, same planes, same polygons at every node.
  std::vector<std::pair<const reference::Node*, const bsp::Node*>> stack{{&ref, &tree}};
  std::size_t nodes = 0, with_cb = 0;
  while (!stack.empty()) {
    auto [r, n] = stack.back();
    stack.pop_back();
    ++nodes;
    ASSERT_TRUE(same_bits(r->plane, n->plane));
    ASSERT_EQ(r->polygons.size(), n->polygons.size());
    bool cb = false;
    for (std::size_t i = 0; i < r->polygons.size(); ++i) {
      ASSERT_TRUE(same_polygon(r->polygons[i], n->polygons[i]));
      cb |= !bsp::faces_same_way(n->plane, n->polygons[i]);
    }
    with_cb += cb;
    ASSERT_EQ(!r->front, !n->front);
    ASSERT_EQ(!r->back, !n->back);
    if (r->front) stack.push_back({r->front.get(), n->front.get()});
    if (r->back) stack.push_back({r->back.get(), n->back.get()});
  }
  EXPECT_GT(nodes, 1000u);
  EXPECT_GT(with_cb, 300u);
}

// Ten million levels, assembled directly: every walk and the destruction
// must get through without touching the thread's stack limit.
TEST(Tree, TenMillionLevelChain) {
  constexpr int kDepth = 10'000'000;
  bsp::Workspace ws;
  auto root = std::make_unique<bsp::Node>();
  bsp::Node* n = root.get();
  const Pnt tri[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  for (int i = 0; i < kDepth; ++i) {
    // Planes z = -i facing +z: everything below lies behind all of them.
    n->plane = {{0, 0, 1}, -static_cast<double>(i)};
    n->has_plane = true;
    if (i % 1'000'000 == 0) {
      const Pnt t[] = {{0, 0, -double(i)}, {1, 0, -double(i)}, {0, 1, -double(i)}};
      n->polygons.push_back(bsp::make_polygon(ws.pool, t, n->plane));
    }
    if (i + 1 < kDepth) {
      n->back = std::make_unique<bsp::Node>();
      n = n->back.get();
    }
  }
  // A polygon far below every plane walks all the way down and is removed
  // at the missing back child of the last node.
  const Pnt deep[] = {{0, 0, -2e7}, {1, 0, -2e7}, {0, 1, -2e7}};
  EXPECT_TRUE(bsp::clip_polygons(*root, {bsp::make_polygon(ws.pool, deep, kXY)}, ws).empty());
  PolygonList all = bsp::all_polygons(*root, ws);
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[3].vertices[0].z, -3e6);
  bsp::invert(*root, ws);
  EXPECT_FALSE(root->back);
  int depth = 0;
  for (const bsp::Node* m = root.get(); m != nullptr; m = m->front.get()) ++depth;
  EXPECT_EQ(depth, kDepth);
  all = bsp::all_polygons(*root, ws);
  ASSERT_EQ(all.size(), 10u);
  EXPECT_EQ(all[9].plane.normal.z, -1.0);
  bsp::Node other;  // clip this whole tree against a one-plane tree
  bsp::build(other, {bsp::make_polygon(ws.pool, tri, {{0, 0, -1}, 0.5})}, ws);
  bsp::clip_to(*root, other, ws);
  EXPECT_EQ(bsp::all_polygons(*root, ws).size(), 9u);  // the one at z = 0 was behind
  root.reset();
}
