// The token starts of a line, found for up to 64 bytes at once. A reader
// that steps from token to token by the end of the one before waits, at
// every token, for that token's whole scan; here every start is known from
// a mask of the line's whitespace (text/bytes.hpp), so the scans of one line
// do not wait on each other. Starts come out in order, exactly those that
// skip_space() and the scans would reach.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ak::text {

namespace detail {
// Bit i set when byte window + i is in [window, end) and is not ASCII
// whitespace; bytes in [begin, end) may be loaded (begin <= window < end).
std::uint64_t token_bytes(const char* window, const char* begin, const char* end) noexcept;
}  // namespace detail

class LineTokens {
 public:
  LineTokens(const char* begin, const char* end) noexcept : begin_(begin), end_(end), window_(begin) {
    if (begin != end) {
      const std::uint64_t bytes = detail::token_bytes(begin, begin, end);
      starts_ = bytes & ~(bytes << 1);
      last_in_token_ = bytes >> 63;
    }
  }

  // The start of the next token, or the line's end when none is left.
  const char* next() noexcept {
    while (starts_ == 0) {
      if (end_ - window_ <= 64) return end_;
      window_ += 64;
      const std::uint64_t bytes = detail::token_bytes(window_, begin_, end_);
      starts_ = bytes & ~((bytes << 1) | last_in_token_);  // a token running on from the window before
      last_in_token_ = bytes >> 63;
    }
    const char* const start = window_ + std::countr_zero(starts_);
    starts_ &= starts_ - 1;
    return start;
  }

 private:
  const char* begin_;
  const char* end_;
  const char* window_;        // the 64 bytes the starts are for
  std::uint64_t starts_ = 0;  // bit i: a token starts at window_ + i, not yet handed out
  std::uint64_t last_in_token_ = 0;  // the window's last byte belongs to a token
};

}  // namespace ak::text
