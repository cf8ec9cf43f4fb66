#pragma once
// Small local builders for the boolean tests: the same triangles, in the same
// order, as the kernel's box, cylinder, sphere and torus builders, finished
// the same way (weld at 1e-7, outward orientation).
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

#include "brep_prim_api/finish.h"
#include "gp/tolerances.h"
#include "mesh/tri_mesh.h"

namespace test_shapes {

using quorvalind::gp::Pnt;
using quorvalind::mesh::TriMesh;

inline TriMesh box(double x0, double y0, double z0, double x1, double y1, double z1) {
  const Pnt A{x0, y0, z0}, B{x1, y0, z0}, C{x1, y1, z0}, D{x0, y1, z0};
  const Pnt E{x0, y0, z1}, F{x1, y0, z1}, G{x1, y1, z1}, H{x0, y1, z1};
  TriMesh m;
  using quorvalind::mesh::push_triangle;
  push_triangle(m, A, D, C), push_triangle(m, A, C, B);
  push_triangle(m, E, F, G), push_triangle(m, E, G, H);
  push_triangle(m, A, B, F), push_triangle(m, A, F, E);
  push_triangle(m, B, C, G), push_triangle(m, B, G, F);
  push_triangle(m, C, D, H), push_triangle(m, C, H, G);
  push_triangle(m, D, A, E), push_triangle(m, D, E, H);
  return quorvalind::brep_prim_api::finish_mesh(m);
}

inline TriMesh cylinder(std::uint64_t n, double r, double h) {
  const std::uint64_t N = n < 8 ? 8 : n;
  std::vector<Pnt> b(N), t(N);
  for (std::uint64_t j = 0; j < N; ++j) {
    const double th = static_cast<double>(j) * quorvalind::gp::TWO_PI / static_cast<double>(N);
    b[j] = {r * std::cos(th), r * std::sin(th), 0.0};
    t[j] = {r * std::cos(th), r * std::sin(th), h};
  }
  const Pnt c0{0, 0, 0}, c1{0, 0, h};
  TriMesh m;
  for (std::uint64_t i = 0; i < N; ++i) {
    const std::uint64_t k = i + 1 == N ? 0 : i + 1;
    quorvalind::mesh::push_triangle(m, b[i], b[k], t[k]);
    quorvalind::mesh::push_triangle(m, b[i], t[k], t[i]);
    quorvalind::mesh::push_triangle(m, c0, b[k], b[i]);
    quorvalind::mesh::push_triangle(m, c1, t[i], t[k]);
  }
  return quorvalind::brep_prim_api::finish_mesh(m);
}

inline TriMesh sphere(std::uint64_t n, std::uint64_t lat, double r) {
  const std::uint64_t N = n < 8 ? 8 : n, L = lat < 4 ? 4 : lat;
  auto s = [&](std::uint64_t c, std::uint64_t j) {
    const double phi = static_cast<double>(c) * quorvalind::gp::PI / static_cast<double>(L);
    const double th = static_cast<double>(j) * quorvalind::gp::TWO_PI / static_cast<double>(N);
    const double rho = std::sin(phi) * r, z = std::cos(phi) * r;
    return Pnt{rho * std::cos(th), rho * std::sin(th), z};
  };
  TriMesh m;
  for (std::uint64_t c = 0; c < L; ++c) {
    for (std::uint64_t j = 0; j < N; ++j) {
      const std::uint64_t k = j + 1 == N ? 0 : j + 1;
      const Pnt a = s(c, j), b = s(c, k), d = s(c + 1, k), e = s(c + 1, j);
      if (c == 0) {
        quorvalind::mesh::push_triangle(m, a, d, e);
      } else if (c == L - 1) {
        quorvalind::mesh::push_triangle(m, a, b, d);
      } else {
        quorvalind::mesh::push_triangle(m, a, b, d);
        quorvalind::mesh::push_triangle(m, a, d, e);
      }
    }
  }
  return quorvalind::brep_prim_api::finish_mesh(m);
}

inline TriMesh torus(std::uint64_t n, double major, double minor) {
  const std::uint64_t N = n < 8 ? 8 : n;
  auto q = [&](std::uint64_t a, std::uint64_t i) {
    const double u = static_cast<double>(a) * quorvalind::gp::TWO_PI / static_cast<double>(N);
    const double v = static_cast<double>(i) * quorvalind::gp::TWO_PI / static_cast<double>(N);
    const double rho = std::cos(v) * minor + major;
    return Pnt{std::cos(u) * rho, std::sin(u) * rho, std::sin(v) * minor};
  };
  TriMesh m;
  for (std::uint64_t a = 0; a < N; ++a) {
    for (std::uint64_t i = 0; i < N; ++i) {
      const std::uint64_t a1 = a + 1 == N ? 0 : a + 1, i1 = i + 1 == N ? 0 : i + 1;
      quorvalind::mesh::push_triangle(m, q(a, i), q(a1, i), q(a1, i1));
      quorvalind::mesh::push_triangle(m, q(a, i), q(a1, i1), q(a, i1));
    }
  }
  return quorvalind::brep_prim_api::finish_mesh(m);
}

// A cube whose faces are grids of 4 x 4 squares (two triangles each), turned
// by a fixed rotation, stored in single precision at 25.26 units (as an STL
// file holds it) and scaled to 1,000: each face's triangles then lie at
// angles of about 1e-7 to each other, so planes of one face cut the others'
// polygons nearly parallel. Not welded: vertices shared by index.
inline TriMesh tilted_float_cube() {
  constexpr int n = 4;
  constexpr double ext = 25.256338048288953;
  constexpr double R[3][3] = {{0.1479180348582636, 0.6142654520404601, 0.7751117399402482},
                              {-0.7051895618046186, 0.6150064753728643, -0.3528097464232763},
                              {-0.6934175775717543, -0.49441378386830565, 0.524144134218389}};
  TriMesh m;
  std::map<std::array<int, 3>, std::uint64_t> index;
  const auto vertex = [&](std::array<int, 3> g) {
    auto [it, fresh] = index.try_emplace(g, m.vertices.size());
    if (fresh) {
      const double x = g[0] / double(n) - 0.5, y = g[1] / double(n) - 0.5,
                   z = g[2] / double(n) - 0.5;
      double c[3];
      for (int k = 0; k < 3; ++k) {
        c[k] = double(float(((R[k][0] * x + R[k][1] * y) + R[k][2] * z) * ext)) * (1000.0 / ext);
      }
      m.vertices.push_back({c[0], c[1], c[2]});
    }
    return it->second;
  };
  for (int axis = 0; axis < 3; ++axis) {
    const int u = axis == 0 ? 1 : 0, w = axis == 2 ? 1 : 2;
    for (int side : {0, n}) {
      // (u, w, axis) is right-handed except for axis 1: those faces, and
      // every face at side 0, are wound the other way round to face out.
      const bool flip = (side == 0) != (axis == 1);
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          const auto at = [&](int a, int b) {
            std::array<int, 3> g{};
            g[axis] = side, g[u] = a, g[w] = b;
            return vertex(g);
          };
          const std::uint64_t a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1),
                              d = at(i, j + 1);
          if (flip) {
            m.triangles.push_back({a, c, b}), m.triangles.push_back({a, d, c});
          } else {
            m.triangles.push_back({a, b, c}), m.triangles.push_back({a, c, d});
          }
        }
      }
    }
  }
  return m;
}

inline TriMesh moved(TriMesh m, double dx, double dy, double dz) {
  for (Pnt& p : m.vertices) p = {p.x + dx, p.y + dy, p.z + dz};
  return m;
}

}  // namespace test_shapes
