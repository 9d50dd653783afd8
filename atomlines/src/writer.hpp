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

#include "strided.hpp"
#include "text_buffer.hpp"

namespace ak::atomlines {

// Widest symbol field the renderer accepts.
inline constexpr std::uint64_t kMaxSymbolWidth = 65535;

// Throws ak::Panic "ndarray: index out of bounds" at the first field whose
// element lies outside its matrix, and "Formatting argument out of range"
// at the first symbol field when sym_width exceeds kMaxSymbolWidth.
TextBuffer write_atom_block(const StridedView<std::uint32_t>& sym_codepoints, std::uint64_t sym_width,
                            const StridedView<double>& float_mat, const StridedView<std::int64_t>& int_mat,
                            const StridedView<std::uint8_t>& bool_mat, std::span<const std::uint8_t> col_types);

}  // namespace ak::atomlines
