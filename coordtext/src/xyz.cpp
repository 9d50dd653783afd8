#include "xyz.hpp"

#include <cstring>

#include "text/float_parse.hpp"
#include "text/number_format.hpp"
#include "text/tokenizer.hpp"
#include "text/unicode.hpp"

namespace ak::coordtext {
namespace {

constexpr unsigned kCoordWidth = 22;
constexpr unsigned kCoordPrecision = 15;
constexpr std::size_t kSymbolWidth = 2;
constexpr std::size_t kBytesPerLineHint = 75;

Failure cannot_parse(std::string_view token, std::size_t line, const char* reason) {
  std::string message = "XYZ: cannot parse coordinate '";
  message.append(token);
  message += "' on line ";
  message += std::to_string(line);
  message += ": ";
  message += reason;
  return Failure{std::move(message)};
}

}  // namespace

Result<XyzBlock> parse_xyz_block(std::span<const std::string_view> lines) {
  XyzBlock block{{}, OwnedArray<double>(lines.size(), 3)};
  block.symbols.reserve(lines.size());
  double* out = block.positions.data();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text::Tokenizer tokens(lines[i]);
    std::string_view token;
    if (!tokens.next(token)) return Failure{"XYZ: empty line at atom index " + std::to_string(i)};
    block.symbols.push_back(text::normalize_symbol(token));
    for (int column = 0; column < 3; ++column) {
      if (!tokens.next(token)) {
        return Failure{"XYZ: not enough position fields on atom line " + std::to_string(i)};
      }
      if (const char* reason = text::parse_float(token, out[3 * i + column])) {
        return cannot_parse(token, i, reason);
      }
    }
  }
  return block;
}

Result<TextBuffer> format_xyz_block(std::span<const std::string_view> symbols,
                                    const StridedView<double>& positions) {
  const std::size_t n = symbols.size();
  if (n != positions.rows) {
    return Failure{"format_xyz_block_rs: symbols length (" + std::to_string(n) +
                   ") != positions rows (" + std::to_string(positions.rows) + ")"};
  }
  TextBuffer out;
  if (n == 0) return out;
  if (positions.cols < 3) panic(kIndexOutOfBounds);
  out.reserve_items(n, kBytesPerLineHint);
  constexpr std::size_t kNumbers = 3 * (text::fixed_max_len(kCoordWidth, kCoordPrecision) + 1);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string_view symbol = symbols[i];
    char* p = out.ensure(symbol.size() + kSymbolWidth + kNumbers + 1);
    std::memcpy(p, symbol.data(), symbol.size());
    p += symbol.size();
    // The width counts characters; a symbol of more than 4 bytes per missing
    // character is wide enough whatever it holds.
    if (symbol.size() < 4 * kSymbolWidth) {
      for (std::size_t c = text::count_chars(symbol); c < kSymbolWidth; ++c) *p++ = ' ';
    }
    for (std::size_t j = 0; j < 3; ++j) {
      *p++ = ' ';
      p = text::write_fixed(p, positions.get(i, j), kCoordWidth, kCoordPrecision);
    }
    *p++ = '\n';
    out.advance_to(p);
  }
  return out;
}

}  // namespace ak::coordtext
