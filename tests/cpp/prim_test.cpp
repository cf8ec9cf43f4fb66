#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <tuple>
#include <vector>

#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/sphere.h"
#include "mesh_checks.h"

using namespace quorvalind;
using brep_prim_api::make_box;
using brep_prim_api::make_box_centered_xy;
using brep_prim_api::make_cone;
using brep_prim_api::make_cylinder;
using brep_prim_api::make_sphere;
using brep_prim_api::make_torus;
using gp::Pnt;
using mesh::Triangle;
using mesh::TriMesh;

namespace {

std::vector<Triangle> first(const TriMesh& m, std::size_t n) {
  return {m.triangles.begin(), m.triangles.begin() + static_cast<std::ptrdiff_t>(n)};
}

void expect_pnt(const Pnt& p, double x, double y, double z) {
  EXPECT_EQ(p.x, x);
  EXPECT_EQ(p.y, y);
  EXPECT_EQ(p.z, z);
}

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(Box, VertexAndTriangleOrder) {
  const TriMesh m = make_box(Pnt{0, 0, 0}, 1, 2, 3);
  ASSERT_EQ(m.vertices.size(), 8u);
  // A, D, C, B, E, F, G, H
  const double expected[8][3] = {{0, 0, 0}, {0, 2, 0}, {1, 2, 0}, {1, 0, 0},
                                 {0, 0, 3}, {1, 0, 3}, {1, 2, 3}, {0, 2, 3}};
  for (int i = 0; i < 8; ++i)
    expect_pnt(m.vertices[i], expected[i][0], expected[i][1], expected[i][2]);
  const std::vector<Triangle> tris = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7},
                                      {0, 3, 5}, {0, 5, 4}, {3, 2, 6}, {3, 6, 5},
                                      {2, 1, 7}, {2, 7, 6}, {1, 0, 4}, {1, 4, 7}};
  EXPECT_EQ(m.triangles, tris);
  EXPECT_EQ(mesh::signed_volume(m), 6.0);
}

TEST(Box, NegativeSizesUseMagnitudes) {
  EXPECT_TRUE(test::same_mesh(make_box(Pnt{1, 2, 3}, -1, 2, -3), make_box(Pnt{1, 2, 3}, 1, 2, 3)));
}

TEST(Box, ZeroSizes) {
  struct Case {
    double dx, dy, dz;
    std::size_t vertices, triangles;
  };
  for (const Case& c : {Case{0, 2, 3, 4, 4}, Case{2, 0, 3, 4, 4}, Case{2, 3, 0, 4, 4},
                        Case{0, 0, 3, 2, 0}, Case{0, 0, 0, 1, 0}}) {
    const TriMesh m = make_box(Pnt{0, 0, 0}, c.dx, c.dy, c.dz);
    EXPECT_EQ(m.vertices.size(), c.vertices) << c.dx << " " << c.dy << " " << c.dz;
    EXPECT_EQ(m.triangles.size(), c.triangles) << c.dx << " " << c.dy << " " << c.dz;
    EXPECT_EQ(mesh::signed_volume(m), 0.0);
    EXPECT_EQ(test::unmatched_edges(m), 0u);
  }
}

TEST(Box, CenteredXY) {
  const TriMesh m = make_box_centered_xy(Pnt{0, 0, 0}, 2, 2, 1);
  expect_pnt(m.vertices[0], -1, -1, 0);
  expect_pnt(m.vertices[6], 1, 1, 1);
  // The corner takes the signed width, the box its magnitude.
  const TriMesh n = make_box_centered_xy(Pnt{0, 0, 0}, -2, 2, 1);
  expect_pnt(n.vertices[0], 1, -1, 0);
  expect_pnt(n.vertices[6], 3, 1, 1);
}

TEST(Cone, CylinderOrderAndCounts) {
  const TriMesh m = make_cylinder(64, 1, 2);
  EXPECT_EQ(m.vertices.size(), 130u);
  EXPECT_EQ(m.triangles.size(), 256u);
  const std::vector<Triangle> head = {{0, 1, 2}, {0, 2, 3}, {4, 1, 0}, {5, 3, 2},
                                      {1, 6, 7}, {1, 7, 2}, {4, 6, 1}, {5, 2, 7}};
  EXPECT_EQ(first(m, 8), head);
  expect_pnt(m.vertices[0], 1, 0, 0);
  expect_pnt(m.vertices[3], 1, 0, 2);
  expect_pnt(m.vertices[4], 0, 0, 0);
  expect_pnt(m.vertices[5], 0, 0, 2);
  const double theta = (1.0 * 6.283185307179586) / 64.0;
  expect_pnt(m.vertices[1], std::cos(theta), std::sin(theta), 0);
  EXPECT_NEAR(mesh::signed_volume(m), 32 * std::sin(M_PI / 32) * 2, 1e-12);
}

TEST(Cone, SegmentCountClamped) {
  for (std::uint64_t n : {0u, 1u, 3u, 7u}) {
    EXPECT_TRUE(test::same_mesh(make_cylinder(n, 1, 1), make_cylinder(8, 1, 1))) << n;
  }
  const TriMesh m = make_cylinder(3, 1, 1);
  EXPECT_EQ(m.vertices.size(), 18u);
  EXPECT_EQ(m.triangles.size(), 32u);
  EXPECT_EQ(make_cylinder(9, 1, 1).triangles.size(), 36u);
}

TEST(Cone, Pointed) {
  const TriMesh m = make_cone(8, 1, 0, 2);
  EXPECT_EQ(m.vertices.size(), 10u);
  EXPECT_EQ(m.triangles.size(), 16u);
  expect_pnt(m.vertices[2], 0, 0, 2);  // b0, b1, apex, c0, b2 ...
  expect_pnt(m.vertices[3], 0, 0, 0);
  EXPECT_EQ(test::unmatched_edges(m), 0u);

  const TriMesh inv = make_cone(8, 0, 1, 2);  // origin, t1, t0, c1, t2 ...
  EXPECT_EQ(inv.vertices.size(), 10u);
  EXPECT_EQ(inv.triangles.size(), 16u);
  expect_pnt(inv.vertices[0], 0, 0, 0);
  expect_pnt(inv.vertices[2], 1, 0, 2);
  expect_pnt(inv.vertices[3], 0, 0, 2);
  EXPECT_EQ(test::unmatched_edges(inv), 0u);
  EXPECT_GT(mesh::signed_volume(inv), 0.0);
}

TEST(Cone, NegativeHeightMirrors) {
  const TriMesh up = make_cone(16, 1, 0.5, 2), down = make_cone(16, 1, 0.5, -2);
  EXPECT_EQ(down.triangles[0], (Triangle{0, 2, 1}));
  EXPECT_EQ(mesh::signed_volume(down), mesh::signed_volume(up));
  ASSERT_EQ(down.vertices.size(), up.vertices.size());
  for (std::size_t i = 0; i < up.vertices.size(); ++i)
    EXPECT_EQ(down.vertices[i].z, -up.vertices[i].z);
}

TEST(Cone, DegenerateRadiiAndHeights) {
  // Tiny and non-positive radii get no cap; none at all means no triangles.
  for (double r : {0.0, 1e-12, -0.0, kNaN}) {
    const TriMesh m = make_cone(8, r, r, 1);
    EXPECT_TRUE(m.vertices.empty()) << r;
    EXPECT_TRUE(m.triangles.empty()) << r;
  }
  // h = 0: the sides collapse, the caps stay as a double-sided disc.
  const TriMesh disc = make_cylinder(8, 1, 0);
  EXPECT_EQ(disc.vertices.size(), 9u);
  EXPECT_EQ(disc.triangles.size(), 16u);
  EXPECT_EQ(mesh::signed_volume(disc), 0.0);
  // A negative radius keeps its ring but has no cap: open at that end.
  const TriMesh open = make_cone(8, -1, 1, 1);
  EXPECT_EQ(open.triangles.size(), 24u);
  EXPECT_EQ(test::unmatched_edges(open), 8u);
  // The exact volume of the polygonal frustum.
  const TriMesh f = make_cone(12, 2, 1, 3);
  const double a1 = 6 * 4 * std::sin(2 * M_PI / 12), a2 = 6 * 1 * std::sin(2 * M_PI / 12);
  EXPECT_NEAR(mesh::signed_volume(f), 3.0 / 3 * (a1 + a2 + std::sqrt(a1 * a2)), 1e-12);
}

TEST(Sphere, Counts) {
  const TriMesh d = make_sphere(64, 32, 1);
  EXPECT_EQ(d.vertices.size(), 1986u);
  EXPECT_EQ(d.triangles.size(), 3968u);
  const std::vector<Triangle> head = {{0, 2, 1}, {0, 1, 3}, {0, 3, 4}, {0, 4, 5}};
  EXPECT_EQ(first(d, 4), head);
  EXPECT_NEAR(mesh::signed_volume(d), 4.17200, 5e-6);
  EXPECT_LT(mesh::signed_volume(d), 4 * M_PI / 3);

  const TriMesh s = make_sphere(3, 2, 1);
  EXPECT_EQ(s.vertices.size(), 26u);
  EXPECT_EQ(s.triangles.size(), 48u);
  expect_pnt(s.vertices[0], 0, 0, 1);
  EXPECT_TRUE(test::same_mesh(s, make_sphere(8, 4, 1)));
}

TEST(Sphere, Numbering) {
  const std::uint64_t N = 10, L = 6;
  const TriMesh m = make_sphere(N, L, 2);
  ASSERT_EQ(m.vertices.size(), N * (L - 1) + 2);
  auto s = [&](std::uint64_t c, std::uint64_t j) {
    const double phi = (double(c) * 3.141592653589793) / double(L);
    const double th = (double(j) * 6.283185307179586) / double(N);
    const double rho = std::sin(phi) * 2, z = std::cos(phi) * 2;
    return Pnt{rho * std::cos(th), rho * std::sin(th), z};
  };
  for (std::uint64_t c = 1; c < L; ++c) {
    // Ring c runs in azimuth order 1, 0, 2, 3, ..., N - 1.
    std::vector<std::uint64_t> order = {1, 0};
    for (std::uint64_t j = 2; j < N; ++j) order.push_back(j);
    for (std::uint64_t k = 0; k < N; ++k) {
      const Pnt p = s(c, order[k]);
      expect_pnt(m.vertices[(c - 1) * N + 1 + k], p.x, p.y, p.z);
    }
  }
  const Pnt south = s(L, 1);
  expect_pnt(m.vertices.back(), south.x, south.y, south.z);
}

TEST(Sphere, NegativeAndZeroRadius) {
  const TriMesh p = make_sphere(16, 8, 1), n = make_sphere(16, 8, -1);
  ASSERT_EQ(p.vertices.size(), n.vertices.size());
  for (std::size_t i = 0; i < p.vertices.size(); ++i) {
    expect_pnt(n.vertices[i], -p.vertices[i].x, -p.vertices[i].y, -p.vertices[i].z);
  }
  EXPECT_EQ(mesh::signed_volume(n), mesh::signed_volume(p));
  EXPECT_EQ(test::unmatched_edges(n), 0u);

  const TriMesh z = make_sphere(64, 32, 0);
  EXPECT_EQ(z.vertices.size(), 1u);
  EXPECT_TRUE(z.triangles.empty());
}

TEST(Torus, NumberingAndVolume) {
  const std::uint64_t N = 8;
  const TriMesh m = make_torus(N, 2, 0.5);
  EXPECT_EQ(m.vertices.size(), 64u);
  EXPECT_EQ(m.triangles.size(), 128u);
  const std::vector<Triangle> head = {{0, 1, 2}, {0, 2, 3}, {3, 2, 4}, {3, 4, 5}};
  EXPECT_EQ(first(m, 4), head);
  EXPECT_NEAR(mesh::signed_volume(m), 8.0, 1e-12);
  auto q = [&](std::uint64_t a, std::uint64_t i) {
    const double u = (double(a) * 6.283185307179586) / double(N);
    const double v = (double(i) * 6.283185307179586) / double(N);
    const double rho = std::cos(v) * 0.5 + 2;
    return Pnt{std::cos(u) * rho, std::sin(u) * rho, std::sin(v) * 0.5};
  };
  auto index = [&](std::uint64_t a, std::uint64_t i) -> std::uint64_t {
    if (i == 0 && a < 2) return a;
    if (a == 1) return 2 * i;
    if (a == 0) return 2 * i + 1;
    return a * N + i;
  };
  for (std::uint64_t a = 0; a < N; ++a) {
    for (std::uint64_t i = 0; i < N; ++i) {
      const Pnt p = q(a, i);
      expect_pnt(m.vertices[index(a, i)], p.x, p.y, p.z);
    }
  }
}

TEST(Torus, DegenerateRadii) {
  const TriMesh touching = make_torus(8, 1, 1);  // tube points on the axis weld into one
  EXPECT_EQ(touching.vertices.size(), 8u * 7u + 1u);
  EXPECT_EQ(test::unmatched_edges(touching), 0u);
  for (auto [major, minor] : {std::pair{-2.0, 0.5}, std::pair{2.0, -0.5}, std::pair{0.5, 2.0}}) {
    const TriMesh m = make_torus(12, major, minor);
    EXPECT_EQ(test::unmatched_edges(m), 0u) << major << " " << minor;
    EXPECT_GE(mesh::signed_volume(m), 0.0) << major << " " << minor;
  }
}

// Every builder's result is closed and outward over a grid of sizes and counts.
TEST(Closedness, Grid) {
  const std::uint64_t counts[] = {0, 8, 9, 13, 32, 64};
  const double sizes[] = {1e-3, 0.5, 1, 7.25, 1e4};
  for (double s : sizes) {
    for (const TriMesh& m : {make_box(Pnt{-s, 2 * s, 0.1}, s, 2 * s, 3 * s),
                             make_box_centered_xy(Pnt{1, 1, 1}, -s, s, -s)}) {
      EXPECT_EQ(test::unmatched_edges(m), 0u) << s;
      EXPECT_GT(mesh::signed_volume(m), 0.0) << s;
    }
    for (std::uint64_t n : counts) {
      const TriMesh meshes[] = {make_cylinder(n, s, s),    make_cylinder(n, s, -2 * s),
                                make_cone(n, s, 0, s),     make_cone(n, 0, s, -s),
                                make_cone(n, s, s / 3, s), make_sphere(n, n / 2, s),
                                make_sphere(n, n, -s),     make_torus(n, 3 * s, s)};
      for (const TriMesh& m : meshes) {
        EXPECT_EQ(test::unmatched_edges(m), 0u) << "n=" << n << " s=" << s;
        EXPECT_GT(mesh::signed_volume(m), 0.0) << "n=" << n << " s=" << s;
      }
    }
  }
}

// Non-finite and huge inputs finish and keep every index in range.
TEST(Hostile, NonFiniteInputs) {
  const double odd[] = {kNaN, kInf, -kInf, 1e308, -1e308, 5e-324};
  for (double v : odd) {
    const TriMesh meshes[] = {make_box(Pnt{v, 0, 0}, 1, v, 1),
                              make_box_centered_xy(Pnt{0, v, 0}, v, v, v),
                              make_cone(8, v, 1, v),
                              make_cone(8, 1, v, 1),
                              make_sphere(8, 4, v),
                              make_torus(8, v, 1),
                              make_torus(8, 1, v)};
    for (const TriMesh& m : meshes) {
      for (const Triangle& t : m.triangles) {
        for (std::uint64_t i : t) EXPECT_LT(i, m.vertices.size());
      }
    }
  }
}

// A count whose triangles could never be stored fails at once, before any loop.
TEST(Hostile, UnstorableCountsThrowBadAlloc) {
  EXPECT_THROW(make_cylinder(kMax, 1, 1), std::bad_alloc);
  EXPECT_THROW(make_cone(std::uint64_t{1} << 62, 1, 0, 1), std::bad_alloc);
  EXPECT_THROW(make_sphere(kMax, 4, 1), std::bad_alloc);
  EXPECT_THROW(make_sphere(8, kMax, 1), std::bad_alloc);
  EXPECT_THROW(make_sphere(std::uint64_t{1} << 40, std::uint64_t{1} << 40, 1), std::bad_alloc);
  EXPECT_THROW(make_torus(std::uint64_t{1} << 32, 2, 1), std::bad_alloc);
  EXPECT_THROW(make_torus(std::uint64_t{1} << 31, 2, 1), std::bad_alloc);
  // Nothing to push means nothing to store, whatever the count.
  EXPECT_TRUE(make_cone(kMax, 0, 0, 1).triangles.empty());
}
