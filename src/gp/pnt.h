#pragma once
// Pnt: the one three-component value, used as point, direction and vector.

namespace quorvalind::gp {

struct Pnt {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

inline Pnt add(const Pnt& a, const Pnt& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Pnt sub(const Pnt& a, const Pnt& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Pnt scale(const Pnt& a, double s) { return {a.x * s, a.y * s, a.z * s}; }

// (a.x*b.x + a.y*b.y) + a.z*b.z
inline double dot(const Pnt& a, const Pnt& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

inline Pnt cross(const Pnt& a, const Pnt& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// sqrt((x^2 + y^2) + z^2)
double norm(const Pnt& a);
double distance(const Pnt& a, const Pnt& b);

}  // namespace quorvalind::gp
