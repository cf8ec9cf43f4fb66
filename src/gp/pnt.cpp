#include "gp/pnt.h"

#include <cmath>

namespace quorvalind::gp {

double norm(const Pnt& a) { return std::sqrt((a.x * a.x + a.y * a.y) + a.z * a.z); }

double distance(const Pnt& a, const Pnt& b) { return norm(sub(a, b)); }

}  // namespace quorvalind::gp
