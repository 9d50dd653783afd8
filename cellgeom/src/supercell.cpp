// Supercell positions: one IEEE addition per output element.
//
// Either order is a sequence of blocks, one per row of the outer input, each
// block the inner input's first three columns with the outer row added to
// every row: out[block][3i + c] = P + T. With the inner input laid out as one
// run of doubles, a block is that run plus a pattern of period three (the
// outer row's x, y, z), which the compiler turns into packed additions.
#include "supercell.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "failure.hpp"

namespace ak::cellgeom {
namespace {

// Two doubles in one SSE2 register (GCC/Clang vector extension); the lanes
// add exactly like scalar additions.
using Pair = double __attribute__((vector_size(16)));

inline Pair load_pair(const double* p) noexcept {
  Pair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Outputs at least this large are written with non-temporal stores where the
// machine has them: the lines go to memory without being read first and
// without evicting the inputs, which pays once the output outgrows the caches.
constexpr std::size_t kStreamBytes = std::size_t{8} << 20;
#if defined(__SSE2__)
constexpr bool kCanStream = true;
#else
constexpr bool kCanStream = false;
#endif

// Stores a pair at p; a streamed store needs p 16-byte aligned.
template <bool Stream>
inline void store_pair(double* p, Pair v) noexcept {
#if defined(__SSE2__)
  if constexpr (Stream) {
    _mm_stream_pd(p, reinterpret_cast<__m128d&>(v));
    return;
  }
#endif
  std::memcpy(p, &v, sizeof v);
}

// out[k] = row[k % 3] + run[k] (or run[k] + row[k % 3]: the primitive
// position is always the left operand) for k < count, count a multiple of 3.
// Six doubles a step, the row's pattern (x, y, z, x, y, z) as three pairs; a
// streamed block that starts between two pairs writes its first double alone
// and goes on with the pattern shifted by one.
template <bool RowIsLeft, bool Stream>
inline void add_block(double* out, const double* run, std::size_t count, const double (&row)[3]) noexcept {
  const auto add = [](double r, double v) { return RowIsLeft ? r + v : v + r; };
  std::size_t k = 0;
  std::size_t phase = 0;  // row[phase] goes with out[k]
  if (Stream && reinterpret_cast<std::uintptr_t>(out) % 16 != 0) {
    out[0] = add(row[0], run[0]);
    k = phase = 1;
  }
  const double pattern[8] = {row[0], row[1], row[2], row[0], row[1], row[2], row[0], row[1]};
  const Pair a = {pattern[phase], pattern[phase + 1]};
  const Pair b = {pattern[phase + 2], pattern[phase + 3]};
  const Pair c = {pattern[phase + 4], pattern[phase + 5]};
  for (; k + 6 <= count; k += 6) {
    const Pair r0 = load_pair(run + k), r1 = load_pair(run + k + 2), r2 = load_pair(run + k + 4);
    store_pair<Stream>(out + k, RowIsLeft ? a + r0 : r0 + a);
    store_pair<Stream>(out + k + 2, RowIsLeft ? b + r1 : r1 + b);
    store_pair<Stream>(out + k + 4, RowIsLeft ? c + r2 : r2 + c);
  }
  for (; k < count; ++k) {
    out[k] = add(row[phase], run[k]);
    phase = phase == 2 ? 0 : phase + 1;
  }
}

// The first three columns of `v` as one run of 3 * rows doubles: the array's
// own memory when it is laid out so, else a copy in `copy`.
const double* three_column_run(const StridedView<double>& v, std::vector<double>& copy) {
  constexpr auto kItem = static_cast<std::ptrdiff_t>(sizeof(double));
  const bool aligned = reinterpret_cast<std::uintptr_t>(v.data) % alignof(double) == 0;
  if (aligned && v.stride1 == kItem && (v.stride0 == 3 * kItem || v.rows == 1)) {
    return reinterpret_cast<const double*>(v.data);
  }
  copy.resize(3 * v.rows);
  for (std::size_t i = 0; i < v.rows; ++i) {
    for (std::size_t c = 0; c < 3; ++c) copy[3 * i + c] = v.get(i, c);
  }
  return copy.data();
}

// Inner rows per tile: a tile of the inner run (192 KiB) stays in the cache
// while every outer row adds itself to it, so a long inner input is read from
// memory once, not once per outer row.
constexpr std::size_t kTileRows = 8192;

template <bool OuterIsPrim, bool Stream>
void fill(const StridedView<double>& outer, const double* inner_run, std::size_t inner_rows, double* out) noexcept {
  for (std::size_t first = 0; first < inner_rows; first += kTileRows) {
    const std::size_t count = 3 * (inner_rows - first < kTileRows ? inner_rows - first : kTileRows);
    double* segment = out + 3 * first;
    for (std::size_t o = 0; o < outer.rows; ++o, segment += 3 * inner_rows) {
      const double row[3] = {outer.get(o, 0), outer.get(o, 1), outer.get(o, 2)};
      add_block<OuterIsPrim, Stream>(segment, inner_run + 3 * first, count, row);
    }
  }
#if defined(__SSE2__)
  if constexpr (Stream) _mm_sfence();  // the streamed stores are done before the array is handed out
#endif
}

}  // namespace

OwnedArray<double> make_supercell_positions(const StridedView<double>& prim,
                                            const StridedView<double>& lattice, bool cell_major,
                                            const ArrayStorage& storage) {
  // The element count 3 * N_prim * N_super must be a valid array size, and its
  // byte size must fit an isize; both are checked before anything is touched.
  // For integers, 3 * a * b > M exactly when a > (M / 3) / b (floor division),
  // so the exact product is compared without forming it.
  constexpr std::uint64_t kMaxElements = INT64_MAX;
  if (lattice.rows != 0 && prim.rows > kMaxElements / 3 / lattice.rows) {
    panic(kShapeTooLarge);
  }
  const std::size_t rows = prim.rows * lattice.rows;
  if (3 * rows >= (std::size_t{1} << 60)) panic(kCapacityOverflow);

  OwnedArray<double> result(rows, 3, Fill::unset, storage);  // every element is written below
  if (rows == 0) return result;
  if (prim.cols < 3 || lattice.cols < 3) panic(kIndexOutOfBounds);

  // Cell-major: lattice points outside, atoms inside; atom-major the reverse.
  const StridedView<double>& outer = cell_major ? lattice : prim;
  const StridedView<double>& inner = cell_major ? prim : lattice;
  std::vector<double> copy;
  const double* inner_run = three_column_run(inner, copy);
  const bool stream = kCanStream && rows * 3 * sizeof(double) >= kStreamBytes;
  if (cell_major) {
    stream ? fill<false, true>(outer, inner_run, inner.rows, result.data())
           : fill<false, false>(outer, inner_run, inner.rows, result.data());
  } else {
    stream ? fill<true, true>(outer, inner_run, inner.rows, result.data())
           : fill<true, false>(outer, inner_run, inner.rows, result.data());
  }
  return result;
}

}  // namespace ak::cellgeom
