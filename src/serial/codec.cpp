#include "serial/codec.h"

#include <cstring>
#include <type_traits>

#include "gp/fault.h"
#include "serial/byte_order.h"
#include "serial/checksum.h"

namespace quorvalind::serial {

namespace {

constexpr std::byte MAGIC[4] = {std::byte{'Q'}, std::byte{'V'}, std::byte{'L'}, std::byte{'D'}};

// Points and index triples are copied as flat runs of 64-bit words.
static_assert(sizeof(gp::Pnt) == 24 && std::is_trivially_copyable_v<gp::Pnt>);
static_assert(sizeof(mesh::Triangle) == 24 && std::is_trivially_copyable_v<mesh::Triangle>);

template <class T, std::size_t I = 0>
constexpr std::uint8_t tag_of() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, Value>, T>) {
    return static_cast<std::uint8_t>(I + 1);
  } else {
    return tag_of<T, I + 1>();
  }
}

// Counts, widths and tags all print as 64-bit unsigned: one instantiation of
// the standard formatter, the one the rest of the build already uses.
std::string decimal(std::uint64_t v) { return std::to_string(v); }

// Every refusal is spelled here.
[[noreturn]] void fail(const std::string& what) {
  throw DecodeError("cannot restore a quorvalind value: " + what);
}

// Bytes per stored index: the narrowest width whose range holds them all.
// OR-ing the indices gives the bit length of the largest in one pass.
unsigned index_width(const std::vector<mesh::Triangle>& ts) {
  std::uint64_t bits = 0;
  for (const mesh::Triangle& t : ts) bits |= t[0] | t[1] | t[2];
  return bits <= 0xFF ? 1 : bits <= 0xFFFF ? 2 : bits <= 0xFFFFFFFF ? 4 : 8;
}

bool valid_index_width(unsigned w) { return w == 1 || w == 2 || w == 4 || w == 8; }

// Body writers are written once over a sink that either counts or stores.
struct Counter {
  std::size_t n = 0;
  void f64(double) { n += 8; }
  void u64(std::uint64_t) { n += 8; }
  void u8(unsigned) { n += 1; }
  void points(const std::vector<gp::Pnt>& v) { n += 24 * v.size(); }
  void triangles(const std::vector<mesh::Triangle>& v, unsigned width) {
    n += 3 * width * v.size();
  }
};

// Indices narrowed to U, little-endian.
template <class U>
void store_indices(std::byte* p, const std::vector<mesh::Triangle>& ts) {
  for (const mesh::Triangle& t : ts) {
    for (std::uint64_t i : t) {
      const U u = static_cast<U>(i);
      if constexpr (HOST_IS_LITTLE_ENDIAN) {
        std::memcpy(p, &u, sizeof(U));
      } else {
        for (std::size_t b = 0; b < sizeof(U); ++b) p[b] = static_cast<std::byte>(i >> (8 * b));
      }
      p += sizeof(U);
    }
  }
}

template <class U>
void load_indices(std::vector<mesh::Triangle>& ts, const std::byte* p) {
  for (mesh::Triangle& t : ts) {
    for (std::uint64_t& i : t) {
      if constexpr (HOST_IS_LITTLE_ENDIAN) {
        U u;
        std::memcpy(&u, p, sizeof(U));
        i = u;
      } else {
        i = 0;
        for (std::size_t b = 0; b < sizeof(U); ++b)
          i |= static_cast<std::uint64_t>(p[b]) << (8 * b);
      }
      p += sizeof(U);
    }
  }
}

struct Writer {
  std::byte* p;
  void f64(double d) {
    store_f64(p, d);
    p += 8;
  }
  void u64(std::uint64_t v) {
    store_u64(p, v);
    p += 8;
  }
  void u8(unsigned v) { *p++ = static_cast<std::byte>(v); }
  void points(const std::vector<gp::Pnt>& v) {
    if constexpr (HOST_IS_LITTLE_ENDIAN) {
      if (!v.empty()) std::memcpy(p, v.data(), 24 * v.size());
      p += 24 * v.size();
    } else {
      for (const gp::Pnt& q : v) {
        f64(q.x);
        f64(q.y);
        f64(q.z);
      }
    }
  }
  void triangles(const std::vector<mesh::Triangle>& v, unsigned width) {
    switch (width) {
      case 1: store_indices<std::uint8_t>(p, v); break;
      case 2: store_indices<std::uint16_t>(p, v); break;
      case 4: store_indices<std::uint32_t>(p, v); break;
      default: store_indices<std::uint64_t>(p, v); break;
    }
    p += 3 * width * v.size();
  }
};

template <class S>
void body(S& s, const gp::Pnt& p) {
  s.f64(p.x);
  s.f64(p.y);
  s.f64(p.z);
}
template <class S>
void body(S& s, const gp::Ax1& a) {
  body(s, a.location);
  body(s, a.direction);
}
template <class S>
void body(S& s, const gp::BBox& b) {
  body(s, b.min);
  body(s, b.max);
}
template <class S>
void body(S& s, const topods::Vertex& v) {
  body(s, v.point);
}
template <class S>
void body(S& s, const gp::Trsf& t) {
  for (double d :
       {t.m00, t.m01, t.m02, t.m10, t.m11, t.m12, t.m20, t.m21, t.m22, t.tx, t.ty, t.tz}) {
    s.f64(d);
  }
}
template <class S>
void body(S& s, const brep_prim_api::MeshParams& mp) {
  s.u64(mp.circle_segments);
  s.u64(mp.lat_segments);
}
template <class S>
void body(S& s, const topods::Wire& w) {
  s.u64(w.points.size());
  s.points(w.points);
}
template <class S>
void body(S& s, const topods::Face& f) {
  body(s, f.outer);
  s.u64(f.holes.size());
  for (const topods::Wire& h : f.holes) body(s, h);
}
template <class S>
void body(S& s, const mesh::TriMesh& m) {
  const unsigned width = index_width(m.triangles);
  s.u64(m.vertices.size());
  s.u64(m.triangles.size());
  s.u8(width);
  s.points(m.vertices);
  s.triangles(m.triangles, width);
}
template <class S>
void body(S& s, const topods::Solid& v) {
  body(s, v.mesh);
}
template <class S>
void body(S& s, const topods::Compound& c) {
  s.u64(c.solids.size());
  for (const topods::Solid& solid : c.solids) body(s, solid.mesh);
}

// Reads a body; every read is bounds-checked against the data, and every
// count against the bytes left before anything is allocated for it.
class Reader {
 public:
  Reader(const std::byte* p, const std::byte* end) : p_(p), end_(end) {}

  double f64() { return load_f64(take(8)); }
  std::uint64_t u64() { return load_u64(take(8)); }
  unsigned u8() { return static_cast<unsigned>(*take(1)); }

  // A count of items of `item_size` bytes each that must still fit.
  std::size_t count(std::size_t item_size) {
    const std::uint64_t n = u64();
    if (n > left() / item_size) fail("a count of " + decimal(n) + " exceeds the data");
    return static_cast<std::size_t>(n);
  }
  void points(std::vector<gp::Pnt>& out, std::size_t n) {
    out.resize(n);
    if constexpr (HOST_IS_LITTLE_ENDIAN) {
      if (n) std::memcpy(out.data(), take(24 * n), 24 * n);
    } else {
      for (gp::Pnt& q : out) q = {f64(), f64(), f64()};
    }
  }
  void triangles(std::vector<mesh::Triangle>& out, std::size_t n, unsigned width) {
    out.resize(n);
    const std::byte* p = take(3 * width * n);
    switch (width) {
      case 1: load_indices<std::uint8_t>(out, p); break;
      case 2: load_indices<std::uint16_t>(out, p); break;
      case 4: load_indices<std::uint32_t>(out, p); break;
      default: load_indices<std::uint64_t>(out, p); break;
    }
  }
  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

 private:
  const std::byte* take(std::size_t n) {
    if (n > left()) fail("the body ends early");
    const std::byte* at = p_;
    p_ += n;
    return at;
  }
  const std::byte* p_;
  const std::byte* end_;
};

void read(Reader& r, gp::Pnt& p) { p = {r.f64(), r.f64(), r.f64()}; }
void read(Reader& r, gp::Ax1& a) {
  read(r, a.location);
  read(r, a.direction);
}
void read(Reader& r, gp::BBox& b) {
  read(r, b.min);
  read(r, b.max);
}
void read(Reader& r, topods::Vertex& v) { read(r, v.point); }
void read(Reader& r, gp::Trsf& t) {
  for (double* d : {&t.m00, &t.m01, &t.m02, &t.m10, &t.m11, &t.m12, &t.m20, &t.m21, &t.m22, &t.tx,
                    &t.ty, &t.tz}) {
    *d = r.f64();
  }
}
void read(Reader& r, brep_prim_api::MeshParams& mp) {
  mp.circle_segments = r.u64();
  mp.lat_segments = r.u64();
}
void read(Reader& r, topods::Wire& w) { r.points(w.points, r.count(24)); }
void read(Reader& r, topods::Face& f) {
  read(r, f.outer);
  // Each hole takes at least its 8-byte count.
  f.holes.resize(r.count(8));
  for (topods::Wire& h : f.holes) read(r, h);
}
void read(Reader& r, mesh::TriMesh& m) {
  const std::uint64_t nv = r.u64();
  const std::uint64_t nt = r.u64();
  const unsigned width = r.u8();
  if (!valid_index_width(width)) {
    fail("index width " + decimal(width) + " is not 1, 2, 4 or 8");
  }
  // Both lists must fit, checked without overflow before allocating either.
  if (nv > r.left() / 24 || nt > (r.left() - 24 * nv) / (3 * width)) {
    fail("mesh counts of " + decimal(nv) + " vertices and " + decimal(nt) +
         " triangles exceed the data");
  }
  r.points(m.vertices, static_cast<std::size_t>(nv));
  r.triangles(m.triangles, static_cast<std::size_t>(nt), width);
}
void read(Reader& r, topods::Solid& s) { read(r, s.mesh); }
void read(Reader& r, topods::Compound& c) {
  // Each solid takes at least its two 8-byte counts and its index width.
  c.solids.resize(r.count(17));
  for (topods::Solid& s : c.solids) read(r, s.mesh);
}

template <std::size_t I = 0>
Value read_tagged(std::uint8_t tag, Reader& r) {
  if constexpr (I < std::variant_size_v<Value>) {
    if (tag == I + 1) {
      std::variant_alternative_t<I, Value> v{};
      read(r, v);
      return v;
    }
    return read_tagged<I + 1>(tag, r);
  } else {
    fail("unknown record tag " + decimal(tag));
  }
}

}  // namespace

template <class T>
std::size_t encoded_size(const T& v) {
  Counter c;
  body(c, v);
  return HEADER_SIZE + c.n + CHECKSUM_SIZE;
}

template <class T>
void encode_into(const T& v, std::span<std::byte> out) {
  const std::size_t n = encoded_size(v);
  if (out.size() != n) throw gp::InternalFault("encode_into: output size does not match the value");
  std::byte* p = out.data();
  std::memcpy(p, MAGIC, 4);
  p[4] = std::byte{FORMAT_VERSION};
  p[5] = std::byte{tag_of<T>()};
  store_u64(p + 6, n);
  Writer w{p + HEADER_SIZE};
  body(w, v);
  store_u32(p + n - CHECKSUM_SIZE, crc32(out.first(n - CHECKSUM_SIZE)));
}

Value decode(std::span<const std::byte> data) {
  const std::size_t size = data.size();
  if (size < HEADER_SIZE + CHECKSUM_SIZE) {
    fail(decimal(size) + " bytes is too short for a serialised value (at least " +
         decimal(HEADER_SIZE + CHECKSUM_SIZE) + ")");
  }
  const std::byte* p = data.data();
  if (std::memcmp(p, MAGIC, 4) != 0) fail("the data does not start with the magic \"QVLD\"");
  const auto version = static_cast<unsigned>(p[4]);
  if (version != FORMAT_VERSION) {
    fail("format version " + decimal(version) + " is not readable by this build (it reads " +
         decimal(FORMAT_VERSION) + ")");
  }
  const std::uint64_t announced = load_u64(p + 6);
  if (announced != size) {
    fail("the header announces " + decimal(announced) + " bytes but there are " + decimal(size) +
         (announced > size ? " (truncated)" : " (trailing data)"));
  }
  if (load_u32(p + size - CHECKSUM_SIZE) != crc32(data.first(size - CHECKSUM_SIZE))) {
    fail("checksum mismatch (corrupted data)");
  }
  Reader r(p + HEADER_SIZE, p + size - CHECKSUM_SIZE);
  Value v = read_tagged(static_cast<std::uint8_t>(p[5]), r);
  if (r.left() != 0) fail(decimal(r.left()) + " bytes left after the record's body");
  return v;
}

// One instantiation per serialisable type.
#define QUORVALIND_SERIAL_TYPE(T)              \
  template std::size_t encoded_size(const T&); \
  template void encode_into(const T&, std::span<std::byte>);
QUORVALIND_SERIAL_TYPE(gp::Pnt)
QUORVALIND_SERIAL_TYPE(gp::Ax1)
QUORVALIND_SERIAL_TYPE(gp::Trsf)
QUORVALIND_SERIAL_TYPE(topods::Vertex)
QUORVALIND_SERIAL_TYPE(topods::Wire)
QUORVALIND_SERIAL_TYPE(topods::Face)
QUORVALIND_SERIAL_TYPE(topods::Compound)
QUORVALIND_SERIAL_TYPE(topods::Solid)
QUORVALIND_SERIAL_TYPE(mesh::TriMesh)
QUORVALIND_SERIAL_TYPE(gp::BBox)
QUORVALIND_SERIAL_TYPE(brep_prim_api::MeshParams)
#undef QUORVALIND_SERIAL_TYPE

}  // namespace quorvalind::serial
