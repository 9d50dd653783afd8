// A rows x cols buffer of T, allocated once (zero-filled, or left unset for a
// result that is written in full) and owned until it is handed on.
//
// The bytes come from an ArrayStorage: plain malloc by default, or one the
// call frame supplies whose block is the result object itself, so that a
// reader fills the memory its result array will hold, with one allocation
// (for a small result, the holder object and its data are one block).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "huge_pages.hpp"

namespace ak {

// How a new buffer starts: all zero bytes, or unset because the owner writes
// every element before anything reads it (zeroing would be a wasted pass).
enum class Fill { zeros, unset };

// Where an OwnedArray keeps its bytes: one block known by an opaque handle.
struct ArrayStorage {
  // Returns room for `bytes` (zero-filled when `zeroed`) and stores in
  // `*handle` what owns it; throws std::bad_alloc on failure.
  void* (*allocate)(std::size_t bytes, bool zeroed, void** handle);
  // Frees the block (handle not null).
  void (*release)(void* handle) noexcept;
};

namespace detail {
inline void* heap_allocate(std::size_t bytes, bool zeroed, void** handle) {
  void* data = zeroed ? std::calloc(bytes != 0 ? bytes : 1, 1) : std::malloc(bytes != 0 ? bytes : 1);
  if (data == nullptr) throw std::bad_alloc();
  advise_huge_pages(data, bytes);
  *handle = data;
  return data;
}
inline void heap_free(void* handle) noexcept { std::free(handle); }
}  // namespace detail

// malloc'd blocks; the handle is the data pointer, freed with std::free.
inline constexpr ArrayStorage kHeapArrays{detail::heap_allocate, detail::heap_free};

template <class T>
class OwnedArray {
 public:
  OwnedArray() = default;
  OwnedArray(std::size_t rows, std::size_t cols, Fill fill = Fill::zeros, const ArrayStorage& storage = kHeapArrays)
      : rows_(rows), cols_(cols), storage_(&storage) {
    const std::size_t n = rows * cols;
    if (cols != 0 && n / cols != rows) throw std::bad_alloc();
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    // Every array has a block, an empty one too, so every result is owned alike.
    data_ = static_cast<T*>(storage.allocate(n * sizeof(T), fill == Fill::zeros, &handle_));
  }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  OwnedArray(OwnedArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        rows_(other.rows_),
        cols_(other.cols_),
        handle_(std::exchange(other.handle_, nullptr)),
        storage_(other.storage_) {}
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    if (this != &other) {
      free_block();
      data_ = std::exchange(other.data_, nullptr);
      rows_ = other.rows_;
      cols_ = other.cols_;
      handle_ = std::exchange(other.handle_, nullptr);
      storage_ = other.storage_;
    }
    return *this;
  }
  ~OwnedArray() { free_block(); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t rows() const noexcept { return rows_; }
  std::size_t cols() const noexcept { return cols_; }
  std::size_t size() const noexcept { return rows_ * cols_; }
  T& operator()(std::size_t i, std::size_t j) noexcept { return data_[i * cols_ + j]; }

  const ArrayStorage& storage() const noexcept { return *storage_; }
  // Hands the block over (its handle; null for an array that has none) and
  // leaves this one empty; the caller frees it through storage().
  void* release_block() noexcept {
    data_ = nullptr;
    return std::exchange(handle_, nullptr);
  }

 private:
  void free_block() noexcept {
    if (handle_ != nullptr) storage_->release(handle_);
  }

  T* data_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  void* handle_ = nullptr;
  const ArrayStorage* storage_ = &kHeapArrays;
};

}  // namespace ak
