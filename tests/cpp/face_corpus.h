#pragma once
// Generated planar faces for the triangulation and sweep tests: convex and
// star-shaped outlines, combs and plates with holes, each with its exact
// area, placed in 3D by a rigid motion (optionally mirrored).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "gp/pnt.h"
#include "gp/trsf.h"
#include "topods/shapes.h"

namespace corpus {

using quorvalind::gp::Pnt;
using Loop = std::vector<std::pair<double, double>>;

inline double shoelace(const Loop& l) {
  double s = 0.0;
  for (std::size_t i = 0; i < l.size(); ++i) {
    const auto& a = l[i];
    const auto& b = l[(i + 1) % l.size()];
    s += a.first * b.second - b.first * a.second;
  }
  return 0.5 * s;
}

inline Loop reversed(Loop l) { return Loop(l.rbegin(), l.rend()); }

// Counter-clockwise points on an ellipse at sorted random angles.
inline Loop convex(std::size_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(0.0, 2.0 * M_PI);
  std::vector<double> a(n);
  for (double& t : a) t = u(rng);
  std::sort(a.begin(), a.end());
  Loop l;
  for (double t : a) l.push_back({3.0 * std::cos(t), 2.0 * std::sin(t)});
  return l;
}

// Star-shaped about the origin: evenly spaced angles, random radii.
inline Loop star(std::size_t n, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> r(0.3, 1.0);
  Loop l;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n);
    const double rad = r(rng);
    l.push_back({rad * std::cos(t), rad * std::sin(t)});
  }
  return l;
}

// A base strip 1 high with `teeth` teeth of width 1 and height 3, counter-clockwise.
inline Loop comb(std::size_t teeth) {
  const double t = static_cast<double>(teeth);
  Loop l{{0.0, 0.0}, {2.0 * t - 1.0, 0.0}};
  for (std::size_t k = teeth; k-- > 0;) {
    const double x = 2.0 * static_cast<double>(k);
    l.push_back({x + 1.0, 4.0});
    l.push_back({x, 4.0});
    if (k > 0) {
      l.push_back({x, 1.0});
      l.push_back({x - 1.0, 1.0});
    }
  }
  return l;
}

struct Plate {
  Loop outer;
  std::vector<Loop> holes;
  double area = 0.0;  // outer minus holes
};

// A rectangle with `count` square or round holes, one per random cell of a
// grid, each in a random winding unless `clockwise` forces clockwise.
inline Plate plate(std::size_t count, std::mt19937_64& rng, bool clockwise) {
  const std::size_t cols =
      std::max<std::size_t>(1, static_cast<std::size_t>(
                                   std::ceil(std::sqrt(static_cast<double>(count) * 2.0))));
  const std::size_t rows = std::max<std::size_t>(1, (2 * count + cols - 1) / cols);
  const double cell = 2.0;
  Plate p;
  const double w = cell * static_cast<double>(cols), h = cell * static_cast<double>(rows);
  p.outer = {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}};
  std::vector<std::size_t> cells(cols * rows);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = i;
  std::shuffle(cells.begin(), cells.end(), rng);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  p.area = w * h;
  for (std::size_t i = 0; i < count; ++i) {
    const double cx = cell * (static_cast<double>(cells[i] % cols) + 0.5) + (u(rng) - 0.5) * 0.4;
    const double cy = cell * (static_cast<double>(cells[i] / cols) + 0.5) + (u(rng) - 0.5) * 0.4;
    const double r = 0.3 + 0.4 * u(rng);
    const double phase = 2.0 * M_PI * u(rng);
    const std::size_t k = u(rng) < 0.5 ? 4 : 8 + static_cast<std::size_t>(u(rng) * 24.0);
    Loop hole;
    for (std::size_t j = 0; j < k; ++j) {
      const double t = phase + 2.0 * M_PI * static_cast<double>(j) / static_cast<double>(k);
      hole.push_back({cx + r * std::cos(t), cy + r * std::sin(t)});
    }
    p.area -= shoelace(hole);
    if (clockwise || u(rng) < 0.5) hole = reversed(hole);
    p.holes.push_back(hole);
  }
  return p;
}

// A rigid motion (rotation about a random axis, translation), mirrored in x
// first when asked; the identity for seed 0.
inline quorvalind::gp::Trsf placement(std::mt19937_64& rng, bool mirror, bool identity) {
  namespace gp = quorvalind::gp;
  if (identity) return gp::Trsf{};
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const gp::Ax1 axis = gp::make_ax1({u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)});
  gp::Trsf t = gp::then(gp::rotation(axis, 3.0 * u(rng)),
                        gp::translation({5.0 * u(rng), 5.0 * u(rng), 5.0 * u(rng)}));
  if (mirror) t = gp::then(gp::scale_xyz(-1.0, 1.0, 1.0), t);
  return t;
}

inline quorvalind::topods::Wire wire_of(const Loop& l, const quorvalind::gp::Trsf& t) {
  quorvalind::topods::Wire w;
  for (const auto& [x, y] : l) w.points.push_back(quorvalind::gp::apply(t, {x, y, 0.0}));
  return w;
}

inline quorvalind::topods::Face face_of(const Loop& outer, const std::vector<Loop>& holes,
                                        const quorvalind::gp::Trsf& t) {
  quorvalind::topods::Face f;
  f.outer = wire_of(outer, t);
  for (const Loop& h : holes) f.holes.push_back(wire_of(h, t));
  return f;
}

}  // namespace corpus
