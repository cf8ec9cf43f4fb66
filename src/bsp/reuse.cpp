#include "bsp/reuse.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "gp/speed_knobs.h"

namespace quorvalind::bsp::reuse {

namespace {

constexpr std::size_t MAX_CHUNKS =
    gp::REUSE_KEEP_BYTES / (VertexPool::CHUNK_VERTICES * sizeof(Pnt));
// Lists beyond this many are a tree's worth of small ones: not worth a slot.
constexpr std::size_t MAX_LISTS = 64;

struct Kept {
  std::mutex mutex;
  void* chunks[MAX_CHUNKS > 0 ? MAX_CHUNKS : 1] = {};
  std::size_t chunk_count = 0;
  PolygonList lists[MAX_LISTS];
  std::size_t list_count = 0;
  std::size_t list_bytes = 0;
  FlatPolygons flat;
  std::vector<void*> node_blocks;
  std::vector<std::pair<void*, std::size_t>> blocks;  // with their classes
  std::size_t block_bytes = 0;
};

// Never destroyed: an operation on another thread may still use it while
// the process exits.
Kept& kept() {
  static Kept* k = new Kept;
  return *k;
}

std::size_t bytes_of(const PolygonList& l) { return l.capacity() * sizeof(Polygon); }
std::size_t bytes_of(const FlatPolygons& f) {
  return f.vertices.capacity() * sizeof(Pnt) + f.counts.capacity() * sizeof(std::uint32_t);
}

// std::mutex::lock may throw in principle; then nothing is taken or kept.
template <class F>
auto locked(F&& f, decltype(f()) otherwise) noexcept -> decltype(f()) {
  try {
    std::lock_guard<std::mutex> lock(kept().mutex);
    return f();
  } catch (...) {
    return otherwise;
  }
}

}  // namespace

void* take_chunk() noexcept {
  return locked(
      []() -> void* {
        Kept& k = kept();
        return k.chunk_count > 0 ? k.chunks[--k.chunk_count] : nullptr;
      },
      nullptr);
}

bool keep_chunk(void* chunk) noexcept {
  return locked(
      [chunk] {
        Kept& k = kept();
        if (k.chunk_count >= MAX_CHUNKS) return false;
        k.chunks[k.chunk_count++] = chunk;
        return true;
      },
      false);
}

PolygonList take_list(std::size_t want) noexcept {
  PolygonList out;
  locked(
      [&out, want] {
        Kept& k = kept();
        if (k.list_count == 0) return false;
        // The smallest list that holds `want`, else the largest one.
        std::size_t best = 0;
        for (std::size_t i = 1; i < k.list_count; ++i) {
          const std::size_t c = k.lists[i].capacity(), b = k.lists[best].capacity();
          const bool fits = c >= want, best_fits = b >= want;
          if (fits ? !best_fits || c < b : !best_fits && c > b) best = i;
        }
        out = std::move(k.lists[best]);
        k.lists[best] = std::move(k.lists[--k.list_count]);
        k.list_bytes -= bytes_of(out);
        return true;
      },
      false);
  return out;
}

namespace {
// Under the lock: keeps `list` if it fits, in place of smaller ones when
// full, so that the few large lists of an operation (its operands) are the
// ones kept rather than the many small ones of its tree nodes. Returns
// false, leaving `list` alone, when it is not kept.
bool keep_locked(Kept& k, PolygonList& list) {
  const std::size_t bytes = bytes_of(list);
  while (k.list_count > 0 &&
         (k.list_count >= MAX_LISTS || k.list_bytes + bytes > gp::REUSE_KEEP_BYTES)) {
    std::size_t smallest = 0;
    for (std::size_t i = 1; i < k.list_count; ++i) {
      if (k.lists[i].capacity() < k.lists[smallest].capacity()) smallest = i;
    }
    if (bytes_of(k.lists[smallest]) >= bytes) return false;
    k.list_bytes -= bytes_of(k.lists[smallest]);
    k.lists[smallest] = std::move(k.lists[--k.list_count]);  // frees the smaller one
  }
  list.clear();
  k.lists[k.list_count++] = std::move(list);
  k.list_bytes += bytes;
  return true;
}
}  // namespace

void keep_list(PolygonList&& list) noexcept {
  const std::size_t bytes = bytes_of(list);
  if (bytes == 0 || bytes > gp::REUSE_KEEP_BYTES) return;  // freed with the caller's list
  locked([&] { return keep_locked(kept(), list); }, false);
}

void keep_lists(std::span<PolygonList> lists) noexcept {
  // Only the largest MAX_LISTS can be kept: offer those, largest first.
  const std::size_t n = std::min(lists.size(), MAX_LISTS);
  const auto larger = [](const PolygonList& a, const PolygonList& b) {
    return a.capacity() > b.capacity();
  };
  const auto top = lists.begin() + static_cast<std::ptrdiff_t>(n);
  if (top != lists.end()) std::nth_element(lists.begin(), top - 1, lists.end(), larger);
  std::sort(lists.begin(), top, larger);
  locked(
      [&] {
        for (std::size_t i = 0; i < n; ++i) {
          const std::size_t bytes = bytes_of(lists[i]);
          if (bytes == 0) break;
          if (bytes <= gp::REUSE_KEEP_BYTES && !keep_locked(kept(), lists[i])) break;
        }
        return true;
      },
      false);
}

std::size_t take_node_blocks(void** out, std::size_t max) noexcept {
  return locked(
      [out, max] {
        std::vector<void*>& kept_blocks = kept().node_blocks;
        const std::size_t n = std::min(max, kept_blocks.size());
        std::copy(kept_blocks.end() - static_cast<std::ptrdiff_t>(n), kept_blocks.end(), out);
        kept_blocks.resize(kept_blocks.size() - n);
        return n;
      },
      std::size_t{0});
}

std::size_t keep_node_blocks(void* const* blocks, std::size_t n) noexcept {
  return locked(
      [blocks, n] {
        std::vector<void*>& kept_blocks = kept().node_blocks;
        const std::size_t room = NODE_BLOCKS_KEPT - std::min(NODE_BLOCKS_KEPT, kept_blocks.size());
        const std::size_t take = std::min(n, room);
        kept_blocks.insert(kept_blocks.end(), blocks + (n - take), blocks + n);
        return take;
      },
      std::size_t{0});
}

std::size_t block_class(std::size_t bytes) noexcept {
  std::size_t c = BLOCK_MIN_BYTES;
  while (c < bytes) {
    // 8 to 15 times a power of two: 1.125 at the most between classes.
    std::size_t unit = std::size_t{1};
    while (unit * 8 <= c) unit *= 2;
    c += unit;
  }
  return c;
}

void* take_block(std::size_t cls) noexcept {
  return locked(
      [cls]() -> void* {
        Kept& k = kept();
        for (std::size_t i = k.blocks.size(); i-- > 0;) {
          if (k.blocks[i].second != cls) continue;
          void* p = k.blocks[i].first;
          k.blocks[i] = k.blocks.back();
          k.blocks.pop_back();
          k.block_bytes -= cls;
          return p;
        }
        return nullptr;
      },
      nullptr);
}

bool keep_block(void* block, std::size_t cls) noexcept {
  return locked(
      [block, cls] {
        Kept& k = kept();
        if (k.block_bytes + cls > gp::REUSE_KEEP_BYTES) return false;
        k.blocks.emplace_back(block, cls);  // may throw: then not kept
        k.block_bytes += cls;
        return true;
      },
      false);
}

FlatPolygons take_flat() noexcept {
  FlatPolygons out;
  locked(
      [&out] {
        std::swap(out, kept().flat);
        return true;
      },
      false);
  return out;
}

void keep_flat(FlatPolygons&& flat) noexcept {
  if (bytes_of(flat) > gp::REUSE_KEEP_BYTES) return;
  flat.vertices.clear();
  flat.counts.clear();
  locked(
      [&] {
        FlatPolygons& mine = kept().flat;
        // Keep the larger of the two, so that the next result fits in it.
        if (bytes_of(flat) > bytes_of(mine)) std::swap(mine, flat);
        return true;
      },
      false);
}

}  // namespace quorvalind::bsp::reuse
