#include "text/interner.hpp"

#include <limits>
#include <new>

namespace ak::text {

std::string_view TokenInterner::keep(std::string_view text) {
  char* copy;
  if (text.size() <= kArena - arena_used_) {
    copy = arena_ + arena_used_;
    arena_used_ += text.size();
  } else {
    copy = kept_.emplace_back(std::make_unique<char[]>(text.size() != 0 ? text.size() : 1)).get();
  }
  std::memcpy(copy, text.data(), text.size());
  return {copy, text.size()};
}

std::uint32_t TokenInterner::slow_id(std::string_view token) {
  if (transform_ == nullptr) return intern(token, false);
  const std::string transformed = transform_(token);
  return intern(transformed, true);
}

std::uint32_t TokenInterner::word_id(std::uint64_t word, const char* p, std::size_t n) {
  const std::uint64_t text_word = word_transform_ != nullptr ? word_transform_(word, n) : 0;
  if (text_word == 0) return slow_id(std::string_view(p, n));
  if (texts_.size() < kLinear) {
    // The usual case, a few short symbols: compared as words, and a new one
    // stored in the arena by one word store (the arena's later texts
    // overwrite the bytes past its size).
    for (std::size_t i = 0; i < texts_.size(); ++i) {
      if (linear_words_[i] == text_word && linear_sizes_[i] == n) return static_cast<std::uint32_t>(i);
    }
    if (kArena - arena_used_ >= sizeof text_word) {
      char* const copy = arena_ + arena_used_;
      std::memcpy(copy, &text_word, sizeof text_word);
      arena_used_ += n;
      return add(std::string_view(copy, n), text_word, 0);
    }
  }
  char text[8];
  std::memcpy(text, &text_word, sizeof text);
  return intern(std::string_view(text, n), true);
}

std::uint32_t TokenInterner::intern(std::string_view text, bool copy) {
  std::uint64_t hash = 0;
  if (indexed()) {
    hash = keyed_hash(text, process_hash_key());
    if (const std::int64_t found = by_text_.find(text, hash, texts_.data()); found >= 0) {
      return static_cast<std::uint32_t>(found);
    }
  } else {
    for (std::size_t i = 0; i < texts_.size(); ++i) {
      if (texts_[i] == text) return static_cast<std::uint32_t>(i);
    }
  }
  if (copy) text = keep(text);
  std::uint64_t word = 0;
  if (text.size() <= sizeof word && texts_.size() < kLinear) std::memcpy(&word, text.data(), text.size());
  return add(text, word, hash);
}

std::uint32_t TokenInterner::add(std::string_view text, std::uint64_t word, std::uint64_t hash) {
  if (texts_.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  const auto id = static_cast<std::uint32_t>(texts_.size());
  if (id < kLinear) {
    linear_words_[id] = word;
    linear_sizes_[id] = text.size() <= sizeof word ? static_cast<std::uint8_t>(text.size()) : kNotWord;
  }
  texts_.push_back(text);
  if (id > kLinear) {
    by_text_.insert(id, hash);
  } else if (id == kLinear) {
    // Past the linear search: every text so far goes into the index.
    const HashKey& key = process_hash_key();
    for (std::uint32_t i = 0; i <= id; ++i) by_text_.insert(i, keyed_hash(texts_[i], key));
  }
  return id;
}

}  // namespace ak::text
