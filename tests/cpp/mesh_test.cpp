#include <gtest/gtest.h>

#include <cerrno>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <tuple>

#include "gp/fault.h"
#include "gp/speed_knobs.h"
#include "mesh/tri_mesh.h"
#include "mesh_checks.h"
#include "topods/shapes.h"

using namespace quorvalind;
using mesh::TriMesh;
using mesh::weld_key;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
}  // namespace

struct KeyCase {
  double scaled;
  std::int64_t key;
};

class WeldKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(WeldKey, RoundsHalfAwayAndSaturates) {
  EXPECT_EQ(weld_key(GetParam().scaled), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WeldKey,
    ::testing::Values(KeyCase{0.5, 1}, KeyCase{-0.5, -1}, KeyCase{0.4999999999999999, 0},
                      KeyCase{1.5, 2}, KeyCase{2.5, 3}, KeyCase{-2.5, -3}, KeyCase{-0.0, 0},
                      KeyCase{kNaN, 0}, KeyCase{kInf, kMax}, KeyCase{-kInf, kMin},
                      KeyCase{9223372036854775808.0, kMax}, KeyCase{1e300, kMax},
                      KeyCase{-9223372036854775808.0, kMin}, KeyCase{-1e300, kMin},
                      // Largest double below 2^63 converts exactly.
                      KeyCase{9223372036854774784.0, 9223372036854774784LL}));

namespace {
TriMesh soup(std::initializer_list<gp::Pnt> pts) {
  TriMesh m;
  auto it = pts.begin();
  while (it != pts.end()) {
    const gp::Pnt a = *it++, b = *it++, c = *it++;
    mesh::push_triangle(m, a, b, c);
  }
  return m;
}
}  // namespace

TEST(Weld, FirstOccurrenceOrderAndCoordinates) {
  const TriMesh m = soup({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1e-8}});
  const TriMesh w = mesh::welded(m, 1e-7);
  ASSERT_EQ(w.vertices.size(), 3u);
  EXPECT_EQ(w.vertices[0].z, 0.0);  // first occurrence keeps its coordinates
  EXPECT_EQ(w.vertices[1].x, 1.0);
  EXPECT_EQ(w.vertices[2].y, 1.0);
  ASSERT_EQ(w.triangles.size(), 2u);
  EXPECT_EQ(w.triangles[0], (mesh::Triangle{0, 1, 2}));
  EXPECT_EQ(w.triangles[1], (mesh::Triangle{1, 2, 0}));
}

TEST(Weld, HalfCellAtCoarseTolerance) {
  // Scale 2: 0.25 -> key 1, -0.25 -> key -1, 0.2 -> key 0.
  const TriMesh m =
      soup({{0.25, 0, 0}, {0, 0, 0}, {0.2, 0, 0}, {-0.25, 0, 0}, {5, 0, 0}, {0, 5, 0}});
  const TriMesh w = mesh::welded(m, 0.5);
  ASSERT_EQ(w.vertices.size(), 5u);
  EXPECT_EQ(w.vertices[0].x, 0.25);
  EXPECT_EQ(w.vertices[1].x, 0.0);
  EXPECT_EQ(w.vertices[2].x, -0.25);
  // (0.25, 0, 0.2) collapses: 0 and 0.2 share a cell; the second survives.
  ASSERT_EQ(w.triangles.size(), 1u);
  EXPECT_EQ(w.triangles[0], (mesh::Triangle{2, 3, 4}));
}

TEST(Weld, CollapsedTriangleKeepsVertexAndNonPositiveToleranceUsesFineGrid) {
  const TriMesh m = soup({{0, 0, 0}, {1e-10, 0, 0}, {0, 1e-10, 0}});
  const TriMesh w = mesh::welded(m, 1e-7);
  EXPECT_EQ(w.vertices.size(), 1u);
  EXPECT_TRUE(w.triangles.empty());
  for (double tol : {0.0, -1.0, kNaN}) {
    const TriMesh f = mesh::welded(soup({{0, 0, 0}, {4e-10, 0, 0}, {6e-10, 0, 0}}), tol);
    EXPECT_EQ(f.vertices.size(), 2u) << tol;  // grid of 1e-9
  }
}

TEST(Weld, NonFiniteCoordinatesSaturate) {
  const TriMesh m =
      soup({{kInf, 0, 0}, {1e300, 0, 0}, {kNaN, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}});
  const TriMesh w = mesh::welded(m, 1e-7);
  // inf and 1e300 saturate to one key; NaN and 0 share key 0.
  EXPECT_EQ(w.vertices.size(), 4u);
  EXPECT_TRUE(std::isinf(w.vertices[0].x));
}

TEST(Weld, IndexFaultMessage) {
  TriMesh m;
  m.vertices.push_back({0, 0, 0});
  m.triangles.push_back({0, 1, 2});
  try {
    mesh::welded(m, 1e-7);
    FAIL() << "expected a fault";
  } catch (const gp::InternalFault& e) {
    EXPECT_STREQ(e.what(), "index out of bounds: the len is 1 but the index is 1");
  }
  EXPECT_THROW(mesh::signed_volume(m), gp::InternalFault);
  m.triangles = {{0, 0, 7}};
  try {
    mesh::signed_volume(m);
    FAIL();
  } catch (const gp::InternalFault& e) {
    EXPECT_STREQ(e.what(), "index out of bounds: the len is 1 but the index is 7");
  }
}

struct FirstsCase {
  unsigned seed;
  std::size_t vertices, triangles;
  double tolerance;
};

static int refuse_to_start(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  return EAGAIN;
}

class WeldFirsts : public ::testing::TestWithParam<FirstsCase> {};

// Both index widths and the split weld give the same map, one first vertex per distinct key,
// and renumbering it in order reproduces welded() bit for bit.
TEST_P(WeldFirsts, BothWidthsMatchTheCellsAndWelded) {
  const FirstsCase& c = GetParam();
  const TriMesh m = test::hostile_soup(c.seed, c.vertices, c.triangles);
  const double scale = c.tolerance > 0.0 ? 1.0 / c.tolerance : 1e9;
  auto key = [&](std::size_t v) {
    const gp::Pnt& p = m.vertices[v];
    return std::tuple(weld_key(p.x * scale), weld_key(p.y * scale), weld_key(p.z * scale));
  };
  const auto f32 = mesh::weld_firsts<std::uint32_t>(m, c.tolerance);
  const auto f64 = mesh::weld_firsts<std::uint64_t>(m, c.tolerance);
  const TriMesh w = mesh::welded(m, c.tolerance);
  std::set<std::tuple<std::int64_t, std::int64_t, std::int64_t>> first_keys;
  std::size_t next = 0;
  const auto h32 = mesh::weld_firsts_in_halves<std::uint32_t>(m, c.tolerance);
  const auto h64 = mesh::weld_firsts_in_halves<std::uint64_t>(m, c.tolerance);
  const auto alone = mesh::weld_firsts_in_halves<std::uint32_t>(m, c.tolerance, &refuse_to_start);
  for (std::size_t v = 0; v < m.vertices.size(); ++v) {
    ASSERT_EQ(f32[v], f64[v]) << v;
    ASSERT_EQ(h32[v], f32[v]) << v;
    ASSERT_EQ(h64[v], f64[v]) << v;
    ASSERT_EQ(alone[v], f32[v]) << v;
    ASSERT_LE(f64[v], v);
    ASSERT_EQ(key(f64[v]), key(v)) << v;
    if (f64[v] != v) continue;
    EXPECT_TRUE(first_keys.insert(key(v)).second) << "second first vertex for a key at " << v;
    ASSERT_LT(next, w.vertices.size());
    EXPECT_EQ(std::memcmp(&w.vertices[next], &m.vertices[v], sizeof(gp::Pnt)), 0) << v;
    ++next;
  }
  EXPECT_EQ(next, w.vertices.size());
  EXPECT_LT(next, m.vertices.size());  // the soup does share cells
}

INSTANTIATE_TEST_SUITE_P(Soups, WeldFirsts,
                         ::testing::Values(FirstsCase{1, 3000, 4000, 1e-7},
                                           // One triangle sizes the table for
                                           // one key: it has to grow.
                                           FirstsCase{2, 6000, 1, 1e-7},
                                           FirstsCase{3, 3000, 4000, 0.0},
                                           FirstsCase{4, 3000, 100, 0.25}));

// At tolerance 1 the scaled coordinate is the coordinate itself, so the
// weld's cells can be held against weld_key on exact ties, on both sides of
// the ranges where the key is computed differently, and on special values.
TEST(Weld, CellsFollowWeldKeyOnTiesAndRangeBounds) {
  const double two51 = 2251799813685248.0, two52 = 4503599627370496.0;
  std::vector<double> values{0.0,
                             -0.0,
                             0.5,
                             -0.5,
                             1.5,
                             -1.5,
                             2.5,
                             -2.5,
                             0.49999999999999994,
                             -0.49999999999999994,
                             1e-300,
                             kNaN,
                             kInf,
                             -kInf,
                             1e300,
                             -1e300,
                             two51,
                             -two51,
                             two52,
                             -two52,
                             9223372036854775808.0,
                             -9223372036854775808.0};
  for (const double b : {two51, two52}) {
    for (const double d : {-1.5, -1.0, -0.5, -0.25, 0.25, 0.5, 1.0, 2.0}) {
      values.push_back(b + d);
      values.push_back(-(b + d));
    }
  }
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> half_steps(-40, 40);
  for (int i = 0; i < 40; ++i) values.push_back(0.5 * half_steps(rng));
  TriMesh m;
  for (std::size_t i = 0; i < 3000; ++i) {
    m.vertices.push_back({values[rng() % values.size()], values[rng() % values.size()],
                          values[rng() % values.size()]});
  }
  m.triangles.push_back({0, 1, 2});
  auto key = [&](std::size_t v) {
    const gp::Pnt& p = m.vertices[v];
    return std::tuple(weld_key(p.x), weld_key(p.y), weld_key(p.z));
  };
  const auto firsts = mesh::weld_firsts<std::uint32_t>(m, 1.0);
  std::set<std::tuple<std::int64_t, std::int64_t, std::int64_t>> first_keys;
  for (std::size_t v = 0; v < m.vertices.size(); ++v) {
    ASSERT_EQ(key(firsts[v]), key(v)) << v;
    if (firsts[v] == v) {
      EXPECT_TRUE(first_keys.insert(key(v)).second) << v;
    }
  }
}

class WeldFans : public ::testing::TestWithParam<unsigned> {};

// Fans whose corners repeat exactly, fall into one cell, collapse or are not
// finite: welding them straight gives welded() of their soup, bit for bit.
TEST_P(WeldFans, EqualTheWeldOfTheirSoup) {
  std::mt19937_64 rng(GetParam());
  const TriMesh palette = test::hostile_soup(GetParam(), 200, 0);
  std::vector<gp::Pnt> flat;
  std::vector<std::uint32_t> counts;
  TriMesh soup_mesh;
  for (int f = 0; f < 400; ++f) {
    const std::uint32_t n = 3 + static_cast<std::uint32_t>(rng() % 6);
    const std::size_t start = flat.size();
    for (std::uint32_t k = 0; k < n; ++k) {
      // Mostly a small shared palette, so that fans share corners exactly.
      const bool shared = rng() % 4 != 0;
      gp::Pnt p = palette.vertices[rng() % (shared ? 20 : palette.vertices.size())];
      if (rng() % 8 == 0) p.x += 3e-7;  // another cell, or the same one
      flat.push_back(p);
    }
    counts.push_back(n);
    for (std::uint32_t k = 1; k + 1 < n; ++k) {
      mesh::push_triangle(soup_mesh, flat[start], flat[start + k], flat[start + k + 1]);
    }
  }
  for (const double tol : {1e-6, 1e-7, 0.0}) {
    const TriMesh want = mesh::welded(soup_mesh, tol);
    const TriMesh got = mesh::welded_fans(flat, counts, tol);
    ASSERT_EQ(got.vertices.size(), want.vertices.size()) << tol;
    EXPECT_EQ(std::memcmp(got.vertices.data(), want.vertices.data(),
                          want.vertices.size() * sizeof(gp::Pnt)),
              0)
        << tol;
    EXPECT_EQ(got.triangles, want.triangles) << tol;
    EXPECT_LT(want.triangles.size(), soup_mesh.triangles.size());  // some collapsed
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, WeldFans, ::testing::Values(1u, 2u, 3u));

TEST(WeldFans, CountsMustDescribeTheList) {
  const std::vector<gp::Pnt> v(6, gp::Pnt{1, 2, 3});
  const std::vector<std::uint32_t> two_triangles{3, 3}, short_fan{2, 4}, too_few{3};
  EXPECT_EQ(mesh::welded_fans(v, two_triangles, 1e-6).vertices.size(), 1u);
  EXPECT_THROW(mesh::welded_fans(v, short_fan, 1e-6), gp::InternalFault);
  EXPECT_THROW(mesh::welded_fans(v, too_few, 1e-6), gp::InternalFault);
}

// Large enough for the weld to go over several threads: the same vertices
// and triangles, in the same order, as on one.
TEST_P(WeldFans, SameOnSeveralThreads) {
  std::mt19937_64 rng(GetParam());
  const TriMesh palette = test::hostile_soup(GetParam(), 3000, 0);
  std::vector<gp::Pnt> flat;
  std::vector<std::uint32_t> counts;
  while (flat.size() < gp::WELD_TEAM_MIN_VERTICES + 1000) {
    const std::uint32_t n = 3 + static_cast<std::uint32_t>(rng() % 6);
    for (std::uint32_t k = 0; k < n; ++k) {
      gp::Pnt p = palette.vertices[rng() % (rng() % 4 != 0 ? 50 : palette.vertices.size())];
      if (rng() % 8 == 0) p.x += 3e-7;
      flat.push_back(p);
    }
    counts.push_back(n);
  }
  for (const double tol : {1e-6, 0.0}) {
    const TriMesh one = mesh::welded_fans(flat, counts, tol);
    EXPECT_LT(one.vertices.size(), flat.size() / 2);
    for (unsigned threads : {2u, 3u, 5u}) {
      for (const gp::ThreadStarter start : {gp::ThreadStarter{&pthread_create}, &refuse_to_start}) {
        const TriMesh many = mesh::welded_fans(flat, counts, tol, threads, start);
        ASSERT_EQ(many.vertices.size(), one.vertices.size()) << tol << " " << threads;
        EXPECT_EQ(std::memcmp(many.vertices.data(), one.vertices.data(),
                              one.vertices.size() * sizeof(gp::Pnt)),
                  0)
            << tol << " " << threads;
        EXPECT_EQ(many.triangles, one.triangles) << tol << " " << threads;
      }
    }
  }
  counts.back() += 1;
  EXPECT_THROW(mesh::welded_fans(flat, counts, 1e-6, 2), gp::InternalFault);
}

TEST(SignedVolume, SummationOrderIsTriangleOrder) {
  // Terms of very different magnitude: the result depends on the order.
  TriMesh m;
  m.vertices = {{1e16, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  m.triangles = {{0, 1, 2}, {3, 4, 5}, {0, 2, 1}};
  double sum = 0.0;
  for (double term : {1e16, 1.0, -1e16}) sum += term;
  EXPECT_EQ(mesh::signed_volume(m), sum / 6.0);
  EXPECT_EQ(mesh::signed_volume(TriMesh{{{1, 2, 3}}, {}}), 0.0);
}

TEST(Transform, MirrorSwapsWinding) {
  TriMesh m = soup({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  mesh::transform(m, gp::scale_xyz(1, 1, -1));
  EXPECT_EQ(m.triangles[0], (mesh::Triangle{0, 2, 1}));
  mesh::transform(m, gp::translation({1, 2, 3}));
  EXPECT_EQ(m.triangles[0], (mesh::Triangle{0, 2, 1}));
  mesh::transform(m, gp::scale_xyz(0, 1, 1));  // zero determinant: unchanged
  EXPECT_EQ(m.triangles[0], (mesh::Triangle{0, 2, 1}));
}

TEST(WireNormal, NewellAndDegenerate) {
  using topods::Wire;
  const Wire ccw{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
  EXPECT_EQ(topods::normal(ccw).z, 1.0);
  const Wire cw{{{0, 1, 0}, {1, 1, 0}, {1, 0, 0}, {0, 0, 0}}};
  EXPECT_EQ(topods::normal(cw).z, -1.0);
  for (const Wire& w : {Wire{}, Wire{{{1, 2, 3}}}, Wire{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}}}) {
    const gp::Pnt n = topods::normal(w);
    EXPECT_EQ(n.x, 0.0);
    EXPECT_EQ(n.y, 0.0);
    EXPECT_EQ(n.z, 1.0);
  }
}
