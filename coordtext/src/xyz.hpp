// Plain XYZ atom lines: "symbol x y z", one atom per line.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure.hpp"
#include "owned_array.hpp"
#include "strided.hpp"
#include "text_buffer.hpp"

namespace ak::coordtext {

struct XyzBlock {
  std::vector<std::string> symbols;  // normalised, one per line
  OwnedArray<double> positions;      // (N, 3)
};

// Reads N atom lines: the first token is the symbol (normalised to a capital
// first letter), the next three the coordinates; the rest of a line is never
// examined. Fails with the first malformed line's message.
Result<XyzBlock> parse_xyz_block(std::span<const std::string_view> lines);

// Writes one "%-2s %22.15f %22.15f %22.15f\n" line per symbol, appended to
// `out`. The symbol count must equal the row count; a non-empty block needs
// three columns.
Result<TextBuffer> format_xyz_block(std::span<const std::string_view> symbols,
                                    const StridedView<double>& positions, TextBuffer out = TextBuffer());

}  // namespace ak::coordtext
