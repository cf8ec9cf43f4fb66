#include "bsp/fast/chain_index.h"

#include <utility>

#include "gp/bbox.h"

namespace quorvalind::bsp::fast {

// Groups are split along the widest of the keys: the normal, the
// reference point and the chain position. A search wants the least
// position it cannot prove, so groups of nearby positions are dropped
// whole once it has an answer; and a planned index keeps the candidates
// not yet built apart from the members. The weight was tuned on dense
// spheres; like the leaf size, it decides only which groups are tried.
constexpr double POSITION_WEIGHT = 3.0;
// Members per leaf of the index: a leaf's planes are scanned one by one.
constexpr std::uint32_t HIER_LEAF = 16;

// (planned) the planes its members are expected to have.
void build_hier(Chain& ch, const std::vector<Member>& mem) {
  Hier& h = ch.mx().hier;
  const std::uint32_t n = static_cast<std::uint32_t>(mem.size());
  h.nodes.clear();
  h.leaf_pos.clear();
  h.leaf_plane.clear();
  h.end = n;
  ++h.version;
  // Keys: the normal, and the reference point scaled to the same range.
  std::vector<std::array<double, 6>> key(n);
  gp::BBox box{{0, 0, 0}, {0, 0, 0}};
  bool any = false;
  for (std::uint32_t k = 0; k < n; ++k) {
    const Pnt& r = mem[k].ref;
    if (!(finite(r.x) && finite(r.y) && finite(r.z))) continue;
    if (!any) box = {r, r}, any = true;
    gp::add_point(box, r);
  }
  const Pnt &lo = box.min, &hi = box.max;
  double extent = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  const double inv = extent > 0 && finite(extent) ? 2.0 / extent : 0.0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const Member& m = mem[k];
    const double v[6] = {m.plane.normal.x,       m.plane.normal.y,       m.plane.normal.z,
                         (m.ref.x - lo.x) * inv, (m.ref.y - lo.y) * inv, (m.ref.z - lo.z) * inv};
    for (int j = 0; j < 6; ++j) key[k][j] = finite(v[j]) ? v[j] : 0.0;
  }
  std::vector<std::uint32_t> idx(n);
  for (std::uint32_t k = 0; k < n; ++k) idx[k] = k;
  std::vector<double> dds, hs;
  std::vector<std::pair<double, std::uint32_t>> split;
  struct Task {
    std::uint32_t lo, hi, node;
  };
  std::vector<Task> todo;
  h.nodes.emplace_back();
  todo.push_back({0, n, 0});
  while (!todo.empty()) {
    const Task tk = todo.back();
    todo.pop_back();
    HNode& hn = h.nodes[tk.node];
    hn.b = group_bound(mem.data(), idx.data() + tk.lo, tk.hi - tk.lo, key.data(), dds, hs);
    hn.minpos = *std::min_element(idx.begin() + tk.lo, idx.begin() + tk.hi);
    hn.maxpos = *std::max_element(idx.begin() + tk.lo, idx.begin() + tk.hi);
    if (tk.hi - tk.lo <= HIER_LEAF) {
      std::sort(idx.begin() + tk.lo, idx.begin() + tk.hi);
      hn.first = static_cast<std::uint32_t>(h.leaf_pos.size());
      hn.count = tk.hi - tk.lo;
      h.leaf_pos.insert(h.leaf_pos.end(), idx.begin() + tk.lo, idx.begin() + tk.hi);
      for (std::uint32_t i = tk.lo; i < tk.hi; ++i) h.leaf_plane.push_back(mem[idx[i]].plane);
      continue;
    }
    double klo[6], khi[6];
    for (int j = 0; j < 6; ++j) klo[j] = khi[j] = key[idx[tk.lo]][j];
    for (std::uint32_t i = tk.lo + 1; i < tk.hi; ++i)
      for (int j = 0; j < 6; ++j) {
        klo[j] = std::min(klo[j], key[idx[i]][j]);
        khi[j] = std::max(khi[j], key[idx[i]][j]);
      }
    int dim = 0;
    for (int j = 1; j < 6; ++j)
      if (khi[j] - klo[j] > khi[dim] - klo[dim]) dim = j;
    const std::uint32_t mid = tk.lo + (tk.hi - tk.lo) / 2;
    // The position counts as one more key, spread over [0, 2 POSITION_WEIGHT].
    const bool by_pos = 2.0 * POSITION_WEIGHT * (hn.maxpos - hn.minpos) / n > khi[dim] - klo[dim];
    // Split at the median of (key, position), with the keys side by side.
    split.clear();
    for (std::uint32_t i = tk.lo; i < tk.hi; ++i) {
      split.push_back({by_pos ? static_cast<double>(idx[i]) : key[idx[i]][dim], idx[i]});
    }
    std::nth_element(split.begin(), split.begin() + (mid - tk.lo), split.end());
    for (std::uint32_t i = tk.lo; i < tk.hi; ++i) idx[i] = split[i - tk.lo].second;
    const std::uint32_t l = static_cast<std::uint32_t>(h.nodes.size());
    h.nodes.emplace_back();
    h.nodes.emplace_back();
    h.nodes[tk.node].child[0] = l;
    h.nodes[tk.node].child[1] = l + 1;
    todo.push_back({tk.lo, mid, l});
    todo.push_back({mid, tk.hi, l + 1});
  }
}

}  // namespace quorvalind::bsp::fast
