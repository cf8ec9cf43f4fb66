#pragma once
#include <cstdint>

namespace quorvalind::brep_prim_api {

// Tessellation density. Stored as given; builders clamp when they read it.
struct MeshParams {
  std::uint64_t circle_segments = 64;
  std::uint64_t lat_segments = 32;
};

// Segments around a full circle: at least 8.
inline std::uint64_t circle_count(const MeshParams& mp) {
  return mp.circle_segments < 8 ? 8 : mp.circle_segments;
}

// Latitude bands of a sphere: at least 4.
inline std::uint64_t lat_count(const MeshParams& mp) {
  return mp.lat_segments < 4 ? 4 : mp.lat_segments;
}

}  // namespace quorvalind::brep_prim_api
