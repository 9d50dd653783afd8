// Lazy tokenizer over one line: tokens are maximal runs of bytes that are not
// ASCII whitespace (TAB, LF, FF, CR, SPACE). Vertical tab and every non-ASCII
// byte belong to tokens. Tokens are taken one at a time from the front; the
// rest of the line is never looked at.
#pragma once

#include <string_view>

namespace ak::text {

constexpr bool is_ascii_space(unsigned char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view line) noexcept
      : pos_(line.data()), end_(line.data() + line.size()) {}

  // Stores the next token in `token` and returns true, or returns false when
  // the line holds no more tokens.
  bool next(std::string_view& token) noexcept {
    const char* p = pos_;
    while (p != end_ && is_ascii_space(static_cast<unsigned char>(*p))) ++p;
    if (p == end_) {
      pos_ = p;
      return false;
    }
    const char* start = p;
    while (p != end_ && !is_ascii_space(static_cast<unsigned char>(*p))) ++p;
    pos_ = p;
    token = std::string_view(start, static_cast<std::size_t>(p - start));
    return true;
  }

 private:
  const char* pos_;
  const char* end_;
};

}  // namespace ak::text
