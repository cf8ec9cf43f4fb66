#include "serial/checksum.h"

#include <array>

namespace quorvalind::serial {

namespace {

// Slicing by eight: TABLES[k][b] is the CRC of byte b followed by k zero
// bytes, so eight input bytes are folded with eight lookups and no carried
// dependency between them.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t c = b;
    for (int i = 0; i < 8; ++i) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][b] = c;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t b = 0; b < 256; ++b) {
      const std::uint32_t prev = t[k - 1][b];
      t[k][b] = (prev >> 8) ^ t[0][prev & 0xFF];
    }
  }
  return t;
}

constexpr Tables TABLES = make_tables();

}  // namespace

std::uint32_t crc32(std::span<const std::byte> data) {
  std::uint32_t c = 0xFFFFFFFFu;
  const std::byte* p = data.data();
  std::size_t n = data.size();
  auto u = [](std::byte b) { return static_cast<std::uint32_t>(b); };
  while (n >= 8) {
    const std::uint32_t lo = c ^ (u(p[0]) | u(p[1]) << 8 | u(p[2]) << 16 | u(p[3]) << 24);
    c = TABLES[7][lo & 0xFF] ^ TABLES[6][(lo >> 8) & 0xFF] ^ TABLES[5][(lo >> 16) & 0xFF] ^
        TABLES[4][lo >> 24] ^ TABLES[3][u(p[4])] ^ TABLES[2][u(p[5])] ^ TABLES[1][u(p[6])] ^
        TABLES[0][u(p[7])];
    p += 8;
    n -= 8;
  }
  while (n--) c = (c >> 8) ^ TABLES[0][(c ^ u(*p++)) & 0xFF];
  return c ^ 0xFFFFFFFFu;
}

}  // namespace quorvalind::serial
