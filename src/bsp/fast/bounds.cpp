#include "bsp/fast/bounds.h"

#include <algorithm>
#include <limits>

#include "gp/bbox.h"
#include "gp/speed_knobs.h"

namespace quorvalind::bsp::fast {

void sphere_of(const Pnt* v, std::uint32_t n, Pnt& c, double& r) {
  if (n == 0) {
    c = {0, 0, 0};
    r = std::nan("");
    return;
  }
  gp::BBox box{v[0], v[0]};
  // x * 0 is a zero for finite x and NaN otherwise: z is a zero exactly
  // when every coordinate is finite.
  double z = (v[0].x * 0.0 + v[0].y * 0.0) + v[0].z * 0.0;
  for (std::uint32_t i = 1; i < n; ++i) {
    gp::add_point(box, v[i]);
    z += (v[i].x * 0.0 + v[i].y * 0.0) + v[i].z * 0.0;
  }
  if (z != 0.0) {
    c = {0, 0, 0};
    r = std::nan("");
    return;
  }
  const Pnt &lo = box.min, &hi = box.max;
  c = {lo.x * 0.5 + hi.x * 0.5, lo.y * 0.5 + hi.y * 0.5, lo.z * 0.5 + hi.z * 0.5};
  // One root of the largest square: sqrt is correctly rounded, hence
  // monotone, so this is the largest of the lengths, to the bit.
  double rr = 0.0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const Pnt d = gp::sub(v[i], c);
    rr = std::max(rr, d.x * d.x + d.y * d.y + d.z * d.z);
  }
  r = std::sqrt(rr);
}

void set_sconst(Bound& b) {
  b.sconst = std::max(std::max(std::fabs(b.hmax), std::fabs(b.hmin)),
                      std::max(std::fabs(b.hb), std::fabs(b.hf))) +
             (b.kb + b.kf) * b.rho * b.rho + b.nmax * b.o1 + b.wmax;
  b.rr = b.rho * b.rho;
  b.one_rr = 1.0 + b.rr;
  b.nrho = b.nmax + b.rho;
}

void negate(Bound& b) {
  b.a = {-b.a.x, -b.a.y, -b.a.z};
  const double hmax = b.hmax;
  b.hmax = -b.hmin;
  b.hmin = -hmax;
  const double hb = b.hb;
  b.hb = -b.hf;
  b.hf = -hb;
  std::swap(b.kb, b.kf);
}

void add_to_bound(Bound& b, bool fresh, const Plane& p, const Pnt& ref) {
  if (fresh) {
    b.o = ref;
    b.o1 = std::fabs(ref.x) + std::fabs(ref.y) + std::fabs(ref.z);
    b.a = p.normal;
  }
  const double h = gp::dot(p.normal, b.o) - p.w;
  const double nl = length(p.normal);
  const bool ok = finite(p.normal.x) && finite(p.normal.y) && finite(p.normal.z) && finite(p.w) &&
                  finite(h) && finite(nl) && finite(b.o1);
  if (fresh) {
    b.rho = 0;
    b.hmax = b.hmin = b.hb = b.hf = h;
    b.kb = b.kf = 0;
    b.curved = false;
    b.nmax = nl;
    b.wmax = std::fabs(p.w);
    b.ok = ok;
    set_sconst(b);
    return;
  }
  if (!ok) b.ok = false;
  if (!b.ok) return;
  const Pnt delta = gp::sub(p.normal, b.a);
  const double dd = gp::dot(delta, delta);
  if (!b.curved && dd > gp::SKIP_CURVE_FIT_MIN_DEPARTURE2) {
    // Fitted to this member, so that it adds nothing to hb or hf; hmax and
    // hmin are still those of the members before it.
    b.kb = std::max(0.0, (b.hmax - h) / dd);
    b.kf = std::max(0.0, (h - b.hmin) / dd);
    if (!(finite(b.kb) && finite(b.kf))) b.kb = b.kf = 0;
    b.curved = true;
    // The members before it went in without a curvature term. Each departs
    // from a by at most rho, with its offset in [hmin, hmax], so these
    // cover them: h_k + kb |delta_k|^2 <= hb and h_k - kf |delta_k|^2 >= hf.
    // (Without them, near-parallel members at other offsets before the
    // fitting one left the bound short of them.)
    const double rr = b.rho * b.rho;
    b.hb = std::max(b.hb, b.hmax + b.kb * rr);
    b.hf = std::min(b.hf, b.hmin - b.kf * rr);
  }
  b.rho = std::max(b.rho, std::sqrt(dd));
  b.hmax = std::max(b.hmax, h);
  b.hmin = std::min(b.hmin, h);
  b.hb = std::max(b.hb, h + b.kb * dd);
  b.hf = std::min(b.hf, h - b.kf * dd);
  b.nmax = std::max(b.nmax, nl);
  b.wmax = std::max(b.wmax, std::fabs(p.w));
  set_sconst(b);
}

// The bound of members `idx` of chain `ch`, taken about the member nearest

Bound group_bound(const Member* mem, const std::uint32_t* idx, std::size_t n,
                  const std::array<double, 6>* key, std::vector<double>& dds,
                  std::vector<double>& hs) {
  double mean[6] = {0, 0, 0, 0, 0, 0};
  for (std::size_t i = 0; i < n; ++i)
    for (int j = 0; j < 6; ++j) mean[j] += key[idx[i]][j];
  for (double& m : mean) m /= static_cast<double>(n);
  std::size_t centre = 0;
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < n; ++i) {
    double d2 = 0;
    for (int j = 0; j < 6; ++j) d2 += (key[idx[i]][j] - mean[j]) * (key[idx[i]][j] - mean[j]);
    if (d2 < best) best = d2, centre = i;
  }
  const auto node_of = [&](std::size_t i) -> const Member& { return mem[idx[i]]; };
  Bound b;
  add_to_bound(b, true, node_of(centre).plane, node_of(centre).ref);
  if (!b.ok) return b;
  // One pass gathers each member's offset and normal departure, and the
  // extremes (the largest length from the largest square: sqrt is
  // monotone, so the same to the bit as the largest of the roots).
  dds.resize(n);
  hs.resize(n);
  bool ok = true;
  double dd_max = 0, nn_max = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Plane& pl = node_of(i).plane;
    const double h = gp::dot(pl.normal, b.o) - pl.w;
    const double nn =
        pl.normal.x * pl.normal.x + pl.normal.y * pl.normal.y + pl.normal.z * pl.normal.z;
    ok = ok && finite(pl.normal.x) && finite(pl.normal.y) && finite(pl.normal.z) && finite(pl.w) &&
         finite(h) && finite(nn);
    const Pnt delta = gp::sub(pl.normal, b.a);
    const double dd = gp::dot(delta, delta);
    dds[i] = dd;
    hs[i] = h;
    dd_max = std::max(dd_max, dd);
    nn_max = std::max(nn_max, nn);
    b.hmax = std::max(b.hmax, h);
    b.hmin = std::min(b.hmin, h);
    b.wmax = std::max(b.wmax, std::fabs(pl.w));
  }
  if (!ok) {
    b.ok = false;
    return b;
  }
  b.rho = std::sqrt(dd_max);
  b.nmax = std::sqrt(nn_max);
  double kb = std::numeric_limits<double>::infinity(), kf = kb;
  for (std::size_t i = 0; i < n; ++i) {
    const double dd = dds[i];
    if (!(dd > gp::SKIP_CURVE_FIT_MIN_DEPARTURE2)) continue;
    kb = std::min(kb, (b.hmax - hs[i]) / dd);
    kf = std::min(kf, (hs[i] - b.hmin) / dd);
  }
  b.kb = finite(kb) ? std::max(0.0, kb) : 0.0;
  b.kf = finite(kf) ? std::max(0.0, kf) : 0.0;
  b.curved = true;
  b.hb = b.hmax;
  b.hf = b.hmin;
  for (std::size_t i = 0; i < n; ++i) {
    b.hb = std::max(b.hb, hs[i] + b.kb * dds[i]);
    b.hf = std::min(b.hf, hs[i] - b.kf * dds[i]);
  }
  if (!(finite(b.hb) && finite(b.hf))) b.ok = false;
  set_sconst(b);
  return b;
}

}  // namespace quorvalind::bsp::fast
