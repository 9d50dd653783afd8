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

#include "failure.hpp"
#include "simd_path.hpp"

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

inline void store_pair(double* p, Pair v) noexcept { std::memcpy(p, &v, sizeof v); }

// Every path writes with ordinary stores. Non-temporal stores measured
// slower at every size: a result of up to a few tens of MiB is most often
// memory the allocator hands back still cached, and a larger one is fresh
// memory whose pages the kernel has just zeroed, which leaves them cached
// in turn; streaming around the cache wins neither.

// out[k] = row[k % 3] + run[k] (or run[k] + row[k % 3]: the primitive
// position is always the left operand) for k < count, count a multiple of 3.
// Six doubles a step, the row's pattern (x, y, z, x, y, z) as three pairs.
template <bool RowIsLeft>
inline void add_block(double* out, const double* run, std::size_t count, const double (&row)[3]) noexcept {
  const Pair a = {row[0], row[1]}, b = {row[2], row[0]}, c = {row[1], row[2]};
  std::size_t k = 0;
  for (; k + 6 <= count; k += 6) {
    const Pair r0 = load_pair(run + k), r1 = load_pair(run + k + 2), r2 = load_pair(run + k + 4);
    store_pair(out + k, RowIsLeft ? a + r0 : r0 + a);
    store_pair(out + k + 2, RowIsLeft ? b + r1 : r1 + b);
    store_pair(out + k + 4, RowIsLeft ? c + r2 : r2 + c);
  }
  for (std::size_t phase = 0; k < count; ++k, phase = phase == 2 ? 0 : phase + 1) {
    out[k] = RowIsLeft ? row[phase] + run[k] : run[k] + row[phase];
  }
}

#if AK_X86_PATHS
// The same with ordinary stores of four doubles: twelve a step, the pattern
// as three registers (x, y, z, x), (y, z, x, y), (z, x, y, z); the rest of
// the block (fewer than twelve) by pairs.
template <bool RowIsLeft>
AK_TARGET_AVX2 inline void add_block_avx2(double* out, const double* run, std::size_t count,
                                          const double (&row)[3]) noexcept {
  const __m256d xyz = _mm256_setr_pd(row[0], row[1], row[2], 0.0);
  const __m256d a = _mm256_permute4x64_pd(xyz, 0x24), b = _mm256_permute4x64_pd(xyz, 0x49),
                c = _mm256_permute4x64_pd(xyz, 0x92);
  // (No lambda for the sum: its body would not be compiled for AVX2.)
#define AK_ADD(r, v) (RowIsLeft ? _mm256_add_pd(r, v) : _mm256_add_pd(v, r))
  std::size_t k = 0;
  for (; k + 12 <= count; k += 12) {
    _mm256_storeu_pd(out + k, AK_ADD(a, _mm256_loadu_pd(run + k)));
    _mm256_storeu_pd(out + k + 4, AK_ADD(b, _mm256_loadu_pd(run + k + 4)));
    _mm256_storeu_pd(out + k + 8, AK_ADD(c, _mm256_loadu_pd(run + k + 8)));
  }
#undef AK_ADD
  if (k != count) add_block<RowIsLeft>(out + k, run + k, count - k, row);
}

// A row's pattern (x, y, z, x, y, z, ...) over 24 lanes, as three registers,
// from its x, y, z in lanes 0..2 of `xyz`. (The zero-masking permutes keep
// GCC 12's headers from warning about an undefined source register.)
struct Pattern24 {
  __m512d part[3];
};

AK_TARGET_AVX512 inline Pattern24 pattern_of(__m512d xyz) noexcept {
  return {{_mm512_maskz_permutexvar_pd(0xff, _mm512_setr_epi64(0, 1, 2, 0, 1, 2, 0, 1), xyz),
           _mm512_maskz_permutexvar_pd(0xff, _mm512_setr_epi64(2, 0, 1, 2, 0, 1, 2, 0), xyz),
           _mm512_maskz_permutexvar_pd(0xff, _mm512_setr_epi64(1, 2, 0, 1, 2, 0, 1, 2), xyz)}};
}

AK_TARGET_AVX512 inline Pattern24 pattern_of(const double (&row)[3]) noexcept {
  return pattern_of(_mm512_setr_pd(row[0], row[1], row[2], 0.0, 0.0, 0.0, 0.0, 0.0));
}

// With stores of eight doubles: 24 a step, the pattern as three registers,
// and the rest of the block (fewer than 24) by masked loads and stores.
template <bool RowIsLeft>
AK_TARGET_AVX512 inline void add_block_avx512(double* out, const double* run, std::size_t count,
                                              const double (&row)[3]) noexcept {
  const Pattern24 pattern = pattern_of(row);
#define AK_ADD(r, v) (RowIsLeft ? _mm512_add_pd(r, v) : _mm512_add_pd(v, r))
  std::size_t k = 0;
  for (; k + 24 <= count; k += 24) {
    _mm512_storeu_pd(out + k, AK_ADD(pattern.part[0], _mm512_loadu_pd(run + k)));
    _mm512_storeu_pd(out + k + 8, AK_ADD(pattern.part[1], _mm512_loadu_pd(run + k + 8)));
    _mm512_storeu_pd(out + k + 16, AK_ADD(pattern.part[2], _mm512_loadu_pd(run + k + 16)));
  }
  for (int part = 0; k < count; k += 8, ++part) {
    const std::size_t left = count - k;
    const auto mask = static_cast<__mmask8>(left >= 8 ? 0xff : (1u << left) - 1);
    _mm512_mask_storeu_pd(out + k, mask, AK_ADD(pattern.part[part], _mm512_maskz_loadu_pd(mask, run + k)));
  }
#undef AK_ADD
}

// Two blocks of the same run at once, for two outer rows: each chunk of the
// run is loaded once for both.
template <bool RowIsLeft>
AK_TARGET_AVX512 inline void add_two_blocks_avx512(double* out0, double* out1, const double* run, std::size_t count,
                                                   const double (&row0)[3], const double (&row1)[3]) noexcept {
  const Pattern24 first = pattern_of(row0), second = pattern_of(row1);
  const __m512d p00 = first.part[0], p01 = first.part[1], p02 = first.part[2];
  const __m512d p10 = second.part[0], p11 = second.part[1], p12 = second.part[2];
#define AK_ADD(r, v) (RowIsLeft ? _mm512_add_pd(r, v) : _mm512_add_pd(v, r))
  std::size_t k = 0;
  for (; k + 24 <= count; k += 24) {
    const __m512d r0 = _mm512_loadu_pd(run + k), r1 = _mm512_loadu_pd(run + k + 8), r2 = _mm512_loadu_pd(run + k + 16);
    _mm512_storeu_pd(out0 + k, AK_ADD(p00, r0));
    _mm512_storeu_pd(out0 + k + 8, AK_ADD(p01, r1));
    _mm512_storeu_pd(out0 + k + 16, AK_ADD(p02, r2));
    _mm512_storeu_pd(out1 + k, AK_ADD(p10, r0));
    _mm512_storeu_pd(out1 + k + 8, AK_ADD(p11, r1));
    _mm512_storeu_pd(out1 + k + 16, AK_ADD(p12, r2));
  }
#undef AK_ADD
  if (k != count) {
    add_block_avx512<RowIsLeft>(out0 + k, run + k, count - k, row0);
    add_block_avx512<RowIsLeft>(out1 + k, run + k, count - k, row1);
  }
}

// An inner run of at most 24 doubles (up to eight inner rows) held in three
// registers for the whole fill, each outer row taken with one masked load of
// its three contiguous doubles: the pattern of a block then costs one load
// and three permutes, not three scalar loads and their inserts. Cell-major
// order over a small cell is this case; measured about a third faster at
// 10^5 output rows.
template <bool RowIsLeft>
AK_TARGET_AVX512 void fill_short_run_avx512(const StridedView<double>& outer, const double* run, std::size_t count,
                                            double* out) noexcept {
  const auto lanes = [count](std::size_t from) {
    return static_cast<__mmask8>(count >= from + 8 ? 0xff : count <= from ? 0 : (1u << (count - from)) - 1);
  };
  const __mmask8 m0 = lanes(0), m1 = lanes(8), m2 = lanes(16);
  const __m512d r0 = _mm512_maskz_loadu_pd(m0, run), r1 = _mm512_maskz_loadu_pd(m1, run + 8),
                r2 = _mm512_maskz_loadu_pd(m2, run + 16);
#define AK_ADD(p, r) (RowIsLeft ? _mm512_add_pd(p, r) : _mm512_add_pd(r, p))
  for (std::size_t o = 0; o < outer.rows; ++o) {
    // Lanes 3..7 are masked off: nothing past the row's third column is read.
    const Pattern24 pattern =
        pattern_of(_mm512_maskz_loadu_pd(0x7, outer.data + static_cast<std::ptrdiff_t>(o) * outer.stride0));
    const __m512d p0 = pattern.part[0], p1 = pattern.part[1], p2 = pattern.part[2];
    double* const block = out + count * o;
    if (count == 24) {
      _mm512_storeu_pd(block, AK_ADD(p0, r0));
      _mm512_storeu_pd(block + 8, AK_ADD(p1, r1));
      _mm512_storeu_pd(block + 16, AK_ADD(p2, r2));
    } else {
      _mm512_mask_storeu_pd(block, m0, AK_ADD(p0, r0));
      _mm512_mask_storeu_pd(block + 8, m1, AK_ADD(p1, r1));
      _mm512_mask_storeu_pd(block + 16, m2, AK_ADD(p2, r2));
    }
  }
#undef AK_ADD
}
#endif

// One block on the given path.
template <SimdPath Path, bool RowIsLeft>
inline void add_block_on(double* out, const double* run, std::size_t count, const double (&row)[3]) noexcept {
#if AK_X86_PATHS
  if constexpr (Path == SimdPath::avx512) {
    add_block_avx512<RowIsLeft>(out, run, count, row);
    return;
  } else if constexpr (Path == SimdPath::avx2) {
    add_block_avx2<RowIsLeft>(out, run, count, row);
    return;
  }
#endif
  add_block<RowIsLeft>(out, run, count, row);
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

// Inner rows per tile: a tile of the inner run (6 MiB) stays in the last-level
// cache while every outer row adds itself to it, so a long inner input is read
// from memory once, not once per outer row. Smaller tiles measured slower:
// the output is then written as many interleaved streams, not front to back.
constexpr std::size_t kTileRows = std::size_t{1} << 18;

template <SimdPath Path, bool OuterIsPrim>
void fill(const StridedView<double>& outer, const double* inner_run, std::size_t inner_rows, double* out) noexcept {
#if AK_X86_PATHS
  if constexpr (Path == SimdPath::avx512) {
    if (3 * inner_rows <= 24 && outer.stride1 == static_cast<std::ptrdiff_t>(sizeof(double))) {
      fill_short_run_avx512<OuterIsPrim>(outer, inner_run, 3 * inner_rows, out);
      return;
    }
  }
#endif
  for (std::size_t first = 0; first < inner_rows; first += kTileRows) {
    const std::size_t count = 3 * (inner_rows - first < kTileRows ? inner_rows - first : kTileRows);
    // Block o of this tile starts here; indexed, not stepped, so that no
    // pointer is formed past the end of the output.
    const auto segment = [&](std::size_t o) { return out + 3 * (o * inner_rows + first); };
    std::size_t o = 0;
#if AK_X86_PATHS
    // Two outer rows at a time over a long run: each chunk of it is loaded
    // once for both blocks (atom-major measured about 15% faster so).
    if constexpr (Path == SimdPath::avx512) {
      for (; o + 2 <= outer.rows && count >= 24 * 64; o += 2) {
        const double row0[3] = {outer.get(o, 0), outer.get(o, 1), outer.get(o, 2)};
        const double row1[3] = {outer.get(o + 1, 0), outer.get(o + 1, 1), outer.get(o + 1, 2)};
        add_two_blocks_avx512<OuterIsPrim>(segment(o), segment(o + 1), inner_run + 3 * first, count, row0, row1);
      }
    }
#endif
    for (; o < outer.rows; ++o) {
      const double row[3] = {outer.get(o, 0), outer.get(o, 1), outer.get(o, 2)};
      add_block_on<Path, OuterIsPrim>(segment(o), inner_run + 3 * first, count, row);
    }
  }
}

}  // namespace

OwnedArray<double> make_supercell_positions(const StridedView<double>& prim,
                                            const StridedView<double>& lattice, bool cell_major,
                                            const ArrayStorage& storage, SimdPath path) {
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
  double* const out = result.data();
  const std::size_t inner_rows = inner.rows;
  run_on(path, [&]<SimdPath Path>() {
    if (cell_major) {
      fill<Path, false>(outer, inner_run, inner_rows, out);
    } else {
      fill<Path, true>(outer, inner_run, inner_rows, out);
    }
  });
  return result;
}

}  // namespace ak::cellgeom
