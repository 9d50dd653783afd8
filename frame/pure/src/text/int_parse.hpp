// Integer parse of one token into a signed 64-bit value.
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

struct IntScanResult {
  const char* end;    // first ASCII whitespace byte after the token, or the line end
  const char* error;  // nullptr when the token is a valid integer, else the failure text
};

// Parses the token that starts at p (p < end, *p not ASCII whitespace) and
// runs to the first ASCII whitespace byte (TAB, LF, FF, CR, SPACE) or `end`.
// Bytes in [readable, end) may be loaded (readable <= p). Returns the token's
// end (always) and nullptr with the value in `out`, or the failure text
// parse_int64(token) gives (never kIntEmpty) with `out` untouched.
IntScanResult scan_int64(const char* p, const char* end, const char* readable, std::int64_t& out) noexcept;

}  // namespace ak::text
