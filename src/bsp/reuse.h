#pragma once
// Memory that one boolean operation leaves to the next.
//
// Without it every operation of a fuse_all or of a loop of booleans gives
// its few MB back to the system at the end (glibc trims the heap of a thread
// that ends and unmaps large blocks) and the next one faults them in again
// page by page, which on small operands costs as much as the tree work. An
// operation takes what the last one left and leaves what it used, up to
// REUSE_KEEP_BYTES per kind. Thread-safe: operations running at the same
// time find less to take and allocate as they would without.
#include <span>

#include "bsp/polygon.h"

namespace quorvalind::bsp::reuse {

// Vertex pool chunks of the standard size (VertexPool::CHUNK_VERTICES). take_chunk
// returns nullptr when none is kept; keep_chunk returns false when it keeps
// nothing more, and the caller frees the chunk.
void* take_chunk() noexcept;
bool keep_chunk(void* chunk) noexcept;

// Empty polygon lists that still hold their capacity; take_list returns the
// one that fits `want` polygons most closely (or the largest there is).
PolygonList take_list(std::size_t want = 0) noexcept;
void keep_list(PolygonList&& list) noexcept;
// keep_list for many at once (reordered; those kept are left empty without
// capacity, the others as they were).
void keep_lists(std::span<PolygonList> lists) noexcept;

// Tree node blocks (one Node each, from malloc). take_node_blocks moves up
// to `max` kept blocks to `out` and returns how many; keep_node_blocks keeps
// up to NODE_BLOCKS_KEPT in all and returns how many of `blocks` it took
// (the last ones); the caller frees the rest.
inline constexpr std::size_t NODE_BLOCKS_KEPT = std::size_t{1} << 16;
std::size_t take_node_blocks(void** out, std::size_t max) noexcept;
std::size_t keep_node_blocks(void* const* blocks, std::size_t n) noexcept;

// Large blocks for the fast engine's growing arrays, 64-byte aligned, in
// size classes (block_class: at least BLOCK_MIN_BYTES, eight to each
// doubling). take_block returns a kept block of exactly class `cls`, or
// nullptr; keep_block returns false when it keeps nothing more, and the
// caller frees the block (std::free).
inline constexpr std::size_t BLOCK_MIN_BYTES = std::size_t{64} << 10;
std::size_t block_class(std::size_t bytes) noexcept;
void* take_block(std::size_t cls) noexcept;
bool keep_block(void* block, std::size_t cls) noexcept;

// The buffers of a flat result, emptied.
FlatPolygons take_flat() noexcept;
void keep_flat(FlatPolygons&& flat) noexcept;

}  // namespace quorvalind::bsp::reuse
