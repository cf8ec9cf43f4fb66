#pragma once
// Knobs that trade speed or memory and never change a result: any value
// gives the same output, bit for bit. The numbers that define results are
// in gp/tolerances.h.
#include <cstddef>
#include <cstdint>

namespace quorvalind::gp {

// Stack requested for every csg worker thread. The tree operations are
// iterative, so this is headroom rather than a depth limit.
inline constexpr unsigned long CSG_THREAD_STACK_SIZE = 268435456;  // 256 MiB
// How long the caller waits for the csg thread between two calls of its
// wait callback (signal checks), in nanoseconds.
inline constexpr long CSG_WAIT_SLICE_NS = 5000000;  // 5 ms
// Stack of the second thread of work split in halves (gp/halves.h): the
// halves are loops without recursion.
inline constexpr unsigned long HALF_THREAD_STACK_SIZE = 1048576;  // 1 MiB
// The most threads an operation splits its work over (gp/workers.h), and
// the stack of each helper thread: the tasks are loops without recursion.
inline constexpr unsigned WORKER_THREADS_MAX = 64;
inline constexpr unsigned long WORKER_THREAD_STACK_SIZE = 8388608;  // 8 MiB
// A boolean result's weld (mesh::welded_fans) goes over several threads
// from this many vertices on.
inline constexpr std::size_t WELD_TEAM_MIN_VERTICES = std::size_t{1} << 18;
// Binary STL writes of fewer triangles stay on one thread: below this, the
// start and join of a thread cost more than half the writing saves.
inline constexpr std::size_t STL_TWO_THREAD_MIN_TRIANGLES = 65536;
// Buffers smaller than this get no huge-page advice: it would cover at most
// one aligned 2 MiB page and save next to nothing.
inline constexpr std::size_t HUGE_PAGE_MIN_BYTES = std::size_t{4} << 20;

// Memory a boolean operation leaves to the next one rather than returning
// it to the system, per kind (vertex pool chunks, polygon lists, the flat
// result), in bytes.
inline constexpr std::size_t REUSE_KEEP_BYTES = std::size_t{16} << 20;

// The default engine runs the literal list walk unless its work, estimated
// as polygons(a) x distinct planes(b) + polygons(b) x distinct planes(a)
// (a polygon meets at most one node per plane on its way down the other
// tree), exceeds this: below it the skipping engine's set-up costs more
// than it saves. Shallow trees, such as a row of fused cylinders sharing
// their cap planes, stay literal even with many polygons; spheres of more
// than about 1,500 triangles each go to the skipping engine.
inline constexpr double FAST_ENGINE_MIN_WORK = 4e6;

// ... and unless the same estimate over the parts of the operands within
// reach of each other (polygons and planes inside the other operand's box,
// planes counted to 1e-6) exceeds this. Away from the other solid a
// polygon leaves the tree after a few nodes, so a large operand met by a
// small one stays literal: a plate with 30 to 100 holes cut or fused with
// one more cylinder (estimate 0.01 million) runs 2-4x faster there, while
// offset spheres of 960 triangles (0.35 million) run 0.6x as long on the
// skipping engine (measured with both engines on the same inputs).
inline constexpr double FAST_ENGINE_MIN_REACH_WORK = 1e5;

// The skipping engine walks a chain node by node while at most
// SKIP_SHORT_CHAIN nodes are left (classifying is cheaper than setting up
// the proofs there) and gives chains of SKIP_INDEX_MIN nodes and more a
// spatial index. Defaults of bsp::SkipOptions.
inline constexpr std::uint32_t SKIP_SHORT_CHAIN = 128;
inline constexpr std::uint32_t SKIP_INDEX_MIN = 256;
// A build on several threads goes in rounds of at least this many inputs,
// and only with twice as many: below that, walking a round and then
// building it in order costs more than the other threads save (default of
// bsp::SkipOptions::round_min).
inline constexpr std::uint32_t SKIP_BUILD_ROUND_MIN = 1024;
// A group bound fits its curvatures only to members whose normal departs
// from the group's axis by more than this squared length; any curvature
// >= 0 gives a sound bound, so this only keeps near-parallel members from
// making the fitted one needlessly large.
inline constexpr double SKIP_CURVE_FIT_MIN_DEPARTURE2 = 1e-12;

}  // namespace quorvalind::gp
