#include "text/unicode.hpp"

#include <algorithm>
#include <charconv>
#include <span>

#include "text/unicode_tables.hpp"

namespace ak::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kFinalSigma = 0x03C2;

unsigned char byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<unsigned char>(text[i]);
}

bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Decodes the code point that starts at text[i] (i < size) and stores the
// index just past it in `next`. A malformed or truncated sequence, an
// overlong form or an encoded surrogate reads as U+FFFD and consumes one byte.
char32_t decode_at(std::string_view text, std::size_t i, std::size_t& next) noexcept {
  const unsigned char lead = byte_at(text, i);
  next = i + 1;
  if (lead < 0x80) return lead;
  std::size_t length;
  char32_t cp;
  char32_t smallest;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, smallest = 0x10000;
  } else {
    return kReplacement;
  }
  if (text.size() - i < length) return kReplacement;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = byte_at(text, i + k);
    if (!is_continuation(b)) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < smallest || !is_unicode_scalar(cp)) return kReplacement;
  next = i + length;
  return cp;
}

// Start of the code point that ends just before text[i] (0 < i <= size).
std::size_t previous_start(std::string_view text, std::size_t i) noexcept {
  std::size_t j = i - 1;
  while (j > 0 && i - j < 4 && is_continuation(byte_at(text, j))) --j;
  return j;
}

bool in_ranges(std::span<const ucd::Range> table, char32_t cp) noexcept {
  // First range starting after cp; the one before it is the only candidate.
  const auto after = std::upper_bound(table.begin(), table.end(), cp,
                                      [](char32_t c, const ucd::Range& r) { return c < r.first; });
  return after != table.begin() && cp <= std::prev(after)->last;
}

bool is_cased(char32_t cp) noexcept { return in_ranges(ucd::cased, cp); }
bool is_case_ignorable(char32_t cp) noexcept { return in_ranges(ucd::case_ignorable, cp); }

// Writes the full case mapping of cp (one to three code points) into `out`
// and returns how many were written.
int map_case(std::span<const ucd::DeltaRun> runs, std::span<const ucd::MultiMapping> multi,
             char32_t cp, char32_t out[3]) noexcept {
  const auto m = std::lower_bound(multi.begin(), multi.end(), cp,
                                  [](const ucd::MultiMapping& e, char32_t c) { return e.cp < c; });
  if (m != multi.end() && m->cp == cp) {
    int n = 0;
    while (n < 3 && m->to[n] != 0) {
      out[n] = m->to[n];
      ++n;
    }
    return n;
  }
  out[0] = cp;
  const auto after = std::upper_bound(runs.begin(), runs.end(), cp,
                                      [](char32_t c, const ucd::DeltaRun& r) { return c < r.first; });
  if (after != runs.begin()) {
    const ucd::DeltaRun& run = *std::prev(after);
    if (cp <= run.last && (cp - run.first) % run.stride == 0) {
      out[0] = static_cast<char32_t>(static_cast<std::int32_t>(cp) + run.delta);
    }
  }
  return 1;
}

int to_lower_full(char32_t cp, char32_t out[3]) noexcept {
  return map_case(ucd::lower_runs, ucd::lower_multi, cp, out);
}

int to_upper_full(char32_t cp, char32_t out[3]) noexcept {
  return map_case(ucd::upper_runs, ucd::upper_multi, cp, out);
}

// Final_Sigma: the capital sigma at text[i, next) lowers to the final form
// when, skipping case-ignorable characters, the nearest character before it
// is cased and the nearest character after it (if any) is not. Each scan
// stops at the first character that is not case-ignorable, so a token full of
// sigmas is still read in linear time.
bool is_final_sigma(std::string_view text, std::size_t i, std::size_t next) noexcept {
  bool cased_before = false;
  for (std::size_t j = i; j > 0;) {
    j = previous_start(text, j);
    std::size_t unused;
    const char32_t c = decode_at(text, j, unused);
    if (!is_case_ignorable(c)) {
      cased_before = is_cased(c);
      break;
    }
  }
  if (!cased_before) return false;
  for (std::size_t j = next; j < text.size();) {
    const char32_t c = decode_at(text, j, j);
    if (!is_case_ignorable(c)) return !is_cased(c);
  }
  return true;
}

bool is_ascii(std::string_view text) noexcept {
  unsigned char any = 0;
  for (const char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

char ascii_lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char ascii_upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

void append_escape(std::string& out, char32_t cp) {
  char hex[8];
  const auto end = std::to_chars(hex, hex + sizeof hex, static_cast<std::uint32_t>(cp), 16).ptr;
  out += "\\u{";
  out.append(hex, end);
  out += '}';
}

}  // namespace

std::uint64_t normalize_symbol_word(std::uint64_t word, std::size_t) noexcept {
  // The bytes above the token are zero, which no step below changes.
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  if ((word & kHighs) != 0) return 0;
  // Bytes 'A'..'Z': at least 'A' and not above 'Z' (no carries: every byte is below 0x80).
  const std::uint64_t upper = (word + kOnes * (0x80 - 'A')) & ~(word + kOnes * (0x80 - 'Z' - 1)) & kHighs;
  std::uint64_t lower = word | (upper >> 2);  // 0x80 >> 2 is the case bit
  const auto first = static_cast<unsigned char>(lower);
  if (first >= 'a' && first <= 'z') lower ^= 0x20;
  return lower;
}

std::string normalize_symbol(std::string_view token) {
  std::string out;
  if (is_ascii(token)) {
    out.resize(token.size());
    std::transform(token.begin(), token.end(), out.begin(), ascii_lower);
    if (!out.empty()) out[0] = ascii_upper(out[0]);
    return out;
  }
  out.reserve(token.size() + 8);
  char32_t lower[3];
  char32_t upper[3];
  for (std::size_t i = 0, next = 0; i < token.size(); i = next) {
    const char32_t cp = decode_at(token, i, next);
    int n_lower = 1;
    if (cp == kCapitalSigma) {
      lower[0] = is_final_sigma(token, i, next) ? kFinalSigma : kSmallSigma;
    } else {
      n_lower = to_lower_full(cp, lower);
    }
    int k = 0;
    if (i == 0) {
      // The first character of the lowered text takes its full upper case;
      // the rest of its lower-case expansion (if any) follows unchanged.
      const int n_upper = to_upper_full(lower[0], upper);
      for (int u = 0; u < n_upper; ++u) append_utf8(out, upper[u]);
      k = 1;
    }
    for (; k < n_lower; ++k) append_utf8(out, lower[k]);
  }
  return out;
}

void append_quoted_token(std::string& out, std::string_view token) {
  out.reserve(out.size() + token.size() + 2);
  out += '"';
  for (std::size_t i = 0, next = 0; i < token.size(); i = next) {
    const unsigned char b = byte_at(token, i);
    if (b < 0x80) {
      next = i + 1;
      if (b == '"') {
        out += "\\\"";
      } else if (b == '\\') {
        out += "\\\\";
      } else if (b == 0) {
        out += "\\0";
      } else if (b < 0x20 || b == 0x7F) {
        append_escape(out, b);
      } else {
        out += static_cast<char>(b);
      }
      continue;
    }
    const char32_t cp = decode_at(token, i, next);
    if (is_not_printable(cp) || is_grapheme_extend(cp)) {
      append_escape(out, cp);
    } else {
      // Re-encoded rather than copied, so the message stays valid UTF-8
      // even if a malformed byte (read as U+FFFD) got this far.
      append_utf8(out, cp);
    }
  }
  out += '"';
}

std::size_t count_chars(std::string_view utf8) noexcept {
  std::size_t n = 0;
  for (const char c : utf8) n += !is_continuation(static_cast<unsigned char>(c));
  return n;
}

void append_utf8(std::string& out, char32_t cp) {
  // Not a scalar value despite the contract: write U+FFFD rather than bytes
  // no decoder accepts.
  if (!is_unicode_scalar(cp)) cp = kReplacement;
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(put_utf8(bytes, cp) - bytes));
}

bool is_unicode_scalar(std::uint32_t cp) noexcept {
  return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

bool is_not_printable(char32_t cp) noexcept {
  if (cp < 0x80) return cp < 0x20 || cp == 0x7F;
  if (cp > 0x10FFFF) return true;
  return in_ranges(ucd::not_printable, cp);
}

bool is_grapheme_extend(char32_t cp) noexcept {
  if (cp < 0x80) return false;
  return in_ranges(ucd::grapheme_extend, cp);
}

}  // namespace ak::text
