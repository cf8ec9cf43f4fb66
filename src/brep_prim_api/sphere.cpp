#include "brep_prim_api/sphere.h"

#include <cmath>
#include <vector>

#include "brep_prim_api/finish.h"
#include "brep_prim_api/mesh_params.h"
#include "brep_prim_api/soup.h"
#include "gp/tolerances.h"

namespace quorvalind::brep_prim_api {

using gp::Pnt;

namespace {

// cos and sin of (j * 2pi) / count for j = 0 .. count - 1.
void full_turn(std::uint64_t count, std::vector<double>& cs, std::vector<double>& sn) {
  cs.resize(count);
  sn.resize(count);
  const double c = static_cast<double>(count);
  for (std::uint64_t j = 0; j < count; ++j) {
    const double a = (static_cast<double>(j) * gp::TWO_PI) / c;
    cs[j] = std::cos(a);
    sn[j] = std::sin(a);
  }
}

}  // namespace

mesh::TriMesh make_sphere(std::uint64_t n, std::uint64_t m, double r) {
  const MeshParams mp{n, m};
  const std::uint64_t N = circle_count(mp), L = lat_count(mp);
  mesh::TriMesh out;
  // One triangle per segment in each polar band, two in every other band.
  reserve_soup(out, checked_mul(checked_mul(N, L - 1), 2));

  std::vector<double> ct, st;
  full_turn(N, ct, st);
  std::vector<double> rho(L + 1), z(L + 1);
  for (std::uint64_t c = 0; c <= L; ++c) {
    const double phi = (static_cast<double>(c) * gp::PI) / static_cast<double>(L);
    rho[c] = std::sin(phi) * r;
    z[c] = std::cos(phi) * r;
  }
  auto s = [&](std::uint64_t c, std::uint64_t j) {
    return Pnt{rho[c] * ct[j], rho[c] * st[j], z[c]};
  };

  for (std::uint64_t c = 0; c < L; ++c) {
    for (std::uint64_t j = 0; j < N; ++j) {
      const std::uint64_t k = j + 1 == N ? 0 : j + 1;
      const Pnt a = s(c, j), b = s(c, k), d = s(c + 1, k), e = s(c + 1, j);
      if (c == 0) {
        push_soup(out, a, d, e);
      } else if (c == L - 1) {
        push_soup(out, a, b, d);
      } else {
        push_soup(out, a, b, d);
        push_soup(out, a, d, e);
      }
    }
  }
  return finish_mesh(out);
}

mesh::TriMesh make_torus(std::uint64_t n, double major, double minor) {
  const std::uint64_t N = circle_count(MeshParams{n, 32});
  mesh::TriMesh out;
  reserve_soup(out, checked_mul(checked_mul(N, N), 2));

  std::vector<double> ca, sa;
  full_turn(N, ca, sa);
  // Seam indices wrap to 0, so seam points equal the first ring's exactly.
  auto q = [&](std::uint64_t a, std::uint64_t i) {
    const double rho = ca[i] * minor + major;
    return Pnt{ca[a] * rho, sa[a] * rho, sa[i] * minor};
  };
  for (std::uint64_t a = 0; a < N; ++a) {
    const std::uint64_t a1 = a + 1 == N ? 0 : a + 1;
    for (std::uint64_t i = 0; i < N; ++i) {
      const std::uint64_t i1 = i + 1 == N ? 0 : i + 1;
      const Pnt p00 = q(a, i), p10 = q(a1, i), p11 = q(a1, i1), p01 = q(a, i1);
      push_soup(out, p00, p10, p11);
      push_soup(out, p00, p11, p01);
    }
  }
  return finish_mesh(out);
}

}  // namespace quorvalind::brep_prim_api
