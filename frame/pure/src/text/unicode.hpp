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
// normalize_symbol of an ASCII token of n <= 8 bytes held in one word (byte
// k is bits 8k..8k+7, zero above n), as a word; 0 when a byte is not ASCII.
std::uint64_t normalize_symbol_word(std::uint64_t word, std::size_t n) noexcept;

// Appends the token in double quotes with the escaping of error messages:
// '"' -> \", '\' -> \\, NUL -> \0; other control characters, characters that
// are not printable and Grapheme_Extend characters -> \u{hex}, lowercase hex
// without leading zeros; everything else, non-ASCII letters included, as is.
// A single quote is not escaped. The token is valid UTF-8.
void append_quoted_token(std::string& out, std::string_view token);

// Number of Unicode scalar values in valid UTF-8 text.
std::size_t count_chars(std::string_view utf8) noexcept;

// Writes the UTF-8 encoding (1 to 4 bytes) of a Unicode scalar value at p,
// which has room for 4 bytes, and returns the end of the bytes. The caller
// guarantees cp is a scalar value.
inline char* put_utf8(char* p, char32_t cp) noexcept {
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return p;
}

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
