// The token starts of a line, found for up to 64 bytes at once (the readers'
// sse4 path of simd_path.hpp: x86-64 only). A reader that steps from token
// to token by the end of the one before waits, at every token, for that
// token's whole scan; here every start is known from a mask of the line's
// whitespace (text/bytes.hpp), so the scans of one line do not wait on each
// other. Starts come out in order, exactly those that skip_space() and the
// scans would reach.
//
// Only code compiled for that path (AK_TARGET_SSE4 or wider) may use it;
// such code is flattened (gnu::flatten) so that these calls are inlined.
#pragma once

#include "simd_path.hpp"  // AK_X86_PATHS, AK_TARGET_SSE4

#if AK_X86_PATHS
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/tokenizer.hpp"

namespace ak::text {

namespace detail {

// One bit per lane of v that is not ASCII whitespace, by one table look-up:
// the low nibble of each whitespace byte picks the byte itself; every other
// byte picks a value it is not (bytes of 0x80 and up pick 0).
[[gnu::always_inline]] AK_TARGET_SSE4 inline unsigned token_lanes(__m128i v) noexcept {
  const __m128i table = _mm_setr_epi8(0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x0a, 0, 0x0c, 0x0d, 0, 0);
  return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_shuffle_epi8(table, v), v))) & 0xffff;
}

// Bit i set when byte window + i is in [window, end) and is not ASCII
// whitespace. Bytes in [begin, end) may be loaded (begin <= window < end,
// end - begin >= 16).
[[gnu::always_inline]] AK_TARGET_SSE4 inline std::uint64_t token_bytes(const char* window,
                                                                       const char* end) noexcept {
  std::uint64_t bytes = 0;
  for (int k = 0; k < 4; ++k) {
    const char* const p = window + 16 * k;
    const std::ptrdiff_t left = end - p;
    if (left >= 16) {
      bytes |= std::uint64_t{token_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))} << (16 * k);
      continue;
    }
    if (left > 0) {
      // The sixteen bytes ending at `end`, moved down to p; none past `end`.
      const unsigned lanes = token_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)));
      bytes |= std::uint64_t{lanes >> (16 - left)} << (16 * k);
    }
    break;
  }
  return bytes;
}

}  // namespace detail

class LineTokens {
 public:
  AK_TARGET_SSE4 LineTokens(const char* begin, const char* end) noexcept
      : end_(end), window_(begin), short_line_(end - begin < 16) {
    if (short_line_) return;  // a line of fewer than 16 bytes is stepped through by skip_space()
    const std::uint64_t bytes = detail::token_bytes(begin, end);
    starts_ = bytes & ~(bytes << 1);
    last_in_token_ = bytes >> 63;
  }

  // The start of the next token, or the line's end when none is left.
  // `after` is where the last token handed out ends (used on short lines).
  AK_TARGET_SSE4 const char* next(const char* after) noexcept {
    if (short_line_) [[unlikely]] return skip_space(after, end_);
    while (starts_ == 0) {
      if (end_ - window_ <= 64) return end_;
      window_ += 64;
      const std::uint64_t bytes = detail::token_bytes(window_, end_);
      starts_ = bytes & ~((bytes << 1) | last_in_token_);  // a token running on from the window before
      last_in_token_ = bytes >> 63;
    }
    const char* const start = window_ + std::countr_zero(starts_);
    starts_ &= starts_ - 1;
    return start;
  }

 private:
  const char* end_;
  const char* window_;               // the 64 bytes the starts are for
  bool short_line_;
  std::uint64_t starts_ = 0;         // bit i: a token starts at window_ + i, not yet handed out
  std::uint64_t last_in_token_ = 0;  // the window's last byte belongs to a token
};

}  // namespace ak::text

#endif
