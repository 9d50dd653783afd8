// Integer parse of one whole token into a signed 64-bit value.
//
// Accepted: an optional '+' or '-' followed by one or more ASCII digits, and
// nothing else (no spaces, points, exponents or prefixes). Characters are
// examined left to right, and the first position where either a non-digit
// appears or the value leaves the signed 64-bit range decides which failure
// is reported.
#pragma once

#include <cstdint>
#include <string_view>

namespace ak::text {

extern const char kIntEmpty[];         // "cannot parse integer from empty string"
extern const char kIntInvalidDigit[];  // "invalid digit found in string"
extern const char kIntTooLarge[];      // "number too large to fit in target type"
extern const char kIntTooSmall[];      // "number too small to fit in target type"

// Returns nullptr on success (value in `out`), otherwise one of the four texts
// above; `out` is left untouched on failure.
const char* parse_int64(std::string_view token, std::int64_t& out) noexcept;

}  // namespace ak::text
