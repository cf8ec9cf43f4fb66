#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <tuple>

#include "face_corpus.h"
#include "tess/triangulate.h"
#include "tess/triangulate_detail.h"

using quorvalind::gp::Pnt;
using quorvalind::tess::triangulate_face;
using quorvalind::topods::Face;
using quorvalind::topods::Wire;
namespace detail = quorvalind::tess::detail;
namespace gp = quorvalind::gp;

namespace {

Face face2d(const corpus::Loop& outer, const std::vector<corpus::Loop>& holes = {}) {
  return corpus::face_of(outer, holes, gp::Trsf{});
}

std::vector<std::size_t> outline_numbers(const Face& f) {
  std::vector<std::size_t> out;
  for (const detail::Entry& e : detail::build_outline(f).entries) out.push_back(e.point);
  return out;
}

std::vector<detail::PointTriple> ears(const Face& f) {
  return detail::cut_ears(detail::build_outline(f).entries);
}

double tri_area(const quorvalind::tess::Triangle3& t) {
  return 0.5 * gp::norm(gp::cross(gp::sub(t[1], t[0]), gp::sub(t[2], t[0])));
}

double total_area(const std::vector<quorvalind::tess::Triangle3>& tris) {
  double a = 0.0;
  for (const auto& t : tris) a += tri_area(t);
  return a;
}

using Key = std::tuple<double, double, double>;
Key key(const Pnt& p) { return {p.x, p.y, p.z}; }
std::pair<Key, Key> undirected(const Pnt& a, const Pnt& b) {
  Key ka = key(a), kb = key(b);
  return ka < kb ? std::make_pair(ka, kb) : std::make_pair(kb, ka);
}

// Every edge of the outer wire and of each kept hole must be an edge of
// exactly one triangle; returns how many are not.
int uncovered_edges(const Face& f, const std::vector<quorvalind::tess::Triangle3>& tris) {
  std::map<std::pair<Key, Key>, int> count;
  for (const auto& t : tris) {
    for (int i = 0; i < 3; ++i) ++count[undirected(t[i], t[(i + 1) % 3])];
  }
  int bad = 0;
  auto check = [&](const Wire& w) {
    const std::size_t n = w.points.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (count[undirected(w.points[i], w.points[(i + 1) % n])] != 1) ++bad;
    }
  };
  check(f.outer);
  for (const Wire& h : f.holes) {
    if (h.points.size() >= 3) check(h);
  }
  return bad;
}

std::size_t expected_count(const Face& f) {
  if (f.outer.points.size() < 3) return 0;
  std::size_t n = f.outer.points.size();
  for (const Wire& h : f.holes) {
    if (h.points.size() >= 3) n += h.points.size() + 2;
  }
  return n - 2;
}

const corpus::Loop kUnitSquare{{0, 0}, {1, 0}, {1, 1}, {0, 1}};
const corpus::Loop kSquare10{{0, 0}, {10, 0}, {10, 10}, {0, 10}};

}  // namespace

TEST(Triangulate, SquareInBothWindings) {
  using T = std::vector<detail::PointTriple>;
  EXPECT_EQ(ears(face2d(kUnitSquare)), (T{{3, 0, 1}, {1, 2, 3}}));
  const corpus::Loop cw{{0, 0}, {0, 1}, {1, 1}, {1, 0}};
  const Face f = face2d(cw);
  EXPECT_EQ(ears(f), (T{{3, 0, 1}, {1, 2, 3}}));
  const auto tris = triangulate_face(f);
  ASSERT_EQ(tris.size(), 2u);
  const auto& p = f.outer.points;
  EXPECT_EQ(key(tris[0][0]), key(p[3]));
  EXPECT_EQ(key(tris[0][1]), key(p[0]));
  EXPECT_EQ(key(tris[0][2]), key(p[1]));
  EXPECT_EQ(key(tris[1][0]), key(p[1]));
  EXPECT_EQ(key(tris[1][1]), key(p[2]));
  EXPECT_EQ(key(tris[1][2]), key(p[3]));
  for (const auto& t : tris) EXPECT_LT(gp::cross(gp::sub(t[1], t[0]), gp::sub(t[2], t[0])).z, 0.0);
}

TEST(Triangulate, LShapeCutsInScanOrder) {
  const corpus::Loop l{{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
  EXPECT_EQ(ears(face2d(l)),
            (std::vector<detail::PointTriple>{{0, 1, 2}, {0, 2, 3}, {5, 0, 3}, {3, 4, 5}}));
}

TEST(Triangulate, TriangleKeepsStoredOrder) {
  const Face f = face2d({{0, 0}, {1, 0}, {0, 1}});
  const auto tris = triangulate_face(f);
  ASSERT_EQ(tris.size(), 1u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(key(tris[0][i]), key(f.outer.points[i]));
}

TEST(Triangulate, ShortWires) {
  for (std::size_t n = 0; n < 3; ++n) {
    Face f = face2d(corpus::Loop(kUnitSquare.begin(), kUnitSquare.begin() + n),
                    {{{0.2, 0.2}, {0.4, 0.2}, {0.3, 0.4}}});
    EXPECT_TRUE(triangulate_face(f).empty()) << n;
  }
  // Holes of 0, 1 and 2 points add no points and no bridge.
  Face f = face2d(kSquare10, {{}, {{5, 5}}, {{4, 4}, {6, 6}}});
  const detail::Outline o = detail::build_outline(f);
  EXPECT_EQ(o.points.size(), 4u);
  EXPECT_EQ(outline_numbers(f), (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_EQ(triangulate_face(f).size(), 2u);
}

// Splice of a centred hole: the nearest entry is visible, so the choice is the
// nearest one and the order is unchanged by the visibility rule.
TEST(Triangulate, SpliceOrder) {
  const Face f = face2d(kSquare10, {{{4, 4}, {6, 4}, {6, 6}, {4, 6}}});
  EXPECT_EQ(outline_numbers(f), (std::vector<std::size_t>{0, 1, 2, 6, 5, 4, 7, 6, 2, 3}));
  const auto tris = triangulate_face(f);
  EXPECT_EQ(tris.size(), 8u);
  EXPECT_NEAR(total_area(tris), 96.0, 1e-12);
  EXPECT_EQ(uncovered_edges(f, tris), 0);
}

// Nearest entry (0, 0) would bridge through the hole; (0, 10) is as near
// and visible.
TEST(Triangulate, BridgeAvoidsItsOwnHole) {
  const Face f = face2d(kSquare10, {{{1, 5}, {3, 5}, {3, 3}, {1, 3}}});
  EXPECT_EQ(outline_numbers(f), (std::vector<std::size_t>{0, 1, 2, 3, 5, 6, 7, 4, 5, 3}));
  const auto tris = triangulate_face(f);
  EXPECT_NEAR(total_area(tris), 96.0, 1e-12);
  EXPECT_EQ(uncovered_edges(f, tris), 0);

  const Face g =
      face2d({{0, 0}, {3, 0}, {3, 3}, {0, 3}}, {{{0.5, 0.5}, {0.5, 1.5}, {1.5, 1.5}, {1.5, 0.5}}});
  EXPECT_EQ(outline_numbers(g), (std::vector<std::size_t>{0, 1, 6, 7, 4, 5, 6, 1, 2, 3}));
  EXPECT_NEAR(total_area(triangulate_face(g)), 8.0, 1e-12);
}

// The nearest point (8, 3) stands twice in the outline (a bridge end of the
// first hole); only the copy whose corner opens towards the second hole may
// take the bridge.
TEST(Triangulate, BridgeToRepeatedPointUsesOpenCorner) {
  const Face f = face2d({{0, 0}, {10, 0}, {10, 4}, {0, 4}},
                        {{{6, 1}, {6, 3}, {8, 3}, {8, 1}}, {{7.5, 3.6}, {6.5, 3.4}, {6.5, 3.8}}});
  EXPECT_EQ(outline_numbers(f),
            (std::vector<std::size_t>{0, 1, 2, 6, 7, 4, 5, 6, 8, 9, 10, 8, 6, 2, 3}));
  const auto tris = triangulate_face(f);
  EXPECT_NEAR(total_area(tris), 40.0 - 4.0 - 0.2, 1e-12);
  EXPECT_EQ(uncovered_edges(f, tris), 0);
}

TEST(Triangulate, HolesSplicedByLargestXFirst) {
  const corpus::Loop left{{3, 4}, {3, 6}, {5, 6}, {5, 4}};
  const corpus::Loop right{{7, 1}, {7, 2}, {8, 2}, {8, 1}};
  const Face a = face2d(kSquare10, {left, right});
  EXPECT_EQ(outline_numbers(a),
            (std::vector<std::size_t>{0, 1, 10, 11, 8, 9, 6, 7, 4, 5, 6, 9, 10, 1, 2, 3}));
  // Swapping the holes in the face changes the numbers, not the outline.
  const Face b = face2d(kSquare10, {right, left});
  const auto ea = detail::build_outline(a).entries, eb = detail::build_outline(b).entries;
  ASSERT_EQ(ea.size(), eb.size());
  for (std::size_t i = 0; i < ea.size(); ++i) {
    EXPECT_EQ(ea[i].x, eb[i].x);
    EXPECT_EQ(ea[i].y, eb[i].y);
  }
  // Equal largest x keep the face's order: the second hole then bridges to
  // the first one's bridge end (2, 2).
  const corpus::Loop low{{1, 1}, {1, 2}, {2, 2}, {2, 1}};
  const corpus::Loop high{{2, 3}, {1, 3}, {1, 4}, {2, 4}};
  EXPECT_EQ(outline_numbers(face2d(kSquare10, {low, high})),
            (std::vector<std::size_t>{0, 1, 6, 7, 4, 5, 6, 8, 9, 10, 11, 8, 6, 1, 2, 3}));
}

// Inputs the algorithm does not promise to handle well still return the
// counted number of triangles, quickly, without faults.
TEST(Triangulate, DegenerateInputs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    std::vector<Pnt> outer;
    std::vector<std::vector<Pnt>> holes;
  };
  const std::vector<Case> cases{
      {"collinear", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {}},
      {"repeated", {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {}},
      {"all equal",
       {{2, 2, 2}, {2, 2, 2}, {2, 2, 2}, {2, 2, 2}},
       {{{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}}},
      {"first edge along normal", {{0, 0, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 0}, {0, 1, 0}}, {}},
      {"non-planar", {{0, 0, 0}, {1, 0, 1}, {1, 1, 0}, {0, 1, 1}, {0.5, 0.5, -3}}, {}},
      {"bowtie", {{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}, {}},
      {"crossing hole",
       {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}},
       {{{3, 1, 0}, {6, 1, 0}, {6, 3, 0}, {3, 3, 0}}}},
      {"hole outside",
       {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
       {{{5, 5, 0}, {6, 5, 0}, {6, 6, 0}}}},
      {"hole equals outer",
       {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
       {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}},
      {"nan",
       {{0, 0, 0}, {1, nan, 0}, {1, 1, 0}, {0, 1, 0}},
       {{{0.2, 0.2, 0}, {nan, 0.3, 0}, {0.3, 0.4, 0}}}},
      {"all nan", {{nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}}, {}},
      {"inf",
       {{0, 0, 0}, {inf, 0, 0}, {inf, inf, 0}, {0, -inf, 0}},
       {{{1, 1, 0}, {2, 1, inf}, {2, 2, 0}}}},
      {"huge",
       {{-1e300, -1e300, 0}, {1e300, -1e300, 0}, {1e300, 1e300, 0}, {-1e300, 1e300, 0}},
       {}},
      {"tiny", {{0, 0, 0}, {1e-300, 0, 0}, {1e-300, 1e-300, 0}, {0, 1e-300, 0}}, {}},
  };
  for (const Case& c : cases) {
    Face f;
    f.outer.points = c.outer;
    for (const auto& h : c.holes) f.holes.push_back(Wire{h});
    EXPECT_EQ(triangulate_face(f).size(), expected_count(f)) << c.name;
  }
}

TEST(Triangulate, CountIsOutlineLengthMinusTwo) {
  std::mt19937_64 rng(7);
  for (std::size_t holes = 0; holes <= 6; ++holes) {
    const corpus::Plate p = corpus::plate(holes, rng, false);
    std::vector<corpus::Loop> with_short = p.holes;
    with_short.push_back({{0.1, 0.1}, {0.2, 0.1}});
    const Face f = face2d(p.outer, with_short);
    EXPECT_EQ(detail::build_outline(f).entries.size(), expected_count(f) + 2);
    EXPECT_EQ(triangulate_face(f).size(), expected_count(f));
  }
}

// Generated faces, each also moved, rotated and mirrored: the triangles
// cover exactly the face minus its holes, face the outer normal and use every
// wire edge once.
TEST(Triangulate, GeneratedFacesCoverTheRegion) {
  struct Gen {
    std::string name;
    corpus::Loop outer;
    std::vector<corpus::Loop> holes;
    double area;
  };
  std::mt19937_64 rng(20240611);
  std::vector<Gen> gens;
  for (std::size_t n : {3, 5, 17, 64, 200}) {
    const corpus::Loop c = corpus::convex(n, rng);
    gens.push_back({"convex " + std::to_string(n), c, {}, corpus::shoelace(c)});
    const corpus::Loop s = corpus::star(n, rng);
    gens.push_back({"star " + std::to_string(n), s, {}, corpus::shoelace(s)});
    // Clockwise outlines are reoriented.
    gens.push_back({"star cw " + std::to_string(n), corpus::reversed(s), {}, corpus::shoelace(s)});
  }
  for (std::size_t t : {1, 2, 7, 30}) {
    const corpus::Loop c = corpus::comb(t);
    gens.push_back({"comb " + std::to_string(t), c, {}, corpus::shoelace(c)});
  }
  for (std::size_t h : {1, 2, 3, 5, 8, 13, 21, 34, 50}) {
    for (bool cw : {false, true}) {
      const corpus::Plate p = corpus::plate(h, rng, cw);
      gens.push_back(
          {"plate " + std::to_string(h) + (cw ? " cw" : " mixed"), p.outer, p.holes, p.area});
    }
  }
  for (const Gen& g : gens) {
    for (int variant = 0; variant < 3; ++variant) {
      const gp::Trsf t = corpus::placement(rng, variant == 2, variant == 0);
      const Face f = corpus::face_of(g.outer, g.holes, t);
      const Pnt n = quorvalind::topods::normal(f.outer);
      const auto tris = triangulate_face(f);
      SCOPED_TRACE(g.name + " variant " + std::to_string(variant));
      EXPECT_EQ(tris.size(), expected_count(f));
      EXPECT_NEAR(total_area(tris), g.area, 1e-9 * g.area);
      int wrong_way = 0;
      for (const auto& tri : tris) {
        if (gp::dot(gp::cross(gp::sub(tri[1], tri[0]), gp::sub(tri[2], tri[0])), n) < 0.0)
          ++wrong_way;
      }
      EXPECT_EQ(wrong_way, 0);
      EXPECT_EQ(uncovered_edges(f, tris), 0);
    }
  }
}
