// Weld throughput on a triangle soup: every vertex of a closed grid surface
// is pushed once per incident triangle, as the builders do.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <algorithm>

#include "mesh/tri_mesh.h"

using namespace quorvalind;

int main(int argc, char** argv) {
  const std::size_t target = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 7;
  // A sheet of n x n cells, two triangles per cell, three pushed vertices each.
  std::size_t n = 1;
  while (6 * (n + 1) * (n + 1) <= target) ++n;
  mesh::TriMesh soup;
  soup.vertices.reserve(6 * n * n);
  soup.triangles.reserve(2 * n * n);
  const double h = 0.001;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const gp::Pnt a{i * h, j * h, 0.25 * i * h}, b{(i + 1) * h, j * h, 0.25 * (i + 1) * h},
          c{(i + 1) * h, (j + 1) * h, 0.25 * (i + 1) * h}, d{i * h, (j + 1) * h, 0.25 * i * h};
      mesh::push_triangle(soup, a, b, c);
      mesh::push_triangle(soup, a, c, d);
    }
  }
  std::vector<double> times;
  std::size_t out_vertices = 0;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    const mesh::TriMesh w = mesh::welded(soup, 1e-7);
    const auto t1 = std::chrono::steady_clock::now();
    out_vertices = w.vertices.size();
    times.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  std::sort(times.begin(), times.end());
  const double median = times[times.size() / 2];
  std::printf("weld: %zu input vertices -> %zu, median %.4f s, %.1f M vertices/s\n",
              soup.vertices.size(), out_vertices, median, soup.vertices.size() / median / 1e6);
  return 0;
}
