// Decimal float parse into a binary64 value.
//
// Grammar (the whole token must match, nothing is trimmed):
//   [+|-] ( inf | infinity | nan )                 letters in any case
//   [+|-] digits [. digits] [(e|E) [+|-] digits]   at least one mantissa digit,
//                                                  either side of the point
// The value is the double nearest to the exact decimal value, ties to even,
// for any number of digits; magnitudes past the largest double give infinity
// and those below half the smallest subnormal give zero. A leading '-' sets
// the sign bit, also of zero, infinity and NaN.
//
// Tokens are separated by ASCII whitespace: TAB, LF, FF, CR and SPACE only
// (vertical tab, NUL and every non-ASCII byte belong to a token).
#pragma once

#include <string_view>

#include "simd_path.hpp"  // AK_X86_PATHS, AK_TARGET_SSE4

namespace ak::text {

extern const char kFloatEmpty[];    // "cannot parse float from empty string"
extern const char kFloatInvalid[];  // "invalid float literal"

// Returns nullptr on success (value in `out`), otherwise kFloatEmpty or
// kFloatInvalid; `out` is left untouched on failure.
const char* parse_float(std::string_view token, double& out) noexcept;

struct ScanResult {
  const char* end;  // first ASCII whitespace byte after the token, or the line end
  bool ok;          // the token is a valid float
};

// Parses the token that starts at p (p < end, *p not ASCII whitespace) and
// runs to the first ASCII whitespace byte or `end`. Bytes in [readable, end)
// may be loaded (readable <= p; it is the start of the line, so word loads
// that end at `end` are allowed). Returns the token's end (always, also on
// failure) and whether the token is a valid float; on success the value is
// stored in `out` (exactly parse_float(token)), on failure `out` is untouched
// and the failure text is kFloatInvalid (a token is never empty).
ScanResult scan_float(const char* p, const char* end, const char* readable, double& out) noexcept;

#if AK_X86_PATHS
// scan_float for the readers' sse4 path (only where simd_path_supported(sse4)):
// the same results, the usual token gathered with 16-byte vectors
// (text/float_gather_sse4.hpp), every other one by scan_float. Faster where
// token shapes vary (signs, integer digit counts), as in atom-line rows and
// Cartesian XYZ coordinates, whose scalar scan mispredicts on the shape;
// fractions "0.ddd" (POSCAR and XDATCAR coordinates) take scan_float's own
// short path either way.
ScanResult scan_float_vector(const char* p, const char* end, const char* readable, double& out) noexcept;
#endif

}  // namespace ak::text
