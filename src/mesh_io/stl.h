#pragma once
// ASCII and binary STL, built in memory from a welded copy of the mesh.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "gp/halves.h"
#include "gp/speed_knobs.h"
#include "mesh/tri_mesh.h"

namespace quorvalind::mesh_io {

// A count does not fit the field the file format gives it (the binary STL
// triangle count is 32 bits). The binding layer reports it as OverflowError.
class CountOverflow : public std::overflow_error {
 public:
  explicit CountOverflow(const std::string& message) : std::overflow_error(message) {}
};

// Both STL writers emit a welded triangle whose edges hold other vertices
// (mesh/edge_splits.h) as the pieces that end at them, in its place, each
// with its own normal; other triangles are written as they are.

// "solid {name}" ... "endsolid {name}", numbers in shortest round-trip form.
// CR and LF in the name are written as spaces so the name stays on its line.
// Throws gp::InternalFault for a triangle index beyond the vertex list.
std::string write_ascii_stl(const mesh::TriMesh& m, std::string_view name);

// 80-byte header, uint32 count, 50 bytes per facet, little-endian float32.
// Throws CountOverflow for more than 2^32 - 1 facets after the splitting,
// gp::InternalFault for a triangle index beyond the vertex list.
std::string write_binary_stl(const mesh::TriMesh& m);

// How write_binary_stl_into spreads its work. Every plan writes the same
// bytes; the defaults are the fast choice, the rest lets tests reach every
// path on small meshes.
struct BinaryStlPlan {
  // From this many input triangles on, the passes over the triangles are
  // split in halves, the second on another thread (gp::run_halves).
  std::size_t two_threads_from = gp::STL_TWO_THREAD_MIN_TRIANGLES;
  // 64-bit weld indices even where 32 bits would do (they are taken anyway
  // from 2^32 - 1 vertices on).
  bool wide_indices = false;
  gp::ThreadStarter start = &pthread_create;
  // Records converted four values at a time where the hardware can (SSE2,
  // default rounding mode); otherwise, or when false, value by value.
  bool packed = true;
};

// The same bytes written straight into a buffer the caller provides:
// `buffer(size)` is called once, on the calling thread, with the whole file
// size, after the weld and the count check, and returns where to write, or
// nullptr to abandon the write. Lets a caller fill its own object without a
// copy. Throws what write_binary_stl throws, and std::bad_alloc.
void write_binary_stl_into(const mesh::TriMesh& m, const std::function<char*(std::size_t)>& buffer,
                           const BinaryStlPlan& plan = {});

// The stored form of a binary STL triangle count, or CountOverflow.
std::uint32_t binary_stl_count(std::size_t triangles);

}  // namespace quorvalind::mesh_io
