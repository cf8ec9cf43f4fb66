#pragma once
// T-junctions: mesh vertices that lie on another triangle's edge.
//
// A boolean result keeps pieces split along the other solid's planes, so a
// piece's edge may run past the corners of the pieces beside it. Readers
// that pair edges (STL's vertex-to-vertex rule, a B-rep's closed shell) need
// those corners on the long edge too. This finds them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mesh/tri_mesh.h"

namespace quorvalind::mesh {

// Where each triangle edge is split. Edge `slot` of triangle t runs from
// corner slot to corner (slot + 1) % 3; its split points are mesh vertex
// indices ordered from the first corner to the second.
struct EdgeSplits {
  // Empty when no edge is split; otherwise 3 * triangles + 1 offsets into
  // `points`, edge e's points being points[starts[e] .. starts[e + 1]).
  std::vector<std::size_t> starts;
  std::vector<std::uint64_t> points;

  bool empty() const { return starts.empty(); }
  std::span<const std::uint64_t> on_edge(std::size_t triangle, int slot) const {
    if (starts.empty()) return {};
    const std::size_t e = 3 * triangle + static_cast<std::size_t>(slot);
    return {points.data() + starts[e], starts[e + 1] - starts[e]};
  }
  // Whether any edge of the triangle is split.
  bool split(std::size_t triangle) const {
    return !starts.empty() && starts[3 * triangle] != starts[3 * triangle + 3];
  }
};

// The split points of every edge of `m`, whose indices must be in range.
//
// "Lies on the edge": only edges without their reverse twin are looked at
// (an edge that appears as often as its reverse, once each in a closed
// surface, is already conforming), and a vertex v lies on edge (a, b) of
// triangle (a, b, c) when
//   - v is joined to a or b by a path of unpaired edges that each overlap
//     the segment a-b and whose vertices are all at most
//     gp::EDGE_SPLIT_TOLERANCE from the line through a and b (a
//     T-junction's vertices always are: the pieces on the other side cover
//     the edge from end to end, with edges that have no twin; those edges
//     may reach past a or b, where pieces on both sides were split), and
//   - v is not c, and its projection falls strictly between a and b, and
//   - v is not a split point of another edge of the triangle (a sliver's
//     edges may all pass near one vertex): it goes on the edge where more
//     of the two pieces beside it have their reverse among the mesh's
//     edges, the earliest of equals, and
//   - v itself is at most gp::EDGE_SPLIT_TOLERANCE from that line, and
//     farther than four times that from a and from b (closer, it may be an end moved
//     by a weld: copies of one point that fell in neighbouring cells).
// Every unpaired edge is split with gp::EDGE_SPLIT_TOLERANCE first; the
// edges whose pieces then still do not pair are split again with
// gp::EDGE_SPLIT_WIDE_TOLERANCE (both tolerances in the rules above).
// A mesh whose edges all pair up gives an empty result at once. Degenerate
// triangles (two equal corner indices) are ignored. The search is bounded
// by a linear budget (64 steps per unpaired edge end and per vertex, plus
// 65,536); a soup whose points crowd within the tolerance of each other
// exceeds it and gets an empty result, as a mesh without T-junctions.
EdgeSplits find_edge_splits(const TriMesh& m);
// The same, given unpaired_edges(m) (a caller that has it already).
EdgeSplits find_edge_splits(const TriMesh& m, const std::vector<std::uint8_t>& unpaired);

// For every triangle edge (3 t + slot), whether it occurs other than as
// often as its reverse: 1 for such an unpaired edge, 0 otherwise and for
// the edges of degenerate triangles. Linear in the mesh size.
std::vector<std::uint8_t> unpaired_edges(const TriMesh& m);

// Triangles covering triangle (a, b, c) with the split points of its edges
// as extra corners: `loop` is the corner a, the points of edge ab, b, the
// points of bc, c, the points of ca, and `on` the bit mask of the original
// edges (1 = ab, 2 = bc, 4 = ca) each loop entry lies on. Ears are cut at
// the corner farthest from its neighbours' chord, never across a chord
// that runs along an original edge, so no triangle is flat unless the input
// triangle is. Appends loop-position triples, wound like (a, b, c), to
// `out`. The loop must hold at least 3 entries.
void triangulate_split_triangle(std::span<const Pnt> loop, std::span<const std::uint8_t> on,
                                std::vector<std::array<std::uint32_t, 3>>& out);

// The loop of triangle t of `m` with its split points (indices into the
// mesh's vertices) and the matching edge masks, in the order described
// above. Clears both vectors first.
void split_triangle_loop(const TriMesh& m, const EdgeSplits& splits, std::size_t t,
                         std::vector<std::uint64_t>& loop, std::vector<std::uint8_t>& on);

}  // namespace quorvalind::mesh
