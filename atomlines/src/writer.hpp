// Renders the atom lines of an extended-XYZ frame from per-kind matrices,
// one line per row of the symbol code-point array, fields in the order of
// the column codes (see reader.hpp for the codes):
//
//   's'  the row's symbol, left-justified to sym_width characters
//   'f'  " %16.8f" of the next float column
//   'i'  " %8d" of the next integer column
//   'b'  "  T" or "  F" of the next boolean column (any non-zero byte is T)
//   any other code writes nothing
//
// Every line ends with "\n". Nothing is ever truncated.
#pragma once

#include <cstdint>
#include <span>

#include "simd_path.hpp"
#include "strided.hpp"
#include "text_buffer.hpp"

namespace ak::atomlines {

// Widest symbol field the renderer accepts.
inline constexpr std::uint64_t kMaxSymbolWidth = 65535;

// The text is appended to `out`. Throws ak::Panic "ndarray: index out of
// bounds" for the first field (rows in order, fields in order within a row)
// whose element lies outside its matrix, and "Formatting argument out of
// range" for the first symbol field when sym_width exceeds kMaxSymbolWidth;
// both before anything is written. Room for the shortest possible text is
// reserved up front, so a block too large for memory fails at once with
// std::bad_alloc. `path` (supported here) picks the code path; every path
// writes the same text.
TextBuffer write_atom_block(const StridedView<std::uint32_t>& sym_codepoints, std::uint64_t sym_width,
                            const StridedView<double>& float_mat, const StridedView<std::int64_t>& int_mat,
                            const StridedView<std::uint8_t>& bool_mat, std::span<const std::uint8_t> col_types,
                            TextBuffer out = TextBuffer(), SimdPath path = best_simd_path());

}  // namespace ak::atomlines
