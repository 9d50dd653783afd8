#include "text/float_parse.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

// Strategy: the grammar is checked here, byte by byte, while the first 19
// significant digits are gathered into a 64-bit integer m and the decimal
// exponent E is tracked, so that the token's value is m * 10^E exactly when no
// nonzero digit was left out. Three exact routes then produce the double:
//   - m <= 2^53 and |E| <= 22: one correctly rounded IEEE multiply or divide
//     of two exactly representable numbers;
//   - 0 <= E <= 27: m * 5^E is an exact 128-bit integer, rounded to 53 bits;
//   - -27 <= E < 0: m / 5^E by an exact 128-by-64-bit division (with a
//     precomputed reciprocal), rounded to 53 bits with the remainder as
//     sticky bit.
// Everything else (more than 19 significant digits, larger exponents) goes
// to std::from_chars, which is exact for any length; its out-of-range result
// is turned into infinity or zero here.

namespace ak::text {
namespace {

using u128 = unsigned __int128;

constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// For 5^k (k <= 27, below 2^63): the value, the divisor normalised to a set
// top bit, its bit length, and the reciprocal floor((2^128 - 1) / d) - 2^64
// of the division by invariant integers of Moller and Granlund (2011).
constexpr int kMaxPow5 = 27;
struct Pow5 {
  std::uint64_t value;
  std::uint64_t divisor;
  std::uint64_t inverse;
  int bits;
};
struct Pow5Table {
  Pow5 entry[kMaxPow5 + 1];
  constexpr Pow5Table() : entry() {
    std::uint64_t f = 1;
    for (int k = 0; k <= kMaxPow5; ++k) {
      const int bits = 64 - std::countl_zero(f);
      const std::uint64_t d = f << (64 - bits);
      const auto v = static_cast<std::uint64_t>(~u128{0} / d - (u128{1} << 64));
      entry[k] = Pow5{f, d, v, bits};
      f *= 5;
    }
  }
};
constexpr Pow5Table kPow5;

// Quotient and remainder of (u1 * 2^64 + u0) / d for d with its top bit set
// and u1 < d, using the precomputed reciprocal v of d.
struct QuotientRemainder {
  std::uint64_t q;
  std::uint64_t r;
};
inline QuotientRemainder divide_2by1(std::uint64_t u1, std::uint64_t u0, std::uint64_t d,
                                     std::uint64_t v) noexcept {
  u128 q = static_cast<u128>(v) * u1;
  q += (static_cast<u128>(u1) << 64) | u0;
  std::uint64_t q1 = static_cast<std::uint64_t>(q >> 64) + 1;
  const auto q0 = static_cast<std::uint64_t>(q);
  std::uint64_t r = u0 - q1 * d;
  if (r > q0) {
    --q1;
    r += d;
  }
  if (r >= d) {  // rare
    ++q1;
    r -= d;
  }
  return {q1, r};
}

// The double mant * 2^e for mant in [2^52, 2^53) and a result in the normal range.
inline double assemble(std::uint64_t mant, int e) noexcept {
  const std::uint64_t bits = (static_cast<std::uint64_t>(e + 1075) << 52) |
                             (mant & ((std::uint64_t{1} << 52) - 1));
  return std::bit_cast<double>(bits);
}

// Nearest double to (t + s) * 2^e, where s is 0 when !sticky and strictly
// between 0 and 1 otherwise; t >= 2^53 and the result is normal.
inline double round_to_double(std::uint64_t t, bool sticky, int e) noexcept {
  const int shift = 64 - std::countl_zero(t) - 53;
  std::uint64_t mant = t >> shift;
  const std::uint64_t rest = t & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  int exp = e + shift;
  if (rest > half || (rest == half && (sticky || (mant & 1) != 0))) {
    ++mant;
    if ((mant >> 53) != 0) {
      mant >>= 1;
      ++exp;
    }
  }
  return assemble(mant, exp);
}

// Nearest double to m * 10^e for m > 0 and 0 <= e <= 27.
inline double scale_up(std::uint64_t m, int e) noexcept {
  const u128 product = static_cast<u128>(m) * kPow5.entry[e].value;  // < 2^127
  const auto high = static_cast<std::uint64_t>(product >> 64);
  if (high == 0) {
    const auto low = static_cast<std::uint64_t>(product);
    const int bits = 64 - std::countl_zero(low);
    if (bits <= 53) return assemble(low << (53 - bits), e - (53 - bits));  // exact
    return round_to_double(low, false, e);
  }
  const int shift = 64 - std::countl_zero(high);
  const auto top = static_cast<std::uint64_t>(product >> shift);
  const bool sticky = (product & ((u128{1} << shift) - 1)) != 0;
  return round_to_double(top, sticky, e + shift);
}

// Nearest double to m * 10^-k for m > 0 and 1 <= k <= 27. With M = m * 2^lz
// and D = 5^k * 2^(64 - bits) both normalised to a set top bit,
//   m * 10^-k = (M / D) * 2^(64 - bits - lz - k),
// and T = floor(M * 2^63 / D) lies in [2^62, 2^64) with an exact remainder.
inline double scale_down(std::uint64_t m, int k) noexcept {
  const Pow5& p = kPow5.entry[k];
  const int lz = std::countl_zero(m);
  const std::uint64_t big = m << lz;
  const QuotientRemainder qr = divide_2by1(big >> 1, big << 63, p.divisor, p.inverse);
  return round_to_double(qr.q, qr.r != 0, 1 - p.bits - lz - k);
}

inline bool is_digit(char c) noexcept {
  return static_cast<unsigned char>(static_cast<unsigned char>(c) - '0') < 10;
}

inline bool word_is(const char* p, const char* word, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    // Only 'A'..'Z' and 'a'..'z' map onto a lower-case letter under | 0x20.
    if ((static_cast<unsigned char>(p[i]) | 0x20) != static_cast<unsigned char>(word[i]))
      return false;
  }
  return true;
}

inline double with_sign(double magnitude, bool negative) noexcept {
  return negative ? -magnitude : magnitude;
}

}  // namespace

const char* parse_float(std::string_view token, double& out) noexcept {
  const char* p = token.data();
  const char* const end = p + token.size();
  if (p == end) return kFloatEmpty;

  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    if (p == end) return kFloatInvalid;
  }
  const char* const body = p;

  if (!is_digit(*p) && *p != '.') {
    const auto n = static_cast<std::size_t>(end - p);
    double special;
    if (n == 3 && word_is(p, "inf", 3)) {
      special = std::numeric_limits<double>::infinity();
    } else if (n == 8 && word_is(p, "infinity", 8)) {
      special = std::numeric_limits<double>::infinity();
    } else if (n == 3 && word_is(p, "nan", 3)) {
      special = std::numeric_limits<double>::quiet_NaN();
    } else {
      return kFloatInvalid;
    }
    out = with_sign(special, negative);
    return nullptr;
  }

  // Mantissa: m holds up to 19 significant digits; the token's mantissa is
  // m * 10^scale, exactly unless `dropped` (a nonzero digit beyond the 19th).
  constexpr int kMaxDigits = 19;
  std::uint64_t m = 0;
  int digits = 0;  // significant digits in m
  std::int64_t scale = 0;
  bool dropped = false;
  bool seen_digit = false;

  if (*p == '0') {
    seen_digit = true;
    do ++p;
    while (p != end && *p == '0');
  }
  for (; p != end && is_digit(*p); ++p) {
    seen_digit = true;
    const unsigned d = static_cast<unsigned>(*p - '0');
    if (digits < kMaxDigits) {
      m = m * 10 + d;
      ++digits;
    } else {
      dropped |= d != 0;
      ++scale;
    }
  }
  if (p != end && *p == '.') {
    ++p;
    if (m == 0) {
      for (; p != end && *p == '0'; ++p) {
        seen_digit = true;
        --scale;
      }
    }
    for (; p != end && is_digit(*p); ++p) {
      seen_digit = true;
      const unsigned d = static_cast<unsigned>(*p - '0');
      if (digits < kMaxDigits) {
        m = m * 10 + d;
        ++digits;
        --scale;
      } else {
        dropped |= d != 0;
      }
    }
  }
  if (!seen_digit) return kFloatInvalid;

  // Exponent, saturated far beyond any double's range.
  std::int64_t exponent = 0;
  if (p != end) {
    if (*p != 'e' && *p != 'E') return kFloatInvalid;
    ++p;
    bool exp_negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
      exp_negative = *p == '-';
      ++p;
    }
    if (p == end) return kFloatInvalid;
    for (; p != end; ++p) {
      if (!is_digit(*p)) return kFloatInvalid;
      if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');
    }
    if (exp_negative) exponent = -exponent;
  }

  if (m == 0) {
    out = with_sign(0.0, negative);
    return nullptr;
  }
  const std::int64_t e10 = scale + exponent;

  if (!dropped) {
    if (m <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
      // Both operands exact, so the single IEEE operation rounds correctly.
      const auto mf = static_cast<double>(m);
      const double v = e10 >= 0 ? mf * kExactPow10[e10] : mf / kExactPow10[-e10];
      out = with_sign(v, negative);
      return nullptr;
    }
    if (e10 >= 0 && e10 <= kMaxPow5) {
      out = with_sign(scale_up(m, static_cast<int>(e10)), negative);
      return nullptr;
    }
    if (e10 < 0 && e10 >= -kMaxPow5) {
      out = with_sign(scale_down(m, static_cast<int>(-e10)), negative);
      return nullptr;
    }
  }

  double v = 0.0;
  const std::from_chars_result r = std::from_chars(body, end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // The decimal exponent of the leading digit tells overflow from underflow:
    // the former lies above 10^308, the latter below 10^-323.
    v = e10 + (digits - 1) >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc() || r.ptr != end) {
    return kFloatInvalid;  // not reached: the grammar was checked above
  }
  out = with_sign(v, negative);
  return nullptr;
}

}  // namespace ak::text
