// A hash of text for tables keyed by text read from files, keyed once per
// process from the operating system's random source.
//
// Without the key nobody can compute, offline, a set of texts that share one
// hash value (or one table slot) and so make every lookup of a reader walk
// the same chain: the cost of a table stays in proportion to its texts
// whatever they are. The text hash is SipHash-1-3, the keyed hash CPython
// gives its own str; the slot multiplier is a random odd word for
// multiply-shift hashing of short tokens held as one word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ak::text {

struct HashKey {
  std::uint64_t k0;
  std::uint64_t k1;
  std::uint64_t multiplier;  // odd
};

// Draws a new key from the operating system (never blocks; where no random
// source answers, mixes what differs between processes: addresses under
// address-space randomisation, the time, the process id).
HashKey draw_hash_key() noexcept;

// The key of this process, drawn on first use (thread-safe).
inline const HashKey& process_hash_key() noexcept {
  static const HashKey key = draw_hash_key();
  return key;
}

// SipHash-1-3 of `text` under the key's first two words.
std::uint64_t keyed_hash(std::string_view text, const HashKey& key) noexcept;

// SipHash with C compression and D finalisation rounds: keyed_hash is
// <1, 3>; fuzz/hash_check.cpp checks <2, 4> against the reference vectors.
template <int C, int D>
std::uint64_t siphash(std::string_view text, std::uint64_t k0, std::uint64_t k1) noexcept;

}  // namespace ak::text
