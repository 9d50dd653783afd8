#include "text/line_tokens.hpp"

#include <cstring>

#include "text/bytes.hpp"
#include "text/scan_path.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define AK_LINE_TOKENS_SSSE3 1
#endif

namespace ak::text::detail {

namespace {

// 0x80 in each byte of w that is ASCII whitespace, exactly (no carry
// crosses a byte).
std::uint64_t space_flags(std::uint64_t w) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
  const auto zero = [](std::uint64_t x) { return ~(((x & kLow7) + kLow7) | x) & ~kLow7; };
  return zero(w ^ (kOnes * 0x20)) | zero(w ^ (kOnes * 0x09)) | zero(w ^ (kOnes * 0x0a)) | zero(w ^ (kOnes * 0x0c)) |
         zero(w ^ (kOnes * 0x0d));
}

// The high bits of the eight bytes of flags (each 0x80 or 0) as eight bits,
// byte 0 lowest: the multiply moves bit 8k + 7 to bit 56 + k, and no two
// partial products overlap.
std::uint64_t gather_flags(std::uint64_t flags) noexcept { return ((flags >> 7) * 0x0102040810204080ull) >> 56; }

std::uint64_t token_bytes_portable(const char* window, const char* begin, const char* end) noexcept {
  std::uint64_t bytes = 0;
  for (int k = 0; k < 8; ++k) {
    const char* const p = window + 8 * k;
    const std::ptrdiff_t left = end - p;
    if (left <= 0) break;
    std::uint64_t w;
    if (left >= 8) {
      w = load8(p);
    } else {
      // The bytes from `end` on read as spaces.
      w = 0x2020202020202020ull;
      std::memcpy(&w, p, static_cast<std::size_t>(left));
    }
    bytes |= (gather_flags(~space_flags(w) & 0x8080808080808080ull)) << (8 * k);
  }
  static_cast<void>(begin);
  return bytes;
}

#if defined(AK_LINE_TOKENS_SSSE3)
// Token lanes by one table look-up: the low nibble of each whitespace byte
// picks the byte itself; every other byte picks a value it is not (bytes of
// 0x80 and up pick 0).
[[gnu::target("ssse3"), gnu::always_inline]] inline unsigned token_lanes(__m128i v) noexcept {
  const __m128i table = _mm_setr_epi8(0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x0a, 0, 0x0c, 0x0d, 0, 0);
  const __m128i space = _mm_cmpeq_epi8(_mm_shuffle_epi8(table, v), v);
  return ~static_cast<unsigned>(_mm_movemask_epi8(space)) & 0xffff;
}

[[gnu::target("ssse3")]] std::uint64_t token_bytes_ssse3(const char* window, const char* begin,
                                                          const char* end) noexcept {
  if (end - begin < 16) return token_bytes_portable(window, begin, end);
  std::uint64_t bytes = 0;
  for (int k = 0; k < 4; ++k) {
    const char* const p = window + 16 * k;
    const std::ptrdiff_t left = end - p;
    if (left <= 0) break;
    if (left >= 16) {
      bytes |= std::uint64_t{token_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)))} << (16 * k);
    } else {
      // The sixteen bytes ending at `end`, moved down to p; none past `end`.
      const unsigned lanes = token_lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16)));
      bytes |= std::uint64_t{lanes >> (16 - left)} << (16 * k);
      break;
    }
  }
  return bytes;
}
#endif

}  // namespace

std::uint64_t token_bytes(const char* window, const char* begin, const char* end) noexcept {
#if defined(AK_LINE_TOKENS_SSSE3)
  if (scan_vector) return token_bytes_ssse3(window, begin, end);
#endif
  return token_bytes_portable(window, begin, end);
}

}  // namespace ak::text::detail
