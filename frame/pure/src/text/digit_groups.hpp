// Decimal digits of integers for the number writers: pairs from a table,
// and whole groups of eight or sixteen digits with leading zeros, on each
// code path (simd_path.hpp). Every path writes the same bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd_path.hpp"
#include "text/pow10.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ak::text::digits {

using ak::text::kPow10;

// The path of code compiled without target attributes.
#if defined(__SSE2__)
inline constexpr SimdPath kBaselinePath = SimdPath::sse2;
#else
inline constexpr SimdPath kBaselinePath = SimdPath::portable;
#endif

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

// --- portable: pairs from the table ------------------------------------------

// Writes exactly eight digits of v < 10^8 at `at`, with leading zeros.
inline void put_eight_portable(char* at, std::uint32_t v) noexcept {
  const std::uint32_t hi = v / 10000, lo = v % 10000;
  put_pair(at, hi / 100);
  put_pair(at + 2, hi % 100);
  put_pair(at + 4, lo / 100);
  put_pair(at + 6, lo % 100);
}

#if defined(__SSE2__)
// --- sse2: sixteen-bit lanes -------------------------------------------------
//
// Digits of x < 10^4 from four 16-bit lanes holding 4x each: two
// multiply-highs per lane give x / 1000, x / 100, x / 10 and x
// (4x * 8389 >> 25, 4x * 5243 >> 21, 4x * 13108 >> 19, 4x * 32768 >> 17;
// exact for x < 10^4, checked for every value), that is the prefixes a, ab,
// abc, abcd, and each digit is its prefix minus ten times the one before.
// A number below 10^8 is split into abcd = v / 10000 and efgh first.

// abcd and efgh of each 64-bit lane's v < 10^8 (in its low 32 bits), times
// four, as the 16-bit lanes 0 and 1 of that lane (lanes 2 and 3 zero).
inline __m128i quarter_halves(__m128i v) noexcept {
  // abcd = v / 10000 (exact for every 32-bit v with this reciprocal).
  const __m128i abcd = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(static_cast<int>(0xd1b71759))), 45);
  const __m128i efgh = _mm_sub_epi32(v, _mm_mul_epu32(abcd, _mm_set1_epi32(10000)));
  return _mm_slli_epi64(_mm_or_si128(abcd, _mm_slli_epi64(efgh, 16)), 2);
}

// The digits of eight 16-bit lanes holding 4x, 4x, 4x, 4x, 4y, 4y, 4y, 4y.
inline __m128i quad_digits(__m128i spread) noexcept {
  // Per lane: 4x * m >> 16, then * 2^k >> 16 (k = 7, 11, 13, 15); 0x8000 as a 16-bit lane.
  constexpr short kHalfRange = static_cast<short>(0x8000);
  const __m128i scaled =
      _mm_mulhi_epu16(spread, _mm_setr_epi16(8389, 5243, 13108, kHalfRange, 8389, 5243, 13108, kHalfRange));
  const __m128i prefixes =
      _mm_mulhi_epu16(scaled, _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, kHalfRange, 1 << 7, 1 << 11, 1 << 13, kHalfRange));
  const __m128i tens = _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16);
  return _mm_sub_epi16(prefixes, tens);
}

// Lanes 0 and 1 (abcd, efgh) of halves, or lanes 4 and 5, each spread over four lanes.
inline __m128i spread_low(__m128i halves) noexcept {
  const __m128i pairs = _mm_unpacklo_epi16(halves, halves);
  return _mm_unpacklo_epi32(pairs, pairs);
}
inline __m128i spread_high(__m128i halves) noexcept {
  const __m128i pairs = _mm_unpackhi_epi16(halves, halves);
  return _mm_unpacklo_epi32(pairs, pairs);
}

inline void put_eight_sse2(char* at, std::uint32_t v) noexcept {
  const __m128i lanes = quad_digits(spread_low(quarter_halves(_mm_cvtsi32_si128(static_cast<int>(v)))));
  const __m128i text = _mm_add_epi8(_mm_packus_epi16(lanes, lanes), _mm_set1_epi8('0'));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(at), text);
}

// Sixteen digits: the two eight-digit halves share every step up to the spread.
inline void put_sixteen_sse2(char* at, std::uint32_t high, std::uint32_t low) noexcept {
  const __m128i halves = quarter_halves(_mm_set_epi64x(static_cast<long long>(low), static_cast<long long>(high)));
  const __m128i first = quad_digits(spread_low(halves)), second = quad_digits(spread_high(halves));
  const __m128i text = _mm_add_epi8(_mm_packus_epi16(first, second), _mm_set1_epi8('0'));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), text);
}
#endif

#if AK_X86_PATHS
// --- avx2: the sixteen lanes of both halves in one register ------------------

AK_TARGET_AVX2 inline void put_sixteen_avx2(char* at, std::uint32_t high, std::uint32_t low) noexcept {
  const __m128i halves = quarter_halves(_mm_set_epi64x(static_cast<long long>(low), static_cast<long long>(high)));
  // 128-bit lane 0 spreads the high half's abcd and efgh (16-bit lanes 0, 1),
  // lane 1 the low half's (lanes 4, 5), each over four lanes.
  const __m256i spread = _mm256_shuffle_epi8(
      _mm256_broadcastsi128_si256(halves),
      _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, 2, 3, 8, 9, 8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11,
                       10, 11));
  constexpr short kHalfRange = static_cast<short>(0x8000);
  const __m256i scaled = _mm256_mulhi_epu16(spread, _mm256_setr_epi16(8389, 5243, 13108, kHalfRange, 8389, 5243, 13108,
                                                                       kHalfRange, 8389, 5243, 13108, kHalfRange, 8389,
                                                                       5243, 13108, kHalfRange));
  const __m256i prefixes = _mm256_mulhi_epu16(
      scaled, _mm256_setr_epi16(1 << 7, 1 << 11, 1 << 13, kHalfRange, 1 << 7, 1 << 11, 1 << 13, kHalfRange, 1 << 7,
                                1 << 11, 1 << 13, kHalfRange, 1 << 7, 1 << 11, 1 << 13, kHalfRange));
  const __m256i tens = _mm256_slli_epi64(_mm256_mullo_epi16(prefixes, _mm256_set1_epi16(10)), 16);
  const __m256i lanes = _mm256_sub_epi16(prefixes, tens);
  // Bytes: the high half's digits in 64-bit lane 0, the low half's in lane 2.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lanes, lanes), 0x08);
  const __m128i text = _mm_add_epi8(_mm256_castsi256_si128(packed), _mm_set1_epi8('0'));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), text);
}

// --- avx512: one 52-bit multiply pair per eight digits -------------------------
//
// Lane j of v < 10^8 holds '0' + digit j (most significant first) in its low
// byte, the other bytes zero: the low 52 bits of v * ceil(2^52 / 10^(8-j))
// are the fraction of v / 10^(8-j) in 52-bit fixed point, and the high bits
// of ten times that fraction are the digit. Lane 0 takes the floor of its
// reciprocal and a small addend instead, which keeps it exact; checked for
// every v < 10^8.
// The constants live in memory: loaded or taken as memory operands, they
// cost less per field than being rebuilt from immediates, which is what the
// compiler does with set1 inside a loop.
struct IfmaConstants {
  alignas(64) std::uint64_t reciprocals[8];
  alignas(64) std::uint64_t addend[8];
  alignas(64) std::uint64_t zero_char[8];  // '0' in each lane
  alignas(64) std::uint64_t ten[8];
};
inline constexpr IfmaConstants kIfma = {
    {0x2af31dc, 0x1ad7f29b, 0x10c6f7a0c, 0xa7c5ac472, 0x68db8bac72, 0x4189374bc6b, 0x28f5c28f5c29, 0x199999999999a},
    {0x1a1a400, 0, 0, 0, 0, 0, 0, 0},
    {'0', '0', '0', '0', '0', '0', '0', '0'},
    {10, 10, 10, 10, 10, 10, 10, 10},
};

AK_TARGET_AVX512 inline __m512i eight_digit_lanes_ifma(std::uint64_t v) noexcept {
  const __m512i fractions = _mm512_madd52lo_epu64(_mm512_load_si512(kIfma.addend),
                                                  _mm512_set1_epi64(static_cast<long long>(v)),
                                                  _mm512_load_si512(kIfma.reciprocals));
  return _mm512_madd52hi_epu64(_mm512_load_si512(kIfma.zero_char), _mm512_load_si512(kIfma.ten), fractions);
}

// (The zero-masking conversions keep GCC 12's headers from warning about an
// undefined source register.)
AK_TARGET_AVX512 inline void put_eight_avx512(char* at, std::uint32_t v) noexcept {
  const __m128i text = _mm512_maskz_cvtepi64_epi8(0xff, eight_digit_lanes_ifma(v));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(at), text);
}

AK_TARGET_AVX512 inline void put_sixteen_avx512(char* at, std::uint32_t high, std::uint32_t low) noexcept {
  const __m128i text = _mm_unpacklo_epi64(_mm512_maskz_cvtepi64_epi8(0xff, eight_digit_lanes_ifma(high)),
                                          _mm512_maskz_cvtepi64_epi8(0xff, eight_digit_lanes_ifma(low)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), text);
}
#endif

// --- the groups on a given path ------------------------------------------------

// Writes exactly eight digits of v < 10^8 at `at`, with leading zeros.
template <SimdPath Path>
inline void put_eight_on(char* at, std::uint32_t v) noexcept {
#if AK_X86_PATHS
  if constexpr (Path == SimdPath::avx512) {
    put_eight_avx512(at, v);
    return;
  }
#endif
#if defined(__SSE2__)
  if constexpr (Path != SimdPath::portable) {
    put_eight_sse2(at, v);
    return;
  }
#endif
  put_eight_portable(at, v);
}

// Writes exactly sixteen digits of v < 10^16 at `at`, with leading zeros.
template <SimdPath Path>
inline void put_sixteen_on(char* at, std::uint64_t v) noexcept {
  const auto high = static_cast<std::uint32_t>(v / 100000000), low = static_cast<std::uint32_t>(v % 100000000);
#if AK_X86_PATHS
  if constexpr (Path == SimdPath::avx512) {
    put_sixteen_avx512(at, high, low);
    return;
  } else if constexpr (Path == SimdPath::avx2) {
    put_sixteen_avx2(at, high, low);
    return;
  }
#endif
#if defined(__SSE2__)
  if constexpr (Path != SimdPath::portable) {
    put_sixteen_sse2(at, high, low);
    return;
  }
#endif
  put_eight_portable(at, high);
  put_eight_portable(at + 8, low);
}

inline void put_eight(char* at, std::uint32_t v) noexcept { put_eight_on<kBaselinePath>(at, v); }
inline void put_sixteen(char* at, std::uint64_t v) noexcept { put_sixteen_on<kBaselinePath>(at, v); }

// Writes exactly n digits of v < 10^n so that they end just before `end`.
template <SimdPath Path = kBaselinePath>
inline void put_digits_exact(char* end, std::uint64_t v, unsigned n) noexcept {
  while (n >= 8) {
    end -= 8;
    put_eight_on<Path>(end, static_cast<std::uint32_t>(v % 100000000));
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

}  // namespace ak::text::digits
