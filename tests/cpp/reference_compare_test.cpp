// Both production engines against the plain reference engine
// (reference_engine.h), bit for bit, on seeded random operand pairs: small
// boxes, tetrahedra, random convex hulls and the kernel's primitives, turned,
// scaled and moved at random, in coplanar, touching, shared-face, identical,
// nested, disjoint, two-faced (every face also turned round), far from the
// origin, slightly turned and general overlapping configurations. Every
// pair runs all three operations; each (pair, operation) is one case, and
// each case runs the literal and the skipping engine and compares both with
// the reference: the same polygons in the same order with the same vertex
// bits (run_csg_flat), or the same fan-triangulated mesh (run_csg) on every
// other pair. The skipping engine skips from chains of 1 or 4 nodes on two
// cases in three (as shipped on the third), so that small solids take its
// skipping paths.
//
// Environment:
//   QUORVALIND_REFERENCE_CASES  cases to run (default 2,001, the CI share;
//                               300 under the sanitizers). The full run is
//                               QUORVALIND_REFERENCE_CASES=10000 or more.
//   QUORVALIND_REFERENCE_SEED   base seed (default 20261210). Each pair's
//                               generator is seeded from the base seed and
//                               the pair's index, so a reported case is
//                               reproduced on its own with
//                               --gtest_filter=ReferenceCompare.One and
//                               QUORVALIND_REFERENCE_ONE=<case index>.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "brep_prim_api/box.h"
#include "brep_prim_api/cone.h"
#include "brep_prim_api/finish.h"
#include "brep_prim_api/sphere.h"
#include "bsp/csg.h"
#include "bsp/fast_tree.h"
#include "gp/trsf.h"
#include "mesh/tri_mesh.h"
#include "mesh_checks.h"
#include "reference_engine.h"

using namespace quorvalind;
using bsp::CsgOp;
using bsp::Engine;
using bsp::FlatPolygons;
using gp::Pnt;
using mesh::TriMesh;

namespace {

constexpr CsgOp OPS[] = {CsgOp::Union, CsgOp::Subtract, CsgOp::Intersect};
const char* op_name(CsgOp op) {
  return op == CsgOp::Union ? "union" : op == CsgOp::Subtract ? "subtract" : "intersect";
}

// ---- Random operand pairs --------------------------------------------------

class PairGen {
 public:
  PairGen(std::uint64_t seed, std::uint64_t pair) : rng_(seeded(seed, pair)) {}

  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  Pnt point(double r) { return {uniform(-r, r), uniform(-r, r), uniform(-r, r)}; }

  // Four corners wound so that every face looks outward.
  static TriMesh tetrahedron(Pnt p0, Pnt p1, Pnt p2, Pnt p3) {
    const Pnt n = gp::cross(gp::sub(p1, p0), gp::sub(p2, p0));
    if (gp::dot(n, gp::sub(p3, p0)) > 0.0) std::swap(p1, p2);  // p3 must lie behind p0 p1 p2
    TriMesh m;
    mesh::push_triangle(m, p0, p1, p2);
    mesh::push_triangle(m, p0, p3, p1);
    mesh::push_triangle(m, p1, p3, p2);
    mesh::push_triangle(m, p2, p3, p0);
    return brep_prim_api::finish_mesh(m);
  }

  // The hull of 5 to 12 points near a sphere, by brute force: a triangle is
  // a face when every other point lies strictly on one side of it.
  TriMesh hull() {
    std::vector<Pnt> p(5 + pick(8));
    for (Pnt& q : p) {
      const Pnt d = point(1);
      const double len = std::sqrt(gp::dot(d, d));
      const double r = uniform(0.4, 1.0) / (len > 1e-3 ? len : 1.0);
      q = {d.x * r, d.y * r, d.z * r};
    }
    TriMesh m;
    const std::size_t n = p.size();
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        for (std::size_t k = j + 1; k < n; ++k) {
          const Pnt nrm = gp::cross(gp::sub(p[j], p[i]), gp::sub(p[k], p[i]));
          int front = 0, back = 0;
          for (std::size_t l = 0; l < n; ++l) {
            if (l == i || l == j || l == k) continue;
            const double t = gp::dot(nrm, gp::sub(p[l], p[i]));
            front += t > 0.0, back += t < 0.0;
          }
          if (front + back != static_cast<int>(n) - 3) continue;  // a fourth point on it
          if (front == 0) mesh::push_triangle(m, p[i], p[j], p[k]);
          if (back == 0) mesh::push_triangle(m, p[i], p[k], p[j]);
        }
      }
    }
    return brep_prim_api::finish_mesh(m);
  }

  TriMesh small_box() {
    const double dx = uniform(0.2, 1.5), dy = uniform(0.2, 1.5), dz = uniform(0.2, 1.5);
    return brep_prim_api::make_box(point(0.3), dx, dy, dz);
  }

  TriMesh shape() {
    switch (pick(7)) {
      case 0: return small_box();
      case 1: {
        const Pnt p0 = point(1), p1 = point(1), p2 = point(1), p3 = point(1);
        return tetrahedron(p0, p1, p2, p3);
      }
      case 2: return hull();
      case 3: {
        const std::uint64_t n = 8 + pick(9);
        const double r = uniform(0.2, 1), h = uniform(0.2, 2);
        return brep_prim_api::make_cylinder(n, r, h);
      }
      case 4: {
        const std::uint64_t n = 8 + pick(9);
        const double r1 = uniform(0.2, 1), r2 = uniform(0, 0.6), h = uniform(0.2, 2);
        return brep_prim_api::make_cone(n, r1, r2, h);
      }
      case 5: {
        const std::uint64_t n = 8 + pick(5), m = 4 + pick(4);
        return brep_prim_api::make_sphere(n, m, uniform(0.3, 1.2));
      }
      default: {
        const std::uint64_t n = 8 + pick(5);
        const double major = uniform(0.6, 1.2), minor = uniform(0.1, 0.5);
        return brep_prim_api::make_torus(n, major, minor);
      }
    }
  }

  // Draws happen one statement at a time throughout, as the order in which
  // a call's arguments are evaluated is unspecified: a seed then gives the
  // same pair from any compiler over the same standard library.
  TriMesh placed_shape() {
    const TriMesh s = shape();
    return placed(s, placement());
  }

  // Scaled (sometimes per axis), turned about a random axis on two draws
  // in three, shifted within the unit cube.
  gp::Trsf placement() {
    gp::Trsf t = gp::scale_uniform(uniform(0.5, 1.5));
    if (pick(3) == 0) {
      const double sx = uniform(0.3, 2), sy = uniform(0.3, 2), sz = uniform(0.3, 2);
      t = gp::scale_xyz(sx, sy, sz);
    }
    if (pick(3) != 0) {
      const Pnt at = point(1), direction = point(1);
      const gp::Ax1 axis = gp::make_ax1(at, direction);
      t = gp::then(t, gp::rotation(axis, uniform(0, 6.3)));
    }
    return gp::then(t, gp::translation(point(1)));
  }

  static TriMesh placed(TriMesh m, const gp::Trsf& t) {
    mesh::transform(m, t);
    return m;
  }

  // One pair; `kind` names its family for failure messages.
  void pair(TriMesh& a, TriMesh& b, std::string& kind) {
    switch (pick(12)) {
      case 0: {
        kind = "grid boxes";  // axis-aligned on a half-unit grid: coplanar overlaps and contacts
        const auto grid_box = [&] {
          double v[6];
          for (double& x : v) x = 0.5 * pick(4);
          return brep_prim_api::make_box({v[0], v[1], v[2]}, 0.5 + v[3], 0.5 + v[4], 0.5 + v[5]);
        };
        a = grid_box();
        b = grid_box();
        return;
      }
      case 1: {
        kind = "shared face";  // boxes side by side, both placed by one motion
        const gp::Trsf t = placement();
        const double w = uniform(0.3, 1.5);
        a = placed(brep_prim_api::make_box({0, 0, 0}, w, 1, 1), t);
        const double y = uniform(-0.5, 0.5), h = uniform(0.5, 1.5);
        b = placed(brep_prim_api::make_box({w, y, 0}, 1, 1, h), t);
        return;
      }
      case 2: {
        kind = "touching tetrahedra";  // a face shared with opposite windings
        const Pnt p0 = point(1), p1 = point(1), p2 = point(1), apex = point(1);
        const Pnt n = gp::cross(gp::sub(p1, p0), gp::sub(p2, p0));
        const double t = 2.0 * gp::dot(n, gp::sub(apex, p0)) / gp::dot(n, n);
        const Pnt mirrored{apex.x - t * n.x, apex.y - t * n.y, apex.z - t * n.z};
        a = tetrahedron(p0, p1, p2, apex);
        b = pick(2) == 0 ? tetrahedron(p0, p1, p2, mirrored) : tetrahedron(p0, p1, p2, apex);
        return;
      }
      case 3: {
        kind = "touching corner";  // boxes meeting at an edge or a corner
        const gp::Trsf t = placement();
        const double w = uniform(0.3, 1), h = uniform(0.3, 1);
        a = placed(brep_prim_api::make_box({0, 0, 0}, w, h, 1), t);
        b = placed(brep_prim_api::make_box({w, h, pick(2) * 1.0}, 1, 1, 1), t);
        return;
      }
      case 4: {
        kind = "identical";
        a = placed_shape();
        b = a;
        return;
      }
      case 5: {
        kind = "nested";  // the same shape halved about the middle of its bounds
        const TriMesh s = shape();
        Pnt lo = s.vertices[0], hi = s.vertices[0];
        for (const Pnt& v : s.vertices) {
          lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
          hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
        }
        const Pnt mid{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
        const gp::Trsf t = placement();
        const gp::Trsf halve =
            gp::then(gp::then(gp::translation({-mid.x, -mid.y, -mid.z}), gp::scale_uniform(0.5)),
                     gp::translation(mid));
        a = placed(s, t);
        b = placed(s, gp::then(halve, t));
        return;
      }
      case 6: {
        kind = "disjoint";
        a = placed_shape();
        b = placed_shape();
        b = placed(b, gp::translation({5, uniform(-1, 1), 0}));
        return;
      }
      case 7: {
        kind = "coplanar base";  // two boxes on one plane, overlapping in it
        const gp::Trsf t = placement();
        a = placed(brep_prim_api::make_box({0, 0, 0}, 1, 1, uniform(0.3, 1)), t);
        const double x = uniform(-0.5, 0.5), y = uniform(-0.5, 0.5);
        const double dx = uniform(0.3, 1.5), dy = uniform(0.3, 1.5), dz = uniform(0.3, 1.5);
        b = placed(brep_prim_api::make_box({x, y, 0}, dx, dy, dz), t);
        return;
      }
      case 8: {
        kind = "two-faced";  // every face of a also there turned round: nodes get cf and cb
        const TriMesh s = placed_shape();
        a = s;
        const std::uint64_t base = a.vertices.size();
        a.vertices.insert(a.vertices.end(), s.vertices.begin(), s.vertices.end());
        for (const mesh::Triangle& t : s.triangles) {
          a.triangles.push_back({t[0] + base, t[2] + base, t[1] + base});
        }
        b = placed_shape();
        return;
      }
      case 9: {
        kind = "far";  // where corners round off their own planes by more than the slab
        const double off = std::pow(10.0, uniform(5, 13));
        const gp::Trsf far = gp::translation({off, pick(2) * off, 0});
        a = placed(placed_shape(), far);
        b = placed(placed_shape(), far);
        return;
      }
      case 10: {
        kind = "slightly turned";  // faces cut by planes at 1e-8 to 1e-5 rad to them
        a = placed_shape();
        const Pnt at = point(0.5), direction = point(1);
        b = placed(a, gp::rotation(gp::make_ax1(at, direction), std::pow(10.0, uniform(-8, -5))));
        return;
      }
      default:
        kind = "random";
        a = placed_shape();
        b = placed_shape();
        return;
    }
  }

 private:
  // seed_seq keeps 32 bits of each value: both numbers go in as halves.
  static std::mt19937_64 seeded(std::uint64_t seed, std::uint64_t pair) {
    std::seed_seq s{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                    static_cast<std::uint32_t>(pair), static_cast<std::uint32_t>(pair >> 32)};
    return std::mt19937_64(s);
  }

  std::mt19937_64 rng_;
};

// ---- Comparison ------------------------------------------------------------

std::string point_text(const Pnt& p) {
  char s[160];
  std::snprintf(s, sizeof s, "(%a, %a, %a)", p.x, p.y, p.z);
  return s;
}

bool same_point_bits(const Pnt& a, const Pnt& b) { return std::memcmp(&a, &b, sizeof(Pnt)) == 0; }

// Empty when got equals want to the bit; else where they first part.
std::string flat_difference(const FlatPolygons& got, const FlatPolygons& want) {
  std::size_t base = 0;
  for (std::size_t i = 0; i < got.counts.size() && i < want.counts.size(); ++i) {
    if (got.counts[i] != want.counts[i]) {
      return "polygon " + std::to_string(i) + ": " + std::to_string(got.counts[i]) +
             " vertices, reference " + std::to_string(want.counts[i]);
    }
    for (std::uint32_t k = 0; k < got.counts[i]; ++k) {
      const Pnt& g = got.vertices[base + k];
      const Pnt& w = want.vertices[base + k];
      if (!same_point_bits(g, w)) {
        return "polygon " + std::to_string(i) + " vertex " + std::to_string(k) + ": " +
               point_text(g) + ", reference " + point_text(w);
      }
    }
    base += got.counts[i];
  }
  if (got.counts.size() != want.counts.size()) {
    return std::to_string(got.counts.size()) + " polygons, reference " +
           std::to_string(want.counts.size());
  }
  return {};
}

std::string mesh_difference(const TriMesh& got, const TriMesh& want) {
  for (std::size_t i = 0; i < got.triangles.size() && i < want.triangles.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      const Pnt& g = got.vertices[got.triangles[i][k]];
      const Pnt& w = want.vertices[want.triangles[i][k]];
      if (!same_point_bits(g, w)) {
        return "triangle " + std::to_string(i) + " corner " + std::to_string(k) + ": " +
               point_text(g) + ", reference " + point_text(w);
      }
    }
  }
  if (got.triangles.size() != want.triangles.size()) {
    return std::to_string(got.triangles.size()) + " triangles, reference " +
           std::to_string(want.triangles.size());
  }
  if (got.triangles != want.triangles || got.vertices.size() != want.vertices.size()) {
    return "triangle indices differ";
  }
  return {};
}

// Skipping from the shortest chains on, from short ones, or as shipped;
// the turn goes round with the pair and with the operation, so that every
// operation meets every tuning in either output form.
bsp::SkipOptions tuning_for(std::uint64_t index) {
  bsp::SkipOptions o;
  o.check_shortcuts = true;  // a mismatch then names the shortcut
  switch ((index / 3 + index % 3) % 3) {
    case 0: o.short_chain = 1, o.index_min = 2; break;
    case 1: o.short_chain = 4, o.index_min = 8; break;
    default: break;
  }
  return o;
}

struct Totals {
  std::uint64_t cases = 0, polygons = 0, mismatches = 0;
};

// Case `index` (pair index / 3, operation index % 3): both engines against
// the reference. Adds a failure per mismatch naming everything needed to
// reproduce it.
void compare_case(std::uint64_t seed, std::uint64_t index, Totals& totals) {
  PairGen gen(seed, index / 3);
  TriMesh a, b;
  std::string kind;
  gen.pair(a, b, kind);
  const CsgOp op = OPS[index % 3];
  const bool flat = (index / 3) % 2 == 0;
  const bsp::SkipOptions tuning = tuning_for(index);
  const auto report = [&](const char* engine, const std::string& diff) {
    ++totals.mismatches;
    ADD_FAILURE() << "seed " << seed << " case " << index << " (" << kind << ", " << op_name(op)
                  << ", " << (flat ? "run_csg_flat" : "run_csg") << ", " << engine
                  << " engine, skip tuning {" << tuning.short_chain << ", " << tuning.index_min
                  << "}): " << diff;
  };
  ++totals.cases;
  if (flat) {
    const FlatPolygons want = reference::run_flat(op, a, b);
    totals.polygons += want.counts.size();
    const FlatPolygons lit =
        bsp::run_csg_flat(op, bsp::convert_operands(a, b), {}, Engine::Literal);
    const FlatPolygons skip =
        bsp::run_csg_flat(op, bsp::convert_operands(a, b), {}, Engine::Skipping, tuning);
    if (auto d = flat_difference(lit, want); !d.empty()) report("literal", d);
    if (auto d = flat_difference(skip, want); !d.empty()) report("skipping", d);
  } else {
    const TriMesh want = reference::run_mesh(op, a, b);
    totals.polygons += want.triangles.size();
    const TriMesh lit = bsp::run_csg(op, bsp::convert_operands(a, b), {}, Engine::Literal);
    const TriMesh skip =
        bsp::run_csg(op, bsp::convert_operands(a, b), {}, Engine::Skipping, tuning);
    if (auto d = mesh_difference(lit, want); !d.empty()) report("literal", d);
    if (auto d = mesh_difference(skip, want); !d.empty()) report("skipping", d);
  }
}

std::uint64_t env_number(const char* name, std::uint64_t fallback) {
  const char* s = std::getenv(name);
  if (s == nullptr || *s == '\0') return fallback;
  return std::strtoull(s, nullptr, 10);
}

std::uint64_t default_cases() {
#ifdef __SANITIZE_ADDRESS__
  return 300;
#else
  return std::getenv("QUORVALIND_SANITIZED") != nullptr ? 300 : 2001;
#endif
}

}  // namespace

TEST(ReferenceCompare, SeededRandomPairs) {
  const std::uint64_t seed = env_number("QUORVALIND_REFERENCE_SEED", 20261210);
  const std::uint64_t count = env_number("QUORVALIND_REFERENCE_CASES", default_cases());
  Totals totals;
  for (std::uint64_t i = 0; i < count && totals.mismatches < 10; ++i) compare_case(seed, i, totals);
  std::printf("reference comparison: seed %llu, %llu cases, %llu result polygons or triangles\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(totals.cases),
              static_cast<unsigned long long>(totals.polygons));
  // Most cases must leave something to compare, or the check says little.
  EXPECT_GT(totals.polygons, 20 * totals.cases);
}

// The generated hulls and tetrahedra are closed and face outward, so the
// comparison runs on solids, not on stray triangles.
TEST(ReferenceCompare, GeneratedSolidsAreClosedAndOutward) {
  for (std::uint64_t i = 0; i < 200; ++i) {
    PairGen gen(20261210, i);
    const TriMesh hull = gen.hull();
    const Pnt p0 = gen.point(1), p1 = gen.point(1), p2 = gen.point(1), p3 = gen.point(1);
    const TriMesh tet = PairGen::tetrahedron(p0, p1, p2, p3);
    for (const TriMesh* m : {&hull, &tet}) {
      EXPECT_GE(m->triangles.size(), 4u) << i;
      EXPECT_EQ(test::unmatched_edges(*m), 0u) << i;
      EXPECT_GT(mesh::signed_volume(*m), 0.0) << i;
    }
  }
}

// Past MAX_DEPTH levels the reference refuses rather than overflow the stack.
TEST(ReferenceCompare, ReferenceDepthIsBounded) {
  reference::Context ctx;
  reference::Node root;
  reference::Node* n = &root;
  for (int i = 0; i <= reference::MAX_DEPTH + 1; ++i) {
    n->has_plane = true;
    n->plane = {{0, 0, 1}, -static_cast<double>(i)};
    n->back = std::make_unique<reference::Node>();
    n = n->back.get();
  }
  // A polygon behind every plane walks all the way down.
  const Pnt deep[] = {{0, 0, -2e4}, {1, 0, -2e4}, {0, 1, -2e4}};
  const bsp::PolygonList list = {bsp::make_polygon(ctx.pool, deep, {{0, 0, 1}, -2e4})};
  EXPECT_THROW(reference::clip_polygons(root, list, ctx), std::length_error);
  EXPECT_THROW(reference::invert(root), std::length_error);
}

// One case alone, to reproduce a reported mismatch.
TEST(ReferenceCompare, One) {
  const char* one = std::getenv("QUORVALIND_REFERENCE_ONE");
  if (one == nullptr) GTEST_SKIP() << "set QUORVALIND_REFERENCE_ONE to a case index";
  Totals totals;
  const std::uint64_t seed = env_number("QUORVALIND_REFERENCE_SEED", 20261210);
  compare_case(seed, std::strtoull(one, nullptr, 10), totals);
}
