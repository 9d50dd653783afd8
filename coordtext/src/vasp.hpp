// VASP text blocks: the POSCAR/CONTCAR position block (three coordinates and,
// with selective dynamics, three T/F flags per line) and one XDATCAR frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "failure.hpp"
#include "owned_array.hpp"
#include "simd_path.hpp"
#include "strided.hpp"
#include "text_buffer.hpp"

namespace ak::coordtext {

struct PoscarBlock {
  OwnedArray<double> positions;              // (N, 3)
  std::optional<OwnedArray<std::uint8_t>> flags;  // (N, 3) of 0/1, 1 = frozen ("F"); only when selective
};

// Reads the N position lines of a POSCAR/CONTCAR file, handed over in order
// in chunks: three coordinates, then (when `selective`) up to three flags,
// "T" (free) or "F" (frozen); missing flags read as "T".
class PoscarReader {
 public:
  // The arrays are made in `storage`.
  PoscarReader(std::size_t n_lines, bool selective, const ArrayStorage& storage = kHeapArrays);

  // Reads the next lines. Returns the message of the first malformed line,
  // after which the reader must not be used again.
  std::optional<Failure> read(std::span<const std::string_view> lines);

  // The block, once all N lines were read.
  PoscarBlock take_block() noexcept { return std::move(block_); }

 private:
  PoscarBlock block_;
  std::size_t line_ = 0;
};

// Writes " %19.16f %19.16f %19.16f" per row, plus "   F"/"   T" per flag when
// `flags` (non-zero = frozen) is given, and a newline, appended to `out`;
// flags must have coord's shape. `path` (supported here) picks the code
// path; every path writes the same text.
Result<TextBuffer> format_poscar_positions(const StridedView<double>& coord,
                                           const StridedView<std::uint8_t>* flags,
                                           TextBuffer out = TextBuffer(), SimdPath path = best_simd_path());

// Reads the N coordinate lines of one XDATCAR frame (header line excluded),
// handed over in order in chunks.
class XdatcarReader {
 public:
  // The positions are made in `storage`.
  explicit XdatcarReader(std::size_t n_lines, const ArrayStorage& storage = kHeapArrays);

  // Reads the next lines. Returns the message of the first malformed line,
  // after which the reader must not be used again.
  std::optional<Failure> read(std::span<const std::string_view> lines);

  // The (N, 3) coordinates, once all N lines were read.
  OwnedArray<double> take_positions() noexcept { return std::move(positions_); }

 private:
  OwnedArray<double> positions_;
  std::size_t line_ = 0;
};

// Writes the "Direct configuration=" header with `index`, then "  %11.8f %11.8f %11.8f" per row,
// appended to `out`, on `path` like format_poscar_positions.
TextBuffer format_xdatcar_config(const StridedView<double>& scaled_positions, std::uint64_t index,
                                 TextBuffer out = TextBuffer(), SimdPath path = best_simd_path());

}  // namespace ak::coordtext
