#include "brep_builder_api/builder.h"

#include <utility>

#include "gp/tolerances.h"

namespace quorvalind::brep_builder_api {

topods::Wire make_polygon(std::vector<gp::Pnt> points) {
  if (points.size() >= 2 && gp::distance(points.front(), points.back()) < gp::DEGENERATE_LENGTH) {
    points.pop_back();
  }
  return topods::Wire{std::move(points)};
}

topods::Solid transform(const topods::Solid& solid, const gp::Trsf& t) {
  return topods::transformed(solid, t);
}

}  // namespace quorvalind::brep_builder_api
