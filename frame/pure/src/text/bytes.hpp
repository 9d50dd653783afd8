// What every scan of a line shares: which bytes separate tokens (ASCII
// whitespace: TAB, LF, FF, CR and SPACE; vertical tab, NUL and every
// non-ASCII byte belong to tokens), and eight bytes of text loaded as one
// word, the unit of the token and number scans.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace ak::text {

static_assert(std::endian::native == std::endian::little, "the word scans assume little-endian loads");

constexpr bool is_ascii_space(unsigned char c) noexcept {
  // One test of a bit set: TAB 0x09, LF 0x0A, FF 0x0C, CR 0x0D, SPACE 0x20.
  constexpr std::uint64_t kSet = (1ull << 0x09) | (1ull << 0x0A) | (1ull << 0x0C) | (1ull << 0x0D) | (1ull << 0x20);
  return c <= 0x20 && ((kSet >> c) & 1) != 0;
}

// The eight bytes at p; byte k of the text is bits 8k..8k+7.
inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace ak::text
