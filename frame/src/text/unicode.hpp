// The little Unicode the readers and writers need: chemical-symbol case
// normalisation, token quoting for error messages, and UTF-8 counting and
// encoding. Tables come from unicode_tables.cpp (generated).
//
// Inputs documented as valid UTF-8 come from interpreter strings. Should a
// malformed sequence slip through anyway, each bad byte is read as U+FFFD:
// no routine here ever reads outside the text it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ak::text {

// Normalised chemical symbol of a (non-empty, valid UTF-8) token: full
// lower-case mapping of the whole token with Final_Sigma, then the first
// character replaced by its full upper-case mapping (not its title case).
// Pure-ASCII tokens, the common case ("FE" -> "Fe"), take no table lookups.
std::string normalize_symbol(std::string_view token);

// Appends the token in double quotes with the escaping of error messages:
// '"' -> \", '\' -> \\, NUL -> \0; other control characters, characters that
// are not printable and Grapheme_Extend characters -> \u{hex}, lowercase hex
// without leading zeros; everything else, non-ASCII letters included, as is.
// A single quote is not escaped. The token is valid UTF-8.
void append_quoted_token(std::string& out, std::string_view token);

// Number of Unicode scalar values in valid UTF-8 text.
std::size_t count_chars(std::string_view utf8) noexcept;

// Appends the UTF-8 encoding of a Unicode scalar value (caller guarantees it
// is one).
void append_utf8(std::string& out, char32_t cp);

// True for 0..0x10FFFF outside the surrogates U+D800..U+DFFF.
bool is_unicode_scalar(std::uint32_t cp) noexcept;

// General category Cc, Cf, Cs, Co, Cn, Zl, Zp or Zs, except U+0020; also
// true for values beyond U+10FFFF.
bool is_not_printable(char32_t cp) noexcept;

bool is_grapheme_extend(char32_t cp) noexcept;

}  // namespace ak::text
