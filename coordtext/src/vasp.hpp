// VASP text blocks: the POSCAR/CONTCAR position block (three coordinates and,
// with selective dynamics, three T/F flags per line) and one XDATCAR frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "failure.hpp"
#include "owned_array.hpp"
#include "strided.hpp"
#include "text_buffer.hpp"

namespace ak::coordtext {

struct PoscarBlock {
  OwnedArray<double> positions;              // (N, 3)
  std::optional<OwnedArray<std::uint8_t>> flags;  // (N, 3) of 0/1, 1 = frozen ("F"); only when selective
};

// Reads N position lines: three coordinates, then (when `selective`) up to
// three flags, "T" (free) or "F" (frozen); missing flags read as "T".
Result<PoscarBlock> parse_poscar_positions(std::span<const std::string_view> lines, bool selective);

// Writes " %19.16f %19.16f %19.16f" per row, plus "   F"/"   T" per flag when
// `flags` (non-zero = frozen) is given, and a newline, appended to `out`;
// flags must have coord's shape.
Result<TextBuffer> format_poscar_positions(const StridedView<double>& coord,
                                           const StridedView<std::uint8_t>* flags,
                                           TextBuffer out = TextBuffer());

// Reads the N coordinate lines of one XDATCAR frame (header line excluded).
Result<OwnedArray<double>> parse_xdatcar_coords(std::span<const std::string_view> lines);

// Writes the "Direct configuration=" header with `index`, then "  %11.8f %11.8f %11.8f" per row,
// appended to `out`.
TextBuffer format_xdatcar_config(const StridedView<double>& scaled_positions, std::uint64_t index,
                                 TextBuffer out = TextBuffer());

}  // namespace ak::coordtext
