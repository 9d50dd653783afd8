// Read-only view of a two-dimensional array given by a data pointer, two
// extents and two byte strides (any sign). Element (i, j) lives at byte offset
// i*stride0 + j*stride1. Reads go through memcpy, so unaligned data is fine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>


namespace ak {

template <class T>
struct StridedView {
  const char* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::ptrdiff_t stride0 = 0;  // bytes between rows
  std::ptrdiff_t stride1 = 0;  // bytes between columns

  // Unchecked element read; the caller guarantees i < rows and j < cols.
  T get(std::size_t i, std::size_t j) const noexcept {
    T value;
    std::memcpy(&value,
                data + static_cast<std::ptrdiff_t>(i) * stride0 +
                    static_cast<std::ptrdiff_t>(j) * stride1,
                sizeof(T));
    return value;
  }

  // Pointer to the start of row i (unchecked).
  const char* row_ptr(std::size_t i) const noexcept {
    return data + static_cast<std::ptrdiff_t>(i) * stride0;
  }
};

}  // namespace ak
