#pragma once
// Triangles for a plane polygon with holes whose every corner must stay a
// corner: nothing is moved, merged or dropped, collinear corners included,
// because a neighbouring region shares them.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvalind::simplify {

struct Pt2 {
  double x, y;
};

// Rings are lists of positions into `pts`: rings[0] the outer ring,
// counter-clockwise, the rest holes inside it, clockwise. Appends
// counter-clockwise position triples to `out`, n + 2h - 2 of them for n
// corners and h holes, and returns true; returns false (with `out` as it
// was) when the rings cannot be cut into ears without a corner lying on a
// diagonal or a corner is not finite, which the caller treats as "leave
// this region as it was".
bool fill_polygon(std::span<const Pt2> pts, std::span<const std::vector<std::uint32_t>> rings,
                  std::vector<std::array<std::uint32_t, 3>>& out);

}  // namespace quorvalind::simplify
