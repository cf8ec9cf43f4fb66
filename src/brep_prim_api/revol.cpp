#include "brep_prim_api/revol.h"

#include <cmath>
#include <vector>

#include "brep_builder_api/builder.h"
#include "brep_prim_api/finish.h"
#include "brep_prim_api/soup.h"
#include "gp/tolerances.h"
#include "gp/trsf.h"
#include "tess/triangulate.h"

namespace quorvalind::brep_prim_api {

namespace {

using gp::Pnt;

void rotate_profile(const std::vector<Pnt>& wire, const gp::Ax1& axis, double angle,
                    std::vector<Pnt>& out) {
  const gp::Trsf r = gp::rotation(axis, angle);
  out.clear();
  for (const Pnt& p : wire) out.push_back(gp::apply(r, p));
}

// The profile as a face of its own, closed by the polygon rule.
std::vector<tess::Triangle3> cap(const std::vector<Pnt>& profile) {
  topods::Face f;
  f.outer = brep_builder_api::make_polygon(profile);
  return tess::triangulate_face(f);
}

}  // namespace

mesh::TriMesh make_revol(const topods::Wire& wire, const gp::Ax1& axis, std::uint64_t segments,
                         double angle) {
  const std::vector<Pnt>& w = wire.points;
  const std::size_t m = w.size();
  if (m < 3) return {};
  const double turn = std::fabs(angle);
  const bool full = turn >= gp::TWO_PI || std::fabs(turn - gp::TWO_PI) < gp::FULL_TURN_TOLERANCE;
  const std::uint64_t n = segments < 8 ? 8 : segments;
  const double step = angle / static_cast<double>(n);

  // Sweep triangles, plus at most m - 2 per cap.
  const std::uint64_t sweep = checked_mul(checked_mul(n, m), 2);
  mesh::TriMesh pushed;
  reserve_soup(pushed, full ? sweep : checked_add(sweep, checked_mul(m, 2)));

  // Profiles k and k + 1; each one is rotated from the wire through k * s, so
  // the last is not taken from the first even for a full turn.
  std::vector<Pnt> first, cur, next;
  first.reserve(m);
  cur.reserve(m);
  next.reserve(m);
  rotate_profile(w, axis, 0.0 * step, cur);
  first = cur;
  for (std::uint64_t k = 0; k < n; ++k) {
    rotate_profile(w, axis, static_cast<double>(k + 1) * step, next);
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t h = j + 1 < m ? j + 1 : 0;
      mesh::push_triangle(pushed, cur[j], cur[h], next[h]);
      mesh::push_triangle(pushed, cur[j], next[h], next[j]);
    }
    cur.swap(next);
  }

  if (!full) {
    for (const tess::Triangle3& t : cap(first)) mesh::push_triangle(pushed, t[0], t[2], t[1]);
    for (const tess::Triangle3& t : cap(cur)) mesh::push_triangle(pushed, t[0], t[1], t[2]);
  }
  return finish_mesh(pushed);
}

}  // namespace quorvalind::brep_prim_api
