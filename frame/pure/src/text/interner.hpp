// Ids for the distinct texts of a column of tokens (element symbols, string
// columns), so that the caller makes one result object per distinct text and
// shares it between all the rows that have it.
//
// Each distinct text gets the next id (0, 1, 2, ... in order of first
// appearance). A token is first turned into its text by the transform (the
// symbol normalisation, or nothing); tokens whose texts are equal share an
// id. Real columns repeat a handful of short tokens over many lines, so
// tokens of up to eight bytes are looked up by their raw bytes, folded into
// one 64-bit word, in a small direct-mapped table; only a miss (and every
// longer token) takes the transform and an index of texts.
//
// Both tables are keyed per process (keyed_hash.hpp): a file cannot be made
// so that its tokens share a slot or a hash chain, so a lookup costs the
// same whatever the tokens are.
//
// Texts of untransformed tokens are views into the tokens' own bytes, which
// the caller keeps alive as long as the interner.
//
// Set-up is cheap, as a reader makes one interner per call: the table is
// marked empty by one bit a slot rather than cleared, the first texts are
// kept and searched inline, and an index is made only for a column with
// many distinct texts.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "small_vector.hpp"
#include "text/keyed_hash.hpp"
#include "text/text_index.hpp"

namespace ak::text {

class TokenInterner {
 public:
  // Text of a token; null: the token itself.
  using Transform = std::string (*)(std::string_view token);
  // The same transform for a token of n <= 8 bytes given as one word (byte k
  // of the token is bits 8k..8k+7, zero above n): the text's n bytes as a
  // word, or 0 where only the full transform can tell (non-ASCII bytes).
  using WordTransform = std::uint64_t (*)(std::uint64_t word, std::size_t n);

  explicit TokenInterner(Transform transform = nullptr, WordTransform word_transform = nullptr) noexcept
      : slot_multiplier_(process_hash_key().multiplier), transform_(transform), word_transform_(word_transform) {}
  TokenInterner(const TokenInterner&) = delete;
  TokenInterner& operator=(const TokenInterner&) = delete;

  // The id of the token [p, p + n) (n >= 1), whose line spans [begin, end):
  // bytes there may be loaded.
  std::uint32_t id(const char* p, std::size_t n, const char* begin, const char* end) {
    if (n > 8) return slow_id(std::string_view(p, n));
    const std::uint64_t word = token_word(p, n, begin, end);
    const std::size_t at = slot_of(word, n, slot_multiplier_);
    Slot& slot = slots_[at];
    const std::uint64_t bit = std::uint64_t{1} << (at % 64);
    if ((filled_[at / 64] & bit) != 0 && slot.word == word && slot.size == n) return slot.id;
    const std::uint32_t found = word_id(word, p, n);
    slot = Slot{word, static_cast<std::uint32_t>(n), found};
    filled_[at / 64] |= bit;
    return found;
  }

  std::size_t size() const noexcept { return texts_.size(); }
  std::string_view text(std::uint32_t id) const noexcept { return texts_[id]; }

 private:
  struct Slot {
    std::uint64_t word;
    std::uint32_t size;
    std::uint32_t id;
  };
  static constexpr unsigned kSlotBits = 7;
  static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
  // Distinct texts searched one by one before a hash map pays.
  static constexpr std::size_t kLinear = 16;
  // Bytes of transformed texts kept inline.
  static constexpr std::size_t kArena = 256;

  // The n <= 8 bytes at p, zero-padded; loads stay within [begin, end).
  static std::uint64_t token_word(const char* p, std::size_t n, const char* begin, const char* end) noexcept {
    const std::uint64_t keep = n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
    std::uint64_t w = 0;
    if (end - p >= 8) {
      std::memcpy(&w, p, 8);
      return w & keep;
    }
    if (p + n - begin >= 8) {
      std::memcpy(&w, p + n - 8, 8);
      return w >> (8 * (8 - n));
    }
    std::memcpy(&w, p, n);
    return w;
  }

  // Multiply-shift hashing by the process's random odd multiplier.
  static std::size_t slot_of(std::uint64_t word, std::size_t n, std::uint64_t multiplier) noexcept {
    return static_cast<std::size_t>(((word ^ n) * multiplier) >> (64 - kSlotBits));
  }

  std::uint32_t slow_id(std::string_view token);
  // A token of up to eight bytes that missed the table.
  std::uint32_t word_id(std::uint64_t word, const char* p, std::size_t n);
  // The id of `text`, given one if new; a new text is copied first when
  // `copy` (it does not live in the lines).
  std::uint32_t intern(std::string_view text, bool copy);
  // Gives the new text `text` the next id; `word` is its bytes as a word
  // when it has at most eight; `hash` its keyed hash once the index is in use.
  std::uint32_t add(std::string_view text, std::uint64_t word, std::uint64_t hash);
  bool indexed() const noexcept { return texts_.size() > kLinear; }
  // A stable copy of a transformed text.
  std::string_view keep(std::string_view text);

  Slot slots_[kSlots];  // slot i holds something only when bit i of filled_ is set
  std::uint64_t filled_[kSlots / 64] = {};
  std::uint64_t slot_multiplier_;
  Transform transform_;
  WordTransform word_transform_;
  SmallVector<std::string_view, kLinear> texts_;
  // The first kLinear texts as words (zero above their size) with their
  // sizes, kNotWord for a longer text: a word is looked up among them
  // without touching the texts. Only entries below texts_.size() are read.
  static constexpr std::uint8_t kNotWord = 0xff;
  std::uint64_t linear_words_[kLinear];
  std::uint8_t linear_sizes_[kLinear];
  TextIndex by_text_;  // filled once texts_ outgrows kLinear
  char arena_[kArena];
  std::size_t arena_used_ = 0;
  std::vector<std::unique_ptr<char[]>> kept_;  // transformed texts beyond the arena
};

}  // namespace ak::text
