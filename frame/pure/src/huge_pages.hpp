// Huge-page advice for large fresh buffers.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace ak
