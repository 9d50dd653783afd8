// Plain XYZ atom lines: "symbol x y z", one atom per line.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "failure.hpp"
#include "owned_array.hpp"
#include "simd_path.hpp"
#include "strided.hpp"
#include "text/interner.hpp"
#include "text_buffer.hpp"

namespace ak::coordtext {

// Reads the N atom lines of one frame, handed over in order in chunks: the
// first token of a line is the symbol (normalised: full lower case, then the
// first character upper-cased), the next three the coordinates; the rest of
// a line is never examined. Symbols come out as ids into symbols(), one per
// distinct normalised symbol.
class XyzReader {
 public:
  // The positions are made in `storage`.
  explicit XyzReader(std::size_t n_lines, const ArrayStorage& storage = kHeapArrays);

  // Reads the next lines.size() lines and stores the id of each line's symbol
  // in symbol_ids[0 .. lines.size()). Returns the message of the first
  // malformed line, after which the reader must not be used again. `path`
  // (supported here) picks the scans' code path; every path reads the same.
  std::optional<Failure> read(std::span<const std::string_view> lines, std::uint32_t* symbol_ids,
                              SimdPath path = best_simd_path());

  const text::TokenInterner& symbols() const noexcept { return symbols_; }
  // The (N, 3) coordinates, once all N lines were read.
  OwnedArray<double> take_positions() noexcept { return std::move(positions_); }

 private:
  OwnedArray<double> positions_;
  std::size_t line_ = 0;
  text::TokenInterner symbols_;
};

// Writes one "%-2s %22.15f %22.15f %22.15f\n" line per symbol, appended to
// `out`. The symbol count must equal the row count; a non-empty block needs
// three columns. `path` (supported here) picks the code path; every path
// writes the same text.
Result<TextBuffer> format_xyz_block(std::span<const std::string_view> symbols,
                                    const StridedView<double>& positions, TextBuffer out = TextBuffer(),
                                    SimdPath path = best_simd_path());

}  // namespace ak::coordtext
