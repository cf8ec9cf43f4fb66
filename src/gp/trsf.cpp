#include "gp/trsf.h"

#include <cmath>

#include "gp/tolerances.h"

namespace quorvalind::gp {

Trsf translation(const Pnt& v) {
  Trsf t;
  t.tx = v.x;
  t.ty = v.y;
  t.tz = v.z;
  return t;
}

Trsf rotation(const Ax1& axis, double angle) {
  const Pnt& d = axis.direction;
  const Pnt& c = axis.location;
  const double len = std::sqrt((d.x * d.x + d.y * d.y) + d.z * d.z);
  Pnt k{0.0, 0.0, 1.0};
  if (!(len < DEGENERATE_LENGTH)) k = scale(d, 1.0 / len);
  const double x = k.x, y = k.y, z = k.z;
  const double s = std::sin(angle);
  const double c0 = std::cos(angle);
  const double v = 1.0 - c0;
  Trsf t;
  t.m00 = c0 + v * x * x;
  t.m01 = v * x * y - s * z;
  t.m02 = v * x * z + s * y;
  t.m10 = v * x * y + s * z;
  t.m11 = c0 + v * y * y;
  t.m12 = v * y * z - s * x;
  t.m20 = v * x * z - s * y;
  t.m21 = v * y * z + s * x;
  t.m22 = c0 + v * z * z;
  t.tx = c.x - ((t.m00 * c.x + t.m01 * c.y) + t.m02 * c.z);
  t.ty = c.y - ((t.m10 * c.x + t.m11 * c.y) + t.m12 * c.z);
  t.tz = c.z - ((t.m20 * c.x + t.m21 * c.y) + t.m22 * c.z);
  return t;
}

Trsf scale_uniform(double f) { return scale_xyz(f, f, f); }

Trsf scale_xyz(double fx, double fy, double fz) {
  Trsf t;
  t.m00 = fx;
  t.m11 = fy;
  t.m22 = fz;
  return t;
}

Trsf then(const Trsf& a, const Trsf& b) {
  const double A[3][3] = {{a.m00, a.m01, a.m02}, {a.m10, a.m11, a.m12}, {a.m20, a.m21, a.m22}};
  const double B[3][3] = {{b.m00, b.m01, b.m02}, {b.m10, b.m11, b.m12}, {b.m20, b.m21, b.m22}};
  const double ta[3] = {a.tx, a.ty, a.tz};
  const double tb[3] = {b.tx, b.ty, b.tz};
  double R[3][3];
  double r[3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      R[i][j] = (B[i][0] * A[0][j] + B[i][1] * A[1][j]) + B[i][2] * A[2][j];
    }
    r[i] = ((B[i][0] * ta[0] + B[i][1] * ta[1]) + B[i][2] * ta[2]) + tb[i];
  }
  Trsf t;
  t.m00 = R[0][0], t.m01 = R[0][1], t.m02 = R[0][2];
  t.m10 = R[1][0], t.m11 = R[1][1], t.m12 = R[1][2];
  t.m20 = R[2][0], t.m21 = R[2][1], t.m22 = R[2][2];
  t.tx = r[0], t.ty = r[1], t.tz = r[2];
  return t;
}

Pnt apply(const Trsf& t, const Pnt& p) {
  return {((t.m00 * p.x + t.m01 * p.y) + t.m02 * p.z) + t.tx,
          ((t.m10 * p.x + t.m11 * p.y) + t.m12 * p.z) + t.ty,
          ((t.m20 * p.x + t.m21 * p.y) + t.m22 * p.z) + t.tz};
}

double determinant(const Trsf& t) {
  return ((t.m00 * (t.m11 * t.m22 - t.m12 * t.m21)) - t.m01 * (t.m10 * t.m22 - t.m12 * t.m20)) +
         t.m02 * (t.m10 * t.m21 - t.m11 * t.m20);
}

}  // namespace quorvalind::gp
