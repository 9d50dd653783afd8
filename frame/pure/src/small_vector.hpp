// Small containers that keep their usual few elements inside themselves.
//
// A vector of trivially copyable values whose first N live inside it, so the
// usual small case (a handful of column codes, symbols or chunk ids) costs no
// allocation; beyond N the values move to the heap, doubling as they grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace ak {

template <class T, std::size_t N>
class SmallVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  SmallVector() noexcept = default;
  explicit SmallVector(std::size_t n) { resize(n); }
  SmallVector(const SmallVector&) = delete;
  SmallVector& operator=(const SmallVector&) = delete;
  SmallVector(SmallVector&& other) noexcept { take(other); }
  SmallVector& operator=(SmallVector&& other) noexcept {
    if (this != &other) {
      free_heap();
      take(other);
    }
    return *this;
  }
  ~SmallVector() { free_heap(); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }

  void push_back(const T& value) {
    if (size_ == capacity_) grow(size_ + 1);
    data_[size_++] = value;
  }
  // New values are left unset.
  void resize(std::size_t n) {
    if (n > capacity_) grow(n);
    size_ = n;
  }
  void reserve(std::size_t n) {
    if (n > capacity_) grow(n);
  }

 private:
  void grow(std::size_t least) {
    std::size_t capacity = capacity_ * 2 > least ? capacity_ * 2 : least;
    if (capacity > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    auto* heap = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (heap == nullptr) throw std::bad_alloc();
    if (size_ != 0) std::memcpy(heap, data_, size_ * sizeof(T));
    free_heap();
    data_ = heap;
    capacity_ = capacity;
  }
  void free_heap() noexcept {
    if (data_ != inline_values()) std::free(data_);
  }
  void take(SmallVector& other) noexcept {
    size_ = other.size_;
    if (other.data_ == other.inline_values()) {
      data_ = inline_values();
      capacity_ = N;
      if (size_ != 0) std::memcpy(data_, other.data_, size_ * sizeof(T));
    } else {
      data_ = std::exchange(other.data_, other.inline_values());
      capacity_ = std::exchange(other.capacity_, N);
    }
    other.size_ = 0;
  }
  T* inline_values() noexcept { return reinterpret_cast<T*>(storage_); }

  alignas(T) unsigned char storage_[N * sizeof(T)];
  T* data_ = inline_values();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

// n objects of T made by their default constructor, the first inside and
// the others in one heap block: for per-column state where one column is
// the usual case (a single string column), so that case allocates nothing.
template <class T>
class FirstInline {
 public:
  explicit FirstInline(std::size_t n) : rest_(n > 1 ? std::make_unique<T[]>(n - 1) : nullptr) {}

  T& operator[](std::size_t i) noexcept { return i == 0 ? first_ : rest_[i - 1]; }
  const T& operator[](std::size_t i) const noexcept { return i == 0 ? first_ : rest_[i - 1]; }

 private:
  T first_;
  std::unique_ptr<T[]> rest_;
};

}  // namespace ak
