#include "text/int_parse.hpp"

#include <cstddef>
#include <cstdint>

namespace ak::text {

const char kIntEmpty[] = "cannot parse integer from empty string";
const char kIntInvalidDigit[] = "invalid digit found in string";
const char kIntTooLarge[] = "number too large to fit in target type";
const char kIntTooSmall[] = "number too small to fit in target type";

const char* parse_int64(std::string_view token, std::int64_t& out) noexcept {
  const char* p = token.data();
  const char* const end = p + token.size();
  if (p == end) return kIntEmpty;

  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
    if (p == end) return kIntInvalidDigit;
  }

  // The magnitude is gathered unsigned; a negative value may reach 2^63.
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : std::uint64_t{INT64_MAX};
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
  out = negative ? static_cast<std::int64_t>(std::uint64_t{0} - value)
                 : static_cast<std::int64_t>(value);
  return nullptr;
}

}  // namespace ak::text
