// Supercell positions: one IEEE addition per output element, output written
// strictly front to back. The inputs are read in place through their strides;
// the row that stays fixed during the inner loop is read once and held in
// registers.
#include "supercell.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "failure.hpp"

namespace ak::cellgeom {
namespace {

struct Point {
  double x;
  double y;
  double z;
};

// Reads columns 0..2 of row i. With UnitColumns the columns are known to be
// adjacent, which lets the compiler use plain consecutive loads.
template <bool UnitColumns>
inline Point read_point(const StridedView<double>& v, std::size_t i) noexcept {
  const char* row = v.row_ptr(i);
  const std::ptrdiff_t step = UnitColumns ? static_cast<std::ptrdiff_t>(sizeof(double)) : v.stride1;
  Point p;
  std::memcpy(&p.x, row, sizeof(double));
  std::memcpy(&p.y, row + step, sizeof(double));
  std::memcpy(&p.z, row + 2 * step, sizeof(double));
  return p;
}

// out[(o * inner.rows + i)] = P + T for every outer row o and inner row i,
// where `outer_is_prim` says which input plays P (the left operand).
template <bool OuterUnit, bool InnerUnit>
void fill(const StridedView<double>& outer, const StridedView<double>& inner, bool outer_is_prim,
          double* out) noexcept {
  const std::size_t n_inner = inner.rows;
  for (std::size_t o = 0; o < outer.rows; ++o) {
    const Point fixed = read_point<OuterUnit>(outer, o);
    if (outer_is_prim) {
      for (std::size_t i = 0; i < n_inner; ++i, out += 3) {
        const Point t = read_point<InnerUnit>(inner, i);
        out[0] = fixed.x + t.x;
        out[1] = fixed.y + t.y;
        out[2] = fixed.z + t.z;
      }
    } else {
      for (std::size_t i = 0; i < n_inner; ++i, out += 3) {
        const Point p = read_point<InnerUnit>(inner, i);
        out[0] = p.x + fixed.x;
        out[1] = p.y + fixed.y;
        out[2] = p.z + fixed.z;
      }
    }
  }
}

// A large fresh buffer is faulted in page by page while it is filled; with 4 KiB
// pages that costs more than the additions themselves. Asking for huge pages on
// its 2 MiB-aligned interior (a hint only, as NumPy does for its own large
// arrays) cuts the fault count by 512. Failure of the hint is harmless.
void advise_huge_pages(void* data, std::size_t bytes) noexcept {
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

}  // namespace

OwnedArray<double> make_supercell_positions(const StridedView<double>& prim,
                                            const StridedView<double>& lattice, bool cell_major) {
  // The element count 3 * N_prim * N_super must be a valid array size, and its
  // byte size must fit an isize; both are checked before anything is touched.
  // For integers, 3 * a * b > M exactly when a > (M / 3) / b (floor division),
  // so the exact product is compared without forming it.
  constexpr std::uint64_t kMaxElements = INT64_MAX;
  if (lattice.rows != 0 && prim.rows > kMaxElements / 3 / lattice.rows) {
    panic("ndarray: Shape too large, product of non-zero axis lengths overflows isize");
  }
  const std::size_t rows = prim.rows * lattice.rows;
  if (3 * rows >= (std::size_t{1} << 60)) panic("capacity overflow");

  OwnedArray<double> result(rows, 3, Fill::unset);  // every element is written below
  if (rows == 0) return result;
  if (prim.cols < 3 || lattice.cols < 3) panic(kIndexOutOfBounds);

  // Cell-major: lattice points outside, atoms inside; atom-major the reverse.
  const StridedView<double>& outer = cell_major ? lattice : prim;
  const StridedView<double>& inner = cell_major ? prim : lattice;
  const bool outer_is_prim = !cell_major;
  double* out = result.data();
  advise_huge_pages(out, rows * 3 * sizeof(double));
  const bool outer_unit = outer.stride1 == static_cast<std::ptrdiff_t>(sizeof(double));
  const bool inner_unit = inner.stride1 == static_cast<std::ptrdiff_t>(sizeof(double));
  if (outer_unit && inner_unit) {
    fill<true, true>(outer, inner, outer_is_prim, out);
  } else if (inner_unit) {
    fill<false, true>(outer, inner, outer_is_prim, out);
  } else if (outer_unit) {
    fill<true, false>(outer, inner, outer_is_prim, out);
  } else {
    fill<false, false>(outer, inner, outer_is_prim, out);
  }
  return result;
}

}  // namespace ak::cellgeom
