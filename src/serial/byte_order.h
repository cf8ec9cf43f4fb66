#pragma once
// Little-endian loads and stores of 64-bit words, 8-byte doubles and 32-bit
// words at any alignment: every serialised form of the core is little-endian
// whatever the host, and on a little-endian host a whole array of doubles or
// indices is copied in one memcpy.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quorvalind::serial {

static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8,
              "serialised doubles are IEEE 754 binary64");

inline constexpr bool HOST_IS_LITTLE_ENDIAN = std::endian::native == std::endian::little;

inline std::uint64_t byteswap64(std::uint64_t v) {
  v = ((v & 0x00FF00FF00FF00FFull) << 8) | ((v >> 8) & 0x00FF00FF00FF00FFull);
  v = ((v & 0x0000FFFF0000FFFFull) << 16) | ((v >> 16) & 0x0000FFFF0000FFFFull);
  return (v << 32) | (v >> 32);
}

inline void store_u64(std::byte* out, std::uint64_t v) {
  if constexpr (!HOST_IS_LITTLE_ENDIAN) v = byteswap64(v);
  std::memcpy(out, &v, 8);
}

inline std::uint64_t load_u64(const std::byte* in) {
  std::uint64_t v;
  std::memcpy(&v, in, 8);
  if constexpr (!HOST_IS_LITTLE_ENDIAN) v = byteswap64(v);
  return v;
}

// Doubles travel as their bit patterns, so NaN payloads and -0.0 survive.
inline void store_f64(std::byte* out, double d) { store_u64(out, std::bit_cast<std::uint64_t>(d)); }
inline double load_f64(const std::byte* in) { return std::bit_cast<double>(load_u64(in)); }

inline void store_u32(std::byte* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::byte>(v >> (8 * i));
}

inline std::uint32_t load_u32(const std::byte* in) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(in[i]) << (8 * i);
  return v;
}

// n 64-bit words (doubles or unsigned integers) between a native array and
// little-endian bytes.
template <class Word>
void store_words(std::byte* out, const Word* words, std::size_t n) {
  static_assert(sizeof(Word) == 8);
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    if (n) std::memcpy(out, words, n * 8);
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      store_u64(out + 8 * i, std::bit_cast<std::uint64_t>(words[i]));
    }
  }
}

template <class Word>
void load_words(Word* words, const std::byte* in, std::size_t n) {
  static_assert(sizeof(Word) == 8);
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    if (n) std::memcpy(words, in, n * 8);
  } else {
    for (std::size_t i = 0; i < n; ++i) words[i] = std::bit_cast<Word>(load_u64(in + 8 * i));
  }
}

}  // namespace quorvalind::serial
