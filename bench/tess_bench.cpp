// Face triangulation cost on outlines of growing length and on plates with
// growing numbers of holes. The shapes are closed formulas (no random
// numbers) so that bench_tess.py can build the same faces in Python.
//
// Usage: tess_bench [REPS]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tess/triangulate.h"

using namespace quorvalind;

namespace {

constexpr double kTau = 6.283185307179586;

std::vector<gp::Pnt> circle(std::size_t n, double cx, double cy, double r, bool clockwise) {
  std::vector<gp::Pnt> p;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = kTau * static_cast<double>(clockwise ? n - i : i) / static_cast<double>(n);
    p.push_back({cx + r * std::cos(t), cy + r * std::sin(t), 0.0});
  }
  return p;
}

// Every second point pulled in to half the radius: half the corners reflex.
std::vector<gp::Pnt> star(std::size_t n) {
  std::vector<gp::Pnt> p;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = kTau * static_cast<double>(i) / static_cast<double>(n);
    const double r = i % 2 == 0 ? 1.0 : 0.5;
    p.push_back({r * std::cos(t), r * std::sin(t), 0.0});
  }
  return p;
}

// `teeth` teeth of width 1 and height 3 on a strip of height 1 (4 points a tooth).
std::vector<gp::Pnt> comb(std::size_t teeth) {
  const double t = static_cast<double>(teeth);
  std::vector<gp::Pnt> p{{0, 0, 0}, {2 * t - 1, 0, 0}};
  for (std::size_t k = teeth; k-- > 0;) {
    const double x = 2.0 * static_cast<double>(k);
    p.push_back({x + 1, 4, 0});
    p.push_back({x, 4, 0});
    if (k > 0) {
      p.push_back({x, 1, 0});
      p.push_back({x - 1, 1, 0});
    }
  }
  return p;
}

// A band of width 0.5 along a spiral of 3 turns, counter-clockwise: out
// along its outer edge, back along the inner one.
std::vector<gp::Pnt> spiral(std::size_t n) {
  std::vector<gp::Pnt> p;
  const std::size_t half = n / 2;
  for (std::size_t i = 0; i < half; ++i) {
    const double t = 3.0 * kTau * static_cast<double>(i) / static_cast<double>(half);
    const double r = 1.5 + t;
    p.push_back({r * std::cos(t), r * std::sin(t), 0.0});
  }
  for (std::size_t i = half; i-- > 0;) {
    const double t = 3.0 * kTau * static_cast<double>(i) / static_cast<double>(half);
    const double r = 1.0 + t;
    p.push_back({r * std::cos(t), r * std::sin(t), 0.0});
  }
  return p;
}

// A square plate with `holes` clockwise 16-gons on a grid of 2 x 2 cells.
topods::Face plate(std::size_t holes) {
  std::size_t cols = 1;
  while (cols * cols < holes) ++cols;
  const double side = 2.0 * static_cast<double>(cols);
  topods::Face f;
  f.outer.points = {{0, 0, 0}, {side, 0, 0}, {side, side, 0}, {0, side, 0}};
  for (std::size_t i = 0; i < holes; ++i) {
    const double cx = 2.0 * static_cast<double>(i % cols) + 1.0,
                 cy = 2.0 * static_cast<double>(i / cols) + 1.0;
    f.holes.push_back(topods::Wire{circle(16, cx, cy, 0.6, true)});
  }
  return f;
}

double median_seconds(const topods::Face& f, int reps, std::size_t& triangles) {
  std::vector<double> t;
  for (int r = 0; r < reps; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    const auto tris = tess::triangulate_face(f);
    const auto t1 = std::chrono::steady_clock::now();
    triangles = tris.size();
    t.push_back(std::chrono::duration<double>(t1 - t0).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  struct Row {
    std::string name;
    topods::Face face;
  };
  std::vector<Row> rows;
  for (std::size_t n : {100, 500, 2000}) {
    rows.push_back({"circle " + std::to_string(n), {topods::Wire{circle(n, 0, 0, 1, false)}, {}}});
    rows.push_back({"star " + std::to_string(n), {topods::Wire{star(n)}, {}}});
    rows.push_back({"comb " + std::to_string(n), {topods::Wire{comb(n / 4)}, {}}});
    rows.push_back({"spiral " + std::to_string(n), {topods::Wire{spiral(n)}, {}}});
  }
  for (std::size_t h : {10, 50, 200})
    rows.push_back({"plate " + std::to_string(h) + " holes", plate(h)});
  std::printf("triangulate_face (C++), median of %d:\n", reps);
  for (const Row& r : rows) {
    std::size_t tris = 0;
    const double s = median_seconds(r.face, reps, tris);
    std::printf("  %-18s %6zu triangles  %10.3f ms\n", r.name.c_str(), tris, s * 1e3);
  }
  return 0;
}
