// Core timings of the BSP booleans on the benchmark cases, without Python:
// median of several runs per case, and the classification count when the
// build counts them (QUORVALIND_COUNT_CLASSIFICATIONS); such a build also
// takes --literal, which times the literal engine instead of the default.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "brep_algo_api/booleans.h"
#include "bsp/csg.h"
#include "test_shapes.h"

using namespace quorvalind;
using topods::Solid;

namespace {

// Median and minimum wall time; the minimum is the steadier figure on a
// shared machine.
struct Timing {
  double median, min, cpu_min;  // cpu: process CPU time, blind to time spent descheduled
};

double cpu_ms() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

Timing time_ms(const std::function<void()>& f, int reps) {
  std::vector<double> t;
  double cpu = 1e300;
  for (int i = 0; i < reps; ++i) {
    const double c0 = cpu_ms();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    t.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    cpu = std::min(cpu, cpu_ms() - c0);
  }
  std::sort(t.begin(), t.end());
  return {t[t.size() / 2], t.front(), cpu};
}

}  // namespace

int main(int argc, char** argv) {
  bool large = false;
  int reps = 0;  // 0: each case's own count
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--large") == 0) large = true;
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    else if (std::strcmp(argv[i], "--literal") == 0) bsp::set_bench_engine(bsp::Engine::Literal);
#endif
    else if (std::strcmp(argv[i], "--reps") == 0 && i + 1 < argc) reps = std::atoi(argv[++i]);
    else only = argv[i];
  }
  const Solid box{test_shapes::box(0, 0, 0, 2, 2, 2)};
  const Solid cyl{test_shapes::moved(test_shapes::cylinder(64, 0.5, 3), 1, 1, -0.5)};
  const Solid s1{test_shapes::sphere(64, 32, 1.0)};
  const Solid s2{test_shapes::moved(test_shapes::sphere(64, 32, 1.0), 0.5, 0.3, 0.2)};
  const Solid big{test_shapes::sphere(128, 64, 1.0)};
  const Solid tor{test_shapes::torus(128, 1.0, 0.4)};
  const Solid h1{test_shapes::sphere(256, 128, 1.0)};
  const Solid h2{test_shapes::moved(test_shapes::sphere(256, 128, 1.0), 0.5, 0.3, 0.2)};
  std::vector<Solid> grid;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      grid.push_back(
          Solid{test_shapes::moved(test_shapes::cylinder(64, 0.5, 1), 0.8 * i, 0.8 * j, 0)});

  struct Case {
    const char* name;
    std::function<Solid()> run;
    int reps;
    bool large;
  };
  const std::vector<Case> cases = {
      {"C1", [&] { return brep_algo_api::cut(box, cyl); }, 51, false},
      {"C2", [&] { return brep_algo_api::fuse(s1, s2); }, 5, false},
      {"C3", [&] { return brep_algo_api::cut(s1, s2); }, 5, false},
      {"C4", [&] { return brep_algo_api::common(big, tor); }, 1, true},
      {"C5", [&] { return brep_algo_api::fuse_all(grid); }, 21, false},
      {"S256", [&] { return brep_algo_api::fuse(h1, h2); }, 1, true},
  };
  for (const Case& c : cases) {
    if (c.large && !large) continue;
    if (!only.empty() && only != c.name) continue;
    Solid r;
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    const std::uint64_t before = bsp::classification_count();
    r = c.run();
    const std::uint64_t count = bsp::classification_count() - before;
#else
    r = c.run();
#endif
    const Timing t = time_ms([&] { r = c.run(); }, reps > 0 ? reps : c.reps);
    std::printf("%s  median %10.3f ms  min %10.3f ms  cpu %10.3f ms  %8zu triangles  volume %.9f",
                c.name, t.median, t.min, t.cpu_min, r.mesh.triangles.size(), topods::volume(r));
#ifdef QUORVALIND_COUNT_CLASSIFICATIONS
    if (count > 0) {
      std::printf("  %11llu classifications  %.2f ns each (min)",
                  static_cast<unsigned long long>(count), t.min * 1e6 / static_cast<double>(count));
    }
#endif
    std::printf("\n");
  }
}
