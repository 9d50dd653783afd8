// Unicode character data behind ak::text (unicode.hpp). The tables are
// generated into unicode_tables.cpp by tools/gen_unicode_tables.py; the
// lookups themselves live in unicode.cpp.
//
// Every table is sorted by code point and its entries' [first, last]
// intervals are disjoint, so a lookup is one binary search.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ak::text::ucd {

// The closed interval [first, last] of code points.
struct Range {
  char32_t first;
  char32_t last;
};

// Code points first, first + stride, ..., last (stride 1 or 2) each map to
// themselves plus delta; the code points a stride-2 run steps over are not
// in the run. Case tables pair upper and lower letters in alternating
// blocks, hence the stride.
struct DeltaRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

// A code point whose case mapping is two or three code points; an unused
// last slot holds 0.
struct MultiMapping {
  char32_t cp;
  char32_t to[3];
};

// Version of the Unicode Character Database the tables were built from.
extern const std::string_view unicode_version;

extern const std::span<const Range> cased;
extern const std::span<const Range> case_ignorable;
extern const std::span<const Range> grapheme_extend;
// General categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs, without U+0020.
extern const std::span<const Range> not_printable;

// Full case mappings, unconditional entries only (no Final_Sigma, no
// language-specific rules). A code point in neither table of a mapping maps
// to itself; none is in both.
extern const std::span<const DeltaRun> lower_runs;
extern const std::span<const MultiMapping> lower_multi;
extern const std::span<const DeltaRun> upper_runs;
extern const std::span<const MultiMapping> upper_multi;

}  // namespace ak::text::ucd
