// Tokens of a line: maximal runs of bytes that are not ASCII whitespace (TAB,
// LF, FF, CR, SPACE). Vertical tab and every non-ASCII byte belong to tokens.
// Readers take tokens one at a time from the front, skip_space() to a token's
// start and token_end() (or a number scan) to its end; the rest of a line is
// never looked at.
//
// The scans go eight bytes per step: numeric columns are long runs of digits
// and padding, and a byte-at-a-time loop spends most of its time on the branch
// at every byte. Loads never leave [p, end).
#pragma once

#include <bit>
#include <cstdint>

#include "text/bytes.hpp"  // is_ascii_space, load8

namespace ak::text {

namespace detail {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ull;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// The general scans, for runs longer than eight bytes and separators other
// than a space.
inline const char* skip_space_slow(const char* p, const char* end) noexcept {
  for (;;) {
    while (end - p >= 8) {
      // Bytes that differ from ' ' become non-zero; find the first one.
      const std::uint64_t diff = load8(p) ^ (kOnes * ' ');
      if (diff != 0) {
        p += std::countr_zero(diff) / 8;
        break;
      }
      p += 8;
    }
    while (p != end && *p == ' ') ++p;
    if (p == end || !is_ascii_space(static_cast<unsigned char>(*p))) return p;
    ++p;  // a tab, line feed, form feed or carriage return
  }
}

// Flags the bytes of w below 0x21 (every separator is one); bytes of 0x80 and
// above are never flagged. Only the lowest flag is exact, which is the one used.
inline std::uint64_t low_bytes(std::uint64_t w) noexcept { return (w - kOnes * 0x21) & ~w & kHighs; }

inline const char* token_end_slow(const char* p, const char* end) noexcept {
  for (;;) {
    while (end - p >= 8) {
      const std::uint64_t low = low_bytes(load8(p));
      if (low != 0) {
        p += std::countr_zero(low) / 8;
        break;
      }
      p += 8;
    }
    // Byte-wise from the candidate (or through the last few bytes).
    while (p != end && static_cast<unsigned char>(*p) > 0x20) ++p;
    if (p == end || is_ascii_space(static_cast<unsigned char>(*p))) return p;
    ++p;  // NUL, vertical tab and other control bytes belong to the token
  }
}

}  // namespace detail

// The first byte at or after p that is not ASCII whitespace, or `end`. The
// usual gap, a few spaces before a token within the next eight bytes, takes
// one word and no loop.
inline const char* skip_space(const char* p, const char* end) noexcept {
  if (end - p >= 8) {
    const std::uint64_t diff = load8(p) ^ (detail::kOnes * ' ');
    if (diff != 0) {
      const char* q = p + std::countr_zero(diff) / 8;
      if (!is_ascii_space(static_cast<unsigned char>(*q))) return q;
    }
  }
  return detail::skip_space_slow(p, end);
}

// The first byte at or after p that is ASCII whitespace, or `end`. A token
// that ends within the next eight bytes takes one word and no loop.
inline const char* token_end(const char* p, const char* end) noexcept {
  if (end - p >= 8) {
    const std::uint64_t low = detail::low_bytes(load8(p));
    if (low != 0) {
      const char* q = p + std::countr_zero(low) / 8;
      if (is_ascii_space(static_cast<unsigned char>(*q))) return q;
    }
  }
  return detail::token_end_slow(p, end);
}

}  // namespace ak::text
