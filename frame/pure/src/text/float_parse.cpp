#include "text/float_parse.hpp"

#include "text/pow10.hpp"
#include "text/tokenizer.hpp"

#include <bit>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

// Strategy: the grammar is checked here while the digit runs are located and
// gathered, eight bytes at a time, into a 64-bit integer m, and the exponent
// is read. When the token has at most 19 digits, its value is m * 10^E
// exactly, and three exact routes produce the double:
//   - m <= 2^53 and |E| <= 22: one correctly rounded IEEE multiply or divide
//     of two exactly representable numbers;
//   - 0 <= E <= 27: m * 5^E is an exact 128-bit integer, rounded to 53 bits;
//   - -27 <= E < 0: m / 5^E by an exact 128-by-64-bit division (with a
//     precomputed reciprocal), rounded to 53 bits with the remainder as
//     sticky bit.
// Longer tokens are trimmed of zeros that carry no value and retried; the
// rest (more than 19 significant digits, larger exponents) goes to
// std::from_chars, which is exact for any length; its out-of-range result
// is turned into infinity or zero here.

namespace ak::text {

const char kFloatEmpty[] = "cannot parse float from empty string";
const char kFloatInvalid[] = "invalid float literal";

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
  // The first correction happens for about half of all inputs: keep it
  // free of branches.
  const std::uint64_t adjust = std::uint64_t{0} - static_cast<std::uint64_t>(r > q0);
  q1 += adjust;
  r += adjust & d;
  if (r >= d) [[unlikely]] {
    ++q1;
    r -= d;
  }
  return {q1, r};
}

// The double mant * 2^e for mant in [2^52, 2^53] and a result in the normal
// range. The hidden bit is added into the exponent field, so a mantissa that
// rounding carried up to 2^53 lands on the next binade by itself.
inline double assemble(std::uint64_t mant, int e) noexcept {
  return std::bit_cast<double>((static_cast<std::uint64_t>(e + 1074) << 52) + mant);
}

// Nearest double to (t + s) * 2^e, where s is 0 when !sticky and strictly
// between 0 and 1 otherwise; t >= 2^53 and the result is normal. The round-up
// decision is data dependent, so it is computed without branches.
inline double round_to_double(std::uint64_t t, bool sticky, int e) noexcept {
  const int shift = 64 - std::countl_zero(t) - 53;
  const std::uint64_t mant = t >> shift;
  const std::uint64_t rest = t & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  const bool up = (rest > half) | ((rest == half) & (sticky | ((mant & 1) != 0)));
  return assemble(mant + up, e + shift);
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



// Eight digits at a time: the serial m = 10 m + d chain costs a multiply and
// an add per digit, which dominates a 17-digit token. Byte i of the loaded
// word is the i-th character (little-endian load).
static_assert(std::endian::native == std::endian::little, "digit groups assume little-endian loads");

inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Value of the eight ASCII digits in v, first character most significant.
inline std::uint32_t eight_digits(std::uint64_t v) noexcept {
  v -= 0x3030303030303030ull;  // bytes d0..d7
  // Byte 2i becomes 10*d(2i) + d(2i+1) (a two-digit value below 100).
  v = v * 10 + (v >> 8);
  // Combine the four two-digit values: (p0*100 + p1) * 10^4 + (p2*100 + p3).
  const std::uint64_t even = v & 0x000000ff000000ffull;          // p0 and p2
  const std::uint64_t odd = (v >> 16) & 0x000000ff000000ffull;   // p1 and p3
  v = (even * (100 + (1000000ull << 32)) + odd * (1 + (10000ull << 32))) >> 32;
  return static_cast<std::uint32_t>(v);
}

// Appends the n digits at p to m (m * 10^n + their value, modulo 2^64). Bytes
// from `readable` on may be loaded.
inline std::uint64_t append_digits(std::uint64_t m, const char* p, std::size_t n,
                                   const char* readable) noexcept {
  for (; n >= 8; n -= 8, p += 8) m = m * 100000000 + eight_digits(load8(p));
  if (n == 0) return m;
  if (static_cast<std::size_t>(p - readable) + n >= 8) {
    // Load the eight bytes ending at the last digit and turn the 8 - n bytes
    // in front of the wanted digits into '0'.
    const std::uint64_t keep = ~std::uint64_t{0} << (8 * (8 - n));
    const std::uint64_t v = (load8(p + n - 8) & keep) | (0x3030303030303030ull & ~keep);
    return m * kPow10[n] + eight_digits(v);
  }
  for (; n != 0; --n, ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
  return m;
}

// High bit of every byte of v that is not an ASCII digit.
inline std::uint64_t non_digit_bytes(std::uint64_t v) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  const std::uint64_t low7 = v & ~kHighBits;
  const std::uint64_t at_least_3a = low7 + 0x4646464646464646ull;  // no carry between bytes
  const std::uint64_t at_least_30 = low7 + 0x5050505050505050ull;
  return (v | at_least_3a | ~at_least_30) & kHighBits;
}

// Appends the leading digits of v (the characters in its low bytes, up to the
// first non-digit byte) to m, and returns how many there were.
inline std::size_t take_leading(std::uint64_t v, std::uint64_t& m) noexcept {
  const std::uint64_t stops = non_digit_bytes(v);
  if (stops == 0) {
    m = m * 100000000 + eight_digits(v);
    return 8;
  }
  const auto n = static_cast<std::size_t>(std::countr_zero(stops)) / 8;
  if (n != 0) {
    // Move the n digits to the end of the group, '0' in front of them.
    const std::uint64_t group = (v << (64 - 8 * n)) | (0x3030303030303030ull >> (8 * n));
    m = m * kPow10[n] + eight_digits(group);
  }
  return n;
}

// Consumes the run of digits at p, appending them to m (modulo 2^64, the
// caller counts the digits), and returns the end of the run. Works on groups
// of eight bytes, so that neither the run's length nor its value costs a
// branch or a multiply per digit. Bytes from `readable` on may be loaded.
inline const char* take_digits(const char* p, const char* end, const char* readable,
                               std::uint64_t& m) noexcept {
  while (end - p >= 8) {
    const std::size_t n = take_leading(load8(p), m);
    p += n;
    if (n != 8) return p;
  }
  const auto left = static_cast<std::size_t>(end - p);
  if (left == 0) return p;
  if (end - readable >= 8) {
    // The eight bytes ending at `end`, shifted so that p's byte comes first;
    // the zero bytes shifted in stop the run.
    return p + take_leading(load8(end - 8) >> (8 * (8 - left)), m);
  }
  const char* q = p;
  while (q != end && is_digit(*q)) ++q;
  m = append_digits(m, p, static_cast<std::size_t>(q - p), readable);
  return q;
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
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) |
                               (static_cast<std::uint64_t>(negative) << 63));
}

// Stores the nearest double to -/+ m * 10^e10 and returns true, or returns
// false when e10 is outside the exact routes.
inline bool exact_value(std::uint64_t m, std::int64_t e10, bool negative, double& out) noexcept {
  double v;
  if (m == 0) {
    v = 0.0;
  } else if (m <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
    // Both operands exact, so the single IEEE operation rounds correctly.
    const auto mf = static_cast<double>(m);
    v = e10 >= 0 ? mf * kExactPow10[e10] : mf / kExactPow10[-e10];
  } else if (e10 >= 0 && e10 <= kMaxPow5) {
    v = scale_up(m, static_cast<int>(e10));
  } else if (e10 < 0 && e10 >= -kMaxPow5) {
    v = scale_down(m, static_cast<int>(-e10));
  } else {
    return false;
  }
  out = with_sign(v, negative);
  return true;
}

// The rest: more than 19 digits, or an exponent outside the exact routes.
// Leading zeros (also after the point when the integer part is zero) and
// trailing fraction zeros carry no value; if at most 19 significant digits
// remain, the exact routes may still apply.
[[gnu::noinline]] const char* parse_long(std::string_view token, const char* body,
                                         const char* int_begin, const char* int_end,
                                         const char* frac_begin, const char* frac_end,
                                         std::int64_t exponent, bool negative,
                                         double& out) noexcept {
  const char* sig_int = int_begin;
  while (sig_int != int_end && *sig_int == '0') ++sig_int;
  const char* sig_frac = frac_begin;
  if (sig_int == int_end) {
    while (sig_frac != frac_end && *sig_frac == '0') ++sig_frac;
  }
  const char* sig_frac_end = frac_end;
  while (sig_frac_end != sig_frac && sig_frac_end[-1] == '0') --sig_frac_end;
  const auto n_int = static_cast<std::size_t>(int_end - sig_int);
  const auto n_frac = static_cast<std::size_t>(sig_frac_end - sig_frac);

  if (n_int + n_frac <= 19) {
    std::uint64_t m = append_digits(0, sig_int, n_int, token.data());
    m = append_digits(m, sig_frac, n_frac, token.data());
    if (exact_value(m, exponent - (sig_frac_end - frac_begin), negative, out)) return nullptr;
  }

  // Decimal exponent of the leading significant digit: an out-of-range
  // result lies above 10^308 when it is >= 0 and below 10^-323 otherwise.
  const std::int64_t lead_exp = n_int != 0 ? exponent + static_cast<std::int64_t>(n_int) - 1
                                           : exponent - (sig_frac - frac_begin) - 1;
  const char* const end = token.data() + token.size();
  double v = 0.0;
  const std::from_chars_result r = std::from_chars(body, end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    v = lead_exp >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (r.ec != std::errc() || r.ptr != end) {
    return kFloatInvalid;  // not reached: the grammar was checked before
  }
  out = with_sign(v, negative);
  return nullptr;
}

}  // namespace

const char* parse_float(std::string_view token, double& out) noexcept {
  const char* p = token.data();
  const char* const end = p + token.size();
  if (p == end) return kFloatEmpty;

  // Signs are mixed in real data: take one off without a branch.
  const bool negative = *p == '-';
  p += negative | (*p == '+');
  if (p == end) return kFloatInvalid;
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

  // The digit runs before and after the point, gathered into m on the way.
  std::uint64_t m = 0;
  const char* const int_begin = p;
  p = take_digits(p, end, token.data(), m);
  const char* const int_end = p;
  const char* frac_begin = p;
  const char* frac_end = p;
  if (p != end && *p == '.') {
    frac_begin = ++p;
    p = take_digits(p, end, token.data(), m);
    frac_end = p;
  }
  if (int_begin == int_end && frac_begin == frac_end) return kFloatInvalid;

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

  // Up to 19 digits (leading zeros included) m holds them exactly.
  const auto n_frac = frac_end - frac_begin;
  if ((int_end - int_begin) + n_frac <= 19 &&
      exact_value(m, exponent - n_frac, negative, out)) {
    return nullptr;
  }
  return parse_long(token, body, int_begin, int_end, frac_begin, frac_end, exponent, negative,
                    out);
}

ScanResult scan_float(const char* p, const char* end, const char*, double& out) noexcept {
  const char* stop = token_end(p + 1, end);
  return {stop, parse_float(std::string_view(p, static_cast<std::size_t>(stop - p)), out) == nullptr};
}

}  // namespace ak::text
