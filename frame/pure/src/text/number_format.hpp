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
// precision at run time, and write_fixed<Width, Precision, Path> for the
// fixed formats of the hot writers, inline, with the scale and the digit
// layout known to the compiler and the digits made on one code path
// (simd_path.hpp). The latter handles every value of moderate magnitude
// itself and hands the rest (large values, NaN, infinities) to the former.
// write_int<Width, Path> is the inline form of write_int.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "simd_path.hpp"
#include "text/digit_groups.hpp"
#include "text/pow10.hpp"

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

namespace detail {

// The inline range of a fixed format with Precision fraction digits: below
// 2^kLimit in magnitude, twice |value| * 10^Precision fits 64 bits. It ends
// at 2^52 at the latest: larger doubles are integers, left to the run-time
// form.
template <unsigned Precision>
struct FixedRange {
  static constexpr std::uint64_t kScale = digits::kPow10[Precision];
  static constexpr unsigned kFit = 63u - static_cast<unsigned>(std::bit_width(kScale));
  static constexpr unsigned kLimit = kFit < 52u ? kFit : 52u;
  // Whether the value with these bits lies in the inline range.
  static bool holds(std::uint64_t bits) noexcept { return ((bits >> 52) & 0x7ffu) < 1023 + kLimit; }
};

// round(|value| * 10^Precision), ties to even, for a value in the inline
// range, given by its bits: all its digits as one integer.
//
// The significand is taken top-aligned in 64 bits (implicit bit 63), so
// |value| = mant / 2^(shift) with shift = 1086 - biased exponent. One bit
// less than that shift leaves twice the truncated result plus the bit just
// below it (the half), which rounds up. The bits under the half are all zero
// (a tie, rounded to even instead) exactly when the product has `below`
// trailing zeros, and mant * 10^Precision has those of mant plus Precision:
// a count, not a look at the dropped bits. Ties are rare, so they branch.
// Subnormals get the implicit bit as well: like every value below 2^-64
// they lie far below half a unit of the last digit, and the shift, capped
// at 127, sends them to zero either way.
template <unsigned Precision>
[[gnu::always_inline]] inline std::uint64_t scaled_digits(std::uint64_t bits) noexcept {
  using u128 = unsigned __int128;
  const auto biased = static_cast<unsigned>(bits >> 52) & 0x7ffu;
  const std::uint64_t mant = (bits << 11) | (std::uint64_t{1} << 63);
  unsigned below = 1085u - biased;  // shift - 1
  below = below < 127u ? below : 127u;
  const u128 scaled = static_cast<u128>(mant) * FixedRange<Precision>::kScale;
  const auto twice = static_cast<std::uint64_t>(scaled >> below);
  std::uint64_t rounded = (twice >> 1) + (twice & 1);
  if (static_cast<unsigned>(std::countr_zero(mant)) + Precision == below) [[unlikely]] {
    rounded &= ~std::uint64_t{1};  // a tie: of the two neighbours, the even one
  }
  return rounded;
}

// Lays out a fixed field ending at `end`: the leading spaces first
// (overwritten when the number is wider), then fraction, point, integer
// digits and sign.
template <unsigned Width, unsigned Precision, SimdPath Path>
inline void lay_out_fixed(char* dst, char* end, bool negative, std::uint64_t int_part, unsigned int_len,
                          std::uint64_t frac) noexcept {
  constexpr unsigned kLead = Width > Precision + 1 ? Width - Precision - 1 : 0;
  if constexpr (kLead != 0) std::memset(dst, ' ', kLead);

  char* const point = end - Precision - 1;
  if constexpr (Precision >= 15) {
    digits::put_sixteen_on<Path>(end - 16, frac);  // at Precision 15 its first '0' lands on the point
  } else if constexpr (Precision >= 8) {
    digits::put_eight_on<Path>(end - 8, static_cast<std::uint32_t>(frac % 100000000));
    if constexpr (Precision > 8) digits::put_digits_exact<Path>(end - 8, frac / 100000000, Precision - 8);
  } else {
    digits::put_digits_exact<Path>(end, frac, Precision);
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

// The field of a value in the inline range, from its sign and all its
// digits as one integer (scaled_digits).
template <unsigned Width, unsigned Precision, SimdPath Path>
inline char* lay_out_scaled(char* dst, bool negative, std::uint64_t all) noexcept {
  constexpr std::uint64_t kScale = FixedRange<Precision>::kScale;
  const std::uint64_t int_part = all / kScale;
  const std::uint64_t frac = all - int_part * kScale;

  // The usual field fills exactly Width columns. Its end is then known
  // without waiting for the digits, so successive fields do not queue on
  // each other; a wider number takes the other branch.
  const bool small = int_part < 100;
  const unsigned int_len = small ? 1u + (int_part >= 10) : digits::decimal_length(int_part);
  const std::size_t len = std::size_t{negative} + int_len + 1 + Precision;
  if (len <= Width) [[likely]] {
    lay_out_fixed<Width, Precision, Path>(dst, dst + Width, negative, int_part, int_len, frac);
    return dst + Width;
  }
  lay_out_fixed<Width, Precision, Path>(dst, dst + len, negative, int_part, int_len, frac);
  return dst + len;
}

// The same out of line, for the vector form's rare wide numbers: inlined,
// it would crowd the form's own code.
template <unsigned Width, unsigned Precision, SimdPath Path>
[[gnu::noinline]] char* lay_out_scaled_outline(char* dst, bool negative, std::uint64_t all) noexcept {
  return lay_out_scaled<Width, Precision, Path>(dst, negative, all);
}

template <unsigned Width, unsigned Precision, SimdPath Path>
inline char* write_fixed_scalar(char* dst, double value) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (!FixedRange<Precision>::holds(bits)) [[unlikely]] {
    return write_fixed(dst, value, Width, Precision);  // also NaN and infinities
  }
  return lay_out_scaled<Width, Precision, Path>(dst, (bits >> 63) != 0, scaled_digits<Precision>(bits));
}

#if AK_X86_PATHS
// A field of the AVX-512 form (at most 25 columns, room for the point and
// at least two integer digits) as byte indices into the digit lanes of
// write_fixed_avx512, and the masks and fixed bytes around them.
template <unsigned Width, unsigned Precision>
struct FixedLayout512 {
  static_assert(Width <= 25 && Width >= Precision + 3);
  static constexpr unsigned kPoint = Width - Precision - 1;  // byte of the point
  static constexpr unsigned kUnits = kPoint - 1;            // byte of the last integer digit
  // Groups of eight digits the field shows: three when the integer digits
  // reach into the top group.
  static constexpr bool kThreeGroups = Width > 17;
  // Byte i of the field shows digit d of the number's 24 digits (with
  // leading zeros, most significant first): the fraction digits end the
  // field, the integer digits end just before the point. Digits 0-7 are
  // byte 1 of the first source's eight lanes, 8-15 byte 0 of the same
  // lanes, 16-23 byte 0 of the second source's.
  static constexpr std::uint8_t source(unsigned i) {
    if (i >= Width || i == kPoint) return 0;
    const unsigned d = i > kPoint ? 24 + i - Width : 25 + i - Width;
    return static_cast<std::uint8_t>(d < 8 ? 8 * d + 1 : d < 16 ? 8 * (d - 8) : 64 + 8 * (d - 16));
  }
  struct Tables {
    alignas(64) std::uint8_t index[64];
    alignas(64) char blank[64];  // spaces, and the point
    alignas(64) char minus[64];
    constexpr Tables() : index(), blank(), minus() {
      for (unsigned i = 0; i < 64; ++i) {
        index[i] = source(i);
        blank[i] = i == kPoint ? '.' : ' ';
        minus[i] = '-';
      }
    }
  };
  static constexpr Tables kTables{};
  static constexpr std::uint64_t kField = (std::uint64_t{1} << Width) - 1;
  static constexpr std::uint64_t kDigitBytes = kField & ~(std::uint64_t{1} << kPoint);
  // The number fits the field when all < 10^(Width - 1), one less for the
  // sign of a negative (all < 2^63 < 10^19 always).
  static constexpr std::uint64_t fit_limit(unsigned digits) {
    return digits >= 19 ? ~std::uint64_t{0} : digits::kPow10[digits];
  }
  static constexpr std::uint64_t kFitPositive = fit_limit(Width - 1), kFitNegative = fit_limit(Width - 2);
};

// The AVX-512 form: the digits of the scaled value at once, as eight-digit
// groups in 52-bit multiply lanes, laid out with the point by one byte
// permutation. The spaces in front and the sign are blended in by masks
// from the integer length. A number wider than the field takes the general
// form.
template <unsigned Width, unsigned Precision>
AK_TARGET_AVX512 inline char* write_fixed_avx512(char* dst, double value) noexcept {
  using Layout = FixedLayout512<Width, Precision>;
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (!FixedRange<Precision>::holds(bits)) [[unlikely]] {
    return write_fixed(dst, value, Width, Precision);  // also NaN and infinities
  }
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t all = scaled_digits<Precision>(bits);
  // (Arithmetic, not a choice: signs are mixed in real data.)
  const std::uint64_t fit = Layout::kFitPositive - negative * (Layout::kFitPositive - Layout::kFitNegative);
  if (all >= fit) [[unlikely]] {
    return lay_out_scaled_outline<Width, Precision, digits::kBaselinePath>(dst, negative, all);
  }
  const std::uint64_t upper = all / 100000000;
  const std::uint64_t low_group = all - upper * 100000000;
  __m512i high_lanes;
  if constexpr (Layout::kThreeGroups) {
    const std::uint64_t top = upper / 100000000;  // below 10^3: all < 10^19
    // (The zero-masking shift keeps GCC 12's headers from warning about an
    // undefined source register.)
    high_lanes = _mm512_or_si512(digits::eight_digit_lanes_ifma(upper - top * 100000000),
                                 _mm512_maskz_slli_epi64(0xff, digits::eight_digit_lanes_ifma(top), 8));
  } else {
    high_lanes = digits::eight_digit_lanes_ifma(upper);  // below 10^8: all < 10^16
  }
  const __m512i text = _mm512_permutex2var_epi8(high_lanes, _mm512_load_si512(Layout::kTables.index),
                                                digits::eight_digit_lanes_ifma(low_group));
  // The first integer digit: from the length of `all`, worked out beside
  // the digits rather than after them, which keeps it off the critical path.
  const unsigned all_len = digits::decimal_length(all);
  const unsigned int_len = all_len > Precision ? all_len - Precision : 1u;
  const unsigned lead = Width - Precision - 1 - int_len;
  // Every byte before it is a space, but the one just before it is the sign
  // of a negative.
  const __mmask64 keep = (~std::uint64_t{0} << lead) & Layout::kDigitBytes;
  const __mmask64 sign = (std::uint64_t{negative} << lead) >> 1;
  __m512i field = _mm512_mask_blend_epi8(keep, _mm512_load_si512(Layout::kTables.blank), text);
  field = _mm512_mask_mov_epi8(field, sign, _mm512_load_si512(Layout::kTables.minus));
  _mm512_storeu_si512(dst, field);  // past the field: scratch within the room
  return dst + Width;
}
#endif

}  // namespace detail

// write_fixed(dst, value, Width, Precision), inline for one fixed format,
// with the digits made on `Path` (which must be supported here). The room
// asked of the caller is the same: fixed_max_len(Width, Precision).
template <unsigned Width, unsigned Precision, SimdPath Path = digits::kBaselinePath>
inline char* write_fixed(char* dst, double value) noexcept {
  static_assert(Precision >= 1 && Precision <= 16, "fraction digits must fit two 8-digit groups");
#if AK_X86_PATHS
  if constexpr (Path == SimdPath::avx512 && Width <= 25 && Width >= Precision + 3) {
    return detail::write_fixed_avx512<Width, Precision>(dst, value);
  }
#endif
  return detail::write_fixed_scalar<Width, Precision, Path>(dst, value);
}

// write_int(dst, value, Width), inline for one fixed width; the room asked
// of the caller is the same: int_max_len(Width). Values wider than the field
// take the general form.
template <unsigned Width, SimdPath Path = digits::kBaselinePath>
inline char* write_int(char* dst, std::int64_t value) noexcept {
  const bool negative = value < 0;
  const std::uint64_t magnitude =
      negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  const unsigned len = digits::decimal_length(magnitude) + negative;
  if (len > Width) [[unlikely]] return write_int(dst, value, Width);
  if constexpr (Width >= 8 && Path != SimdPath::portable && std::endian::native == std::endian::little) {
    if (len <= 8) [[likely]] {
      // Eight digits with leading zeros as one word; the bytes in front of
      // the number become spaces and the one just before it the sign of a
      // negative, by masks: no branch on the length or the sign.
      char group[8];
      digits::put_eight_on<Path>(group, static_cast<std::uint32_t>(magnitude));
      std::uint64_t word;
      std::memcpy(&word, group, 8);
      const unsigned lead = 8 - len + negative;  // bytes in front of the digits; at least 1 for a negative
      const std::uint64_t front = lead == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * lead);
      const std::uint64_t sign_byte = (std::uint64_t{negative} << (8 * lead)) >> 8;
      constexpr std::uint64_t kSpaces = 0x2020202020202020, kMinus = 0x2d2d2d2d2d2d2d2d;
      const std::uint64_t sign_mask = sign_byte * 0xff;
      word = (word & ~front) | (kSpaces & front & ~sign_mask) | (kMinus & sign_mask);
      if constexpr (Width > 8) std::memset(dst, ' ', Width - 8);
      std::memcpy(dst + Width - 8, &word, 8);
      return dst + Width;
    }
  }
  std::memset(dst, ' ', Width);
  digits::put_digits(dst + Width, magnitude);
  // Signs are mixed in real data: the character in front of the digits
  // becomes '-' or stays what it is, without a branch.
  char* const first = dst + (Width - len);
  *first = negative ? '-' : *first;
  return dst + Width;
}

}  // namespace ak::text
