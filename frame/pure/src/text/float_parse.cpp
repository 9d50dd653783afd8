#include "text/float_parse.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/bigint.hpp"
#include "text/digit_words.hpp"
#include "text/float_gather_sse4.hpp"
#include "text/pow10.hpp"
#include "text/pow10_table.hpp"
#include "text/tokenizer.hpp"

// Strategy: one pass over the token checks the grammar, finds the token's
// end and gathers the digits, eight bytes at a time, into a 64-bit integer
// m; the value is m * 10^q.
//
// Up to 19 digits m is exact, and the product of m (shifted to a set top bit)
// with T, the 128-bit truncated significand of 10^q, brackets the exact
// value: its top 64 bits are exact (q in [0, 27], where T is 5^q shifted) or
// too small by less than 2. The rounding of everything in the bracket is the
// same unless the bracket holds a midpoint between two doubles, which shows
// as a fixed pattern of the bits under the 53 kept ones (round bit 0, all
// below it 1), about one case in a thousand; a second product with the low
// half of T then narrows the bracket 2^64 times. No further branch depends on
// the digits, so mixed token shapes cost no mispredictions.
//
// What the products cannot decide (a midpoint within 2^-64 of a unit, or a
// token of more than 19 significant digits whose two 19-digit neighbours
// round apart) is decided by comparing the exact decimal with the midpoint
// as big integers. Past 800 significant digits only whether a non-zero digit
// follows matters (a midpoint has at most 768 significant digits), so the
// rest collapses into one sticky digit.

namespace ak::text {

const char kFloatEmpty[] = "cannot parse float from empty string";
const char kFloatInvalid[] = "invalid float literal";

namespace {

using u128 = unsigned __int128;
using std::int64_t;
using std::uint64_t;

using namespace words;

constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr uint64_t kInfBits = 0x7ff0000000000000ull;
constexpr uint64_t kNanBits = 0x7ff8000000000000ull;

// ---------------------------------------------------------------- bytes

// Consumes the run of digits at p, appending them to m (modulo 2^64; the
// caller counts the digits), and returns the position after the run; `stop`
// gets the byte there (a space at `end`). One word per eight digits: neither
// the run's length nor its value costs a branch or a multiply per digit.
[[gnu::always_inline]] inline const char* take_run(const char* p, const char* end, const char* readable,
                                                   uint64_t& m, unsigned& stop) noexcept {
  for (;;) {
    const uint64_t w = fetch(p, end, readable);
    const uint64_t flags = non_digit_bytes(w);
    if (flags == 0) {
      m = m * 100000000 + eight_digits(w);
      p += 8;
      continue;
    }
    const unsigned at = static_cast<unsigned>(std::countr_zero(flags)) - 7;  // 8 * digit count
    m = m * kPow10[at / 8] + eight_digits(leading_group(w, at));
    stop = static_cast<unsigned>(w >> at) & 0xff;
    return p + at / 8;
  }
}

// ---------------------------------------------------------------- rounding

using pow10_table::kPow10Significand;
constexpr int kMinQ = pow10_table::kMinExponent;
constexpr int kMaxQ = pow10_table::kMaxExponent;

// floor(q * log2(10)) for q in the table's range (checked by its generator).
constexpr int floor_log2_pow10(int q) noexcept { return (q * 217706) >> 16; }

struct Rounded {
  uint64_t bits;  // the double's bits, or when !decided the lower of two candidates
  bool decided;   // false: the result is bits or the next double up
};

// Nearest double to m * 10^q from both halves of T, for the m != 0 and q in
// the table's range that round_one_product leaves undecided (so never
// 0 <= q <= 27: there its one product is exact and every result normal):
// u = floor(w * T / 2^64) for w = m shifted to a set top bit. With T exact
// (28 <= q <= 55 here) the value lies in [u, u + 1) in units of 2^64, and u
// is never a midpoint (see below); otherwise the value lies strictly between
// u and u + 2, and is undecided when u + 1 is a midpoint. Also handles
// subnormal, zero and infinite results.
[[gnu::noinline]] Rounded round_full(uint64_t m, int q) noexcept {
  const int lz = std::countl_zero(m);
  const uint64_t w = m << lz;
  const pow10_table::Significand& t = kPow10Significand[q - kMinQ];
  const u128 low_product = static_cast<u128>(w) * t.low;
  const u128 u = static_cast<u128>(w) * t.high + (low_product >> 64);  // below 2^128
  const bool exact = q >= 0 && q <= 55;
  const auto upper = static_cast<int>(u >> 127);
  const int biased = floor_log2_pow10(q) + 1086 + upper - lz;
  if (biased >= 2047) return {kInfBits, true};
  // Round bit position in u: 53 bits kept under the top bit for normal
  // results, fewer for subnormal ones.
  int round_pos = 64 + 9 + upper;
  uint64_t base = 0;
  if (biased >= 1) {
    base = static_cast<uint64_t>(biased - 1) << 52;  // the hidden bit adds the last 1
  } else {
    round_pos += 1 - biased;
    if (round_pos >= 128) return {0, true};  // below 2^127 units: under half the smallest subnormal
  }
  const u128 half = u128{1} << round_pos;
  const u128 rest = u & ((half << 1) - 1);  // all of u when round_pos is 127
  const uint64_t mant = round_pos == 127 ? 0 : static_cast<uint64_t>(u >> (round_pos + 1));
  // With T exact, rest == half (the value on a midpoint, or above one by
  // less than a unit) would need the bits of m * 5^q under its top 53 to be
  // a 1 and then 73 or 74 zeros, down to those that fall into the low 64
  // bits of the product: a congruence on m * 5^q modulo a power of two, with
  // about 2^(b - 75) solutions expected among the m of b bits.
  // tools/exact_ties.py solves it exactly for every q in [28, 55] and every b
  // up to 64 and finds none. So rest >= half means above the midpoint, as it
  // does for a truncated T.
  if (!exact && rest == half - 1) return {base + mant, false};
  return {base + mant + (rest >= half), true};
}

// Nearest double to m * 10^q for m != 0 and q in the table's range, from
// one 64x64-bit product: true with the bits in `bits`, or false (about one
// case in a thousand, and subnormal or infinite results) for round_full.
[[gnu::always_inline]] inline bool round_one_product(uint64_t m, int q, uint64_t& bits) noexcept {
  const int lz = std::countl_zero(m);
  const u128 product = static_cast<u128>(m << lz) * kPow10Significand[q - kMinQ].high;
  const auto hi = static_cast<uint64_t>(product >> 64);
  const auto lo = static_cast<uint64_t>(product);
  const auto upper = static_cast<unsigned>(hi >> 63);
  const int biased = floor_log2_pow10(q) + 1086 + static_cast<int>(upper) - lz;
  const unsigned below = 9 + upper;  // bits of hi under the round bit
  const uint64_t round_and_below = (uint64_t{2} << below) - 1;
  // With T truncated the exact value lies in (hi, hi + 2) units of 2^128;
  // when hi + 1 is a midpoint the bracket does not decide.
  const bool inexact = static_cast<unsigned>(q) > 27;
  if (static_cast<unsigned>(biased - 1) >= 2046u ||
      (inexact & ((hi & round_and_below) == (round_and_below >> 1)))) [[unlikely]] {
    return false;
  }
  const uint64_t top = hi >> below;  // 53 bits and the round bit
  // Inexact values are never exactly a midpoint here: only the round bit counts.
  const bool sticky = ((hi & (round_and_below >> 1)) | lo) != 0 || inexact;
  const uint64_t up = top & ((top >> 1) | sticky) & 1;
  bits = (static_cast<uint64_t>(biased - 1) << 52) + (top >> 1) + up;
  return true;
}

inline Rounded round_decimal(uint64_t m, int q) noexcept {
  uint64_t bits;
  if (round_one_product(m, q, bits)) return {bits, true};
  return round_full(m, q);
}

// ---------------------------------------------------------------- exact decision

// 4096 bits. The largest value below has at most 2713 (a token of 801
// significant digits, sticky one included, near 10^-324: the midpoint times
// 5^1124), the digits themselves at most 2661; tools/bigint_bounds.py bounds
// every caller's values over all inputs.
using Big = BigUint<64>;

// Sign of (a * 10^qd) - (the midpoint between the double with bits b and the
// next one up), both exact.
int compare_with_midpoint(Big a, int64_t qd, uint64_t b) noexcept {
  const uint64_t field = b >> 52;
  const uint64_t fraction = b & ((uint64_t{1} << 52) - 1);
  const uint64_t mant = field == 0 ? fraction : fraction | (uint64_t{1} << 52);
  // Midpoint = (2 mant + 1) * 2^(e - 1), e the exponent of the last bit.
  Big mid(2 * mant + 1);
  int64_t mid_exp = (field == 0 ? -1074 : static_cast<int64_t>(field) - 1075) - 1;
  int64_t a_exp = 0;
  if (qd >= 0) {
    a.mul_pow5(static_cast<uint64_t>(qd));
    a_exp = qd;
  } else {
    mid.mul_pow5(static_cast<uint64_t>(-qd));
    mid_exp -= qd;
  }
  if (a_exp > mid_exp) {
    a.shift_left(static_cast<uint64_t>(a_exp - mid_exp));
  } else {
    mid.shift_left(static_cast<uint64_t>(mid_exp - a_exp));
  }
  return compare(a, mid);
}

// The nearest double to a * 10^qd, given that it is b or the next double up.
uint64_t decide(const Big& a, int64_t qd, uint64_t b) noexcept {
  if (b >= kInfBits) return b;
  const int c = compare_with_midpoint(a, qd, b);
  return b + static_cast<uint64_t>(c > 0 || (c == 0 && (b & 1) != 0));
}

// Nearest double to m * 10^q (m != 0, q in the table's range) when one
// product does not decide.
[[gnu::noinline]] uint64_t decimal_bits_slow(uint64_t m, int q) noexcept {
  const Rounded r = round_full(m, q);
  return r.decided ? r.bits : decide(Big(m), q, r.bits);
}

[[gnu::always_inline]] inline uint64_t decimal_bits(uint64_t m, int q) noexcept {
  uint64_t bits;
  if (round_one_product(m, q, bits)) [[likely]] return bits;
  return decimal_bits_slow(m, q);
}

// Nearest double to the digits in [int_begin, int_end) and [frac_begin,
// frac_end) (the point between them, when there is one, is the only other
// byte) times 10^exponent: the tokens whose digits did not fit 64 bits.
[[gnu::noinline]] uint64_t long_value(const char* int_begin, const char* int_end, const char* frac_begin,
                                      const char* frac_end, int64_t exponent) noexcept {
  // The first significant digit and its decimal exponent.
  const char* first = int_begin;
  while (first != int_end && *first == '0') ++first;
  int64_t lead_exp;
  if (first != int_end) {
    lead_exp = exponent + (int_end - first) - 1;
  } else {
    first = frac_begin;
    while (first != frac_end && *first == '0') ++first;
    if (first == frac_end) return 0;
    lead_exp = exponent - (first - frac_begin) - 1;
  }
  if (lead_exp >= 309) return kInfBits;  // at least 10^309
  if (lead_exp <= -325) return 0;        // below 10^-324, under half the smallest subnormal

  // Trailing zeros carry no value.
  const char* last = frac_end != frac_begin ? frac_end : int_end;
  while (last[-1] == '0' || last[-1] == '.') --last;
  const bool point_inside = first < int_end && last > int_end;
  const int64_t count = (last - first) - point_inside;

  // The first (up to) 19 digits.
  const int64_t head = count < 19 ? count : 19;
  uint64_t m = 0;
  const char* c = first;
  for (int64_t i = 0; i < head; ++c) {
    if (*c == '.') continue;
    m = m * 10 + static_cast<unsigned>(*c - '0');
    ++i;
  }
  const int q = static_cast<int>(lead_exp - (head - 1));  // within the table by the bounds above
  const Rounded low = round_decimal(m, q);
  if (count <= 19) return low.decided ? low.bits : decide(Big(m), q, low.bits);

  // The value lies strictly between m * 10^q and (m + 1) * 10^q.
  if (low.decided) {
    const Rounded high = round_decimal(m + 1, q);
    if (high.decided && high.bits == low.bits) return low.bits;
  }
  constexpr int64_t kMaxDigits = 800;
  Big a;
  int64_t used = 0;
  c = first;
  while (used < count && used < kMaxDigits) {
    uint64_t chunk = 0;
    int n = 0;
    for (; n < 19 && used < count && used < kMaxDigits; ++c) {
      if (*c == '.') continue;
      chunk = chunk * 10 + static_cast<unsigned>(*c - '0');
      ++n;
      ++used;
    }
    a.mul_add(kPow10[n], chunk);
  }
  if (count > kMaxDigits) {
    a.mul_add(10, 1);  // the rest holds a non-zero digit: one sticky digit stands for it
    ++used;
  }
  return decide(a, lead_exp - (used - 1), low.bits);
}

// The sign is carried as the sign bit itself (0 or 1 << 63), a full word: a
// bool kept in a register-starved scan gets spilled as one byte and reloaded
// as eight, which the processor cannot forward from the store and stalls on.
inline uint64_t sign_of(const char* p) noexcept { return static_cast<uint64_t>(*p == '-') << 63; }

inline double from_bits(uint64_t bits, uint64_t sign) noexcept { return std::bit_cast<double>(bits | sign); }

inline bool word_is(const char* p, const char* word, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    // Only 'A'..'Z' and 'a'..'z' map onto a lower-case letter under | 0x20.
    if ((static_cast<unsigned char>(p[i]) | 0x20) != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// A token without mantissa digits: inf, infinity or nan, or invalid. With
// `whole` the token must run to `end`.
[[gnu::noinline]] ScanResult scan_word(const char* body, const char* end, uint64_t sign, bool whole,
                                       double& out) noexcept {
  const char* const stop = token_end(body, end);
  if (whole && stop != end) return {stop, false};
  const auto n = static_cast<std::size_t>(stop - body);
  uint64_t bits;
  if ((n == 3 && word_is(body, "inf", 3)) || (n == 8 && word_is(body, "infinity", 8))) {
    bits = kInfBits;
  } else if (n == 3 && word_is(body, "nan", 3)) {
    bits = kNanBits;
  } else {
    return {stop, false};
  }
  out = from_bits(bits, sign);
  return {stop, true};
}

[[gnu::noinline]] ScanResult invalid_from(const char* p, const char* end) noexcept {
  return {token_end(p, end), false};
}

// Reads the exponent whose 'e' or 'E' is at p, saturated far beyond any
// double's range (and any line length). Returns the position after its
// digits and the byte there in `stop` (a space at `end`), or, when it has no
// digits, the position of the offending byte with `stop` set to 0.
[[gnu::always_inline]] inline const char* read_exponent(const char* p, const char* end, int64_t& exponent,
                                                        unsigned& stop) noexcept {
  ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  const char* const digits = p;
  int64_t e = 0;
  for (; p != end && is_digit(*p); ++p) {
    if (e < 1000000000000000) e = e * 10 + (*p - '0');
  }
  stop = p != end ? static_cast<unsigned char>(*p) : ' ';
  if (p == digits) stop = 0;
  exponent = negative ? -e : e;
  return p;
}

// Any token: digit runs of any length, gathered a word at a time. kWhole:
// the token must run to `end` (parse_float), so whitespace is invalid too.
template <bool kWhole>
[[gnu::noinline]] ScanResult scan_general(const char* p, const char* end, const char* readable,
                                          double& out) noexcept {
  // Signs are mixed in real data: take one off without a branch.
  const uint64_t sign = sign_of(p);
  p += (*p == '-') | (*p == '+');

  uint64_t m = 0;
  unsigned stop;
  const char* const int_begin = p;
  p = take_run(p, end, readable, m, stop);
  const char* const int_end = p;
  const char* frac_begin = p;
  if (stop == '.') {
    frac_begin = ++p;
    p = take_run(p, end, readable, m, stop);
  }
  const char* const frac_end = p;
  const int64_t digits = (int_end - int_begin) + (frac_end - frac_begin);
  if (digits == 0) [[unlikely]] return scan_word(int_begin, end, sign, kWhole, out);

  int64_t exponent = 0;
  if ((stop | 0x20) == 'e') {
    p = read_exponent(p, end, exponent, stop);
  }
  if ((kWhole && p != end) || !is_ascii_space(static_cast<unsigned char>(stop))) [[unlikely]] {
    return invalid_from(p, end);
  }

  uint64_t bits;
  if (digits <= 19) [[likely]] {
    // m holds every digit (leading zeros included).
    const int64_t q = exponent - (frac_end - frac_begin);
    if (m != 0 && q >= kMinQ && q <= kMaxQ) [[likely]] {
      bits = decimal_bits(m, static_cast<int>(q));
    } else {
      // Zero, below 10^-324 (m < 10^19, q < -342), or at least 10^309.
      bits = m == 0 || q < 0 ? 0 : kInfBits;
    }
  } else {
    bits = long_value(int_begin, int_end, frac_begin, frac_end, exponent);
  }
  out = from_bits(bits, sign);
  return {p, true};
}

// A token "0." followed by one to sixteen digits and its separator, at p
// (after the sign): the digits after the point are the whole run, read from
// at most two words and padded with zero digits to eight or sixteen. Anything
// else (no digit, more digits, an exponent) is left to the general scan.
// Returns the token's end with the value in `out`, or null when not taken.
template <bool kWhole>
[[gnu::always_inline]] inline const char* scan_fraction(const char* p, const char* end, const char* readable,
                                                        std::ptrdiff_t avail, uint64_t sign, double& out) noexcept {
  const uint64_t a = fetch_at(p, 2, avail, end, readable);
  const uint64_t a_flags = non_digit_bytes(a);
  uint64_t m;
  unsigned digits;
  unsigned stop;
  bool eight = true;  // padded to eight digits, else to sixteen
  if (a_flags != 0) {
    const unsigned at = static_cast<unsigned>(std::countr_zero(a_flags)) - 7;
    m = digit_value8((a - kZeros) & below_first_flag(a_flags));
    digits = at / 8;
    stop = static_cast<unsigned>(a >> at) & 0xff;
  } else {
    const uint64_t b = fetch_at(p, 10, avail, end, readable);
    const uint64_t b_flags = non_digit_bytes(b);
    if ((b_flags & 0x80) != 0) {  // exactly eight digits
      m = digit_value8(a - kZeros);
      digits = 8;
      stop = static_cast<unsigned>(b) & 0xff;
    } else {
      eight = false;
      if (b_flags != 0) {
        const unsigned at = static_cast<unsigned>(std::countr_zero(b_flags)) - 7;
        m = digit_value16(a - kZeros, (b - kZeros) & below_first_flag(b_flags));
        digits = 8 + at / 8;
        stop = static_cast<unsigned>(b >> at) & 0xff;
      } else {
        stop = static_cast<unsigned>(fetch_at(p, 18, avail, end, readable)) & 0xff;
        if (is_digit(static_cast<char>(stop))) return nullptr;  // more than sixteen digits
        m = digit_value16(a - kZeros, b - kZeros);
        digits = 16;
      }
    }
  }
  const char* const after = p + 2 + digits;
  if (digits == 0 || !is_ascii_space(static_cast<unsigned char>(stop)) || (kWhole && after != end)) return nullptr;
  uint64_t bits;
  if (eight) {
    // m < 10^8 and 10^8 are exact doubles: one correctly rounded division.
    bits = std::bit_cast<uint64_t>(static_cast<double>(static_cast<std::int64_t>(m)) / 1e8);
  } else {
    bits = m == 0 ? 0 : decimal_bits(m, -16);
  }
  out = from_bits(bits, sign);
  return after;
}

// The usual token: at most seven integer digits, at most 19 digits in all.
// The point is taken out of the loaded words, so the digits form one run; a
// run that ends inside a word is padded with zero digits (a value times a
// power of ten, which the exponent takes back) instead of being shifted into
// place. Which words the run covers depends only on the token's shape, which
// repeats down a column.
template <bool kWhole>
[[gnu::always_inline]] inline ScanResult scan(const char* p, const char* end, const char* readable,
                                              double& out) noexcept {
  const char* const start = p;
  // Signs are mixed in real data: take one off without a branch.
  const uint64_t sign = sign_of(p);
  p += (*p == '-') | (*p == '+');

  const std::ptrdiff_t avail = end - p;
  const uint64_t w0 = fetch_at(p, 0, avail, end, readable);
  if ((w0 & 0xffff) == 0x2e30) {  // "0.": a fraction, as fractional coordinates are
    if (const char* const after = scan_fraction<kWhole>(p, end, readable, avail, sign, out)) return {after, true};
    return scan_general<kWhole>(start, end, readable, out);
  }
  const uint64_t f0 = non_digit_bytes(w0);
  if (f0 == 0) [[unlikely]] return scan_general<kWhole>(start, end, readable, out);
  const unsigned int8 = static_cast<unsigned>(std::countr_zero(f0)) - 7;  // 8 * integer digits
  const bool point = ((w0 >> int8) & 0xff) == '.';
  const uint64_t w1 = fetch_at(p, 8, avail, end, readable);
  uint64_t x0 = w0;
  if (point) {
    const uint64_t before = (uint64_t{1} << int8) - 1;
    x0 = (w0 & before) | ((w0 >> 8) & ~before) | (w1 << 56);
  }

  // m = the run's digits followed by zero digits up to `padded` digits.
  uint64_t m;
  int padded;
  uint64_t last;  // the word in which the run ends, and its flags
  uint64_t d = x0 - kZeros;
  uint64_t flags = non_digit_bytes(x0);
  unsigned run;  // digits before `last`
  if (flags != 0) {
    m = digit_value8(d & below_first_flag(flags));
    padded = 8;
    last = x0;
    run = 0;
  } else {
    const uint64_t w2 = fetch_at(p, 16, avail, end, readable);
    const uint64_t x1 = point ? (w1 >> 8) | (w2 << 56) : w1;
    const uint64_t d1 = x1 - kZeros;
    flags = non_digit_bytes(x1);
    if (flags != 0) {
      // At most seven more digits: padded to 15 digits (a zero digit in
      // front makes 16), so that m < 10^15 < 2^53.
      m = digit_value16(d << 8, (d >> 56) | ((d1 & below_first_flag(flags)) << 8));
      padded = 15;
      last = x1;
      run = 8;
    } else {
      // Up to three more digits (19 in all); the point, if any, lies before.
      const uint64_t x2 = point ? w2 >> 8 : w2;
      flags = non_digit_bytes(x2) | (uint64_t{0x80} << 24);
      const uint64_t three = ((x2 - kZeros) & below_first_flag(flags)) << 40;
      // Summed so that only one multiply waits for the first group.
      m = digit_value8(d) * 100000000000 + (digit_value8(d1) * 1000 + digit_value8(three));
      padded = 19;
      last = x2;
      run = 16;
      // Rare (19 digits in the first three words), so tested first: the digit
      // test after it would mispredict on whatever follows the token.
      if ((flags & 0xffffff) == 0 && is_digit(static_cast<char>(x2 >> 24))) [[unlikely]] {
        return scan_general<kWhole>(start, end, readable, out);  // 20 digits or more
      }
    }
  }
  const unsigned at = static_cast<unsigned>(std::countr_zero(flags)) - 7;  // 8 * digits in `last`
  unsigned stop = static_cast<unsigned>(last >> at) & 0xff;
  const unsigned digits = run + at / 8;
  if (digits == 0) [[unlikely]] return scan_word(p, end, sign, kWhole, out);
  const int int_digits = static_cast<int>(int8 / 8);
  p += digits + point;

  int64_t exponent = 0;
  if ((stop | 0x20) == 'e') p = read_exponent(p, end, exponent, stop);
  if ((kWhole && p != end) || !is_ascii_space(static_cast<unsigned char>(stop))) [[unlikely]] {
    return invalid_from(p, end);
  }

  // value = m * 10^(exponent + int_digits - padded)
  const int64_t q = exponent + int_digits - padded;
  if (padded != 19 && q >= -22 && q <= 22) {
    // m < 2^53 and 10^|q| are exact doubles: one correctly rounded operation.
    const auto v = static_cast<double>(static_cast<std::int64_t>(m));
    const double r = q < 0 ? v / kExactPow10[-q] : v * kExactPow10[q];
    out = from_bits(std::bit_cast<uint64_t>(r), sign);
    return {p, true};
  }
  uint64_t bits;
  if (m != 0 && q >= kMinQ && q <= kMaxQ) [[likely]] {
    bits = decimal_bits(m, static_cast<int>(q));
  } else {
    // Zero, below 10^-324 (m < 10^19, q < -342), or at least 10^309.
    bits = m == 0 || q < 0 ? 0 : kInfBits;
  }
  out = from_bits(bits, sign);
  return {p, true};
}

}  // namespace

ScanResult scan_float(const char* p, const char* end, const char* readable, double& out) noexcept {
  return scan<false>(p, end, readable, out);
}

#if AK_X86_PATHS
AK_TARGET_SSE4 ScanResult scan_float_vector(const char* p, const char* end, const char* readable,
                                            double& out) noexcept {
  const uint64_t sign = sign_of(p);
  const char* const body = p + ((*p == '-') | (*p == '+'));
  sse4::GatheredDigits g;
  // Fractions "0.ddd" take the word scan's own short path.
  if ((end - body >= 2 && body[0] == '0' && body[1] == '.') || !sse4::gather(body, end, readable, g)) {
    return scan_float(p, end, readable, out);
  }
  uint64_t bits;
  if (g.m <= uint64_t{1} << 53) {
    // m and 10^-exponent are exact doubles: one correctly rounded division.
    bits = std::bit_cast<uint64_t>(static_cast<double>(static_cast<std::int64_t>(g.m)) / kExactPow10[-g.exponent]);
  } else {
    bits = decimal_bits(g.m, g.exponent);
  }
  out = from_bits(bits, sign);
  return {g.end, true};
}
#endif

const char* parse_float(std::string_view token, double& out) noexcept {
  if (token.empty()) return kFloatEmpty;
  const char* const begin = token.data();
  const char* const end = begin + token.size();
  return scan<true>(begin, end, begin, out).ok ? nullptr : kFloatInvalid;
}

}  // namespace ak::text
