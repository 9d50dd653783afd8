// A rows x cols buffer of T, allocated once (zero-filled, or left unset for a
// result that is written in full) and owned until release() hands it to a
// result array (which frees it with std::free).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ak {

// A large fresh buffer is faulted in page by page while it is filled; with
// 4 KiB pages that costs about as much as filling it. Asking for huge pages on
// its 2 MiB-aligned interior (a hint only, as NumPy does for its own large
// arrays) cuts the faults by 512. Failure of the hint is harmless.
inline void advise_huge_pages(void* data, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  if (bytes < (std::size_t{4} << 20)) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(data) + bytes;
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

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
