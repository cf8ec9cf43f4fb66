// Memory handed from one boolean to the next: booleans running at the same
// time on several threads share the kept memory and still give the results
// they give alone, and the kept lists are the large ones.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "brep_algo_api/booleans.h"
#include "bsp/reuse.h"
#include "test_shapes.h"

using namespace quorvalind;
using topods::Solid;

namespace {

bool same_mesh(const mesh::TriMesh& a, const mesh::TriMesh& b) {
  return a.vertices.size() == b.vertices.size() && a.triangles == b.triangles &&
         (a.vertices.empty() || std::memcmp(a.vertices.data(), b.vertices.data(),
                                            a.vertices.size() * sizeof(gp::Pnt)) == 0);
}

// Empties what is kept, so that a test sees only what it keeps itself.
void drain_lists() {
  while (bsp::reuse::take_list().capacity() > 0) {
  }
}

}  // namespace

TEST(Reuse, ConcurrentBooleansGiveTheirOwnResults) {
  std::vector<Solid> grid;
  for (int i = 0; i < 3; ++i) {
    grid.push_back(Solid{test_shapes::moved(test_shapes::cylinder(32, 0.5, 1), 0.8 * i, 0, 0)});
  }
  const Solid box{test_shapes::box(0, 0, 0, 2, 2, 2)};
  const Solid s{test_shapes::sphere(32, 16, 1.0)};
  const Solid t{test_shapes::moved(test_shapes::sphere(32, 16, 1.0), 0.5, 0.3, 0.2)};
  const auto work = [&](int k) {
    switch (k % 4) {
      case 0: return brep_algo_api::fuse_all(grid);
      case 1: return brep_algo_api::cut(box, grid[1]);
      case 2: return brep_algo_api::common(s, t);
      default: return brep_algo_api::fuse(s, t);
    }
  };
  std::vector<Solid> want;
  for (int k = 0; k < 4; ++k) want.push_back(work(k));
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([&, k] {
      for (int rep = 0; rep < 20; ++rep) {
        if (!same_mesh(work(k + rep).mesh, want[(k + rep) % 4].mesh)) ++wrong[k];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int k = 0; k < 4; ++k) EXPECT_EQ(wrong[k], 0) << "thread " << k;
}

TEST(Reuse, KeepsTheLargeListsOverManySmallOnes) {
  drain_lists();
  // A tree's worth of node lists first, then an operand's list.
  std::vector<bsp::PolygonList> small(500);
  for (bsp::PolygonList& l : small) l.reserve(4);
  bsp::reuse::keep_lists(small);
  bsp::PolygonList large;
  large.reserve(100000);
  bsp::reuse::keep_list(std::move(large));
  for (int i = 0; i < 200; ++i) {
    bsp::PolygonList l;
    l.reserve(8);
    bsp::reuse::keep_list(std::move(l));
  }
  // The operands of the next operation find the large list.
  EXPECT_GE(bsp::reuse::take_list(50000).capacity(), 100000u);
  EXPECT_LT(bsp::reuse::take_list(1).capacity(), 100u);
  drain_lists();
}
