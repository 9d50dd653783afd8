#include "text/int_parse.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/digit_words.hpp"
#include "text/pow10.hpp"
#include "text/tokenizer.hpp"

namespace ak::text {

const char kIntEmpty[] = "cannot parse integer from empty string";
const char kIntInvalidDigit[] = "invalid digit found in string";
const char kIntTooLarge[] = "number too large to fit in target type";
const char kIntTooSmall[] = "number too small to fit in target type";

namespace {

using namespace words;

// The whole token [p, end), not empty, left to right.
[[gnu::noinline]] const char* parse_token(const char* p, const char* end, std::int64_t& out) noexcept {
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    if (p == end) return kIntInvalidDigit;
  }

  // The magnitude is gathered unsigned; a negative value may reach 2^63.
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : std::uint64_t{INT64_MAX};
  std::uint64_t value = 0;

  // Eighteen digits stay below 10^18 < 2^63, so they need no range check.
  const std::size_t left = static_cast<std::size_t>(end - p);
  const char* const unchecked_end = p + (left < 18 ? left : 18);
  for (; p != unchecked_end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit > 9) return kIntInvalidDigit;
    value = value * 10 + digit;
  }
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit > 9) return kIntInvalidDigit;
    // value * 10 + digit <= limit  <=>  value <= (limit - digit) / 10
    if (value > (limit - digit) / 10) return negative ? kIntTooSmall : kIntTooLarge;
    value = value * 10 + digit;
  }

  // Two's-complement negation; 2^63 maps onto INT64_MIN.
  out = negative ? static_cast<std::int64_t>(std::uint64_t{0} - value) : static_cast<std::int64_t>(value);
  return nullptr;
}

[[gnu::noinline]] IntScanResult scan_slow(const char* start, const char* end, std::int64_t& out) noexcept {
  const char* const stop = token_end(start, end);
  return {stop, parse_token(start, stop, out)};
}

// Tokens of 1 to 15 digits followed by whitespace (or the end) take two
// words at most (eight digits and then up to seven) and cannot leave the
// range; everything else goes the left-to-right way, which also decides the
// failure text.
[[gnu::always_inline]] inline IntScanResult scan(const char* p, const char* end, const char* readable,
                                                 std::int64_t& out) noexcept {
  const char* const start = p;
  const bool negative = *p == '-';
  p += negative | (*p == '+');
  const char* const body = p;
  std::uint64_t w = fetch(p, end, readable);
  std::uint64_t flags = non_digit_bytes(w);
  std::uint64_t value = 0;
  if (flags == 0) {
    value = eight_digits(w);
    p += 8;
    w = fetch(p, end, readable);
    flags = non_digit_bytes(w);
    if (flags == 0) [[unlikely]] return scan_slow(start, end, out);
  }
  const unsigned at = static_cast<unsigned>(std::countr_zero(flags)) - 7;  // 8 * digit count
  p += at / 8;
  if (p == body || !is_ascii_space(static_cast<unsigned char>(w >> at))) [[unlikely]] {
    return scan_slow(start, end, out);
  }
  value = value * kPow10[at / 8] + eight_digits(leading_group(w, at));
  out = negative ? static_cast<std::int64_t>(std::uint64_t{0} - value) : static_cast<std::int64_t>(value);
  return {p, nullptr};
}

}  // namespace

IntScanResult scan_int64(const char* p, const char* end, const char* readable, std::int64_t& out) noexcept {
  return scan(p, end, readable, out);
}

const char* parse_int64(std::string_view token, std::int64_t& out) noexcept {
  if (token.empty()) return kIntEmpty;
  const char* const begin = token.data();
  const char* const end = begin + token.size();
  if (is_ascii_space(static_cast<unsigned char>(*begin))) return kIntInvalidDigit;
  std::int64_t value;
  const IntScanResult r = scan(begin, end, begin, value);
  if (r.error != nullptr) return r.error;
  if (r.end != end) return kIntInvalidDigit;  // whitespace inside the token
  out = value;
  return nullptr;
}

}  // namespace ak::text
