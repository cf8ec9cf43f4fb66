#pragma once
#include "gp/ax1.h"
#include "gp/pnt.h"

namespace quorvalind::gp {

// Affine transform p' = M.p + t; M stored row by row, then t.
struct Trsf {
  double m00 = 1.0, m01 = 0.0, m02 = 0.0;
  double m10 = 0.0, m11 = 1.0, m12 = 0.0;
  double m20 = 0.0, m21 = 0.0, m22 = 1.0;
  double tx = 0.0, ty = 0.0, tz = 0.0;
};

Trsf translation(const Pnt& v);
// Rodrigues rotation about the axis line; a direction shorter than
// DEGENERATE_LENGTH is taken as +z.
Trsf rotation(const Ax1& axis, double angle);
Trsf scale_uniform(double f);
Trsf scale_xyz(double fx, double fy, double fz);
// Applies a first, then b.
Trsf then(const Trsf& a, const Trsf& b);
Pnt apply(const Trsf& t, const Pnt& p);
// ((m00*(m11*m22 - m12*m21)) - m01*(m10*m22 - m12*m20)) + m02*(m10*m21 - m11*m20)
double determinant(const Trsf& t);

}  // namespace quorvalind::gp
