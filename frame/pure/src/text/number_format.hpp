// Number fields for the text writers.
//
// Fixed float format: plain positional notation with exactly `precision`
// fraction digits (no point when it is 0). The digits are the exact binary
// value rounded to nearest, ties to even. A minus sign is written whenever
// the sign bit is set, so -0.0 and negatives that round to zero print as
// "-0.000...". NaN is "NaN", infinities "inf" and "-inf". Every field is
// right-aligned with spaces to `width` and written whole when longer.
//
// Integer field format: decimal digits, '-' for negatives, right-aligned with
// spaces to `width`, written whole when longer.
//
// The writers take a pointer with room for the longest possible field
// (fixed_max_len / int_max_len) and return the pointer past the last byte.
// They may use the whole room as scratch: bytes past the returned pointer
// are unspecified. For reserving a whole block up front, count each field
// at its usual length (the width, or sign + integer digits + point +
// precision when wider) and ask TextBuffer::ensure() for the maximum room
// per field; fixed_max_len is over 300 bytes at every precision.
//
// write_fixed comes in two forms with the same output: one taking width and
// precision at run time, and write_fixed<Width, Precision> for the fixed
// formats of the hot writers, inline, with the scale and the digit layout
// known to the compiler. The latter handles every value of moderate
// magnitude itself and hands the rest (large values, NaN, infinities) to the
// former.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "text/pow10.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ak::text {

// Longest text write_fixed can produce: the largest finite double has 309
// integer digits, plus sign, point and the fraction digits.
constexpr std::size_t fixed_max_len(unsigned width, unsigned precision) noexcept {
  const std::size_t longest = 1 + 309 + 1 + std::size_t{precision};
  return width > longest ? std::size_t{width} : longest;
}

char* write_fixed(char* dst, double value, unsigned width, unsigned precision) noexcept;

// Longest text write_int / write_uint can produce: "-9223372036854775808"
// and "18446744073709551615" both have 20 characters.
constexpr std::size_t int_max_len(unsigned width) noexcept {
  return width > 20 ? std::size_t{width} : std::size_t{20};
}

char* write_int(char* dst, std::int64_t value, unsigned width) noexcept;
char* write_uint(char* dst, std::uint64_t value, unsigned width) noexcept;

namespace digits {

using ak::text::kPow10;

struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
inline constexpr DigitPairs kPairs;



inline void put_pair(char* at, unsigned v) noexcept { std::memcpy(at, kPairs.text + 2 * v, 2); }

// Number of decimal digits of v (1 for 0).
inline unsigned decimal_length(std::uint64_t v) noexcept {
  v |= 1;  // same length, and keeps 0 at one digit
  const unsigned bits = 64u - static_cast<unsigned>(std::countl_zero(v));
  const unsigned guess = (bits * 1233) >> 12;  // floor(bits * log10(2))
  return guess + 1 - (v < kPow10[guess]);
}

// Writes the digits of v so that they end just before `end`.
inline void put_digits(char* end, std::uint64_t v) noexcept {
  while (v >= 100) {
    const unsigned r = static_cast<unsigned>(v % 100);
    v /= 100;
    end -= 2;
    put_pair(end, r);
  }
  if (v >= 10) {
    put_pair(end - 2, static_cast<unsigned>(v));
  } else {
    end[-1] = static_cast<char>('0' + v);
  }
}

#if defined(__SSE2__)
// Eight digits of v < 10^8 as eight 16-bit lanes, first digit in lane 0.
// The two halves of four digits, x = abcd and efgh, are spread over four
// lanes each as 4x; two multiply-highs per lane then give x / 1000, x / 100,
// x / 10 and x (4x * 8389 >> 25, 4x * 5243 >> 21, 4x * 13108 >> 19,
// 4x * 32768 >> 17; exact for x < 10^4, checked for every v), that is the
// prefixes a, ab, abc, abcd, and each digit is its prefix minus ten times
// the one before.
inline __m128i eight_digit_lanes(std::uint32_t v) noexcept {
  const __m128i whole = _mm_cvtsi32_si128(static_cast<int>(v));
  // abcd = v / 10000 (exact for every 32-bit v with this reciprocal), efgh the rest.
  const __m128i abcd = _mm_srli_epi64(_mm_mul_epu32(whole, _mm_set1_epi32(static_cast<int>(0xd1b71759))), 45);
  const __m128i efgh = _mm_sub_epi32(whole, _mm_mul_epu32(abcd, _mm_set1_epi32(10000)));
  const __m128i halves = _mm_slli_epi64(_mm_unpacklo_epi16(abcd, efgh), 2);
  const __m128i spread = _mm_unpacklo_epi32(_mm_unpacklo_epi16(halves, halves), _mm_unpacklo_epi16(halves, halves));
  // Per lane: 4x * m >> 16, then * 2^k >> 16 (k = 7, 11, 13, 15); 0x8000 as a 16-bit lane.
  constexpr short kHalfRange = static_cast<short>(0x8000);
  const __m128i scaled =
      _mm_mulhi_epu16(spread, _mm_setr_epi16(8389, 5243, 13108, kHalfRange, 8389, 5243, 13108, kHalfRange));
  const __m128i prefixes =
      _mm_mulhi_epu16(scaled, _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, kHalfRange, 1 << 7, 1 << 11, 1 << 13, kHalfRange));
  const __m128i tens = _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16);
  return _mm_sub_epi16(prefixes, tens);
}

// Writes exactly eight digits of v < 10^8 at `at`, with leading zeros.
inline void put_eight(char* at, std::uint32_t v) noexcept {
  const __m128i lanes = eight_digit_lanes(v);
  const __m128i text = _mm_add_epi8(_mm_packus_epi16(lanes, lanes), _mm_set1_epi8('0'));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(at), text);
}

// Writes exactly sixteen digits of v < 10^16 at `at`, with leading zeros.
inline void put_sixteen(char* at, std::uint64_t v) noexcept {
  const __m128i high = eight_digit_lanes(static_cast<std::uint32_t>(v / 100000000));
  const __m128i low = eight_digit_lanes(static_cast<std::uint32_t>(v % 100000000));
  const __m128i text = _mm_add_epi8(_mm_packus_epi16(high, low), _mm_set1_epi8('0'));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), text);
}
#else
// Writes exactly eight digits of v < 10^8 at `at`, with leading zeros.
inline void put_eight(char* at, std::uint32_t v) noexcept {
  const std::uint32_t hi = v / 10000, lo = v % 10000;
  put_pair(at, hi / 100);
  put_pair(at + 2, hi % 100);
  put_pair(at + 4, lo / 100);
  put_pair(at + 6, lo % 100);
}

// Writes exactly sixteen digits of v < 10^16 at `at`, with leading zeros.
inline void put_sixteen(char* at, std::uint64_t v) noexcept {
  put_eight(at, static_cast<std::uint32_t>(v / 100000000));
  put_eight(at + 8, static_cast<std::uint32_t>(v % 100000000));
}
#endif

// Writes exactly n digits of v < 10^n so that they end just before `end`.
inline void put_digits_exact(char* end, std::uint64_t v, unsigned n) noexcept {
  while (n >= 8) {
    end -= 8;
    put_eight(end, static_cast<std::uint32_t>(v % 100000000));
    v /= 100000000;
    n -= 8;
  }
  auto w = static_cast<std::uint32_t>(v);
  while (n >= 2) {
    end -= 2;
    put_pair(end, w % 100);
    w /= 100;
    n -= 2;
  }
  if (n != 0) end[-1] = static_cast<char>('0' + w);
}

}  // namespace digits

namespace detail {

// Lays out a fixed field ending at `end`: the leading spaces first
// (overwritten when the number is wider), then fraction, point, integer
// digits and sign.
template <unsigned Width, unsigned Precision>
inline void lay_out_fixed(char* dst, char* end, bool negative, std::uint64_t int_part, unsigned int_len,
                          std::uint64_t frac) noexcept {
  constexpr unsigned kLead = Width > Precision + 1 ? Width - Precision - 1 : 0;
  if constexpr (kLead != 0) std::memset(dst, ' ', kLead);

  char* const point = end - Precision - 1;
  if constexpr (Precision >= 15) {
    digits::put_sixteen(end - 16, frac);  // at Precision 15 its first '0' lands on the point
  } else if constexpr (Precision >= 8) {
    digits::put_eight(end - 8, static_cast<std::uint32_t>(frac % 100000000));
    if constexpr (Precision > 8) digits::put_digits_exact(end - 8, frac / 100000000, Precision - 8);
  } else {
    digits::put_digits_exact(end, frac, Precision);
  }
  *point = '.';

  char* const int_begin = point - int_len;
  *(int_begin - negative) = '-';  // for non-negatives, overwritten by the first digit
  if (int_part < 100) {
    const auto v = static_cast<unsigned>(int_part);
    int_begin[0] = digits::kPairs.text[2 * v + (v < 10)];  // single digit: its own character
    point[-1] = digits::kPairs.text[2 * v + 1];
  } else {
    digits::put_digits(point, int_part);
  }
}

}  // namespace detail

// write_fixed(dst, value, Width, Precision), inline for one fixed format.
// The room asked of the caller is the same: fixed_max_len(Width, Precision).
template <unsigned Width, unsigned Precision>
inline char* write_fixed(char* dst, double value) noexcept {
  static_assert(Precision >= 1 && Precision <= 16, "fraction digits must fit two 8-digit groups");
  using u128 = unsigned __int128;
  constexpr std::uint64_t kScale = digits::kPow10[Precision];
  // Below 2^kLimit in magnitude, value * 10^Precision (rounded) fits 64 bits
  // and the value has fraction bits (a shift of at least 1 below).
  constexpr unsigned kFit = 64u - static_cast<unsigned>(std::bit_width(kScale));
  constexpr unsigned kLimit = kFit < 52u ? kFit : 52u;

  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<unsigned>(bits >> 52) & 0x7ffu;
  if (biased >= 1023 + kLimit) [[unlikely]] {
    return write_fixed(dst, value, Width, Precision);  // also NaN and infinities
  }
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t mant = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{biased != 0} << 52);

  // |value| = mant / 2^shift with shift >= 1075 - (1023 + kLimit) >= 1. Past
  // 127 the whole scaled value lies below half a unit of the last digit
  // (mant * 10^Precision < 2^107), which a shift of 127 decides the same way.
  unsigned shift = 1075u - (biased != 0 ? biased : 1u);
  shift = shift < 127u ? shift : 127u;

  // All digits as one integer: round(|value| * 10^Precision), ties to even.
  const u128 scaled = static_cast<u128>(mant) * kScale;
  std::uint64_t all = static_cast<std::uint64_t>(scaled >> shift);
  const u128 dropped = scaled << (128u - shift);  // the bits shifted out, top-aligned
  constexpr u128 kHalf = u128{1} << 127;
  all += (dropped > kHalf) | ((dropped == kHalf) & ((all & 1) != 0));
  const std::uint64_t int_part = all / kScale;
  const std::uint64_t frac = all - int_part * kScale;

  // The usual field fills exactly Width columns. Its end is then known
  // without waiting for the digits, so successive fields do not queue on
  // each other; a wider number takes the other branch.
  const bool small = int_part < 100;
  const unsigned int_len = small ? 1u + (int_part >= 10) : digits::decimal_length(int_part);
  const std::size_t len = std::size_t{negative} + int_len + 1 + Precision;
  if (len <= Width) [[likely]] {
    detail::lay_out_fixed<Width, Precision>(dst, dst + Width, negative, int_part, int_len, frac);
    return dst + Width;
  }
  detail::lay_out_fixed<Width, Precision>(dst, dst + len, negative, int_part, int_len, frac);
  return dst + len;
}

// write_int(dst, value, Width), inline for one fixed width; the room asked
// of the caller is the same: int_max_len(Width). Values wider than the field
// take the general form.
template <unsigned Width>
inline char* write_int(char* dst, std::int64_t value) noexcept {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const unsigned len = digits::decimal_length(magnitude) + negative;
  if (len > Width) [[unlikely]] return write_int(dst, value, Width);
  std::memset(dst, ' ', Width);
  digits::put_digits(dst + Width, magnitude);
  // Signs are mixed in real data: the character in front of the digits
  // becomes '-' or stays what it is, without a branch.
  char* const first = dst + (Width - len);
  *first = negative ? '-' : *first;
  return dst + Width;
}

}  // namespace ak::text
