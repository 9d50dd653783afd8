// Growable output text buffer for the writers. Reserve once up front from the
// row count; each row (or field) asks for room for its longest possible text
// with ensure(), writes through the returned pointer and commits with
// advance_to(). Growth lives out of line so the fast path is one compare.
//
// The bytes live in malloc'd memory unless the buffer is made over another
// TextStorage: the call frame supplies one whose memory is the result object
// itself, so the text needs no second copy. A writer that stores a byte
// outside ASCII through ensure() must say so with note_non_ascii(); append()
// notes it by itself. The frame relies on that to skip decoding pure ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace ak {

// Where a TextBuffer keeps its bytes: one block known by an opaque handle.
struct TextStorage {
  // Makes `*handle` (null: no block yet) a block of at least `capacity`
  // bytes whose first `used` bytes are the old ones, updates the handle and
  // returns the start of the bytes. Throws std::bad_alloc on failure, with
  // the old block left as it was.
  char* (*resize)(void** handle, std::size_t used, std::size_t capacity);
  // Frees the block (handle not null).
  void (*release)(void* handle) noexcept;
};

namespace detail {
inline char* heap_resize(void** handle, std::size_t, std::size_t capacity) {
  void* p = std::realloc(*handle, capacity == 0 ? 1 : capacity);
  if (p == nullptr) throw std::bad_alloc();
  *handle = p;
  return static_cast<char*>(p);
}
inline void heap_release(void* handle) noexcept { std::free(handle); }
}  // namespace detail

inline constexpr TextStorage kHeapStorage{detail::heap_resize, detail::heap_release};

class TextBuffer {
 public:
  TextBuffer() = default;
  explicit TextBuffer(const TextStorage& storage) noexcept : storage_(&storage) {}
  // Over a storage whose handle is given from the start (it may name room
  // that exists before any block is made).
  TextBuffer(const TextStorage& storage, void* handle) noexcept : handle_(handle), storage_(&storage) {}
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  TextBuffer(TextBuffer&& other) noexcept
      : begin_(std::exchange(other.begin_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        cap_(std::exchange(other.cap_, nullptr)),
        handle_(std::exchange(other.handle_, nullptr)),
        storage_(other.storage_),
        non_ascii_(std::exchange(other.non_ascii_, false)) {}
  TextBuffer& operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
      free_block();
      begin_ = std::exchange(other.begin_, nullptr);
      end_ = std::exchange(other.end_, nullptr);
      cap_ = std::exchange(other.cap_, nullptr);
      handle_ = std::exchange(other.handle_, nullptr);
      storage_ = other.storage_;
      non_ascii_ = std::exchange(other.non_ascii_, false);
    }
    return *this;
  }
  ~TextBuffer() { free_block(); }

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

  // The same for a writer that has written `done` of its `total` items: a
  // buffer that must grow goes at once to the size the whole text is heading
  // for (the bytes per item so far, for every item, and a little more), not
  // to twice its size, so wide rows cost one resize and little slack.
  char* ensure(std::size_t n, std::size_t done, std::size_t total) {
    if (static_cast<std::size_t>(cap_ - end_) < n) grow_toward(n, done, total);
    return end_;
  }
  void advance_to(char* new_end) noexcept { end_ = new_end; }

  void append_fill(char c, std::size_t n) {
    char* p = ensure(n);
    std::memset(p, c, n);
    end_ = p + n;
    if (n != 0 && static_cast<unsigned char>(c) >= 0x80) non_ascii_ = true;
  }

  // Records that bytes outside ASCII were written through ensure().
  void note_non_ascii() noexcept { non_ascii_ = true; }
  // False only when every byte written is ASCII (as far as noted).
  bool may_hold_non_ascii() const noexcept { return non_ascii_; }

  const char* data() const noexcept { return begin_ != nullptr ? begin_ : ""; }
  std::size_t size() const noexcept { return static_cast<std::size_t>(end_ - begin_); }
  std::string_view view() const noexcept { return {data(), size()}; }

  const TextStorage& storage() const noexcept { return *storage_; }
  // Hands the block over to the caller (null when none was made) and
  // leaves the buffer empty; the caller frees it through storage().
  void* release_block() noexcept {
    begin_ = end_ = cap_ = nullptr;
    non_ascii_ = false;
    return std::exchange(handle_, nullptr);
  }

 private:
  void free_block() noexcept {
    if (handle_ != nullptr) storage_->release(handle_);
  }
  void grow_for(std::size_t n) {
    const std::size_t used = size();
    if (n > SIZE_MAX - used) throw std::bad_alloc();
    std::size_t want = used + n;
    const std::size_t cap = static_cast<std::size_t>(cap_ - begin_);
    if (cap <= SIZE_MAX / 2 && want < cap * 2) want = cap * 2;
    grow_to(want);
  }
  void grow_toward(std::size_t n, std::size_t done, std::size_t total) {
    const std::size_t used = size();
    if (n > SIZE_MAX - used) throw std::bad_alloc();
    std::size_t want = used + n;
    if (done != 0 && total > done) {
      const std::size_t per_item = used / done + 1;
      const std::size_t rest = total - done;
      if (per_item <= (SIZE_MAX - want) / rest / 2) want += rest * per_item + rest * per_item / 16;
    }
    grow_to(want);
  }
  void grow_to(std::size_t capacity) {
    const std::size_t used = size();
    char* p = storage_->resize(&handle_, used, capacity);
    begin_ = p;
    end_ = p + used;
    cap_ = p + capacity;
  }

  char* begin_ = nullptr;
  char* end_ = nullptr;
  char* cap_ = nullptr;
  void* handle_ = nullptr;
  const TextStorage* storage_ = &kHeapStorage;
  bool non_ascii_ = false;
};

}  // namespace ak
