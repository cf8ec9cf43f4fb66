#pragma once
// The shape records: plain values with one owner each.
#include <vector>

#include "gp/pnt.h"
#include "gp/trsf.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::topods {

using gp::Pnt;

struct Vertex {
  Pnt point;
};

// An implicitly closed polyline: the last point connects back to the first.
struct Wire {
  std::vector<Pnt> points;
};

// A planar region: an outer wire and the wires of its holes.
struct Face {
  Wire outer;
  std::vector<Wire> holes;
};

// A triangulated body; closed and outward when a builder or boolean made it.
struct Solid {
  mesh::TriMesh mesh;
};

struct Compound {
  std::vector<Solid> solids;
};

// Newell's normal, unit length; (0, 0, 1) for an empty or degenerate wire.
Pnt normal(const Wire& w);

// Absolute signed volume of the mesh; throws gp::InternalFault on a bad index.
double volume(const Solid& s);

// A moved copy; mirrors keep their outward winding.
Solid transformed(const Solid& s, const gp::Trsf& t);

}  // namespace quorvalind::topods
