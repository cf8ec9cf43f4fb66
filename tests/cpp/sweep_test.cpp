#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <random>

#include "brep_builder_api/builder.h"
#include "brep_prim_api/prism.h"
#include "brep_prim_api/revol.h"
#include "face_corpus.h"
#include "gp/tolerances.h"
#include "tess/triangulate.h"

namespace gp = quorvalind::gp;
namespace mesh = quorvalind::mesh;
using quorvalind::brep_prim_api::make_prism;
using quorvalind::brep_prim_api::make_revol;
using quorvalind::gp::Pnt;
using quorvalind::topods::Face;
using quorvalind::topods::Wire;

namespace {

// Directed edges whose reverse is missing, counted with multiplicity.
int unmatched_edges(const mesh::TriMesh& m) {
  std::map<std::pair<std::uint64_t, std::uint64_t>, int> edges;
  for (const mesh::Triangle& t : m.triangles) {
    for (int i = 0; i < 3; ++i) ++edges[{t[i], t[(i + 1) % 3]}];
  }
  int bad = 0;
  for (const auto& [e, n] : edges) {
    const auto it = edges.find({e.second, e.first});
    if (it == edges.end() || it->second != n) bad += n;
  }
  return bad;
}

Face face2d(const corpus::Loop& outer, const std::vector<corpus::Loop>& holes = {}) {
  return corpus::face_of(outer, holes, gp::Trsf{});
}

const corpus::Loop kUnitSquare{{0, 0}, {1, 0}, {1, 1}, {0, 1}};

Wire rectangle_xz() { return Wire{{{1, 0, 0}, {2, 0, 0}, {2, 0, 1}, {1, 0, 1}}}; }

using Tris = std::vector<mesh::Triangle>;
Tris first_triangles(const mesh::TriMesh& m, std::size_t n) {
  return Tris(m.triangles.begin(),
              m.triangles.begin() + static_cast<std::ptrdiff_t>(std::min(n, m.triangles.size())));
}

}  // namespace

TEST(Polygon, ClosingRule) {
  const std::vector<Pnt> sq{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon(sq).points.size(), 4u);
  auto closed = sq;
  closed.push_back({0, 0, 0});
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon(closed).points.size(), 4u);
  closed.back() = {1e-9, 0, 0};
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon(closed).points.size(), 5u);
  closed.back() = {0.9e-9, 0, 0};
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon(closed).points.size(), 4u);
  // Only once.
  closed.back() = {0, 0, 0};
  closed.push_back({0, 0, 0});
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon(closed).points.size(), 5u);
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon({{1, 1, 1}}).points.size(), 1u);
  EXPECT_EQ(quorvalind::brep_builder_api::make_polygon({{1, 1, 1}, {1, 1, 1}}).points.size(), 1u);
  EXPECT_TRUE(quorvalind::brep_builder_api::make_polygon({}).points.empty());
}

TEST(Prism, UnitSquareBothDirectionsAndWindings) {
  struct Case {
    corpus::Loop outer;
    Pnt v;
    double volume;
  };
  const corpus::Loop cw{{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  for (const Case& c : {Case{kUnitSquare, {0, 0, 1}, 1.0}, Case{kUnitSquare, {0, 0, -1}, 1.0},
                        Case{cw, {0, 0, 1}, 1.0}, Case{kUnitSquare, {1, 0, 0.5}, 0.5}}) {
    const mesh::TriMesh m = make_prism(face2d(c.outer), c.v);
    EXPECT_EQ(m.vertices.size(), 8u);
    EXPECT_EQ(m.triangles.size(), 12u);
    EXPECT_DOUBLE_EQ(mesh::signed_volume(m), c.volume);
    EXPECT_EQ(unmatched_edges(m), 0);
  }
  // Below the plane: every vertex has z <= 0.
  for (const Pnt& p : make_prism(face2d(kUnitSquare), {0, 0, -1}).vertices) EXPECT_LE(p.z, 0.0);
}

TEST(Prism, SquareWithClockwiseHole) {
  const Face f = face2d({{0, 0}, {3, 0}, {3, 3}, {0, 3}}, {{{1, 1}, {1, 2}, {2, 2}, {2, 1}}});
  for (double dz : {1.0, -1.0}) {
    const mesh::TriMesh m = make_prism(f, {0, 0, dz});
    EXPECT_EQ(m.vertices.size(), 16u);
    EXPECT_EQ(m.triangles.size(), 32u);
    EXPECT_DOUBLE_EQ(mesh::signed_volume(m), 8.0);
    EXPECT_EQ(unmatched_edges(m), 0);
  }
  // The face whose nearest-entry bridge would cross its hole.
  const Face g =
      face2d({{0, 0}, {3, 0}, {3, 3}, {0, 3}}, {{{0.5, 0.5}, {0.5, 1.5}, {1.5, 1.5}, {1.5, 0.5}}});
  const mesh::TriMesh m = make_prism(g, {0, 0, 1});
  EXPECT_DOUBLE_EQ(mesh::signed_volume(m), 8.0);
  EXPECT_EQ(unmatched_edges(m), 0);
}

TEST(Prism, DegenerateInputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Zero vector: each cap triangle twice, opposite windings, no walls.
  const mesh::TriMesh sheet = make_prism(face2d(kUnitSquare), {0, 0, 0});
  EXPECT_EQ(sheet.vertices.size(), 4u);
  EXPECT_EQ(sheet.triangles.size(), 4u);
  EXPECT_EQ(mesh::signed_volume(sheet), 0.0);
  // In the face plane: volume 0.
  EXPECT_NEAR(mesh::signed_volume(make_prism(face2d(kUnitSquare), {1, 1, 0})), 0.0, 1e-15);
  // Collinear outer wire: n = +z, so d > 0 and the one cap triangle, (p2, p1,
  // p0) from the reversed zero-area ring, is pushed as (p2, p0, p1); flat
  // triangles with distinct corners survive the weld.
  const Face line{Wire{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}}, {}};
  const mesh::TriMesh flat = make_prism(line, {0, 0, 1});
  EXPECT_EQ(flat.triangles.size(), 8u);
  EXPECT_EQ(flat.vertices[1].x, 0.0);
  EXPECT_EQ(make_prism(line, {0, 0, -1}).vertices[1].x, 1.0);
  // Fewer than 3 points: walls only, an open mesh; none for an empty wire.
  EXPECT_EQ(make_prism(Face{Wire{{{0, 0, 0}, {1, 0, 0}}}, {}}, {0, 0, 1}).triangles.size(), 4u);
  EXPECT_TRUE(make_prism(Face{}, {0, 0, 1}).triangles.empty());
  // Walls of a hole the triangulation ignores are still built.
  const Face stub = face2d(kUnitSquare, {{{0.5, 0.5}, {0.6, 0.5}}});
  EXPECT_EQ(make_prism(stub, {0, 0, 1}).triangles.size(), 12u + 4u);
  // Non-finite input never faults.
  for (const Pnt& v : {Pnt{nan, 0, 1}, Pnt{0, 0, std::numeric_limits<double>::infinity()}}) {
    EXPECT_NO_THROW(make_prism(face2d(kUnitSquare, {{{0.2, 0.2}, {0.2, 0.4}, {0.4, 0.4}}}), v));
  }
  const Face bad{Wire{{{0, 0, 0}, {nan, 1, 0}, {1, 1, 0}, {1, 0, nan}}}, {}};
  EXPECT_NO_THROW(make_prism(bad, {0, 0, 1}));
}

TEST(Revol, RectangleQuarterTurn) {
  const mesh::TriMesh pos = make_revol(rectangle_xz(), gp::ax1_oz(), 8, gp::PI / 2);
  EXPECT_EQ(pos.vertices.size(), 36u);
  EXPECT_EQ(pos.triangles.size(), 68u);
  EXPECT_EQ(first_triangles(pos, 4), (Tris{{0, 2, 1}, {0, 3, 2}, {1, 5, 4}, {1, 2, 5}}));
  EXPECT_EQ(unmatched_edges(pos), 0);
  const mesh::TriMesh neg = make_revol(rectangle_xz(), gp::ax1_oz(), 8, -gp::PI / 2);
  EXPECT_EQ(neg.vertices.size(), 36u);
  EXPECT_EQ(neg.triangles.size(), 68u);
  EXPECT_EQ(first_triangles(neg, 4), (Tris{{0, 1, 2}, {0, 2, 3}, {1, 4, 5}, {1, 5, 2}}));
  EXPECT_EQ(unmatched_edges(neg), 0);
}

TEST(Revol, CountsAndVolumes) {
  const mesh::TriMesh full = make_revol(rectangle_xz(), gp::ax1_oz(), 64, gp::TWO_PI);
  EXPECT_EQ(full.vertices.size(), 256u);
  EXPECT_EQ(full.triangles.size(), 512u);
  EXPECT_NEAR(mesh::signed_volume(full), 96.0 * std::sin(gp::TWO_PI / 64.0), 1e-12);
  EXPECT_EQ(unmatched_edges(full), 0);
  const mesh::TriMesh half = make_revol(rectangle_xz(), gp::ax1_oz(), 64, gp::PI);
  EXPECT_EQ(half.vertices.size(), 260u);
  EXPECT_EQ(half.triangles.size(), 516u);
  EXPECT_EQ(unmatched_edges(half), 0);
  // Apex points on the axis weld into one vertex each.
  const mesh::TriMesh cone =
      make_revol(Wire{{{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}}, gp::ax1_oz(), 8, gp::TWO_PI);
  EXPECT_EQ(cone.vertices.size(), 10u);
  EXPECT_EQ(cone.triangles.size(), 16u);
  EXPECT_EQ(unmatched_edges(cone), 0);
  EXPECT_GT(mesh::signed_volume(cone), 0.0);
  // Segment counts below 8 are used as 8.
  const mesh::TriMesh eight = make_revol(rectangle_xz(), gp::ax1_oz(), 8, gp::PI / 2);
  const mesh::TriMesh zero = make_revol(rectangle_xz(), gp::ax1_oz(), 0, gp::PI / 2);
  EXPECT_EQ(zero.triangles, eight.triangles);
  EXPECT_EQ(zero.vertices.size(), eight.vertices.size());
  // Within 1e-6 of a full turn counts as one: no caps.
  EXPECT_EQ(make_revol(rectangle_xz(), gp::ax1_oz(), 8, gp::TWO_PI - 5e-7).triangles.size(), 64u);
  EXPECT_EQ(make_revol(rectangle_xz(), gp::ax1_oz(), 8, -gp::TWO_PI).triangles.size(), 64u);
  EXPECT_EQ(make_revol(rectangle_xz(), gp::ax1_oz(), 8, gp::TWO_PI - 2e-6).triangles.size(), 68u);
}

TEST(Revol, DegenerateInputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(make_revol(Wire{{{1, 0, 0}, {2, 0, 0}}}, gp::ax1_oz(), 8, 1.0).triangles.empty());
  EXPECT_TRUE(make_revol(Wire{{{1, 0, 0}, {2, 0, 0}}}, gp::ax1_oz(), 8, 1.0).vertices.empty());
  // Angle 0: the sweep collapses, the caps stay as a double-sided sheet.
  const mesh::TriMesh sheet = make_revol(rectangle_xz(), gp::ax1_oz(), 8, 0.0);
  EXPECT_EQ(sheet.vertices.size(), 4u);
  EXPECT_EQ(sheet.triangles.size(), 4u);
  EXPECT_EQ(mesh::signed_volume(sheet), 0.0);
  // Past a full turn: no caps, the sweep overlaps itself.
  EXPECT_EQ(make_revol(rectangle_xz(), gp::ax1_oz(), 8, 1e300).triangles.size() % 2, 0u);
  for (double angle : {nan, inf, -inf, 1e300, -1e-300}) {
    EXPECT_NO_THROW(make_revol(rectangle_xz(), gp::ax1_oz(), 8, angle)) << angle;
  }
  // Axis with a zero or NaN direction, profile with NaN or on the axis.
  EXPECT_NO_THROW(make_revol(rectangle_xz(), gp::Ax1{{0, 0, 0}, {0, 0, 0}}, 8, 1.0));
  EXPECT_NO_THROW(make_revol(rectangle_xz(), gp::Ax1{{0, 0, 0}, {nan, 0, 1}}, 8, 1.0));
  EXPECT_NO_THROW(make_revol(Wire{{{1, nan, 0}, {2, 0, 0}, {2, 0, 1}}}, gp::ax1_oz(), 8, 1.0));
  const mesh::TriMesh axis =
      make_revol(Wire{{{0, 0, 0}, {0, 0, 1}, {0, 0, 2}}}, gp::ax1_oz(), 8, 1.0);
  EXPECT_EQ(mesh::signed_volume(axis), 0.0);
  // Self-intersecting and non-planar profiles are swept as given.
  EXPECT_NO_THROW(
      make_revol(Wire{{{1, 0, 0}, {2, 0, 1}, {2, 0, 0}, {1, 0, 1}}}, gp::ax1_oz(), 8, 1.0));
  EXPECT_NO_THROW(
      make_revol(Wire{{{1, 0, 0}, {2, 1, 0}, {2, 0, 1}, {1, -1, 1}}}, gp::ax1_oz(), 8, 1.0));
}

TEST(Revol, UnstorableSegmentCountFailsAtOnce) {
  for (std::uint64_t n : {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{1} << 62,
                          std::uint64_t{1} << 40}) {
    EXPECT_THROW(make_revol(rectangle_xz(), gp::ax1_oz(), n, 1.0), std::bad_alloc) << n;
    EXPECT_THROW(make_revol(rectangle_xz(), gp::ax1_oz(), n, gp::TWO_PI), std::bad_alloc) << n;
  }
}

// Plates with clockwise holes, placed anywhere, extruded along oblique
// vectors: closed, with volume = area * |n . v|.
TEST(Prism, GeneratedPlatesAreClosed) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (std::size_t holes : {1, 2, 4, 9, 20, 50}) {
    const corpus::Plate p = corpus::plate(holes, rng, true);
    for (int variant = 0; variant < 3; ++variant) {
      const gp::Trsf t = corpus::placement(rng, variant == 2, variant == 0);
      const Face f = corpus::face_of(p.outer, p.holes, t);
      const Pnt n = quorvalind::topods::normal(f.outer);
      Pnt v{u(rng), u(rng), u(rng)};
      v = gp::add(v, gp::scale(n, u(rng) < 0.0 ? -1.5 : 1.5));
      const mesh::TriMesh m = make_prism(f, v);
      SCOPED_TRACE(std::to_string(holes) + " holes, variant " + std::to_string(variant));
      EXPECT_EQ(unmatched_edges(m), 0);
      const double expected = p.area * std::fabs(gp::dot(n, v));
      EXPECT_NEAR(mesh::signed_volume(m), expected, 1e-9 * expected);
    }
  }
}

// Convex, star-shaped and comb profiles beside the axis, partial and full turns.
TEST(Revol, GeneratedProfilesAreClosed) {
  std::mt19937_64 rng(5);
  std::vector<corpus::Loop> profiles{corpus::convex(12, rng), corpus::star(40, rng),
                                     corpus::comb(6)};
  for (corpus::Loop& l : profiles) {
    // Move into x > 0.5, the axis being z; combs are scaled into a unit box.
    double lo = 1e300, hi = -1e300;
    for (const auto& q : l) {
      lo = std::min(lo, q.first);
      hi = std::max(hi, q.first);
    }
    const double s = 1.0 / (hi - lo);
    for (auto& q : l) q = {0.5 + (q.first - lo) * s, q.second * s};
  }
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    for (const bool cw : {false, true}) {
      const corpus::Loop l = cw ? corpus::reversed(profiles[i]) : profiles[i];
      Wire w;
      for (const auto& [x, z] : l) w.points.push_back({x, 0.0, z});
      for (const double angle : {0.7, -2.0, gp::PI, gp::TWO_PI, -gp::TWO_PI}) {
        const mesh::TriMesh m = make_revol(w, gp::ax1_oz(), 24, angle);
        SCOPED_TRACE("profile " + std::to_string(i) + (cw ? " cw" : "") + " angle " +
                     std::to_string(angle));
        EXPECT_EQ(unmatched_edges(m), 0);
        EXPECT_GT(mesh::signed_volume(m), 0.0);
      }
    }
  }
}
