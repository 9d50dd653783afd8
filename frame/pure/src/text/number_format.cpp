#include "text/number_format.hpp"

#include "text/bigint.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

namespace ak::text {
namespace {

using u128 = unsigned __int128;
using digits::decimal_length;
using digits::kPairs;
using digits::kPow10;
using digits::put_digits;
using digits::put_digits_exact;
using text::BigUint;

// 5^p for the precisions of the fast path (5^19 < 2^45).
constexpr std::uint64_t pow5(unsigned p) noexcept {
  std::uint64_t r = 1;
  for (unsigned i = 0; i < p; ++i) r *= 5;
  return r;
}
constexpr unsigned kFastMaxPrecision = 19;
struct Pow5Table {
  std::uint64_t value[kFastMaxPrecision + 1];
  constexpr Pow5Table() : value() {
    for (unsigned p = 0; p <= kFastMaxPrecision; ++p) value[p] = pow5(p);
  }
};
constexpr Pow5Table kPow5;

// Writes the `pad` spaces in front of a field and returns the position after
// them. `room` bytes from dst are writable; for the usual narrow fields one
// fixed-size store of spaces avoids a call to memset.
inline char* put_spaces(char* dst, std::size_t pad, std::size_t room) noexcept {
  constexpr std::size_t kBlock = 16;
  static constexpr char kSpaces[kBlock + 1] = "                ";
  if (pad <= kBlock && room >= kBlock) {
    std::memcpy(dst, kSpaces, kBlock);
  } else {
    std::memset(dst, ' ', pad);
  }
  return dst + pad;
}

// Right-aligns `len` bytes already written at dst within `width` columns.
inline char* align_written(char* dst, std::size_t len, unsigned width) noexcept {
  if (len >= width) return dst + len;
  const std::size_t pad = width - len;
  std::memmove(dst + pad, dst, len);
  std::memset(dst, ' ', pad);
  return dst + width;
}

inline char* write_text(char* dst, const char* text, std::size_t len, unsigned width) noexcept {
  if (len < width) {
    std::memset(dst, ' ', width - len);
    dst += width - len;
  }
  std::memcpy(dst, text, len);
  return dst + len;
}

// Exact path for any finite value and any precision: |value| >= 2^63 (an
// integer, so every fraction digit is 0) or more than 19 fraction digits.
// The digits come from big integers: the integer part by division by 10^19,
// the fraction F / 2^n (n = -e2 bits) 19 digits at a time as the bits that
// multiplying by 10^19 carries above 2^n. The expansion of a double ends
// after at most 1074 fraction digits, the rest are zeros.
char* write_fixed_slow(char* dst, double value, unsigned width, unsigned precision) noexcept {
  using Big = BigUint<20>;  // 1280 bits: 2^1024 and 2^1074 * 10^19 fit
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7ff;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t mant = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
  const int e2 = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;

  char* p = dst;
  *p = '-';
  p += bits >> 63;
  char* const digits_begin = p;

  if (e2 >= 0) {
    // An integer of up to 309 digits: 19-digit chunks, least significant first.
    Big n(mant);
    n.shift_left(static_cast<unsigned>(e2));
    std::uint64_t chunks[17];
    unsigned count = 0;
    do {
      chunks[count++] = n.divmod_1e19();
    } while (!n.is_zero());
    const unsigned lead = decimal_length(chunks[count - 1]);
    p += lead;
    put_digits(p, chunks[count - 1]);
    for (unsigned i = count - 1; i-- > 0;) {
      put_digits_exact(p + 19, chunks[i], 19);
      p += 19;
    }
    if (precision != 0) {
      *p++ = '.';
      std::memset(p, '0', precision);
      p += precision;
    }
    return align_written(dst, static_cast<std::size_t>(p - dst), width);
  }

  // mant * 2^e2 with n = -e2 fraction bits (n >= 1).
  const auto n = static_cast<unsigned>(-e2);
  const std::uint64_t int_part = n >= 64 ? 0 : mant >> n;
  Big f(n >= 64 ? mant : mant & ((std::uint64_t{1} << n) - 1));
  const unsigned int_len = decimal_length(int_part);
  p += int_len;
  put_digits(p, int_part);
  if (precision == 0) {
    // Not reached from write_fixed (the fast path takes every value below
    // 2^63 at small precisions), kept exact all the same.
    const bool up = f.bit(n - 1) && (f.any_below(n - 1) || (int_part & 1) != 0);
    if (!up) return align_written(dst, static_cast<std::size_t>(p - dst), width);
  } else {
    *p++ = '.';
    char* const frac_end = p + precision;
    while (p != frac_end && !f.is_zero()) {
      const auto take = static_cast<unsigned>(frac_end - p < 19 ? frac_end - p : 19);
      f.mul_add(kPow10[take], 0);
      put_digits_exact(p + take, f.take_above(n), take);
      p += take;
    }
    if (p != frac_end) {  // the expansion ended: exact, the rest are zeros
      std::memset(p, '0', static_cast<std::size_t>(frac_end - p));
      return align_written(dst, static_cast<std::size_t>(frac_end - dst), width);
    }
    // Round to nearest on what is left, ties to even.
    const bool up = f.bit(n - 1) && (f.any_below(n - 1) || ((p[-1] - '0') & 1) != 0);
    if (!up) return align_written(dst, static_cast<std::size_t>(p - dst), width);
  }
  // Add one unit of the last digit: nines turn to zeros up to the first
  // other digit, and a carry out of the leading digit adds a '1' in front.
  char* q = p;
  while (q != digits_begin) {
    --q;
    if (*q == '.') continue;
    if (*q != '9') {
      ++*q;
      return align_written(dst, static_cast<std::size_t>(p - dst), width);
    }
    *q = '0';
  }
  std::memmove(digits_begin + 1, digits_begin, static_cast<std::size_t>(p - digits_begin));
  *digits_begin = '1';
  return align_written(dst, static_cast<std::size_t>(p + 1 - dst), width);
}

}  // namespace

char* write_fixed(char* dst, double value, unsigned width, unsigned precision) noexcept {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7ff;
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);

  if (biased == 0x7ff) {
    if (fraction != 0) return write_text(dst, "NaN", 3, width);
    return negative ? write_text(dst, "-inf", 4, width) : write_text(dst, "inf", 3, width);
  }
  // Fast path: |value| < 2^63, so the integer part fits 64 bits, and
  // precision <= 19, so the fraction digits fit 64 bits.
  if (biased >= 1023 + 63 || precision > kFastMaxPrecision) {
    return write_fixed_slow(dst, value, width, precision);
  }

  // value = mant * 2^e2 exactly.
  std::uint64_t mant;
  int e2;
  if (biased == 0) {
    mant = fraction;
    e2 = -1074;
  } else {
    mant = fraction | (std::uint64_t{1} << 52);
    e2 = static_cast<int>(biased) - 1075;
  }

  // Split into the integer part and the fraction bits (still times 2^e2).
  std::uint64_t int_part, frac_mant;
  if (e2 >= 0) {
    int_part = mant << e2;  // e2 <= 10 here, so no bits are lost
    frac_mant = 0;
  } else if (e2 > -64) {
    int_part = mant >> -e2;
    frac_mant = mant & ((std::uint64_t{1} << -e2) - 1);
  } else {
    int_part = 0;
    frac_mant = mant;
  }

  // frac_digits = round(frac_mant * 2^e2 * 10^p) = round(frac_mant * 5^p * 2^(e2 + p)),
  // computed exactly: frac_mant * 5^p < 2^53 * 2^45 fits 128 bits.
  std::uint64_t frac_digits = 0;
  if (frac_mant != 0) {
    const u128 scaled = static_cast<u128>(frac_mant) * kPow5.value[precision];
    const int shift = e2 + static_cast<int>(precision);
    if (shift >= 0) {
      // Few enough fraction bits: the product is exact and below 10^p.
      frac_digits = static_cast<std::uint64_t>(scaled << shift);
    } else if (shift > -128) {
      const unsigned down = static_cast<unsigned>(-shift);
      frac_digits = static_cast<std::uint64_t>(scaled >> down);
      const u128 rest = scaled & ((u128{1} << down) - 1);
      const u128 half = u128{1} << (down - 1);
      // The last digit of the whole rounded number is the last fraction
      // digit, or the last integer digit when there are no fraction digits.
      const std::uint64_t last = precision != 0 ? frac_digits : int_part;
      // Data-dependent, so without branches: round up, then carry a
      // fraction that reached 10^p into the integer part (at most 2^63).
      const bool up = (rest > half) | ((rest == half) & ((last & 1) != 0));
      frac_digits += up;
      const bool carry = frac_digits == kPow10[precision];
      int_part += carry;
      frac_digits -= carry ? frac_digits : 0;
    }
    // else: below 2^-128 of a unit of the last digit, far under half.
  }

  const unsigned int_len = decimal_length(int_part);
  const std::size_t len =
      std::size_t{negative} + int_len + (precision != 0 ? precision + 1 : 0);
  char* p = dst;
  if (len < width) p = put_spaces(p, width - len, fixed_max_len(width, precision));
  // Signs and one- or two-digit integer parts are mixed in real data, so
  // both are written without branches: the '-' is always stored (the room
  // allows it) and kept only for negatives.
  *p = '-';
  p += negative;
  char* const int_end = p + int_len;
  if (int_part < 100) {
    const auto v = static_cast<unsigned>(int_part);
    p[0] = kPairs.text[2 * v + (v < 10)];  // single digit: its own character
    int_end[-1] = kPairs.text[2 * v + 1];
  } else {
    put_digits(int_end, int_part);
  }
  if (precision != 0) {
    *int_end = '.';
    put_digits_exact(int_end + 1 + precision, frac_digits, precision);
    return int_end + 1 + precision;
  }
  return int_end;
}

char* write_uint(char* dst, std::uint64_t value, unsigned width) noexcept {
  const unsigned len = decimal_length(value);
  if (len < width) dst = put_spaces(dst, width - len, int_max_len(width));
  put_digits(dst + len, value);
  return dst + len;
}

char* write_int(char* dst, std::int64_t value, unsigned width) noexcept {
  if (value >= 0) return write_uint(dst, static_cast<std::uint64_t>(value), width);
  const std::uint64_t magnitude = std::uint64_t{0} - static_cast<std::uint64_t>(value);
  const unsigned len = decimal_length(magnitude) + 1;
  if (len < width) dst = put_spaces(dst, width - len, int_max_len(width));
  *dst = '-';
  put_digits(dst + len, magnitude);
  return dst + len;
}

}  // namespace ak::text
