// Booleans on solids: results, empty operands, the csg thread's failure and
// stop paths, and inputs that used to recurse without end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "brep_algo_api/booleans.h"
#include "bsp/csg.h"
#include "bsp/node.h"
#include "gp/fault.h"
#include "gp/speed_knobs.h"
#include "gp/tolerances.h"
#include "test_shapes.h"

using namespace quorvalind;
using brep_algo_api::common;
using brep_algo_api::cut;
using brep_algo_api::fuse;
using brep_algo_api::fuse_all;
using mesh::TriMesh;
using topods::Solid;

namespace {

Solid box(double x0, double y0, double z0, double x1, double y1, double z1) {
  return Solid{test_shapes::box(x0, y0, z0, x1, y1, z1)};
}

bool same_mesh(const TriMesh& a, const TriMesh& b) {
  if (a.vertices.size() != b.vertices.size() || a.triangles != b.triangles) return false;
  return a.vertices.empty() || std::memcmp(a.vertices.data(), b.vertices.data(),
                                           a.vertices.size() * sizeof(gp::Pnt)) == 0;
}

// Every boolean result: welded at 1e-6 (welding again changes nothing) and
// facing outward.
void expect_welded_and_outward(const Solid& s) {
  EXPECT_TRUE(same_mesh(mesh::welded(s.mesh, gp::BOOLEAN_WELD_TOLERANCE), s.mesh));
  EXPECT_GE(mesh::signed_volume(s.mesh), 0.0);
}

// A solid whose only triangles are degenerate (collinear corners).
Solid degenerate() {
  TriMesh m;
  mesh::push_triangle(m, {0, 0, 0}, {1, 0, 0}, {2, 0, 0});
  return Solid{m};
}

Solid vertices_only() {
  Solid s;
  s.mesh.vertices = {{0, 0, 0}, {1, 1, 1}};
  return s;
}

}  // namespace

TEST(Booleans, DisjointBoxes) {
  const Solid a = box(0, 0, 0, 1, 1, 1), b = box(2, 0, 0, 3, 1, 1);
  const Solid f = fuse(a, b), c = cut(a, b), i = common(a, b);
  EXPECT_EQ(f.mesh.triangles.size(), 24u);
  EXPECT_EQ(f.mesh.vertices.size(), 16u);
  EXPECT_DOUBLE_EQ(topods::volume(f), 2.0);
  EXPECT_EQ(c.mesh.triangles.size(), 12u);
  EXPECT_EQ(c.mesh.vertices.size(), 8u);
  EXPECT_TRUE(i.mesh.triangles.empty() && i.mesh.vertices.empty());
  expect_welded_and_outward(f);
  expect_welded_and_outward(c);
}

TEST(Booleans, NestedBoxes) {
  const Solid inner = box(0.25, 0.25, 0.25, 0.75, 0.75, 0.75), outer = box(0, 0, 0, 1, 1, 1);
  EXPECT_TRUE(cut(inner, outer).mesh.triangles.empty());
  EXPECT_NEAR(topods::volume(common(inner, outer)), 0.125, 1e-15);
  const Solid f = fuse(inner, outer);
  EXPECT_NEAR(topods::volume(f), 1.0, 1e-15);
  EXPECT_GT(f.mesh.triangles.size(), 12u);  // outer faces split, never simplified
  EXPECT_NEAR(topods::volume(cut(outer, inner)), 0.875, 1e-15);
}

TEST(Booleans, SolidWithItself) {
  const Solid x = box(0, 0, 0, 1, 2, 3);
  EXPECT_TRUE(cut(x, x).mesh.triangles.empty());
  for (const Solid& r : {fuse(x, x), common(x, x)}) {
    EXPECT_EQ(r.mesh.triangles.size(), 12u);
    EXPECT_EQ(r.mesh.vertices.size(), 8u);
    EXPECT_DOUBLE_EQ(topods::volume(r), 6.0);
  }
}

TEST(Booleans, OverlappingBoxes) {
  const Solid a = box(0, 0, 0, 1, 1, 1), b = box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5);
  struct Case {
    Solid r;
    double volume;
  };
  const Case cases[] = {{fuse(a, b), 1.875}, {cut(a, b), 0.875}, {common(a, b), 0.125}};
  for (const Case& c : cases) {
    EXPECT_NEAR(mesh::signed_volume(c.r.mesh), c.volume, 1e-14);
    expect_welded_and_outward(c.r);
  }
}

TEST(Booleans, NearlyCoplanarFacesKeepTheirAreaOnce) {
  // Faces whose triangles meet at about 1e-7 rad: splits by each other's
  // planes used to keep slivers twice (2.4e-5 of the volume, an open
  // surface) even where the other operand never touches the solid.
  const Solid a{test_shapes::tilted_float_cube()};
  const double va = mesh::signed_volume(a.mesh);
  ASSERT_NEAR(va, 1e9, 1e3);
  const Solid far = box(5000, 5000, 5000, 5100, 5100, 5100);
  const struct {
    const char* what;
    Solid r;
    double volume;
  } cases[] = {
      {"cut far", cut(a, far), va},
      {"fuse far", fuse(a, far), va + 1e6},
      {"common self", common(a, a), va},
      {"fuse self", fuse(a, a), va},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(mesh::signed_volume(c.r.mesh), c.volume, 1e-9 * va) << c.what;
    // A closed surface: its area-weighted normals sum to zero.
    gp::Pnt sum{0, 0, 0};
    for (const auto& t : c.r.mesh.triangles) {
      const gp::Pnt& p = c.r.mesh.vertices[t[0]];
      sum = gp::add(sum, gp::cross(gp::sub(c.r.mesh.vertices[t[1]], p),
                                   gp::sub(c.r.mesh.vertices[t[2]], p)));
    }
    EXPECT_LT(std::sqrt(gp::dot(sum, sum)), 1e-3) << c.what;  // the cube's is 1.2e7
  }
}

TEST(Booleans, ResultTriangleOrderIsTheFanOfThePolygons) {
  // The solid layer is the mesh layer plus the weld: same triangles, welded,
  // on both sides of the engine switch (the spheres take the skipping one).
  const TriMesh a = test_shapes::box(0, 0, 0, 2, 2, 2);
  const TriMesh b = test_shapes::moved(test_shapes::cylinder(64, 0.5, 3), 1, 1, -0.5);
  const TriMesh raw = bsp::subtract(a, b);
  EXPECT_EQ(raw.vertices.size(), 3 * raw.triangles.size());
  EXPECT_NEAR(mesh::signed_volume(raw), 8.0 - 32 * 0.25 * std::sin(gp::TWO_PI / 64) * 2.0, 1e-12);
  const TriMesh s = test_shapes::sphere(48, 24, 1.0);
  const TriMesh t = test_shapes::moved(s, 0.5, 0.3, 0.2);
  for (const auto& [x, y] : {std::pair{&a, &b}, std::pair{&s, &t}}) {
    const Solid sx{*x}, sy{*y};
    EXPECT_TRUE(same_mesh(cut(sx, sy).mesh, mesh::welded(bsp::subtract(*x, *y), 1e-6)));
    EXPECT_TRUE(same_mesh(fuse(sx, sy).mesh, mesh::welded(bsp::csg_union(*x, *y), 1e-6)));
    EXPECT_TRUE(same_mesh(common(sx, sy).mesh, mesh::welded(bsp::intersect(*x, *y), 1e-6)));
  }
}

TEST(Booleans, EmptyOperandTables) {
  TriMesh dup;  // duplicate vertices: a copy keeps them, a weld would not
  mesh::push_triangle(dup, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  mesh::push_triangle(dup, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  const Solid a{dup}, empty{}, verts = vertices_only();
  struct Case {
    const char* name;
    Solid got;
    const Solid* want;  // nullptr: the empty solid
  };
  const Case cases[] = {
      {"cut(a, empty)", cut(a, empty), &a},
      {"cut(empty, a)", cut(empty, a), &empty},
      {"cut(verts, a)", cut(verts, a), &verts},
      {"fuse(empty, a)", fuse(empty, a), &a},
      {"fuse(a, empty)", fuse(a, empty), &a},
      {"fuse(verts, a)", fuse(verts, a), &a},
      {"common(a, empty)", common(a, empty), nullptr},
      {"common(verts, a)", common(verts, a), nullptr},
  };
  for (const Case& c : cases) {
    const TriMesh want = c.want ? c.want->mesh : TriMesh{};
    EXPECT_TRUE(same_mesh(c.got.mesh, want)) << c.name;
  }
}

// Operands that convert to no polygons count as empty (at the solid level);
// the mesh level runs the literal sequences on them.
TEST(Booleans, DegenerateOnlyOperandsCountAsEmpty) {
  const Solid a = box(0, 0, 0, 1, 1, 1), d = degenerate();
  EXPECT_TRUE(same_mesh(cut(d, a).mesh, d.mesh));
  EXPECT_TRUE(same_mesh(cut(a, d).mesh, a.mesh));
  EXPECT_TRUE(same_mesh(fuse(d, a).mesh, a.mesh));
  EXPECT_TRUE(same_mesh(fuse(a, d).mesh, a.mesh));
  EXPECT_TRUE(common(a, d).mesh.vertices.empty());
  EXPECT_TRUE(common(d, a).mesh.triangles.empty());
  // Literal mesh level: cut(d, a) would give a turned inside out.
  EXPECT_NEAR(mesh::signed_volume(bsp::subtract(d.mesh, a.mesh)), -1.0, 1e-15);
  // Both operands are converted before the table is consulted.
  Solid bad = box(5, 5, 5, 6, 6, 6);
  bad.mesh.triangles.push_back({0, 1, 40});
  for (auto op : {&cut, &fuse, &common}) {
    try {
      op(d, bad, {});
      ADD_FAILURE() << "no fault";
    } catch (const gp::InternalFault& e) {
      EXPECT_STREQ(e.what(), "index out of bounds: the len is 8 but the index is 40");
    }
  }
}

TEST(Booleans, FuseAll) {
  const Solid x = box(0, 0, 0, 1, 1, 1), y = box(0.5, 0, 0, 1.5, 1, 1), z = box(3, 0, 0, 4, 1, 1);
  const Solid empty{}, d = degenerate();
  EXPECT_TRUE(same_mesh(fuse_all({}).mesh, TriMesh{}));
  EXPECT_TRUE(same_mesh(fuse_all({empty, vertices_only()}).mesh, TriMesh{}));
  EXPECT_TRUE(same_mesh(fuse_all({x}).mesh, x.mesh));
  EXPECT_TRUE(same_mesh(fuse_all({d}).mesh, d.mesh));  // emptiness counted by triangles
  EXPECT_TRUE(same_mesh(fuse_all({d, x}).mesh, x.mesh));
  EXPECT_TRUE(same_mesh(fuse_all({empty, x, empty, y}).mesh, fuse(x, y).mesh));
  EXPECT_TRUE(same_mesh(fuse_all({x, y, z}).mesh, fuse(fuse(x, y), z).mesh));
  EXPECT_NEAR(topods::volume(fuse_all({x, y, z})), 2.5, 1e-14);
}

TEST(Booleans, OperandsUnchanged) {
  const Solid a = box(0, 0, 0, 1, 1, 1), b = box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5);
  const Solid a0 = a, b0 = b;
  (void)cut(a, b);
  (void)fuse(a, b);
  (void)common(a, b);
  EXPECT_TRUE(same_mesh(a.mesh, a0.mesh));
  EXPECT_TRUE(same_mesh(b.mesh, b0.mesh));
}

// ---- The csg thread -----------------------------------------------------

namespace {
int refuse_to_start(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
}  // namespace

TEST(CsgThread, StartFailure) {
  bool ran = false;
  try {
    bsp::run_on_csg_thread([&](const std::atomic<bool>&) { ran = true; }, {}, &refuse_to_start);
    FAIL();
  } catch (const gp::InternalFault& e) {
    EXPECT_EQ(std::string(e.what()), std::string("spawn csg thread: ") + std::strerror(EAGAIN));
  }
  EXPECT_FALSE(ran);
}

TEST(CsgThread, FaultOnTheThread) {
  for (bool with_wait : {false, true}) {
    testing::internal::CaptureStderr();
    try {
      bsp::run_on_csg_thread(
          [](const std::atomic<bool>&) { throw gp::InternalFault("boom at level 7"); },
          with_wait ? bsp::WaitCallback([] { return false; }) : bsp::WaitCallback{});
      ADD_FAILURE();
    } catch (const gp::InternalFault& e) {
      EXPECT_STREQ(e.what(), "csg thread panicked: Any { .. }");
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("thread '<unnamed>' panicked at "), std::string::npos) << err;
    EXPECT_NE(err.find("boom at level 7"), std::string::npos) << err;
  }
}

TEST(CsgThread, RunsWithTheRequestedStack) {
  std::size_t stack = 0;
  bsp::run_on_csg_thread(
      [&](const std::atomic<bool>&) {
        pthread_attr_t attr;
        pthread_getattr_np(pthread_self(), &attr);
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
      },
      {});
  EXPECT_GE(stack, gp::CSG_THREAD_STACK_SIZE);
}

// Spheres of 16,384 triangles each: their boolean runs for a quarter of a
// second or more (fifty wait slices) on any machine, so a stop asked at the
// first wait-callback check (after one 5 ms slice) always comes while the
// tree work runs. Larger ones have longer stretches between the worker's
// looks at the stop flag.
Solid big_sphere(double dx) {
  return Solid{test_shapes::moved(test_shapes::sphere(128, 64, 1.0), dx, 0.3 * dx, 0.2 * dx)};
}

TEST(CsgThread, StopRequestEndsALongOperation) {
  const Solid a = big_sphere(0), b = big_sphere(0.5);
  int calls = 0;
  std::chrono::steady_clock::time_point asked;
  EXPECT_THROW(cut(a, b,
                   [&] {
                     ++calls;
                     asked = std::chrono::steady_clock::now();
                     return true;
                   }),
               bsp::Interrupted);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked).count();
  EXPECT_EQ(calls, 1);
  // The worker polls the stop flag between steps: milliseconds, with room
  // for a loaded machine.
  EXPECT_LT(ms, 1000.0);
  // A callback that never asks for a stop changes nothing.
  const Solid c{test_shapes::sphere(64, 32, 1.0)};
  const Solid d{test_shapes::moved(test_shapes::sphere(64, 32, 1.0), 0.5, 0.3, 0.2)};
  const Solid before = cut(c, d);
  EXPECT_TRUE(same_mesh(cut(c, d, [] { return false; }).mesh, before.mesh));
  EXPECT_TRUE(same_mesh(cut(c, d).mesh, before.mesh));
}

TEST(CsgThread, ExceptionFromTheWaitCallbackStopsAndPropagates) {
  const Solid a = big_sphere(0), b = big_sphere(0.5);
  EXPECT_THROW(fuse(a, b, []() -> bool { throw std::runtime_error("callback"); }),
               std::runtime_error);
}

// ---- Inputs that must terminate ----------------------------------------

// Far from the origin rounding puts triangles off their own planes; without
// the own-plane rule build would pass such a polygon down forever.
TEST(Booleans, FarFromTheOriginTerminates) {
  for (double offset : {1e9, 1e12, 1e15}) {
    const TriMesh cyl = test_shapes::moved(test_shapes::cylinder(64, 0.5, 3), offset, 0, 0);
    const TriMesh box = test_shapes::moved(test_shapes::box(0, 0, 0, 1, 1, 1), offset, 0, 0);
    if (offset == 1e9) {
      // The case really is off-plane: some corner misses its own plane.
      bsp::VertexPool pool;
      bool off = false;
      for (const bsp::Polygon& p : bsp::mesh_to_polygons(cyl, pool)) {
        for (const gp::Pnt& v : bsp::vertices_of(p))
          off |= bsp::classify_point(p.plane, v) != bsp::COPLANAR;
      }
      EXPECT_TRUE(off);
    }
    const Solid c{cyl}, b{box};
    for (const Solid& r : {fuse(c, b), cut(c, b), common(c, b), fuse(c, c), cut(b, c)}) {
      EXPECT_TRUE(std::isfinite(mesh::signed_volume(r.mesh)) || r.mesh.triangles.empty());
    }
  }
}

TEST(Booleans, NonFiniteCoordinatesTerminate) {
  for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 1e300, 1e-300}) {
    TriMesh m = test_shapes::box(0, 0, 0, 1, 1, 1);
    m.vertices[3].x = bad;
    const Solid s{m}, b = box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5);
    // Returning at all is most of the test; the operands stay as they were.
    (void)fuse(s, b);
    (void)cut(b, s);
    (void)common(s, s);
    EXPECT_TRUE(same_mesh(s.mesh, m));
    EXPECT_TRUE(same_mesh(b.mesh, test_shapes::box(0.5, 0.5, 0.5, 1.5, 1.5, 1.5)));
  }
}

// The slab around a plane (gp::PLANE_EPSILON) lets one corner come out
// twice where it meets a plane at a small angle. Nine triangles of each
// operand of angle_block.STL's common_rotated at 1,000 units: in a, two
// faces of the part at 0.03 rad, the first of them a quad whose halves meet
// at 2e-7 rad; in b, a face of the turned copy that crosses their crease.
// The corner where b's face, the second face and the quad's first half
// meet is made once where b's face cuts the crease, and once on an edge of
// b's face that runs from the first half's plane to the second half's
// plane, inside the first half's slab: 2.85e-6 apart along the crease,
// farther than the weld cell and simplify's gap merge. These are the slits
// simplify closes with fans (test_simplify.py).
TEST(Booleans, OneCornerComesOutTwiceWhereNearlyParallelSlabsMeet) {
  TriMesh a, b;
  a.vertices = {{-291.0538379333513, -355.03390523848321, 500},
                {-247.41426437626859, -311.39432479283607, -389.26406766091242},
                {-247.41426437626859, -311.39432479283607, 500},
                {-95.330710608874142, -369.82698571410936, 383.63346532924913},
                {-92.456746428527339, 157.66682890613563, 244.0457012712873},
                {-92.34442976353597, -369.82698571410936, 385.15045947275701},
                {-66.986340142100616, -369.82698571410936, 398.0321300278805},
                {-63.244141303523591, 161.19249536647604, 257.20358672669528},
                {-63.160767630757071, -369.82698571410936, 399.19635252167745},
                {-36.938987048176301, -369.82698571410936, 407.17630801163187},
                {-32.109891229016881, 163.35164699513103, 265.26175222153444},
                {-32.069215633889002, -369.82698571410936, 407.76748460929383},
                {-5.9788440614182194, -369.82698571410936, 410.93478590562245},
                {-3.942969074541939e-14, 164.07872670232408, 267.97527347049623}};
  a.triangles = {{2, 1, 0},  {3, 4, 5},   {6, 4, 7},    {6, 7, 8},   {8, 7, 9},
                 {9, 7, 10}, {9, 10, 11}, {11, 10, 12}, {12, 10, 13}};
  b.vertices = {{-113.35880479147256, -444.44755377953618, 500.37742131340912},
                {-230.57180018271234, -338.36843910220506, -376.89547951918519},
                {-81.590770074832292, -391.58163878676237, 498.18371122880546},
                {-135.46033961180711, 95.608899727860546, 236.35807150089178},
                {30.162062216661042, -409.30240013365426, 340.10401217455222},
                {-111.28553642969418, 105.54802929070489, 255.21883642974512},
                {32.795848157339698, -408.82069666065763, 341.54014523214028},
                {58.162551774337004, -404.18127795136792, 355.37190602635116},
                {-84.088672232016108, 115.53633997711495, 269.34333582513068},
                {61.279128317222025, -403.54542107828621, 356.42156368862226},
                {87.743639525364145, -398.14602842639397, 365.3348319469153},
                {-54.696117246460773, 125.27028823645954, 278.30238346101868},
                {91.605598698522442, -397.28484220910326, 365.91280140858026},
                {118.07678201665711, -391.38197636237084, 369.87437875552843},
                {-24.000917833947664, 134.45406401949933, 281.82381640693251}};
  b.triangles = {{2, 1, 0},   {4, 3, 5},    {6, 5, 7},    {7, 5, 8},   {7, 8, 9},
                 {10, 8, 11}, {10, 11, 12}, {12, 11, 13}, {13, 11, 14}};
  // Signed distance from a triangle's plane, the normal made unit.
  const auto distance = [](const TriMesh& m, std::size_t t, const gp::Pnt& p) {
    const gp::Pnt& o = m.vertices[m.triangles[t][0]];
    const gp::Pnt n = gp::cross(gp::sub(m.vertices[m.triangles[t][1]], o),
                                gp::sub(m.vertices[m.triangles[t][2]], o));
    return gp::dot(n, gp::sub(p, o)) / std::sqrt(gp::dot(n, n));
  };
  const gp::Pnt corner{-28.0072654, 79.6415015, 288.1327190};
  const bsp::FlatPolygons r = bsp::run_csg_flat(bsp::CsgOp::Intersect, bsp::convert_operands(a, b));
  // Output corners within every slab of the three planes (b's face, the
  // quad's first half, the second face) near the corner.
  std::vector<gp::Pnt> on_all;
  for (const gp::Pnt& p : r.vertices) {
    const gp::Pnt d = gp::sub(p, corner);
    if (gp::dot(d, d) > 1e-8) continue;
    if (std::fabs(distance(b, 8, p)) <= gp::PLANE_EPSILON &&
        std::fabs(distance(a, 7, p)) <= gp::PLANE_EPSILON &&
        std::fabs(distance(a, 8, p)) <= gp::PLANE_EPSILON) {
      on_all.push_back(p);
    }
  }
  ASSERT_GE(on_all.size(), 2u);
  double spread = 0;
  for (const gp::Pnt& p : on_all) {
    for (const gp::Pnt& q : on_all) {
      const gp::Pnt d = gp::sub(p, q);
      spread = std::max(spread, std::sqrt(gp::dot(d, d)));
    }
  }
  EXPECT_GT(spread, gp::SIMPLIFY_GAP_DISTANCE);
  // No further apart than the slab allows along the crease: PLANE_EPSILON
  // over the sine of the 0.03 rad between the two faces of a.
  EXPECT_LT(spread, gp::PLANE_EPSILON / 0.0295 * 1.01);
}
