// Growable output text buffer for the writers. Reserve once up front from the
// row count; each field asks for room for its longest possible text with
// ensure(), writes through the returned pointer and commits with advance().
// Growth lives out of line so the fast path is one compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace ak {

class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  TextBuffer(TextBuffer&& other) noexcept
      : begin_(std::exchange(other.begin_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        cap_(std::exchange(other.cap_, nullptr)) {}
  TextBuffer& operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
      std::free(begin_);
      begin_ = std::exchange(other.begin_, nullptr);
      end_ = std::exchange(other.end_, nullptr);
      cap_ = std::exchange(other.cap_, nullptr);
    }
    return *this;
  }
  ~TextBuffer() { std::free(begin_); }

  // Reserves room for `count` items of `per_item` bytes plus `extra`;
  // an overflowing product or a failed allocation throws std::bad_alloc.
  void reserve_items(std::size_t count, std::size_t per_item, std::size_t extra = 0) {
    if (per_item != 0 && count > (SIZE_MAX - extra) / per_item) throw std::bad_alloc();
    reserve(count * per_item + extra);
  }

  void reserve(std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(cap_ - begin_)) grow_to(capacity);
  }

  // Returns a pointer with room for at least n more bytes.
  char* ensure(std::size_t n) {
    if (static_cast<std::size_t>(cap_ - end_) < n) grow_for(n);
    return end_;
  }
  void advance_to(char* new_end) noexcept { end_ = new_end; }

  void push_back(char c) { *ensure(1) = c; ++end_; }
  void append(std::string_view s) {
    char* p = ensure(s.size());
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    end_ = p + s.size();
  }
  void append_fill(char c, std::size_t n) {
    char* p = ensure(n);
    std::memset(p, c, n);
    end_ = p + n;
  }

  const char* data() const noexcept { return begin_ != nullptr ? begin_ : ""; }
  std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }
  std::string_view view() const noexcept { return {data(), size()}; }

 private:
  void grow_for(std::size_t n) {
    const std::size_t used = size();
    if (n > SIZE_MAX - used) throw std::bad_alloc();
    std::size_t want = used + n;
    const std::size_t cap = static_cast<std::size_t>(cap_ - begin_);
    if (cap <= SIZE_MAX / 2 && want < cap * 2) want = cap * 2;
    grow_to(want);
  }
  void grow_to(std::size_t capacity) {
    const std::size_t used = size();
    char* p = static_cast<char*>(std::realloc(begin_, capacity == 0 ? 1 : capacity));
    if (p == nullptr) throw std::bad_alloc();
    begin_ = p;
    end_ = p + used;
    cap_ = p + capacity;
  }

  char* begin_ = nullptr;
  char* end_ = nullptr;
  char* cap_ = nullptr;
};

}  // namespace ak
