#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mesh/edge_splits.h"
#include "mesh_checks.h"

using namespace quorvalind;
using mesh::TriMesh;

namespace {

// The unit cube with its top face cut at m, the middle of edge a-b
// (slightly off the edge, as a weld leaves it), so the front face's edge
// b-a runs past m: one T-junction.
TriMesh cube_with_t_junction(double off) {
  TriMesh m;
  m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},    {0, 0, 1},
                {1, 0, 1}, {1, 1, 1}, {0, 1, 1}, {0.5, off, 1}};
  m.triangles = {{0, 2, 1}, {0, 3, 2},                         // bottom
                 {4, 8, 7}, {8, 5, 6}, {8, 6, 7},              // top, cut at 8
                 {0, 1, 5}, {0, 5, 4},                         // front: edge 5-4
                 {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  return m;
}

TriMesh resolved(const TriMesh& m, const mesh::EdgeSplits& s) {
  TriMesh out;
  out.vertices = m.vertices;
  std::vector<std::uint64_t> loop;
  std::vector<std::uint8_t> on;
  std::vector<std::array<std::uint32_t, 3>> tris;
  for (std::size_t t = 0; t < m.triangles.size(); ++t) {
    mesh::split_triangle_loop(m, s, t, loop, on);
    std::vector<gp::Pnt> pts;
    for (auto v : loop) pts.push_back(m.vertices[v]);
    tris.clear();
    mesh::triangulate_split_triangle(pts, on, tris);
    for (const auto& k : tris) out.triangles.push_back({loop[k[0]], loop[k[1]], loop[k[2]]});
  }
  return out;
}

}  // namespace

TEST(EdgeSplits, ConformingMeshHasNone) {
  TriMesh m = cube_with_t_junction(0);
  m.vertices.pop_back();
  m.triangles[2] = {4, 5, 6};
  m.triangles[3] = {4, 6, 7};
  m.triangles.erase(m.triangles.begin() + 4);
  EXPECT_TRUE(mesh::find_edge_splits(m).empty());
}

class TJunction : public ::testing::TestWithParam<double> {};

TEST_P(TJunction, FoundOnTheLongEdgeAndResolved) {
  const TriMesh m = cube_with_t_junction(GetParam());
  ASSERT_GT(test::unmatched_edges(m), 0u);
  const mesh::EdgeSplits s = mesh::find_edge_splits(m);
  ASSERT_FALSE(s.empty());
  // Front triangle (0, 5, 4): edge slot 1 runs 5 -> 4 and holds vertex 8.
  ASSERT_EQ(s.on_edge(6, 1).size(), 1u);
  EXPECT_EQ(s.on_edge(6, 1)[0], 8u);
  for (std::size_t t = 0; t < m.triangles.size(); ++t) EXPECT_EQ(s.split(t), t == 6) << t;
  const TriMesh r = resolved(m, s);
  EXPECT_EQ(r.triangles.size(), m.triangles.size() + 1);
  EXPECT_EQ(test::unmatched_edges(r), 0u);
  // The moved vertex bends the top face by the offset at most.
  EXPECT_NEAR(mesh::volume(r), 1.0, std::abs(GetParam()));
}

// On the line, within the tight tolerance, and within the wide one that
// edges still unpaired after the tight pass get.
INSTANTIATE_TEST_SUITE_P(Offsets, TJunction,
                         ::testing::Values(0.0, 0.9e-7, -0.9e-7, 3.9e-6, -3.9e-6));

TEST(EdgeSplits, FarVertexIsNotOnTheEdge) {
  const TriMesh m = cube_with_t_junction(-1e-5);
  EXPECT_EQ(mesh::find_edge_splits(m).on_edge(6, 1).size(), 0u);
}

// Points on all three edges: every triangle keeps the input's winding and
// none is flat, and the areas add up to the triangle's.
TEST(EdgeSplits, SplitTriangleHasNoFlatPieces) {
  std::vector<gp::Pnt> loop = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0},
                               {3, 1, 0}, {2, 2, 0}, {1, 3, 0}, {0, 4, 0}, {0, 2, 0}};
  std::vector<std::uint8_t> on = {5, 1, 1, 1, 3, 2, 2, 2, 6, 4};
  std::vector<std::array<std::uint32_t, 3>> tris;
  mesh::triangulate_split_triangle(loop, on, tris);
  ASSERT_EQ(tris.size(), loop.size() - 2);
  double area = 0;
  for (const auto& t : tris) {
    const gp::Pnt &a = loop[t[0]], &b = loop[t[1]], &c = loop[t[2]];
    const double z = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    EXPECT_GT(z, 0.1) << t[0] << " " << t[1] << " " << t[2];
    area += z / 2;
  }
  EXPECT_DOUBLE_EQ(area, 8.0);
}

// A sliver's own third corner lies on its long edge but is no split point;
// a vertex of the neighbour across that edge is.
TEST(EdgeSplits, OwnCornerIsNotASplitPoint) {
  TriMesh m;
  m.vertices = {{0, 0, 0}, {2, 0, 0}, {1, 1e-6, 0}, {1, -1, 0}};
  m.triangles = {{0, 1, 2}, {1, 0, 3}};  // open, but nothing lies on an edge
  EXPECT_TRUE(mesh::find_edge_splits(m).empty());
  m.triangles = {{0, 1, 2}, {1, 2, 3}, {2, 0, 3}};  // 0-1 is long against 1-2, 2-0
  const mesh::EdgeSplits s = mesh::find_edge_splits(m);
  EXPECT_EQ(s.on_edge(0, 0).size(), 0u);
  m.vertices.push_back({1, 1, 0});
  m.triangles = {{0, 1, 4}, {1, 2, 3}, {2, 0, 3}};
  const mesh::EdgeSplits t = mesh::find_edge_splits(m);
  ASSERT_EQ(t.on_edge(0, 0).size(), 1u);
  EXPECT_EQ(t.on_edge(0, 0)[0], 2u);
}

// Points crowded within the tolerance of every edge: the search stops at
// its budget and the soup is left as it is, quickly.
TEST(EdgeSplits, CrowdedSoupStaysUnsplit) {
  const TriMesh m = test::hostile_soup(7, 20000, 40000);
  EXPECT_TRUE(mesh::find_edge_splits(m).empty());
}

// Pieces on both sides split along one line: the long edge p1-p3 holds p2,
// which no mesh edge joins to p1 or p3; it is reached through p0 and p4,
// the other side's corners beyond the ends.
TEST(EdgeSplits, OverlappingEdgesAlongOneLine) {
  TriMesh m;
  m.vertices = {{0, 0, 0},  {1, 0, 0},   {2, 1e-6, 0}, {3, 0, 0}, {4, 0, 0},  // p0 .. p4
                {2, -1, 0}, {0.5, 1, 0}, {3.5, 1, 0},  {2, 0, 1}};
  m.triangles = {{1, 3, 8},   // the long edge p1 -> p3
                 {0, 5, 2},   // edge p2 -> p0 holds p1
                 {4, 2, 5},   // edge p4 -> p2 holds p3
                 {6, 0, 1},   // p0 -> p1
                 {3, 4, 7}};  // p3 -> p4
  const mesh::EdgeSplits s = mesh::find_edge_splits(m);
  ASSERT_EQ(s.on_edge(0, 0).size(), 1u);
  EXPECT_EQ(s.on_edge(0, 0)[0], 2u);
  ASSERT_EQ(s.on_edge(1, 2).size(), 1u);
  EXPECT_EQ(s.on_edge(1, 2)[0], 1u);
  ASSERT_EQ(s.on_edge(2, 0).size(), 1u);
  EXPECT_EQ(s.on_edge(2, 0)[0], 3u);
}

// A sliver whose long edges both pass near one vertex: that vertex splits
// only the edge whose pieces meet the triangles across, so the loop holds
// it once and no piece repeats a corner.
TEST(EdgeSplits, SliverVertexSplitsOneEdge) {
  TriMesh m;
  m.vertices = {{0, 0, 0}, {2, 0, 0}, {1, 2e-6, 0}, {0.5, 1e-6, 0}, {0.5, -1, 0}};
  m.triangles = {{0, 1, 2}, {1, 3, 4}, {3, 0, 4}};
  const mesh::EdgeSplits s = mesh::find_edge_splits(m);
  ASSERT_EQ(s.on_edge(0, 0).size(), 1u);
  EXPECT_EQ(s.on_edge(0, 0)[0], 3u);
  EXPECT_EQ(s.on_edge(0, 2).size(), 0u);
  std::vector<std::uint64_t> loop;
  std::vector<std::uint8_t> on;
  mesh::split_triangle_loop(m, s, 0, loop, on);
  EXPECT_EQ(loop, (std::vector<std::uint64_t>{0, 3, 1, 2}));
}

// The same sliver with the triangles across its third edge instead: the
// vertex lies on that edge and only 1e-6 from the first, where the first
// edge's wide pass finds it too; it goes on the third, where its pieces
// pair (on the first it would leave both sides open).
TEST(EdgeSplits, SliverVertexGoesOnTheEdgeWhosePiecesPair) {
  TriMesh m;
  m.vertices = {{0, 0, 0}, {2, 0, 0}, {1, 2e-6, 0}, {0.5, 1e-6, 0}, {0.5, 1, 0}};
  m.triangles = {{0, 1, 2}, {3, 2, 4}, {0, 3, 4}};
  const mesh::EdgeSplits s = mesh::find_edge_splits(m);
  EXPECT_EQ(s.on_edge(0, 0).size(), 0u);
  ASSERT_EQ(s.on_edge(0, 2).size(), 1u);
  EXPECT_EQ(s.on_edge(0, 2)[0], 3u);
  std::vector<std::uint64_t> loop;
  std::vector<std::uint8_t> on;
  mesh::split_triangle_loop(m, s, 0, loop, on);
  EXPECT_EQ(loop, (std::vector<std::uint64_t>{0, 1, 2, 3}));
}
