#include "brep_prim_api/cone.h"

#include <cmath>
#include <vector>

#include "brep_prim_api/finish.h"
#include "brep_prim_api/mesh_params.h"
#include "brep_prim_api/soup.h"
#include "gp/tolerances.h"

namespace quorvalind::brep_prim_api {

using gp::Pnt;

mesh::TriMesh make_cone(std::uint64_t n, double r1, double r2, double h) {
  const std::uint64_t N = circle_count(MeshParams{n, 32});
  const bool cap0 = r1 > gp::MIN_NORMAL_LENGTH;
  const bool cap1 = r2 > gp::MIN_NORMAL_LENGTH;
  mesh::TriMesh m;
  if (!cap0 && !cap1) return finish_mesh(m);

  // Two sides per segment plus one triangle per capped end.
  reserve_soup(m, checked_mul(N, 2u + cap0 + cap1));
  std::vector<Pnt> b(N), t(N);
  const double count = static_cast<double>(N);
  for (std::uint64_t j = 0; j < N; ++j) {
    const double theta = (static_cast<double>(j) * gp::TWO_PI) / count;
    const double c = std::cos(theta), s = std::sin(theta);
    b[j] = Pnt{r1 * c, r1 * s, 0.0};
    t[j] = Pnt{r2 * c, r2 * s, h};
  }
  const Pnt c0{0.0, 0.0, 0.0}, c1{0.0, 0.0, h};
  for (std::uint64_t i = 0; i < N; ++i) {
    const std::uint64_t k = i + 1 == N ? 0 : i + 1;
    push_soup(m, b[i], b[k], t[k]);
    push_soup(m, b[i], t[k], t[i]);
    if (cap0) push_soup(m, c0, b[k], b[i]);
    if (cap1) push_soup(m, c1, t[i], t[k]);
  }
  return finish_mesh(m);
}

mesh::TriMesh make_cylinder(std::uint64_t n, double r, double h) { return make_cone(n, r, r, h); }

}  // namespace quorvalind::brep_prim_api
