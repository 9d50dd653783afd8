// The usual float token gathered with 16-byte vectors (the readers' sse4
// path of simd_path.hpp: SSSE3 and SSE4.1, x86-64 only):
//
//   digits [. digits]   at most 19 digits, at most 15 before the point,
//                       at least one digit, ended by ASCII whitespace or the
//                       line end
//
// (the sign is taken off before). One pass classifies up to 32 bytes at once
// (digits, the point, the byte that ends the run), the point is shifted out,
// and sixteen digits become one value by three multiply-adds; so neither the
// token's length nor the place of its point costs a branch. Anything else
// (exponents, more digits, words, invalid tokens, a line of fewer than 16
// bytes) is left to the portable scan.
#pragma once

#include "simd_path.hpp"  // AK_X86_PATHS, AK_TARGET_SSE4

#if AK_X86_PATHS
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/bytes.hpp"  // is_ascii_space

namespace ak::text::sse4 {

struct GatheredDigits {
  std::uint64_t m;   // the value of the digits, as an integer
  int exponent;      // the value is m * 10^exponent (-19 <= exponent <= 0)
  const char* end;   // the byte after the token
};

// Windows into these tables select the lanes from a count: loaded at
// 16 - k, kTailIndex moves the last k bytes of a load to the front (0x80
// lanes come out zero), kTailFill turns the other lanes into spaces,
// kFromLane selects the lanes from k on and kBelowLane those below k; loaded
// at k, kRightAlign moves the first k lanes to the end, zeros in front.
alignas(64) inline constexpr unsigned char kTailIndex[32] = {
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15,
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
alignas(64) inline constexpr unsigned char kTailFill[32] = {
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
alignas(64) inline constexpr unsigned char kFromLane[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
alignas(64) inline constexpr unsigned char kRightAlign[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0,    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,   11,   12,   13,   14,   15};
alignas(64) inline constexpr unsigned char kBelowLane[32] = {
    0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0};

[[gnu::always_inline]] AK_TARGET_SSE4 inline __m128i window(const unsigned char (&table)[32], int k) noexcept {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 - k));
}

// The 16 bytes at end - left for 1 <= left <= 15, spaces from `end` on; the
// 16 bytes before `end` may be loaded.
[[gnu::always_inline]] AK_TARGET_SSE4 inline __m128i tail16(const char* end, int left) noexcept {
  const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
  return _mm_or_si128(_mm_shuffle_epi8(last, window(kTailIndex, left)), window(kTailFill, left));
}

// One bit per digit byte.
[[gnu::always_inline]] AK_TARGET_SSE4 inline unsigned digit_bits(__m128i v) noexcept {
  const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d)));
}

// Value of the sixteen digit values (0..9) in the lanes of d, lane 0 most
// significant.
[[gnu::always_inline]] AK_TARGET_SSE4 inline std::uint64_t value16(__m128i d) noexcept {
  const __m128i pairs = _mm_maddubs_epi16(d, _mm_set1_epi16(0x010a));           // 10, 1
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));      // 100, 1
  const __m128i eights = _mm_madd_epi16(_mm_packus_epi32(fours, fours), _mm_set1_epi32(0x00012710));  // 10^4, 1
  const auto both = static_cast<std::uint64_t>(_mm_cvtsi128_si64(eights));
  return (both & 0xffffffff) * 100000000 + (both >> 32);
}

// Gathers the token at p (after its sign, so p may be `end`; bytes in
// [readable, end) may be loaded). False when the token is not of the shape above.
[[gnu::always_inline]] AK_TARGET_SSE4 inline bool gather(const char* p, const char* end, const char* readable,
                                                         GatheredDigits& out) noexcept {
  const std::ptrdiff_t avail = end - p;
  __m128i a, b;
  if (avail >= 32) [[likely]] {
    a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  } else {
    if (avail <= 0 || end - readable < 16) return false;
    const int left = static_cast<int>(avail);
    a = left >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)) : tail16(end, left);
    b = left > 16 ? tail16(end, left - 16) : _mm_set1_epi8(' ');
  }
  const unsigned digits = digit_bits(a) | digit_bits(b) << 16;
  const unsigned points = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_set1_epi8('.'))));
  const int k = std::countr_one(digits);  // digits before the first non-digit
  if (k > 15) return false;
  const unsigned point = (points >> k) & 1;
  // With a point, the digits after it.
  const int after = point != 0 ? std::countr_one(digits >> (k + 1)) : 0;
  const int n = k + after;
  const int length = n + static_cast<int>(point);
  if (n == 0 || n > 19) return false;
  const unsigned char stop = length < avail ? static_cast<unsigned char>(p[length]) : ' ';
  if (!is_ascii_space(stop)) return false;
  if (point != 0) {
    // Lanes from k on take the next byte up, which moves the point out.
    const __m128i shifted = _mm_alignr_epi8(b, a, 1);
    a = _mm_blendv_epi8(a, shifted, window(kFromLane, k));
    b = _mm_srli_si128(b, 1);
  }
  const __m128i zeros = _mm_set1_epi8('0');
  const __m128i da = _mm_sub_epi8(a, zeros);
  if (n <= 16) [[likely]] {
    // The digits moved to the last n lanes: m is their value, so that a
    // short fraction divides by a short power of ten.
    const __m128i aligned = _mm_shuffle_epi8(da, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRightAlign + n)));
    out = GatheredDigits{value16(aligned), -after, p + length};
    return true;
  }
  // Seventeen to nineteen digits: sixteen, then up to three zero-padded to three.
  const __m128i db = _mm_and_si128(_mm_sub_epi8(b, zeros), window(kBelowLane, n - 16));
  const auto three = static_cast<std::uint32_t>(_mm_cvtsi128_si32(db));
  const std::uint64_t m = value16(da) * 1000 + (three & 0xff) * 100 + ((three >> 8) & 0xff) * 10 + ((three >> 16) & 0xff);
  out = GatheredDigits{m, k - 19, p + length};
  return true;
}

}  // namespace ak::text::sse4

#endif
