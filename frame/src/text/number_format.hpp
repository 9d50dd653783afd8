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
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace ak::text
