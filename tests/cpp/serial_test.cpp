#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "gp/fault.h"
#include "serial/buffers.h"
#include "serial/byte_order.h"
#include "serial/checksum.h"
#include "serial/codec.h"

using namespace quorvalind;
using serial::DecodeError;

namespace {

const double kNaN = std::bit_cast<double>(0x7FF8DEADBEEF0001ull);  // a payload to keep
const double kInf = std::numeric_limits<double>::infinity();
const double kTiny = std::numeric_limits<double>::denorm_min();

std::span<const std::byte> bytes_of(const std::string& s) {
  return std::as_bytes(std::span<const char>(s.data(), s.size()));
}

// Bitwise CRC-32, one bit at a time: the reference for the sliced version.
std::uint32_t crc32_bitwise(std::span<const std::byte> data) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::byte b : data) {
    c ^= static_cast<std::uint32_t>(b);
    for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const gp::Pnt& a, const gp::Pnt& b) {
  return same_bits(a.x, b.x) && same_bits(a.y, b.y) && same_bits(a.z, b.z);
}

bool same(const std::vector<gp::Pnt>& a, const std::vector<gp::Pnt>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same(a[i], b[i])) return false;
  }
  return true;
}

bool same(const mesh::TriMesh& a, const mesh::TriMesh& b) {
  return same(a.vertices, b.vertices) && a.triangles == b.triangles;
}

mesh::TriMesh odd_mesh() {
  mesh::TriMesh m;
  m.vertices = {{0, -0.0, kNaN}, {kInf, -kInf, kTiny}, {1e308, -1e-308, 0.1}};
  // An index past the vertex list survives as it is: it faults later, not here.
  m.triangles = {{0, 1, 2}, {2, 1, 7}, {~0ull, 0, 1}};
  return m;
}

topods::Face holed_face() {
  topods::Face f;
  f.outer.points = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
  f.holes.push_back({{{1, 1, 0}, {2, 1, 0}, {2, 2, kNaN}}});
  f.holes.push_back({});
  return f;
}

topods::Compound compound() {
  topods::Compound c;
  c.solids.push_back({odd_mesh()});
  c.solids.push_back({});
  c.solids.push_back({odd_mesh()});
  return c;
}

template <class T>
T round_trip(const T& v) {
  const std::vector<std::byte> data = serial::encode(v);
  EXPECT_EQ(data.size(), serial::encoded_size(v));
  serial::Value back = serial::decode(data);
  EXPECT_TRUE(std::holds_alternative<T>(back));
  return std::get<T>(std::move(back));
}

std::string decode_error(std::span<const std::byte> data) {
  try {
    serial::decode(data);
  } catch (const DecodeError& e) {
    return e.what();
  }
  return "no error";
}

// Rewrites the trailing checksum so that a deliberately edited record gets
// past it and reaches the body checks.
void reseal(std::vector<std::byte>& data) {
  const std::uint32_t c = serial::crc32(std::span(data).first(data.size() - 4));
  for (int i = 0; i < 4; ++i) data[data.size() - 4 + i] = static_cast<std::byte>(c >> (8 * i));
}

}  // namespace

TEST(Crc32, CheckValueAndSlicingMatchBitwise) {
  EXPECT_EQ(serial::crc32(bytes_of("123456789")), 0xCBF43926u);
  EXPECT_EQ(serial::crc32({}), 0u);
  std::string s;
  for (int n = 0; n < 40; ++n) {
    EXPECT_EQ(serial::crc32(bytes_of(s)), crc32_bitwise(bytes_of(s))) << n;
    s += static_cast<char>(n * 37 + 11);
  }
}

TEST(Codec, PntLayoutIsFixed) {
  const std::vector<std::byte> data = serial::encode(gp::Pnt{1.0, -2.0, 0.5});
  ASSERT_EQ(data.size(), 14u + 24u + 4u);
  EXPECT_EQ(std::memcmp(data.data(), "QVLD\x01\x01", 6), 0);
  EXPECT_EQ(data[6], std::byte{42});  // total length, little-endian
  double y;
  std::memcpy(&y, data.data() + 14 + 8, 8);
  EXPECT_EQ(y, -2.0);
  EXPECT_EQ(serial::crc32(std::span(data).first(38)),
            static_cast<std::uint32_t>(data[38]) | static_cast<std::uint32_t>(data[39]) << 8 |
                static_cast<std::uint32_t>(data[40]) << 16 |
                static_cast<std::uint32_t>(data[41]) << 24);
}

TEST(Codec, EveryRecordRoundTripsToTheBit) {
  EXPECT_TRUE(same(round_trip(gp::Pnt{kNaN, -0.0, kTiny}), gp::Pnt{kNaN, -0.0, kTiny}));
  EXPECT_TRUE(same(round_trip(topods::Vertex{{kInf, 1, 2}}).point, gp::Pnt{kInf, 1, 2}));
  const gp::Ax1 ax{{1, 2, 3}, {kNaN, 0, -0.0}};
  const gp::Ax1 ax2 = round_trip(ax);
  EXPECT_TRUE(same(ax2.location, ax.location) && same(ax2.direction, ax.direction));
  const gp::BBox box{{-1, -2, -3}, {kInf, 5, kNaN}};
  const gp::BBox box2 = round_trip(box);
  EXPECT_TRUE(same(box2.min, box.min) && same(box2.max, box.max));

  gp::Trsf t;
  double* fields[] = {&t.m00, &t.m01, &t.m02, &t.m10, &t.m11, &t.m12,
                      &t.m20, &t.m21, &t.m22, &t.tx,  &t.ty,  &t.tz};
  for (int i = 0; i < 12; ++i) *fields[i] = i == 5 ? kNaN : 0.1 * i - 0.3;
  const gp::Trsf t2 = round_trip(t);
  EXPECT_EQ(std::memcmp(&t, &t2, sizeof t), 0);

  const brep_prim_api::MeshParams mp{~0ull, 3};
  const brep_prim_api::MeshParams mp2 = round_trip(mp);
  EXPECT_EQ(mp2.circle_segments, ~0ull);
  EXPECT_EQ(mp2.lat_segments, 3u);

  EXPECT_TRUE(same(round_trip(odd_mesh()), odd_mesh()));
  EXPECT_TRUE(same(round_trip(topods::Solid{odd_mesh()}).mesh, odd_mesh()));
  EXPECT_TRUE(round_trip(mesh::TriMesh{}).vertices.empty());

  const topods::Face f = round_trip(holed_face());
  ASSERT_EQ(f.holes.size(), 2u);
  EXPECT_TRUE(same(f.outer.points, holed_face().outer.points));
  EXPECT_TRUE(same(f.holes[0].points, holed_face().holes[0].points));
  EXPECT_TRUE(f.holes[1].points.empty());

  const topods::Compound c = round_trip(compound());
  ASSERT_EQ(c.solids.size(), 3u);
  EXPECT_TRUE(same(c.solids[0].mesh, odd_mesh()) && same(c.solids[2].mesh, odd_mesh()));
  EXPECT_TRUE(c.solids[1].mesh.vertices.empty() && c.solids[1].mesh.triangles.empty());
}

TEST(Codec, IndicesTakeTheNarrowestWidthThatHoldsThem) {
  struct Case {
    std::uint64_t top;
    std::size_t width;
  };
  for (Case c : {Case{0, 1}, Case{255, 1}, Case{256, 2}, Case{65535, 2}, Case{65536, 4},
                 Case{0xFFFFFFFFull, 4}, Case{0x100000000ull, 8}, Case{~0ull, 8}}) {
    mesh::TriMesh m;
    m.vertices = {{1, 2, 3}};
    m.triangles = {{0, c.top, 1}, {c.top, c.top / 2, 0}};
    EXPECT_EQ(serial::encoded_size(m), 14u + 17u + 24u + 2 * 3 * c.width + 4u) << c.top;
    EXPECT_TRUE(same(round_trip(m), m)) << c.top;
  }
}

TEST(Codec, EveryTruncationAndEveryExtensionIsRefused) {
  const std::vector<std::byte> data = serial::encode(compound());
  for (std::size_t n = 0; n < data.size(); ++n) {
    EXPECT_THROW(serial::decode(std::span(data).first(n)), DecodeError) << n;
  }
  std::vector<std::byte> longer = data;
  longer.push_back(std::byte{0});
  EXPECT_NE(decode_error(longer).find("trailing data"), std::string::npos);
  EXPECT_NE(decode_error(std::span(data).first(data.size() - 1)).find("truncated"),
            std::string::npos);
}

TEST(Codec, EveryChangedByteIsRefused) {
  const std::vector<std::byte> data = serial::encode(holed_face());
  for (std::size_t i = 0; i < data.size(); ++i) {
    for (unsigned flip : {0x01u, 0x80u, 0xFFu}) {
      std::vector<std::byte> bad = data;
      bad[i] ^= static_cast<std::byte>(flip);
      EXPECT_THROW(serial::decode(bad), DecodeError) << "byte " << i << " ^ " << flip;
    }
  }
}

TEST(Codec, SealedRecordsWithLyingCountsAreRefusedWithoutAllocating) {
  // A mesh record whose counts claim far more than the data holds, each
  // with a valid checksum: refused before any list is sized.
  std::vector<std::byte> data = serial::encode(odd_mesh());
  for (std::uint64_t nv : {4ull, 1ull << 60, ~0ull}) {
    std::vector<std::byte> bad = data;
    serial::store_u64(bad.data() + 14, nv);
    reseal(bad);
    EXPECT_NE(decode_error(bad).find("exceed the data"), std::string::npos) << nv;
  }
  std::vector<std::byte> bad = data;
  serial::store_u64(bad.data() + 14 + 8, ~0ull / 24 + 1);  // 24 * n wraps to a small number
  reseal(bad);
  EXPECT_NE(decode_error(bad).find("exceed the data"), std::string::npos);

  // Fewer vertices than recorded leaves bytes over after the body.
  bad = data;
  serial::store_u64(bad.data() + 14, 2);
  reseal(bad);
  EXPECT_NE(decode_error(bad).find("left after the record's body"), std::string::npos);

  bad = data;
  bad[14 + 16] = std::byte{3};  // the index width
  reseal(bad);
  EXPECT_NE(decode_error(bad).find("index width 3 is not 1, 2, 4 or 8"), std::string::npos);

  std::vector<std::byte> face = serial::encode(holed_face());
  serial::store_u64(face.data() + 14, ~0ull);
  reseal(face);
  EXPECT_NE(decode_error(face).find("exceeds the data"), std::string::npos);
}

TEST(Buffers, ArraysRoundTripAndLayout) {
  const mesh::TriMesh m = odd_mesh();
  std::vector<std::byte> v(24 * m.vertices.size()), t(24 * m.triangles.size());
  serial::write_vertex_array(m, v);
  serial::write_triangle_array(m, t);
  EXPECT_EQ(serial::load_u64(t.data() + 8 * 5), 7u);
  EXPECT_TRUE(same_bits(serial::load_f64(v.data() + 8 * 2), kNaN));
  EXPECT_TRUE(same(serial::mesh_from_arrays(v, t), m));
  EXPECT_TRUE(serial::mesh_from_arrays({}, {}).vertices.empty());
  EXPECT_THROW(serial::mesh_from_arrays(std::span(v).first(23), t), gp::InternalFault);
  EXPECT_THROW(serial::mesh_from_arrays(v, std::span(t).first(25)), gp::InternalFault);
  EXPECT_THROW(serial::write_vertex_array(m, std::span(v).first(24)), gp::InternalFault);
}
