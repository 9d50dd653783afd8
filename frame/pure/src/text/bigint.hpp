// Unsigned integers of up to N 64-bit limbs, for the exact slow paths of the
// number parse (long tokens, roundings the fast route cannot decide) and of
// the fixed float format (large magnitudes, long precisions).
//
// Only what those paths need: multiply-add by a 64-bit number, multiply by a
// power of five, shift left, compare, divide by 10^19, and split off the bits
// above a given position. Callers size N for their largest value, bounded
// over all inputs by tools/bigint_bounds.py; a result that would not fit
// anyway stops growing instead of writing past the limbs, so a sizing mistake
// would show as a wrong digit in the checks, never as a memory fault.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace ak::text {

template <std::size_t N>
struct BigUint {
  using u128 = unsigned __int128;

  std::uint64_t limb[N];  // least significant first; limb[size - 1] != 0
  std::size_t size = 0;

  explicit BigUint(std::uint64_t v = 0) noexcept {
    limb[0] = v;
    size = v != 0;
  }

  bool is_zero() const noexcept { return size == 0; }

  // Number of significant bits (0 for zero).
  std::size_t bit_length() const noexcept {
    if (size == 0) return 0;
    return 64 * size - static_cast<std::size_t>(std::countl_zero(limb[size - 1]));
  }

  bool bit(std::size_t k) const noexcept {
    const std::size_t i = k / 64;
    return i < size && ((limb[i] >> (k % 64)) & 1) != 0;
  }

  // True when any bit below position k is set.
  bool any_below(std::size_t k) const noexcept {
    const std::size_t whole = k / 64;
    for (std::size_t i = 0; i < whole && i < size; ++i) {
      if (limb[i] != 0) return true;
    }
    if (whole < size && k % 64 != 0) return (limb[whole] << (64 - k % 64)) != 0;
    return false;
  }

  // *this = *this * mul + add.
  void mul_add(std::uint64_t mul, std::uint64_t add) noexcept {
    std::uint64_t carry = add;
    for (std::size_t i = 0; i < size; ++i) {
      const u128 t = static_cast<u128>(limb[i]) * mul + carry;
      limb[i] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
    push(carry);
  }

  // *this *= 5^k.
  void mul_pow5(std::uint64_t k) noexcept {
    constexpr std::uint64_t kPow5_27 = 7450580596923828125ull;  // 5^27, the largest below 2^64
    for (; k >= 27; k -= 27) mul_add(kPow5_27, 0);
    std::uint64_t rest = 1;
    for (; k != 0; --k) rest *= 5;
    if (rest != 1) mul_add(rest, 0);
  }

  // *this <<= bits.
  void shift_left(std::uint64_t bits) noexcept {
    if (size == 0 || bits == 0) return;
    const std::uint64_t words = bits / 64;
    const unsigned shift = static_cast<unsigned>(bits % 64);
    const bool grows = shift != 0 && (limb[size - 1] >> (64 - shift)) != 0;
    if (words > N || size + grows > N - words) return;  // would not fit
    std::size_t top = size;
    if (shift != 0) {
      const std::uint64_t out = limb[size - 1] >> (64 - shift);
      for (std::size_t i = size - 1; i > 0; --i) limb[i] = (limb[i] << shift) | (limb[i - 1] >> (64 - shift));
      limb[0] <<= shift;
      if (out != 0) limb[top++] = out;
    }
    if (words != 0) {
      for (std::size_t i = top; i-- > 0;) limb[i + words] = limb[i];
      for (std::size_t i = 0; i < words; ++i) limb[i] = 0;
      top += static_cast<std::size_t>(words);
    }
    size = top;
  }

  // Divides by 10^19 and returns the remainder.
  std::uint64_t divmod_1e19() noexcept {
    // 10^19 has its top bit set, so the quotient digit of each two-limb step
    // comes from a precomputed reciprocal (Moller and Granlund, 2011).
    constexpr std::uint64_t d = 10000000000000000000ull;
    constexpr std::uint64_t v = static_cast<std::uint64_t>(~u128{0} / d - (u128{1} << 64));
    std::uint64_t r = 0;
    for (std::size_t i = size; i-- > 0;) {
      const std::uint64_t u0 = limb[i];
      u128 qq = static_cast<u128>(v) * r + ((static_cast<u128>(r) << 64) | u0);
      std::uint64_t q1 = static_cast<std::uint64_t>(qq >> 64) + 1;
      const auto q0 = static_cast<std::uint64_t>(qq);
      std::uint64_t rem = u0 - q1 * d;
      if (rem > q0) {
        --q1;
        rem += d;
      }
      if (rem >= d) {
        ++q1;
        rem -= d;
      }
      limb[i] = q1;
      r = rem;
    }
    trim();
    return r;
  }

  // Removes and returns the bits at positions k and above (they must fit 64
  // bits: the caller keeps the value below 2^(k + 64)).
  std::uint64_t take_above(std::size_t k) noexcept {
    const std::size_t i = k / 64;
    const unsigned shift = static_cast<unsigned>(k % 64);
    if (i >= size) return 0;
    std::uint64_t high = limb[i] >> shift;
    if (shift != 0 && i + 1 < size) high |= limb[i + 1] << (64 - shift);
    limb[i] &= shift != 0 ? (std::uint64_t{1} << shift) - 1 : 0;
    for (std::size_t j = i + 1; j < size; ++j) limb[j] = 0;
    size = i + 1;
    trim();
    return high;
  }

  // Sign of a - b.
  friend int compare(const BigUint& a, const BigUint& b) noexcept {
    if (a.size != b.size) return a.size < b.size ? -1 : 1;
    for (std::size_t i = a.size; i-- > 0;) {
      if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  void push(std::uint64_t v) noexcept {
    if (v == 0 || size == N) return;  // size == N: would not fit
    limb[size++] = v;
  }
  void trim() noexcept {
    while (size != 0 && limb[size - 1] == 0) --size;
  }
};

}  // namespace ak::text
