// Binary STL writer on the 1024 x 512 sphere (about 1M triangles): the weld
// alone, the whole writer into a fresh heap buffer per call (as the module's
// bytes object is), and the same buffer pre-touched, which isolates the
// cost of page faults on fresh memory; then the pre-touched case kept on one
// thread, which shows what the second thread saves.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "brep_prim_api/sphere.h"
#include "gp/tolerances.h"
#include "mesh/tri_mesh.h"
#include "mesh_io/stl.h"

using namespace quorvalind;

namespace {

template <class F>
double median_seconds(int reps, F&& f) {
  std::vector<double> times;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::atoi(argv[1]) : 7;
  const mesh::TriMesh m = brep_prim_api::make_sphere(1024, 512, 1.0);
  std::size_t sink = 0;
  const double weld = median_seconds(reps, [&] {
    sink += mesh::welded(m, gp::BUILDER_WELD_TOLERANCE).triangles.size();
  });
  const double fresh = median_seconds(reps, [&] {
    char* owned = nullptr;
    mesh_io::write_binary_stl_into(m, [&owned](std::size_t size) {
      owned = static_cast<char*>(std::malloc(size));
      return owned;
    });
    sink += static_cast<unsigned char>(owned[100]);
    std::free(owned);
  });
  std::vector<char> reused(84 + 50 * m.triangles.size(), 1);
  const double touched = median_seconds(reps, [&] {
    mesh_io::write_binary_stl_into(m, [&reused](std::size_t size) {
      reused.resize(size);
      return reused.data();
    });
    sink += static_cast<unsigned char>(reused[100]);
  });
  mesh_io::BinaryStlPlan one_thread;
  one_thread.two_threads_from = static_cast<std::size_t>(-1);
  const double serial = median_seconds(reps, [&] {
    mesh_io::write_binary_stl_into(
        m,
        [&reused](std::size_t size) {
          reused.resize(size);
          return reused.data();
        },
        one_thread);
    sink += static_cast<unsigned char>(reused[100]);
  });
  std::printf("%zu vertices, %zu triangles; medians of %d runs\n", m.vertices.size(),
              m.triangles.size(), reps);
  std::printf("  welded                 %7.1f ms\n", weld * 1e3);
  std::printf("  writer, fresh buffer   %7.1f ms\n", fresh * 1e3);
  std::printf("  writer, touched buffer %7.1f ms\n", touched * 1e3);
  std::printf("  same, one thread       %7.1f ms\n", serial * 1e3);
  return sink == 0 ? 1 : 0;
}
