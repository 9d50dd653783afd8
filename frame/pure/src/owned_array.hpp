// A rows x cols buffer of T, allocated once (zero-filled, or left unset for a
// result that is written in full) and owned until release() hands it to a
// result array (which frees it with std::free).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "huge_pages.hpp"

namespace ak {

// How a new buffer starts: all zero bytes, or unset because the owner writes
// every element before anything reads it (zeroing would be a wasted pass).
enum class Fill { zeros, unset };

template <class T>
class OwnedArray {
 public:
  OwnedArray() = default;
  OwnedArray(std::size_t rows, std::size_t cols, Fill fill = Fill::zeros) : rows_(rows), cols_(cols) {
    const std::size_t n = rows * cols;
    if (cols != 0 && n / cols != rows) throw std::bad_alloc();
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    if (n != 0) {
      data_ = static_cast<T*>(fill == Fill::zeros ? std::calloc(n, sizeof(T)) : std::malloc(n * sizeof(T)));
      if (data_ == nullptr) throw std::bad_alloc();
      advise_huge_pages(data_, n * sizeof(T));
    }
  }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  OwnedArray(OwnedArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), rows_(other.rows_), cols_(other.cols_) {}
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      data_ = std::exchange(other.data_, nullptr);
      rows_ = other.rows_;
      cols_ = other.cols_;
    }
    return *this;
  }
  ~OwnedArray() { std::free(data_); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t rows() const noexcept { return rows_; }
  std::size_t cols() const noexcept { return cols_; }
  std::size_t size() const noexcept { return rows_ * cols_; }
  T& operator()(std::size_t i, std::size_t j) noexcept { return data_[i * cols_ + j]; }

  // Gives up ownership; the caller frees the pointer with std::free.
  T* release() noexcept { return std::exchange(data_, nullptr); }

 private:
  T* data_ = nullptr;
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
};

}  // namespace ak
