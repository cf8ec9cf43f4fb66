#pragma once
// CRC-32 (the zlib / PNG polynomial 0xEDB88320, reflected, initial and final
// value 0xFFFFFFFF): catches every error burst of up to 32 bits, so any one
// changed byte of a serialised value, and misses a random corruption with
// odds of 1 in 2^32.
#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvalind::serial {

std::uint32_t crc32(std::span<const std::byte> data);

}  // namespace quorvalind::serial
