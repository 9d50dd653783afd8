// Word-at-a-time pieces of the number scans: eight text bytes per load (and
// fewer at the end of a line), the digit test and the digit value of eight
// bytes at once. A token ends at ASCII whitespace (text/bytes.hpp).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/bytes.hpp"  // load8

namespace ak::text::words {

inline constexpr std::uint64_t kSpaces = 0x2020202020202020ull;
inline constexpr std::uint64_t kZeros = 0x3030303030303030ull;

inline bool is_digit(char c) noexcept {
  return static_cast<unsigned char>(static_cast<unsigned char>(c) - '0') < 10;
}

// The eight bytes at end - left when only `left` (fewer than eight,
// possibly none or negative: past `end`) are left before `end`; those at or
// past `end` read as spaces, which end any token. Bytes from `readable` on
// may be loaded.
[[gnu::always_inline]] inline std::uint64_t fetch_tail(std::ptrdiff_t left, const char* end,
                                                       const char* readable) noexcept {
  if (left <= 0) return kSpaces;
  const auto n = static_cast<unsigned>(left);  // 1..7
  if (end - readable >= 8) [[likely]] {
    // The eight bytes ending at `end`, moved down so that the wanted ones come first.
    return (load8(end - 8) >> (64 - 8 * n)) | (kSpaces << (8 * n));
  }
  // A line of fewer than eight bytes: two overlapping loads, or single bytes.
  const char* const p = end - n;
  std::uint64_t w;
  if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, p + n - 4, 4);
    w = head | (std::uint64_t{tail} << (8 * (n - 4)));
  } else {
    w = static_cast<unsigned char>(p[0]) |
        (std::uint64_t{static_cast<unsigned char>(p[n / 2])} << (8 * (n / 2))) |
        (std::uint64_t{static_cast<unsigned char>(p[n - 1])} << (8 * (n - 1)));
  }
  return w | (kSpaces << (8 * n));
}

// The eight bytes at p (p <= end), spaces from `end` on.
[[gnu::always_inline]] inline std::uint64_t fetch(const char* p, const char* end, const char* readable) noexcept {
  const std::ptrdiff_t left = end - p;
  if (left >= 8) [[likely]] return load8(p);
  return fetch_tail(left, end, readable);
}

// The eight bytes `offset` bytes after p, where `avail` = end - p; no
// pointer past `end` is formed.
[[gnu::always_inline]] inline std::uint64_t fetch_at(const char* p, std::ptrdiff_t offset, std::ptrdiff_t avail,
                                                     const char* end, const char* readable) noexcept {
  if (avail - offset >= 8) [[likely]] return load8(p + offset);
  return fetch_tail(avail - offset, end, readable);
}

// High bit of the first byte of v that is not an ASCII digit; zero when all
// eight are digits. Bytes above the first non-digit may be flagged or not
// (carries from it run upwards): only the lowest flag counts.
inline std::uint64_t non_digit_bytes(std::uint64_t v) noexcept {
  // A digit byte neither reaches 0x80 by adding 0x46 nor borrows by
  // subtracting 0x30; every other byte does one of the two, or has its top
  // bit set after the subtraction.
  return ((v + 0x4646464646464646ull) | (v - 0x3030303030303030ull)) & 0x8080808080808080ull;
}

// Value of the eight digit values (0..9) in the bytes of d, byte 0 most
// significant.
inline std::uint64_t digit_value8(std::uint64_t d) noexcept {
  // Byte 2i becomes 10*d(2i) + d(2i+1) (a two-digit value below 100).
  d = d * 10 + (d >> 8);
  // Combine the four two-digit values: (p0*100 + p1) * 10^4 + (p2*100 + p3).
  const std::uint64_t even = d & 0x000000ff000000ffull;         // p0 and p2
  const std::uint64_t odd = (d >> 16) & 0x000000ff000000ffull;  // p1 and p3
  return static_cast<std::uint32_t>((even * (100 + (1000000ull << 32)) + odd * (1 + (10000ull << 32))) >> 32);
}

// Value of the sixteen digit values in the bytes of d0 (most significant
// first) and then d1: digit_value8(d0) * 10^8 + digit_value8(d1).
inline std::uint64_t digit_value16(std::uint64_t d0, std::uint64_t d1) noexcept {
#if defined(__SSE2__)
  // Digit pairs, then groups of four, then of eight, by multiply-adds of
  // 16-bit lanes; every intermediate fits its lane.
  const __m128i v = _mm_unpacklo_epi64(_mm_cvtsi64_si128(static_cast<long long>(d0)),
                                       _mm_cvtsi64_si128(static_cast<long long>(d1)));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ten_one = _mm_set1_epi32(0x0001000a);  // 16-bit lanes 10, 1
  const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(v, zero), ten_one),
                                        _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), ten_one));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));  // 100, 1
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));  // 10000, 1
  const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  return (both & 0xffffffff) * 100000000 + (both >> 32);
#else
  return digit_value8(d0) * 100000000 + digit_value8(d1);
#endif
}

// Value of the eight ASCII digits in v, first character most significant.
inline std::uint64_t eight_digits(std::uint64_t v) noexcept { return digit_value8(v - kZeros); }

// All-ones in the bytes below the lowest flagged byte of `flags` (a result
// of non_digit_bytes), all-ones throughout when none is flagged.
inline std::uint64_t below_first_flag(std::uint64_t flags) noexcept {
  return ((flags & (0 - flags)) >> 7) - 1;
}

// The first n8 / 8 bytes of w (all digits, n8 a multiple of 8 below 64)
// moved to the end of a group with '0' in front of them, so that
// eight_digits gives their value. Two shifts, so that n8 = 0 shifts w out.
inline std::uint64_t leading_group(std::uint64_t w, unsigned n8) noexcept {
  return ((w << (56 - n8)) << 8) | (kZeros >> n8);
}

}  // namespace ak::text::words
