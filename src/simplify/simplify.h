#pragma once
// The same surface in few triangles, with every edge paired.
#include "mesh/tri_mesh.h"

namespace quorvalind::simplify {

// Merges coplanar triangles into maximal plane regions and fills each region
// again from its outline, so that a boolean result's pieces and T-junctions
// disappear:
//   - corners closer than gp::SIMPLIFY_MERGE_TOLERANCE are merged, and
//     vertices lying on another triangle's edge (mesh/edge_splits.h) become
//     corners of that triangle too;
//   - a region grows from its largest triangle over paired edges to the
//     triangles whose corners lie within gp::SIMPLIFY_PLANE_TOLERANCE of
//     the seed's plane and that face its way (or are slivers no higher than
//     that tolerance);
//   - a vertex inside one region is dropped; a vertex where exactly two
//     regions meet along a boundary that is straight within the same
//     tolerance is dropped from both (one decision per boundary chain);
//     every other vertex stays where it is;
//   - a region that cannot be filled from its outline (a pinched or
//     degenerate outline) keeps its own triangles, split at the vertices on
//     their edges, and pins its vertices for its neighbours.
//   - slivers no higher than gp::SIMPLIFY_FLAP_HEIGHT that hang on an edge
//     as flaps (their three edges each once too many) are taken away first,
//     and, when edges stay unpaired, so are fins (slivers whose split loop
//     runs along a line and back over edges covered already);
//   - slits left between pieces (cycles of unpaired edges) get a fan whose
//     every point lies within gp::SIMPLIFY_GAP_DISTANCE of the slit's edges
//     (or a strip of ears, each within it of two of them), or lose a second
//     cover whose triangles such a fan would cancel; an edge used twice each
//     way is flipped in two triangles that fold onto each other over it,
//     where the new ones lie within the gap distance of the old; the fills
//     and flips beyond the thinnest fans keep the volume within 1e-9 of the
//     input's, or bring it closer.
// So no vertex is created or moved, and no surface point moves by more than
// the gap distance. Input that is open, non-manifold or inside out gives
// a result of the same kind; the result is deterministic. A mesh with a
// non-finite coordinate comes back unchanged. Throws gp::InternalFault for
// a triangle index beyond the vertex list.
mesh::TriMesh simplify(const mesh::TriMesh& m);

}  // namespace quorvalind::simplify
