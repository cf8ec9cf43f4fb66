#pragma once
// What every part of the skipping engine shares: the kept allocator, the
// encoding of sides, and two small numeric helpers.
//
// The engine's parts live in quorvalind::bsp::fast, one namespace for the
// folder: they share records (Tree, Chain, Bound, ...) across files, and the
// nested namespace keeps those names apart from the literal engine's in bsp.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "bsp/polygon.h"
#include "bsp/reuse.h"

namespace quorvalind::bsp::fast {

// The allocator of the arrays that grow to MBs in every operation (the
// nodes, the chains, the polygon lists): their large blocks are left to
// the next operation (bsp/reuse) instead of being given back to the system
// and faulted in again page by page.
template <class T>
struct KeptAlloc {
  using value_type = T;
  KeptAlloc() = default;
  template <class U>
  KeptAlloc(const KeptAlloc<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < reuse::BLOCK_MIN_BYTES) return std::allocator<T>().allocate(n);
    const std::size_t cls = reuse::block_class(bytes);
    void* p = reuse::take_block(cls);
    if (p == nullptr) p = std::aligned_alloc(64, cls);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < reuse::BLOCK_MIN_BYTES) {
      std::allocator<T>().deallocate(p, n);
      return;
    }
    const std::size_t cls = reuse::block_class(bytes);
    if (!reuse::keep_block(p, cls)) std::free(p);
  }
  template <class U>
  bool operator==(const KeptAlloc<U>&) const noexcept {
    return true;
  }
};
template <class T>
using KeptVector = std::vector<T, KeptAlloc<T>>;

// A side of a plane is polygon.h's class FRONT or BACK, so a polygon's
// class compares with the side it would have to take directly. Arrays with
// one entry per side are indexed by slot(side).
using Side = unsigned;
constexpr unsigned slot(Side side) { return side - FRONT; }
constexpr Side other(Side side) { return FRONT + BACK - side; }
static_assert(slot(FRONT) == 0 && slot(BACK) == 1 && other(FRONT) == BACK);

constexpr std::uint32_t NONE = 0xffffffffu;

inline bool finite(double x) { return std::isfinite(x); }
inline double length(const Pnt& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

}  // namespace quorvalind::bsp::fast
