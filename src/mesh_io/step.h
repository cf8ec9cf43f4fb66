#pragma once
// ISO 10303-21 text holding one faceted B-rep of a welded copy of the mesh.
#include <cstdint>
#include <string>
#include <string_view>

#include "mesh/tri_mesh.h"

namespace quorvalind::mesh_io {

// Collects the data section: entity ids are consecutive from 1 in the order
// of emission. `lines` holds the finished lines, each ending in a line feed.
struct StepEmitter {
  std::string lines;
  std::uint64_t next_id = 1;

  // Appends "#{id} = {body};" and returns the id it used.
  std::uint64_t emit(std::string_view body);
};

// Appends the contents of an ISO 10303-21 string (without its enclosing
// apostrophes) for UTF-8 text: apostrophe and backslash doubled, printable
// ASCII as is, every run of other characters as \X2\ + four upper-case hex
// digits per UTF-16 unit + \X0\. A byte that is not valid UTF-8 stands for
// U+FFFD.
void append_step_string(std::string& out, std::string_view utf8);

// The whole exchange file for the mesh under `name` (UTF-8). Points come in
// welded vertex order from #8; per welded triangle a loop (its corners and,
// in order along each edge, the vertices lying on it, see
// mesh/edge_splits.h), bound, direction, placement, plane and face; then the shell, the B-rep, its representation
// and the product that holds it. Throws gp::InternalFault for a triangle
// index beyond the vertex list.
std::string write_step(const mesh::TriMesh& m, std::string_view name);

}  // namespace quorvalind::mesh_io
