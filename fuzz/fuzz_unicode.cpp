// Unicode helpers on arbitrary bytes and on valid UTF-8.
//
// On any bytes (malformed UTF-8 included) nothing may read outside the text;
// every result must be valid UTF-8. On valid UTF-8:
//   append_quoted_token: the quotes and escapes undo to the token exactly,
//     and no control, unprintable or combining character is left bare;
//   count_chars: equals the number of decoded scalar values;
//   normalize_symbol: non-empty, and unchanged for ASCII beyond the plain
//     "first upper, rest lower" rule;
//   append_utf8 / is_unicode_scalar: agree with a strict decoder for values
//     taken from the input.

#include <cstring>

#include "common.hpp"
#include "text/unicode.hpp"

namespace {

using fuzzkit::require;

// Undoes the quoting: returns false when the text is not a well-formed quoted
// token.
bool unquote(std::string_view q, std::string& out) {
  if (q.size() < 2 || q.front() != '"' || q.back() != '"') return false;
  q = q.substr(1, q.size() - 2);
  for (std::size_t i = 0; i < q.size(); ++i) {
    if (q[i] == '"') return false;  // a bare quote inside
    if (q[i] != '\\') {
      out.push_back(q[i]);
      continue;
    }
    if (++i == q.size()) return false;
    switch (q[i]) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '0': out.push_back('\0'); break;
      case 'u': {
        if (++i == q.size() || q[i] != '{') return false;
        std::size_t close = q.find('}', i);
        if (close == std::string_view::npos || close == i + 1 || close - i - 1 > 6) return false;
        std::string_view hex = q.substr(i + 1, close - i - 1);
        if (hex.size() > 1 && hex[0] == '0') return false;  // no leading zeros
        std::uint32_t cp = 0;
        for (char h : hex) {
          if (h >= '0' && h <= '9') cp = cp * 16 + static_cast<std::uint32_t>(h - '0');
          else if (h >= 'a' && h <= 'f') cp = cp * 16 + static_cast<std::uint32_t>(h - 'a' + 10);
          else return false;  // lowercase only
        }
        if (!ak::text::is_unicode_scalar(cp)) return false;
        ak::text::append_utf8(out, static_cast<char32_t>(cp));
        i = close;
        break;
      }
      default: return false;
    }
  }
  return true;
}

void check_quoting(std::string_view token, const std::vector<char32_t>& cps) {
  std::string q = "prefix ";
  ak::text::append_quoted_token(q, token);
  require(q.compare(0, 7, "prefix ") == 0, "quoting changed what was before it");
  std::string_view quoted = std::string_view(q).substr(7);
  std::string back;
  require(unquote(quoted, back), "quoted text is malformed", quoted);
  require(back == token, "quoting does not undo to the token", quoted);
  std::vector<char32_t> shown;
  require(fuzzkit::decode_utf8(quoted, &shown), "quoted text is not UTF-8");
  for (char32_t cp : shown) {
    require(cp >= 0x20 && cp != 0x7F, "bare control character in quoted text", quoted);
    if (cp >= 0x80) {
      require(!ak::text::is_not_printable(cp) && !ak::text::is_grapheme_extend(cp),
              "bare unprintable or combining character in quoted text", quoted);
    }
  }
  // Every character that should be escaped was: count the escapes expected.
  std::size_t escapes = 0;
  for (char32_t cp : cps) {
    escapes += cp == '"' || cp == '\\' || cp == 0 || cp < 0x20 || cp == 0x7F ||
               (cp >= 0x80 && (ak::text::is_not_printable(cp) || ak::text::is_grapheme_extend(cp)));
  }
  std::size_t backslashes = 0;
  for (char c : quoted) backslashes += c == '\\';
  require(backslashes == escapes + [&] {
            std::size_t n = 0;
            for (char32_t cp : cps) n += cp == '\\';
            return n;
          }(), "escape count", quoted);
}

void check_symbol(std::string_view token, bool valid) {
  if (token.empty()) return;
  const std::string sym = ak::text::normalize_symbol(token);
  require(!sym.empty(), "empty symbol");
  if (token.size() <= 8) {
    // The word form, where it answers, gives the same bytes.
    std::uint64_t word = 0;
    std::memcpy(&word, token.data(), token.size());
    if (const std::uint64_t got = ak::text::normalize_symbol_word(word, token.size()); got != 0) {
      char bytes[8];
      std::memcpy(bytes, &got, sizeof bytes);
      require(std::string_view(bytes, token.size()) == sym, "symbol word", sym);
    }
  }
  require(fuzzkit::decode_utf8(sym, nullptr), "symbol is not valid UTF-8");
  if (!valid) return;
  bool ascii = true;
  for (char c : token) ascii &= static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    std::string want(token);
    for (auto& c : want) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (want[0] >= 'a' && want[0] <= 'z') want[0] = static_cast<char>(want[0] - 'a' + 'A');
    require(sym == want, "ASCII symbol", sym);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<char32_t> cps;
  const bool valid = fuzzkit::decode_utf8(text, &cps);

  // Malformed input: must stay inside the text and give valid UTF-8.
  check_symbol(text, valid);
  std::string q;
  ak::text::append_quoted_token(q, text);
  require(fuzzkit::decode_utf8(q, nullptr), "quoted text is not UTF-8");
  (void)ak::text::count_chars(text);

  if (valid) {
    require(ak::text::count_chars(text) == cps.size(), "count_chars");
    check_quoting(text, cps);
  }

  // Code points from the raw bytes, 4 at a time, through the classifiers.
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    std::uint32_t v;
    std::memcpy(&v, data + i, 4);
    v &= 0x1FFFFF;
    const bool scalar = v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF);
    require(ak::text::is_unicode_scalar(v) == scalar, "is_unicode_scalar");
    if (v > 0x10FFFF) require(ak::text::is_not_printable(v), "beyond U+10FFFF is not printable");
    (void)ak::text::is_grapheme_extend(v);
    if (scalar) {
      std::string enc;
      ak::text::append_utf8(enc, v);
      std::vector<char32_t> dec;
      require(fuzzkit::decode_utf8(enc, &dec) && dec.size() == 1 && dec[0] == v, "append_utf8");
      require(ak::text::count_chars(enc) == 1, "count_chars of one character");
    }
  }
  return 0;
}
