// The ear cutter on rings large enough for its grid index: every corner
// kept, the outline covered exactly, no corner inside a triangle.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "simplify/polygon_fill.h"

namespace quorvalind::simplify {
namespace {

using Tri = std::array<std::uint32_t, 3>;

struct Shape {
  std::vector<Pt2> pts;
  std::vector<std::vector<std::uint32_t>> rings;

  // A ring of n corners on a circle (radius jittered by `wobble`),
  // counter-clockwise or clockwise.
  void circle(double cx, double cy, double r, int n, bool ccw, double wobble, std::mt19937& rng) {
    std::uniform_real_distribution<double> jitter(1 - wobble, 1 + wobble);
    std::vector<std::uint32_t> ring;
    for (int k = 0; k < n; ++k) {
      const double a = 2 * std::numbers::pi * (ccw ? k : n - k) / n;
      const double rr = r * jitter(rng);
      ring.push_back(static_cast<std::uint32_t>(pts.size()));
      pts.push_back({cx + rr * std::cos(a), cy + rr * std::sin(a)});
    }
    rings.push_back(ring);
  }
};

double twice_area(const Pt2& a, const Pt2& b, const Pt2& c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

double ring_area(const Shape& s, const std::vector<std::uint32_t>& ring) {
  double sum = 0;
  for (std::size_t k = 0; k < ring.size(); ++k) {
    const Pt2& a = s.pts[ring[k]];
    const Pt2& b = s.pts[ring[(k + 1) % ring.size()]];
    sum += a.x * b.y - b.x * a.y;
  }
  return sum;
}

void expect_exact_cover(const Shape& s, const std::vector<Tri>& out) {
  std::size_t corners = 0;
  double want = 0;
  for (const auto& r : s.rings) {
    corners += r.size();
    want += ring_area(s, r);
  }
  ASSERT_EQ(out.size(), corners + 2 * (s.rings.size() - 1) - 2);
  std::vector<int> used(s.pts.size(), 0);
  double got = 0;
  for (const Tri& t : out) {
    const double a = twice_area(s.pts[t[0]], s.pts[t[1]], s.pts[t[2]]);
    EXPECT_GT(a, 0);
    got += a;
    for (const std::uint32_t i : t) used[i] = 1;
    // No corner strictly inside a triangle (the cover would overlap).
    for (std::size_t p = 0; p < s.pts.size(); ++p) {
      if (p == t[0] || p == t[1] || p == t[2]) continue;
      const Pt2& q = s.pts[p];
      const bool inside = twice_area(s.pts[t[0]], s.pts[t[1]], q) > 0 &&
                          twice_area(s.pts[t[1]], s.pts[t[2]], q) > 0 &&
                          twice_area(s.pts[t[2]], s.pts[t[0]], q) > 0;
      ASSERT_FALSE(inside) << "corner " << p;
    }
  }
  EXPECT_NEAR(got, want, 1e-9 * want);
  for (std::size_t p = 0; p < s.pts.size(); ++p)
    EXPECT_TRUE(used[p]) << "corner " << p << " dropped";
}

// A disc with a grid of round holes, like a plate's face after a chain of
// cuts; wide and narrow boxes give grids of other shapes.
class PlateFill : public ::testing::TestWithParam<std::tuple<int, double, double>> {};

TEST_P(PlateFill, CoversTheOutlineExactly) {
  const auto [seed, sx, wobble] = GetParam();
  std::mt19937 rng(static_cast<unsigned>(seed));
  Shape s;
  // The outer ring: a square's sides with points along them, kept as corners.
  std::vector<std::uint32_t> outer;
  const int per_side = 30;
  const Pt2 corner[4] = {{0, 0}, {10 * sx, 0}, {10 * sx, 10}, {0, 10}};
  for (int side = 0; side < 4; ++side) {
    const Pt2 a = corner[side], b = corner[(side + 1) % 4];
    for (int k = 0; k < per_side; ++k) {
      const double t = static_cast<double>(k) / per_side;
      outer.push_back(static_cast<std::uint32_t>(s.pts.size()));
      s.pts.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
    }
  }
  s.rings.push_back(outer);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      s.circle(sx * (2 + 3 * i), 2 + 3 * j, 0.8 * std::min(sx, 1.0), 24, false, wobble, rng);
    }
  }
  std::vector<Tri> out;
  ASSERT_TRUE(fill_polygon(s.pts, s.rings, out));
  expect_exact_cover(s, out);
}

INSTANTIATE_TEST_SUITE_P(Shapes, PlateFill,
                         ::testing::Combine(::testing::Values(1, 2, 3),
                                            ::testing::Values(1.0, 0.05, 20.0),
                                            ::testing::Values(0.0, 0.2)));

TEST(PolygonFill, StarWithManyReflexCorners) {
  Shape s;
  std::vector<std::uint32_t> ring;
  const int n = 400;
  for (int k = 0; k < n; ++k) {
    const double a = 2 * std::numbers::pi * k / n;
    const double r = k % 2 ? 1.0 : 3.0;
    ring.push_back(static_cast<std::uint32_t>(s.pts.size()));
    s.pts.push_back({r * std::cos(a), r * std::sin(a)});
  }
  s.rings.push_back(ring);
  std::vector<Tri> out;
  ASSERT_TRUE(fill_polygon(s.pts, s.rings, out));
  expect_exact_cover(s, out);
}

// Rings whose box has no width or no height, or non-finite corners: no
// cover exists; the filler says so and leaves `out` alone.
TEST(PolygonFill, FlatOrNonFiniteRingsAreRefused) {
  for (const double bad : std::vector<double>{0.0, std::nan(""), INFINITY}) {
    Shape s;
    std::vector<std::uint32_t> ring;
    for (int k = 0; k < 100; ++k) {
      ring.push_back(static_cast<std::uint32_t>(s.pts.size()));
      s.pts.push_back({static_cast<double>(k % 50), k == 60 ? bad : 0.0});
    }
    s.rings.push_back(ring);
    std::vector<Tri> out{{7, 7, 7}};
    EXPECT_FALSE(fill_polygon(s.pts, s.rings, out)) << bad;
    EXPECT_EQ(out.size(), 1u);
  }
}

}  // namespace
}  // namespace quorvalind::simplify
